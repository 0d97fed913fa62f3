// Table creation from field lines: the catalogue's two tables byte for
// byte, the lines refused before anything is written, the table kinds, and
// a table made with a password.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/create_table.h"
#include "xbase/handler/table_handler.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

using namespace xbase;

namespace {

// The file without its date of last update (bytes 1-3).
std::string Undated(const std::string& path) {
  std::string f = platform::ReadFileBytes(path);
  if (f.size() >= 4) f.replace(1, 3, 3, '\0');
  return f;
}

const std::string kInvalid = "Field list is invalid";

}  // namespace

TEST(CreateTable, TheCataloguesTwoTablesByteForByte) {
  TempDir dir;
  ASSERT_TRUE(CreateTableFromFieldList(dir / "bo.dbf", "", 0,
                                       {"AU;N;10;0", "NA;C;250;0", "SB;C;150;0", "FI;C;8;0", "SZ;N;8;0",
                                        "GE;C;8;0", "DT;C;4;0", "LN;C;2;0"}));
  const std::string bo = Undated(dir / "bo.dbf");
  std::string header("\x03\0\0\0\0\0\0\0\x21\x01\xB9\x01", 12);
  header += std::string(20, '\0');
  EXPECT_EQ(bo, header + Descriptor("AU", 'N', 10, 0) + Descriptor("NA", 'C', 250, 0) +
                    Descriptor("SB", 'C', 150, 0) + Descriptor("FI", 'C', 8, 0) + Descriptor("SZ", 'N', 8, 0) +
                    Descriptor("GE", 'C', 8, 0) + Descriptor("DT", 'C', 4, 0) + Descriptor("LN", 'C', 2, 0) +
                    "\x0D\x1A");
  EXPECT_EQ(bo.size(), 290u);

  ASSERT_TRUE(CreateTableFromFieldList(dir / "au.dbf", "", 0, {"ID;N;10;0", "NA;C;120;0"}));
  std::string au("\x03\0\0\0\0\0\0\0\x61\x00\x83\x00", 12);
  au += std::string(20, '\0') + Descriptor("ID", 'N', 10, 0) + Descriptor("NA", 'C', 120, 0) + "\x0D\x1A";
  EXPECT_EQ(Undated(dir / "au.dbf"), au);

  // The same lines with trailing blanks and semicolons, and empty lines
  // between them, make the same table.
  ASSERT_TRUE(CreateTableFromFieldList(dir / "au2.dbf", "", 0, {"ID;N;10;0;", "", "  ", "NA;C;120;0 ;;  "}));
  EXPECT_EQ(Undated(dir / "au2.dbf"), au);
}

TEST(CreateTable, BadListsAreRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  const std::string path = dir / "t.dbf";
  const std::vector<std::vector<AnsiString>> bad = {
      {},
      {"", " ;;"},
      {"NA;C;120;0", "na;C;10;0"},                  // the same name in another case
      {"ABCDEFGHIJ1;C;5;0", "ABCDEFGHIJ2;C;5;0"},   // the same 10 characters the table keeps
      {"SZ;N;8"},                                   // no decimals part
      {"SZ;NN;8;0"},                                // a two-letter type
      {"SZ;;8;0"},                                  // no type
      {"AB; ;5;0"},                                 // a type no reader takes
      {"AB;\x01;5;0"},
      {"AB;\xE0;5;0"},
      {"SZ;N;eight;0"},                             // a length that is no number
      {"SZ;N;8;x"},
      {"SZ;N;;0"},
      {"SZ"},
      {";N;8;0"},                                   // no name
      {"SZ;N;0;0"},                                 // lengths the descriptor cannot hold
      {"SZ;N;256;0"},
      {"SZ;N;8;-1"},
      {"SZ;N;8;256"},
      {"NA;C;65536;0"},
  };
  for (const auto& fields : bad) {
    EXPECT_EQ(ErrorOf([&] { CreateTableFromFieldList(path, "", 0, fields); }), kInvalid)
        << (fields.empty() ? "(empty)" : fields.back());
    EXPECT_FALSE(platform::FileExists(path));
  }

  // What the lines do accept.
  ASSERT_TRUE(CreateTableFromFieldList(path, "", 0, {"SZ;N;8;0;", "D;D;0;0", "NA;C;300;0", "b;l;9;9"}));
  XBO_dBaseDBF t(path, "", false, false);
  ASSERT_EQ(t.NumFields(), 4);
  EXPECT_EQ(t.Fields(1).Length(), 8);  // the builder fixes D, L and memo sizes
  EXPECT_EQ(t.Fields(2).Length(), 300);
  EXPECT_EQ(t.Fields(3).dbFieldType, 'L');
  EXPECT_EQ(t.RecLen(), 1 + 8 + 8 + 300 + 1);
}

TEST(CreateTable, TableTypesPickTheBuilder) {
  TempDir dir;
  const std::vector<AnsiString> fields = {"NA;C;10;0", "NOTES;M;10;0"};
  struct Case {
    int type;
    uint8_t version;
    std::string memo;
  };
  for (const Case& c : {Case{0, 0x83, "m.dbt"}, Case{1, 0x83, "m.dbt"}, Case{7, 0x83, "m.dbt"},
                        Case{2, 0x8B, "m.dbt"}, Case{3, 0xF5, "m.fpt"}}) {
    TempDir d;
    ASSERT_TRUE(CreateTableFromFieldList(d / "m.dbf", "", c.type, fields));
    EXPECT_EQ(static_cast<uint8_t>(platform::ReadFileBytes(d / "m.dbf")[0]), c.version) << c.type;
    EXPECT_TRUE(platform::FileExists(d / c.memo)) << c.type;
  }
}

TEST(CreateTable, APasswordScramblesTheNewTable) {
  TempDir dir;
  const std::string path = dir / "p.dbf";
  ASSERT_TRUE(CreateTableFromFieldList(path, "secret", 0, {"ID;N;10;0", "NA;C;120;0"}));
  EXPECT_EQ(ErrorOf<EXBaseEncryption>([&] { XBO_dBaseDBF t(path, "", false, false); }),
            "No Password for encrypted file " + path);
  EXPECT_NE(ErrorOf<EXBaseEncryption>([&] { XBO_dBaseDBF t(path, "wrong", false, false); }), "");
  XBO_dBaseDBF t(path, "secret", false, false);
  EXPECT_EQ(t.NumFields(), 2);
  EXPECT_EQ(t.Fields(1).Name(), "NA");
  EXPECT_EQ(t.NumRecs(), 0);
}

// A password one keystroke off must not open the catalogue's tables: it
// would read garbage and write records the right password reads as
// garbage. The few that open are those the cipher cannot tell from the
// right one: they read every byte as it does.
TEST(CreateTable, APasswordOneKeystrokeOffIsRefused) {
  TempDir dir;
  const std::vector<std::vector<AnsiString>> tables = {
      {"AU;N;10;0", "NA;C;250;0", "SB;C;150;0", "FI;C;8;0", "SZ;N;8;0", "GE;C;8;0", "DT;C;4;0", "LN;C;2;0"},
      {"ID;N;10;0", "NA;C;120;0"}};
  const std::string right = "secret";
  std::vector<std::string> variants;
  for (size_t i = 0; i <= right.size(); ++i) {
    if (i < right.size()) variants.push_back(right.substr(0, i) + right.substr(i + 1));
    for (int c = 0x20; c < 0x7F; ++c) {
      variants.push_back(right.substr(0, i) + static_cast<char>(c) + right.substr(i));
      if (i < right.size() && c != right[i]) variants.push_back(right.substr(0, i) + static_cast<char>(c) + right.substr(i + 1));
    }
  }
  for (const std::vector<AnsiString>& fields : tables) {
    const std::string path = dir / (fields.size() > 2 ? "bo.dbf" : "au.dbf");
    ASSERT_TRUE(CreateTableFromFieldList(path, right, 0, fields));
    std::string image;
    {
      XBO_dBaseDBF t(path, right, true, false);
      for (int i = 1; i < t.RecLen(); ++i) t.CurRecord()[i] = static_cast<uint8_t>(0x20 + i % 0x5F);
      t.xbAppend();
      image.assign(reinterpret_cast<const char*>(t.CurRecord()), static_cast<size_t>(t.RecLen()));
    }
    std::vector<std::string> opened;
    for (const std::string& p : variants) {
      const std::string error = ErrorOf<EXBaseEncryption>([&] {
        XBO_dBaseDBF t(path, p, false, false);
        t.xbGetRec(1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.CurRecord()), image.size()), image) << p;
      });
      if (error.empty()) opened.push_back(p);
    }
    EXPECT_LE(opened.size(), variants.size() / 200) << path;
    for (const char* p : {"Secret", "secreT"})
      EXPECT_EQ(std::count(opened.begin(), opened.end(), p), 0) << p;
    XBO_dBaseDBF t(path, right, false, false);
    EXPECT_EQ(t.NumFields(), static_cast<int>(fields.size()));
  }
}

// Whatever type letter or name the builders take, a table scrambled by any
// road -- made with a password, given one, copied under one -- reopens with
// it, or the road refuses before anything is written.
TEST(CreateTable, EveryFieldThePasswordTakesReopensWithIt) {
  TempDir dir;
  const std::string path = dir / "t.dbf";
  int reopened = 0, refused = 0;
  const auto check = [&](const std::string& what, const auto& scramble, const std::string& table) {
    SCOPED_TRACE(what);
    const std::string before = platform::FileExists(table) ? platform::ReadFileBytes(table) : std::string();
    if (ErrorOf<std::exception>([&] { scramble(); }).empty()) {
      ++reopened;
      XBO_dBaseDBF t(table, "secret", false, false);
      EXPECT_EQ(t.NumFields(), 2);
    } else {
      ++refused;
      EXPECT_EQ(platform::FileExists(table) ? platform::ReadFileBytes(table) : std::string(), before);
    }
    platform::DeleteFile(table);
  };
  const auto plain = [&](const AnsiString& name, char type) {
    XBO_DBFBuild b(path);
    b.InsertField("NA", "C", 4, 0);
    b.InsertField(name, std::string(1, type), 3, 0);
  };
  for (int c = 0x21; c < 0x7F; ++c) {
    const std::string type(1, static_cast<char>(c));
    if (c != ';')
      check("made " + type, [&] { CreateTableFromFieldList(path, "secret", 0, {"NA;C;4;0", "V;" + type + ";3;0"}); },
            path);
    plain("V", static_cast<char>(c));
    check("given " + type, [&] { XBO_dBHandler(path, "", true, false).xbSetPassword("secret"); }, path);
    plain("V", static_cast<char>(c));
    const std::string copy = dir / "c.dbf";
    check("copied " + type, [&] { XBO_dBHandler(path, "", false, false).xbCopyFile(copy, "secret"); }, copy);
  }
  // A name with bytes after its end, and one with a control character.
  for (const AnsiString& name : {AnsiString("V\0X", 3), AnsiString("V\x01")}) {
    plain(name, 'N');
    check("named", [&] { XBO_dBHandler(path, "", true, false).xbSetPassword("secret"); }, path);
    check("built", [&] {
      XBO_DBFBuild b(path);
      b.SetPassword("secret");
      b.InsertField("NA", "C", 4, 0);
      b.InsertField(name, "N", 3, 0);
      b.Complete();
    }, path);
  }
  EXPECT_GT(reopened, 0);
  EXPECT_GT(refused, 0);
}
