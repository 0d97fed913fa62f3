// BENCH_LIBS: xbase platform
// Field access over the book table: 500,000 records of the catalogue's book
// table (AU N 10, NA C 250, SB C 150, FI C 8, SZ N 8, GE C 8, DT C 4, LN C 2),
// every field of every record read as text (xbStringGetNInto), beside
// dbfread iterating the same file in the same run; then the bulk index
// build's key road, "upper(NA)" and "AU" handed over as a TxbVariant for
// every record, with the heap allocations per record. Prints records per
// second and the engine/dbfread ratio.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "bench/CountAllocations.h"
#include "platform/Files.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/variant.h"
#include "xbase/expr/expression.h"
#include "xbase/table/fields.h"
#include "xbase/table/table_builders.h"

namespace {

constexpr int kRecords = 500000;
constexpr int kDistinct = 1000;

// Seconds dbfread takes to iterate every record of `path`; < 0 when it
// cannot run.
double PeerSeconds(const std::string& dir, const std::string& path) {
  const std::string script = dir + "/peer.py";
  platform::WriteFileBytes(script,
                           "import sys, time\n"
                           "from dbfread import DBF\n"
                           "t0 = time.perf_counter()\n"
                           "n = 0\n"
                           "for r in DBF(sys.argv[1], encoding='cp1251'):\n"
                           "    n += len(r)\n"
                           "print(time.perf_counter() - t0, n)\n");
  const std::string out = bench::RunCapture("/usr/bin/python3 " + script + " " + path + " 2>/dev/null");
  double s = -1;
  if (std::sscanf(out.c_str(), "%lf", &s) != 1) s = -1;
  return s;
}

}  // namespace

int main() {
  const std::string dir = platform::CreateTempFolder(platform::SystemTempDir(), "xbfield");
  const std::string path = dir + "/bo.dbf";
  WriteBookTable(path, kRecords, kDistinct);

  long long sink = 0;
  const double text = bench::BestSeconds(3, [&] {
    xbase::XBO_dBaseFld t(path, "", false, false);
    platform::AnsiString s;
    for (t.xbGetRec(xbase::xbRecTop); !t.File_EOF(); t.xbGetRec(xbase::xbRecNext))
      for (int n = 1; n <= t.NumFields(); ++n) {
        t.xbStringGetNInto(n, s);
        sink += static_cast<long long>(s.size());
      }
  });

  long long keyAllocations = 0;
  const double keys = bench::BestSeconds(3, [&] {
    xbase::XBO_dBaseFld t(path, "", false, false);
    xbase::TxbExpHandler name(t.DBFExpLink(), "upper(NA)"), number(t.DBFExpLink(), "AU");
    xbase::TxbVariant a, b;
    t.xbGetRec(xbase::xbRecTop);
    name.ExpressionAsVariant(a);  // the buffers grow once
    number.ExpressionAsVariant(b);
    const long long before = bench::gAllocations;
    for (; !t.File_EOF(); t.xbGetRec(xbase::xbRecNext)) {
      name.ExpressionAsVariant(a);
      number.ExpressionAsVariant(b);
      sink += a.SizeVar() + b.SizeVar();
    }
    keyAllocations = bench::gAllocations - before;
  });

  const double peer = PeerSeconds(dir, path);
  platform::DeleteTree(dir);

  std::printf("book table, %d records of 441 bytes, 8 fields (sink %lld)\n", kRecords, sink);
  std::printf("  every field as text:       %.3f s, %.0f records/s\n", text, kRecords / text);
  std::printf("  keys upper(NA) and AU:     %.3f s, %.0f records/s, %.3f allocations per record\n", keys,
              kRecords / keys, static_cast<double>(keyAllocations) / kRecords);
  if (peer > 0)
    std::printf("  dbfread iterating it:      %.3f s, %.0f records/s; engine/dbfread ratio %.1f\n", peer,
                kRecords / peer, peer / text);
  else
    std::printf("  dbfread did not run\n");
  return 0;
}
