// Fuzz harness: repair. The input, as a file, is repaired into a second
// file with the password given. A repair either raises and writes nothing,
// or writes an archive that opens strictly and whose items test clean, but
// for those it reported as damaged or could not verify; its data file is
// gone either way, and the input is never changed.
#include <filesystem>
#include <string>

#include "FuzzUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
    check.CloseArchive();
    std::filesystem::remove(out);
  }
  std::filesystem::remove(in);
  return 0;
}
