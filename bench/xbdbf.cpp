// BENCH_LIBS: xbase platform
// The book table's road: 500,000 441-byte book records appended through
// XBO_dBaseDBF::xbAppend to a builder-made table, then read back in order
// with xbGetRec(-1); beside it, python3-dbf appending 20,000 records of the
// same table in the same run. Prints records per second and the ratio of
// the engine's append rate to python3-dbf's.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "platform/Files.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

namespace {

constexpr int kRecords = 500000;
constexpr int kPeerRecords = 20000;
constexpr int kDistinct = 1000;

// Seconds python3-dbf takes to append kPeerRecords records; < 0 when it
// cannot run.
double PeerAppendSeconds(const std::string& dir) {
  const std::string script = dir + "/peer.py";
  platform::WriteFileBytes(script,
                           "import dbf, sys, time\n"
                           "t = dbf.Table(sys.argv[1], 'AU N(10,0); NA C(250); SB C(150); FI C(8); SZ N(8,0); "
                           "GE C(8); DT C(4); LN C(2)', dbf_type='db3')\n"
                           "t.open(dbf.READ_WRITE)\n"
                           "t0 = time.perf_counter()\n"
                           "for i in range(int(sys.argv[2])):\n"
                           "    t.append((i % 1000, 'Book %d' % i, '', str(100000 + i), 0, '', '', ''))\n"
                           "t.close()\n"
                           "print(time.perf_counter() - t0)\n");
  const std::string cmd =
      "/usr/bin/python3 " + script + " " + dir + "/peer.dbf " + std::to_string(kPeerRecords) + " 2>/dev/null";
  const std::string out = bench::RunCapture(cmd);
  double s = -1;
  if (std::sscanf(out.c_str(), "%lf", &s) != 1) s = -1;
  return s;
}

}  // namespace

int main() {
  const std::string dir = platform::CreateTempFolder(platform::SystemTempDir(), "xbdbf");
  const std::string path = dir + "/bo.dbf";

  // Record images made beforehand, so that only the table's work is timed.
  std::vector<std::string> records;
  for (int i = 0; i < kDistinct; ++i) records.push_back(BookRecord(i));
  long long sink = 0;
  const double append = bench::BestSeconds(3, [&] {
    {
      xbase::XBO_DBFBuild b(path);
      AddBookFields(b);
    }
    xbase::XBO_dBaseDBF t(path, "", true, false);
    for (int i = 0; i < kRecords; ++i) {
      std::memcpy(t.CurRecord(), records[i % kDistinct].data(), 441);
      t.xbAppend();
    }
    t.xbCloseFile();
  });
  const double read = bench::BestSeconds(3, [&] {
    xbase::XBO_dBaseDBF t(path, "", false, false);
    for (t.xbGetRec(xbase::xbRecTop); !t.File_EOF(); t.xbGetRec(xbase::xbRecNext)) sink += t.CurRecord()[410];
  });
  const double peer = PeerAppendSeconds(dir);
  platform::DeleteTree(dir);

  std::printf("book table, %d records of 441 bytes (sink %lld)\n", kRecords, sink);
  std::printf("  xbAppend:   %.3f s, %.0f records/s\n", append, kRecords / append);
  std::printf("  xbGetRec:   %.3f s, %.0f records/s\n", read, kRecords / read);
  if (peer > 0)
    std::printf("  python3-dbf append of %d: %.3f s, %.0f records/s; engine/peer ratio %.1f\n", kPeerRecords, peer,
                kPeerRecords / peer, (kRecords / append) / (kPeerRecords / peer));
  else
    std::printf("  python3-dbf did not run\n");
  return 0;
}
