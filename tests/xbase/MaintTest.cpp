// Table maintenance: packs, copies, structure copies, sorts and zaps of the
// other engine's tables read back by the peers; scrambled tables under
// their new passwords; damaged inputs and refused targets that must leave
// every file as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/ChildProcess.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/NdxReader.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/errors.h"
#include "xbase/handler/table_handler.h"
#include "xbase/table/memo_files.h"
#include "xbase/table/table_builders.h"

using namespace xbase;

namespace {

// Every record as the handler reads it: deletion flag, then each field as
// text (memos as their text).
std::vector<std::string> Rows(const std::string& path, const AnsiString& password = "") {
  XBO_dBHandler t(path, password, false, false);
  std::vector<std::string> rows;
  for (int n = 1; n <= t.NumRecs(); ++n) {
    t.xbGetRec(n);
    std::string row(1, static_cast<char>(t.CurRecord()[0]));
    for (int f = 1; f <= t.NumFields(); ++f) row += "|" + t.xbStringGetN(f);
    rows.push_back(row);
  }
  return rows;
}

// The bytes a memo file of the given kind takes for memos of these lengths
// as this engine writes them after its 512-byte header.
int64_t MemoFileSize(bool fox, const std::vector<size_t>& lengths) {
  int64_t size = 512;
  for (size_t n : lengths)
    if (n > 0) size += fox ? (static_cast<int64_t>(n) + 8 + 63) / 64 * 64 : (static_cast<int64_t>(n) + 2 + 511) / 512 * 512;
  return size;
}

std::string HeadOf(const std::string& file, size_t n) { return platform::ReadFileBytes(file).substr(0, n); }

}  // namespace

// The other engine's mixed tables, packed: the live rows as its JSON has
// them, in order, the memo file holding just their memos.
TEST(Pack, OtherEnginesMixedTablesKeepTheirLiveRows) {
  for (const char* kind : {"ntx", "cdx"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string table = TakeTable(dir.path(), std::string("harbour/") + kind + "/mixed.dbf");
    const bool fox = std::string(kind) == "cdx";
    {
      XBO_dBHandler t(table, "", true, false);
      t.xbPack();
      EXPECT_EQ(t.NumRecs(), 43);
      EXPECT_EQ(t.RecNumber(), 1);
    }
    const auto live = Lines(RunOut(kXbPeer + " fixturelive " + Sh(kXbData + "harbour/" + kind + "/mixed.json")));
    ASSERT_EQ(live.size(), 43u);
    const std::string out = RunOut(kXbPeer + " dbfread " + Sh(table));
    EXPECT_EQ(Lines(out), live);
    std::vector<size_t> memos;
    for (const std::string& l : live) memos.push_back((l.size() - l.rfind('|') - 1) / 2);
    EXPECT_EQ(static_cast<int64_t>(platform::ReadFileBytes(dir / (fox ? "mixed.fpt" : "mixed.dbt")).size()),
              MemoFileSize(fox, memos));
    EXPECT_NE(RunOut("dbf_dump --info " + Sh(table)).find("Num of records:\t43\n"), std::string::npos);
    // python3-dbf reads every memo whole (it stops at 1A 1A).
    const auto pydbf = Lines(RunOut(kXbPeer + " pydbfmemos " + Sh(table)));
    ASSERT_EQ(pydbf.size(), 43u);
    for (size_t i = 0; i < live.size(); ++i)
      EXPECT_EQ(pydbf[i], "M " + std::to_string(i + 1) + " 0 " + live[i].substr(live[i].rfind('|') + 1)) << i;
  }
  // A C(300) keeps its length's high byte in the decimals byte.
  TempDir dir;
  const std::string longc = TakeTable(dir.path(), "harbour/ntx/longc.dbf");
  XBO_dBHandler(longc, "", true, false).xbPack();
  const std::string bytes = platform::ReadFileBytes(longc);
  EXPECT_EQ(bytes.substr(32 + 2 * 32, 11), std::string("WIDEC") + std::string(6, '\0'));
  EXPECT_EQ(bytes[32 + 2 * 32 + 16], 44);
  EXPECT_EQ(bytes[32 + 2 * 32 + 17], 1);
  EXPECT_EQ(Lines(RunOut(kXbPeer + " dbfread " + Sh(longc))),
            Lines(RunOut(kXbPeer + " fixturelive " + Sh(kXbData + "harbour/ntx/longc.json"))));
}

// Packing in place keeps the memo file and the live records' blocks.
TEST(Pack, InPlaceKeepsTheMemoFile) {
  TempDir dir;
  const std::string table = TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  const std::string memo = platform::ReadFileBytes(dir / "mixed.dbt");
  {
    XBO_dBHandler t(table, "", true, false);
    t.xbPackMemo();
    EXPECT_EQ(t.NumRecs(), 43);
  }
  EXPECT_EQ(platform::ReadFileBytes(dir / "mixed.dbt"), memo);
  EXPECT_EQ(Lines(RunOut(kXbPeer + " dbfread " + Sh(table))),
            Lines(RunOut(kXbPeer + " fixturelive " + Sh(kXbData + "harbour/ntx/mixed.json"))));
}

TEST(Pack, AllDeletedLeavesAnEmptyTableOfTheSameStructure) {
  TempDir dir;
  RunOut(kXbPeer + " navtables " + Sh(dir.path()));
  const std::string table = dir / "memo.dbf";
  const std::string before = platform::ReadFileBytes(table);
  {
    XBO_dBHandler t(table, "", true, false);
    for (int n = 1; n <= t.NumRecs(); ++n) {
      t.xbGetRec(n);
      t.xbDeleteRec();
    }
    t.xbPack();
    EXPECT_EQ(t.NumRecs(), 0);
    EXPECT_TRUE(t.File_EOF());
  }
  const std::string after = platform::ReadFileBytes(table);
  const size_t headLen = static_cast<uint8_t>(before[8]) | static_cast<uint8_t>(before[9]) << 8;
  ASSERT_EQ(after.size(), headLen);
  EXPECT_EQ(after.substr(32), before.substr(32, headLen - 32));
  EXPECT_EQ(after.substr(4, 4), std::string(4, '\0'));
  EXPECT_EQ(platform::ReadFileBytes(dir / "memo.dbt").size(), 512u);
}

// A copy with deleted records shown keeps them deleted and their memos;
// progress with the copy's codes.
TEST(Copy, DeletedRecordsAndTheirMemos) {
  TempDir dir;
  const std::string table = TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  struct Watching : XBO_dBHandler {
    using XBO_dBHandler::XBO_dBHandler;
    void xbStatusUpdate(int a, int b, int c) override { seen.push_back({a, b, c}); }
    std::vector<std::vector<int>> seen;
  } t(table, "", false, false);
  t.xbGetRec(5);
  t.xbCopyFile(dir / "copy", "");
  EXPECT_EQ(t.RecNumber(), 5);
  ASSERT_EQ(t.seen.size(), 50u);
  EXPECT_EQ(t.seen.front(), (std::vector<int>{1, 0, 48}));
  EXPECT_EQ(t.seen[7], (std::vector<int>{1, 1, 7}));
  EXPECT_EQ(t.seen.back(), (std::vector<int>{1, 2, 48}));
  EXPECT_EQ(Rows(dir / "copy.dbf"), Rows(table));
}

TEST(CopyStructure, HeaderWithCountZeroAndANewMemoFile) {
  for (const char* kind : {"ntx", "cdx"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string table = TakeTable(dir.path(), std::string("harbour/") + kind + "/mixed.dbf");
    XBO_dBHandler(table, "", false, false).xbCopyStructure(dir / "empty.dbf");
    std::string head = HeadOf(table, 290);
    head.replace(4, 4, std::string(4, '\0'));
    EXPECT_EQ(platform::ReadFileBytes(dir / "empty.dbf"), head);
    std::string memo(512, '\0');
    if (std::string(kind) == "cdx") {
      memo.replace(0, 8, std::string("\0\0\0\x08\0\0\0\x40", 8));
      EXPECT_EQ(platform::ReadFileBytes(dir / "empty.fpt"), memo);
    } else {
      memo.replace(0, 13, std::string("\x01\0\0\0\0\0\0\0MIXED", 13));
      EXPECT_EQ(platform::ReadFileBytes(dir / "empty.dbt"), memo);
    }
    EXPECT_EQ(XBO_dBHandler(dir / "empty.dbf", "", false, false).NumRecs(), 0);
  }
}

TEST(Zap, EmptiesTheTableThenTheFoxProMemoFile) {
  TempDir dir;
  const std::string table = TakeTable(dir.path(), "harbour/cdx/mixed.dbf");
  {
    XBO_dBHandler t(table, "", true, false);
    t.xbZap();
    EXPECT_EQ(t.NumRecs(), 0);
  }
  EXPECT_EQ(platform::ReadFileBytes(table).size(), 290u);
  const std::string memo = platform::ReadFileBytes(dir / "mixed.fpt");
  ASSERT_EQ(memo.size(), 512u);
  EXPECT_EQ(memo.substr(0, 4), std::string("\0\0\0\x08", 4));
  // The next memo goes right behind the header.
  XBO_dBHandler t(table, "", true, false);
  t.xbBlank();
  t.xbStringPutN(8, "after the zap");
  t.xbAppend();
  EXPECT_EQ(t.xbNumberGetN(8), 8);
  EXPECT_EQ(Lines(RunOut(kXbPeer + " dbfread " + Sh(table))).size(), 1u);
}

TEST(TableSort, KeyExpressionOf1To240Characters) {
  TempDir dir;
  const std::string table = TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  XBO_dBHandler t(table, "", false, false);
  const std::string text = "Sort key length must be 1-240 bytes, is ";
  EXPECT_EQ(ErrorOf([&] { t.xbSortFile(dir / "s", "", std::string(241, 'A'), XBsetSortStatus::SortUp); }), text + "241");
  EXPECT_EQ(ErrorOf([&] { t.xbSortFile(dir / "s", "", "  ", XBsetSortStatus::SortUp); }), text + "0");
  EXPECT_EQ(ErrorOf([&] { t.xbSortFile(dir / "s", "", "  name  ", XBsetSortStatus::SortUp); }), "");
}

// UPPER(NAME) both ways against a model of the shared case table; the
// other engine's UPPER leaves some Cyrillic letters alone, so its order
// differs.
TEST(TableSort, BigTableByUpperNameBothWays) {
  TempDir dir;
  const std::string table = TakeTable(dir.path(), "harbour/ntx/big.dbf");
  const std::string model = RunOut(kXbPeer + " sortmodel " + Sh(table));
  std::vector<int> order, writers;
  for (const std::string& l : Lines(model)) {
    std::istringstream in(l.substr(2));
    for (int n; in >> n;) (l[0] == 'U' ? order : writers).push_back(n);
  }
  ASSERT_EQ(order.size(), 3000u);
  EXPECT_NE(order, writers);
  const std::vector<std::string> rows = Rows(table);
  XBO_dBHandler t(table, "", false, false);
  t.xbSortFile(dir / "up.dbf", "", "upper(name)", XBsetSortStatus::Ascending);
  t.xbSortFile(dir / "down.dbf", "", "UPPER(NAME)", XBsetSortStatus::Descending);
  const std::vector<std::string> up = Rows(dir / "up.dbf"), down = Rows(dir / "down.dbf");
  ASSERT_EQ(up.size(), 3000u);
  ASSERT_EQ(down.size(), 3000u);
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(up[i], rows[order[i] - 1]) << i;
    EXPECT_EQ(down[2999 - i], rows[order[i] - 1]) << i;
  }
  // python3-dbf reads the sorted plain table.
  const std::string first = up[0].substr(2, up[0].find('|', 2) - 2);
  EXPECT_EQ(RunOut("/usr/bin/python3 -c " +
                   Sh("import dbf,sys; t=dbf.Table(sys.argv[1], codepage='cp1251'); t.open(); "
                      "print(len(t), t[0].name.strip().encode('cp1251').hex())") +
                   " " + Sh(dir / "up.dbf")),
            "3000 " + Hex(first) + "\n");
}

// A scrambled table packed, copied and structure-copied under "" and under
// another password, and sorted: each opens with its own password only and
// holds the same records.
TEST(Passwords, EachNewTableOpensOnlyAsIntended) {
  TempDir dir;
  const std::string plain = TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  const std::vector<std::string> all = Rows(plain);
  std::vector<std::string> live;
  for (const std::string& r : all)
    if (r[0] == ' ') live.push_back(r);
  const auto opensOnlyWith = [&](const std::string& name, const std::string& password) {
    for (const char* other : {"", "secret", "other", "x"})
      if (password != other) {
        EXPECT_THROW(XBO_dBHandler(dir / name, other, false, false), EXBaseEncryption) << name << " " << other;
      }
  };
  XBO_dBHandler(plain, "", false, false).xbCopyFile(dir / "sec.dbf", "secret");
  EXPECT_EQ(Rows(dir / "sec.dbf", "secret"), all);
  {
    XBO_dBHandler s(dir / "sec.dbf", "secret", true, false);
    s.xbCopyFile(dir / "plain2", "");
    s.xbCopyFile(dir / "other", "other");
    s.xbCopyStructure(dir / "struct");
    s.xbSortFile(dir / "sorted", "x", "NAME", XBsetSortStatus::SortDown);
    s.xbPack();
  }
  EXPECT_EQ(Rows(dir / "sec.dbf", "secret"), live);
  opensOnlyWith("sec.dbf", "secret");
  EXPECT_EQ(Rows(dir / "plain2.dbf"), all);
  opensOnlyWith("plain2.dbf", "");
  EXPECT_EQ(Rows(dir / "other.dbf", "other"), all);
  opensOnlyWith("other.dbf", "other");
  EXPECT_TRUE(Rows(dir / "struct.dbf", "secret").empty());
  opensOnlyWith("struct.dbf", "secret");
  std::vector<std::string> sorted = Rows(dir / "sorted.dbf", "x"), expected = all;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);
  opensOnlyWith("sorted.dbf", "x");
  XBO_dBHandler(dir / "other.dbf", "other", true, false).xbPackMemo();
  EXPECT_EQ(Rows(dir / "other.dbf", "other"), live);
}

// Every table the engine builds or reads is scrambled as it stands and
// must reopen with its password: decimals as long as the field, names in
// lower case, the work-area byte set, a padded header, Visual FoxPro's
// field flags and null-flags field (python3-dbf's); a copy under a
// password of each too. A password one keystroke off is
// still refused.
TEST(Passwords, TablesOfEveryWriterReopenScrambled) {
  struct Case {
    const char* name;
    std::function<std::string(const TempDir&)> make;
  };
  const auto built = [](const char* type, int len) {
    return [=](const TempDir& dir) {
      {
        XBO_DBFBuild b(dir / "t.dbf");
        b.InsertField("NA", "C", 4, 0);
        b.InsertField("V", type, len, len);
      }
      XBO_dBHandler t(dir / "t.dbf", "", true, false);
      t.xbBlank();
      t.xbStringPutN(1, "one");
      t.xbAppend();
      return dir / "t.dbf";
    };
  };
  const auto taken = [](const char* rel) {
    return [=](const TempDir& dir) { return TakeTable(dir.path(), rel); };
  };
  for (const Case& c : {Case{"N(3,3)", built("N", 3)}, Case{"F(4,4)", built("F", 4)},
                        Case{"lower case", taken("table/lower-case-names.dbf")},
                        Case{"work area", taken("table/work-area-byte.dbf")},
                        Case{"padded", taken("table/padded-descriptors.dbf")},
                        Case{"visual foxpro", taken("table/vfp-null-flags.dbf")}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string table = c.make(dir);
    const std::vector<std::string> rows = Rows(table);
    ASSERT_FALSE(rows.empty());
    XBO_dBHandler(table, "", true, false).xbSetPassword("secret");
    EXPECT_EQ(Rows(table, "secret"), rows);
    EXPECT_THROW(XBO_dBHandler(table, "secreT", false, false), EXBaseEncryption);
    XBO_dBHandler(table, "secret", true, false).xbSetPassword("");
    EXPECT_EQ(Rows(table), rows);
    XBO_dBHandler(table, "", false, false).xbCopyFile(dir / "copy.dbf", "secret");
    EXPECT_EQ(Rows(dir / "copy.dbf", "secret"), rows);
  }
}

// A table without memos is packed in runs of about a megabyte: the bytes
// are those of the record-by-record copy of the pack in place, plain and
// scrambled, over runs that lose all, some or none of their records.
TEST(Pack, InRunsTheSameBytesAsRecordByRecord) {
  for (const char* password : {"", "secret"}) {
    SCOPED_TRACE(password);
    TempDir dir;
    for (const char* name : {"runs.dbf", "each.dbf"}) {
      {
        XBO_DBFBuild b(dir / name);
        AddBookFields(b);
      }
      {
        XBO_dBHandler t(dir / name, "", true, false);
        AppendBooks(t, 1, 7000);  // 441 bytes each: three runs and a part
        // The first run all deleted, then every third record.
        for (int n = 1; n <= 7000; ++n)
          if (n <= 2377 || n % 3 == 0) {
            t.xbGetRec(n);
            t.xbDeleteRec();
          }
      }
      if (*password) {
        XBO_dBHandler(dir / name, "", true, false).xbCopyFile(dir / "x.dbf", password);
        platform::RenameOver(dir / "x.dbf", dir / name);
      }
    }
    XBO_dBHandler(dir / "runs.dbf", password, true, false).xbPack();
    XBO_dBHandler(dir / "each.dbf", password, true, false).xbPackMemo();
    // Bytes 16-19 hold the time of the last write.
    const auto unstamped = [&](const char* name) { return platform::ReadFileBytes(dir / name).replace(16, 4, 4, '-'); };
    EXPECT_EQ(unstamped("runs.dbf"), unstamped("each.dbf"));
    EXPECT_EQ(Rows(dir / "runs.dbf", password).size(), 7000u - 2377u - (7000u / 3 - 2376u / 3));
  }
}

namespace {

using TMaintOp = std::function<void(XBO_dBHandler&, const TempDir&)>;

// Runs `op` on the table `rel`, taken into a fresh folder beside an
// existing target "target.dbf" with its memo file (and whatever `prepare`
// adds), and returns the error it raised (the folder's path left out),
// every file checked unchanged and none added.
std::string FailsCleanly(const std::string& rel, const TMaintOp& op, bool shared = false,
                         const std::function<void(const TempDir&)>& prepare = {}) {
  TempDir dir;
  const std::string table = TakeTable(dir.path(), rel);
  platform::WriteFileBytes(dir / "target.dbf", "an older table");
  platform::WriteFileBytes(dir / "target.dbt", "its memos");
  if (prepare) prepare(dir);
  const auto before = FolderFiles(dir.path());
  std::string error;
  {
    XBO_dBHandler t(table, "", true, shared);
    error = ErrorOf([&] { op(t, dir); });
  }
  EXPECT_EQ(FolderFiles(dir.path()), before) << rel << ": " << error;
  for (size_t at; (at = error.find(dir.path())) != std::string::npos;) error.erase(at, dir.path().size());
  return error;
}

}  // namespace

TEST(Failures, DamagedSourcesLeaveEveryFileAsItWas) {
  const TMaintOp pack = [](XBO_dBHandler& t, const TempDir&) { t.xbPack(); };
  const TMaintOp packInPlace = [](XBO_dBHandler& t, const TempDir&) { t.xbPackMemo(); };
  const TMaintOp copy = [](XBO_dBHandler& t, const TempDir& dir) { t.xbCopyFile(dir / "target", ""); };
  const std::string badMemo = "Memo record is bad in memo-past-end-live.dbt";
  EXPECT_EQ(FailsCleanly("maint/memo-past-end-live.dbf", pack), badMemo);
  EXPECT_EQ(FailsCleanly("maint/memo-past-end-live.dbf", copy), badMemo);
  EXPECT_EQ(FailsCleanly("maint/memo-past-end-deleted.dbf", packInPlace),
            "Memo record is bad in memo-past-end-deleted.dbt");
  for (const auto& op : {pack, packInPlace, copy})
    EXPECT_EQ(FailsCleanly("maint/count-past-end.dbf", op), "Error on Read of file count-past-end.dbf");
  EXPECT_EQ(FailsCleanly("harbour/ntx/longc.dbf",
                         [](XBO_dBHandler& t, const TempDir& dir) {
                           t.xbSortFile(dir / "target", "", "LONGC", XBsetSortStatus::SortUp);
                         }),
            "Sort key length must be 1-240 bytes, is 250");
}

TEST(Failures, RefusedTargetsAndSharedTables) {
  const auto onto = [](const char* name, bool sort) {
    return [=](XBO_dBHandler& t, const TempDir& dir) {
      if (sort)
        t.xbSortFile(dir / name, "", "NAME", XBsetSortStatus::SortUp);
      else
        t.xbCopyFile(dir / name, "");
    };
  };
  EXPECT_EQ(FailsCleanly("harbour/ntx/mixed.dbf", onto("mixed", false)), "CopyFile requires full access to file mixed.dbf");
  EXPECT_EQ(FailsCleanly("harbour/ntx/mixed.dbf", onto("MIXED.DBF", true)), "SortFile requires full access to file mixed.dbf");
  EXPECT_EQ(FailsCleanly("harbour/ntx/mixed.dbf", onto("mixed.dbt", false)), "CopyFile requires full access to file mixed.dbt");
  EXPECT_EQ(FailsCleanly(
                "harbour/ntx/mixed.dbf",
                [](XBO_dBHandler& t, const TempDir& dir) { t.xbCopyStructure(dir / "again.dbf"); }, false,
                [](const TempDir& dir) { link((dir / "mixed.dbf").c_str(), (dir / "again.dbf").c_str()); }),
            "CopyStructure requires full access to file again.dbf");
  EXPECT_EQ(FailsCleanly("harbour/ntx/mixed.dbf", [](XBO_dBHandler& t, const TempDir&) { t.xbPack(); }, true),
            "Pack requires full access to file mixed.dbf");
  EXPECT_EQ(FailsCleanly("harbour/ntx/mixed.dbf", [](XBO_dBHandler& t, const TempDir&) { t.xbPackMemo(); }, true),
            "Pack requires full access to file mixed.dbf");
  EXPECT_EQ(FailsCleanly("harbour/ntx/mixed.dbf", [](XBO_dBHandler& t, const TempDir&) { t.xbZap(); }, true),
            "Zap requires full access to file mixed.dbf");
  // A record copied into a table with shorter records.
  EXPECT_EQ(FailsCleanly(
                "harbour/ntx/mixed.dbf",
                [](XBO_dBHandler& t, const TempDir& dir) {
                  XBO_dBHandler narrow(dir / "count-past-end.dbf", "", true, false);
                  t.xbGetRec(1);
                  t.xbCopyRecord(narrow);
                },
                false, [](const TempDir& dir) { TakeTable(dir.path(), "maint/count-past-end.dbf"); }),
            "Table Header for count-past-end.dbf is invalid");
}

// A write the system refuses half-way (a file size limit): the copy, the
// pack and a new index fail, naming the file they make (not the new file
// beside it), and leave the folder as it was.
TEST(Failures, AWriteRefusedHalfWay) {
  struct TCase {
    const char* what;
    const char* table;
    const char* named;  // the file the error names
    std::function<void(XBO_dBHandler&, const TempDir&)> op;
  };
  const TCase cases[] = {
      // The new memo file outgrows the limit.
      {"copy", "harbour/ntx/mixed.dbf", "copy.dbt",
       [](XBO_dBHandler& t, const TempDir& dir) { t.xbCopyFile(dir / "copy", ""); }},
      {"pack", "harbour/ntx/mixed.dbf", "mixed.dbt",
       [](XBO_dBHandler& t, const TempDir&) { t.xbPack(); }},
      {"index", "harbour/ntx/big.dbf", "name.ndx",
       [](XBO_dBHandler& t, const TempDir& dir) {
         t.xbIndexTo(dir / "name.ndx", "", "NAME", "", XBsetIndexUnique::Duplicates,
                     XBsetSortStatus::Ascending);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string table = TakeTable(dir.path(), c.table);
    const auto before = FolderFiles(dir.path());
    const std::string error = "Error 27 in Write of file " + dir / c.named + " at block ";
    EXPECT_EQ(InChild([&] {
                std::signal(SIGXFSZ, SIG_IGN);
                const struct rlimit limit = {20000, 20000};
                setrlimit(RLIMIT_FSIZE, &limit);
                try {
                  XBO_dBHandler t(table, "", true, false);
                  c.op(t, dir);
                } catch (const EXBaseError& e) {
                  return std::string(e.what()).rfind(error, 0) == 0 ? 0 : 2;
                }
                return 1;
              }),
              0)
        << "2: another error or another file named";
    EXPECT_EQ(FolderFiles(dir.path()), before);
  }
}

// dBase III and IV memo files: packed tables read by the peers (dbfread's
// dBase IV memos carry 8 bytes too many); a pack in place gives the deleted
// record's blocks back to the next memo (dBase IV).
TEST(Peers, DBaseIIIAndIVPackedAndPackedInPlace) {
  TempDir dir;
  const std::vector<std::string> names = {"one", "two", "three"};
  const std::vector<std::string> memos = {std::string(700, 'a'), std::string(1500, 'b'), "third memo"};
  for (const char* name : {"p3.dbf", "p.dbf", "q.dbf"}) {
    if (name[1] == '3') {
      XBO_DBFBuild b(dir / name);
      b.InsertField("NAME", "C", 10, 0);
      b.InsertField("NOTE", "M", 10, 0);
    } else {
      XBO_DB4Build b(dir / name);
      b.InsertField("NAME", "C", 10, 0);
      b.InsertField("NOTE", "M", 10, 0);
    }
    XBO_dBHandler t(dir / name, "", true, false);
    for (size_t i = 0; i < names.size(); ++i) {
      t.xbBlank();
      t.xbStringPutN(1, names[i]);
      t.xbStringPutN(2, memos[i]);
      t.xbAppend();
    }
    t.xbGetRec(2);
    t.xbDeleteRec();
  }
  for (const char* name : {"p3.dbf", "p.dbf"}) {
    XBO_dBHandler(dir / name, "", true, false).xbPack();
    EXPECT_EQ(RunOut("dbf_dump --fs '|' " + Sh(dir / name)), "one|" + memos[0] + "\nthree|" + memos[2] + "\n") << name;
    const auto lines = Lines(RunOut(kXbPeer + " dbfread " + Sh(dir / name)));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 2 + 2 * 5 + 1 + 2 * memos[2].size()), "V " + Hex("three") + "|" + Hex(memos[2]));
  }
  EXPECT_EQ(Lines(RunOut(kXbPeer + " dbfread " + Sh(dir / "p3.dbf")))[0], "V " + Hex("one") + "|" + Hex(memos[0]));

  const std::string memoFile = dir / "q.dbt";
  XBO_dBHandler q(dir / "q.dbf", "", true, false);
  q.xbPackMemo();
  EXPECT_EQ(RunOut("dbf_dump --fs '|' " + Sh(dir / "q.dbf")), "one|" + memos[0] + "\nthree|" + memos[2] + "\n");
  const size_t size = platform::ReadFileBytes(memoFile).size();
  q.xbBlank();
  q.xbStringPutN(2, memos[1]);
  q.xbAppend();
  EXPECT_EQ(platform::ReadFileBytes(memoFile).size(), size);
  EXPECT_EQ(q.xbStringGetN(2), memos[1]);

  // A record naming another's memo (a file damaged before): the blocks of
  // the one deleted stay taken while the other names them.
  const std::string named = q.xbFieldGetN(2);
  q.xbBlank();
  q.xbStringPutN(1, "four");
  q.xbFieldPutN(2, named);
  q.xbAppend();
  q.xbGetRec(3);
  q.xbDeleteRec();
  q.xbPackMemo();
  q.xbBlank();
  q.xbStringPutN(2, std::string(1500, 'x'));
  q.xbAppend();
  EXPECT_EQ(RunOut("dbf_dump --fs '|' " + Sh(dir / "q.dbf")),
            "one|" + memos[0] + "\nthree|" + memos[2] + "\nfour|" + memos[1] + "\n|" + std::string(1500, 'x') + "\n");
}

// Other writers leave flag bytes other than "*" in records their readers
// list as live (dbf_dump among them): every pack keeps those, flag and
// memo as they were, and removes only the "*" ones.
TEST(Peers, PacksRemoveOnlyRecordsFlaggedDeleted) {
  struct Case {
    const char* name;
    bool memo, inPlace;
  };
  for (const Case& c : {Case{"runs", false, false}, Case{"memo", true, false}, Case{"in place", true, true}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string table = dir / "f.dbf";
    {
      XBO_DBFBuild b(table);
      b.InsertField("NAME", "C", 4, 0);
      if (c.memo) b.InsertField("NOTE", "M", 10, 0);
    }
    const std::string flags = std::string(" X") + '\0' + "*";
    {
      XBO_dBHandler t(table, "", true, false);
      for (char name : std::string("abcd")) {
        t.xbBlank();
        t.xbStringPutN(1, std::string(1, name));
        if (c.memo) t.xbStringPutN(2, std::string(3, name));
        t.xbAppend();
      }
    }
    std::string bytes = platform::ReadFileBytes(table);
    const size_t head = static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8;
    const size_t len = static_cast<uint8_t>(bytes[10]);
    for (size_t i = 0; i < flags.size(); ++i) bytes[head + i * len] = flags[i];
    platform::WriteFileBytes(table, bytes);
    {
      XBO_dBHandler t(table, "", true, false);
      c.inPlace ? t.xbPackMemo() : t.xbPack();
      EXPECT_EQ(t.NumRecs(), 3);
    }
    const std::vector<std::string> rows = Rows(table);
    ASSERT_EQ(rows.size(), 3u);
    for (size_t i = 0; i < rows.size(); ++i) {
      const std::string name(1, static_cast<char>('a' + i));
      EXPECT_EQ(rows[i], flags.substr(i, 1) + "|" + name + (c.memo ? "|" + std::string(3, name[0]) : "")) << i;
    }
    EXPECT_EQ(RunOut("dbf_dump --fs '|' " + Sh(table)), c.memo ? "a|aaa\nb|bbb\nc|ccc\n" : "a\nb\nc\n");
  }
}

namespace {

// The record numbers the active tag walks, from the top.
std::vector<int> TagWalk(XBO_dBHandler& t) {
  std::vector<int> recnos;
  for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext)) recnos.push_back(t.RecNumber());
  return recnos;
}

std::vector<int> ModelOrder(const std::string& table) {
  std::vector<int> order;
  for (const std::string& l : Lines(RunOut(kXbPeer + " sortmodel " + Sh(table)))) {
    if (l[0] != 'U') continue;
    std::istringstream in(l.substr(2));
    for (int n; in >> n;) order.push_back(n);
  }
  return order;
}

}  // namespace

// A pack with an index and a filter in force copies every live record,
// rebuilds the index for the new record numbers and keeps it the active
// order, and keeps the filter with its bitmap rebuilt; a copy through that
// order and filter writes the records shown, in key order.
TEST(Pack, WithAnNdxOnUpperNameAndAFilter) {
  TempDir dir;
  const std::string table = TakeTable(dir.path(), "harbour/ntx/big.dbf");
  std::vector<int> all, shown;
  {
    XBO_dBHandler t(table, "", true, false);
    t.xbIndexTo(dir / "x.ndx", "", "UPPER(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    ASSERT_EQ(t.xbIndex(dir / "x.ndx", "X"), 0);
    t.xbSetFilterExpr("ACTIVE", false, true, false);
    t.xbSetFilterActive(true);
    t.xbGetRec(2);
    t.xbPack();
    EXPECT_EQ(t.NumRecs(), 2805);
    EXPECT_EQ(t.PrimaryTagName(), "X");
    shown = TagWalk(t);
    t.xbCopyFile(dir / "ordered", "");
    t.xbSetFilterActive(false);
    all = TagWalk(t);
  }
  EXPECT_EQ(all, ModelOrder(table));
  std::vector<int> peer;
  for (const auto& [key, rec] : xbtest::PeerListing(dir / "x.ndx")) peer.push_back(rec);
  EXPECT_EQ(peer, all);
  const std::vector<std::string> rows = Rows(table), ordered = Rows(dir / "ordered.dbf");
  std::vector<int> active;
  for (int rec : all)
    if (rows[static_cast<size_t>(rec - 1)].back() == 'T') active.push_back(rec);
  EXPECT_EQ(shown, active);
  EXPECT_TRUE(!shown.empty() && shown.size() < all.size());
  ASSERT_EQ(ordered.size(), shown.size());
  for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(ordered[i], rows[static_cast<size_t>(shown[i] - 1)]) << i;
}

// A table, its memo and index files kept elsewhere and reached through
// links: every rewrite replaces the files the links lead to, beside
// themselves with their mode, and the links stay links.
TEST(Links, EveryRewriteGoesThroughTheLink) {
  using TOp = std::function<void(XBO_dBHandler&, const std::string&)>;
  const auto up = XBsetSortStatus::Ascending;
  const auto dup = XBsetIndexUnique::Duplicates;
  const auto call = [](void (XBO_dBHandler::*f)()) { return [f](XBO_dBHandler& t, const std::string&) { (t.*f)(); }; };
  const auto indexOn = [&](const char* file, const char* tag) {
    return [=](XBO_dBHandler& t, const std::string& w) { t.xbIndexTo(w + file, tag, "NUM", "", dup, up); };
  };
  const std::vector<std::string> all = {"t.cdx", "t.dbf", "t.dbt", "t.ntx"}, indexes = {"t.cdx", "t.ntx"};
  const std::vector<std::pair<TOp, std::vector<std::string>>> cases = {
      {call(&XBO_dBHandler::xbReIndex), indexes},
      {call(&XBO_dBHandler::xbZap), all},
      {call(&XBO_dBHandler::xbPack), all},
      {call(&XBO_dBHandler::xbPackMemo), {"t.cdx", "t.dbf", "t.ntx"}},
      {indexOn("t.ntx", ""), {"t.ntx"}},
      {indexOn("t.cdx", "NUM"), {"t.cdx"}},
      {[](XBO_dBHandler& t, const std::string&) { t.xbIndexTagRemove("t.cdx", "NAME"); }, {"t.cdx"}},
      {[](XBO_dBHandler& t, const std::string&) { t.xbSetPassword("secret"); }, {"t.cdx", "t.dbf", "t.ntx"}},
      {[](XBO_dBHandler& t, const std::string& w) {
         t.xbCloseFile();
         XBO_DBFBuild(w + "t.dbf").InsertField("NOTE", "M", 10, 0);
       }, {"t.dbf", "t.dbt"}},
  };
  for (const auto& [op, rewritten] : cases) {
    SCOPED_TRACE(&op - &cases.front().first);
    TempDir dir;
    const std::string store = dir / "store/", work = dir / "work/";
    ASSERT_TRUE(platform::ForceDirectories(store) && platform::ForceDirectories(work));
    {
      XBO_DBFBuild b(store + "t.dbf");
      b.InsertField("NAME", "C", 10, 0);
      b.InsertField("NUM", "N", 4, 0);
      b.InsertField("NOTE", "M", 10, 0);
    }
    {
      XBO_dBHandler t(store + "t.dbf", "", true, false);
      for (int i = 1; i <= 50; ++i) {
        t.xbBlank();
        t.xbStringPutN(1, "n" + std::to_string(i * 7 % 50));
        t.xbStringPutN(3, std::string(static_cast<size_t>(i * 13), 'm'));
        t.xbAppend();
        if (i % 4 == 0) t.xbDeleteRec();
      }
      t.xbIndexTo(store + "t.ntx", "", "UPPER(NAME)", "", dup, up);
      t.xbIndexTo(store + "t.cdx", "NAME", "UPPER(NAME)", "", dup, up);
    }
    std::map<std::string, platform::TFileInfo> before;
    for (const std::string& f : all) {
      ASSERT_EQ(chmod((store + f).c_str(), 0640), 0);
      ASSERT_EQ(symlink(("../store/" + f).c_str(), (work + f).c_str()), 0);
      platform::GetFileInfo(work + f, before[f]);
    }
    {
      XBO_dBHandler t(work + "t.dbf", "", true, false);
      t.xbIndex("t.ntx,t.cdx", "");
      op(t, work);
    }
    std::vector<std::string> replaced;
    for (const std::string& f : all) {
      platform::TFileInfo after;
      ASSERT_TRUE(platform::GetFileInfo(work + f, after));
      EXPECT_TRUE(after.isLink && (after.mode & 0777) == 0640) << f;
      if (after.id != before[f].id) replaced.push_back(f);
    }
    EXPECT_EQ(replaced, rewritten);
    EXPECT_EQ(platform::ListFolder(store).size(), all.size());
  }
}
