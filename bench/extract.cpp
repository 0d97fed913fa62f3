// BENCH_LIBS: archiver
// Extracting a whole archive of 10,000 deflated items (names and sizes like a
// book archive's, 2-30 KB of text each) to disk, next to Info-ZIP's
// "unzip -o -qq" of the same archive in the same run. Prints both times and
// the ratio ours / unzip (target: <= 1.0, not slower). Then the catalogue's
// way of reading: every item to a string, and a 4 KB head of every item.
//
// Usage: bench_extract [items]   (default 10000)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchUtil.h"
#include "archiver/ZAFind.h"
#include "archiver/ZipArchiver.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

using bench::BestSeconds;

bool Run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

const char* kMakeArchive = R"PY(
import random, sys, zipfile
path, n = sys.argv[1], int(sys.argv[2])
rnd = random.Random(5)
words = [w.encode('utf-8') for w in ('книга ', 'автор ', 'the ', 'title ', '<p>', '</p>\n', 'series ', 'глава ')]
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    for i in range(n):
        size = rnd.randint(2000, 30000)
        body = b''.join(rnd.choice(words) for _ in range(size // 6))
        z.writestr(zipfile.ZipInfo('%06d.fb2' % (100000 + i), (2020, 5, 6, 7, 8, 10)), body,
                   zipfile.ZIP_DEFLATED)
)PY";

}  // namespace

int main(int argc, char** argv) {
  const int items = argc > 1 ? std::atoi(argv[1]) : 10000;
  const fs::path root = fs::temp_directory_path() / ("bench_extract." + std::to_string(::getpid()));
  fs::create_directories(root);
  const std::string zip = (root / "books.zip").string();
  std::printf("making an archive of %d items...\n", items);
  const std::string script = (root / "make.py").string();
  if (FILE* f = std::fopen(script.c_str(), "w")) {
    std::fputs(kMakeArchive, f);
    std::fclose(f);
  }
  if (!Run("/usr/bin/python3 '" + script + "' '" + zip + "' " + std::to_string(items))) {
    std::fprintf(stderr, "python3 failed\n");
    return 1;
  }
  const std::string oursDir = (root / "ours").string();
  const std::string theirsDir = (root / "unzip").string();

  archiver::TZipArchiver arc;
  arc.SetFileName(zip);
  arc.SetBaseDir(oursDir);
  arc.OpenArchive(archiver::ZAModeRead);
  int extracted = 0;
  bool unzipOk = true;
  // Alternate the two so that neither profits from a warmer cache; the
  // targets exist from the second round on, as "-o" overwrites them.
  double ours = 1e9, theirs = 1e9;
  for (int round = 0; round < 3; ++round) {
    ours = std::min(ours, BestSeconds(1, [&] {
                      extracted = arc.ExtractFiles("*.*", archiver::ZADefaultSearchAttr, "");
                    }));
    theirs = std::min(theirs, BestSeconds(1, [&] {
                        unzipOk = unzipOk && Run("unzip -o -qq '" + zip + "' -d '" + theirsDir + "'");
                      }));
  }
  if (extracted != items || !unzipOk) {
    std::fprintf(stderr, "extraction incomplete: %d of %d items, unzip %s\n", extracted, items,
                 unzipOk ? "ok" : "failed");
    return 1;
  }
  std::printf("extract %d items to disk: ours %.3f s, unzip -o -qq %.3f s, ratio ours/unzip %.2f\n", items,
              ours, theirs, ours / theirs);

  // The catalogue's reads: whole items to strings, and book heads.
  std::vector<std::pair<std::string, int>> names;  // with the head size to read
  archiver::TZAArchiveItem F;
  for (bool ok = arc.FindFirst("*.*", F, 0x1EF, ""); ok; ok = arc.FindNext(F))
    names.emplace_back(F.FileName, static_cast<int>(std::min<int64_t>(4096, F.UncompressedSize)));
  size_t bytes = 0;
  const double strings = BestSeconds(3, [&] {
    bytes = 0;
    std::string text;
    for (const auto& n : names) {
      arc.ExtractToString(n.first, text);
      bytes += text.size();
    }
  });
  char head[4096];
  const double heads = BestSeconds(3, [&] {
    for (const auto& n : names) arc.ExtractToBuffer(n.first, head, n.second, 0);
  });
  std::printf("ExtractToString of every item: %.3f s (%.0f MB/s of output)\n", strings,
              static_cast<double>(bytes) / strings / 1e6);
  std::printf("ExtractToBuffer of a 4 KB head of every item: %.3f s (%.1f us per item)\n", heads,
              heads / static_cast<double>(names.size()) * 1e6);
  arc.CloseArchive();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
