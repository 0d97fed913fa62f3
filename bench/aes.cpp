// BENCH_LIBS: archiver
// AES items through the archive component, against the same items without
// a password in the same run: 100 MB of text at mode 1 and 100 MB of random
// bytes at mode 0, written (AddFromStream, one commit) and tested
// (TestFiles), with AES-256 and without. Prints MB/s, the ratios AES / plain
// (targets: writing at mode 1 <= 1.15, testing <= 1.35; stored AES-256
// >= 300 MB/s both ways) and 7-Zip's test time of the same archives. Then
// TestFiles over 2,000 AES-256 items of 1 KiB against 2,000 key derivations
// (PBKDF2-HMAC-SHA-1, 66 bytes, 1000 iterations) measured in the same run:
// one derivation per item is the floor (target <= 1.3x).
// The archives go to $TOMESHELF_BENCH_CACHE (or build/bench-data) and are
// removed afterwards.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archiver/ZipArchiver.h"
#include "archiver/crypto/ZApb_kdf.h"
#include "bench/BenchUtil.h"
#include "platform/Streams.h"

namespace {

using bench::BestSeconds;
using bench::TextData;

constexpr size_t kSize = 100'000'000;
constexpr char kPassword[] = "SECRET";

std::string RandomData(size_t size) {
  std::string s(size, '\0');
  std::mt19937_64 gen(7);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t v = gen();
    std::memcpy(&s[i], &v, 8);
  }
  return s;
}

struct TItem {
  std::string name;
  const std::string* data;
};

// Writes the items into a new archive at `path`: AES-256 when `aes`.
void WriteArchive(const std::string& path, const std::vector<TItem>& items, int mode, bool aes) {
  std::filesystem::remove(path);
  archiver::TZipArchiver arc;
  arc.SetFileName(path);
  arc.SetCompressionMode(mode);
  if (aes) {
    arc.SetPassword(kPassword);
    arc.SetEncryptionMethod(archiver::caAES_256);
  }
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.BeginUpdate();
  std::vector<std::unique_ptr<platform::TStringStream>> sources;
  for (const TItem& item : items) {
    sources.push_back(std::make_unique<platform::TStringStream>(*item.data));
    arc.AddFromStream(item.name, *sources.back(), false);
  }
  arc.EndUpdate();
  arc.CloseArchive();
}

// TestFiles over every item; false when one failed.
bool TestArchive(const std::string& path, bool aes) {
  archiver::TZipArchiver arc;
  arc.SetFileName(path);
  if (aes) arc.SetPassword(kPassword);
  arc.OpenArchive(archiver::ZAModeRead);
  const int count = arc.DMHandle()->CDir.Count();
  return arc.TestFiles("*.*", archiver::ZADefaultSearchAttr, "") == count;
}

// 7-Zip's test time of the archive, or -1 when it failed.
double SevenZipSeconds(const std::string& path, bool aes) {
  const std::string cmd = std::string("7zz t ") + (aes ? "-pSECRET " : "") + "'" + path + "' >/dev/null 2>&1";
  bool ok = true;
  const double s = BestSeconds(2, [&] { ok = ok && std::system(cmd.c_str()) == 0; });
  return ok ? s : -1;
}

void Compare(const std::filesystem::path& dir, const char* what, const std::string& data, int mode) {
  const double mb = static_cast<double>(data.size()) / 1e6;
  const std::vector<TItem> items = {{"data.bin", &data}};
  double write[2], test[2], seven[2];
  bool ok = true;
  for (const bool aes : {false, true}) {
    const std::string path = (dir / (aes ? "aes.zip" : "plain.zip")).string();
    write[aes] = BestSeconds(5, [&] { WriteArchive(path, items, mode, aes); });
    test[aes] = BestSeconds(5, [&] { ok = TestArchive(path, aes) && ok; });
    seven[aes] = SevenZipSeconds(path, aes);
  }
  std::printf("%s, mode %d%s\n", what, mode, ok ? "" : "  CHECK FAILED");
  std::printf("  write: plain %7.1f MB/s   AES-256 %7.1f MB/s   ratio %.3f\n", mb / write[0], mb / write[1],
              write[1] / write[0]);
  std::printf("  test:  plain %7.1f MB/s   AES-256 %7.1f MB/s   ratio %.3f\n", mb / test[0], mb / test[1],
              test[1] / test[0]);
  std::printf("  7zz t: plain %7.1f MB/s   AES-256 %7.1f MB/s   (ours / 7zz time: %.2f, %.2f)\n",
              mb / seven[0], mb / seven[1], test[0] / seven[0], test[1] / seven[1]);
}

void ManySmallItems(const std::filesystem::path& dir) {
  constexpr int kItems = 2000;
  std::vector<std::string> bodies;
  for (int i = 0; i < kItems; ++i) bodies.push_back(TextData(1024 + static_cast<size_t>(i)).substr(i, 1024));
  std::vector<TItem> items;
  for (int i = 0; i < kItems; ++i) items.push_back({"book" + std::to_string(i) + ".fb2", &bodies[static_cast<size_t>(i)]});
  const std::string path = (dir / "small.zip").string();
  WriteArchive(path, items, 1, true);

  bool ok = true;
  const double test = BestSeconds(3, [&] { ok = TestArchive(path, true) && ok; });
  const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  uint8_t key[66];
  const double derive = BestSeconds(3, [&] {
    for (int i = 0; i < kItems; ++i) archiver::crypto::Pbkdf2Sha1(kPassword, 6, salt, sizeof salt, 1000, key, sizeof key);
  });
  std::printf("2,000 AES-256 items of 1 KiB: TestFiles %.0f ms, 2,000 derivations %.0f ms, ratio %.3f%s\n",
              test * 1e3, derive * 1e3, test / derive, ok ? "" : "  CHECK FAILED");
}

}  // namespace

int main() {
  const std::filesystem::path dir = bench::CacheDir() / "aes";
  std::filesystem::create_directories(dir);
  Compare(dir, "100 MB of text", TextData(kSize), 1);
  Compare(dir, "100 MB of random bytes", RandomData(kSize), 0);
  ManySmallItems(dir);
  std::filesystem::remove_all(dir);
  return 0;
}
