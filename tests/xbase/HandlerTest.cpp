// The table handler in natural order: walks over python3-dbf tables with
// deleted records beside what dbfread lists, moves at the ends, skips,
// counts, the record cache against plain reads and against another
// program's writes under record locks.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "tests/platform/ChildProcess.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/dataset.h"
#include "xbase/handler/table_handler.h"

using namespace xbase;

namespace {

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  return s;
}

// The current record as xbpeer's dbfread lines show it: NAME in hex, QTY.
std::string Row(const XBO_dBHandler& t) {
  std::string row = Hex(Trim(GetField(t, 0)));
  if (t.NumFields() > 1) row += "|" + Trim(GetField(t, 1));
  return row;
}

std::string Image(const XBO_dBaseDBF& t) {
  return std::string(reinterpret_cast<const char*>(t.CurRecord()), static_cast<size_t>(t.RecLen()));
}

// The rows met walking from `start` by `step` until an end.
std::vector<std::string> Walk(XBO_dBHandler& t, int start, int step, std::vector<int>* recnos = nullptr) {
  std::vector<std::string> rows;
  for (t.xbGetRec(start); t.xbvRecRead(); t.xbGetRec(step)) {
    rows.push_back(Row(t));
    if (recnos) recnos->push_back(t.RecNumber());
  }
  return rows;
}

// The rows dbfread lists: live ones ('V') or deleted ones ('D').
std::vector<std::string> Peer(const std::string& table, char kind) {
  std::vector<std::string> rows;
  for (const std::string& l : Lines(RunOut(kXbPeer + " dbfread " + Sh(table))))
    if (!l.empty() && l[0] == kind) rows.push_back(l.substr(2));
  return rows;
}

class NavTables : public ::testing::Test {
 protected:
  void SetUp() override { RunOut(kXbPeer + " navtables " + Sh(dir.path())); }
  TempDir dir;
};

}  // namespace

TEST_F(NavTables, WalksListWhatDbfreadLists) {
  const std::string path = dir / "nav.dbf";
  const std::vector<std::string> live = Peer(path, 'V'), deleted = Peer(path, 'D');
  ASSERT_EQ(live.size(), 8u);
  ASSERT_EQ(deleted.size(), 4u);
  for (bool cache : {false, true}) {
    XBO_dBHandler t(path, "", false, false);
    t.xbSetDBFCache(cache);
    t.SetUseDeletedRec(false);
    EXPECT_EQ(Walk(t, xbRecTop, xbRecNext), live);
    std::vector<std::string> back = Walk(t, xbRecBottom, xbRecPrior);
    EXPECT_TRUE(t.File_TOF());
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, live);

    t.SetUseDeletedRec(true);
    std::vector<int> recnos;
    const std::vector<std::string> all = Walk(t, xbRecTop, xbRecNext, &recnos);
    ASSERT_EQ(all.size(), 12u);
    std::vector<std::string> seenLive, seenDeleted;
    for (int r : recnos) {
      t.xbGetRec(r);
      (t.xbDelFlag() ? seenDeleted : seenLive).push_back(Row(t));
    }
    EXPECT_EQ(seenLive, live);
    EXPECT_EQ(seenDeleted, deleted);
    EXPECT_EQ(t.xbRecordCount(false), 12);
  }
}

TEST_F(NavTables, MovesAtTheEndsPassOverHiddenRecords) {
  XBO_dBHandler t(dir / "nav.dbf", "", true, false);
  t.SetUseDeletedRec(false);
  t.xbGetRec(xbRecTop);  // record 1 is deleted
  EXPECT_EQ(t.RecNumber(), 2);
  EXPECT_TRUE(t.xbvRecRead());
  t.xbGetRec(xbRecBottom);  // so is 12
  EXPECT_EQ(t.RecNumber(), 11);
  t.xbGetRec(3);
  t.xbGetRec(xbRecNext);  // 4 and 5 are deleted
  EXPECT_EQ(t.RecNumber(), 6);
  t.xbGetRec(xbRecPrior);
  EXPECT_EQ(t.RecNumber(), 3);

  // The current record, when hidden, gives way to the next one shown.
  t.xbGetRec(4);  // a positive number reads whatever stands there
  EXPECT_EQ(t.RecNumber(), 4);
  EXPECT_TRUE(t.xbDelFlag());
  t.xbRefresh();
  EXPECT_EQ(t.RecNumber(), 6);

  // Off the end: the phantom blank record; before the start: the first
  // record read stays in the buffer.
  t.xbGetRec(11);
  t.xbGetRec(xbRecNext);
  EXPECT_TRUE(t.File_EOF());
  EXPECT_FALSE(t.xbvRecRead());
  EXPECT_EQ(Image(t), std::string(static_cast<size_t>(t.RecLen()), ' '));
  t.xbGetRec(2);
  t.xbGetRec(xbRecPrior);
  EXPECT_TRUE(t.File_TOF());
  EXPECT_FALSE(t.File_EOF());
  EXPECT_EQ(t.RecNumber(), 1);

  t.xbGetRec(13);
  EXPECT_TRUE(t.File_EOF());
  EXPECT_EQ(Image(t), std::string(static_cast<size_t>(t.RecLen()), ' '));
  EXPECT_NE(ErrorOf([&] { t.xbGetRec(14); }).find("Record number 14 is not in table"), std::string::npos);
  t.xbGetRec(5);
  t.xbGetRec(0);  // a blank record: numbers show 0
  EXPECT_TRUE(t.File_EOF());
  EXPECT_EQ(Image(t), std::string(static_cast<size_t>(t.RecLen()) - 1, ' ') + "0");

  // Everything hidden: the top is the end.
  XBO_dBHandler three(dir / "three.dbf", "", true, false);
  for (int r = 1; r <= 3; ++r) {
    three.xbGetRec(r);
    three.CurRecord()[0] = '*';
    three.xbPutRec(r);
  }
  three.SetUseDeletedRec(false);
  three.xbGetRec(xbRecTop);
  EXPECT_TRUE(three.File_EOF());
  three.xbGetRec(xbRecBottom);
  EXPECT_TRUE(three.File_TOF());
  EXPECT_EQ(three.xbRecordCount(true), 0);
}

TEST_F(NavTables, SkipsJumpOrWalkAndCountsReturn) {
  XBO_dBHandler three(dir / "three.dbf", "", false, false);
  three.xbGetRec(1);
  three.xbSkip(5);
  EXPECT_EQ(three.RecNumber(), 3);
  EXPECT_TRUE(three.File_EOF());
  EXPECT_EQ(Trim(GetField(three, 0)), "three");  // it stands on the last record
  three.xbSkip(-7);
  EXPECT_EQ(three.RecNumber(), 1);
  EXPECT_TRUE(three.File_TOF());
  three.xbSkip(2);
  EXPECT_EQ(three.RecNumber(), 3);
  EXPECT_FALSE(three.File_EOF());
  three.xbSkip(0);
  EXPECT_EQ(three.RecNumber(), 3);

  XBO_dBHandler t(dir / "nav.dbf", "", false, false);
  t.SetUseDeletedRec(false);
  t.xbGetRec(2);
  t.xbSkip(2);  // 3, then past 4 and 5 to 6
  EXPECT_EQ(t.RecNumber(), 6);
  t.xbSkip(-4);  // 3, 2, then nothing before
  EXPECT_TRUE(t.File_TOF());
  t.xbGetRec(7);
  EXPECT_EQ(t.xbRecordCount(true), 8);
  EXPECT_EQ(t.RecNumber(), 7);
  EXPECT_TRUE(t.xbvRecRead());
  t.SetUseDeletedRec(true);
  EXPECT_EQ(t.xbRecordCount(true), 12);
  EXPECT_EQ(t.xbRecordCount(false), 12);
  EXPECT_EQ(t.RecNumber(), 7);
}

TEST(HandlerCache, ScansEqualPlainReadsAndFollowWrites) {
  TempDir dir;
  XBO_DBFBuild b(dir / "bo.dbf");
  AddBookFields(b);
  b.Complete();
  {
    XBO_dBaseDBF raw(dir / "bo.dbf", "", true, false);
    AppendBooks(raw, 1, 300);
  }
  XBO_dBHandler plain(dir / "bo.dbf", "", false, true), cached(dir / "bo.dbf", "", true, true);
  cached.xbSetDBFCache(true);
  EXPECT_EQ(cached.CacheRecs(), 32768 / 441);
  plain.xbGetRec(xbRecTop);
  cached.xbGetRec(xbRecTop);
  for (int n = 1; n <= 300; ++n) {
    ASSERT_EQ(Image(cached), Image(plain)) << n;
    ASSERT_EQ(cached.RecNumber(), n);
    plain.xbGetRec(xbRecNext);
    cached.xbGetRec(xbRecNext);
  }
  EXPECT_TRUE(cached.File_EOF());
  cached.xbGetRec(xbRecBottom);
  for (int n = 300; n >= 1; --n, cached.xbGetRec(xbRecPrior)) {
    plain.xbGetRec(n);
    ASSERT_EQ(Image(cached), Image(plain)) << n;
  }

  // A rewrite lands in the cached span and is read from there.
  cached.xbGetRec(10);
  const int64_t first = cached.CacheFirst();
  std::memcpy(cached.CurRecord() + 11, "Rewritten", 9);
  cached.xbPutRec(12);
  cached.xbGetRec(12);
  EXPECT_EQ(cached.CacheFirst(), first);
  EXPECT_EQ(GetField(cached, 1).substr(0, 9), "Rewritten");
  plain.xbGetRec(12);
  EXPECT_EQ(Image(plain), Image(cached));

  // An append while the cache holds the end of the table (and its 0x1A).
  cached.xbGetRec(299);
  ASSERT_GT(cached.CacheLast(), 289 + 300 * 441);
  const std::string r = BookRecord(301);
  std::memcpy(cached.CurRecord(), r.data(), r.size());
  cached.xbAppend();
  cached.xbGetRec(300);
  cached.xbGetRec(xbRecNext);
  EXPECT_EQ(cached.RecNumber(), 301);
  EXPECT_EQ(Image(cached), r);
  cached.xbGetRec(xbRecNext);
  EXPECT_TRUE(cached.File_EOF());

  // Re-reading a shared table's record shows what another program wrote.
  cached.xbGetRec(20);
  plain.xbGetRec(21);
  cached.xbGetRec(21);
  XBO_dBHandler other(dir / "bo.dbf", "", true, true);
  other.xbGetRec(21);
  std::memcpy(other.CurRecord() + 11, "Elsewhere", 9);
  other.xbPutRec(21);
  cached.xbRefresh();
  EXPECT_EQ(GetField(cached, 1).substr(0, 9), "Elsewhere");
}

namespace {

// A table of `records` records (ID 1, 2, ..., N 0) with an NTX and a CDX
// tag on N.
std::string CountedTable(const TempDir& dir, int records) {
  const std::string table = dir / "c.dbf";
  {
    XBO_DBFBuild b(table);
    b.InsertField("ID", "N", 6, 0);
    b.InsertField("N", "N", 8, 0);
  }
  XBO_dBHandler t(table, "", true, false);
  for (int i = 1; i <= records; ++i) {
    t.xbBlank();
    t.xbNumberPutN(1, i);
    t.xbNumberPutN(2, 0);
    t.xbAppend();
  }
  t.xbIndexTo("n.ntx", "N", "N", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  t.xbIndexTo("c.cdx", "CN", "N", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  return table;
}

// The N field of every record a walk through each tag of CountedTable meets.
std::vector<std::vector<int>> CountsByTag(const std::string& table) {
  XBO_dBHandler t(table, "", false, false);
  t.xbIndex("n.ntx;c.cdx", "");
  std::vector<std::vector<int>> byTag;
  for (const char* tag : {"N", "CN"}) {
    t.xbSetTagTo(tag, false);
    byTag.emplace_back();
    for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext))
      byTag.back().push_back(static_cast<int>(t.xbNumberGetN(2)));
  }
  return byTag;
}

}  // namespace

// Two programs count in the records of one shared table, each increment
// under the record's lock, with the record cache on and an NTX and a CDX
// on the counted field open, each program listing them in another order:
// through the handler (lock, xbGetRec, xbPutRec) and through the dataset's
// Edit and Post. A lock that left a copy read before it in the cache would
// lose the other program's increments, and index locks taken in the order
// of the list would have each wait for the other's; both indexes then walk
// every record in order.
TEST(HandlerCache, TwoProgramsCountingUnderRecordLocksLoseNothing) {
  constexpr int kRecords = 3, kEach = 300;
  for (bool dataset : {false, true}) {
    SCOPED_TRACE(dataset ? "dataset" : "handler");
    TempDir dir;
    const std::string table = CountedTable(dir, kRecords);
    const auto countWithHandler = [&](int program) {
      XBO_dBHandler t(table, "", true, true);
      // Natural order: the record cache is on.
      t.xbIndex(program ? "c.cdx;n.ntx" : "n.ntx;c.cdx", "");
      for (int i = 0; i < kEach; ++i) {
        const int rec = 1 + i % kRecords;
        t.xbGetRec(rec);
        while (!t.xbRLock()) platform::Sleep(1);
        t.xbGetRec(rec);
        t.xbNumberPutN(2, t.xbNumberGetN(2) + 1);
        t.xbPutRec(rec);
        t.xbLockOff();
      }
    };
    const auto countWithDataSet = [&](int program) {
      TXBaseDataSet ds;
      ds.SetDatabaseName(dir.path());
      ds.SetTableName("c.dbf");
      ds.SetIndexFiles(program ? std::vector<std::string>{"c.cdx", "n.ntx"}
                               : std::vector<std::string>{"n.ntx", "c.cdx"});
      ds.SetDBFCache(true);
      ds.Open();
      for (int i = 0; i < kEach; ++i) {
        ds.SetRecNo(1 + i % kRecords);
        for (;;) {
          try {
            ds.Edit();
            break;
          } catch (const dataaccess::EDatabaseError&) {
            platform::Sleep(1);  // locked by the other program
          }
        }
        ds.FieldByName("N").SetAsInteger(ds.FieldByName("N").AsInteger() + 1);
        ds.Post();
      }
    };
    const auto count = [&](int program) {
      dataset ? countWithDataSet(program) : countWithHandler(program);
      return 0;
    };
    EXPECT_EQ(InChildren({[&] { return count(0); }, [&] { return count(1); }}),
              std::vector<int>({0, 0}));
    for (const auto& counts : CountsByTag(table)) {
      EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
      EXPECT_EQ(counts.size(), static_cast<size_t>(kRecords));
      EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 2 * kEach);
    }
  }
}

// Two programs append to one shared table with its NTX and CDX open, one
// holding the table's file lock around every two appends and the other
// not, through the handler and through the dataset. Each takes the table's
// lock before the indexes', so neither holds a lock the other waits for
// while it waits itself: no append fails, and every record is in the table
// and in both tags.
TEST(HandlerCache, TwoProgramsAppendingTakeTheirLocksInOneOrder) {
  constexpr int kEach = 500;
  for (bool dataset : {false, true}) {
    SCOPED_TRACE(dataset ? "dataset" : "handler");
    TempDir dir;
    const std::string table = CountedTable(dir, 0);
    const auto append = [&](int program) {
      const bool fileLock = program == 0;
      TXBaseDataSet ds;
      std::unique_ptr<XBO_dBHandler> t;
      if (dataset) {
        ds.SetDatabaseName(dir.path());
        ds.SetTableName("c.dbf");
        ds.SetIndexFiles({"n.ntx", "c.cdx"});
        ds.Open();
      } else {
        t = std::make_unique<XBO_dBHandler>(table, "", true, true);
        t->xbIndex("n.ntx;c.cdx", "CN");
      }
      for (int i = 0; i < kEach; ++i) {
        const bool first = i % 2 == 0, second = !first;
        while (fileLock && first && !(dataset ? ds.FLock() : t->xbFLock())) platform::Sleep(1);
        const int n = program * kEach + i;
        if (dataset) {
          ds.Append();
          ds.FieldByName("ID").SetAsInteger(n);
          ds.FieldByName("N").SetAsInteger(n);
          ds.Post();
          if (fileLock && second) ds.Unlock();
        } else {
          t->xbBlank();
          t->xbNumberPutN(1, n);
          t->xbNumberPutN(2, n);
          t->xbAppend();
          if (fileLock && second) t->xbLockOff();
        }
        // Now and then a pause, so that the file lock's program does not
        // keep the other out of the table for its whole run.
        if (fileLock && i % 4 == 3) platform::Sleep(1);
      }
      return 0;
    };
    EXPECT_EQ(InChildren({[&] { return append(0); }, [&] { return append(1); }}),
              std::vector<int>({0, 0}));
    std::vector<int> all(2 * kEach);
    std::iota(all.begin(), all.end(), 0);
    for (const auto& counts : CountsByTag(table)) EXPECT_EQ(counts, all);
    EXPECT_EQ(XBO_dBHandler(table, "", false, false).NumRecs(), 2 * kEach);
  }
}

TEST(HandlerCache, ARecordLongerThanTheCacheGetsOne) {
  TempDir dir;
  XBO_DBFBuild b(dir / "wide.dbf");
  b.InsertField("ID", "N", 5, 0);
  b.InsertField("BIG", "C", 40000, 0);
  b.Complete();
  XBO_dBHandler t(dir / "wide.dbf", "", true, false);
  for (int i = 1; i <= 3; ++i) {
    std::memset(t.CurRecord(), 'a' + i, static_cast<size_t>(t.RecLen()));
    t.xbAppend();
  }
  t.xbSetDBFCache(true);
  EXPECT_EQ(t.CacheRecs(), 1);
  EXPECT_EQ(t.CacheSize(), t.RecLen());
  int n = 0;
  for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext)) {
    ++n;
    EXPECT_EQ(t.CurRecord()[t.RecLen() - 1], 'a' + n);
  }
  EXPECT_EQ(n, 3);
}
TEST_F(NavTables, PasswordScramblesAndUnscramblesTheTable) {
  const std::string path = dir / "nav.dbf";
  const std::string before = platform::ReadFileBytes(path);
  const std::vector<std::string> live = Peer(path, 'V');
  const AnsiString password = platform::Utf8ToAnsi("Пароль");
  std::vector<std::string> plainRows;
  {
    XBO_dBHandler t(path, "", true, false);
    plainRows = Walk(t, xbRecTop, xbRecNext);
    t.xbSetDBFCache(true);
    t.xbGetRec(3);
    t.xbSetPassword(password);
    EXPECT_TRUE(t.xbvIsEncrypted());
    EXPECT_EQ(t.RecNumber(), 3);
    EXPECT_EQ(Walk(t, xbRecTop, xbRecNext), plainRows);
  }
  const std::string scrambled = platform::ReadFileBytes(path);
  ASSERT_EQ(scrambled.size(), before.size());
  EXPECT_EQ(scrambled[15], 1);
  EXPECT_EQ(scrambled.substr(scrambled.size() - 1), "\x1A");
  EXPECT_EQ(scrambled.find(platform::Utf8ToAnsi("Шукшин")), std::string::npos);
  EXPECT_NE(ErrorOf<EXBaseEncryption>([&] { XBO_dBHandler t(path, "", false, false); }), "");
  EXPECT_NE(ErrorOf<EXBaseEncryption>([&] { XBO_dBHandler t(path, "wrong", false, false); }), "");
  {
    XBO_dBHandler t(path, password, true, false);
    EXPECT_EQ(Walk(t, xbRecTop, xbRecNext), plainRows);
    t.xbSetPassword(password);  // the same: nothing to do
    EXPECT_EQ(platform::ReadFileBytes(path), scrambled);
    t.xbSetPassword(platform::Utf8ToAnsi("другой"));
    t.xbSetPassword("");
    EXPECT_FALSE(t.xbvIsEncrypted());
  }
  const std::string after = platform::ReadFileBytes(path);
  EXPECT_EQ(after.substr(32), before.substr(32));  // the header carries a new stamp at most
  EXPECT_EQ(after[15], 0);
  EXPECT_EQ(Peer(path, 'V'), live);

  XBO_dBHandler shared(path, "", true, true);
  EXPECT_NE(ErrorOf([&] { shared.xbSetPassword("x"); }).find("requires full access"), std::string::npos);
}
