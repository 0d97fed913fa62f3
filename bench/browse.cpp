// BENCH_LIBS: catalogue_ui
//
// Browsing the scale sample catalogue ($TOMESHELF_BENCH_CACHE/scale, made by
// tools/make_collection.py through scripts/bench) in the main window:
//  - the time from creating the window to the full author list on screen;
//  - for 1,000 random authors (fixed seed), the time from selecting the
//    author in LB to a filled, sorted book list, with the core's share
//    (block cache and book rows) and the repaint after it apart.
// Members are read from the archive by readZipMember, through a seam that
// counts the reads.
#include <stdlib.h>

#include <QApplication>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/MemberReader.h"
#include "catalogue/ui/MainWindow.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct TStats {
  double mean, median, p95, max;
};
TStats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  return {sum / v.size(), v[v.size() / 2], v[v.size() * 95 / 100], v.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dbz = bench::ScaleCatalogue();
  if (dbz.empty()) return 1;

  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform's notes on every repaint would drown the figures.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  QApplication app(argc, argv);

  std::string tmpl = (fs::temp_directory_path() / "browsebenchXXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  const fs::path root = tmpl;
  catalogue::TStartupEnvironment env;
  env.programPath = (root / "tomeshelf").string();
  env.isWritable = [](const std::string&) { return true; };
  catalogue::InitAppState(env);
  fs::create_symlink(dbz, catalogue::AppState().dbzPath);

  int reads = 0;
  catalogue::TZipMemberReaderScope readerScope(
      [&reads](const std::string& zip, const std::string& member, int64_t n) {
        ++reads;
        return catalogue::readZipMember(zip, member, n);
      });
  std::printf("catalogue: %s\n", dbz.c_str());

  // The full author list: window creation (author list, first author's
  // books) until it has been painted.
  const auto t0 = Clock::now();
  auto f = std::make_unique<catalogue::TF>();
  f->show();
  QCoreApplication::processEvents();
  const auto t1 = Clock::now();
  const int authors = f->LB->model()->rowCount();
  std::printf("authors: %d\n", authors);
  std::printf("window with the full author list shown: %.1f ms\n", Ms(t1 - t0));

  {
    const auto a = Clock::now();
    f->iniDB();
    const auto b = Clock::now();
    f->LB->scrollToBottom();
    QCoreApplication::processEvents();
    const auto c = Clock::now();
    std::printf("  reloading the author list (iniDB): %.1f ms; scrolling to its end: %.1f ms\n",
                Ms(b - a), Ms(c - b));
  }

  // 1,000 random authors.
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<int> pick(0, authors - 1);
  std::vector<int> chosen(1000);
  for (int& i : chosen) i = pick(rng);

  std::vector<double> select, core, paint;
  size_t books = 0;
  const int readsBefore = reads;
  for (int i : chosen) {
    const auto a = Clock::now();
    f->SelectAuthor(i);  // the selection fills and sorts LV
    const auto b = Clock::now();
    QCoreApplication::processEvents();
    const auto c = Clock::now();
    select.push_back(Ms(b - a));
    paint.push_back(Ms(c - b));
    books += static_cast<size_t>(f->LV->model()->rowCount());
  }
  const int blockReads = reads - readsBefore;

  // The core's share alone: block cache and book rows, same authors.
  catalogue::AppState().blockCache.Clear();
  for (int i : chosen) {
    const auto a = Clock::now();
    const auto rows = catalogue::BooksOfAuthor(
        catalogue::CachedBlock(catalogue::BlockOfAuthor(i)), catalogue::EntryOfAuthor(i),
        catalogue::AppState().hideDuplicates);
    core.push_back(Ms(Clock::now() - a));
    (void)rows;
  }

  const TStats s = Summarise(select), k = Summarise(core), p = Summarise(paint);
  std::printf("1,000 random authors (%zu books shown, %d block reads):\n", books, blockReads);
  std::printf("  selection to filled, sorted book list: mean %.3f ms, median %.3f, p95 %.3f, max %.3f"
              " (target: mean <= 10 ms)\n",
              s.mean, s.median, s.p95, s.max);
  std::printf("    of which block cache + book rows:    mean %.3f ms, median %.3f, p95 %.3f, max %.3f\n",
              k.mean, k.median, k.p95, k.max);
  std::printf("  repaint after it:                      mean %.3f ms, max %.3f\n", p.mean, p.max);

  f.reset();
  fs::remove_all(root);
  return 0;
}
