// BENCH_LIBS: xbase platform
// The filter over the book table: 500,000 records of the catalogue's book
// table (AU N 10, NA C 250, ...), a filter on the author number and the
// title set by reading every record, beside dbfread iterating the same file
// with the same predicate in Python in the same run (both count what they
// select); then the same kind of filter answered by an index on AU instead.
// Prints the times and the engine/Python ratio. Then the catalogue's two
// roads through the same unit: one-key ranges on the index on AU, and key
// lookups (xbBuildKey, xbFind) on an author index on upper(NA).
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "platform/Files.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/expr/expression.h"
#include "xbase/handler/table_handler.h"
#include "xbase/table/table_builders.h"

namespace {

constexpr int kRecords = 500000;
constexpr int kDistinct = 1000;
constexpr const char* kFilter = "AU >= 100 .AND. AU < 200 .AND. NA <> \" \"";
constexpr const char* kPredicate = "100 <= r['AU'] < 200 and r['NA'] != ''";

// Seconds dbfread and the predicate take over `path`, and the records they
// select; seconds < 0 when Python cannot run.
double PeerSeconds(const std::string& dir, const std::string& path, long& selected) {
  const std::string script = dir + "/peer.py";
  platform::WriteFileBytes(script, std::string("import sys, time\n"
                                               "from dbfread import DBF\n"
                                               "t0 = time.perf_counter()\n"
                                               "n = 0\n"
                                               "for r in DBF(sys.argv[1], encoding='cp1251'):\n"
                                               "    if ") +
                                       kPredicate +
                                       ":\n"
                                       "        n += 1\n"
                                       "print(time.perf_counter() - t0, n)\n");
  const std::string out = bench::RunCapture("/usr/bin/python3 " + script + " " + path + " 2>/dev/null");
  double s = -1;
  if (std::sscanf(out.c_str(), "%lf %ld", &s, &selected) != 2) s = -1;
  return s;
}

long CountShown(xbase::XBO_dBHandler& t) {
  long n = 0;
  for (t.xbGetRec(xbase::xbRecTop); t.xbvRecRead(); t.xbGetRec(xbase::xbRecNext)) ++n;
  return n;
}

}  // namespace

int main() {
  const std::string dir = platform::CreateTempFolder(platform::SystemTempDir(), "xbfilter");
  const std::string path = dir + "/bo.dbf";
  WriteBookTable(path, kRecords, kDistinct);

  xbase::XBO_dBHandler t(path, "", false, false);
  t.xbSetFilterActive(true);
  t.xbSetFilterExpr(kFilter, false, true, false);
  const double scan = bench::BestSeconds(3, [&] { t.xbRefreshFilter(); });
  const long ours = CountShown(t);

  t.xbIndexTo(dir + "/au.ndx", "", "AU", "", xbase::XBsetIndexUnique::Duplicates, xbase::XBsetSortStatus::Ascending);
  t.xbIndexRoute(dir + "/au.ndx");
  t.SetOptimizeFilter(true);
  t.xbSetFilterExpr("AU >= 100 .AND. AU < 200", false, true, false);
  const bool served = t.xbSetFastFilterParse() == 2;
  const double fast = bench::BestSeconds(3, [&] { t.xbRefreshFilter(); });
  const long fastCount = CountShown(t);

  // One-key ranges, as the catalogue reads an author's books.
  t.xbSetFilterActive(false);
  t.xbSetTagTo("AU", false);
  long inRanges = 0;
  const double ranges = bench::BestSeconds(3, [&] {
    for (int a = 0; a < 10000; ++a) {
      t.xbSetRange(std::to_string(a % 1000), std::to_string(a % 1000), true, true, false);
      for (; t.xbvRecRead(); t.xbGetRec(xbase::xbRecNext)) ++inRanges;
    }
  });

  // Author lookups: 100,000 names in a table with its index on upper(NA),
  // 200,000 lookups of which half miss.
  constexpr int kAuthors = 100000, kLookups = 200000;
  const std::string authors = dir + "/au.dbf";
  {
    xbase::XBO_DBFBuild b(authors);
    b.InsertField("ID", "N", 10, 0);
    b.InsertField("NA", "C", 120, 0);
  }
  xbase::XBO_dBHandler au(authors, "", true, false);
  for (int i = 0; i < kAuthors; ++i) {
    au.xbBlank();
    au.xbNumberPutN(1, i + 1);
    au.xbStringPutN(2, "Author " + std::to_string(i * 2));
    au.xbAppend();
  }
  au.xbIndexTo(dir + "/an.ndx", "", "upper(NA)", "", xbase::XBsetIndexUnique::Duplicates,
               xbase::XBsetSortStatus::Ascending);
  au.xbIndex(dir + "/an.ndx", "AN");
  xbase::TxbExpHandler key(au.DBFExpLink(), "upper(NA)", au.dAlias());
  long found = 0;
  const double lookups = bench::BestSeconds(3, [&] {
    for (int i = 0; i < kLookups; ++i) {
      const std::vector<dataaccess::TVariant> v = {"Author " + std::to_string((i * 7919) % (2 * kAuthors))};
      found += au.xbFind(au.xbBuildKey(v, key));
    }
  });

  long theirs = 0;
  const double peer = PeerSeconds(dir, path, theirs);
  platform::DeleteTree(dir);

  std::printf("book table, %d records of 441 bytes\n", kRecords);
  std::printf("  filter %s\n", kFilter);
  std::printf("    by reading the table:    %.3f s, %.0f records/s, %ld selected\n", scan, kRecords / scan, ours);
  if (peer > 0)
    std::printf("    dbfread and Python:      %.3f s, %.0f records/s, %ld selected; engine/Python ratio %.1f\n",
                peer, kRecords / peer, theirs, peer / scan);
  else
    std::printf("    dbfread did not run\n");
  std::printf("  filter AU >= 100 .AND. AU < 200 from the index on AU%s: %.4f s, %ld selected\n",
              served ? "" : " (not served!)", fast, fastCount);
  std::printf("  10,000 one-key ranges on AU, read through: %.3f s, %.1f us per range (%ld records)\n", ranges,
              ranges * 1e6 / 10000, inRanges / 3);
  std::printf("  %d author lookups (xbBuildKey, xbFind; half miss) among %d: %.3f s, %.2f us per lookup (%ld found)\n",
              kLookups, kAuthors, lookups, lookups * 1e6 / kLookups, found / 3);
  return 0;
}
