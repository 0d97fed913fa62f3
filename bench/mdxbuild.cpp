// BENCH_LIBS: xbase platform
// An MDX tag on a numeric field N(10) of a table of 500,000 records
// holding 100,000 values, bulk-built through the table handler, beside
// std::sort of the same (key, record) pairs in the same run; then 10,000
// finds (xbFind) of random values. Prints the build time, the sort's and
// their ratio, microseconds per find, the file's size, and the peak memory.
// Targets: build at most 0.5 s and 10 times the sort (the packed decimals
// cost), finds at most 5 us.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchUtil.h"
#include "bench/IndexBench.h"
#include "xbase/handler/table_handler.h"

using namespace xbase;

int main() {
  constexpr int kRecords = 500000, kValues = 100000, kProbes = 10000;
  std::mt19937 gen(1251);
  const bench::TNumberTable bo = bench::MakeNumberTable("tomeshelf-bench-mdxbuild", gen, kRecords, kValues);
  const std::vector<double>& values = bo.values;
  const std::filesystem::path& dir = bo.dir;
  const std::string& table = bo.table;
  const std::string index = (dir / "bo.mdx").string();

  XBO_dBHandler t(table, "", true, false);
  const double build = bench::BuildSeconds(t, index, "AU");
  const double sort = bench::BestSeconds(3, [&] {
    std::vector<std::pair<double, int>> pairs(values.size());
    for (size_t i = 0; i < values.size(); ++i) pairs[i] = {values[i], static_cast<int>(i + 1)};
    std::sort(pairs.begin(), pairs.end());
  });
  const double peak = bench::PeakMiB();

  t.xbIndex(index, "AU");
  int found = 0;
  const double find = bench::FindMicros(t, gen, kValues, kProbes, found);
  t.xbIndexClear();
  const auto size = std::filesystem::file_size(index);
  std::printf("MDX on N(10), %d records of %d values: build %.3f s (target 0.5), std::sort of the (key, record)"
              " pairs %.3f s, ratio %.1f (target 10)\n",
              kRecords, kValues, build, sort, build / sort);
  std::printf("%d finds: %.2f us each (target 5; %d found); %.1f MB, peak %.0f MiB\n", kProbes, find, found,
              static_cast<double>(size) / 1e6, peak);
  std::filesystem::remove_all(dir);
  return 0;
}
