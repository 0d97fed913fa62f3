// Memo files of the three formats: where memos go, reuse of freed blocks,
// round trips, scrambled memos, and damaged files.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/scrambling.h"
#include "xbase/table/fields.h"
#include "xbase/table/memo_files.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

using namespace xbase;

namespace {

// A new table "m.dbf" with one memo field of the builder's kind, and its memo.
struct MemoTable {
  MemoTable(const TempDir& dir, char kind, const AnsiString& password = "") {
    EXPECT_TRUE(CreateDBF(dir / "m.dbf", kind, [](int no, AnsiString& s, char& t, int&, int&) {
      if (no == 1) s = "NOTE", t = 'M';
      return true;
    }));
    const uint8_t ver = static_cast<uint8_t>(platform::ReadFileBytes(dir / "m.dbf")[0]);
    memo = XBobjMemo::Open(dir / "m.dbf", password, true, false, ver);
  }
  int64_t Write(const std::string& text, int64_t blk = 0) {
    memo->moMemoWrite(text.data(), blk, static_cast<int64_t>(text.size()));
    return blk;
  }
  std::unique_ptr<XBobjMemo> memo;
};

uint32_t Word(const std::string& file, size_t at) {
  uint32_t v;
  std::memcpy(&v, file.data() + at, 4);
  return v;
}

// Bytes without 0x1A (a dBase III memo ends at the first one).
std::string Text(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, ' ');
  for (char& c : s) c = static_cast<char>(rng() % 0x19 + 0x20 + rng() % 200);
  for (char& c : s)
    if (c == 0x1A) c = 'z';
  return s;
}

}  // namespace

TEST(Memo, DBaseIIIBlocksAndRewrites) {
  TempDir dir;
  MemoTable t(dir, '3');
  EXPECT_EQ(t.Write(std::string(510, 'a')), 1);
  EXPECT_EQ(t.memo->MemoBloksUsed(), 1) << "510 bytes and two terminators fill one block";
  EXPECT_EQ(t.Write(std::string(511, 'b')), 2);
  EXPECT_EQ(t.memo->MemoBloksUsed(), 2);
  // The record names the old memo until it is written: a rewrite, even
  // one that would fit, goes to the end.
  EXPECT_EQ(t.Write(std::string(100, 'c'), 2), 4);
  EXPECT_EQ(t.Write(std::string(600, 'd'), 1), 5);
  const std::string file = platform::ReadFileBytes(dir / "m.dbt");
  EXPECT_EQ(Word(file, 0), 7u);
  EXPECT_EQ(file.size(), 7u * 512);
  EXPECT_EQ(t.memo->moMemoGet(4), std::string(100, 'c'));
  EXPECT_EQ(t.memo->moMemoGet(5), std::string(600, 'd'));
  EXPECT_EQ(file.substr(512 * 5 + 600, 2), "\x1A\x1A");
  EXPECT_EQ(t.memo->moMemoGet(1), std::string(510, 'a')) << "the old memos are left as they were";
  EXPECT_EQ(t.memo->moMemoGet(2), std::string(511, 'b'));
}

// Another writer ends a 511-byte memo with a single 0x1A and starts the
// next memo in the next block; rewriting it longer must not touch that one.
TEST(Memo, RewritingAFullBlockMemoOfAnotherWriterSparesTheNext) {
  TempDir dir;
  for (const char* ext : {".dbf", ".dbt"})
    platform::WriteFileBytes(dir / (std::string("mixed") + ext),
                             platform::ReadFileBytes(kXbData + "harbour/ntx/mixed" + ext));
  const std::string before = platform::ReadFileBytes(dir / "mixed.dbt");
  const std::string longer = platform::Utf8ToAnsi("Длиннее: ") + std::string(591, 'n');
  {
    XBO_dBaseDBF t(dir / "mixed.dbf", "", true, false);
    t.xbGetRec(7);
    ASSERT_EQ(std::stoll(GetField(t, 7)), 6);
    ASSERT_EQ(t.xbMemoObject()->moMemoSize(6), 511);
    int64_t blk = 6;
    t.xbMemoObject()->moMemoWrite(longer.data(), blk, 600);
    EXPECT_GT(blk, 7);
    PutField(t, 7, std::to_string(blk));
    t.SetdState(dbEdit);
    t.xbPutRec(7);
  }
  const std::string after = platform::ReadFileBytes(dir / "mixed.dbt");
  EXPECT_EQ(after.substr(6 * 512, 2 * 512), before.substr(6 * 512, 2 * 512));

  // dbfread reads every memo as the other writer left it, and the new one.
  std::map<int, std::string> expected;  // by order among live, then deleted records
  std::vector<std::string> live, deleted;
  int recno = 0;
  bool isDeleted = false;
  for (const std::string& l : Lines(RunOut(kXbPeer + " fixture " + Sh(kXbData + "harbour/ntx/mixed.json")))) {
    std::istringstream in(l);
    std::string kind, a, b;
    in >> kind >> a >> b;
    if (kind == "R") recno = std::stoi(a), isDeleted = b == "1";
    if (kind != "M") continue;
    (isDeleted ? deleted : live).push_back(recno == 7 ? Hex(longer) : b);
  }
  std::vector<std::string> readLive, readDeleted;
  for (const std::string& l : Lines(RunOut(kXbPeer + " dbfread " + Sh(dir / "mixed.dbf")))) {
    (l[0] == 'V' ? readLive : readDeleted).push_back(l.substr(l.rfind('|') + 1));
  }
  EXPECT_EQ(readLive.size(), live.size());
  EXPECT_TRUE(readLive == live);  // (too long to print)
  EXPECT_TRUE(readDeleted == deleted);
}

TEST(Memo, DBaseIVReusesReleasedRunsAndKeepsTheChainEndingAtTheEnd) {
  TempDir dir;
  MemoTable t(dir, '4');
  const std::string path = dir / "m.dbt";
  EXPECT_EQ(platform::ReadFileBytes(path).size(), 512u) << "padded to a whole block at open";
  const int64_t a = t.Write(std::string(100, 'a'));
  const int64_t b = t.Write(std::string(1000, 'b'));
  const int64_t c = t.Write(std::string(100, 'c'));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, 4);
  EXPECT_EQ(Word(platform::ReadFileBytes(path), 0), 5u);

  EXPECT_EQ(t.Write(std::string(1000, 'B'), b), 5) << "a rewrite leaves the blocks its record still names";
  EXPECT_EQ(t.memo->moMemoGet(b), std::string(1000, 'b'));
  t.memo->moMemoBlockRelease(b);  // the record now names block 5
  EXPECT_EQ(t.Write(std::string(100, 'x')), 2) << "a smaller memo takes the front of a released run";
  std::string file = platform::ReadFileBytes(path);
  EXPECT_EQ(Word(file, 0), 3u) << "the rest of the run heads the chain";
  EXPECT_EQ(Word(file, 3 * 512), 7u);
  EXPECT_EQ(Word(file, 3 * 512 + 4), 1u);
  EXPECT_EQ(t.Write(std::string(50, 'y')), 3);

  t.memo->moMemoBlockRelease(a);
  const int64_t big = t.Write(std::string(2000, 'z'));  // 4 blocks: the freed one is too small
  EXPECT_EQ(big, 7);
  file = platform::ReadFileBytes(path);
  EXPECT_EQ(file.size(), 11u * 512);
  EXPECT_EQ(Word(file, 0), 1u);
  EXPECT_EQ(Word(file, 512), 11u) << "the last link points at the end of the file";
  EXPECT_EQ(t.memo->moMemoGet(2), std::string(100, 'x'));
  EXPECT_EQ(t.memo->moMemoGet(3), std::string(50, 'y'));
  EXPECT_EQ(t.memo->moMemoGet(4), std::string(100, 'c'));
  EXPECT_EQ(t.memo->moMemoGet(5), std::string(1000, 'B'));
  EXPECT_EQ(t.memo->moMemoGet(7), std::string(2000, 'z'));
  EXPECT_EQ(ErrorOf([&] { t.memo->moMemoGet(1); }), "Memo record is bad in " + path) << "a freed run is no memo";
  EXPECT_EQ(t.Write("", 4), 0) << "an empty memo is no memo";
  EXPECT_EQ(t.memo->moMemoGet(4), std::string(100, 'c')) << "given back only once no record names it";
  t.memo->moMemoBlockRelease(4);
  EXPECT_EQ(Word(platform::ReadFileBytes(path), 0), 4u);
}

// A memo put for a record that is then not written (an edit given up)
// leaves the record's memo as it was, in every format, while other memos
// are written after it; a dBase IV record written gives its old memo's
// blocks to the next memo.
TEST(Memo, ARecordNamesItsMemoUntilTheRecordIsWritten) {
  for (char kind : {'3', '4', 'F'}) {
    TempDir dir;
    MemoTable(dir, kind).memo.reset();
    XBO_dBaseFld t(dir / "m.dbf", "", true, false);
    const auto append = [&](const std::string& text) {
      t.xbBlank();
      t.xbStringPutN(1, text);
      t.xbAppend();
    };
    const auto rewrite = [&](int n, const std::string& text) {
      t.xbGetRec(n);
      t.xbStringPutN(1, text);
      t.xbPutRec(n);
    };
    append(std::string(1500, 'a'));
    append(std::string(200, 'b'));
    t.xbGetRec(1);
    t.xbStringPutN(1, "given up");
    rewrite(2, std::string(3000, 'c'));
    append("d");
    const std::string memoPath = XBobjMemo::MemoFileName(dir / "m.dbf", t.FileVers());
    const size_t size = platform::ReadFileBytes(memoPath).size();
    for (char c = 'e'; c < 'j'; ++c) rewrite(2, std::string(3000, c));
    // dBase IV takes the runs given up again; the others only append.
    EXPECT_LE(platform::ReadFileBytes(memoPath).size(), size + (kind == '4' ? 6 : 30) * 512);
    const std::vector<std::string> expected = {std::string(1500, 'a'), std::string(3000, 'i'), "d"};
    for (int n = 1; n <= 3; ++n) {
      t.xbGetRec(n);
      EXPECT_EQ(t.xbStringGetN(1), expected[static_cast<size_t>(n - 1)]) << kind << n;
    }
  }
}

TEST(Memo, FoxProAlwaysAppends) {
  TempDir dir;
  MemoTable t(dir, 'F');
  EXPECT_EQ(t.Write("ten bytes!"), 8);
  EXPECT_EQ(t.Write("ten bytes!", 8), 9);
  EXPECT_EQ(t.Write(std::string(100, 'q'), 9), 10);
  const std::string file = platform::ReadFileBytes(dir / "m.fpt");
  EXPECT_EQ(file.substr(0, 4), std::string("\0\0\0\x0C", 4));
  EXPECT_EQ(file.substr(10 * 64, 8), std::string("\0\0\0\1\0\0\0\x64", 8));
  EXPECT_EQ(t.memo->moMemoGet(10), std::string(100, 'q'));
}

TEST(Memo, RoundTripsInEveryFormatPlainAndScrambled) {
  for (const char* password : {"", "pw"}) {
    for (char kind : {'3', '4', 'F'}) {
      TempDir dir;
      MemoTable t(dir, kind, password);
      EXPECT_EQ(t.memo->moMemoGet(0), "");
      EXPECT_EQ(t.memo->moMemoSize(0), 0);
      EXPECT_EQ(t.Write(""), 0) << "nothing is written for no memo";
      for (size_t n : {size_t{1}, size_t{65519}, size_t{65520}, size_t{1} << 20}) {
        const std::string text = Text(n, static_cast<unsigned>(n));
        const int64_t blk = t.Write(text);
        EXPECT_EQ(t.memo->moMemoSize(blk), static_cast<int64_t>(n)) << kind << " " << n;
        EXPECT_EQ(t.memo->moMemoGet(blk), text) << kind << " " << n << " " << password;
        std::string part(10, '\0');
        EXPECT_EQ(t.memo->moMemoRead(part.data(), blk, 10), std::min<int64_t>(10, static_cast<int64_t>(n)));
        EXPECT_EQ(part.substr(0, std::min<size_t>(10, n)), text.substr(0, 10));
      }
    }
  }
  // A scrambled dBase III memo keeps its length in 4 plain bytes before it.
  TempDir dir;
  MemoTable t(dir, '3', "pw");
  const std::string text = "\x1A\x1A inside a scrambled memo";
  EXPECT_EQ(t.Write(text), 1);
  const std::string file = platform::ReadFileBytes(dir / "m.dbt");
  EXPECT_EQ(Word(file, 512), text.size());
  std::string stored = file.substr(516, text.size());
  CryptBuffer("pw", stored.data(), stored.data(), stored.size(), false);
  EXPECT_EQ(stored, text);
  EXPECT_EQ(t.memo->moMemoGet(1), text);
}

// A header whose next free block lies past the end of the file. Far beyond
// it, a new memo goes at the end, not into a hole that a memo without its
// terminator would then read as its own. A dBase IV chain ending a little
// past the end tells of a file cut short, whose records may still name
// the blocks there: the memo goes where the chain says. A file of 512-byte
// blocks whose header says 1,024 (next free block 2) has its records name
// blocks past the end: with its table, the memo goes past them.
TEST(Memo, ANextFreeBlockPastTheEndOfTheFile) {
  const std::tuple<const char*, uint8_t, int64_t, int64_t> cases[] = {
      {"dbt3-next-free-past-end.dbt", 0x83, 1, 2},
      {"fpt-next-free-past-end.fpt", 0xF5, 8, 9},
      {"dbt4-1024-next-free-past-end.dbt", 0x8B, 1, 3},
      {"dbt4-1024-next-free-far-past-end.dbt", 0x8B, 1, 2},
      {"dbt4-1024-next-free-2.dbt", 0x8B, 1, 3},
      {"dbt4-512-layout-as-1024.dbt", 0x8B, 1, 4},  // the file in whole blocks
  };
  for (const auto& [name, ver, old, expected] : cases) {
    TempDir dir;
    const std::string file = name;
    const std::string table = platform::ChangeFileExt(file, ".dbf");
    std::unique_ptr<XBO_dBaseFld> t;
    std::unique_ptr<XBobjMemo> own;
    XBobjMemo* memo = nullptr;
    if (platform::FileExists(kXbData + "memo/" + table)) {
      t = std::make_unique<XBO_dBaseFld>(TakeTable(dir.path(), "memo/" + table), "", true, false);
      memo = t->xbMemoObject();
    } else {
      platform::WriteFileBytes(dir / ("t" + file.substr(file.size() - 4)),
                               platform::ReadFileBytes(kXbData + "memo/" + file));
      own = XBobjMemo::Open(dir / "t.dbf", "", true, false, ver);
      memo = own.get();
    }
    const std::string memoPath = memo->FileName();
    int64_t blk = 0;
    memo->moMemoWrite("new memo", blk, 8);
    EXPECT_EQ(blk, expected) << name;
    EXPECT_EQ(platform::ReadFileBytes(memoPath).size(), static_cast<size_t>((blk + 1) * memo->BytesPerBlok())) << name;
    EXPECT_EQ(memo->moMemoGet(old), "kept memo") << name;
    EXPECT_EQ(memo->moMemoGet(blk), "new memo") << name;
  }
}

TEST(Memo, DamagedFilesAreRefused) {
  const std::pair<const char*, int64_t> cases[] = {
      {"dbt4-lenmemo-below-8.dbt", 1},  {"dbt4-lenmemo-past-end.dbt", 1},
      {"fpt-length-past-end.fpt", 8},   {"fpt-bad-type.fpt", 8},
      {"dbt4-blocksize-zero.dbt", 0},   {"fpt-blocksize-zero.fpt", 0},
      // Block numbers whose byte position would overflow 64 bits (the
      // second one a FoxPro field of 15 digits holds).
      {"dbt4-1024-next-free-past-end.dbt", int64_t{1} << 62},
      {"fpt-blocksize-16384.fpt", 567890123456789},
  };
  for (const auto& [name, blk] : cases) {
    TempDir dir;
    const std::string file = std::string(name);
    const std::string ext = file.substr(file.size() - 4);
    platform::WriteFileBytes(dir / ("t" + ext), platform::ReadFileBytes(kXbData + "memo/" + file));
    const uint8_t ver = ext == ".fpt" ? 0xF5 : 0x8B;
    const std::string message = "Memo record is bad in " + dir / ("t" + ext);
    EXPECT_EQ(ErrorOf([&] {
                auto memo = XBobjMemo::Open(dir / "t.dbf", "", true, false, ver);
                memo->moMemoGet(blk);
              }),
              message)
        << name;
    if (blk == 0) continue;
    EXPECT_EQ(ErrorOf([&] {
                auto memo = XBobjMemo::Open(dir / "t.dbf", "", true, false, ver);
                int64_t b = blk;
                memo->moMemoWrite("new", b, 3);
              }),
              message)
        << name << ": a rewrite measures the old memo first";
  }

  TempDir dir;
  std::unique_ptr<XBobjMemo> memo;
  for (const char* name : {"dbt4-cyclic-free-chain.dbt", "dbt4-free-chain-into-memo.dbt"}) {
    const std::string file = platform::ReadFileBytes(kXbData + "memo/" + name);
    memo.reset();
    platform::WriteFileBytes(dir / "t.dbt", file);
    memo = XBobjMemo::Open(dir / "t.dbf", "", true, false, 0x8B);
    int64_t blk = 0;
    EXPECT_EQ(ErrorOf([&] { memo->moMemoWrite(std::string(600, 'x').data(), blk, 600); }),
              "Memo record is bad in " + dir / "t.dbt")
        << name;
    EXPECT_EQ(blk, 0);
    EXPECT_EQ(platform::ReadFileBytes(dir / "t.dbt"), file) << name;
  }
  EXPECT_EQ(ErrorOf([&] { memo->moMemoGet(99); }), "Memo record is bad in " + dir / "t.dbt") << "beyond the file";
  EXPECT_EQ(ErrorOf([&] { XBobjMemo::Open(dir / "none.dbf", "", true, false, 0x83); }),
            "File " + dir / "none.dbt" + " could not be found");
}
