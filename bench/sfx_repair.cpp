// BENCH_LIBS: archiver
// Self-extracting copy and repair of a 100 MB archive (2,000 deflated items
// of text in words of Cyrillic and Latin letters, 320 MB of data), in the
// same run as the peers:
//  - MakeSFX with a shell stub against "cat stub a.zip > x; zip -qA x"
//    (target: at most 1.5 times as long);
//  - RepairArchive of the archive with its central directory cut off (every
//    item extracted, checked and compressed again), in MB/s of item data,
//    against "zip -FF", which copies the records raw (target: 50 MB/s or
//    more of item data, the bytes the items hold; the archive's own bytes
//    per second are printed too).
// Options.FlushBuffers is off in the timed runs, like for like with the
// peers, which do not flush what they write; the default (on) is printed
// too. Each run is the best of three, with what the last one wrote on the
// disk before the clock starts.
//
// The archive is made by Python's zipfile under $TOMESHELF_BENCH_CACHE when
// set (and kept there), else in a temporary folder removed afterwards.
#include <unistd.h>

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
random.seed(41)
letters = 'абвгдеёжзийклмнопрстуфхцчшщъыьэюяabcdefghijklmnopqrstuvwxyz'
words = [''.join(random.choice(letters) for _ in range(random.randint(2, 10))) for _ in range(5000)]
# Word frequencies fall off as in natural text (Zipf): the text compresses
# about 3.4 to 1, as books do.
pool = ' '.join(random.choices(words, [1 / (i + 1) for i in range(len(words))], k=400000)).encode()
z = zipfile.ZipFile(sys.argv[1] + '.part', 'w', zipfile.ZIP_DEFLATED, compresslevel=6)
for i in range(2000):
    parts = []
    for _ in range(10):
        at = random.randrange(len(pool) - 16000)
        parts.append(pool[at:at + 16000])
    z.writestr('%02d/%05d.fb2' % (i // 100, i), b''.join(parts))
z.close()
os.rename(sys.argv[1] + '.part', sys.argv[1])
)PY";

int Run(const std::string& cmd) { return std::system(cmd.c_str()); }
std::string Q(const fs::path& p) {
  std::string s = "'";
  s += p.string();
  s += '\'';
  return s;
}

}  // namespace

int main() {
  bool keep = false;
  const fs::path dir = bench::DataDir("sfx", keep);
  const fs::path archive = dir / "a.zip", stub = dir / "stub.sh", cut = dir / "cut.zip";
  if (!fs::exists(archive)) {
    if (!bench::RunPythonScript(dir, kMakeScript, Q(archive))) return 1;
  }
  {
    FILE* f = std::fopen(stub.c_str(), "w");
    std::fputs("#!/bin/sh\nexec unzip -o \"$0\" -d \"${1:-.}\"\n", f);
    std::fclose(f);
  }
  const double archiveMB = static_cast<double>(fs::file_size(archive)) / 1e6;
  double dataMB = 0;
  {
    archiver::TZipArchiver arc;
    arc.SetFileName(archive.string());
    arc.OpenArchive(archiver::ZAModeReadShared);
    for (int i = 0; i < arc.DMHandle()->CDir.Count(); ++i)
      dataMB += static_cast<double>(arc.DMHandle()->CDir[i].UncompressedSize()) / 1e6;
  }
  const auto timed = [](auto&& f) {
    double best = 1e9;
    for (int r = 0; r < 3; ++r) {
      ::sync();
      best = std::min(best, bench::BestSeconds(1, f));
    }
    return best;
  };

  const fs::path sfx = dir / "a.sfx", ref = dir / "ref.sfx";
  const auto makeSFX = [&](bool flush) {
    return timed([&] {
      archiver::TZipArchiver arc;
      arc.SetFileName(archive.string());
      arc.SetSFXStub(stub.string());
      arc.Options().SetFlushBuffers(flush);
      fs::remove(sfx);
      arc.MakeSFX(sfx.string());
    });
  };
  const double ours = makeSFX(false), oursFlushed = makeSFX(true);
  const double peer = timed([&] { Run("cat " + Q(stub) + " " + Q(archive) + " > " + Q(ref) + " && zip -qA " + Q(ref)); });
  std::printf("MakeSFX of %.1f MB: ours %.3f s, cat + zip -A %.3f s, ratio %.2f (target <= 1.5); "
              "ours flushing to disk %.3f s\n",
              archiveMB, ours, peer, ours / peer, oursFlushed);

  // The same archive without its central directory.
  {
    archiver::TZipArchiver arc;
    arc.SetFileName(archive.string());
    arc.OpenArchive(archiver::ZAModeReadShared);
    const int64_t dirStart = arc.DMHandle()->CentralDirOffset;
    arc.CloseArchive();
    fs::copy_file(archive, cut, fs::copy_options::overwrite_existing);
    fs::resize_file(cut, static_cast<uintmax_t>(dirStart));
  }
  const fs::path repaired = dir / "repaired.zip", ff = dir / "ff.zip";
  int written = 0;
  const auto repair = [&](bool flush) {
    return timed([&] {
      archiver::TZipArchiver arc;
      arc.SetFileName(cut.string());
      arc.Options().SetFlushBuffers(flush);
      written = arc.RepairArchive(repaired.string()).Written;
    });
  };
  const double fixed = repair(false), fixedFlushed = repair(true);
  const double zipFF = timed([&] {
    fs::remove(ff);
    Run("echo y | zip -FF " + Q(cut) + " --out " + Q(ff) + " >/dev/null 2>&1");
  });
  std::printf("RepairArchive of %.1f MB (%d items, %.1f MB of data), directory cut off: ours %.3f s, %.1f MB/s "
              "of archive, %.1f MB/s of data (target >= 50); zip -FF (raw copies) %.3f s, %.1f MB/s; "
              "ours flushing to disk %.3f s\n",
              archiveMB, written, dataMB, fixed, archiveMB / fixed, dataMB / fixed, zipFF, archiveMB / zipFF,
              fixedFlushed);

  for (const fs::path& p : {sfx, ref, cut, repaired, ff}) fs::remove(p);
  if (!keep) fs::remove_all(dir);
  return 0;
}
