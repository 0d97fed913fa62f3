// Table builders and CreateDBF: the bytes they write, what they refuse, and
// what the peers read from their tables.
#include <gtest/gtest.h>

#include <string>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/xb_build.h"
#include "xbase/xb_dbf.h"
#include "xbase/xb_memo.h"

using namespace xbase;

namespace {

std::string Bytes(const std::string& path) { return platform::ReadFileBytes(path); }

}  // namespace

TEST(Build, BookTableIsByteForByteTheCataloguesHeader) {
  TempDir dir;
  {
    XBO_DBFBuild b(dir / "bo");
    AddBookFields(b);
    b.Complete();
  }
  const std::string f = Bytes(dir / "bo.DBF");
  ASSERT_EQ(f.size(), 290u);
  EXPECT_EQ(f[0], 0x03);
  EXPECT_EQ(f.substr(4, 8), std::string("\0\0\0\0\x21\x01\xB9\x01", 8));  // count 0, 289, 441
  EXPECT_EQ(f.substr(12, 20), std::string(20, '\0'));
  const std::string descriptors = Descriptor("AU", 'N', 10, 0) + Descriptor("NA", 'C', 250, 0) +
                                  Descriptor("SB", 'C', 150, 0) + Descriptor("FI", 'C', 8, 0) +
                                  Descriptor("SZ", 'N', 8, 0) + Descriptor("GE", 'C', 8, 0) +
                                  Descriptor("DT", 'C', 4, 0) + Descriptor("LN", 'C', 2, 0);
  EXPECT_EQ(f.substr(32, 256), descriptors);
  EXPECT_EQ(f.substr(288), "\x0D\x1A");

  XBO_DBFBuild small(dir / "au.dbf");
  small.InsertField("ID", "N", 10, 0);
  small.InsertField("NA", "C", 120, 0);
  small.Complete();
  const std::string g = Bytes(dir / "au.dbf");
  EXPECT_EQ(g.size(), 98u);
  EXPECT_EQ(g.substr(8, 4), std::string("\x61\x00\x83\x00", 4));  // 97, 131
}

TEST(Build, FieldDefinitionsBecomeDescriptors) {
  TempDir dir;
  XBO_DBFBuild b(dir / "t.dbf");
  b.InsertField("wide", "c", 300, 7);               // decimals ignored; length in two bytes
  b.InsertField("abcdefghijklmnop", "N", 5, 2);     // 16 letters
  b.InsertField("", "N", 5, 0);                     // ignored
  b.InsertField(platform::Utf8ToAnsi("когда"), "D", 3, 3);               // D is 8 wide whatever is asked
  b.InsertField("ok", "Logical", 9, 9);             // first letter of the type
  EXPECT_EQ(b.dbRecLen(), 1 + 300 + 5 + 8 + 1);
  b.Complete();
  const std::string f = Bytes(dir / "t.dbf");
  EXPECT_EQ(f.substr(32, 32), Descriptor("WIDE", 'C', 44, 1));
  EXPECT_EQ(f.substr(64, 32), Descriptor("ABCDEFGHIJ", 'N', 5, 2));
  EXPECT_EQ(f.substr(96, 32), Descriptor(platform::Utf8ToAnsi("КОГДА"), 'D', 8, 0));
  EXPECT_EQ(f.substr(128, 32), Descriptor("OK", 'L', 1, 0));

  XBO_dBaseDBF t(dir / "t.dbf", "", false, false);
  ASSERT_EQ(t.NumFields(), 4);
  EXPECT_EQ(t.Fields(0).Length(), 300);
  EXPECT_EQ(t.Fields(0).Decimals(), 0);
  EXPECT_EQ(t.Fields(1).dbFieldOffset, 301u);
  EXPECT_EQ(t.Fields(3).dbFieldNum, 4);
}

TEST(Build, MemoFilesOfTheThreeBuilders) {
  TempDir dir;
  {
    XBO_DBFBuild b(dir / "longname3.dbf");
    b.InsertField("NOTE", "M", 0, 0);
  }
  {
    XBO_DB4Build b(dir / "d4.dbf");
    b.InsertField("N", "N", 3, 0);
    b.InsertField("NOTE", "M", 99, 9);
  }
  {
    XBO_DBFoxBuild b(dir / "fx.dbf");
    b.InsertField("PIC", "G", 0, 0);
  }
  {
    XBO_DB4Build b(dir / "plain4.dbf");
    b.InsertField("N", "N", 3, 0);
  }
  std::string dbt3(513, '\0');
  dbt3[0] = 1;
  dbt3.replace(8, 8, "longname");  // cut to 8 characters
  dbt3[512] = 0x1A;
  EXPECT_EQ(Bytes(dir / "longname3.DBT"), dbt3);
  EXPECT_EQ(static_cast<uint8_t>(Bytes(dir / "longname3.dbf")[0]), 0x83);

  std::string dbt4(24, '\0');
  dbt4[0] = 1;
  dbt4.replace(8, 2, "d4");
  dbt4[18] = 2;
  dbt4[19] = 1;
  dbt4[21] = 2;
  EXPECT_EQ(Bytes(dir / "d4.DBT"), dbt4);
  const std::string d4 = Bytes(dir / "d4.dbf");
  EXPECT_EQ(static_cast<uint8_t>(d4[0]), 0x8B);
  EXPECT_EQ(d4.substr(64, 32), Descriptor("NOTE", 'M', 10, 0));

  std::string fpt(512, '\0');
  fpt[3] = 8;
  fpt[7] = 64;
  EXPECT_EQ(Bytes(dir / "fx.fpt"), fpt);
  EXPECT_EQ(static_cast<uint8_t>(Bytes(dir / "fx.dbf")[0]), 0xF5);

  EXPECT_EQ(Bytes(dir / "plain4.dbf")[0], 0x03);
  EXPECT_FALSE(platform::FileExists(dir / "plain4.DBT"));
}

TEST(Build, WhatTheHeaderCannotHoldIsRefusedBeforeAnyFile) {
  TempDir dir;
  auto refused = [&](auto define) {
    {
      XBO_DBFBuild b(dir / "x.dbf");
      EXPECT_EQ(ErrorOf([&] { define(b); }), "Field list is invalid");
      EXPECT_FALSE(b.GoodToGo());
    }
    EXPECT_FALSE(platform::FileExists(dir / "x.dbf"));
  };
  refused([](XBO_DBFBuild& b) { b.InsertField("C", "C", 65536, 0); });
  refused([](XBO_DBFBuild& b) { b.InsertField("N", "N", 256, 0); });
  refused([](XBO_DBFBuild& b) { b.InsertField("N", "N", 10, 256); });
  refused([](XBO_DBFBuild& b) { b.InsertField("N", "", 10, 0); });
  refused([](XBO_DBFBuild& b) {  // the record length word
    b.InsertField("A", "C", 65000, 0);
    b.InsertField("B", "C", 535, 0);
  });
  refused([](XBO_DBFBuild& b) {  // the header length word: 2047 descriptors
    for (int i = 0; i < 2047; ++i) b.InsertField("F" + std::to_string(i), "L", 1, 0);
  });

  XBO_DBFBuild fits(dir / "y.dbf");
  fits.InsertField("A", "C", 65000, 0);
  fits.InsertField("B", "C", 534, 0);
  fits.Complete();
  XBO_dBaseDBF t(dir / "y.dbf", "", false, false);
  EXPECT_EQ(t.RecLen(), 65535);
}

TEST(Build, CreateDBFByCallback) {
  TempDir dir;
  const char* names[] = {"ID", "TEXT", "NOTE"};
  const char types[] = {'N', 'C', 'M'};
  auto fields = [&](int no, AnsiString& s, char& t, int& l, int& d) {
    if (no > 3) return true;  // an empty name ends the list
    s = names[no - 1];
    t = types[no - 1];
    l = 20;
    d = 0;
    return true;
  };
  EXPECT_TRUE(CreateDBF(dir / "f.dbf", 'F', fields));
  EXPECT_EQ(static_cast<uint8_t>(Bytes(dir / "f.dbf")[0]), 0xF5);
  EXPECT_EQ(Bytes(dir / "f.fpt").size(), 512u);
  EXPECT_TRUE(CreateDBF(dir / "four", '5', fields));
  EXPECT_EQ(Bytes(dir / "four.DBT").size(), 24u);

  int calls = 0;
  EXPECT_FALSE(CreateDBF(dir / "no.dbf", '3', [&](int, AnsiString&, char&, int&, int&) { return ++calls, false; }));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(platform::FileExists(dir / "no.dbf"));
  // Abandoned after two good fields, and refused on a bad one: no table.
  EXPECT_FALSE(CreateDBF(dir / "late.dbf", '3', [&](int no, AnsiString& s, char& t, int& l, int&) {
    s = "F" + std::to_string(no), t = 'C', l = 5;
    return no < 3;
  }));
  EXPECT_FALSE(CreateDBF(dir / "bad.dbf", '3', [&](int no, AnsiString& s, char& t, int& l, int&) {
    s = "F" + std::to_string(no), t = 'N', l = no == 2 ? 300 : 5;
    return true;
  }));
  EXPECT_FALSE(CreateDBF(dir / "kind.dbf", 'Z', fields));
  EXPECT_FALSE(platform::FileExists(dir / "late.dbf"));
  EXPECT_FALSE(platform::FileExists(dir / "bad.dbf"));
  EXPECT_FALSE(platform::FileExists(dir / "kind.dbf"));
}

// Our tables with records and memos, read by dbfread, Perl XBase and pgdbf.
class BuildPeers : public ::testing::Test {
 protected:
  // A table of `kind` with fields NAME C(len), QTY N(6), NOTE M, two records.
  std::string Make(char kind, int nameLen, bool memo = true) {
    const std::string path = dir_ / (std::string("p") + kind + ".dbf");
    EXPECT_TRUE(CreateDBF(path, kind, [&](int no, AnsiString& s, char& t, int& l, int& d) {
      static const char* names[] = {"NAME", "QTY", "NOTE"};
      static const char types[] = {'C', 'N', 'M'};
      if (no <= (memo ? 3 : 2)) s = names[no - 1], t = types[no - 1], l = no == 1 ? nameLen : 6, d = 0;
      return true;
    }));
    XBO_dBaseDBF t(path, "", true, false);
    for (int i = 0; i < 2; ++i) {
      std::memset(t.CurRecord(), ' ', static_cast<size_t>(t.RecLen()));
      PutField(t, 0, names_[i]);
      PutField(t, 1, std::to_string(i * 100 - 7));
      if (memo) {
        int64_t blk = 0;
        t.xbMemoObject()->moMemoWrite(memos_[i].data(), blk, static_cast<int64_t>(memos_[i].size()));
        PutField(t, 2, std::to_string(blk));
      }
      t.xbAppend();
    }
    return path;
  }
  TempDir dir_;
  const std::string names_[2] = {platform::Utf8ToAnsi("Пушкин"), "Gogol"};
  const std::string memos_[2] = {platform::Utf8ToAnsi("Первая запись\r\n") + std::string(600, 'z'), "two"};
};

TEST_F(BuildPeers, DbfreadReadsDBaseIIIAndFoxProTablesWithMemos) {
  for (char kind : {'3', 'F'}) {
    const auto lines = Lines(RunOut(kXbPeer + " dbfread " + Sh(Make(kind, 300))));
    ASSERT_EQ(lines.size(), 2u) << kind;
    EXPECT_EQ(lines[0], "V " + Hex(names_[0]) + "|-7|" + Hex(memos_[0])) << kind;
    EXPECT_EQ(lines[1], "V " + Hex(names_[1]) + "|93|" + Hex(memos_[1])) << kind;
  }
  // dBase IV: dbfread reads the fields (its memos carry 8 bytes too many).
  const auto lines = Lines(RunOut(kXbPeer + " dbfread " + Sh(Make('4', 20, false))));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "V " + Hex(names_[1]) + "|93");
}

TEST_F(BuildPeers, PerlXBaseReadsDBaseIIIAndIVWithMemos) {
  for (char kind : {'3', '4'}) {
    const std::string out = RunOut("dbf_dump --fs '|' " + Sh(Make(kind, 20)));
    EXPECT_EQ(out, names_[0] + "|-7|" + memos_[0] + "\n" + names_[1] + "|93|" + memos_[1] + "\n") << kind;
  }
}

TEST_F(BuildPeers, PgdbfReadsDBaseIIIAndFoxPro) {
  for (char kind : {'3', 'F'}) {
    const std::string table = Make(kind, 255);
    const std::string memoFile = platform::FindExistingFile(XBobjMemo::MemoFileName(table, kind == 'F' ? 0xF5 : 0x83));
    const std::string out = RunOut("pgdbf -m " + Sh(memoFile) + " " + Sh(table));
    // pgdbf writes a memo's CR LF as the escapes \r and \n of COPY.
    std::string memo0 = memos_[0];
    memo0.replace(memo0.find("\r\n"), 2, "\\r\\n");
    EXPECT_NE(out.find(names_[0] + "\t-7\t" + memo0 + "\n"), std::string::npos) << kind << out.substr(0, 300);
    EXPECT_NE(out.find(names_[1] + "\t93\ttwo\n"), std::string::npos) << kind;
  }
}
