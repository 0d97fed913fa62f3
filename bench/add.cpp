// BENCH_LIBS: archiver
// Packing a folder tree into a new archive at compression mode 1 (deflate,
// fastest), as the catalogue packs its text files: AddFiles("*.*") with the
// folder as BaseDir, against Info-ZIP's "zip -1 -q -r" of the same tree in
// the same run. Two trees: 10,000 small text files in 100 folders, and
// 100 MB of text in 20 files. Each packing runs three times; the best time
// counts. Prints the times, the archive sizes and the ratio ours / zip
// (below 1: faster than zip).
//
// The trees are made under $TOMESHELF_BENCH_CACHE when set (and kept there
// for the next run), else in a temporary folder that is removed afterwards.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archiver/ZipArchiver.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSmallFolders = 100;
constexpr int kSmallPerFolder = 100;
constexpr int kTextFiles = 20;
constexpr size_t kTextFileSize = 5 * 1000 * 1000;

// Text with the statistics of book lists: words from a vocabulary, numbers,
// tabs and line ends, deterministic from the seed.
std::string MakeText(size_t size, uint32_t seed) {
  static const std::vector<std::string> words = {
      "Толстой", "Лев",  "Война",   "и",      "мир",     "Анна",  "Каренина", "роман", "повесть", "рассказ",
      "Pushkin", "poem", "history", "of",     "the",     "sea",   "Книга",    "том",   "серия",   "fb2",
      "sf_fantasy", "prose_classic", "ru", "en", "детектив", "Agatha", "Christie", "Murder", "Orient", "Express"};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(size + 64);
  while (s.size() < size) {
    const int n = 3 + static_cast<int>(rng() % 9);
    for (int i = 0; i < n; ++i) {
      s += words[rng() % words.size()];
      s += (i + 1 == n) ? '\t' : ' ';
    }
    s += std::to_string(rng() % 600000);
    s += '\t';
    s += std::to_string(1990 + rng() % 35);
    s += '\n';
  }
  s.resize(size);
  return s;
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Makes both trees below `root` unless a finished copy is there.
void MakeTrees(const fs::path& root) {
  if (fs::exists(root / "done")) return;
  fs::remove_all(root);
  for (int d = 0; d < kSmallFolders; ++d) {
    std::string folderName = "f";
    folderName += std::to_string(d);
    const fs::path folder = root / "small" / folderName;
    fs::create_directories(folder);
    for (int i = 0; i < kSmallPerFolder; ++i) {
      const uint32_t seed = static_cast<uint32_t>(d * kSmallPerFolder + i);
      WriteFile(folder / (std::to_string(i) + ".txt"), MakeText(200 + (seed * 7919u) % 3800, seed));
    }
  }
  fs::create_directories(root / "text");
  for (int i = 0; i < kTextFiles; ++i)
    WriteFile(root / "text" / ("block" + std::to_string(i) + ".txt"), MakeText(kTextFileSize, 100000u + i));
  WriteFile(root / "done", "");
}

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

int64_t FileSize(const fs::path& p) {
  std::error_code ec;
  const auto n = fs::file_size(p, ec);
  return ec ? -1 : static_cast<int64_t>(n);
}

// One packing by the archiver; returns seconds, or a negative value when it
// failed.
double PackOurs(const fs::path& tree, const fs::path& out, int& items) {
  fs::remove(out);
  const auto t0 = Clock::now();
  archiver::TZipArchiver arc;
  arc.SetFileName(out.string());
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.SetBaseDir(tree.string());
  items = arc.AddFiles("*.*", 0x28BF, "");
  arc.CloseArchive();
  const double s = Seconds(t0);
  return arc.LastCloseError().empty() ? s : -1;
}

double PackZip(const fs::path& tree, const fs::path& out) {
  fs::remove(out);
  const std::string cmd = "cd '" + tree.string() + "' && zip -1 -q -r '" + out.string() + "' .";
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  const double s = Seconds(t0);
  return rc == 0 ? s : -1;
}

bool TestedByUnzip(const fs::path& zip) {
  return std::system(("unzip -tqq '" + zip.string() + "' >/dev/null 2>&1").c_str()) == 0;
}

struct Result {
  double ours = 1e9, zip = 1e9;
  int64_t oursSize = 0, zipSize = 0;
  int items = 0;
  bool ok = true;
};

Result Compare(const fs::path& tree, const fs::path& outDir, const char* name) {
  Result r;
  const fs::path ours = outDir / (std::string(name) + "-ours.zip");
  const fs::path zip = outDir / (std::string(name) + "-zip.zip");
  for (int run = 0; run < 3; ++run) {
    const double z = PackZip(tree, zip);
    const double o = PackOurs(tree, ours, r.items);
    if (z < 0 || o < 0) r.ok = false;
    r.zip = std::min(r.zip, z);
    r.ours = std::min(r.ours, o);
  }
  r.oursSize = FileSize(ours);
  r.zipSize = FileSize(zip);
  if (!TestedByUnzip(ours)) r.ok = false;
  return r;
}

void Print(const char* what, const Result& r) {
  std::printf("%-26s ours %7.3f s  zip -1 %7.3f s  ratio %.2f   sizes: ours %lld, zip %lld bytes, %d items%s\n",
              what, r.ours, r.zip, r.ours / r.zip, static_cast<long long>(r.oursSize),
              static_cast<long long>(r.zipSize), r.items, r.ok ? "" : "  (FAILED)");
}

}  // namespace

int main() {
  const char* cache = std::getenv("TOMESHELF_BENCH_CACHE");
  const bool cached = cache && *cache;
  fs::path root;
  std::string scratch;
  if (cached) {
    root = fs::path(cache) / "add-trees-v1";
  } else {
    std::string tmpl = (fs::temp_directory_path() / "addbench.XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return 1;
    scratch = tmpl;
    root = fs::path(scratch) / "trees";
  }
  // The archives go beside the trees: the same disk for both packers.
  const fs::path outDir = root.parent_path() / ("addout." + std::to_string(::getpid()));
  fs::create_directories(outDir);

  int rc = 0;
  try {
    const auto t0 = Clock::now();
    MakeTrees(root);
    std::printf("trees in %s (ready in %.1f s)\n", root.string().c_str(), Seconds(t0));
    const Result small = Compare(root / "small", outDir, "small");
    Print("10,000 small text files", small);
    const Result text = Compare(root / "text", outDir, "text");
    Print("100 MB of text", text);
    if (!small.ok || !text.ok) rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "add benchmark failed: %s\n", e.what());
    rc = 1;
  }
  fs::remove_all(outDir);
  if (!scratch.empty()) fs::remove_all(scratch);
  return rc;
}
