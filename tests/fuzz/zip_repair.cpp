// Fuzz harness: repair. The input, as a file, is repaired into a second
// file with the password given. A repair either raises and writes nothing,
// or writes an archive that opens strictly and whose items test clean, but
// for those it reported as damaged or could not verify; its data file is
// gone either way, and the input is never changed. What it keeps is held
// against zlib (the oracle of FuzzUtil.h): an item of a plain method keeps
// at least what zlib recovers of its record in the input, and an input
// whose items had data never repairs into an archive without any. An item
// that read cleanly reads the same, and what the repaired archive gives
// weighs no more than the input (no byte is kept for two items).
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzUtil.h"

namespace {

// What the input's items should keep, by name: zlib's floor of each item a
// lenient open lists (those their name alone finds), and whether any item
// had data.
struct TFloors {
  std::map<std::string, std::string> byName;
  bool hadData = false;
  std::map<std::string, std::string> clean;  // the items that read cleanly
};

TFloors Floors(const uint8_t* data, size_t size) {
  TFloors floors;
  fuzz::TArchive archive(data, size, /*lenient=*/true);
  if (!archive.Open()) return floors;
  archiver::TZADirArray& dir = archive.Arc().DMHandle()->CDir;
  // A folder is written anew as a folder, whatever bytes it carried; an
  // item is added again under its name as every operation stores it.
  floors.clean = fuzz::CleanItems(archive.Arc());
  std::erase_if(floors.clean, [&](const auto& entry) {
    int index = -1;
    return !fuzz::PlainName(entry.first) || (dir.FileExists(entry.first, index) && dir[index].IsDirectory());
  });
  for (int i = 0; i < dir.Count(); ++i)
    if (!dir[i].IsDirectory() && fuzz::HasData(dir[i])) floors.hadData = true;
  for (const int i : fuzz::NamedItems(dir)) {
    if (dir[i].IsDirectory()) continue;
    const std::optional<std::string> floor = fuzz::ZlibFloor(data, size, dir[i]);
    if (floor && !floor->empty()) floors.byName[dir[i].Name] = *floor;
  }
  return floors;
}

// Whether the input, read here without the archiver, has no end record and
// its first local header is one of an item with data: a plain name, stored
// or deflated, its sizes in the header (no data descriptor, no zip64), at
// least one byte of its data before the next header, and a record that the
// input holds whole or that runs to its end with no header after it (a
// file cut inside its last item). Such an input can only be read from its
// local headers, and that item is there to be kept. (A later header may lie
// in the data of an earlier record, where it is no item.)
bool HeaderWithData(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.find("PK\5\6") != std::string_view::npos) return false;
  const auto u16 = [&](size_t p) { return static_cast<size_t>(archiver::ZAGetU16(data + p)); };
  const auto u32 = [&](size_t p) { return archiver::ZAGetU32(data + p); };
  const size_t at = bytes.find("PK\3\4");
  if (at == std::string_view::npos || size - at < 30) return false;
  const size_t method = u16(at + 8), nameLength = u16(at + 26), extraLength = u16(at + 28);
  const uint32_t compSize = u32(at + 18), size32 = u32(at + 22);
  const size_t dataStart = at + 30 + nameLength + extraLength;
  return !(u16(at + 6) & 8) && (method == 0 || method == 8) && compSize != 0 && compSize != 0xFFFFFFFF &&
         size32 != 0 && size32 != 0xFFFFFFFF && extraLength < 261 && dataStart < size &&
         bytes.substr(dataStart, 4) != "PK\3\4" &&
         (compSize <= size - dataStart || bytes.find("PK\3\4", dataStart) == std::string_view::npos) &&
         fuzz::PlainName(std::string(bytes.substr(at + 30, nameLength)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TFloors floors = Floors(data, size);
  const std::filesystem::path dir = fuzz::Scratch();
  const std::string in = (dir / "in.zip").string(), out = (dir / "out.zip").string();
  fuzz::WriteInput(in, data, size);
  archiver::TZipArchiver arc;
  arc.SetFileName(in);
  arc.SetPassword(fuzz::kPassword);
  std::vector<std::string> reported;
  fuzz::IgnoreFailures(arc, &reported);
  archiver::TZABaseArchiver::TZARepairResult result;
  bool raised = true;
  fuzz::Expected([&] {
    result = arc.RepairArchive(out);
    raised = false;
  });
  if (!fuzz::OnlyThese(dir, {"in.zip", "out.zip"})) std::abort();
  if (platform::TFileStream(in, platform::fmOpenRead).Size() != static_cast<int64_t>(size)) std::abort();
  const bool written = std::filesystem::exists(out);
  if (raised || !result.Completed) {
    if (written) std::abort();
  } else {
    archiver::TZipArchiver check;
    check.SetFileName(out);
    check.SetPassword(fuzz::kPassword);
    check.OnPassword = [](archiver::TZABaseArchiver&, const std::string&, std::string&, bool& skip) { skip = true; };
    std::vector<std::string> failed;
    fuzz::IgnoreFailures(check, &failed);
    try {
      check.OpenArchive(archiver::ZAModeRead);
    } catch (const std::exception&) {
      std::abort();  // a repair's output must open strictly
    }
    if (check.DMHandle()->CDir.Count() != result.Written) std::abort();
    fuzz::Expected([&] { check.TestFiles("*.*", archiver::ZADefaultSearchAttr, ""); });
    if (failed.size() > static_cast<size_t>(result.Damaged + result.Unverified)) std::abort();
    // Nothing with data kept of an input whose items had data is no repair.
    archiver::TZADirArray& kept = check.DMHandle()->CDir;
    bool keptData = false;
    for (int i = 0; i < kept.Count(); ++i) keptData = keptData || fuzz::HasData(kept[i]);
    if ((floors.hadData || HeaderWithData(data, size)) && !keptData) std::abort();
    // What read cleanly reads the same; no byte of the input is kept for
    // two items.
    if (!fuzz::ReadsTheSame(check, floors.clean)) std::abort();
    if (fuzz::WeighedOutput(check) > size) std::abort();
    // Every item keeps at least what zlib recovers of it, read back with
    // ExtractCorruptedFiles. An item of a plain name missing from the
    // output must have been reported.
    check.SetExtractCorruptedFiles(true);
    for (const auto& entry : floors.byName) {
      const std::string& name = entry.first;
      const std::string& floor = entry.second;
      int index = -1;
      if (!kept.FileExists(name, index) || kept[index].Name != name) {
        if (fuzz::PlainName(name) && std::find(reported.begin(), reported.end(), name) == reported.end())
          std::abort();
        continue;
      }
      platform::TStringStream got;
      fuzz::Expected([&] { check.ExtractToStream(name, got); });
      if (!fuzz::KeepsFloor(got.DataString(), floor)) std::abort();
    }
    check.CloseArchive();
    std::filesystem::remove(out);
  }
  std::filesystem::remove(in);
  return 0;
}
