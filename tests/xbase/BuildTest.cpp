// Table builders and CreateDBF: the bytes they write and what they refuse.
// (The peers read builder-made tables in the field tests.)
#include <gtest/gtest.h>

#include <string>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/table/fields.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

using namespace xbase;

namespace {

std::string Bytes(const std::string& path) { return platform::ReadFileBytes(path); }

}  // namespace

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
  EXPECT_EQ(Bytes(dir / "longname3.dbt"), dbt3);
  EXPECT_EQ(static_cast<uint8_t>(Bytes(dir / "longname3.dbf")[0]), 0x83);

  std::string dbt4(24, '\0');
  dbt4[0] = 1;
  dbt4.replace(8, 2, "d4");
  dbt4[18] = 2;
  dbt4[19] = 1;
  dbt4[21] = 2;
  EXPECT_EQ(Bytes(dir / "d4.dbt"), dbt4);
  const std::string d4 = Bytes(dir / "d4.dbf");
  EXPECT_EQ(static_cast<uint8_t>(d4[0]), 0x8B);
  EXPECT_EQ(d4.substr(64, 32), Descriptor("NOTE", 'M', 10, 0));

  std::string fpt(512, '\0');
  fpt[3] = 8;
  fpt[7] = 64;
  EXPECT_EQ(Bytes(dir / "fx.fpt"), fpt);
  EXPECT_EQ(static_cast<uint8_t>(Bytes(dir / "fx.dbf")[0]), 0xF5);

  EXPECT_EQ(Bytes(dir / "plain4.dbf")[0], 0x03);
  EXPECT_FALSE(platform::FileExists(dir / "plain4.dbt"));
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
  refused([](XBO_DBFBuild& b) { b.InsertField("N", " ", 10, 0); });
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

// The memo file takes the case of the table's extension, so that a program
// looking for it by its exact name on Linux finds it: the peers open the
// lower-case tables with their memos.
TEST(Build, MemoFileNameFollowsTheTablesCase) {
  struct Case {
    char kind;
    std::string table, memo;
  };
  for (const Case& c : {Case{'3', "books.dbf", "books.dbt"}, Case{'4', "books.dbf", "books.dbt"},
                        Case{'F', "books.dbf", "books.fpt"}, Case{'3', "BOOKS.DBF", "BOOKS.DBT"},
                        Case{'F', "BOOKS.DBF", "BOOKS.FPT"}, Case{'4', "Books.Dbf", "Books.dbt"},
                        Case{'4', "books", "books.DBT"}}) {
    TempDir dir;
    ASSERT_TRUE(CreateDBF(dir / c.table, c.kind, [](int no, AnsiString& s, char& t, int& l, int&) {
      if (no <= 2) {
        s = no == 1 ? "NAME" : "NOTE";
        t = no == 1 ? 'C' : 'M';
        l = 10;
      }
      return true;
    }));
    EXPECT_TRUE(platform::FileExists(dir / c.memo)) << c.kind << c.table;
    const std::string table = dir / (c.table == "books" ? "books.DBF" : c.table);
    {
      XBO_dBaseFld t(table, "", true, false);
      t.xbBlank();
      t.xbStringPut("NAME", "one");
      t.xbStringPut("NOTE", std::string(600, 'm'));
      t.xbAppend();
    }
    if (c.table != "books.dbf") continue;
    // (python3-dbf has no dBase IV memos, Perl's XBase no FoxPro ones)
    if (c.kind != '4') {
      EXPECT_EQ(RunOut("/usr/bin/python3 -c " +
                       Sh("import dbf,sys; t=dbf.Table(sys.argv[1]); t.open(); print(t[0].name.strip(), len(t[0].note))") +
                       " " + Sh(table)),
                "one 600\n")
          << c.kind;
    }
    if (c.kind != 'F') {
      EXPECT_EQ(RunOut("dbf_dump --fs '|' " + Sh(table)), "one|" + std::string(600, 'm') + "\n") << c.kind;
    }
  }
}
