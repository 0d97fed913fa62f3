// A table file as index tests need it: its fields as expression variables
// read from the raw records, and what another engine says of its orders
// (the fixtures' JSON through xbpeer.py).
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Numbers.h"
#include "tests/xbase/ExpLink.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/xb_date.h"
#include "xbase/xb_dbf.h"
#include "xbase/xb_indx.h"

namespace xbtest {

using namespace xbase;

class TDbfIndexTable : public XBobjIndexOwner {
 public:
  explicit TDbfIndexTable(const std::string& path) : Dbf(path, "", false, false) {
    for (int i = 0; i < Dbf.NumFields(); ++i) {
      const XBR_DBFField& f = Dbf.Fields(i);
      switch (f.dbFieldType) {
        case 'C': Vars.push_back(Link.Var(f.dbFieldName, f.Length(), rtText)); break;
        case 'N': Vars.push_back(Link.Var(f.dbFieldName, f.Length(), rtFloat)); break;
        case 'D': Vars.push_back(Link.Var(f.dbFieldName, 8, rtDate)); break;
        case 'L': Vars.push_back(Link.Var(f.dbFieldName, 1, rtBoolean)); break;
        default: Vars.push_back(nullptr); break;
      }
    }
    if (Dbf.NumRecs() > 0) IndexReadRecord(1);
    else Show(std::string(static_cast<size_t>(Dbf.RecLen()), ' '));
  }

  std::string IndexTableFileName() const override { return Dbf.FileName(); }
  TxbExpUserLink* IndexExpLink() override { return &Link; }
  AnsiString IndexAlias() const override { return "T"; }
  int IndexRecordCount() override { return Dbf.NumRecs(); }
  int IndexRecNumber() const override { return Current; }
  bool IndexExactMatch() const override { return ExactMatch; }
  const AnsiString& IndexPasswordIn() const override { return None; }
  const AnsiString& IndexPasswordOut() const override { return None; }
  void IndexReadRecord(int n) override {
    Dbf.xbGetRec(n);
    Current = n;
    Show(std::string(reinterpret_cast<const char*>(Dbf.CurRecord()), static_cast<size_t>(Dbf.RecLen())));
  }
  void IndexStatus(int, int, int) override {}
  bool IndexRecModified() const override { return false; }
  void IndexUseOrigRec(bool) override {}
  std::string IndexTempDir() const override { return {}; }
  void IndexMarkProduction() override { ++ProductionMarks; }

  // The variable of field `name` (nullptr for none).
  TTestVar* Field(const std::string& name) const {
    for (TTestVar* v : Vars)
      if (v && v->FieldVarName() == name) return v;
    return nullptr;
  }

  XBO_dBaseDBF Dbf;
  TTestLink Link;
  std::vector<TTestVar*> Vars;
  int Current = 0;
  bool ExactMatch = false;
  int ProductionMarks = 0;

 private:
  // Puts the fields of the record image `r` into the variables.
  void Show(const std::string& r) {
    for (int i = 0; i < Dbf.NumFields(); ++i) {
      TTestVar* v = Vars[static_cast<size_t>(i)];
      if (!v) continue;
      const XBR_DBFField& f = Dbf.Fields(i);
      std::string text = r.substr(f.dbFieldOffset, static_cast<size_t>(f.Length()));
      std::string trimmed = text;
      trimmed.erase(0, std::min(trimmed.find_first_not_of(' '), trimmed.size()));
      while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
      switch (f.dbFieldType) {
        case 'C': v->Value.PutText(text); break;
        case 'N': v->Value.PutFloat(trimmed.empty() ? 0 : platform::StrToFloat(trimmed)); break;
        case 'D':
          v->Value.PutFloat(trimmed.size() == 8 ? xbDBFDate().MDY2Jul(std::stoi(trimmed.substr(4, 2)),
                                                                      std::stoi(trimmed.substr(6, 2)),
                                                                      std::stoi(trimmed.substr(0, 4)))
                                                : 0);
          break;
        case 'L': v->Value.PutBoolean(trimmed == "T" || trimmed == "t" || trimmed == "Y" || trimmed == "y"); break;
        default: break;
      }
    }
  }

  AnsiString None;
};

// The value of a CDX number or date key (its stored bytes).
inline double CdxNumber(const TxbVariant& key) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 8 | (i < key.SizeVar() ? key.VarBuf()[i] : 0);
  bits = bits >> 63 ? bits & ~(uint64_t{1} << 63) : ~bits;
  return std::bit_cast<double>(bits);
}

// One index order as another engine walked and sought it.
struct THarbourOrder {
  std::string tag;
  int count = 0;
  bool descending = false, unique = false;
  char type = 'C';
  int decimals = 0;
  std::vector<int> recnos;
  std::vector<std::string> keys;  // as xbpeer.py prints them
  struct TSeek {
    std::string key;
    bool soft, last, deletedOn, found, eof;
    int recno;
  };
  std::vector<TSeek> seeks;

  // A key of this order as xbpeer.py prints it.
  std::string KeyText(const TxbVariant& key) const {
    if (type == 'C') return key.SizeVar() == 0 ? "-" : Hex(key.VarBuf(), static_cast<size_t>(key.SizeVar()));
    const double v = CdxNumber(key);
    if (type == 'N') {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
      return buf;
    }
    return v < 0.5 ? "-" : xbDBFDate().DTOS(static_cast<int32_t>(v));
  }
};

inline std::vector<THarbourOrder> HarbourOrders(const std::string& json) {
  std::vector<THarbourOrder> orders;
  for (const std::string& line : Lines(RunOut(kXbPeer + " orders " + Sh(json)))) {
    std::istringstream in(line.substr(2));
    switch (line[0]) {
      case 'O': {
        THarbourOrder o;
        std::string d, u;
        in >> o.tag >> o.count >> d >> u >> o.type >> o.decimals;
        o.descending = d == "1";
        o.unique = u == "1";
        orders.push_back(o);
        break;
      }
      case 'W':
        for (int r; in >> r;) orders.back().recnos.push_back(r);
        break;
      case 'K':
        for (std::string k; in >> k;) orders.back().keys.push_back(k);
        break;
      case 'S': {
        THarbourOrder::TSeek s;
        std::string soft, last, del, found, eof;
        in >> s.key >> soft >> last >> del >> found >> s.recno >> eof;
        s.soft = soft == "1";
        s.last = last == "1";
        s.deletedOn = del == "1";
        s.found = found == "1";
        s.eof = eof == "1";
        orders.back().seeks.push_back(s);
        break;
      }
      default: break;
    }
  }
  return orders;
}

}  // namespace xbtest
