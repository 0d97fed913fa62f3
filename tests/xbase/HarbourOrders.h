// What another engine says of the index orders of its fixture tables (the
// fixtures' JSON through xbpeer.py): walks, keys and seeks.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tests/xbase/TableUtil.h"

namespace xbtest {

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
};

// The orders of the fixture whose JSON is `json`, in its order numbering.
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
