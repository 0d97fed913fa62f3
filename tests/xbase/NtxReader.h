// A reader of NTX trees written for the tests from the layout alone,
// independent of the engine's pages: it walks a tree in key order (child 0,
// key 0, child 1, ..., child k) through each page's item offsets, and
// reports what breaks the format's rules.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "xbase/base/byte_order.h"

namespace xbtest {

struct RawNtx {
  // The file's bytes (or a built image: header page 0 may be blank when
  // the caller gives the tree's parameters to Walk).
  std::string bytes;
  // Bytes kept of each 1024-byte page (an image of the used starts of pages
  // keeps fewer).
  size_t stride = 1024;
  // What the walk found.
  std::vector<std::pair<std::string, int>> keys;  // key bytes as stored, record
  std::vector<int> records;                        // the records alone, when !withKeys
  bool withKeys = true;
  int depth = 0;
  int pages = 0;
  std::vector<int> leafCounts;  // keys of each leaf, in order
  int keyless = 0;              // pages below the root without a key
  std::string error;            // the first rule broken; "" for none

  RawNtx() = default;
  explicit RawNtx(const std::string& path) : bytes(platform::ReadFileBytes(path)) {}

  uint16_t U16(size_t at) const { return xbase::GetLE16(P(at)); }
  uint32_t U32(size_t at) const { return xbase::GetLE32(P(at)); }
  std::string Page(uint32_t offset) const { return bytes.substr(offset / 1024 * stride, stride); }

  // Walks the tree the header describes.
  bool Walk(bool strict = false) { return Walk(U32(4), U16(14), U16(18), strict); }
  // Walks the tree at `root`. `strict`, for built trees: every leaf at one
  // depth and no node without a key.
  bool Walk(uint32_t root, int keyLength, int maxKeys, bool strict) {
    keys.clear();
    records.clear();
    leafCounts.clear();
    error.clear();
    depth = pages = keyless = 0;
    seen_.assign(bytes.size() / stride + 1, 0);
    keyLength_ = keyLength;
    max_ = maxKeys;
    strict_ = strict;
    Visit(root, 1);
    return error.empty();
  }

  // The keys without their trailing blanks.
  std::vector<std::pair<std::string, int>> TrimmedKeys() const {
    auto out = keys;
    for (auto& [k, rec] : out) k.erase(k.find_last_not_of(' ') + 1);
    return out;
  }

 private:
  const uint8_t* P(size_t at) const { return reinterpret_cast<const uint8_t*>(bytes.data()) + at; }

  void Fail(const std::string& what) {
    if (error.empty()) error = what;
  }

  void Visit(uint32_t offset, int level) {
    if (!error.empty()) return;
    if (level > 64 || offset < 1024 || offset % 1024 != 0 || (size_t{offset} / 1024 + 1) * stride > bytes.size() ||
        seen_[offset / 1024]++ != 0)
      return Fail("bad page " + std::to_string(offset));
    ++pages;
    const uint8_t* p = P(offset / 1024 * stride);
    const int k = xbase::GetLE16(p);
    const int el = keyLength_ + 8;
    if (k > max_) return Fail("page " + std::to_string(offset) + " holds " + std::to_string(k));
    auto item = [&](int i) -> const uint8_t* {
      const int at = xbase::GetLE16(p + 2 + 2 * i);
      if (at < 2 + (max_ + 1) * 2 || static_cast<size_t>(at + el) > stride) return nullptr;
      return p + at;
    };
    const uint8_t* first = item(0);
    if (!first) return Fail("bad item offset in " + std::to_string(offset));
    const bool node = xbase::GetLE32(first) != 0;
    if (level > 1 && k == 0) ++keyless;
    if (!node) {
      if (depth == 0) depth = level;
      if (strict_ && depth != level) Fail("leaves at depths " + std::to_string(depth) + " and " + std::to_string(level));
      leafCounts.push_back(k);
    } else if (strict_ && k == 0) {
      Fail("keyless node " + std::to_string(offset));
    }
    for (int i = 0; i <= k; ++i) {
      const uint8_t* it = item(i);
      if (!it) return Fail("bad item offset in " + std::to_string(offset));
      const uint32_t child = xbase::GetLE32(it);
      if (node && child == 0) return Fail("node " + std::to_string(offset) + " lacks child " + std::to_string(i));
      if (!node && i < k && child != 0) return Fail("leaf " + std::to_string(offset) + " has a child");
      if (node) Visit(child, level + 1);
      if (i >= k) continue;
      const int rec = static_cast<int>(xbase::GetLE32(it + 4));
      if (withKeys) {
        keys.emplace_back(std::string(reinterpret_cast<const char*>(it + 8), static_cast<size_t>(keyLength_)), rec);
      } else {
        records.push_back(rec);
      }
    }
  }

  std::vector<uint8_t> seen_;  // per page: visited
  int keyLength_ = 0, max_ = 0;
  bool strict_ = false;
};

}  // namespace xbtest
