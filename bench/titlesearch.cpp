// BENCH_LIBS: catalogue
//
// Title search over the scale sample catalogue ($TOMESHELF_BENCH_CACHE/scale,
// made by tools/make_collection.py through scripts/bench): a 3-letter mask
// over every title, with the catalogue's members already in memory, so the
// figure is the search itself (block parsing, upper-casing, matching,
// collecting hits). Target: <= 0.5 s for 500,000 titles.
//
// The members are read first through the archiver (readZipMember) when this
// build can extract zip members, else by Python's zipfile; the output says
// which. When the archiver can, the search is also timed reading each block
// from the archive as the program does.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/CatalogueFormat.h"
#include "catalogue/Job.h"
#include "catalogue/MemberReader.h"
#include "catalogue/TitleSearch.h"
#include "tests/catalogue/SampleCatalogue.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace catalogue;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct TRun {
  double best = 1e300, mean = 0;
  size_t hits = 0;
};

// Times `runs` searches for `typed` from an empty block cache.
TRun Time(const char* typed, bool hideDuplicates, int runs) {
  const AnsiString mask = MakeTitleMask(typed).mask;
  TRun r;
  for (int i = 0; i < runs; ++i) {
    AppState().blockCache.Clear();
    TPlainJobHost host;
    const auto a = Clock::now();
    const auto hits = findBook(mask, AppState().authors, hideDuplicates, CachedBlock, host);
    const double ms = Ms(Clock::now() - a);
    r.best = std::min(r.best, ms);
    r.mean += ms / runs;
    r.hits = hits.size();
  }
  return r;
}

}  // namespace

int main() {
  const fs::path dbz = bench::ScaleCatalogue();
  if (dbz.empty()) return 1;
  AppState() = {};
  AppState().dbzPath = dbz.string();

  // Every member, into memory.
  std::map<std::string, std::string> members;
  bool archiver = true;
  const auto r0 = Clock::now();
  try {
    members[kAuthorListMember] = readZipMember(dbz.string(), kAuthorListMember);
    const size_t blocks = (ParseAuthorList(members[kAuthorListMember]).size() + 999) / 1000;
    for (size_t b = 0; b < blocks; ++b) {
      const std::string name = BlockMemberName(static_cast<int32_t>(b));
      members[name] = readZipMember(dbz.string(), name);
    }
  } catch (const std::exception&) {
    archiver = false;
    members = sample::ZipMembers(dbz.string());
  }
  const double readMs = Ms(Clock::now() - r0);
  AppState().authors = ParseAuthorList(members[kAuthorListMember]);

  size_t titles = 0;
  for (const auto& [name, bytes] : members) {
    if (name != kAuthorListMember && name != kInfoMember) titles += TCatalogueBlock(bytes).LineCount();
  }
  std::printf("catalogue: %s\n%zu authors, %zu titles (book lines)\n", dbz.c_str(),
              AppState().authors.size(), titles);
  std::printf("members read by %s in %.0f ms\n",
              archiver ? "the archiver (readZipMember)"
                       : "Python's zipfile (this build has no zip extraction yet)",
              readMs);

  {
    TZipMemberReaderScope fromMemory([&](const std::string&, const std::string& member, int64_t) {
      const auto it = members.find(member);
      return it == members.end() ? std::string() : it->second;
    });
    std::printf("search with the members in memory (best and mean of 5; target <= 500 ms for "
                "500,000 titles):\n");
    for (const char* typed : {"сад", "мир", "qzx"}) {
      for (bool hide : {true, false}) {
        const TRun r = Time(typed, hide, 5);
        std::printf("  \"%s\", duplicates %s: %8.1f ms best, %8.1f ms mean, %zu hits\n", typed,
                    hide ? "hidden" : "shown ", r.best, r.mean, r.hits);
      }
    }
  }
  if (archiver) {
    const TRun r = Time("сад", true, 3);
    std::printf("search reading each block from the archive: %.1f ms best, %zu hits\n", r.best,
                r.hits);
  }
  return 0;
}
