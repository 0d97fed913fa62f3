// The dataset component over tables: opening, walks beside what dbfread
// lists, bookmarks, deleting at the end, appending and editing as the peers
// read them back, and field values in the framework's native forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/create_table.h"
#include "xbase/dataset/dataset.h"

using namespace xbase;
using dataaccess::EDatabaseError;
using dataaccess::TBookmark;
using dataaccess::TVariant;

namespace {

// The rows dbfread lists: live ones ('V') or deleted ones ('D').
std::vector<std::string> Peer(const std::string& table, char kind) {
  std::vector<std::string> rows;
  for (const std::string& l : Lines(RunOut(kXbPeer + " dbfread " + Sh(table))))
    if (!l.empty() && l[0] == kind) rows.push_back(l.substr(2));
  return rows;
}

// The current record as xbpeer's dbfread lines show it: NAME in hex, QTY.
std::string Row(TXBaseDataSet& ds) {
  return Hex(ds.FieldByName("NAME").AsString()) + "|" + ds.FieldByName("QTY").AsString();
}

std::vector<std::string> WalkForward(TXBaseDataSet& ds) {
  std::vector<std::string> rows;
  for (ds.First(); !ds.Eof(); ds.Next()) rows.push_back(Row(ds));
  return rows;
}

std::vector<std::string> WalkBackward(TXBaseDataSet& ds) {
  std::vector<std::string> rows;
  for (ds.Last(); !ds.Bof(); ds.Prior()) rows.push_back(Row(ds));
  std::reverse(rows.begin(), rows.end());
  return rows;
}

TBookmark Mark(int n) {
  TBookmark b(4);
  std::memcpy(b.data(), &n, 4);
  return b;
}

void OpenTable(TXBaseDataSet& ds, const std::string& dir, const std::string& table) {
  ds.SetDatabaseName(dir);
  ds.SetTableName(table);
  ds.SetTranslateASCII(false);
  ds.Open();
}

// A table of (NAME C 20, QTY N 5) made by the builder, with `names`.
void MakeNames(const std::string& path, const std::vector<std::string>& names) {
  {
    XBO_DBFBuild b(path);
    b.InsertField("NAME", "C", 20, 0);
    b.InsertField("QTY", "N", 5, 0);
    b.Complete();
  }
  XBO_dBaseDBF t(path, "", true, false);
  int i = 0;
  for (const std::string& n : names) {
    std::memset(t.CurRecord(), ' ', static_cast<size_t>(t.RecLen()));
    PutField(t, 0, n);
    PutField(t, 1, std::to_string(++i));
    t.xbAppend();
  }
}

std::string DbMessage(const std::function<void()>& f) {
  return ErrorOf<EDatabaseError>(f);
}

class DataSetNav : public ::testing::Test {
 protected:
  void SetUp() override { RunOut(kXbPeer + " navtables " + Sh(dir.path())); }
  TempDir dir;
};

}  // namespace

TEST(DataSetOpen, TableNamesFolderNamesAndWhatIsMissing) {
  TempDir dir;
  MakeNames(dir / "AU.DBF", {"one"});
  TXBaseDataSet ds;
  EXPECT_EQ(DbMessage([&] { ds.Open(); }), "Table name missing");
  EXPECT_FALSE(ds.Active());

  ds.SetDatabaseName(dir.path());  // with its trailing "/"
  EXPECT_EQ(ds.DatabaseName() + "/", dir.path());
  ds.SetTableName("AU");
  ds.Open();
  EXPECT_EQ(ds.TableName(), "AU.DBF");
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "one");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.SetTableName("X"); }), dataaccess::SDataSetOpen);
  ds.Close();

  ds.SetTableName("gone");
  EXPECT_EQ(DbMessage([&] { ds.Open(); }), "Cannot find file " + dir.path() + "gone.DBF");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.DBFHandle(), nullptr);
  ds.SetTableName("au.dbf");  // the file's name in another case
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.Close();

  // Names without "/" are aliases, in any letter case.
  TXBaseDataSet::AddAlias("dsTestFolder", dir.path());
  ds.SetDatabaseName("DSTESTFOLDER");
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.Close();
  std::vector<std::string> names;
  TXBaseDataSet::GetDatabaseNames(names);
  EXPECT_EQ(std::count(names.begin(), names.end(), "DSTESTFOLDER"), 1);
  EXPECT_EQ(ErrorOf<EDatabaseError>([] { TXBaseDataSet::AddAlias("DsTestFolder", "/x"); }),
            "Alias DsTestFolder already assigned");
}

TEST(DataSetOpen, AnEmptyTableEndsAtOnce) {
  TempDir dir;
  MakeNames(dir / "e.dbf", {});
  TXBaseDataSet ds;
  OpenTable(ds, dir.path(), "e");
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.IsEmpty());
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  ds.Last();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_FALSE(ds.IsDeleted());
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_EQ(ds.GetBookmark(), TBookmark());
}

TEST_F(DataSetNav, WalksListWhatDbfreadLists) {
  const std::string path = dir / "nav.dbf";
  const std::vector<std::string> live = Peer(path, 'V');
  ASSERT_EQ(live.size(), 8u);
  TXBaseDataSet ds;
  OpenTable(ds, dir.path(), "nav.dbf");
  EXPECT_EQ(WalkForward(ds), live);
  EXPECT_EQ(WalkBackward(ds), live);
  EXPECT_EQ(ds.RecordCount(), 12);
  ds.SetExactCount(true);
  EXPECT_EQ(ds.RecordCount(), 8);

  ds.SetUseDeleted(true);
  std::vector<int> deleted;
  int n = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    EXPECT_EQ(ds.RecNo(), ++n);
    if (ds.IsDeleted()) deleted.push_back(ds.RecNo());
  }
  EXPECT_EQ(deleted, (std::vector<int>{1, 4, 5, 12}));
  EXPECT_EQ(ds.RecordCount(), 12);

  // Moving by record number, by bookmark and by a relative count.
  ds.SetUseDeleted(false);
  ds.SetRecNo(7);
  EXPECT_EQ(ds.RecNo(), 7);
  const TBookmark seven = ds.GetBookmark();
  ds.SetRecNo(99);  // outside the table: nothing happens
  ds.SetRecNo(0);
  EXPECT_EQ(ds.RecNo(), 7);
  ds.First();
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.MoveBy(3), 3);
  EXPECT_EQ(ds.RecNo(), 7);  // 3 and 6 and 7: 4 and 5 are deleted
  ds.First();
  ds.GotoBookmark(seven);
  EXPECT_EQ(ds.RecNo(), 7);
  ds.Next();
  EXPECT_EQ(ds.RecNo(), 8);
  EXPECT_EQ(DbMessage([&] { ds.GotoBookmark(Mark(13)); }), "Bookmark is invalid for table nav.dbf");
  EXPECT_EQ(ds.RecNo(), 8);
}

TEST(DataSetEditing, DeletingTheLastShownRecordLeavesTheOneBeforeAndRecallRestores) {
  TempDir dir;
  MakeNames(dir / "d.dbf", {"a", "b", "c", "d"});
  TXBaseDataSet ds;
  OpenTable(ds, dir.path(), "d.dbf");
  ds.Last();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "c");
  EXPECT_FALSE(ds.Eof());
  ds.SetRecNo(2);
  ds.Delete();  // in the middle: the next record follows
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "c");
  ds.Delete();  // now the last shown again
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "a");
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  ds.Close();
  EXPECT_EQ(Peer(dir / "d.dbf", 'V').size(), 0u);
  EXPECT_EQ(Peer(dir / "d.dbf", 'D').size(), 4u);

  ds.SetUseDeleted(true);
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_TRUE(ds.IsDeleted());
  ds.SetRecNo(2);
  ds.Recall();
  EXPECT_FALSE(ds.IsDeleted());
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Close();
  EXPECT_EQ(Peer(dir / "d.dbf", 'V'), (std::vector<std::string>{Hex("b") + "|2"}));
}

TEST(DataSetEditing, AppendPostEditCancelAsDbfreadReadsThem) {
  TempDir dir;
  MakeNames(dir / "p.dbf", {"first"});
  TXBaseDataSet ds;
  OpenTable(ds, dir.path(), "p.dbf");
  ds.Append();
  ds.FieldByName("NAME").SetAsString("second");
  ds.FieldByName("QTY").SetAsInteger(42);
  ds.Post();
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "second");
  ds.AppendRecord({TVariant("third"), TVariant(-7)});
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.RecordCount(), 3);

  ds.SetRecNo(2);
  ds.Edit();
  ds.FieldByName("NAME").SetAsString("changed");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "second");
  EXPECT_EQ(ds.DBFHandle()->LockCount(), 0);
  ds.Edit();
  ds.FieldByName("QTY").SetAsInteger(43);
  ds.Post();
  EXPECT_EQ(ds.DBFHandle()->LockCount(), 0);
  EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 43);
  // A record lock taken during an edit keeps the edit, whichever record
  // the table stands on (a find moves it).
  for (const int tableAt : {2, 1}) {
    ds.Edit();
    ds.FieldByName("QTY").SetAsInteger(43 + tableAt);
    ds.DBFHandle()->xbGetRec(tableAt);
    EXPECT_TRUE(ds.RLock());
    ds.Post();
    ds.Unlock();
    EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 43 + tableAt);
  }

  // An append cancelled writes nothing.
  ds.Append();
  ds.FieldByName("NAME").SetAsString("never");
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 3);
  ds.Close();
  EXPECT_EQ(Peer(dir / "p.dbf", 'V'),
            (std::vector<std::string>{Hex("first") + "|1", Hex("second") + "|44", Hex("third") + "|-7"}));
  EXPECT_EQ(RunOut("/usr/bin/python3 -c 'import dbfread,sys; print(len(dbfread.DBF(sys.argv[1])))' " +
                   Sh(dir / "p.dbf")),
            "3\n");
}

TEST(DataSetFields, DatesNumbersAndTextInTheirNativeForms) {
  TempDir dir;
  const std::string path = dir / "v.dbf";
  {
    XBO_DBFBuild b(path);
    b.InsertField("D", "D", 8, 0);
    b.InsertField("ID", "N", 10, 0);
    b.InsertField("NA", "C", 12, 0);
    b.InsertField("L", "L", 1, 0);
    b.InsertField("F", "N", 8, 2);
    b.Complete();
  }
  {
    XBO_dBaseDBF t(path, "", true, false);
    const std::vector<std::vector<std::string>> rows = {{"00000000", "2147483647", "  lead", "T", "-1.25"},
                                                        {"", "2147483648", "", "F", ""},
                                                        {"20240229", "-999999999", "x", "?", "12345.67"},
                                                        {"2024023x", "1", "", "", ""}};
    for (const auto& r : rows) {
      std::memset(t.CurRecord(), ' ', static_cast<size_t>(t.RecLen()));
      for (size_t i = 0; i < r.size(); ++i) PutField(t, static_cast<int>(i), r[i]);
      t.xbAppend();
    }
  }
  TXBaseDataSet ds;
  OpenTable(ds, dir.path(), "v.dbf");
  auto& d = ds.FieldByName("D");
  auto& id = ds.FieldByName("ID");
  EXPECT_TRUE(d.IsNull());  // "00000000"
  EXPECT_EQ(id.AsInteger(), 2147483647);
  EXPECT_EQ(ds.FieldByName("NA").AsString(), "  lead");
  EXPECT_TRUE(ds.FieldByName("L").AsBoolean());
  EXPECT_EQ(ds.FieldByName("F").AsFloat(), -1.25);

  ds.Next();
  EXPECT_TRUE(d.IsNull());  // blanks
  EXPECT_TRUE(ds.FieldByName("NA").IsNull());
  EXPECT_FALSE(ds.FieldByName("L").AsBoolean());
  // Ten digits do not always fit 32 bits: refused, never wrapped.
  EXPECT_EQ(ErrorOf([&] { id.AsInteger(); }), "numeric value too big in field ID");

  ds.Next();
  EXPECT_EQ(dataaccess::DateToText(d.AsDateTime()), "2024-02-29");
  EXPECT_EQ(id.AsInteger(), -999999999);
  EXPECT_EQ(ds.FieldByName("F").AsFloat(), 12345.67);

  ds.Next();
  EXPECT_EQ(ErrorOf([&] { d.AsDateTime(); }), "Invalid date in field D");

  // Writing no date stores 8 blanks; a date its text.
  ds.SetRecNo(3);
  ds.Edit();
  d.Clear();
  EXPECT_EQ(ds.FieldGet("D"), std::string(8, ' '));
  ds.Post();
  ds.SetRecNo(1);
  ds.Edit();
  d.SetAsDateTime(dataaccess::TextToDateTime("1999-12-31"));
  ds.Post();
  EXPECT_EQ(ds.FieldGet("D"), "19991231");
  ds.SetRecNo(3);
  EXPECT_TRUE(d.IsNull());
  EXPECT_EQ(ds.FieldGet("D"), std::string(8, ' '));
}

TEST(DataSetFields, TextIsTranslatedBetweenCodePagesOnRequest) {
  TempDir dir;
  const std::string oem = platform::Utf8ToOem("Ёлка");
  MakeNames(dir / "o.dbf", {oem});
  TXBaseDataSet ds;
  ds.SetDatabaseName(dir.path());
  ds.SetTableName("o.dbf");
  ds.Open();  // TranslateASCII is on by default
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), platform::Utf8ToAnsi("Ёлка"));
  ds.Edit();
  ds.FieldByName("NAME").SetAsString(platform::Utf8ToAnsi("Щука"));
  ds.Post();
  EXPECT_EQ(ds.FieldGet("NAME"), platform::Utf8ToOem("Щука") + std::string(16, ' '));
  ds.Close();
  ds.SetTranslateASCII(false);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), platform::Utf8ToOem("Щука"));
}

TEST(DataSetFields, OnlyAStarFlagsARecordDeleted) {
  TXBaseDataSet ds;
  ds.SetDatabaseName(kXbData + "dataset");
  ds.SetTableName("odd-deletion-flag.dbf");
  ds.SetUseDeleted(true);
  ds.SetReadOnly(true);
  ds.Open();
  std::vector<bool> flags;
  for (; !ds.Eof(); ds.Next()) flags.push_back(ds.IsDeleted());
  EXPECT_EQ(flags, (std::vector<bool>{false, true, false}));  // " ", "*", "X"
}

TEST(DataSetFields, MemosThroughTheBlobStreamAsDbfreadReadsThem) {
  TempDir dir;
  for (int type : {0, 2, 3}) {
    const std::string name = "memo" + std::to_string(type) + ".dbf";
    ASSERT_TRUE(CreateTableFromFieldList(dir / name, "", type, {"NAME;C;10;0", "NOTES;M;10;0"}));
    TXBaseDataSet ds;
    OpenTable(ds, dir.path(), name);
    const std::string longText = platform::Utf8ToAnsi("Записка ") + std::string(1500, 'x');
    ds.AppendRecord({TVariant("one"), TVariant(longText)});
    ds.AppendRecord({TVariant("two"), TVariant()});
    auto& notes = ds.FieldByName("NOTES");
    EXPECT_TRUE(notes.IsNull());
    ds.First();
    EXPECT_EQ(notes.AsString(), longText);
    // The memos written for cancelled edits are not the records': their
    // own stay as they were, also while other memos are written after.
    ds.Edit();
    notes.SetAsString("short");
    ds.Cancel();
    ds.Last();
    ds.Edit();
    notes.SetAsString("second");
    ds.Cancel();
    EXPECT_TRUE(notes.IsNull());
    ds.Edit();
    notes.SetAsString(std::string(3000, 'y'));
    ds.Post();
    ds.AppendRecord({TVariant("three"), TVariant(std::string(700, 'z'))});
    ds.First();
    EXPECT_EQ(notes.AsString(), longText) << type;
    // A posted one gives its old memo's blocks up to the next.
    ds.Edit();
    notes.SetAsString("short");
    ds.Post();
    ds.AppendRecord({TVariant("four"), TVariant(std::string(1400, 'w'))});
    ds.Close();
    EXPECT_EQ(RunOut("dbf_dump --fs '|' " + Sh(dir / name)), "one|short\ntwo|" + std::string(3000, 'y') + "\nthree|" +
                                                                std::string(700, 'z') + "\nfour|" +
                                                                std::string(1400, 'w') + "\n")
        << type;
  }
}

TEST(DataSetEditing, EncryptFileScramblesTheTableUnderTheNewKey) {
  TempDir dir;
  MakeNames(dir / "k.dbf", {"one", "two"});
  TXBaseDataSet ds;
  ds.SetExclusive(true);
  OpenTable(ds, dir.path(), "k.dbf");
  ds.EncryptFile("key");
  EXPECT_EQ(ds.EncryptionKey(), "key");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "two");
  ds.Close();
  ds.SetEncryptionKey("");
  EXPECT_EQ(ErrorOf<EXBaseEncryption>([&] { ds.Open(); }), "No Password for encrypted file " + dir.path() + "k.dbf");
  EXPECT_FALSE(ds.Active());
  ds.SetEncryptionKey("key");
  ds.Open();
  EXPECT_EQ(WalkForward(ds), (std::vector<std::string>{Hex("one") + "|1", Hex("two") + "|2"}));
}
