// Finds, ranges, keys built from values, duplicate hunts, locates through a
// tag and by reading, and the text search over fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataaccess/DBValues.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/expr/expression.h"
#include "xbase/handler/table_handler.h"

using namespace xbase;
using dataaccess::TVariant;

namespace {

// Authors: ID N 10, NA C 30, SB C 20, NOTE M; an index on UPPER(NA) ("A")
// and one on NA ("N").
class Authors : public ::testing::Test {
 protected:
  void SetUp() override {
    XBO_DBFBuild b(dir_ / "au.dbf");
    b.InsertField("ID", "N", 10, 0);
    b.InsertField("NA", "C", 30, 0);
    b.InsertField("SB", "C", 20, 0);
    b.InsertField("NOTE", "M", 10, 0);
    b.Complete();
    t_ = std::make_unique<XBO_dBHandler>(b.FileName(), "", true, false);
    const char* names[] = {"Smithson", "Jones", "Smith", "Adams", "Thomas", "Smith", "Lovecraft"};
    for (int i = 0; i < 7; ++i) {
      t_->xbBlank();
      t_->xbNumberPut("ID", i + 1);
      t_->xbStringPut("NA", names[i]);
      if (i == 6) {
        t_->xbStringPut("SB", "Cthulhu");
        t_->xbStringPut("NOTE", "Letters from Arkham");
      }
      t_->xbAppend();
    }
    t_->xbIndexTo(dir_ / "a.ndx", "", "UPPER(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    t_->xbIndexTo(dir_ / "n.ndx", "", "NA", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    ASSERT_EQ(t_->xbIndex(dir_ / "a.ndx;" + dir_ / "n.ndx", "A"), 0);
  }

  TempDir dir_;
  std::unique_ptr<XBO_dBHandler> t_;
};

TEST_F(Authors, FindsByPrefixUnlessExactAndSoftSeeks) {
  XBO_dBHandler& t = *t_;
  EXPECT_TRUE(t.xbFind("SMI"));  // the first key beginning with it: SMITH, record 3
  EXPECT_EQ(t.RecNumber(), 3);
  t.SetxbvExactMatch(true);
  EXPECT_FALSE(t.xbFind("SMI"));
  EXPECT_TRUE(t.File_EOF());
  EXPECT_EQ(t.RecNumber(), 5);  // at the bottom: THOMAS
  EXPECT_TRUE(t.xbFind("SMITH"));
  EXPECT_EQ(t.RecNumber(), 3);

  // Soft seek: the next greater key, not found.
  t.SetxbvExactMatch(false);
  t.SetxbvFindNear(true);
  EXPECT_FALSE(t.xbFind("SMZ"));
  EXPECT_FALSE(t.File_EOF());
  EXPECT_EQ(t.RecNumber(), 5);
  EXPECT_FALSE(t.xbFind("ZZ"));
  EXPECT_TRUE(t.File_EOF());
  t.SetxbvFindNear(false);
  EXPECT_FALSE(t.xbFind("SMZ"));
  EXPECT_TRUE(t.File_EOF());
  EXPECT_EQ(t.RecNumber(), 5);

  // Found keys whose records are hidden move on in key order; whether the
  // record reached still counts depends on its key.
  for (int r : {3, 6}) {
    t.xbGetRec(r);
    t.xbDeleteRec();
  }
  t.SetUseDeletedRec(false);
  EXPECT_TRUE(t.xbFind("SMITH"));  // SMITHSON begins with it
  EXPECT_EQ(t.RecNumber(), 1);
  t.SetxbvExactMatch(true);
  EXPECT_FALSE(t.xbFind("SMITH"));
  t.SetxbvFindNear(true);
  EXPECT_FALSE(t.xbFind("SMIT"));  // lands on SMITH (hidden), moves on
  EXPECT_EQ(t.RecNumber(), 1);
  EXPECT_FALSE(t.File_EOF());

  t.xbSetTagTo("", false);
  EXPECT_FALSE(t.xbFind("SMITH"));
  EXPECT_TRUE(t.File_EOF());
}

TEST_F(Authors, KeysBuiltFromValuesAndDuplicateHunts) {
  XBO_dBHandler& t = *t_;
  TxbExpHandler upper(t.DBFExpLink(), "upper(NA)", t.dAlias());
  t.xbGetRec(3);
  AnsiString stored;
  ASSERT_EQ(t.xbGetKey(xbRecCurrent, stored), 3);
  const std::vector<TVariant> smith = {"Smith"}, more = {"Smith", 5};
  // The tag keeps text keys without their blanks.
  EXPECT_EQ(stored, "SMITH");
  EXPECT_EQ(t.xbBuildKey(smith, upper), "SMITH" + std::string(25, ' '));
  EXPECT_EQ(t.xbBuildKey(more, upper), "SMITH" + std::string(25, ' '));  // a value beyond the expression's fields
  EXPECT_EQ(t.RecNumber(), 3);
  TxbExpHandler both(t.DBFExpLink(), "STR(ID, 4) + NA", t.dAlias());
  const std::vector<TVariant> idName = {7, "Lovecraft"};
  EXPECT_EQ(t.xbBuildKey(idName, both), "   7Lovecraft" + std::string(21, ' '));

  EXPECT_EQ(t.xbHuntDuplicate("a", "SMITH"), 3);
  EXPECT_EQ(t.xbHuntDuplicate("N", "Smith"), 3);
  EXPECT_EQ(t.xbHuntDuplicate("A", "SMI"), 0);  // whole keys only
  EXPECT_EQ(t.xbHuntDuplicate("X", "SMITH"), -1);
  EXPECT_EQ(t.RecNumber(), 3);
  EXPECT_FALSE(t.xbvExactMatch());
}

TEST_F(Authors, LocatesThroughATagOrByReading) {
  XBO_dBHandler& t = *t_;
  // A case-sensitive search from the top asks tag N: key order, SMITH (3)
  // before SMITHSON (1), and the padded value seeks without its blanks.
  const std::vector<TVariant> smi = {"Smi"}, smith = {"Smith"}, lower = {"smi"};
  EXPECT_TRUE(t.xbLocateRecord("NA", smi, false, true, 0));
  EXPECT_EQ(t.RecNumber(), 3);
  // Ignoring case, the records are read in their order.
  EXPECT_TRUE(t.xbLocateRecord("na", lower, true, true, 0));
  EXPECT_EQ(t.RecNumber(), 1);
  EXPECT_TRUE(t.xbLocateRecord("NA", smith, false, false, 0));
  EXPECT_EQ(t.RecNumber(), 3);
  EXPECT_TRUE(t.xbLocateRecord("NA", smith, false, false, 3));  // after record 3
  EXPECT_EQ(t.RecNumber(), 6);
  EXPECT_FALSE(t.xbLocateRecord("NA", smith, false, false, 6));
  EXPECT_TRUE(t.File_EOF());
  EXPECT_FALSE(t.xbLocateRecord("NA", lower, false, true, 0));

  // Numbers by value, several fields, and a range that limits the reading.
  const std::vector<TVariant> six = {6.0}, nameAndId = {"Smith", int64_t{6}};
  EXPECT_TRUE(t.xbLocateRecord("ID", six, false, false, 0));
  EXPECT_EQ(t.RecNumber(), 6);
  EXPECT_TRUE(t.xbLocateRecord("NA; ID", nameAndId, false, false, 0));
  EXPECT_EQ(t.RecNumber(), 6);
  ASSERT_TRUE(t.xbSetRange("SMITH", "SMITHSON", true, true, false));
  const std::vector<TVariant> jones = {"Jones"};
  EXPECT_FALSE(t.xbLocateRecord("NA", jones, false, false, 0));
  EXPECT_TRUE(t.xbLocateRecord("NA", smi, false, true, 0));
  EXPECT_EQ(t.RecNumber(), 3);
  EXPECT_EQ(t.PrimaryTagName(), "A");
}

TEST_F(Authors, SearchesFieldTexts) {
  XBO_dBHandler& t = *t_;
  t.xbSetTagTo("", false);
  t.xbGetRec(2);
  auto search = [&](const std::string& s, uint16_t mode, uint16_t fnum = 0, int from = 0, int to = 0) {
    t.SetSearchMode(mode);
    uint16_t f = fnum;
    int rec = from;
    const uint16_t at = t.xbSearchDBF(s, f, rec, to);
    return at ? std::to_string(at) + "@" + std::to_string(f) + ":" + std::to_string(rec) : std::string("none");
  };
  EXPECT_EQ(search("*ov*", 4), "2@2:7");  // "Lovecraft": field 2 of record 7, position 2
  t.xbGetRec(2);
  EXPECT_EQ(search("ov", 4), "none");    // without stars the text must fill the field
  EXPECT_EQ(t.RecNumber(), 2);           // back where it was
  EXPECT_EQ(search("LOVECRAFT", 4), "none");
  EXPECT_EQ(search("LOVECRAFT", 5), "1@2:7");
  EXPECT_EQ(search("*craft", 4), "5@2:7");
  EXPECT_EQ(search("L?vecraft", 4), "1@2:7");
  EXPECT_EQ(search("*L?ve*", 4), "none");  // after a leading star '?' is itself
  EXPECT_EQ(search("love", 1), "1@2:7");
  EXPECT_EQ(search("ove", 1 | 32), "none");
  EXPECT_EQ(search("Lov", 2), "1@2:7");
  EXPECT_EQ(search("ove", 2), "none");
  EXPECT_EQ(search("cthulhu", 1), "1@3:7");   // the third field
  EXPECT_EQ(search("arkham", 1), "14@4:7");   // in the memo, at its position
  EXPECT_EQ(search("arkham", 0), "none");     // case counts
  EXPECT_EQ(search("6", 1), "1@1:6");         // a number field by value
  EXPECT_EQ(search("smith", 1, 2), "1@2:1");  // field 2 only
  EXPECT_EQ(search("smith", 1, 2, 1), "1@2:3");
  EXPECT_EQ(search("smith", 1, 2, 3, 5), "none");
  EXPECT_EQ(search("smith", 1, 2, 3, 6), "1@2:6");
  EXPECT_EQ(search("smith", 1, 9), "none");  // no such field

  // Deleted records are read while they are shown, passed over while hidden.
  t.xbGetRec(1);
  t.xbDeleteRec();
  EXPECT_EQ(search("smith", 1, 2), "1@2:1");
  t.SetUseDeletedRec(false);
  EXPECT_EQ(search("smith", 1, 2), "1@2:3");
  EXPECT_EQ(search("smith", 1 | 16, 2), "1@2:3");
}

// An empty table of the book fields; its file name.
std::string NewBookTable(const std::string& path) {
  XBO_DBFBuild b(path);
  AddBookFields(b);
  b.Complete();
  return b.FileName();
}

TEST(Range, OneKeyOnANumericTag) {
  TempDir dir;
  XBO_dBHandler t(NewBookTable(dir / "bo.dbf"), "", true, false);
  AppendBooks(t, 1, 300);  // AU = n % 1000, so the author is the record
  for (int n = 1; n <= 300; ++n) {
    t.xbGetRec(n);
    t.xbNumberPut("AU", n % 20);
    t.xbPutRec(n);
  }
  t.xbGetRec(7);
  EXPECT_FALSE(t.xbSetRange("12", "12", true, true, false));  // no tag: nothing changes
  EXPECT_EQ(t.RecNumber(), 7);

  t.xbIndexTo(dir / "bo.ndx", "", "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ASSERT_EQ(t.xbIndex(dir / "bo.ndx", "BO"), 0);
  ASSERT_TRUE(t.xbSetRange("12", "12", true, true, false));
  std::vector<int> seen;
  for (; t.xbvRecRead(); t.xbGetRec(xbRecNext)) seen.push_back(t.RecNumber());
  std::vector<int> want;
  for (int n = 12; n <= 300; n += 20) want.push_back(n);
  EXPECT_EQ(seen, want);

  ASSERT_TRUE(t.xbSetRange("", " 2", true, false, false));  // open below, 2 left out
  seen.clear();
  for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext)) seen.push_back(static_cast<int>(t.xbNumberGet("AU")));
  EXPECT_EQ(seen.size(), 30u);
  EXPECT_EQ(seen.back(), 1);

  ASSERT_TRUE(t.xbSetRange("99", "99", true, true, false));
  EXPECT_TRUE(t.File_EOF());
  EXPECT_EQ(GetField(t, 0), std::string(10, ' '));
  t.xbResetRange();
  EXPECT_EQ(t.xbRecordCount(true), 300);
}

// A search text that is no number, on a number tag, is refused with the
// engine's error in every format that converts it (NTX takes it as a key in
// its stored form), never with the conversion's own.
TEST(Find, TextThatIsNoNumberOnANumberTag) {
  TempDir dir;
  XBO_dBHandler t(NewBookTable(dir / "bo.dbf"), "", true, false);
  AppendBooks(t, 1, 30);
  for (const char* index : {"bo.ndx", "bo.cdx", "bo.mdx"}) {
    t.xbIndexTo(dir / index, "AU", "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    ASSERT_EQ(t.xbIndex(dir / index, index[3] == 'n' ? "BO" : "AU"), 0) << index;
    EXPECT_EQ(ErrorOf([&] { t.xbFind("A1"); }), "A Number value is required but invalid") << index;
    EXPECT_TRUE(t.xbFind("7")) << index;
  }
}

}  // namespace
