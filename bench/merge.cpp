// BENCH_LIBS: archiver
// Merging a 48 MB archive of 10,000 stored items into an archive of 1,000
// items (MergeWith: a raw copy of every record), against Info-ZIP's
// "zip other.zip --copy '*' --out x.zip" (a raw copy of every entry into a
// new archive) in the same run. Each runs three times on a fresh copy of
// the target (the copy is not timed, and is on the disk before the clock
// starts); the best time counts. Prints the
// times and the ratio ours / zip (target: at most 1.5): like for like with
// Options.FlushBuffers off (zip does not flush what it wrote to the disk),
// and with the default, which waits for the 48 MB to reach the disk.
//
// The archives are made by Python's zipfile under $TOMESHELF_BENCH_CACHE when
// set (and kept there), else in a temporary folder removed afterwards.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchUtil.h"
#include "archiver/ZipArchiver.h"

namespace {

namespace fs = std::filesystem;

const char* kMakeScript = R"PY(
import os, random, sys, zipfile
random.seed(40)
for path, n, size, prefix in ((sys.argv[1], 10000, 4800, 'other'), (sys.argv[2], 1000, 2000, 'this')):
    z = zipfile.ZipFile(path + '.part', 'w', zipfile.ZIP_STORED)
    for i in range(n):
        z.writestr('%s/%03d/item%05d.bin' % (prefix, i // 100, i), random.randbytes(size))
    z.close()
    os.rename(path + '.part', path)
)PY";

int Run(const std::string& cmd) { return std::system(cmd.c_str()); }

}  // namespace

int main() {
  bool keep = false;
  const fs::path dir = bench::DataDir("merge", keep);
  const std::string other = (dir / "other.zip").string(), target = (dir / "this.zip").string();
  if (!fs::exists(other) || !fs::exists(target)) {
    if (!bench::RunPythonScript(dir, kMakeScript, "'" + other + "' '" + target + "'")) return 1;
  }
  const std::string work = (dir / "work.zip").string(), copy = (dir / "x.zip").string();

  double ours = 1e9, flushed = 1e9, zip = 1e9;
  int merged = 0;
  const auto merge = [&](bool flush) {
    fs::copy_file(target, work, fs::copy_options::overwrite_existing);
    ::sync();  // the copy's own write-back is not the merge's
    return bench::BestSeconds(1, [&] {
      archiver::TZipArchiver arc;
      arc.SetFileName(work);
      arc.Options().SetFlushBuffers(flush);
      arc.OpenArchive();
      merged = arc.MergeWith(other);
      arc.CloseArchive();
    });
  };
  for (int round = 0; round < 3; ++round) {
    ours = std::min(ours, merge(false));
    flushed = std::min(flushed, merge(true));
    fs::remove(copy);
    ::sync();
    zip = std::min(zip, bench::BestSeconds(1, [&] {
                     Run("zip -q '" + other + "' --copy '*' --out '" + copy + "'");
                   }));
  }
  std::printf("merge of %.1f MB, %d items into %d items: zip --copy %.3f s; ours %.3f s, ratio %.2f (target <= 1.5); "
              "ours flushing to disk %.3f s\n",
              static_cast<double>(fs::file_size(other)) / 1e6, merged, 1000, zip, ours, ours / zip, flushed);
  fs::remove(work);
  fs::remove(copy);
  if (!keep) fs::remove_all(dir);
  return 0;
}
