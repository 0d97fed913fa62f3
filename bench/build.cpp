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
// Prints each phase's time, the build's peak memory and its read and write
// calls, and builds the same catalogue a second time in the process to show
// that the second peaks where the first did. In the same run it times a
// parse floor -- the build's own reader handing every book to a sink that
// only counts (for the index file: reading every ".inp" member and
// splitting its records and author lists; for the FB2 build: reading and
// parsing every head) -- and the generator's Python model of the index
// file's catalogue (whether the two catalogues are equal is printed), and a
// Python script that reads the FB2 heads with zipfile and xml.etree; the
// build's ratios to them are printed beside the targets.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchUtil.h"
#include "bench/PythonHeads.h"
#include "catalogue/BookList.h"
#include "catalogue/Fb2Reader.h"
#include "catalogue/InpxReader.h"
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

// What one build took.
struct TBuildFigures {
  double seconds = 0;
  long long calls = 0;  // read and write calls
  double peakMiB = 0;   // peak resident memory during the build
};

// Builds the session's catalogue, prints its phases and figures.
TBuildFigures TimeBuild(const char* what, TBuildSession& session) {
  platform::TScriptedDialogs yes;
  yes.answers = {platform::mrYes};
  platform::TDialogProviderScope scope(&yes);
  TPhaseHost host;
  bench::ResetPeak();
  const long long calls0 = bench::ReadWriteCalls();
  const auto t0 = Clock::now();
  createBookList(host, session);
  const auto t1 = Clock::now();
  TBuildFigures f{Seconds(t0, t1), bench::ReadWriteCalls() - calls0, bench::PeakSinceResetMiB()};
  const double books = static_cast<double>(std::max<int64_t>(session.books, 1));
  std::printf("%s: %lld authors, %lld books [%lld], %lld read errors, %.1f MB catalogue\n", what,
              static_cast<long long>(session.authors), static_cast<long long>(session.books),
              static_cast<long long>(session.duplicates), static_cast<long long>(session.readErrors),
              static_cast<double>(fs::file_size(session.dbzPath)) / 1e6);
  std::printf("  reading and staging  %6.2f s (%.2f us/book, with both indexes)\n", Seconds(t0, host.walk),
              Seconds(t0, host.walk) * 1e6 / books);
  std::printf("  walk                 %6.2f s\n", Seconds(host.walk, host.pack));
  std::printf("  packing              %6.2f s\n", Seconds(host.pack, t1));
  std::printf("  whole build          %6.2f s (%.2f us/book), peak memory %.0f MB, %lld read and write calls\n",
              f.seconds, f.seconds * 1e6 / books, f.peakMiB, f.calls);
  return f;
}

// Counts what a reader delivers and keeps nothing.
struct TCountingSink : TBookSink {
  void appendBook(const TBOOK& book, const AnsiString&) override {
    ++books;
    authors += static_cast<long long>(book.author.size());
  }
  void readError() override { ++errors; }
  long long books = 0, authors = 0, errors = 0;
};

// Times a reader over the collection into a counting sink.
template <class Read>
double TimeFloor(const char* what, Read&& read) {
  TPlainJobHost host;
  TCountingSink sink;
  const auto t0 = Clock::now();
  read(host, sink);
  const double seconds = Seconds(t0, Clock::now());
  std::printf("parse floor, %s: %6.2f s, %lld books, %lld author names, %lld read errors\n", what, seconds,
              sink.books, sink.authors, sink.errors);
  return seconds;
}

// The second build's figures beside the first's, and its peak's distance
// from the first's.
void PrintSecondBuild(const TBuildFigures& first, const TBuildFigures& second) {
  std::printf("  second build in the same process: %.2f s, peak memory %.0f MB (%+.1f %% of the first's; target "
              "within 10 %%)\n",
              second.seconds, second.peakMiB, (second.peakMiB / first.peakMiB - 1) * 100);
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
  const double floor = TimeFloor("reading every .inp member, splitting its records and author lists",
                                 [&](TJobHost& host, TBookSink& sink) { readInpx(inpx, host, sink); });
  const TBuildFigures index = TimeBuild("from the index file", session);
  // Kept as a file: held in memory it would count in the second build's peak.
  const std::string firstCatalogue = (work / "first.dbz").string();
  fs::copy_file(out, firstCatalogue, fs::copy_options::overwrite_existing);
  PrintSecondBuild(index, TimeBuild("again from the index file", session));
  std::printf("  catalogue of the second build %s the first's\n",
              sample::ReadZipMembers(out) == sample::ReadZipMembers(firstCatalogue) ? "equal to" : "DIFFERENT FROM");

  const std::string tools = (fs::path(TOMESHELF_SOURCE_DIR) / "tools").string();
  const std::string model = (work / "model.dbz").string();
  const double python = TimePython("/usr/bin/python3 " + sample::Quote(tools + "/make_collection.py") +
                                   " --model-of " + sample::Quote(inpx) + " --dbz " + sample::Quote(model) +
                                   " >/dev/null 2>&1");
  if (python < 0) {
    std::printf("  python model failed\n");
  } else {
    std::printf("  python model         %6.2f s; catalogues %s\n", python,
                sample::ReadZipMembers(out) == sample::ReadZipMembers(model) ? "equal" : "DIFFER");
  }
  std::printf("  ratios: build / parse floor %.1f (target <= 5), python model / build %.1f (target >= 3)\n",
              index.seconds / floor, python / index.seconds);
  std::printf("  targets: <= 100,000 read and write calls per 500,000 records (%lld here for %lld), peak <= 200 MB\n",
              index.calls, static_cast<long long>(session.books));

  if (argc != 3) {
    session.useInp = false;
    session.libDir = (scale / "lib").string();
    session.expDir = work.string();
    const double fb2Floor = TimeFloor("reading and parsing every FB2 head", [&](TJobHost& host, TBookSink& sink) {
      TFb2Reader(host, sink).readFb2Archives(session.libDir);
    });
    const TBuildFigures heads = TimeBuild("from the FB2 heads", session);
    PrintSecondBuild(heads, TimeBuild("again from the FB2 heads", session));
    const double pyHeads = TimePython("/usr/bin/python3 -c " + sample::Quote(bench::kPythonHeads) + " " +
                                      sample::Quote(session.libDir) + " >/dev/null");
    std::printf("  ratios: build / parse floor %.1f", heads.seconds / fb2Floor);
    if (pyHeads >= 0)
      std::printf(", python reading the heads (zipfile, xml.etree) %.2f s / build %.1f", pyHeads,
                  pyHeads / heads.seconds);
    std::printf("\n");
  }
  fs::remove_all(work);
  return 0;
}
