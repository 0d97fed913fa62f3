// The table file: opening and refusing headers, reading and writing whole
// records, the catalogue's raw-write road, locks as other programs see
// them, scrambled tables, and tables written by peers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/scrambling.h"
#include "xbase/table/memo_files.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

using namespace xbase;

namespace {

std::string Record(const XBO_dBaseDBF& t) {
  return std::string(reinterpret_cast<const char*>(t.CurRecord()), static_cast<size_t>(t.RecLen()));
}

std::string MakeBookTable(const TempDir& dir, const std::string& name = "bo.dbf") {
  XBO_DBFBuild b(dir / name);
  AddBookFields(b);
  b.Complete();
  return b.FileName();
}

// The write lock another open file holds within the first 4 GiB (above
// them the platform keeps its share locks), as {start, length}; {-1, -1}
// when none.
std::pair<int64_t, int64_t> LockSeen(const std::string& path) {
  const int64_t pos = 0, len = int64_t{1} << 32;
  const int fd = ::open(path.c_str(), O_RDWR);
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = pos;
  fl.l_len = len;
  const int r = ::fcntl(fd, F_OFD_GETLK, &fl);
  ::close(fd);
  if (r != 0 || fl.l_type == F_UNLCK) return {-1, -1};
  return {fl.l_start, fl.l_len};
}

}  // namespace

TEST(Table, BuilderTableOpensEmpty) {
  TempDir dir;
  XBO_dBaseDBF t(MakeBookTable(dir), "", true, false);
  EXPECT_EQ(t.NumRecs(), 0);
  t.xbGetRec(1);
  EXPECT_TRUE(t.File_EOF());
  EXPECT_TRUE(t.File_TOF());
}

// The catalogue writes raw records behind the builder's header, patches the
// count and leaves no 0x1A; the engine then reads them all and appends after.
TEST(Table, RawRecordsBehindTheHeaderReadAndAppendFollows) {
  TempDir dir;
  const std::string path = MakeBookTable(dir, "BO.DBF");
  std::string file = platform::ReadFileBytes(path);
  file.pop_back();  // the first record overwrites the builder's 0x1A
  for (int i = 1; i <= 3; ++i) file += BookRecord(i);
  file[4] = 3;
  platform::WriteFileBytes(path, file);

  {
    XBO_dBaseDBF t(dir / "bo", "", true, false);  // found in any case
    ASSERT_EQ(t.NumRecs(), 3);
    for (int i = 1; i <= 3; ++i) {
      t.xbGetRec(i == 1 ? xbRecTop : xbRecNext);
      EXPECT_EQ(t.RecNumber(), i);
      EXPECT_EQ(Record(t), BookRecord(i));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.OrigRec()), 441), BookRecord(i));
    }
    const std::string rec4 = "*" + BookRecord(4).substr(1);
    std::memcpy(t.CurRecord(), rec4.data(), 441);
    t.xbAppend();
    EXPECT_EQ(t.RecNumber(), 4);
    EXPECT_FALSE(t.xbDelFlag()) << "an append is a live record";
  }
  const std::string after = platform::ReadFileBytes(path);
  ASSERT_EQ(after.size(), 289u + 4 * 441 + 1);
  EXPECT_EQ(after.substr(289 + 3 * 441, 441), BookRecord(4));
  EXPECT_EQ(after.back(), 0x1A);
  EXPECT_EQ(after[4], 4);
  const platform::TSystemTime now = platform::LocalTimeOf(platform::WallClockMs());
  EXPECT_EQ(static_cast<uint8_t>(after[1]), now.year % 100);

  XBO_dBaseDBF t(path, "", false, false);
  EXPECT_EQ(t.NumRecs(), 4);
  int date = 0, time = 0, user = -1;
  t.xbReturnDateTimeUser(date, time, user);
  EXPECT_EQ(date, (now.year % 100) * 65536 + now.month * 256 + now.day);
  EXPECT_EQ(user, 0);
}

TEST(Table, RecordNumbersAndMoves) {
  TempDir dir;
  XBO_dBaseDBF t(MakeBookTable(dir), "", true, true);
  AppendBooks(t, 1, 3);
  const std::string path = t.FileName();
  {
    XBO_dBaseDBF fresh(path, "", false, true);
    fresh.xbGetRec(xbRecCurrent);  // no current record yet: the top one
    EXPECT_EQ(fresh.RecNumber(), 1);
    EXPECT_EQ(Record(fresh), BookRecord(1));
  }
  t.xbGetRec(xbRecBottom);
  EXPECT_EQ(Record(t), BookRecord(3));
  t.xbGetRec(4);
  EXPECT_TRUE(t.File_EOF());
  EXPECT_EQ(t.RecNumber(), 3) << "one past the end moves nothing";
  EXPECT_EQ(ErrorOf([&] { t.xbGetRec(5); }), "Record number 5 is not in table " + path);
  EXPECT_EQ(ErrorOf([&] { t.xbGetRec(-7); }), "Record number -7 is not in table " + path);
  t.xbGetRec(1);
  t.xbGetRec(xbRecPrior);
  EXPECT_TRUE(t.File_TOF());
  EXPECT_EQ(Record(t), BookRecord(1)) << "the buffer stays";
  t.xbGetRec(xbRecNext);
  EXPECT_EQ(t.RecNumber(), 2);

  t.SetdState(dbAppend);
  EXPECT_EQ(ErrorOf([&] { t.xbPutRec(1); }), "Record number 1 is not in table " + path);
  t.SetdState(dbEdit);
  EXPECT_EQ(ErrorOf([&] { t.xbPutRec(4); }), "Record number 4 is not in table " + path);
}

// A descendant sees the record as it stands in the file while a rewrite
// runs, as index upkeep needs.
TEST(Table, RewriteShowsTheStoredRecordToDescendants) {
  struct Watching : XBO_dBaseDBF {
    using XBO_dBaseDBF::XBO_dBaseDBF;
    bool xbDBFEvent(dbFileEvent e, int action) override {
      if (e == dbPreWrite || e == dbPostWrite)
        seen.push_back(std::to_string(e) + ":" + std::to_string(action) + ":" +
                       std::string(reinterpret_cast<const char*>(OrigRec()) + 11, 9));
      return XBO_dBaseDBF::xbDBFEvent(e, action);
    }
    std::vector<std::string> seen;
  };
  TempDir dir;
  const std::string path = MakeBookTable(dir);
  {
    XBO_dBaseDBF t(path, "", true, false);
    AppendBooks(t, 1, 2);
  }
  Watching t(path, "", true, false);
  t.xbGetRec(2);
  std::memcpy(t.CurRecord(), BookRecord(7).data(), 441);
  t.SetdState(dbEdit);
  t.xbPutRec(1);  // not the record read: the stored one is fetched for OrigRec
  EXPECT_EQ(t.dState(), dbBrowse);
  ASSERT_EQ(t.seen.size(), 2u);
  EXPECT_EQ(t.seen[1], std::to_string(dbPostWrite) + ":1:" + BookRecord(1).substr(11, 9));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.OrigRec()), 441), BookRecord(7));
  t.xbGetRec(1);
  EXPECT_EQ(Record(t), BookRecord(7));
}

TEST(Table, DamagedHeadersAreRefusedOrReadSafely) {
  const std::map<std::string, std::string> refused = {
      {"version-02.dbf", "Table Header for %s is invalid"},
      {"short-header.dbf", "Error on Read of file %s"},
      {"location-below-33.dbf", "Table Header for %s is invalid"},
      {"location-past-end.dbf", "Table Header for %s is invalid"},
      {"reclen-zero.dbf", "Table Header for %s is invalid"},
      {"count-negative.dbf", "Table Header for %s is invalid"},
      {"fields-longer-than-record.dbf", "Table Header for %s is invalid"},
      {"vfp-location-below-296.dbf", "Table Header for %s is invalid"},
      {"dbase7-descriptors.dbf", "Table Header for %s is invalid"},
  };
  for (const auto& [name, text] : refused) {
    const std::string path = kXbData + "table/" + name;
    std::string expected = text;
    expected.replace(expected.find("%s"), 2, path);
    EXPECT_EQ(ErrorOf([&] { XBO_dBaseDBF t(path, "", false, true); }), expected) << name;
  }

  XBO_dBaseDBF cut(kXbData + "table/last-record-truncated.dbf", "", false, true);
  cut.xbGetRec(2);
  EXPECT_EQ(Record(cut), " b             2");
  EXPECT_EQ(ErrorOf([&] { cut.xbGetRec(3); }), "Error on Read of file " + cut.FileName());
  EXPECT_EQ(cut.RecNumber(), 2);

  XBO_dBaseDBF padded(kXbData + "table/padded-descriptors.dbf", "", false, true);
  EXPECT_EQ(padded.NumFields(), 2);
  padded.xbGetRec(1);
  EXPECT_EQ(Record(padded), " a             1");
}

TEST(Table, ScrambledTablesNeedTheirPassword) {
  TempDir dir;
  const std::string path = MakeBookTable(dir);
  {
    XBO_dBaseDBF t(path, "", true, false);
    AppendBooks(t, 1, 2);
  }
  EXPECT_EQ(ErrorOf<EXBaseEncryption>([&] { XBO_dBaseDBF t(path, "pw", false, false); }),
            "A Password is included for unencrypted file " + path);
  // Scramble it as a password change would: descriptors and records.
  std::string f = platform::ReadFileBytes(path);
  f[15] = 1;
  CryptBuffer("secret", f.data() + 32, f.data() + 32, 289 - 33, true);
  for (int i = 0; i < 2; ++i) CryptBuffer("secret", &f[289 + 441 * i], &f[289 + 441 * i], 441, true);
  platform::WriteFileBytes(path, f);

  EXPECT_EQ(ErrorOf<EXBaseEncryption>([&] { XBO_dBaseDBF t(path, "", false, false); }),
            "No Password for encrypted file " + path);
  EXPECT_EQ(ErrorOf<EXBaseEncryption>([&] { XBO_dBaseDBF t(path, "wrong", false, false); }),
            "Invalid Password for encrypted file " + path);
  {
    XBO_dBaseDBF t(path, "secret", true, false);
    EXPECT_EQ(t.Fields(1).Name(), "NA");
    t.xbGetRec(2);
    EXPECT_EQ(Record(t), BookRecord(2));
    std::memcpy(t.CurRecord(), BookRecord(3).data(), 441);
    t.xbAppend();
  }
  const std::string after = platform::ReadFileBytes(path);
  std::string rec3 = after.substr(289 + 2 * 441, 441);
  EXPECT_NE(rec3, BookRecord(3));
  CryptBuffer("secret", rec3.data(), rec3.data(), 441, false);
  EXPECT_EQ(rec3, BookRecord(3));
  EXPECT_EQ(after[15], 1);
}

TEST(Table, SharedTablesSeeEachOthersAppends) {
  TempDir dir;
  const std::string path = MakeBookTable(dir);
  XBO_dBaseDBF a(path, "", true, true), b(path, "", true, true);
  std::memcpy(a.CurRecord(), BookRecord(1).data(), 441);
  a.xbAppend();
  b.xbGetRec(1);  // b knew no records: the header is re-read
  EXPECT_EQ(Record(b), BookRecord(1));
  std::memcpy(b.CurRecord(), BookRecord(2).data(), 441);
  b.xbAppend();
  EXPECT_EQ(b.RecNumber(), 2);
  a.xbGetRec(2);
  EXPECT_EQ(Record(a), BookRecord(2));
  EXPECT_EQ(a.NumRecs(), 2);
  EXPECT_EQ(b.xbExternalChange() & 1, 0);
  std::memcpy(a.CurRecord(), BookRecord(3).data(), 441);
  a.xbPutRec(1);
  EXPECT_EQ(a.xbExternalChange(), 1);
  platform::Sleep(2);  // the header's time has milliseconds
  a.xbPutRec(1);
  EXPECT_EQ(b.xbExternalChange(), 2) << "a's rewrite stamped a new time";
}

// Record, file and append locks where the protocols put them, as another
// open file sees them.
TEST(Table, LocksStandWhereOtherProgramsLook) {
  struct Probing : XBO_dBaseDBF {
    using XBO_dBaseDBF::XBO_dBaseDBF;
    bool xbDBFEvent(dbFileEvent e, int action) override {
      if (e == dbPreWrite && action == 0) appendLock = LockSeen(FileName());
      return XBO_dBaseDBF::xbDBFEvent(e, action);
    }
    std::pair<int64_t, int64_t> appendLock{-1, -1};
  };
  TempDir dir;
  const std::string path = MakeBookTable(dir);
  Probing t(path, "", true, true);
  std::memcpy(t.CurRecord(), BookRecord(1).data(), 441);
  t.xbAppend();
  EXPECT_EQ(t.appendLock, (std::pair<int64_t, int64_t>(0x7FFFFFFE, 1)));
  EXPECT_EQ(LockSeen(path).first, -1) << "released after the append";

  t.xbGetRec(1);
  const std::pair<XBsetLokProtocol, int64_t> records[] = {
      {XBsetLokProtocol::DB4Lock, 0xEFFFFFFD},
      {XBsetLokProtocol::ClipLock, 1000000001},
      {XBsetLokProtocol::Default, 0x40000000 + 289},
  };
  for (const auto& [protocol, at] : records) {
    t.xbSetLockProtocol(protocol);
    ASSERT_TRUE(t.xbRLock());
    EXPECT_EQ(LockSeen(path), std::make_pair(at, int64_t{1})) << static_cast<int>(protocol);
    t.xbLockOff();
    EXPECT_EQ(LockSeen(path).first, -1);
  }
  ASSERT_TRUE(t.xbFLock());
  EXPECT_TRUE(t.FileIsLocked());
  EXPECT_EQ(LockSeen(path), (std::pair<int64_t, int64_t>(0x40000000, 0x3FFFFFFF)));
  EXPECT_TRUE(t.xbRLock()) << "under the file lock a record lock only counts";
  EXPECT_EQ(t.LockCount(), 2);

  XBO_dBaseDBF other(path, "", true, true);
  other.SetXBwrdAccessMSecDelay(1);
  other.SetXBwrdAccessMiliSeconds(3);
  EXPECT_FALSE(other.xbFLock());
  EXPECT_EQ(ErrorOf([&] { other.xbAppend(); }), "Can not Lock file " + path);
  t.xbLockOff();
  t.xbLockOff();
  EXPECT_FALSE(t.FileIsLocked());
  EXPECT_TRUE(other.xbFLock());
}

// Tables python3-dbf writes: dBase III with and without memo, FoxPro and
// Visual FoxPro with memos, deleted records.
TEST(Table, PeerTablesFromPythonDbf) {
  TempDir dir;
  const auto lines = Lines(RunOut(kXbPeer + " pydbf " + Sh(dir.path())));
  ASSERT_GT(lines.size(), 10u);
  std::unique_ptr<XBO_dBaseDBF> t;
  int checked = 0;
  for (const std::string& l : lines) {
    std::istringstream in(l);
    std::string kind, a, b, c;
    in >> kind >> a >> b >> c;
    if (kind == "T") {
      t = std::make_unique<XBO_dBaseDBF>(dir / a, "", false, false);
      EXPECT_EQ(t->NumRecs(), std::stoi(b)) << a;
      EXPECT_EQ(t->NumFields(), a.rfind("db3n", 0) == 0 ? 2 : 3) << a;
    } else if (kind == "R") {
      t->xbGetRec(std::stoi(a));
      EXPECT_EQ(t->xbDelFlag(), b == "1") << l;
      EXPECT_EQ(Hex(Record(*t)), c) << l;
      ++checked;
    } else if (kind == "M") {
      ASSERT_NE(t->xbMemoObject(), nullptr);
      t->xbGetRec(std::stoi(a));
      const XBR_DBFField& f = t->Fields(1);
      int64_t blk;
      if (t->FileVers() == 0x30) {  // binary block number
        uint32_t v;
        std::memcpy(&v, t->CurRecord() + f.dbFieldOffset, 4);
        blk = v;
      } else {
        blk = std::stoll(GetField(*t, 1));
      }
      EXPECT_EQ(Hex(t->xbMemoObject()->moMemoGet(blk)), b) << l;
    }
  }
  EXPECT_EQ(checked, 16);
}

// Tables, memos and records another engine wrote, against what it read back.
TEST(Table, PeerTablesFromTheFixtures) {
  for (const char* name : {"ntx/mixed", "cdx/mixed", "ntx/longc", "cdx/longc", "ntx/empty", "cdx/empty"}) {
    const std::string base = kXbData + "harbour/" + name;
    XBO_dBaseDBF t(base + ".dbf", "", false, true);
    int rows = 0;
    for (const std::string& l : Lines(RunOut(kXbPeer + " fixture " + Sh(base + ".json")))) {
      std::istringstream in(l);
      std::string kind, a, b, c;
      in >> kind >> a >> b >> c;
      if (kind == "H") {
        EXPECT_EQ(t.NumRecs(), std::stoi(a)) << name;
        EXPECT_EQ(t.HeadLen(), std::stoi(b)) << name;
        EXPECT_EQ(t.RecLen(), std::stoi(c)) << name;
        continue;
      }
      t.xbGetRec(std::stoi(a));
      if (kind == "R") {
        EXPECT_EQ(t.xbDelFlag(), b == "1") << name << " " << l;
        ++rows;
      } else if (kind == "C") {
        std::string text = GetField(t, std::stoi(b));
        text.erase(text.find_last_not_of(' ') + 1);
        EXPECT_EQ(Hex(text), c) << name << " " << l;
      } else if (kind == "M") {
        const std::string blockText = GetField(t, t.NumFields() - 1);
        const int64_t blk = blockText.find_first_not_of(' ') == std::string::npos ? 0 : std::stoll(blockText);
        EXPECT_EQ(Hex(t.xbMemoObject()->moMemoGet(blk)), b) << name << " " << l;
      }
    }
    EXPECT_EQ(rows, t.NumRecs()) << name;
  }
}

TEST(Table, RenameTakesTheMemoFileAlong) {
  TempDir dir;
  {
    XBO_DBFBuild b(dir / "old.dbf");
    b.InsertField("NOTE", "M", 10, 0);
  }
  {
    XBO_dBaseDBF t(dir / "old.dbf", "", true, false);
    int64_t blk = 0;
    t.xbMemoObject()->moMemoWrite("text", blk, 4);
    PutField(t, 0, std::to_string(blk));
    t.xbAppend();
    platform::WriteFileBytes(dir / "taken.DBT", "x");
    EXPECT_EQ(ErrorOf([&] { t.xbRename(dir / "taken"); }), "Error on Rename of file " + dir / "old.dbt");
    EXPECT_EQ(t.FileName(), dir / "old.dbf") << "the table went back to its name";
    EXPECT_TRUE(t.xbRename(dir / "newer"));
    EXPECT_EQ(t.dAlias(), "NEWER");
  }
  EXPECT_FALSE(platform::FileExists(dir / "old.dbf"));
  EXPECT_EQ(platform::ReadFileBytes(dir / "newer.DBT").substr(8, 9), std::string("newer\0\0\0\0", 9));
  XBO_dBaseDBF t(dir / "newer.DBF", "", false, false);
  t.xbGetRec(1);
  EXPECT_EQ(t.xbMemoObject()->moMemoGet(std::stoll(GetField(t, 0))), "text");
}
