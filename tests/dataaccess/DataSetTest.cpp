#include <gtest/gtest.h>

#include "ToyDataSet.h"

using namespace dataaccess;
using toy::NamesTable;
using toy::TToyDataSet;

namespace {

std::string Name(TDataSet& ds) { return ds.FieldByName("NAME").AsString(); }

}  // namespace

TEST(DataSetNavigation, EmptyDataSetIsAtBothEnds) {
  auto ds = NamesTable({});
  EXPECT_TRUE(ds->Bof());
  EXPECT_TRUE(ds->Eof());
  EXPECT_TRUE(ds->IsEmpty());
  ds->Next();
  ds->Last();
  EXPECT_TRUE(ds->Bof() && ds->Eof());
  EXPECT_EQ(ds->MoveBy(5), 0);
  EXPECT_TRUE(ds->FieldByName("NAME").IsNull());
  EXPECT_TRUE(ds->GetBookmark().empty());
  try {
    ds->Edit();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on an empty dataset");
  }
  EXPECT_THROW(ds->Delete(), EDatabaseError);
}

TEST(DataSetNavigation, EndsKeepTheirRecord) {
  auto ds = NamesTable({"a", "b", "c"});
  EXPECT_TRUE(ds->Bof());
  EXPECT_FALSE(ds->Eof());
  EXPECT_EQ(Name(*ds), "a");
  ds->Prior();  // at the start: nothing moves
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(Name(*ds), "a");
  ds->Next();
  EXPECT_FALSE(ds->Bof());
  EXPECT_EQ(Name(*ds), "b");
  EXPECT_EQ(ds->MoveBy(5), 1);  // ran off the end after one record
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(Name(*ds), "c");
  ds->Next();
  EXPECT_EQ(Name(*ds), "c");
  EXPECT_EQ(ds->MoveBy(-1), -1);  // from the end, back to the one before the last
  EXPECT_FALSE(ds->Eof());
  EXPECT_EQ(Name(*ds), "b");
  EXPECT_EQ(ds->MoveBy(-3), -1);
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(Name(*ds), "a");
  ds->Last();
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(Name(*ds), "c");
  ds->Prior();
  EXPECT_EQ(Name(*ds), "b");
}

TEST(DataSetNavigation, WalkVisitsEveryRecordOnce) {
  auto ds = NamesTable({"a", "b", "c", "d"});
  std::string seen;
  for (ds->First(); !ds->Eof(); ds->Next()) seen += Name(*ds);
  EXPECT_EQ(seen, "abcd");
  seen.clear();
  for (ds->Last(); !ds->Bof(); ds->Prior()) seen += Name(*ds);
  EXPECT_EQ(seen, "dcba");
}

TEST(DataSetEditing, AppendPostMakesTheNewRecordCurrent) {
  auto ds = NamesTable({"a", "b"});
  ds->Append();
  EXPECT_EQ(ds->State(), dsInsert);
  EXPECT_TRUE(ds->FieldByName("NAME").IsNull());
  ds->FieldByName("NAME").SetAsString("new");
  EXPECT_TRUE(ds->Modified());
  ds->Post();
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(Name(*ds), "new");
  ds->Prior();
  EXPECT_EQ(Name(*ds), "b");
  EXPECT_EQ(ds->RecordCount(), 3);
}

TEST(DataSetEditing, InsertGoesBeforeTheCurrentRecordAndCancelReturnsToIt) {
  auto ds = NamesTable({"a", "b", "c"});
  ds->Next();
  ds->Insert();
  EXPECT_TRUE(ds->GetBookmark().empty());
  ds->Cancel();
  EXPECT_EQ(Name(*ds), "b");
  ds->Insert();
  ds->FieldByName("NAME").SetAsString("ab");
  ds->Post();
  EXPECT_EQ(Name(*ds), "ab");
  std::string seen;
  for (ds->First(); !ds->Eof(); ds->Next()) seen += Name(*ds) + ",";
  EXPECT_EQ(seen, "a,ab,b,c,");
}

TEST(DataSetEditing, CancelOnAnEmptyDataSetLeavesItEmpty) {
  auto ds = NamesTable({});
  ds->Append();
  EXPECT_FALSE(ds->IsEmpty());
  ds->Cancel();
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_TRUE(ds->Bof() && ds->Eof());
}

TEST(DataSetEditing, EditCancelRestoresAndUnmodifiedEditIsDroppedOnScroll) {
  auto ds = NamesTable({"a", "b"});
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("changed");
  EXPECT_EQ(Name(*ds), "changed");
  ds->Cancel();
  EXPECT_EQ(Name(*ds), "a");
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("kept");
  ds->Next();  // a modified edit is posted before moving
  ds->First();
  EXPECT_EQ(Name(*ds), "kept");
  ds->Append();  // nothing set: dropped when moving on
  ds->First();
  EXPECT_EQ(ds->RecordCount(), 2);
}

TEST(DataSetEditing, DeleteMovesToTheNextElseThePrior) {
  auto ds = NamesTable({"a", "b", "c"});
  ds->Next();
  ds->Delete();
  EXPECT_EQ(Name(*ds), "c");
  ds->Delete();
  EXPECT_EQ(Name(*ds), "a");
  ds->Delete();
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_TRUE(ds->Eof() && ds->Bof());
}

TEST(DataSetEditing, EventOrder) {
  auto ds = NamesTable({"a", "b"});
  std::vector<std::string> log;
  auto on = [&log](const char* name) { return [&log, name](TDataSet&) { log.push_back(name); }; };
  ds->BeforeInsert = on("BeforeInsert");
  ds->AfterInsert = on("AfterInsert");
  ds->OnNewRecord = on("OnNewRecord");
  ds->BeforeEdit = on("BeforeEdit");
  ds->AfterEdit = on("AfterEdit");
  ds->BeforePost = on("BeforePost");
  ds->AfterPost = on("AfterPost");
  ds->BeforeCancel = on("BeforeCancel");
  ds->AfterCancel = on("AfterCancel");
  ds->BeforeDelete = on("BeforeDelete");
  ds->AfterDelete = on("AfterDelete");
  ds->BeforeScroll = on("BeforeScroll");
  ds->AfterScroll = on("AfterScroll");
  ds->BeforeClose = on("BeforeClose");
  ds->AfterClose = on("AfterClose");

  ds->Append();
  ds->FieldByName("NAME").SetAsString("x");
  ds->Post();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert",
                                           "AfterScroll", "BeforePost", "AfterPost"}));
  log.clear();
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("y");
  ds->Next();  // posts first, then scrolls
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost",
                                           "BeforeScroll", "AfterScroll"}));
  log.clear();
  ds->Edit();
  ds->Cancel();
  ds->Delete();
  ds->Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel",
                                           "BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll",
                                           "BeforeClose", "AfterClose"}));
}

TEST(DataSetEditing, FailedOperationsAskTheirErrorEvent) {
  auto ds = NamesTable({"a"});
  ds->editRefusals = 2;
  int asked = 0;
  ds->OnEditError = [&](TDataSet&, const std::exception& e, TDataAction& action) {
    EXPECT_STREQ(e.what(), "Record is locked by another user");
    action = ++asked < 2 ? daRetry : daFail;
  };
  EXPECT_THROW(ds->Edit(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsBrowse);
  ds->editRefusals = 1;
  asked = 0;
  ds->Edit();  // one refusal, then the retry succeeds
  EXPECT_EQ(ds->State(), dsEdit);
  ds->Cancel();
  ds->editRefusals = 1;
  ds->OnEditError = [](TDataSet&, const std::exception&, TDataAction& action) { action = daAbort; };
  EXPECT_THROW(ds->Edit(), EAbort);
  EXPECT_EQ(ds->State(), dsBrowse);
}

TEST(DataSetEditing, RequiredFieldsAndFailedAppendRecord) {
  auto ds = NamesTable({"a"});
  ds->FieldByName("NAME").SetRequired(true);
  ds->Append();
  EXPECT_THROW(ds->Post(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsInsert);  // the caller can still fix or cancel
  ds->Cancel();
  // A value the field refuses: the new record is cancelled, not left half-made.
  EXPECT_THROW(ds->AppendRecord({"not a number", "b"}), EDatabaseError);
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->RecordCount(), 1);
  EXPECT_THROW(ds->AppendRecord({1, "b", 3}), EDatabaseError);  // more values than fields
  EXPECT_EQ(ds->RecordCount(), 1);
}

TEST(DataSetBookmarks, RoundTripAndCompare) {
  auto ds = NamesTable({"a", "b", "c", "d", "e", "f", "g"});
  ds->MoveBy(2);
  const TBookmark third = ds->GetBookmark();
  ds->MoveBy(4);
  const TBookmark seventh = ds->GetBookmark();
  EXPECT_EQ(ds->CompareBookmarks(third, seventh), -1);
  EXPECT_EQ(ds->CompareBookmarks(seventh, third), 1);
  EXPECT_EQ(ds->CompareBookmarks(third, third), 0);
  EXPECT_EQ(ds->CompareBookmarks({}, third), -1);
  EXPECT_EQ(ds->CompareBookmarks(third, {}), 1);
  EXPECT_EQ(ds->CompareBookmarks({}, {}), 0);
  ds->GotoBookmark(third);
  EXPECT_EQ(Name(*ds), "c");
  ds->Next();
  EXPECT_EQ(Name(*ds), "d");  // the cursor moved with the bookmark
  EXPECT_TRUE(ds->BookmarkValid(seventh));

  ds->RemoveRow(7);
  EXPECT_FALSE(ds->BookmarkValid(seventh));
  EXPECT_THROW(ds->GotoBookmark(seventh), EDatabaseError);
  EXPECT_EQ(Name(*ds), "d");  // a failed jump keeps the record
  ds->Next();
  EXPECT_EQ(Name(*ds), "e");
  EXPECT_THROW(ds->GotoBookmark(TBookmark{1, 2}), EDatabaseError);
}

TEST(DataSetResync, FallsBackToTheNextThenThePrior) {
  auto ds = NamesTable({"a", "b", "c"});
  ds->Next();
  ds->RemoveRow(2);  // "b" is gone behind the dataset's back
  ds->Resync();
  EXPECT_EQ(Name(*ds), "c");
  ds->RemoveRow(3);
  ds->Resync();
  EXPECT_EQ(Name(*ds), "a");
  ds->RemoveRow(1);
  ds->Resync();
  EXPECT_TRUE(ds->IsEmpty());
}

TEST(DataSetStates, TempStateReturnsAndCloseDropsAnEdit) {
  auto ds = NamesTable({"a"});
  ds->Edit();
  const TDataSetState old = ds->SetTempState(dsFilter);
  EXPECT_EQ(ds->State(), dsFilter);
  EXPECT_TRUE(ds->FieldByName("NAME").IsNull());  // the toy has no filter buffer
  ds->RestoreState(old);
  EXPECT_EQ(ds->State(), dsEdit);
  ds->FieldByName("NAME").SetAsString("lost");
  ds->Close();
  EXPECT_FALSE(ds->Active());
  EXPECT_THROW(ds->Next(), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("NAME"), EDatabaseError);  // default fields are gone
  ds->Open();
  EXPECT_EQ(Name(*ds), "a");
}

TEST(DataSetStates, FailedOpenLeavesTheDataSetClosed) {
  TToyDataSet ds({{"ID", ftInteger}});
  ds.Fields().Add(std::make_unique<TStringField>("ID"));  // the wrong class for the column
  try {
    ds.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Type mismatch for field 'ID', expecting: String actual: Integer");
  }
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.Fields().Count(), 1);  // persistent fields survive
  ds.Fields().Clear();
  ds.Open();
  EXPECT_TRUE(ds.Active());
}
