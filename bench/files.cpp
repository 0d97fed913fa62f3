// BENCH_LIBS: platform
// The platform's open file against the bare system calls, in the same run:
// TFile::ReadAt / WriteAt of 1,000,000 random 441-byte records of a table
// file against pread / pwrite of the same records, and the cost of one
// byte-range lock and unlock.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "platform/Files.h"

namespace {

using bench::BestSeconds;

constexpr int64_t kRecords = 1000000;
constexpr int64_t kRecordSize = 441;
constexpr int kRounds = 3;

volatile uint64_t g_sink;

}  // namespace

int main() {
  const std::string dir = bench::CacheDir().string();
  platform::ForceDirectories(dir);
  platform::TFile file = platform::CreateTempFile(dir, "bench-records-", ".dbf");
  const std::string path = file.Path();
  struct Remove {
    std::string p;
    ~Remove() { platform::DeleteFile(p); }
  } remove{path};

  // The table: every record written once, so reads come from the page cache.
  {
    std::vector<char> block(kRecordSize * 1000, 'r');
    for (int64_t r = 0; r < kRecords; r += 1000)
      file.WriteAt(r * kRecordSize, block.data(), static_cast<int64_t>(block.size()));
  }
  std::vector<int64_t> order(kRecords);
  std::mt19937_64 gen(7);
  for (auto& o : order) o = static_cast<int64_t>(gen() % kRecords) * kRecordSize;
  const int fd = file.Handle();
  char record[kRecordSize] = {};

  const auto readAt = [&] {
    uint64_t sum = 0;
    for (const int64_t pos : order) sum += static_cast<uint64_t>(file.ReadAt(pos, record, kRecordSize));
    g_sink = sum;
  };
  const auto rawRead = [&] {
    uint64_t sum = 0;
    for (const int64_t pos : order) sum += static_cast<uint64_t>(::pread(fd, record, kRecordSize, pos));
    g_sink = sum;
  };
  const auto writeAt = [&] {
    for (const int64_t pos : order) file.WriteAt(pos, record, kRecordSize);
  };
  const auto rawWrite = [&] {
    uint64_t sum = 0;
    for (const int64_t pos : order) sum += static_cast<uint64_t>(::pwrite(fd, record, kRecordSize, pos));
    g_sink = sum;
  };
  readAt();  // warm-up: page cache and clock
  double tReadAt = 1e9, tPread = 1e9, tWriteAt = 1e9, tPwrite = 1e9;
  // Interleaved, so that a disturbance of the machine hits both sides alike.
  for (int r = 0; r < kRounds; ++r) {
    tReadAt = std::min(tReadAt, BestSeconds(1, readAt));
    tPread = std::min(tPread, BestSeconds(1, rawRead));
    tWriteAt = std::min(tWriteAt, BestSeconds(1, writeAt));
    tPwrite = std::min(tPwrite, BestSeconds(1, rawWrite));
  }
  const double n = static_cast<double>(kRecords);
  std::printf("%lld random %lld-byte records (best of %d)\n", static_cast<long long>(kRecords),
              static_cast<long long>(kRecordSize), kRounds);
  std::printf("  TFile::ReadAt   %7.3f s  %6.3f us/record\n", tReadAt, tReadAt / n * 1e6);
  std::printf("  pread           %7.3f s  %6.3f us/record   ratio pread/ReadAt %.3f (target >= 0.95)\n",
              tPread, tPread / n * 1e6, tPread / tReadAt);
  std::printf("  TFile::WriteAt  %7.3f s  %6.3f us/record\n", tWriteAt, tWriteAt / n * 1e6);
  std::printf("  pwrite          %7.3f s  %6.3f us/record   ratio pwrite/WriteAt %.3f (target >= 0.95)\n",
              tPwrite, tPwrite / n * 1e6, tPwrite / tWriteAt);

  // One record lock and unlock at a time, as a table's record lock does.
  constexpr int kPairs = 200000;
  const double tLock = BestSeconds(kRounds, [&] {
    for (int i = 0; i < kPairs; ++i) {
      const int64_t at = 0x40000000 + order[static_cast<size_t>(i)] / kRecordSize;
      if (!file.LockRange(at, 1, true)) std::abort();
      file.UnlockRange(at, 1);
    }
  });
  std::printf("lock + unlock of one range  %.3f us per pair (%d pairs)\n", tLock / kPairs * 1e6, kPairs);
  return 0;
}
