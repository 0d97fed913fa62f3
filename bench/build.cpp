// BENCH_LIBS: catalogue
//
// The whole book-list build from an index file, as the program runs it:
// reading and staging, the walk, packing. Without arguments it builds the
// scale sample collection's catalogue ($TOMESHELF_BENCH_CACHE/scale, made by
// scripts/bench: 500,000 records) into a temporary folder; with
//
//     bench_build INPX OUT.dbz
//
// it builds the catalogue of any index file into OUT.dbz, to be inspected.
// Prints each phase's time and the peak memory, then times the generator's
// Python model computing the same catalogue from the same index file and
// prints the ratio, and whether the two catalogues are equal.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchUtil.h"
#include "catalogue/BookList.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"

namespace fs = std::filesystem;
using namespace catalogue;

namespace {

// Notes when each phase begins, by the status texts the build shows.
struct TPhaseHost : TPlainJobHost {
  using Clock = std::chrono::steady_clock;
  void showSB(const std::string& p0, const std::string& p1, const std::string& p2) override {
    TPlainJobHost::showSB(p0, p1, p2);
    if (p0 == "Создание списка книг") walk = Clock::now();
    if (p0 == "Архивация...") pack = Clock::now();
  }
  void ShowMessage(const std::string&, const std::string&) override {}
  Clock::time_point walk, pack;
};

}  // namespace

int main(int argc, char** argv) {
  std::string inpx, out;
  fs::path work;
  if (argc == 3) {
    inpx = argv[1];
    out = fs::absolute(argv[2]).string();
  } else {
    inpx = (bench::CacheDir() / "scale" / "librusec.inpx").string();
    if (!fs::exists(inpx)) {
      std::fprintf(stderr, "no scale collection at %s: run scripts/bench\n", inpx.c_str());
      return 0;
    }
  }
  work = fs::temp_directory_path() / ("tomeshelf-bench-build-" + std::to_string(getpid()));
  fs::create_directories(work / "TMP");
  if (out.empty()) out = (work / "tomeshelf.dbz").string();

  TBuildSession session;
  session.dataDir = work.string();
  session.workDir = (work / "TMP").string();
  session.dbzPath = out;
  session.inpFile = fs::absolute(inpx).string();
  platform::TScriptedDialogs yes;
  yes.answers = {platform::mrYes};
  platform::TDialogProviderScope scope(&yes);
  TPhaseHost host;

  const auto t0 = TPhaseHost::Clock::now();
  createBookList(host, session);
  const auto t1 = TPhaseHost::Clock::now();
  const auto s = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
  const double total = s(t0, t1);
  std::printf("index file  %s\n", inpx.c_str());
  std::printf("catalogue   %lld authors, %lld books [%lld], %lld read errors, %.1f MB archive\n",
              static_cast<long long>(session.authors), static_cast<long long>(session.books),
              static_cast<long long>(session.duplicates), static_cast<long long>(session.readErrors),
              static_cast<double>(fs::file_size(out)) / 1e6);
  std::printf("reading and staging  %6.2f s (with the book index)\n", s(t0, host.walk));
  std::printf("walk                 %6.2f s\n", s(host.walk, host.pack));
  std::printf("packing              %6.2f s\n", s(host.pack, t1));
  std::printf("whole build          %6.2f s (target 5 s), peak memory %.0f MB (target 300 MB)\n", total,
              bench::PeakMiB());

  const std::string model = (work / "model.dbz").string();
  const std::string command = "/usr/bin/python3 " +
                              sample::Quote((fs::path(TOMESHELF_SOURCE_DIR) / "tools/make_collection.py").string()) +
                              " --model-of " + sample::Quote(session.inpFile) + " --dbz " + sample::Quote(model) +
                              " >/dev/null 2>&1";
  const auto p0 = TPhaseHost::Clock::now();
  const int rc = std::system(command.c_str());
  const double python = s(p0, TPhaseHost::Clock::now());
  if (rc == 0) {
    std::printf("python model         %6.2f s, ratio python / ours %.1f; catalogues %s\n", python, python / total,
                sample::ReadZipMembers(out) == sample::ReadZipMembers(model) ? "equal" : "DIFFER");
  } else {
    std::printf("python model failed\n");
  }
  fs::remove_all(work);
  return 0;
}
