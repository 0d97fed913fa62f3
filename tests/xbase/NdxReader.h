// A reader of NDX files written for the tests from the layout alone,
// independent of the engine's pages: it walks the tree from the header and
// checks that every node of k keys has k + 1 children.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "xbase/xb_bytes.h"

namespace xbtest {

inline const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct RawEntry {
  std::string key;    // text keys, without trailing blanks
  double number = 0;  // numeric and date keys
  int rec = 0;
};

struct RawNdx {
  explicit RawNdx(const std::string& path) : bytes(platform::ReadFileBytes(path)) {}

  uint32_t U32(size_t at) const { return xbase::GetLE32(Bytes(bytes) + at); }
  uint16_t U16(size_t at) const { return xbase::GetLE16(Bytes(bytes) + at); }
  std::string Block(uint32_t n) const { return bytes.substr(size_t{n} * 512, 512); }

  // The leaf entries in order; fills `leaves` and `depth`.
  std::vector<RawEntry> Walk() {
    leaves.clear();
    depth = 0;
    std::vector<RawEntry> out;
    Visit(U32(0), 1, out);
    return out;
  }

  std::string bytes;
  std::vector<std::vector<RawEntry>> leaves;
  int depth = 0;

 private:
  void Visit(uint32_t block, int level, std::vector<RawEntry>& out) {
    if (level > 64 || (size_t{block} + 1) * 512 > bytes.size()) {
      ADD_FAILURE() << "bad block " << block;
      return;
    }
    const std::string page = Block(block);
    const uint8_t* p = Bytes(page);
    const int k = xbase::GetLE16(p);
    const int el = U16(18), keyLength = U16(12);
    const bool numeric = U16(16) != 0;
    if (xbase::GetLE32(p + 4) != 0) {
      for (int i = 0; i <= k; ++i) {
        const uint32_t child = xbase::GetLE32(p + 4 + i * el);
        if (child == 0) ADD_FAILURE() << "node " << block << " has no child " << i << " of " << k + 1;
        Visit(child, level + 1, out);
      }
      return;
    }
    depth = std::max(depth, level);
    std::vector<RawEntry> leaf;
    for (int i = 0; i < k; ++i) {
      const uint8_t* e = p + 4 + i * el;
      RawEntry r;
      r.rec = static_cast<int>(xbase::GetLE32(e + 4));
      if (numeric) {
        r.number = xbase::GetLEDouble(e + 8);
      } else {
        r.key.assign(reinterpret_cast<const char*>(e + 8), static_cast<size_t>(keyLength));
        r.key.erase(r.key.find_last_not_of(' ') + 1);
      }
      leaf.push_back(r);
      out.push_back(r);
    }
    leaves.push_back(leaf);
  }
};

}  // namespace xbtest
