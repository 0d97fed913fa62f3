// BENCH_LIBS: xbase platform
// A CDX tag on a numeric field N(10) of a table of 500,000 records holding
// 100,000 values, bulk-built through the table handler, beside std::sort of
// the same (key, record) byte forms in the same run; then 10,000 finds
// (xbFind) of random values. The same for an index kept in memory. Prints
// the build times, the sort's and the ratios, microseconds per find, the
// file's size and depth, and the peak memory. Targets: build at most 0.4 s
// and 2 times the sort, finds at most 5 us.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "bench/IndexBench.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/index_framework.h"

using namespace xbase;

namespace {

constexpr int kRecords = 500000;
constexpr int kValues = 100000;
constexpr int kProbes = 10000;

// The sort of the key forms the build sorts: the 8-byte ordered double and
// the record, big-endian, compared as bytes.
double SortSeconds(const std::vector<double>& values) {
  return bench::SortKeyFormsSeconds(values, 8, [](double v, uint8_t* f) {
    const uint64_t bits = std::bit_cast<uint64_t>(v) | uint64_t{1} << 63;
    for (int b = 0; b < 8; ++b) f[b] = static_cast<uint8_t>(bits >> (56 - 8 * b));
  });
}

}  // namespace

int main() {
  std::mt19937 gen(1251);
  const bench::TNumberTable bo = bench::MakeNumberTable("tomeshelf-bench-cdxbuild", gen, kRecords, kValues);
  const std::vector<double>& values = bo.values;
  const std::filesystem::path& dir = bo.dir;
  const std::string& table = bo.table;
  const std::string index = (dir / "bo.cdx").string();

  XBO_dBHandler t(table, "", true, false);
  const double build = bench::BuildSeconds(t, index, "AU");
  const double sort = SortSeconds(values);

  t.xbIndex(index, "AU");
  int found = 0;
  const double find = bench::FindMicros(t, gen, kValues, kProbes, found);
  t.xbGetRec(xbRecTop);
  const int depth = t.IndexMaster()->PathDepth();
  t.xbIndexClear();
  const auto size = std::filesystem::file_size(index);

  const double memory = bench::BestSeconds(3, [&] {
    t.xbMemoryIndexAdd("MEM", "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  });
  int foundInMemory = 0;
  const double findInMemory = bench::FindMicros(t, gen, kValues, kProbes, foundInMemory);
  const double peak = bench::PeakMiB();
  t.xbIndexClear();

  std::printf("CDX on N(10), %d records of %d values: build %.3f s (target 0.4), std::sort of the key forms"
              " %.3f s, ratio %.2f (target 2: %s)\n",
              kRecords, kValues, build, sort, build / sort, build <= 2 * sort ? "met" : "MISSED");
  std::printf("%d finds: %.2f us each (target 5; %d found); %.1f MB, depth %d\n", kProbes, find, found,
              static_cast<double>(size) / 1e6, depth);
  std::printf("In memory: build %.3f s, ratio %.1f; %d finds: %.2f us each (%d found); peak %.0f MiB\n", memory,
              memory / sort, kProbes, findInMemory, foundInMemory, peak);
  std::filesystem::remove_all(dir);
  return 0;
}
