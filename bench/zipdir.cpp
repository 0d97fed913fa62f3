// BENCH_LIBS: archiver
// The directory in memory at catalogue scale: builds a directory of 100,000
// entries as the loader does (count first, then entry by entry), then times
// name lookups through the hashed index: 1,000 names found, 1,000 missed,
// and the cost of a deletion followed by a lookup.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archiver/ZADirectory.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

std::string NameOf(int i) {
  // Numbered books under author folders, as the collection's archives hold.
  return "Author " + std::to_string(i % 1499) + "/" + std::to_string(200000 + i) + ".fb2";
}

}  // namespace

int main() {
  const int entries = 100000;
  const int lookups = 1000;
  const int rounds = 200;

  std::vector<archiver::TDirItem> source(entries);
  for (int i = 0; i < entries; ++i) {
    source[static_cast<size_t>(i)].Name = NameOf(i);
    source[static_cast<size_t>(i)].CentralDir.relOffsetLH = static_cast<uint32_t>(i) * 100;
  }

  auto t = Clock::now();
  archiver::TZADirArray dir;
  dir.SetCount(entries);
  for (int i = 0; i < entries; ++i) dir.SetItem(i, source[static_cast<size_t>(i)]);
  const double buildSeconds = Seconds(t);

  int found = -1;
  t = Clock::now();
  dir.FileExists(NameOf(0), found);
  const double firstLookupSeconds = Seconds(t);

  std::mt19937 rng(42);
  std::uniform_int_distribution<int> pick(0, entries - 1);
  std::vector<std::string> hits, misses;
  for (int i = 0; i < lookups; ++i) {
    std::string name = NameOf(pick(rng));
    for (char& c : name)
      if (c >= 'a' && c <= 'z' && (rng() & 1)) c = static_cast<char>(c - 'a' + 'A');
    hits.push_back(name);
    misses.push_back(NameOf(entries + pick(rng)));
  }

  long long sum = 0;
  t = Clock::now();
  for (int r = 0; r < rounds; ++r)
    for (const auto& name : hits) {
      dir.FileExists(name, found);
      sum += found;
    }
  const double hitNs = Seconds(t) * 1e9 / (static_cast<double>(rounds) * lookups);

  int missed = 0;
  t = Clock::now();
  for (int r = 0; r < rounds; ++r)
    for (const auto& name : misses) missed += dir.FileExists(name, found) ? 0 : 1;
  const double missNs = Seconds(t) * 1e9 / (static_cast<double>(rounds) * lookups);

  t = Clock::now();
  dir.DeleteItem(entries / 2);
  dir.FileExists(NameOf(entries - 1), found);
  const double deleteSeconds = Seconds(t);

  std::printf("directory of %d entries built in %.1f ms (%.0f ns per entry)\n", entries,
              buildSeconds * 1e3, buildSeconds * 1e9 / entries);
  std::printf("first lookup (builds the name index): %.2f ms\n", firstLookupSeconds * 1e3);
  std::printf("lookup of a present name: %.0f ns per lookup (%d names x %d rounds)\n", hitNs,
              lookups, rounds);
  std::printf("lookup of an absent name: %.0f ns per lookup\n", missNs);
  std::printf("delete from the middle + next lookup: %.2f ms\n", deleteSeconds * 1e3);
  if (found != entries - 2 || missed != rounds * lookups || sum <= 0) {
    std::printf("unexpected lookup result\n");
    return 1;
  }
  return 0;
}
