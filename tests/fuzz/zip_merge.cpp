// Fuzz harness: merge. The input, as a file, is merged into a fresh
// archive of one item (a clash keeps that item). The merge either raises
// and leaves the archive as it was, or the archive opens strictly, keeps
// its own item intact, every item that came out of the input whole comes
// out of the merged archive whole and the same, and the other merged items
// extract or fail as damaged. "Whole" is what a peer says: our reader
// passed the item in the input, and zlib, reading the record where the
// entry points, gives the same bytes with the entry's size and CRC.
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string>

#include "FuzzUtil.h"
#include "platform/Files.h"

namespace {

const std::string kKept = "kept item: this text must come back as it went in\n";

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// The data of `item`'s record in the archive bytes `zip` as a peer reads
// it: stored, or inflated by zlib; true when it is whole by the entry's
// size and CRC. Encrypted items and other methods are not judged.
bool PeerReadsWhole(const std::string& zip, const archiver::TDirItem& item, std::string& out) {
  const archiver::TZAZipCentralDir& cd = item.CentralDir;
  const uint64_t at = item.LocalHeaderOffset(), size = item.CompressedSize(), declared = item.UncompressedSize();
  if ((cd.genPurposeFlag & 1) || (cd.compMethod != 0 && cd.compMethod != 8) || declared > (64u << 20)) return false;
  if (at > zip.size() || zip.size() - at < 30 || U32(zip, at) != 0x04034B50) return false;
  const uint64_t data = at + 30 + U16(zip, at + 26) + U16(zip, at + 28);
  if (data > zip.size() || zip.size() - data < size) return false;
  const std::string raw = zip.substr(data, size);
  if (cd.compMethod == 0) {
    out = raw;
  } else {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    out.assign(declared + 1, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return false;
  }
  return out.size() == declared &&
         crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())) == cd.crc32;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The items of the input that come out whole, by name, with their bytes:
// only names that stand for one item (no wildcard, no other item of that
// name in any case, not the kept item's).
std::map<std::string, std::string> WholeItems(const std::string& path) {
  std::map<std::string, std::string> whole;
  const std::string zip = platform::ReadFileBytes(path);
  archiver::TZipArchiver source;
  source.SetFileName(path);
  source.SetOpenCorruptedArchives(true);
  source.OnPassword = [](archiver::TZABaseArchiver&, const std::string&, std::string&, bool& skip) { skip = true; };
  fuzz::Expected([&] {
    source.OpenArchive(archiver::ZAModeReadShared);
    const archiver::TZADirArray& dir = source.DMHandle()->CDir;
    std::map<std::string, int> names;
    for (int i = 0; i < dir.Count(); ++i) ++names[Lower(dir[i].Name)];
    names[Lower("kept.txt")] += 2;
    for (int i = 0; i < dir.Count() && i < static_cast<int>(fuzz::kMaxNamed); ++i) {
      const archiver::TDirItem& item = dir[i];
      if (item.IsDirectory() || item.Name.empty() || names[Lower(item.Name)] != 1 ||
          item.Name.find_first_of("*?") != std::string::npos)
        continue;
      std::string ours, peer;
      bool read = false;
      fuzz::Expected([&] {
        source.ExtractToString(item.Name, ours);
        read = true;
      });
      if (read && PeerReadsWhole(zip, item, peer) && peer == ours) whole[item.Name] = ours;
    }
  });
  return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path dir = fuzz::Scratch();
  const std::string in = (dir / "in.zip").string(), target = (dir / "target.zip").string();
  fuzz::WriteInput(in, data, size);
  std::filesystem::remove(target);
  {
    archiver::TZipArchiver fresh;
    fresh.SetFileName(target);
    fresh.OpenArchive(archiver::ZAModeCreate);
    fresh.AddFromString("kept.txt", kKept);
    fresh.CloseArchive();
  }
  const std::map<std::string, std::string> whole = WholeItems(in);
  const std::string before = platform::ReadFileBytes(target);
  bool raised = true;
  {
    archiver::TZipArchiver arc;
    arc.SetFileName(target);
    arc.SetOpenCorruptedArchives(true);
    arc.Options().SetOverwriteMode(archiver::omNever);
    fuzz::IgnoreFailures(arc);
    arc.OpenArchive(archiver::ZAModeReadWrite);
    fuzz::Expected([&] {
      arc.MergeWith(in);
      raised = false;
    });
  }
  if (!fuzz::OnlyThese(dir, {"in.zip", "target.zip"})) std::abort();
  if (raised && platform::ReadFileBytes(target) != before) std::abort();
  archiver::TZipArchiver check;
  check.SetFileName(target);
  check.SetPassword(fuzz::kPassword);
  check.OnPassword = [](archiver::TZABaseArchiver&, const std::string&, std::string&, bool& skip) { skip = true; };
  try {
    check.OpenArchive(archiver::ZAModeRead);
  } catch (const std::exception&) {
    std::abort();  // a merged archive must open strictly
  }
  bool keptSeen = false;
  for (int i = 0; i < check.DMHandle()->CDir.Count() && i < static_cast<int>(fuzz::kMaxNamed); ++i) {
    const std::string name = check.DMHandle()->CDir[i].Name;
    std::string text;
    fuzz::Expected([&] { check.ExtractToString(name, text); });
    if (i == 0 && name == "kept.txt" && text == kKept) keptSeen = true;
  }
  if (!keptSeen) std::abort();
  // What came out whole goes on coming out whole.
  if (!raised)
    for (const auto& [name, bytes] : whole) {
      std::string text;
      try {
        check.ExtractToString(name, text);
      } catch (const archiver::EZAException&) {
        std::abort();
      }
      if (text != bytes) std::abort();
    }
  check.CloseArchive();
  std::filesystem::remove(in);
  return 0;
}
