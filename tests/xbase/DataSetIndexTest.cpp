// The dataset's indexes: building, opening and selecting them, walks in key
// order beside index_dump, the record kept across a change of order, the
// list of index files, and a failed build that leaves the dataset usable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/NdxReader.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/create_table.h"
#include "xbase/dataset/dataset.h"

using namespace xbase;
using dataaccess::EDatabaseError;
using dataaccess::TVariant;

namespace {

const std::vector<std::string> kNames = {"Шукшин", "abel",  "Ёжиков", "Zola",     "Бунин",  "абрамов",
                                         "Zola",   "Чехов", "Ahmatova", "бунин", "Ёлкин", "Горький"};

// A table of (NAME C 20, QTY N 5): kNames in 1251 with QTY 1, 2, ...
class Names : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateTableFromFieldList(dir / "names.dbf", "", 0, {"NAME;C;20;0", "QTY;N;5;0"}));
    ds.SetDatabaseName(dir.path());
    ds.SetTableName("names");
    ds.SetTranslateASCII(false);
    ds.SetExclusive(true);
    ds.Open();
    int i = 0;
    for (const std::string& n : kNames) ds.AppendRecord({TVariant(platform::Utf8ToAnsi(n)), TVariant(++i)});
  }

  std::vector<int> Walk() {
    std::vector<int> recs;
    for (ds.First(); !ds.Eof(); ds.Next()) recs.push_back(ds.RecNo());
    return recs;
  }

  // Record numbers of kNames ordered by their 1251 upper case (equal keys
  // by record number).
  static std::vector<int> ByUpperName() {
    std::vector<int> recs;
    for (int i = 1; i <= static_cast<int>(kNames.size()); ++i) recs.push_back(i);
    std::stable_sort(recs.begin(), recs.end(), [](int a, int b) {
      return platform::AnsiUpperCase(platform::Utf8ToAnsi(kNames[static_cast<size_t>(a - 1)])) <
             platform::AnsiUpperCase(platform::Utf8ToAnsi(kNames[static_cast<size_t>(b - 1)]));
    });
    return recs;
  }

  TempDir dir;
  TXBaseDataSet ds;
};

}  // namespace

TEST_F(Names, BuiltIncludedAndSelectedTheIndexOrdersTheWalk) {
  ds.IndexOn("UN", "UN", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  EXPECT_EQ(ds.IndexCount(), 0);  // built closed
  EXPECT_EQ(Walk().size(), kNames.size());
  ds.IndexFileInclude("UN.NDX");  // found in the case it was written in
  ds.IndexFileInclude("UN.NDX");  // already open: left as it is
  EXPECT_EQ(ds.IndexCount(), 1);
  ds.SetIndexName("UN");
  EXPECT_EQ(ds.IndexCurrent(), "UN");
  EXPECT_EQ(Walk(), ByUpperName());

  // Appends go into the open index.
  ds.AppendRecord({TVariant("aaa"), TVariant(0)});
  EXPECT_EQ(ds.RecNo(), 13);
  ds.First();
  EXPECT_EQ(ds.RecNo(), 13);
  ds.First();
  ds.Delete();  // "aaa" again
  std::vector<int> walk = Walk();
  EXPECT_EQ(walk, ByUpperName());
  ds.Close();

  std::vector<int> peer;
  for (const auto& [key, rec] : xbtest::PeerListing(platform::FindExistingFile(dir / "UN.NDX")))
    if (rec != 13) peer.push_back(rec);
  EXPECT_EQ(peer, walk);
}

TEST_F(Names, AChangeOfOrderKeepsTheRecordTheNewOrderHolds) {
  ds.IndexOn("QF.NTX", "QF", "NAME", "QTY > 6", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ds.IndexOn("UN", "UN", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ds.SetIndexFiles({"QF.NTX", "un.ndx"});
  ds.SetRecNo(8);
  ds.SetIndexName("UN");
  EXPECT_EQ(ds.RecNo(), 8);
  ds.Next();
  const std::vector<int> order = ByUpperName();
  EXPECT_EQ(ds.RecNo(), *(std::find(order.begin(), order.end(), 8) + 1));
  ds.SetRecNo(3);  // QTY 3: not in QF
  ds.SetIndexName("QF");
  EXPECT_EQ(ds.RecNo(), 9);  // "Ahmatova", the first of QF
  EXPECT_EQ(Walk().size(), 6u);
  ds.SetRecNo(10);
  ds.SetIndexName("");
  EXPECT_EQ(ds.RecNo(), 10);
  EXPECT_EQ(Walk().size(), kNames.size());
  EXPECT_EQ(ErrorOf([&] { ds.SetIndexName("NOPE"); }), "Cannot find index tag NOPE");
  EXPECT_EQ(ds.IndexName(), "");  // the order in force stays

  // The list opens with the table, the tag with it.
  ds.Close();
  ds.SetIndexName("QF");
  ds.Open();
  EXPECT_EQ(ds.IndexCount(), 2);
  EXPECT_EQ(ds.IndexCurrent(), "QF");
  EXPECT_EQ(ds.RecNo(), 9);
  EXPECT_EQ(ds.IndexExpression(2), "upper(NAME)");
  EXPECT_EQ(ds.IndexCurrentOrder(), 1);

  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.SetIndexFiles({"UN", "UN"}); }),
            "Index file " + dir.path() + "UN.NDX already open");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.SetIndexFiles({"GONE"}); }),
            "Cannot find file " + dir.path() + "GONE.NDX");
  ds.Index(" \"qf.ntx\" ; un ", "UN");
  EXPECT_EQ(ds.IndexFiles(), (std::vector<std::string>{"QF.NTX", "UN"}));
  EXPECT_EQ(ds.IndexCurrent(), "UN");
  ds.Index(dir / "qf.ntx", "QF");  // a folder keeps its case
  EXPECT_EQ(ds.IndexFiles(), (std::vector<std::string>{dir / "QF.NTX"}));
  EXPECT_EQ(ds.IndexCurrent(), "QF");
}

TEST_F(Names, AFailedBuildLeavesTheDatasetUsable) {
  EXPECT_NE(ErrorOf<EXBaseExpression>([&] {
              ds.IndexOn("BAD", "BAD", "upper(NAME", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
            }),
            "");
  EXPECT_EQ(Walk().size(), kNames.size());
  ds.Edit();
  ds.FieldByName("QTY").SetAsInteger(99);
  ds.Post();
  ds.IndexOn("UN", "UN", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ds.IndexFileInclude("UN");
  ds.SetIndexName("UN");
  EXPECT_EQ(Walk(), ByUpperName());
}
