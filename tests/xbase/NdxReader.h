// Views of NDX files from outside the engine: a reader written for the
// tests from the layout alone (it walks the tree from the header and checks
// that every node of k keys has k + 1 children), the listing of a peer
// reader, and the byte-range locks another descriptor meets.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "tests/xbase/CommandOutput.h"
#include "xbase/base/byte_order.h"

namespace xbtest {

// Perl XBase's index_dump listing of an NDX file as (key, record); the key
// loses its padding.
inline std::vector<std::pair<std::string, int>> PeerListing(const std::string& path) {
  std::vector<std::pair<std::string, int>> keys;
  std::istringstream in(CommandOutput("index_dump --tag x '" + path + "' 2>&1"));
  for (std::string line; std::getline(in, line);) {
    const size_t cut = line.find_last_of(' ');
    std::string key = line.substr(0, cut);
    key.erase(key.find_last_not_of(' ') + 1);
    keys.emplace_back(key, std::stoi(line.substr(cut + 1)));
  }
  return keys;
}

// A write lock over [pos, pos + len) through a new open file description
// of `path`: F_OFD_GETLK asks what another lock there is (the descriptor
// is closed at once), F_OFD_SETLK takes one (the caller closes the
// descriptor returned to release it).
inline int LockProbe(const std::string& path, int64_t pos, int64_t len, int command, struct flock& fl) {
  const int fd = ::open(path.c_str(), O_RDWR);
  fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = pos;
  fl.l_len = len;
  EXPECT_EQ(fcntl(fd, command, &fl), 0);
  return fd;
}

// The lock another descriptor of `path` meets over [pos, pos + len), as
// "start+length", or "" when the range is free.
inline std::string LockSeenAt(const std::string& path, int64_t pos, int64_t len) {
  struct flock fl;
  ::close(LockProbe(path, pos, len, F_OFD_GETLK, fl));
  return fl.l_type == F_UNLCK ? "" : std::to_string(fl.l_start) + "+" + std::to_string(fl.l_len);
}

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

  // The leaf entries in order; fills `leaves`, `depth` and `keyless`.
  std::vector<RawEntry> Walk() {
    leaves.clear();
    depth = keyless = 0;
    std::vector<RawEntry> out;
    Visit(U32(0), 1, out);
    return out;
  }

  std::string bytes;
  std::vector<std::vector<RawEntry>> leaves;
  int depth = 0;
  int keyless = 0;  // blocks below the root without a key (a node's pointer alone)

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
    if (level > 1 && k == 0) ++keyless;
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
