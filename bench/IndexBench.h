// Tables of the index benchmarks: a stand-in book table of one numeric
// field AU, N(10,0), whose values are held in memory, so that the figures
// are the index's own; the same as a table file; builds and finds through
// the table handler.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchUtil.h"
#include "xbase/expr/expression.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/index_framework.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

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

// A new table file at `path` of one field AU holding `values`, one record
// each: N(10,0), or with `text` C(10) of the value's ten digits with
// leading zeros (so that the keys of either order alike and the trees are
// of one shape).
inline void WriteNumberTable(const std::string& path, const std::vector<double>& values, bool text = false) {
  {
    XBO_DBFBuild b(path);
    b.InsertField("AU", text ? "C" : "N", 10, 0);
    b.Complete();
  }
  XBO_dBaseDBF t(path, "", true, false);
  t.xbFLock();
  char field[16];
  for (double v : values) {
    std::snprintf(field, sizeof field, text ? " %010.0f" : " %10.0f", v);
    std::memcpy(t.CurRecord(), field, 11);
    t.xbAppend();
  }
  t.xbLockOff();
}

// A fresh folder `name` in the temporary folder holding bo.dbf: `records`
// records of values from 1 to `values` drawn from `gen`.
struct TNumberTable {
  std::filesystem::path dir;
  std::string table;
  std::vector<double> values;
};

inline TNumberTable MakeNumberTable(const std::string& name, std::mt19937& gen, int records, int values) {
  TNumberTable t;
  t.values.resize(static_cast<size_t>(records));
  for (double& v : t.values) v = 1 + gen() % static_cast<unsigned>(values);
  t.dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(t.dir);
  std::filesystem::create_directories(t.dir);
  t.table = (t.dir / "bo.dbf").string();
  WriteNumberTable(t.table, t.values);
  return t;
}

// The best time of three std::sort runs over byte forms of `form` bytes
// each, laid one after another in `forms`, compared as bytes: what a key
// sorter's work is measured against.
inline double SortFormsSeconds(const std::vector<uint8_t>& forms, size_t form) {
  const size_t n = forms.size() / form;
  return BestSeconds(3, [&] {
    std::vector<const uint8_t*> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = forms.data() + i * form;
    std::sort(order.begin(), order.end(),
              [form](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, form) < 0; });
  });
}

// SortFormsSeconds over the forms a bulk build sorts for `values`: each
// value's key of `keyBytes` bytes as `encode` writes it, then its record
// number (i + 1) big-endian.
template <class Encode>
double SortKeyFormsSeconds(const std::vector<double>& values, size_t keyBytes, Encode encode) {
  const size_t form = keyBytes + 4;
  std::vector<uint8_t> forms(values.size() * form);
  for (size_t i = 0; i < values.size(); ++i) {
    uint8_t* f = forms.data() + i * form;
    encode(values[i], f);
    const uint32_t rec = static_cast<uint32_t>(i + 1);
    for (int b = 0; b < 4; ++b) f[keyBytes + b] = static_cast<uint8_t>(rec >> (24 - 8 * b));
  }
  return SortFormsSeconds(forms, form);
}

// The best time of three builds of tag `tag` on AU into the new index
// file `index` through the table handler.
inline double BuildSeconds(XBO_dBHandler& t, const std::string& index, const AnsiString& tag) {
  return BestSeconds(3, [&] {
    std::filesystem::remove(index);
    t.xbIndexTo(index, tag, "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  });
}

// Microseconds per find (xbFind) on the active tag of `probes` random
// values from 1 to `values`, each given as `text(value)` (by default its
// digits), the best of three runs; `found` counts the ones found.
template <class Text>
double FindMicros(XBO_dBHandler& t, std::mt19937& gen, int values, int probes, int& found, Text text) {
  std::vector<std::string> keys(static_cast<size_t>(probes));
  for (std::string& k : keys) k = text(1 + gen() % static_cast<unsigned>(values));
  const double s = BestSeconds(3, [&] {
    found = 0;
    for (const std::string& k : keys)
      if (t.xbFind(k)) ++found;
  });
  return s * 1e6 / probes;
}
inline double FindMicros(XBO_dBHandler& t, std::mt19937& gen, int values, int probes, int& found) {
  return FindMicros(t, gen, values, probes, found, [](unsigned v) { return std::to_string(v); });
}

}  // namespace bench
