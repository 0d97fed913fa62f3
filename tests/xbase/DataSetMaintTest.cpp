// The dataset's table maintenance: copies and sorts while the dataset is
// busy, structure copies under passwords, pack and zap with an index and a
// filter set, records copied into another dataset, and renaming the table
// with its memo and index files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/dataset.h"

using namespace xbase;
using dataaccess::EDatabaseError;

namespace {

void OpenTable(TXBaseDataSet& ds, const TempDir& dir, const std::string& table, bool exclusive = true) {
  ds.SetDatabaseName(dir.path());
  ds.SetTableName(table);
  ds.SetTranslateASCII(false);
  ds.SetExclusive(exclusive);
  ds.Open();
}

std::vector<std::string> Names(TXBaseDataSet& ds) {
  std::vector<std::string> names;
  for (ds.First(); !ds.Eof(); ds.Next()) names.push_back(ds.StringGetN(1));
  return names;
}

}  // namespace

// A copy with deleted records shown, beside the table: the memo the other
// writer ended with one 0x1A comes whole to python3-dbf; meanwhile the
// dataset refuses data access, and afterwards it is itself again.
TEST(DataSetMaint, CopyToIsBusyCopyingAndWritesWholeMemos) {
  TempDir dir;
  TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  TXBaseDataSet ds;
  ds.SetUseDeleted(true);
  OpenTable(ds, dir, "mixed", false);
  std::string during;
  ds.OnStatus = [&](dataaccess::TDataSet&, int, int phase, int) {
    if (phase == 1 && during.empty()) during = ErrorOf<EDatabaseError>([&] { ds.StringGetN(1); });
  };
  ds.Next();
  ds.CopyTo("copy", "");
  EXPECT_EQ(during, "Table is busy copying");
  EXPECT_EQ(ds.RecNo(), 2);
  // python3-dbf reads up to 1A 1A: the 511-byte memo that ended with one
  // 0x1A in the other writer's file (record 7, deleted) comes whole.
  const auto memos = Lines(RunOut(kXbPeer + " pydbfmemos " + Sh(dir / "copy.dbf")));
  const auto fixture = Lines(RunOut(kXbPeer + " fixture " + Sh(kXbData + "harbour/ntx/mixed.json")));
  ASSERT_EQ(memos.size(), 48u);
  const auto m7 = std::find_if(fixture.begin(), fixture.end(), [](const std::string& l) { return l.rfind("M 7 ", 0) == 0; });
  ASSERT_NE(m7, fixture.end());
  EXPECT_EQ(memos[6], "M 7 1 " + m7->substr(4));
  EXPECT_EQ(memos[6].size(), 6 + 2 * 511u);

  // A sort onto the table itself is refused; the dataset is usable after.
  EXPECT_NE(ErrorOf([&] { ds.SortTo("mixed.dbf", "", "NAME", XBsetSortStatus::SortUp); }), "");
  EXPECT_EQ(ds.RecordCount(), 48);
  ds.SortTo("sorted", "", "UPPER(CITY)", XBsetSortStatus::Descending);
  TXBaseDataSet sorted;
  OpenTable(sorted, dir, "sorted");
  EXPECT_EQ(sorted.RecordCount(), 48);
}

TEST(DataSetMaint, CopyStructureUnderANewPassword) {
  TempDir dir;
  TakeTable(dir.path(), "harbour/cdx/mixed.dbf");
  {
    TXBaseDataSet ds;
    OpenTable(ds, dir, "mixed");
    ds.CopyTo("sec", "secret");
  }
  TXBaseDataSet ds;
  ds.SetEncryptionKey("secret");
  OpenTable(ds, dir, "sec");
  ds.CopyStructure("plain", "");
  ds.CopyStructure("other", "other");
  ds.CopyStructure("same", "secret");
  for (const auto& [name, password] : std::vector<std::pair<std::string, std::string>>{
           {"plain", ""}, {"other", "other"}, {"same", "secret"}}) {
    TXBaseDataSet copy;
    copy.SetEncryptionKey(password);
    OpenTable(copy, dir, name);
    EXPECT_EQ(copy.RecordCount(), 0) << name;
    EXPECT_EQ(copy.Fields().Count(), 8) << name;
    copy.Close();
    copy.SetEncryptionKey(password == "x" ? "" : "x");
    EXPECT_THROW(copy.Open(), EXBaseEncryption) << name;
  }
}

// Pack and zap with an index selected and a filter set: both stay.
TEST(DataSetMaint, PackAndZapKeepIndexNameAndFilter) {
  TempDir dir;
  TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  TXBaseDataSet ds;
  OpenTable(ds, dir, "mixed");
  ds.IndexOn("city", "", "UPPER(CITY)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ds.IndexFileInclude("city");
  ds.SetIndexName("CITY");
  ds.SetFilterText("QTY > 0");
  ds.SetFiltered(true);
  const std::vector<std::string> shown = Names(ds);
  EXPECT_TRUE(!shown.empty() && shown.size() < 43u);
  ds.Pack();
  EXPECT_EQ(ds.IndexName(), "CITY");
  EXPECT_TRUE(ds.Filtered());
  EXPECT_EQ(Names(ds), shown);
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 43);
  ds.SetFiltered(true);
  ds.Zap();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.IndexName(), "CITY");
}

TEST(DataSetMaint, CopyRecordToAnotherDataset) {
  TempDir dir;
  TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  TXBaseDataSet ds;
  OpenTable(ds, dir, "mixed");
  ds.CopyStructure("two", "");
  TXBaseDataSet two;
  OpenTable(two, dir, "two");
  for (int n : {6, 12}) {
    ds.SetRecNo(n);
    ds.CopyRecordTo(two);
  }
  EXPECT_EQ(two.RecordCount(), 2);
  two.First();
  ds.SetRecNo(6);
  EXPECT_EQ(two.StringGetN(1), ds.StringGetN(1));
  EXPECT_EQ(two.StringGetN(8), ds.StringGetN(8));
  EXPECT_EQ(two.StringGetN(8).size(), 510u);

}

// The table, its memo file and its index file move to the new name
// together, or nothing moves.
TEST(DataSetMaint, RenameTableWithItsFiles) {
  TempDir dir;
  TakeTable(dir.path(), "harbour/ntx/mixed.dbf");
  TXBaseDataSet ds;
  OpenTable(ds, dir, "mixed");
  ds.IndexOn("mixed", "", "UPPER(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ds.Close();
  ds.SetIndexFiles({"MIXED.NDX"});
  ds.SetIndexName("MIXED");

  platform::WriteFileBytes(dir / "taken.dbt", "someone else's memos");
  const auto before = FolderFiles(dir.path());
  EXPECT_EQ(ErrorOf([&] { ds.RenameTable("taken"); }),
            "Error on Rename of file " + platform::FindExistingFile(dir / "mixed.dbt"));
  EXPECT_EQ(FolderFiles(dir.path()), before);
  EXPECT_EQ(ds.TableName(), "mixed.DBF");
  EXPECT_FALSE(ds.Active());

  ds.RenameTable("books");
  EXPECT_EQ(ds.TableName(), "books.DBF");
  EXPECT_EQ(ds.IndexFiles(), std::vector<std::string>{"books.NDX"});
  for (const char* gone : {"mixed.dbf", "mixed.dbt", "mixed.ndx"}) EXPECT_FALSE(platform::FileExists(dir / gone));
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 48);
  ds.SetRecNo(6);
  EXPECT_EQ(ds.StringGetN(8).size(), 510u);
  EXPECT_EQ(ds.IndexName(), "BOOKS");
}
