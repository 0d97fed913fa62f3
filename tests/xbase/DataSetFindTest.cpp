// The dataset's seeks: keys from values and the key buffer, Locate and
// Lookup, master/detail links and their two failures, and filters by
// expression and by OnFilterRecord.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "dataaccess/DataSource.h"
#include "platform/CodePage.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "xbase/dataset/create_table.h"
#include "xbase/dataset/dataset.h"

using namespace xbase;
using dataaccess::EDatabaseError;
using dataaccess::TDataSource;
using dataaccess::TLocateOptions;
using dataaccess::TVariant;

namespace {

// Authors (ID, NA) and their books (AU, NA) in one folder.
class Library : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateTableFromFieldList(dir / "au.dbf", "", 0, {"ID;N;10;0", "NA;C;20;0"}));
    ASSERT_TRUE(CreateTableFromFieldList(dir / "bo.dbf", "", 0, {"AU;N;10;0", "NA;C;30;0"}));
    Open(au, "au");
    Open(bo, "bo");
    const char* authors[] = {"Smithson", "Smith", "Adams", "Brown", "smythe"};
    for (int i = 0; i < 5; ++i) au.AppendRecord({TVariant(i + 1), TVariant(authors[i])});
    const int books[][2] = {{2, 1}, {1, 2}, {2, 3}, {3, 4}, {2, 5}, {5, 6}, {1, 7}};
    for (const auto& b : books) bo.AppendRecord({TVariant(b[0]), TVariant("Book " + std::to_string(b[1]))});
    au.IndexOn("AUN", "AUN", "upper(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    au.IndexFileInclude("AUN");
    au.SetIndexName("AUN");
    bo.IndexOn("BAU", "BAU", "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  }

  void Open(TXBaseDataSet& ds, const std::string& table) {
    ds.SetDatabaseName(dir.path());
    ds.SetTableName(table);
    ds.SetExclusive(true);
    ds.SetTranslateASCII(false);
    ds.Open();
  }

  static std::vector<std::string> Names(TXBaseDataSet& ds) {
    std::vector<std::string> names;
    for (ds.First(); !ds.Eof(); ds.Next()) names.push_back(ds.FieldByName("NA").AsString());
    return names;
  }

  TempDir dir;
  TXBaseDataSet au, bo;
};

}  // namespace

TEST_F(Library, KeysBuiltFromValuesAndTheKeyBuffer) {
  au.First();
  EXPECT_TRUE(au.FindKey({TVariant("SMITH")}));
  EXPECT_EQ(au.FieldByName("NA").AsString(), "Smith");  // not Smithson, whose key begins with it
  EXPECT_FALSE(au.FindKey({TVariant("SMIT")}));
  EXPECT_EQ(au.FieldByName("NA").AsString(), "Smith");  // a failed seek stays
  au.Next();
  EXPECT_EQ(au.FieldByName("NA").AsString(), "Smithson");
  au.FindNearest({TVariant("C")});
  EXPECT_EQ(au.FieldByName("NA").AsString(), "Smith");

  // The key buffer.
  au.SetKey();
  au.FieldByName("NA").SetAsString("adams");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { au.FieldByName("ID").SetAsInteger(1); }),
            "Field 'ID' is not indexed and cannot be modified");
  EXPECT_TRUE(au.GotoKey());
  EXPECT_EQ(au.FieldByName("ID").AsInteger(), 3);
  au.EditKey();
  au.FieldByName("NA").SetAsString("Bz");
  au.GotoNearest();
  EXPECT_EQ(au.FieldByName("NA").AsString(), "Smith");
  bo.SetIndexFiles({"BAU"});
  bo.SetIndexName("BAU");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { bo.GotoKey(); }), "No index key has been created");
}

TEST_F(Library, LocateAndLookup) {
  au.SetIndexName("");
  au.Last();
  EXPECT_TRUE(au.Locate("NA", {TVariant("Brown")}, {}));
  EXPECT_EQ(au.RecNo(), 4);
  EXPECT_FALSE(au.Locate("NA", {TVariant("brown")}, {}));
  EXPECT_EQ(au.RecNo(), 4);  // stays
  EXPECT_TRUE(au.Locate("NA", {TVariant("SMY")}, TLocateOptions{dataaccess::loCaseInsensitive,
                                                                 dataaccess::loPartialKey}));
  EXPECT_EQ(au.RecNo(), 5);
  EXPECT_TRUE(au.LocateNext("NA", {TVariant("Smith")}, TLocateOptions{dataaccess::loPartialKey}, 1));
  EXPECT_EQ(au.RecNo(), 2);

  std::vector<TVariant> r = au.Lookup("ID", {TVariant(3)}, "NA;ID");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].AsString(), "Adams");
  EXPECT_EQ(r[1].AsInt64(), 3);
  EXPECT_EQ(au.RecNo(), 2);  // the dataset did not move
  EXPECT_TRUE(au.Lookup("ID", {TVariant(9)}, "NA").empty());
}

TEST_F(Library, MasterDetailShowsTheMastersBooks) {
  TDataSource src;
  src.SetDataSet(&au);
  bo.SetMasterFields("ID");
  // The detail needs an active tag whose key takes the master's fields.
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { bo.SetMasterSource(&src); }),
            "Master/Detail relation failed, no index open for bo.DBF");
  bo.SetMasterSource(nullptr);
  bo.SetIndexFiles({"BAU"});
  bo.SetIndexName("BAU");
  bo.SetMasterSource(&src);
  au.First();  // Adams, 3
  EXPECT_EQ(Names(bo), (std::vector<std::string>{"Book 4"}));
  au.Next();  // Brown: no books
  EXPECT_TRUE(bo.IsEmpty());
  au.Next();  // Smith, 2
  EXPECT_EQ(Names(bo), (std::vector<std::string>{"Book 1", "Book 3", "Book 5"}));

  bo.SetMasterSource(nullptr);
  bo.SetMasterFields("ID;NA");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { bo.SetMasterSource(&src); }),
            "Master/Detail relation failed, field missmatch for bo.DBF");
}

TEST_F(Library, FiltersByExpressionAndByHandler) {
  au.SetIndexName("");
  au.SetFilterText("ID > 2");
  au.SetFiltered(true);
  EXPECT_EQ(Names(au), (std::vector<std::string>{"Adams", "Brown", "smythe"}));
  int asked = 0;
  au.OnFilterRecord = [&](dataaccess::TDataSet& ds, bool& accept) {
    ++asked;
    accept = ds.FieldByName("NA").AsString() != "Brown";
  };
  au.SetFilterText("ID > 1");
  EXPECT_EQ(Names(au), (std::vector<std::string>{"Smith", "Adams", "smythe"}));
  EXPECT_GT(asked, 0);
  au.SetFiltered(false);
  EXPECT_EQ(Names(au).size(), 5u);
  au.Close();
  au.Open();  // filtered again from the stored properties
  au.SetFiltered(true);
  EXPECT_EQ(Names(au), (std::vector<std::string>{"Smith", "Adams", "smythe"}));
  EXPECT_EQ(ErrorOf([&] { au.SetFilterText("ID + 1"); }), "Filter expression must return boolean result");
}
