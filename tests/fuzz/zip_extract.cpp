// Fuzz harness: extraction. Every item goes to a temporary folder (whose
// contents must stay below it), into a string, and its first bytes into a
// buffer.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FuzzUtil.h"

namespace {

// One folder per process, removed at exit; emptied after each input. In
// memory where the system offers it: extraction syncs every file it writes.
struct TFolder {
  std::filesystem::path dir;
  TFolder() {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "fuzzx.XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir = tmpl;
  }
  ~TFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

const std::filesystem::path& Folder() {
  static const TFolder folder;
  return folder.dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TArchive archive(data, size, /*lenient=*/true);
  if (!archive.Open()) return 0;
  const std::filesystem::path out = Folder() / "out";
  std::filesystem::create_directories(out);
  archiver::TZipArchiver& arc = archive.Arc();
  arc.SetBaseDir(out.string());
  arc.Options().SetOverwriteMode(archiver::omAlways);
  fuzz::Expected([&] { arc.ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""); });
  // Nothing lands outside the destination folder.
  for (const auto& e : std::filesystem::directory_iterator(Folder()))
    if (e.path().filename() != "out") std::abort();
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
  return 0;
}
