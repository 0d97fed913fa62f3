// BENCH_LIBS: catalogue
//
// The whole book-list build as the program runs it: reading and staging,
// the walk, packing. Without arguments it builds the scale sample
// collection's catalogues ($TOMESHELF_BENCH_CACHE/scale, made by
// scripts/bench: 500,000 records, 500 archives) into a temporary folder,
// first from the index file, then from the FB2 heads of the archives; with
//
//     bench_build INPX OUT.dbz
//
// it builds the catalogue of any index file into OUT.dbz, to be inspected.
// Prints each phase's time and the peak memory. In the same run the
// generator's Python model computes the index file's catalogue (the ratio
// and whether the two catalogues are equal are printed), and a Python
// script reads the FB2 heads with zipfile and xml.etree (the ratio to the
// whole FB2 build is printed).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchUtil.h"
#include "bench/PythonHeads.h"
#include "catalogue/BookList.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"

namespace fs = std::filesystem;
using namespace catalogue;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Notes when each phase begins, by the status texts the build shows.
struct TPhaseHost : TPlainJobHost {
  void showSB(const std::string& p0, const std::string& p1, const std::string& p2) override {
    TPlainJobHost::showSB(p0, p1, p2);
    if (p0 == "Создание списка книг") walk = Clock::now();
    if (p0 == "Архивация...") pack = Clock::now();
  }
  void ShowMessage(const std::string&, const std::string&) override {}
  Clock::time_point walk, pack;
};

// Builds the session's catalogue, prints its phases; the whole time.
double TimeBuild(const char* what, TBuildSession& session) {
  platform::TScriptedDialogs yes;
  yes.answers = {platform::mrYes};
  platform::TDialogProviderScope scope(&yes);
  TPhaseHost host;
  const auto t0 = Clock::now();
  createBookList(host, session);
  const auto t1 = Clock::now();
  const double total = Seconds(t0, t1);
  std::printf("%s: %lld authors, %lld books [%lld], %lld read errors, %.1f MB catalogue\n", what,
              static_cast<long long>(session.authors), static_cast<long long>(session.books),
              static_cast<long long>(session.duplicates), static_cast<long long>(session.readErrors),
              static_cast<double>(fs::file_size(session.dbzPath)) / 1e6);
  std::printf("  reading and staging  %6.2f s (%.2f us/book, with the book index)\n", Seconds(t0, host.walk),
              Seconds(t0, host.walk) * 1e6 / static_cast<double>(std::max<int64_t>(session.books, 1)));
  std::printf("  walk                 %6.2f s\n", Seconds(host.walk, host.pack));
  std::printf("  packing              %6.2f s\n", Seconds(host.pack, t1));
  std::printf("  whole build          %6.2f s (%.2f us/book), peak memory so far %.0f MB\n", total,
              total * 1e6 / static_cast<double>(std::max<int64_t>(session.books, 1)), bench::PeakMiB());
  return total;
}

// Runs a Python command line; its time, or a negative one when it failed.
double TimePython(const std::string& command) {
  const auto t0 = Clock::now();
  const int rc = std::system(command.c_str());
  return rc == 0 ? Seconds(t0, Clock::now()) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path scale = bench::CacheDir() / "scale";
  std::string inpx, out;
  if (argc == 3) {
    inpx = fs::absolute(argv[1]).string();
    out = fs::absolute(argv[2]).string();
  } else {
    inpx = (scale / "librusec.inpx").string();
    if (!fs::exists(inpx)) {
      std::fprintf(stderr, "no scale collection at %s: run scripts/bench\n", scale.c_str());
      return 0;
    }
  }
  const fs::path work = fs::temp_directory_path() / ("tomeshelf-bench-build-" + std::to_string(getpid()));
  fs::create_directories(work / "TMP");
  if (out.empty()) out = (work / "tomeshelf.dbz").string();

  TBuildSession session;
  session.dataDir = work.string();
  session.workDir = (work / "TMP").string();
  session.dbzPath = out;
  session.inpFile = inpx;
  std::printf("index file %s\n", inpx.c_str());
  const double index = TimeBuild("from the index file", session);
  std::printf("  targets: 5 s and 300 MB for 500,000 records\n");

  const std::string tools = (fs::path(TOMESHELF_SOURCE_DIR) / "tools").string();
  const std::string model = (work / "model.dbz").string();
  const double python = TimePython("/usr/bin/python3 " + sample::Quote(tools + "/make_collection.py") +
                                   " --model-of " + sample::Quote(inpx) + " --dbz " + sample::Quote(model) +
                                   " >/dev/null 2>&1");
  if (python < 0) {
    std::printf("  python model failed\n");
  } else {
    std::printf("  python model         %6.2f s, ratio python / ours %.1f; catalogues %s\n", python, python / index,
                sample::ReadZipMembers(out) == sample::ReadZipMembers(model) ? "equal" : "DIFFER");
  }

  if (argc != 3) {
    session.useInp = false;
    session.libDir = (scale / "lib").string();
    session.expDir = work.string();
    const double heads = TimeBuild("from the FB2 heads", session);
    const double pyHeads = TimePython("/usr/bin/python3 -c " + sample::Quote(bench::kPythonHeads) + " " +
                                      sample::Quote(session.libDir) + " >/dev/null");
    if (pyHeads >= 0)
      std::printf("  python reading the heads (zipfile, xml.etree) %6.2f s, ratio python / ours %.1f\n", pyHeads,
                  pyHeads / heads);
  }
  fs::remove_all(work);
  return 0;
}
