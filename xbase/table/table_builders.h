// Table builders: write a new, empty table (and its empty memo file) from
// field definitions.
//
// A builder collects descriptors and, on Complete, writes the table file:
// the 32-byte header, the descriptors, 0x0D, then 0x1A at Location where the
// first record will go (the layout is table/table_file.h's). A memo field (M, B, G)
// also writes an empty memo file (layouts in table/memo_files.h):
//   XBO_DBFBuild    version 0x03, with memo 0x83; ".dbt" of 513 bytes
//   XBO_DB4Build    version 0x03, with memo 0x8B; ".dbt" of 24 bytes
//   XBO_DBFoxBuild  version 0x03, with memo 0xF5; ".fpt" of 512 bytes
// The memo file's extension takes the case of the table's (t.dbf has t.dbt,
// T.DBF has T.DBT), as other programs on Linux look for it.
// A definition the header cannot hold (a record or header over 65,535
// bytes, a non-text field longer than 255 or with more than 255 decimals, a
// text field over 65,535) or a type character that is blank, a control or
// not ASCII raises 65210 before any file is touched.
//
// One user at a time; not thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/CodePage.h"
#include "xbase/base/disk_file.h"
#include "xbase/base/utilities.h"
#include "xbase/table/table_file.h"

namespace platform {
class TReplaceFile;
}

namespace xbase {

using platform::AnsiString;

class XBO_DBFBuild : public TxbCollection<XBR_DBFField> {
 public:
  // `fileName` gets ".DBF" when it has no extension. No file is touched.
  explicit XBO_DBFBuild(const std::string& fileName);
  // Completes the table unless it was completed already, GoodToGo was
  // cleared, or the builder is being abandoned by an exception; errors are
  // swallowed here (call Complete to see them).
  ~XBO_DBFBuild() override;

  // Appends a field: the name upper-cased and cut to 10 characters, the
  // type the first letter of `typ` upper-cased. M, B, G are 10 bytes (and
  // make a memo file), D 8, L 1; C takes `len` up to 65,535 (its high byte
  // goes into the decimals byte; `dec` is ignored); others take `len` and
  // `dec` as given. An empty name is ignored. A definition the header
  // cannot hold raises 65210 and clears GoodToGo.
  virtual void InsertField(const AnsiString& name, std::string_view typ, int len, int dec);
  // When GoodToGo: writes the table and, with a memo field, the memo file.
  // Both are written beside their names and take them only once complete
  // (the memo file first): a failure leaves a table of that name, and its
  // memo file, as they were. A table another program holds open raises
  // 65171; a file that cannot be made 65172.
  virtual void Complete();

  // The table is written scrambled under `password` ("" plain, the
  // default), as setting that password on the empty table would leave it;
  // Complete then refuses (65210) fields a scrambled table cannot hold,
  // by the rule its open checks them with (ReadDescriptors).
  void SetPassword(const AnsiString& password) { password_ = password; }

  bool GoodToGo() const { return GoodToGo_; }
  void SetGoodToGo(bool v) { GoodToGo_ = v; }
  // Complete has written the table.
  bool Completed() const { return dFile_ != nullptr; }
  const std::string& FileName() const { return FileName_; }
  bool hasMemo() const { return hasMemo_; }
  // The record length so far (the deletion flag's byte included).
  int dbRecLen() const { return dbRecLen_; }

 protected:
  virtual void WriteDBF();
  virtual void WriteDBT();
  // The table file as WriteDBF writes it.
  std::string TableImage() const;
  // The destructor's Complete. Each class that overrides WriteDBT calls it
  // in its own destructor, while its override is still there to call.
  void FinishOnDestroy() noexcept;
  // Writes `bytes` as the new memo file `name` (put in place by Complete).
  void WriteMemoFile(const std::string& name, const std::string& bytes);

  uint8_t dbTypeNoMo = 0x03;
  uint8_t dbTypeMemo = 0x83;

 private:
  std::unique_ptr<XBO_DiskFile> dFile_;
  std::unique_ptr<platform::TReplaceFile> memo_;
  std::string FileName_;
  AnsiString password_;
  bool hasMemo_ = false;
  int dbRecLen_ = 1;
  bool GoodToGo_ = true;
  int uncaught_ = 0;  // exceptions in flight when the builder was made
};

// dBase IV: version 0x8B with a memo.
class XBO_DB4Build : public XBO_DBFBuild {
 public:
  explicit XBO_DB4Build(const std::string& fileName);
  ~XBO_DB4Build() override;

 protected:
  void WriteDBT() override;
};

// FoxPro: version 0xF5 with a memo.
class XBO_DBFoxBuild : public XBO_DBFBuild {
 public:
  explicit XBO_DBFoxBuild(const std::string& fileName);
  ~XBO_DBFoxBuild() override;

 protected:
  void WriteDBT() override;
};

// Asked for field FldNo = 1, 2, 3, ...: true with a name defines that field
// (name s, type t, length l, decimals d); true with an empty name ends the
// list and the table is written; false abandons it.
using dbInsertFieldProc = std::function<bool(int FldNo, AnsiString& s, char& t, int& l, int& d)>;

// Creates table `fname` of kind `ftype` ('3' or 'C' dBase III, '4' or '5'
// dBase IV, 'F' FoxPro) with the fields `fproc` supplies, scrambled under
// `password` when one is given. True when the table was written; false for
// an unknown kind, an abandoned list, or any error (nothing is written
// unless the list ended normally).
bool CreateDBF(const std::string& fname, char ftype, const dbInsertFieldProc& fproc, const AnsiString& password = {});

}  // namespace xbase
