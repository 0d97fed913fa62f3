// BENCH_LIBS: xbase platform
// The engine's disk file: 1,000,000 reads and 1,000,000 writes of 441-byte
// records at random record positions through XBO_DiskFile::xbRead/xbWrite,
// and the same through plain pread/pwrite on one descriptor, in one run.
// The ratio is plain time / engine time (1.0 = no cost of its own).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "platform/Files.h"
#include "xbase/base/disk_file.h"

namespace {

constexpr int kRecLen = 441;
constexpr int kRecords = 100000;  // a 44 MB table, in the page cache
constexpr int kOps = 1000000;

std::vector<int64_t> Positions() {
  std::mt19937 gen(5);
  std::vector<int64_t> pos(kOps);
  for (auto& p : pos) p = 32 + int64_t{kRecLen} * static_cast<int64_t>(gen() % kRecords);
  return pos;
}

}  // namespace

int main() {
  const std::string dir = platform::CreateTempFolder(platform::SystemTempDir(), "xbdisk");
  const std::string path = dir + "/bench.dbf";
  const std::vector<int64_t> pos = Positions();
  std::vector<char> rec(kRecLen, 'x');

  xbase::XBO_DiskFile table(path, true, true);
  table.xbReWrite();
  for (int i = 0; i < kRecords; ++i) table.xbWrite(32 + int64_t{kRecLen} * i, rec.data(), kRecLen);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);

  long long sink = 0;
  const double xbWrite = bench::BestSeconds(3, [&] {
    for (int64_t p : pos) sink += table.xbWrite(p, rec.data(), kRecLen);
  });
  const double plainWrite = bench::BestSeconds(3, [&] {
    for (int64_t p : pos) sink += ::pwrite(fd, rec.data(), kRecLen, p);
  });
  const double xbRead = bench::BestSeconds(3, [&] {
    for (int64_t p : pos) sink += table.xbRead(p, rec.data(), kRecLen);
  });
  const double plainRead = bench::BestSeconds(3, [&] {
    for (int64_t p : pos) sink += ::pread(fd, rec.data(), kRecLen, p);
  });

  std::printf("%d random %d-byte records (sink %lld)\n", kOps, kRecLen, sink);
  std::printf("  write: xbWrite %.3f s, pwrite %.3f s, ratio %.2f\n", xbWrite, plainWrite, plainWrite / xbWrite);
  std::printf("  read:  xbRead  %.3f s, pread  %.3f s, ratio %.2f\n", xbRead, plainRead, plainRead / xbRead);
  std::printf("  both:  ratio %.2f (target >= 0.9)\n", (plainWrite + plainRead) / (xbWrite + xbRead));

  ::close(fd);
  table.xbCloseFile();
  platform::DeleteTree(dir);
  return 0;
}
