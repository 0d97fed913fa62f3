// A stand-in table for index tests: the fields NA (text), AU (number) and
// BD (date) whose values the test sets, records kept in memory, and the
// passwords pages are scrambled with.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/xbase/ExpLink.h"
#include "xbase/base/dates.h"
#include "xbase/index/index_framework.h"

namespace xbtest {

class TIndexTable : public XBobjIndexOwner {
 public:
  // A table file `path` (not made: only its folder counts) whose NA field
  // holds `naLength` characters.
  explicit TIndexTable(std::string path, int naLength = 120) : Path(std::move(path)), NaLength(naLength) {
    NA = Link.Text("NA", std::string(static_cast<size_t>(naLength), ' '));
    AU = Link.Number("AU", 0);
    BD = Link.Var("BD", 8, rtDate);
    BD->Value.PutFloat(0);
  }

  // One record: the values its fields hold.
  struct Record {
    std::string na;
    double au = 0;
    double bd = 0;
  };

  std::string IndexTableFileName() const override { return Path; }
  TxbExpUserLink* IndexExpLink() override { return &Link; }
  AnsiString IndexAlias() const override { return "T"; }
  int IndexRecordCount() override { return static_cast<int>(Records.size()); }
  int IndexRecNumber() const override { return Current; }
  bool IndexExactMatch() const override { return ExactMatch; }
  const AnsiString& IndexPasswordIn() const override { return PasswordIn; }
  const AnsiString& IndexPasswordOut() const override { return PasswordOut; }
  void IndexReadRecord(int n) override {
    Current = n;
    Show(Records[static_cast<size_t>(n - 1)]);
  }
  void IndexStatus(int, int, int) override { ++StatusCalls; }
  bool IndexRecModified() const override { return Modified; }
  void IndexUseOrigRec(bool on) override { Show(on ? Orig : Buffer); }
  std::string IndexTempDir() const override { return TempDir; }
  void IndexMarkProduction() override { ++ProductionMarks; }

  // Puts `r` in the record buffer (what expressions read).
  void Load(const Record& r) {
    Buffer = r;
    Show(r);
  }

  // The record writes a table makes, with the index file `f` kept in step.
  void Append(XBobjIndexFile& f, const Record& r) {
    Records.push_back(r);
    Current = static_cast<int>(Records.size());
    Load(r);
    Modified = true;
    f.TagUpdate(Current, true);
    Modified = false;
  }
  void Rewrite(XBobjIndexFile& f, int rec, const Record& r) {
    Orig = Records[static_cast<size_t>(rec - 1)];
    Records[static_cast<size_t>(rec - 1)] = r;
    Current = rec;
    Load(r);
    Modified = true;
    f.TagUpdate(rec, false);
    Modified = false;
  }

  std::string Path;
  int NaLength;
  TTestLink Link;
  TTestVar* NA;
  TTestVar* AU;
  TTestVar* BD;
  std::vector<Record> Records;
  Record Buffer, Orig;
  int Current = 0;
  bool Modified = false;
  bool ExactMatch = false;
  AnsiString PasswordIn, PasswordOut;
  std::string TempDir;
  int StatusCalls = 0;
  int ProductionMarks = 0;

 private:
  void Show(const Record& r) {
    std::string na = r.na;
    na.resize(static_cast<size_t>(NaLength), ' ');
    NA->Value.PutText(na);
    AU->Value.PutFloat(r.au);
    BD->Value.PutFloat(r.bd);
  }
};

// Adds a key with its record number, adjusted as a computed key would be;
// the result of KeyAdd.
inline bool AddText(XBobjIndexTag& tag, const std::string& text, int rec) {
  XBobjIndexKeyData k;
  k.PutString(text);
  k.Tag = rec;
  tag.AdjustValue(k, true);
  return tag.KeyAdd(k);
}

inline bool AddNumber(XBobjIndexTag& tag, double value, int rec) {
  XBobjIndexKeyData k;
  k.PutFloat(value);
  k.Tag = rec;
  tag.AdjustValue(k, true);
  return tag.KeyAdd(k);
}

// Removes the entry of `text` for record `rec`; false when there is none.
inline bool DeleteText(XBobjIndexTag& tag, const std::string& text, int rec) {
  XBobjIndexKeyData k;
  k.PutString(text);
  k.Tag = rec;
  if (!tag.SeekEntry(k)) return false;
  tag.DeleteCurrentKey();
  return true;
}

inline bool DeleteNumber(XBobjIndexTag& tag, double value, int rec) {
  XBobjIndexKeyData k;
  k.PutFloat(value);
  k.Tag = rec;
  if (!tag.SeekEntry(k)) return false;
  tag.DeleteCurrentKey();
  return true;
}

// Every key of a tag in order (or in reverse), as (key text, record); a
// numeric key's text is its value printed by GetString.
inline std::vector<std::pair<std::string, int>> Walk(XBobjIndexTag& tag, bool forward = true) {
  std::vector<std::pair<std::string, int>> keys;
  for (bool more = forward ? tag.ReadTopKey() : tag.ReadBottomKey(); more;
       more = forward ? tag.ReadNextKey() : tag.ReadPreviousKey())
    keys.emplace_back(tag.CurKeyInfo().GetString(), tag.CurKeyInfo().Tag);
  return keys;
}

}  // namespace xbtest
