// Tables of the index benchmarks: a stand-in book table of one numeric
// field AU, N(10,0), whose values are held in memory, so that the figures
// are the index's own; and the same as a table file.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/xb_build.h"
#include "xbase/xb_dbf.h"
#include "xbase/xb_exp.h"
#include "xbase/xb_indx.h"

namespace bench {

using namespace xbase;

// The field AU of the current record.
class TAuthorField : public TxbUserDefFieldVar {
 public:
  explicit TAuthorField(const double* value) : TxbUserDefFieldVar("AU", 10), value_(value) {}
  int FieldVarType() const override { return etDataField; }
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutFloat(*value_);
    ExpResult = rtFloat;
  }

 private:
  const double* value_;
};

class TBookTable : public XBobjIndexOwner {
 public:
  TBookTable(std::string path, std::vector<double> authors) : path_(std::move(path)), authors_(std::move(authors)) {
    link_.RegisterFieldVar(std::make_unique<TAuthorField>(&current_));
  }
  std::string IndexTableFileName() const override { return path_; }
  TxbExpUserLink* IndexExpLink() override { return &link_; }
  AnsiString IndexAlias() const override { return "BO"; }
  int IndexRecordCount() override { return static_cast<int>(authors_.size()); }
  int IndexRecNumber() const override { return rec_; }
  bool IndexExactMatch() const override { return false; }
  const AnsiString& IndexPasswordIn() const override { return none_; }
  const AnsiString& IndexPasswordOut() const override { return none_; }
  void IndexReadRecord(int n) override {
    rec_ = n;
    current_ = authors_[static_cast<size_t>(n - 1)];
  }
  void IndexStatus(int, int, int) override {}
  bool IndexRecModified() const override { return false; }
  void IndexUseOrigRec(bool) override {}
  std::string IndexTempDir() const override { return {}; }
  bool IndexFieldSize(std::string_view name, int& length, int& decimals) const override {
    if (name != "AU" && name != "au") return false;
    length = 10;
    decimals = 0;
    return true;
  }
  const std::vector<double>& Authors() const { return authors_; }

 private:
  std::string path_;
  std::vector<double> authors_;
  TxbExpUserLink link_;
  double current_ = 0;
  int rec_ = 0;
  AnsiString none_;
};

// A new table file at `path` of one field AU N(10,0) holding `values`, one
// record each.
inline void WriteNumberTable(const std::string& path, const std::vector<double>& values) {
  {
    XBO_DBFBuild b(path);
    b.InsertField("AU", "N", 10, 0);
    b.Complete();
  }
  XBO_dBaseDBF t(path, "", true, false);
  char field[16];
  for (double v : values) {
    std::snprintf(field, sizeof field, " %10.0f", v);
    std::memcpy(t.CurRecord(), field, 11);
    t.xbAppend();
  }
}

}  // namespace bench
