// BENCH_LIBS: archiver
// Appending one small item to a 1 GB archive. The archive (64 stored items
// of 16 MiB of zeros, written as holes so the file is sparse) is made under
// $TOMESHELF_BENCH_CACHE when set, else in the temporary folder, and removed
// afterwards. The commit must not rewrite the earlier items: it saves only
// the old central directory as its tail, cuts the file there and writes the
// new item and directory. Prints the bytes handed to write() (from
// /proc/self/io), the bytes the archive grew by and the time, for the append
// and for deleting the item again (the same small tail).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "archiver/ZARecords.h"
#include "archiver/ZAZipCrypt.h"
#include "archiver/ZipArchiver.h"
#include "platform/Streams.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kItems = 64;
constexpr int64_t kItemSize = int64_t{16} << 20;

// Bytes this process has handed to write() so far.
int64_t WrittenSoFar() {
  std::ifstream io("/proc/self/io");
  for (std::string key; io >> key;) {
    int64_t value = 0;
    io >> value;
    if (key == "wchar:") return value;
  }
  return -1;
}

// Writes the 1 GB archive: headers and directory written, data left as holes.
void MakeArchive(const std::string& path) {
  std::vector<uint8_t> zeros(static_cast<size_t>(kItemSize), 0);
  const uint32_t crc = archiver::ZACrc32(zeros.data(), zeros.size());
  zeros.clear();
  zeros.shrink_to_fit();
  platform::TFileStream f(path, platform::fmCreate);
  std::string central;
  for (int i = 0; i < kItems; ++i) {
    const std::string name = "volume" + std::to_string(100 + i) + "/zeros.bin";
    const int64_t offset = f.Position();
    archiver::TZALocalFileHeader lh;
    lh.signature = archiver::ZA_SIG_LOCAL_HEADER;
    lh.extractVersion = 20;
    lh.lastModDate = (46 << 9) | (1 << 5) | 1;
    lh.crc32 = crc;
    lh.compSize = lh.unCompSize = static_cast<uint32_t>(kItemSize);
    lh.nameLength = static_cast<uint16_t>(name.size());
    archiver::ZAWriteRecord(f, lh);
    f.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
    f.Seek(kItemSize, platform::soCurrent);  // a hole of zeros
    archiver::TZAZipCentralDir cd;
    cd.signature = archiver::ZA_SIG_CENTRAL_DIR;
    cd.versionMadeBy = cd.extractVersion = 20;
    cd.lastModDate = lh.lastModDate;
    cd.crc32 = crc;
    cd.compSize = cd.unCompSize = lh.compSize;
    cd.nameLength = lh.nameLength;
    cd.externalAttr = 0x20;
    cd.relOffsetLH = static_cast<uint32_t>(offset);
    archiver::ZAAppendRecord(central, cd);
    central += name;
  }
  const int64_t dirStart = f.Position();
  f.WriteBuffer(central.data(), static_cast<int64_t>(central.size()));
  archiver::TZAZipCentralDirEnd end;
  end.signature = archiver::ZA_SIG_CENTRAL_DIR_END;
  end.entriesOnDisk = end.entriesCentralDir = kItems;
  end.centralDirSize = static_cast<uint32_t>(central.size());
  end.offsetStartDir = static_cast<uint32_t>(dirStart);
  archiver::ZAWriteRecord(f, end);
}

struct Figures {
  double ms = 0;
  int64_t written = 0;
  int64_t grown = 0;
};

// Runs one transaction set up by `change` and measures it.
template <class F>
Figures Measure(archiver::TZipArchiver& arc, F change) {
  const int64_t sizeBefore = arc.Size();
  arc.BeginUpdate();
  change();
  const int64_t w0 = WrittenSoFar();
  const auto t0 = Clock::now();
  arc.EndUpdate();
  const auto t1 = Clock::now();
  return {std::chrono::duration<double, std::milli>(t1 - t0).count(), WrittenSoFar() - w0, arc.Size() - sizeBefore};
}

}  // namespace

int main() {
  const char* cache = std::getenv("TOMESHELF_BENCH_CACHE");
  const std::filesystem::path base = cache && *cache ? std::filesystem::path(cache)
                                                     : std::filesystem::temp_directory_path();
  std::filesystem::create_directories(base);
  std::string tmpl = (base / "commit.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return 1;
  const std::string dir = tmpl;
  const std::string path = dir + "/1g.zip";
  int rc = 0;
  try {
    const auto m0 = Clock::now();
    MakeArchive(path);
    const double makeMs = std::chrono::duration<double, std::milli>(Clock::now() - m0).count();

    archiver::TZipArchiver arc;
    arc.SetFileName(path);
    arc.OpenArchive();
    const int64_t size = arc.Size();
    const Figures append = Measure(arc, [&] {
      archiver::TZADirArray& cdir = arc.DMHandle()->CDir;
      const int i = cdir.Count();
      cdir.SetCount(i + 1);
      archiver::TDirItem item;
      item.Name = "appended/small.txt";
      item.Modified = true;
      item.Operation = archiver::poAdd;
      item.CompressionMethod = archiver::ZA_METHOD_DEFLATE;
      item.CompressionMode = 1;
      item.CentralDir.signature = archiver::ZA_SIG_CENTRAL_DIR;
      item.CentralDir.externalAttr = 0x20;
      item.Stream = std::make_shared<platform::TStringStream>(std::string(4096, 'x'));
      item.bDestroyStream = true;
      cdir.SetItem(i, item);
    });
    const Figures remove = Measure(arc, [&] { arc.DMHandle()->CDir.DeleteItem(arc.DMHandle()->CDir.Count() - 1); });
    const bool ok = arc.DMHandle()->CDir.Count() == kItems && arc.Size() == size;
    arc.CloseArchive();

    std::printf("archive: %d items, %.1f MiB (sparse, made in %.0f ms) in %s\n", kItems,
                static_cast<double>(size) / (1 << 20), makeMs, dir.c_str());
    std::printf("append 4 KiB item : %8.2f ms, %8lld bytes written, archive grew by %lld bytes\n", append.ms,
                static_cast<long long>(append.written), static_cast<long long>(append.grown));
    std::printf("delete it again   : %8.2f ms, %8lld bytes written, archive grew by %lld bytes\n", remove.ms,
                static_cast<long long>(remove.written), static_cast<long long>(remove.grown));
    std::printf("earlier items rewritten: %s\n", append.written < (int64_t{1} << 20) ? "no" : "YES");
    if (!ok || append.written >= (int64_t{1} << 20)) rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "commit benchmark failed: %s\n", e.what());
    rc = 1;
  }
  std::filesystem::remove_all(dir);
  return rc;
}
