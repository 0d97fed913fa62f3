// A real table as the owner of its index files, for index tests: keys and
// FOR conditions read its fields, and its index files are kept in step
// with its writes as the table handler does on dbPostWrite.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "xbase/index/index_framework.h"
#include "xbase/table/fields.h"

namespace xbtest {

using namespace xbase;

class TIndexedTable : public XBO_dBaseFld, public XBobjIndexOwner {
 public:
  explicit TIndexedTable(const std::string& path, bool readWrite = true) : XBO_dBaseFld(path, "", readWrite, false) {}

  // The index files kept in step.
  std::vector<XBobjIndexFile*> Indexes;

  bool xbDBFEvent(dbFileEvent event, int action) override {
    if (event == dbPostWrite)
      for (XBobjIndexFile* index : Indexes) index->TagUpdate(RecNumber(), action == 0);
    return XBO_dBaseFld::xbDBFEvent(event, action);
  }

  std::string IndexTableFileName() const override { return FileName(); }
  TxbExpUserLink* IndexExpLink() override { return DBFExpLink(); }
  AnsiString IndexAlias() const override { return dAlias(); }
  int IndexRecordCount() override { return NumRecs(); }
  int IndexRecNumber() const override { return RecNumber(); }
  bool IndexExactMatch() const override { return xbvExactMatch(); }
  const AnsiString& IndexPasswordIn() const override { return xbvPasswordIn(); }
  const AnsiString& IndexPasswordOut() const override { return xbvPasswordOut(); }
  void IndexReadRecord(int n) override { xbGetRec(n); }
  void IndexStatus(int stat1, int stat2, int stat3) override { xbStatusLink(stat1, stat2, stat3); }
  bool IndexRecModified() const override { return RecModified(); }
  void IndexUseOrigRec(bool on) override { SetCurRecord(on ? const_cast<uint8_t*>(OrigRec()) : nullptr); }
  std::string IndexTempDir() const override { return xbvTempDir(); }
  bool IndexFieldSize(std::string_view name, int& length, int& decimals) const override {
    const int n = xbFieldNo(name);
    if (n == 0) return false;
    length = xbFieldLength(n);
    decimals = xbFieldDecimals(n);
    return true;
  }
};

}  // namespace xbtest
