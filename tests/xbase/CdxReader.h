// A reader of CDX files written for the tests from the layout alone,
// independent of the engine's pages. Its walk checks what every writer
// must keep: each interior entry is the last key and record of its child,
// leaves are linked left to right in key order, and counts fit their nodes.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/variant.h"

namespace xbtest {

// The value of a CDX number or date key (its stored bytes).
inline double CdxNumber(const xbase::TxbVariant& key) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 8 | (i < key.SizeVar() ? key.VarBuf()[i] : 0);
  bits = bits >> 63 ? bits & ~(uint64_t{1} << 63) : ~bits;
  return std::bit_cast<double>(bits);
}

struct RawCdxHeader {
  uint32_t root = 0;
  int keyLength = 0;
  int options = 0;
  bool descending = false;
  std::string keyExpr, forExpr, collation;
};

struct RawCdxLeaf {
  int n = 0, space = 0, req = 0, rnBits = 0, dcBits = 0, tcBits = 0;
  uint32_t rnMask = 0;
};

struct RawCdx {
  explicit RawCdx(const std::string& path) : bytes(platform::ReadFileBytes(path)) {}

  const uint8_t* At(size_t offset) const { return reinterpret_cast<const uint8_t*>(bytes.data()) + offset; }
  uint16_t U16(size_t at) const { return xbase::GetLE16(At(at)); }
  uint32_t U32(size_t at) const { return xbase::GetLE32(At(at)); }
  uint32_t BE32(size_t at) const { return xbase::GetBE32(At(at)); }

  RawCdxHeader Header(uint32_t offset) const {
    RawCdxHeader h;
    h.root = U32(offset);
    h.keyLength = U16(offset + 12);
    h.options = *At(offset + 14);
    h.descending = U16(offset + 502) != 0;
    const char* pool = bytes.data() + offset + 512;
    h.keyExpr = pool;
    h.forExpr = pool + U16(offset + 504);
    h.collation = std::string(bytes.data() + offset + 494, 8).c_str();
    return h;
  }

  RawCdxLeaf Leaf(uint32_t node) const {
    RawCdxLeaf l;
    l.n = U16(node + 2);
    l.space = U16(node + 12);
    l.rnMask = U32(node + 14);
    l.rnBits = *At(node + 20);
    l.dcBits = *At(node + 21);
    l.tcBits = *At(node + 22);
    l.req = *At(node + 23);
    return l;
  }

  // The tag directory: name -> header offset, in its order.
  std::vector<std::pair<std::string, uint32_t>> Tags() {
    std::vector<std::pair<std::string, uint32_t>> tags;
    for (auto& [key, rec] : Walk(0, ' ')) tags.emplace_back(key, rec);
    return tags;
  }

  // The keys (pad bytes trimmed) and records of the tag whose header is at
  // `header`, in stored order; fills `depth` and `leaves`.
  std::vector<std::pair<std::string, uint32_t>> Walk(uint32_t header, char pad) {
    kl = Header(header).keyLength;
    pad_ = pad;
    depth = 0;
    leaves.clear();
    std::vector<std::pair<std::string, uint32_t>> out;
    Visit(Header(header).root, 1, out);
    // The leaves' sibling chain runs through them in order.
    for (size_t i = 0; i < leaves.size(); ++i) {
      EXPECT_EQ(U32(leaves[i] + 4), i == 0 ? 0xFFFFFFFFu : leaves[i - 1]) << "left link of " << leaves[i];
      EXPECT_EQ(U32(leaves[i] + 8), i + 1 == leaves.size() ? 0xFFFFFFFFu : leaves[i + 1])
          << "right link of " << leaves[i];
    }
    return out;
  }

  std::string bytes;
  int depth = 0;
  std::vector<uint32_t> leaves;

 private:
  std::string Trim(std::string k) const {
    while (!k.empty() && k.back() == pad_) k.pop_back();
    return k;
  }

  void Visit(uint32_t node, int level, std::vector<std::pair<std::string, uint32_t>>& out) {
    if (level > 64 || node % 512 != 0 || node + 512 > bytes.size()) {
      ADD_FAILURE() << "bad node " << node;
      return;
    }
    depth = std::max(depth, level);
    const int attributes = U16(node), n = U16(node + 2);
    if (attributes & 2) {
      leaves.push_back(node);
      const RawCdxLeaf l = Leaf(node);
      std::string prev(static_cast<size_t>(kl), pad_);
      size_t end = node + 512;
      for (int i = 0; i < n; ++i) {
        uint64_t e = 0;
        for (int b = 0; b < l.req; ++b) e |= uint64_t{*At(node + 24 + i * l.req + b)} << (8 * b);
        const uint32_t rec = static_cast<uint32_t>(e) & l.rnMask;
        const int dup = static_cast<int>((e >> l.rnBits) & ((1u << l.dcBits) - 1));
        const int trail = static_cast<int>((e >> (l.rnBits + l.dcBits)) & ((1u << l.tcBits) - 1));
        const int stored = kl - dup - trail;
        end -= static_cast<size_t>(stored);
        std::string key = prev.substr(0, static_cast<size_t>(dup)) + bytes.substr(end, static_cast<size_t>(stored));
        prev = key + std::string(static_cast<size_t>(trail), pad_);
        out.emplace_back(Trim(key), rec);
      }
      EXPECT_GE(end, node + 24 + static_cast<size_t>(n * l.req)) << "keys overrun entries in " << node;
      EXPECT_EQ(l.space, static_cast<int>(end - node - 24 - static_cast<size_t>(n * l.req))) << node;
      return;
    }
    EXPECT_LE(12 + n * (kl + 8), 512) << node;
    EXPECT_GT(n, 0) << "interior node without keys " << node;
    for (int i = 0; i < n; ++i) {
      const size_t e = node + 12 + static_cast<size_t>(i * (kl + 8));
      const std::string key = Trim(bytes.substr(e, static_cast<size_t>(kl)));
      const uint32_t rec = BE32(e + static_cast<size_t>(kl));
      const size_t before = out.size();
      Visit(BE32(e + static_cast<size_t>(kl) + 4), level + 1, out);
      if (out.size() > before) {
        EXPECT_EQ(out.back().first, key) << "separator of node " << node << " entry " << i;
        EXPECT_EQ(out.back().second, rec) << "separator record of node " << node << " entry " << i;
      }
    }
  }

  int kl = 0;
  char pad_ = ' ';
};

}  // namespace xbtest
