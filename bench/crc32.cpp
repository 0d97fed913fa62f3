// BENCH_LIBS: archiver
// CRC-32, the traditional cipher and wildcard matching: throughput of the
// archiver's routines, with CRC-32 compared to zlib's crc32 in the same run.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "archiver/ZAStrFunc.h"
#include "archiver/ZAZipCrypt.h"

namespace {

using bench::BestSeconds;

volatile uint32_t g_sink;

}  // namespace

int main() {
  const size_t kSize = 64u << 20;
  std::vector<uint8_t> data(kSize);
  std::mt19937 gen(1);
  for (auto& b : data) b = static_cast<uint8_t>(gen());
  const double mib = static_cast<double>(kSize) / (1 << 20);
  g_sink = archiver::ZACrc32(data.data(), kSize);  // warm-up: caches and clock

  const double ours = BestSeconds(5, [&] {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t off = 0; off < kSize; off += 1 << 20) archiver::ZAUpdateCrc32(data.data() + off, 1 << 20, reg);
    g_sink = ~reg;
  });
  const double zlib = BestSeconds(5, [&] {
    uLong c = crc32(0, Z_NULL, 0);
    for (size_t off = 0; off < kSize; off += 1 << 20) c = crc32(c, data.data() + off, 1 << 20);
    g_sink = static_cast<uint32_t>(c);
  });
  const double bytewise = BestSeconds(3, [&] {
    uint32_t reg = 0xFFFFFFFFu;
    for (uint8_t b : data) reg = archiver::ZACrc32Step(reg, b);
    g_sink = ~reg;
  });
  std::printf("crc32 archiver   %8.0f MiB/s\n", mib / ours);
  std::printf("crc32 zlib       %8.0f MiB/s\n", mib / zlib);
  std::printf("crc32 byte loop  %8.0f MiB/s (the table rule one byte at a time)\n", mib / bytewise);
  std::printf("crc32 ratio archiver/zlib time: %.2f\n", ours / zlib);

  const double crypt = BestSeconds(3, [&] {
    archiver::ZAZipCryptKeys k;
    archiver::ZAZipCryptInitKeys("password", k);
    archiver::ZAZipCryptEncryptBuffer(static_cast<int64_t>(kSize), 0, data.data(), k);
    g_sink = k.Key2;
  });
  std::printf("zipcrypt encrypt %8.0f MiB/s\n", mib / crypt);

  // Masks against 600,000 item names, as a search over a large collection.
  std::vector<std::string> names;
  for (int i = 0; i < 600000; ++i) names.push_back("lib/" + std::to_string(100000 + i) + (i % 3 ? ".fb2" : ".fb2.zip"));
  for (const char* mask : {"*.fb2", "lib/1234*.fb2", "*.*", "*1*2*3*4*.fb2"}) {
    size_t hits = 0;
    const double t = BestSeconds(3, [&] {
      hits = 0;
      for (const auto& n : names) hits += archiver::MatchesWildcard(n, mask, true);
    });
    std::printf("wildcard %-16s %6.0f ns/name (%zu hits)\n", mask, t * 1e9 / names.size(), hits);
  }
  std::string pathological;
  for (int i = 0; i < 40; ++i) pathological += "*a";
  const std::string name = std::string(80, 'a') + "b";
  const double t = BestSeconds(3, [&] { g_sink = archiver::MatchesWildcard(name, pathological, false); });
  std::printf("wildcard 40 x \"*a\" vs 80 a + b: %.1f us\n", t * 1e6);
  return 0;
}
