// Fuzz harness: extraction. Every item goes to a temporary folder (whose
// contents must stay below it), into a string, and its first bytes into a
// buffer. The component has a password, so that encrypted items are
// decrypted and checked (the AES seeds use it). Then, with
// ExtractCorruptedFiles, every item of a plain method gives at least what
// zlib recovers of its record (the oracle of FuzzUtil.h): a damaged item
// keeps what lies before its damage.
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzUtil.h"

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

  arc.SetExtractCorruptedFiles(true);
  archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  for (const int i : fuzz::NamedItems(dir)) {
    const std::optional<std::string> floor = fuzz::ZlibFloor(data, size, dir[i]);
    if (!floor || floor->empty()) continue;
    // Into a stream: ExtractToString reserves what the sizes declare, and
    // fuzzed sizes may not fit the memory limit.
    platform::TStringStream got;
    fuzz::Expected([&] { arc.ExtractToStream(dir[i].Name, got); });
    if (!fuzz::KeepsFloor(got.DataString(), *floor)) std::abort();
  }
  return 0;
}
