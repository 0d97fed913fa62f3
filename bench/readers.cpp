// BENCH_LIBS: catalogue
//
// Reading the collection for the book-list build, on the scale sample
// collection ($TOMESHELF_BENCH_CACHE/scale, made by scripts/bench): the
// index file (500,000 records) and the FB2 heads of its 500 archives. Each
// reading is timed alone (books counted) and staged into a book table as the
// build stages them (one raw record per author, author numbers from a map
// standing in for the engine's author table). Python does the same reading
// in the same run: the generator's own record parser over the index file,
// and zipfile with xml.etree over the first 2,000 bytes of every FB2 member.
// Prints the times, the ratios and the peak memory of the index reading.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "bench/BenchUtil.h"
#include "bench/PythonHeads.h"
#include "catalogue/BookTable.h"
#include "catalogue/Fb2Reader.h"
#include "catalogue/InpxReader.h"
#include "tests/catalogue/BookTableFixtures.h"
#include "tests/catalogue/SampleCatalogue.h"

namespace fs = std::filesystem;
using namespace catalogue;

namespace {

struct TCountingSink : TBookSink {
  void appendBook(const TBOOK& book, const AnsiString&) override {
    ++books;
    authors += book.author.size();
  }
  void readError() override { ++readErrors; }
  int64_t books = 0, authors = 0, readErrors = 0;
};

double PeakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

// Reads with `read(host, sink)` into a counting sink, then staged into a
// book table in `dir`; prints both.
template <class Read>
double TimeReading(const char* what, const fs::path& dir, Read read) {
  TCountingSink counted;
  const double alone = bench::BestSeconds(1, [&] {
    TPlainJobHost host;
    read(host, counted);
  });
  const std::string table = (dir / "bo.dbf").string();
  booktable::WriteNewBookTable(table);
  booktable::TMapAuthors authors;
  uint32_t records = 0;
  const double staged = bench::BestSeconds(1, [&] {
    TBookTableWriter writer(table);
    TBookAppender appender(authors, writer);
    TPlainJobHost host;
    read(host, appender);
    writer.Finish();
    records = writer.Count();
  });
  std::printf("%-10s read %7.3f s (%.2f us/book, %lld books, %lld read errors); staged %7.3f s "
              "(%u records, %zu authors, %.0f MB table)\n",
              what, alone, alone * 1e6 / static_cast<double>(counted.books), static_cast<long long>(counted.books),
              static_cast<long long>(counted.readErrors), staged, records, authors.Names().size(),
              static_cast<double>(fs::file_size(table)) / 1e6);
  return alone;
}

double TimePython(const std::string& script, std::initializer_list<std::string> args) {
  std::string command = "/usr/bin/python3 -c " + sample::Quote(script);
  for (const std::string& arg : args) command += " " + sample::Quote(arg);
  std::string out;
  const double seconds = bench::BestSeconds(1, [&] { out = sample::RunCapture(command); });
  std::printf("           python: %7.3f s, %s", seconds, out.c_str());
  return seconds;
}

const char* kPythonIndex = R"(import sys, zipfile
sys.path.insert(0, sys.argv[2])
import make_collection as m
books = errors = 0
with zipfile.ZipFile(sys.argv[1]) as z:
    for info in z.infolist():
        if not m.inpx_member_is_read(info):
            continue
        data = z.read(info)
        if data.startswith(m.UTF8_BOM):
            data = data[len(m.UTF8_BOM):]
        for line in m.split_lines(m.to_ansi(data.decode("utf-8", "replace"))):
            record = m.parse_record(line)
            if record is None:
                errors += 1
            else:
                books += 1
print("%d books, %d read errors" % (books, errors))
)";

}  // namespace

int main() {
  const fs::path scale = bench::CacheDir() / "scale";
  if (!fs::exists(scale / "librusec.inpx")) {
    std::fprintf(stderr, "no scale collection at %s: run scripts/bench\n", scale.c_str());
    return 0;
  }
  const fs::path dir = fs::temp_directory_path() / ("tomeshelf-bench-readers-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string inpx = (scale / "librusec.inpx").string(), lib = (scale / "lib").string();

  const double index = TimeReading("index", dir, [&](TJobHost& host, TBookSink& sink) { readInpx(inpx, host, sink); });
  std::printf("           peak memory so far %.0f MB\n", PeakMegabytes());
  const std::string tools = (fs::path(TOMESHELF_SOURCE_DIR) / "tools").string();
  const double pyIndex = TimePython(kPythonIndex, {inpx, tools});
  std::printf("           ratio python / ours (reading): %.1f\n", pyIndex / index);

  const double heads = TimeReading("fb2 heads", dir, [&](TJobHost& host, TBookSink& sink) {
    TFb2Reader reader(host, sink);
    reader.readFb2Archives(lib);
  });
  std::printf("           peak memory so far %.0f MB\n", PeakMegabytes());
  const double pyHeads = TimePython(bench::kPythonHeads, {lib});
  std::printf("           ratio python / ours (reading): %.1f\n", pyHeads / heads);
  fs::remove_all(dir);
  return 0;
}
