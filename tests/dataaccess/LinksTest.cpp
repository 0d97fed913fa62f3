#include <gtest/gtest.h>

#include "ToyDataSet.h"

using namespace dataaccess;
using toy::NamesTable;

namespace {

// Counts what a link hears.
class TCountingLink : public TDataLink {
 public:
  int active = 0, changes = 0, records = 0;

 protected:
  void ActiveChanged() override { ++active; }
  void DataSetChanged() override { ++changes; }
  void RecordChanged(TField*) override { ++records; }
};

}  // namespace

TEST(DataLinks, MasterLinkFollowsTheMaster) {
  auto master = NamesTable({"a", "b", "c"});
  auto detail = NamesTable({"x"});
  TDataSource source;
  source.SetDataSet(master.get());
  TMasterDataLink link(*detail);
  link.SetFieldNames("ID; NAME");
  std::vector<std::string> keys;
  int disabled = 0;
  link.OnMasterChange = [&] {
    ASSERT_EQ(link.Fields().size(), 2u);
    keys.push_back(link.Fields()[1]->AsString());
  };
  link.OnMasterDisable = [&] { ++disabled; };
  link.SetDataSource(&source);  // becomes active with key fields
  master->Next();
  master->Last();
  master->Prior();
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "c", "b"}));

  keys.clear();
  master->Edit();
  master->FieldByName("ID").SetAsInteger(7);  // a key field changed
  master->Cancel();
  EXPECT_EQ(keys.size(), 3u);  // the edit began, the key changed, the record was re-read

  keys.clear();
  master->DisableControls();
  master->DisableControls();
  master->First();
  master->Next();
  master->EnableControls();
  EXPECT_TRUE(keys.empty());
  master->EnableControls();  // the last one reports once
  EXPECT_EQ(keys, std::vector<std::string>{"b"});

  master->Close();
  EXPECT_EQ(disabled, 1);
  EXPECT_TRUE(link.Fields().empty());
  detail->Close();
  keys.clear();
  master->Open();  // a closed detail hears nothing
  EXPECT_TRUE(keys.empty());
}

TEST(DataLinks, LinksHearStateAndLifetimesAreIndependent) {
  auto ds = NamesTable({"a", "b"});
  auto link = std::make_unique<TCountingLink>();
  {
    TDataSource source;
    source.SetDataSet(ds.get());
    link->SetDataSource(&source);
    EXPECT_TRUE(link->Active());
    ds->Next();
    ds->Edit();
    ds->FieldByName("NAME").SetAsString("z");
    EXPECT_EQ(link->changes, 1);
    EXPECT_EQ(link->records, 2);  // the edit began, then the field changed
    ds->Cancel();
    const int changes = link->changes;
    ds->SetTempState(dsCalcFields);  // temporary states stay unheard
    ds->RestoreState(dsBrowse);
    EXPECT_EQ(link->changes, changes);
  }
  EXPECT_EQ(link->DataSource(), nullptr);  // the source went away first
  EXPECT_FALSE(link->Active());

  TDataSource source;
  source.SetDataSet(ds.get());
  link->SetDataSource(&source);
  link.reset();  // the link goes first
  ds->Next();
  ds.reset();    // then the dataset
  EXPECT_EQ(source.DataSet(), nullptr);
}

TEST(DataLinks, CircularMasterLinksAreRefused) {
  auto a = NamesTable({"a"});
  auto b = NamesTable({"b"});
  TDataSource sourceA, sourceB;
  sourceA.SetDataSet(a.get());
  TMasterDataLink self(*a);
  EXPECT_THROW(self.SetDataSource(&sourceA), EDatabaseError);
  // b's master is a; a may not then take b as its master, whichever side
  // is set last.
  class TDetail : public toy::TToyDataSet {
   public:
    using TToyDataSet::TToyDataSet;
    TDataSource* master = nullptr;
    TDataSource* GetDataSource() override { return master; }
  };
  TDetail detail({{"ID", ftInteger}});
  detail.master = &sourceA;
  TDataSource sourceDetail;
  sourceDetail.SetDataSet(&detail);
  TMasterDataLink toDetail(*a);
  EXPECT_THROW(toDetail.SetDataSource(&sourceDetail), EDatabaseError);
  TDataSource later;
  toDetail.SetDataSource(&later);
  EXPECT_THROW(later.SetDataSet(&detail), EDatabaseError);
}
