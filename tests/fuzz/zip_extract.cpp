// Fuzz harness: extraction. Every item goes to a temporary folder (whose
// contents must stay below it), into a string, and its first bytes into a
// buffer. The component has a password, so that encrypted items are
// decrypted and checked (the AES seeds use it). Then, with
// ExtractCorruptedFiles, every item of a plain method gives at least what
// zlib recovers of its record (the oracle of FuzzUtil.h): a damaged item
// keeps what lies before its damage; and all items give no more weight
// than the input (no byte of it is read for two items). Last, the change
// road (Change, below) adds, replaces, deletes or renames an item.
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "FuzzUtil.h"

namespace {

// The change road. The input, opened as OpenArchive opens by default, gets
// one change that the input chooses: an item added, or one (that read
// cleanly, where one did) replaced, deleted or renamed. The change raises
// and leaves the bytes as they were; or every item that read cleanly
// before reads the same after, in a lenient open and in a strict one (which
// may refuse the result only where records of the input lay over one
// another, as they still do), and the result weighs no more than the input
// and the new item.
void Change(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzz::TArchive before(data, size, /*lenient=*/true);
  if (!before.Open()) return;
  archiver::TZipArchiver& arc = before.Arc();
  arc.SetPassword(fuzz::kPassword);
  arc.Options().SetOverwriteMode(archiver::omAlways);
  arc.Options().SetRecurse(false);
  std::map<std::string, std::string> expected = fuzz::CleanItems(arc);
  archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  bool overlapping = false;
  int index = -1;
  for (int i = 0; i < dir.Count(); ++i) overlapping = overlapping || dir[i].Overlaps;
  const std::string added = "fuzz-added.txt", renamed = "fuzz-renamed.txt";
  if (dir.FileExists(added, index) || dir.FileExists(renamed, index)) return;
  // The item changed: the first file that read cleanly, else (a change of
  // the damaged ones must not harm the others) the first file; of a name
  // that a replace stores as it is.
  std::string item;
  for (const auto& entry : expected)
    if (fuzz::PlainName(entry.first) && dir.FileExists(entry.first, index) && !dir[index].IsDirectory()) {
      item = entry.first;
      break;
    }
  for (const int i : fuzz::NamedItems(dir))
    if (item.empty() && fuzz::PlainName(dir[i].Name) && !dir[i].IsDirectory()) item = dir[i].Name;
  const std::string text = "written by the change road\n";
  const int change = item.empty() ? 0 : data[size / 2] % 4;
  bool raised = true;
  fuzz::Expected([&] {
    switch (change) {
      case 0:
        arc.AddFromString(added, text);
        break;
      case 1:
        arc.AddFromString(item, text);
        break;
      case 2:
        arc.DeleteFiles(item, archiver::ZADefaultSearchAttr, "");
        break;
      default:
        arc.RenameFile(item, renamed);
        break;
    }
    raised = false;
  });
  const std::string after = before.Bytes();
  if (raised) {
    if (after != input) std::abort();
    return;
  }
  if (change == 0) expected[added] = text;
  if (change == 1) expected[item] = text;
  if (change == 3 && expected.count(item)) expected[renamed] = expected[item];
  if (change >= 2) expected.erase(item);
  for (const bool lenient : {true, false}) {
    fuzz::TArchive check(reinterpret_cast<const uint8_t*>(after.data()), after.size(), lenient);
    if (!check.Open()) {
      if (lenient || !overlapping) std::abort();
      continue;
    }
    check.Arc().SetPassword(fuzz::kPassword);
    if (!fuzz::ReadsTheSame(check.Arc(), expected)) std::abort();
    if (lenient && fuzz::WeighedOutput(check.Arc()) > size + text.size()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TArchive archive(data, size, /*lenient=*/true);
  if (!archive.Open()) return 0;
  const std::filesystem::path out = fuzz::Scratch() / "out";
  std::filesystem::create_directories(out);
  archiver::TZipArchiver& arc = archive.Arc();
  arc.SetPassword(fuzz::kPassword);
  arc.SetBaseDir(out.string());
  arc.Options().SetOverwriteMode(archiver::omAlways);
  fuzz::Expected([&] { arc.ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""); });
  // Nothing lands outside the destination folder.
  if (!fuzz::OnlyThese(fuzz::Scratch(), {"out"})) std::abort();
  const std::vector<std::string> names = archive.Names();
  for (size_t i = 0; i < names.size() && i < fuzz::kMaxNamed; ++i) {
    const std::string& name = names[i];
    fuzz::Expected([&] {
      std::string text;
      arc.ExtractToString(name, text);
    });
    fuzz::Expected([&] {
      char head[64];
      arc.ExtractToBuffer(name, head, sizeof head, 0);
    });
  }
  std::filesystem::remove_all(out);

  uint64_t weight = 0;
  const auto weigh = [&](const archiver::TDirItem& item, const std::string& got, bool) {
    weight += fuzz::Weight(item, got.size());
    const std::optional<std::string> floor = fuzz::ZlibFloor(data, size, item);
    if (floor && !floor->empty() && !fuzz::KeepsFloor(got, *floor)) std::abort();
  };
  fuzz::ReadNamed(arc, /*damaged=*/true, weigh);
  // No byte of the input is read for two items.
  if (weight > size) std::abort();
  Change(data, size);
  return 0;
}
