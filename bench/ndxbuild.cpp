// BENCH_LIBS: xbase platform
// The catalogue's book index: an NDX index on a numeric field (the author
// number), bulk-built over 500,000 and over 1,000,000 records, then 10,000
// finds of random author numbers and 10,000 one-key ranges (an author's
// books: set the range, read to its end). Prints each time and the peak
// memory of the process after the build. The records are held in memory,
// so the figures are the index's own.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "bench/IndexBench.h"
#include "xbase/index/ndx_format.h"

using namespace xbase;
using bench::TBookTable;

namespace {

constexpr int kProbes = 10000;

void Run(int records) {
  // About 3.5 books an author, in reading order.
  const int authors = records * 2 / 7;
  std::mt19937 gen(1251);
  std::vector<double> books(static_cast<size_t>(records));
  for (double& au : books) au = 1 + gen() % static_cast<unsigned>(authors);

  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tomeshelf-bench-ndxbuild";
  std::filesystem::create_directories(dir);
  TBookTable table((dir / "bo.dbf").string(), books);
  auto ndx = std::make_unique<XBobjNDXFile>(&table, "bo", true, false, true, true);

  const auto t0 = std::chrono::steady_clock::now();
  ndx->AddTag("BO", "AU", "", true, false);
  ndx->Flush();
  const double build = bench::SecondsSince(t0);
  const double peak = bench::PeakMiB();
  XBobjIndexTag& tag = *ndx->Tag();

  XBobjIndexKeyData key(32);
  int found = 0;
  const auto t1 = std::chrono::steady_clock::now();
  for (int i = 0; i < kProbes; ++i) {
    key.PutString(std::to_string(1 + gen() % static_cast<unsigned>(authors)));  // as the handler passes it
    key.Tag = XBobjIndexTag::AnyRecord;
    if (tag.KeyFind(key) != 0) ++found;
  }
  const double find = bench::SecondsSince(t1);

  TxbVariant lo, hi;
  long long lines = 0;
  const auto t2 = std::chrono::steady_clock::now();
  for (int i = 0; i < kProbes; ++i) {
    const std::string au = std::to_string(1 + gen() % static_cast<unsigned>(authors));
    lo.PutString(au);
    hi.PutString(au);
    tag.SetRange(lo, true, hi, true, false);
    for (int rec = tag.KeyRead(-5); rec != 0; rec = tag.KeyRead(-1)) ++lines;
  }
  const double range = bench::SecondsSince(t2);
  ndx->CloseFile();
  const auto size = std::filesystem::file_size(dir / "bo.ndx");
  std::printf("%8d records: build %.3f s (%.2f us/record), %.1f MB, peak %.0f MiB;"
              " %d finds %.2f us each (%d found); %d one-key ranges %.2f us each (%lld records)\n",
              records, build, build * 1e6 / records, static_cast<double>(size) / 1e6, peak, kProbes,
              find * 1e6 / kProbes, found, kProbes, range * 1e6 / kProbes, lines);
  ndx.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace

int main() {
  Run(500000);
  Run(1000000);
  return 0;
}
