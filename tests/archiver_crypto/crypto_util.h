// Helpers of the crypto tests (GoogleTest): random data of the sizes that find block and
// padding faults, random split points, hex text, and running a peer
// (Python or a command) once for a whole batch of cases.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/crypto/ZACipher.h"
#include "tests/platform/TempDir.h"

namespace crypto_test {

using Bytes = std::vector<uint8_t>;

// Around every block and padding boundary of 16- and 64-byte blocks, and one
// long odd size.
inline const std::vector<size_t>& PeerSizes() {
  static const std::vector<size_t> s{0, 1, 15, 16, 17, 55, 56, 63, 64, 65, 128, 129, (1u << 20) + 7};
  return s;
}

inline Bytes RandomData(size_t n, uint32_t seed) {
  std::mt19937 g(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(g());
  return b;
}

// Sorted cut points in (0, n) that split n bytes into up to `pieces` parts.
inline std::vector<size_t> RandomCuts(size_t n, int pieces, uint32_t seed) {
  std::mt19937 g(seed);
  std::vector<size_t> cuts{0};
  for (int i = 1; i < pieces && n > 1; ++i) cuts.push_back(1 + g() % (n - 1));
  cuts.push_back(n);
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

// Runs `f` on the AES instructions (where the processor has them) and on
// the table code.
inline void OnBothPaths(const std::function<void()>& f) {
  struct Reset {
    ~Reset() { archiver::crypto::TCipher_Rijndael::ForcePortable(false); }
  } reset;
  for (bool portable : {false, true}) {
    if (!portable && !archiver::crypto::TCipher_Rijndael::HardwareAvailable()) continue;
    SCOPED_TRACE(portable ? "table code" : "AES instructions");
    archiver::crypto::TCipher_Rijndael::ForcePortable(portable);
    ASSERT_EQ(archiver::crypto::TCipher_Rijndael::HardwareActive(), !portable);
    f();
  }
}

inline std::string Hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}
inline std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }
inline std::string Hex(const std::string& b) { return Hex(reinterpret_cast<const uint8_t*>(b.data()), b.size()); }

inline Bytes Unhex(const std::string& h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return b;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// The standard output of a shell command; "<failed>" when it does not exit 0.
inline std::string RunCmd(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return "<failed>";
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return ::pclose(p) == 0 ? out : "<failed>";
}

// Runs a Python program with Debian's interpreter (whose modules the peers
// are) and returns its output lines.
inline std::vector<std::string> RunPython(const std::string& program) {
  ::TempDir dir;
  WriteFile(dir / "peer.py", program);
  std::istringstream out(RunCmd("/usr/bin/python3 " + (dir / "peer.py")));
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

}  // namespace crypto_test
