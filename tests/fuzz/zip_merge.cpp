// Fuzz harness: merge. The input, as a file, is merged into a fresh
// archive of one item (a clash keeps that item). The merge either raises
// and leaves the archive as it was, or the archive opens strictly, keeps
// its own item intact, every item that came out of the input whole comes
// out of the merged archive whole and the same, and the other merged items
// extract or fail as damaged. "Whole" is what a peer says: our reader
// passed the item in the input, and zlib, reading the record where the
// entry points, gives the same bytes with the entry's size and CRC. What
// the merged archive gives weighs no more than the input and its own item
// (no byte is copied for two items).
#include <zlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "FuzzUtil.h"
#include "platform/Files.h"

namespace {

const std::string kKept = "kept item: this text must come back as it went in\n";

// Whether a peer reads `item` of the archive bytes `zip` whole: zlib's
// reading of its record (the oracle of FuzzUtil.h) gives the entry's size
// and CRC. Encrypted items and other methods are not judged.
bool PeerReadsWhole(const std::string& zip, const archiver::TDirItem& item, std::string& out) {
  const std::optional<std::string> peer =
      fuzz::ZlibFloor(reinterpret_cast<const uint8_t*>(zip.data()), zip.size(), item);
  if (!peer || peer->size() != item.UncompressedSize() ||
      crc32(0, reinterpret_cast<const Bytef*>(peer->data()), static_cast<uInt>(peer->size())) != item.CentralDir.crc32)
    return false;
  out = *peer;
  return true;
}

// The items of the input that come out whole, by name, with their bytes:
// only names that stand for one item (fuzz::NamedItems, not the kept
// item's).
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
    for (const int i : fuzz::NamedItems(dir)) {
      const archiver::TDirItem& item = dir[i];
      if (item.IsDirectory() || archiver::ZANameKey(item.Name) == archiver::ZANameKey("kept.txt")) continue;
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
  // No byte of the input is copied for two items.
  if (fuzz::WeighedOutput(check) > size + kKept.size()) std::abort();
  // What came out whole goes on coming out whole.
  if (!raised && !fuzz::ReadsTheSame(check, whole)) std::abort();
  check.CloseArchive();
  std::filesystem::remove(in);
  return 0;
}
