// What the archive harnesses share: an archive opened over the input bytes
// in memory, and the operations every harness runs on it.
//
// A harness is one function, LLVMFuzzerTestOneInput, that takes bytes: built
// with clang and -fsanitize=fuzzer it is a libFuzzer target (scripts/fuzz);
// built with the normal compiler and replay_main.cpp it replays files (the
// CTest replay of the corpus). Expected failures (the archiver's errors, a
// short stream) are caught; anything else escapes and counts as a finding.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <initializer_list>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "platform/File.h"
#include "platform/Streams.h"

namespace fuzz {

// How many items a harness handles one by one (by name).
inline constexpr size_t kMaxNamed = 64;

// Runs `f`, swallowing the failures an archive may rightly cause.
template <class F>
void Expected(F&& f) {
  try {
    f();
  } catch (const archiver::EZAException&) {
  } catch (const platform::EStreamError&) {
  } catch (const platform::EFileError&) {
  }
}

// The password the harnesses give: the AES seeds of the corpus are
// encrypted with it, so that decryption and its checks are reached.
inline constexpr const char* kPassword = "SECRET";

// One scratch folder per process, removed at exit. In memory where the
// system offers it: extraction and commits sync what they write.
inline const std::filesystem::path& Scratch() {
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
  static const TFolder folder;
  return folder.dir;
}

// Writes the input into `path`.
inline void WriteInput(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  platform::TFileStream f(path.string(), platform::fmCreate);
  f.WriteBuffer(data, static_cast<int64_t>(size));
}

// The names in `dir` other than `keep`: a harness's leftovers.
inline bool OnlyThese(const std::filesystem::path& dir, std::initializer_list<std::string> keep) {
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (std::find(keep.begin(), keep.end(), e.path().filename().string()) == keep.end()) return false;
  return true;
}

// Answers every failure of a single item with Ignore, and collects the
// names that failed.
inline void IgnoreFailures(archiver::TZABaseArchiver& arc, std::vector<std::string>* failed = nullptr) {
  arc.OnProcessFileFailure = [failed](archiver::TZABaseArchiver&, const std::string& name,
                                      archiver::TZAProcessOperation, int, int, const std::string&,
                                      archiver::TZAAction& action) {
    if (failed) failed->push_back(name);
    action = archiver::fxaIgnore;
  };
}

// An archive component over the input bytes. `lenient` opens damaged
// archives (the rebuild from local headers); otherwise they are refused.
class TArchive {
 public:
  TArchive(const uint8_t* data, size_t size, bool lenient)
      : stream_(std::string(reinterpret_cast<const char*>(data), size)) {
    arc_.SetOpenCorruptedArchives(lenient);
    // Failures of single items are answered: go on with the next.
    IgnoreFailures(arc_);
    arc_.OnPassword = [](archiver::TZABaseArchiver&, const std::string&, std::string&, bool& skip) { skip = true; };
    Expected([&] {
      arc_.OpenArchive(stream_, false);
      open_ = true;
    });
  }

  bool Open() const { return open_; }
  archiver::TZipArchiver& Arc() { return arc_; }

  // Stored path + file name of every item, as listed.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    Expected([&] {
      archiver::TZAArchiveItem F;
      for (bool ok = arc_.FindFirst("*.*", F, archiver::ZADefaultSearchAttr, ""); ok; ok = arc_.FindNext(F))
        names.push_back(F.StoredPath + F.FileName);
    });
    return names;
  }

  // Looks the listed names up again, by the index and by their name part
  // (the first kMaxNamed: a long list adds no new paths, only time).
  void LookUp(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size() && i < kMaxNamed; ++i)
      Expected([&, n = names[i]] {
        archiver::TZAArchiveItem F;
        arc_.FindFirst(n, F, 0x1EF, "");
        const size_t slash = n.rfind('/');
        if (slash != std::string::npos) arc_.FindFirst(n.substr(slash + 1), F, 0x1EF, "");
      });
  }

  void TestAll() {
    Expected([&] { arc_.TestFiles("*.*", archiver::ZADefaultSearchAttr, ""); });
  }

 private:
  platform::TStringStream stream_;
  archiver::TZipArchiver arc_;
  bool open_ = false;
};

}  // namespace fuzz
