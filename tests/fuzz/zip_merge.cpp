// Fuzz harness: merge. The input, as a file, is merged into a fresh
// archive of one item (a clash keeps that item). The merge either raises
// and leaves the archive as it was, or the archive opens strictly, keeps
// its own item intact, and every merged item extracts or fails as damaged.
#include <filesystem>
#include <string>

#include "FuzzUtil.h"
#include "platform/Files.h"

namespace {

const std::string kKept = "kept item: this text must come back as it went in\n";

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
  check.CloseArchive();
  std::filesystem::remove(in);
  return 0;
}
