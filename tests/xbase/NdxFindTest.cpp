// What the table handler asks of a tag, on NDX files: finds, reads in both
// directions with and without a range, range bounds, filters, percent
// positions and duplicate hunts, against models of the keys.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/IndexTable.h"
#include "xbase/index/ndx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;

struct Index {
  Index(const std::string& dir, const std::string& expr, int naLength = 20)
      : table(dir + "t.dbf", naLength), ndx(&table, "t", true, false, true, true) {
    EXPECT_TRUE(ndx.AddTag("T", expr, "", true, false));
  }
  XBobjIndexTag& tag() { return *ndx.Tag(); }
  TIndexTable table;
  XBobjNDXFile ndx;
};

// A text search key for any record (or `rec`'s entry).
struct Text : XBobjIndexKeyData {
  explicit Text(const std::string& s, int rec = XBobjIndexTag::AnyRecord) {
    PutString(s);
    Tag = rec;
  }
};

TxbVariant& Bound(TxbVariant& v, const std::string& s) {
  if (s.empty()) {
    v.Clear();
  } else {
    v.PutString(s);
  }
  return v;
}

// The records KeyRead gives from `first` on with `step` until it stops.
std::vector<int> Reads(XBobjIndexTag& tag, int first, int step) {
  std::vector<int> recs;
  for (int rec = tag.KeyRead(first); rec != 0; rec = tag.KeyRead(step)) recs.push_back(rec);
  return recs;
}

}  // namespace

TEST(NdxFind, PartialAndExactFinds) {
  TempDir dir;
  Index ix(dir.path(), "NA");
  AddText(ix.tag(), "AA", 1);
  AddText(ix.tag(), "ABC", 2);
  AddText(ix.tag(), "AB", 3);
  AddText(ix.tag(), "ABD", 4);
  AddText(ix.tag(), "B", 5);

  ix.table.ExactMatch = false;
  EXPECT_EQ(ix.tag().KeyFind(Text("AB")), 3);  // "AB" sorts before "ABC"
  EXPECT_EQ(ix.tag().KeyFind(Text("ABD")), 4);
  EXPECT_EQ(ix.tag().KeyFind(Text("AC")), 0);  // not found: on the next greater key
  EXPECT_FALSE(ix.tag().TagEOF());
  EXPECT_EQ(ix.tag().CurKeyInfo().Tag, 5);
  EXPECT_EQ(ix.tag().KeyFind(Text("C")), 0);  // past every key
  EXPECT_TRUE(ix.tag().TagEOF());

  ix.table.ExactMatch = true;
  EXPECT_EQ(ix.tag().KeyFind(Text("AB")), 3);
  EXPECT_EQ(ix.tag().KeyFind(Text("AB   ")), 3);  // blanks beyond the key count as its own
  EXPECT_EQ(ix.tag().KeyFind(Text("A")), 0);
  EXPECT_EQ(ix.tag().CurKeyInfo().Tag, 1);
  ix.table.ExactMatch = false;
  EXPECT_EQ(ix.tag().KeyFind(Text("A")), 1);  // the first key beginning with A
}

TEST(NdxFind, FindsOutsideTheRangeEndTheTag) {
  TempDir dir;
  Index ix(dir.path(), "NA");
  for (int i = 0; i < 10; ++i) AddText(ix.tag(), std::string(1, static_cast<char>('A' + i)), i + 1);
  TxbVariant lo, hi;
  ix.tag().SetRange(Bound(lo, "C"), true, Bound(hi, "E"), true, false);
  ix.table.ExactMatch = true;
  EXPECT_EQ(ix.tag().KeyFind(Text("D")), 4);
  EXPECT_EQ(ix.tag().KeyFind(Text("G")), 0);  // found, but above the range
  EXPECT_TRUE(ix.tag().TagEOF());
  EXPECT_EQ(ix.tag().KeyFind(Text("EE")), 0);  // not found; the next key is above the range
  EXPECT_TRUE(ix.tag().TagEOF());
  EXPECT_EQ(ix.tag().KeyFind(Text("CC")), 0);  // not found; the next key is inside
  EXPECT_FALSE(ix.tag().TagEOF());
  EXPECT_EQ(ix.tag().CurKeyInfo().Tag, 4);
}

TEST(NdxRead, MovesAtBothEndsWithAndWithoutARange) {
  TempDir dir;
  Index ix(dir.path(), "AU");
  XBobjIndexTag& tag = ix.tag();
  // 10, 11, 12 (x40, over several leaves), 13, 14.
  int rec = 0;
  for (int v : {10, 11}) AddNumber(tag, v, ++rec);
  for (int i = 0; i < 40; ++i) AddNumber(tag, 12, ++rec);
  for (int v : {13, 14}) AddNumber(tag, v, ++rec);
  const int n = rec;

  std::vector<int> all(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) all[static_cast<size_t>(i)] = i + 1;
  EXPECT_EQ(Reads(tag, -3, -1), all);
  EXPECT_TRUE(tag.TagEOF());
  EXPECT_FALSE(tag.TagBOF());
  EXPECT_EQ(tag.KeyRead(-1), 0);  // stays at the end
  EXPECT_EQ(tag.KeyRead(-2), n);  // and steps back onto the last key
  EXPECT_EQ(tag.KeyRead(-5), n);
  std::vector<int> back(all.rbegin(), all.rend());
  EXPECT_EQ(Reads(tag, -4, -2), back);
  EXPECT_TRUE(tag.TagBOF());
  EXPECT_EQ(tag.KeyRead(-1), 1);

  // 12..12 inclusive: exactly the forty.
  TxbVariant lo, hi;
  lo.PutString(" 12 ");  // bounds arrive as text
  hi.PutString("12");
  ASSERT_TRUE(tag.SetRange(lo, true, hi, true, false));
  EXPECT_EQ(tag.CurKeyInfo().Tag, 3);
  std::vector<int> twelves;
  for (int i = 3; i <= 42; ++i) twelves.push_back(i);
  EXPECT_EQ(Reads(tag, -3, -1), twelves);
  EXPECT_TRUE(tag.TagEOF());
  EXPECT_EQ(Reads(tag, -4, -2), std::vector<int>(twelves.rbegin(), twelves.rend()));
  EXPECT_TRUE(tag.TagBOF());
  EXPECT_EQ(tag.GetRangeCount(), 40);
  EXPECT_EQ(tag.KeyRead(-3), 3);
  EXPECT_EQ(tag.KeyRead(-2), 0);  // before the range
  EXPECT_TRUE(tag.TagBOF());

  // Exclusive bounds leave the equal keys out; open ones reach the ends.
  lo.PutString("11");
  hi.PutString("13");
  tag.SetRange(lo, false, hi, false, false);
  EXPECT_EQ(Reads(tag, -3, -1), twelves);
  EXPECT_EQ(Reads(tag, -4, -2), std::vector<int>(twelves.rbegin(), twelves.rend()));
  lo.Clear();
  tag.SetRange(lo, true, hi, false, false);
  EXPECT_EQ(Reads(tag, -3, -1).size(), 42u);
  hi.Clear();
  lo.PutString("13");
  tag.SetRange(lo, true, hi, true, false);
  EXPECT_EQ(Reads(tag, -3, -1), (std::vector<int>{n - 1, n}));
  EXPECT_EQ(tag.GetRangeCount(), 2);
  lo.PutString("abc");
  EXPECT_EQ(ErrorOf([&] { tag.SetRange(lo, true, hi, true, false); }), "A Number value is required but invalid");
  lo.PutString("15");
  tag.SetRange(lo, true, hi, true, false);
  EXPECT_EQ(tag.KeyRead(-3), 0);  // an empty range
  EXPECT_TRUE(tag.TagEOF() && tag.TagBOF());
  EXPECT_EQ(tag.KeyRead(-4), 0);
  EXPECT_EQ(tag.GetRangeCount(), 0);
}

TEST(NdxRange, KeyInRangeSaysWhereTheCurrentKeyStands) {
  TempDir dir;
  Index ix(dir.path(), "NA");
  XBobjIndexTag& tag = ix.tag();
  for (int i = 0; i < 6; ++i) AddText(tag, std::string(1, static_cast<char>('A' + i)), i + 1);
  EXPECT_EQ(tag.KeyInRange(), 0);  // no range
  TxbVariant lo, hi;
  tag.SetRange(Bound(lo, "B"), false, Bound(hi, "D"), false, false);
  ix.table.ExactMatch = true;
  const auto where = [&](const char* key) {
    tag.SetRange(lo, false, hi, false, false);
    Text k(key, 0);
    tag.SeekKey(XBobjIndexTag::AnyRecord, k, XBobjIndexTag::Whole);
    tag.ReadCurrentKey();
    return tag.KeyInRange();
  };
  EXPECT_EQ(where("A"), 2);   // below the low limit
  EXPECT_EQ(where("B"), 1);   // equal to a low limit not counted
  EXPECT_EQ(where("C"), 0);   // inside
  EXPECT_EQ(where("D"), -1);  // equal to a high limit not counted
  EXPECT_EQ(where("E"), -1);  // above
  tag.SetRange(lo, true, hi, true, false);
  EXPECT_EQ(tag.KeyRead(-3), 2);
  EXPECT_EQ(tag.KeyInRange(), 0);
  EXPECT_EQ(tag.KeyRead(-4), 4);
  EXPECT_EQ(tag.KeyInRange(), 0);
  // A partial high limit takes the keys that begin with it.
  AddText(tag, "DD", 7);
  tag.SetRange(lo, true, hi, true, true);
  EXPECT_EQ(Reads(tag, -3, -1), (std::vector<int>{2, 3, 4, 7}));
  tag.SetRange(lo, true, hi, true, false);
  EXPECT_EQ(Reads(tag, -3, -1), (std::vector<int>{2, 3, 4}));
}

TEST(NdxFilter, EachOperatorFillsTheModelsRecords) {
  TempDir dir;
  Index ix(dir.path(), "AU");
  std::multimap<double, int> model;
  std::mt19937 rng(4);
  for (int rec = 1; rec <= 700; ++rec) {
    const double v = rng() % 60;
    AddNumber(ix.tag(), v, rec);
    model.emplace(v, rec);
  }
  for (double probe : {-1.0, 0.0, 17.0, 59.0, 60.0}) {
    for (int op : {129, 131, 132, 133, 134}) {
      TxbVariant key;
      key.PutFloat(probe);
      TxbHugeSet set;
      set.ChangeBit(9999, 1);  // cleared first
      ASSERT_EQ(ix.tag().KeyFilter(op, key, set), 0);
      std::set<int> expect, got;
      for (const auto& [v, rec] : model) {
        const bool in = op == 129 ? v == probe : op == 131 ? v > probe : op == 132 ? v < probe
                                                 : op == 133 ? v >= probe
                                                             : v <= probe;
        if (in) expect.insert(rec);
      }
      for (int rec = 0; rec <= 10000; ++rec)
        if (set.BitValue(static_cast<uint32_t>(rec))) got.insert(rec);
      EXPECT_EQ(got, expect) << "operator " << op << " on " << probe;
    }
  }
}

TEST(NdxPercent, PositionsAtTheEndsAndInBetween) {
  TempDir dir;
  Index ix(dir.path(), "AU");
  XBobjIndexTag& tag = ix.tag();
  for (int i = 1; i <= 1000; ++i) AddNumber(tag, i, i);
  for (bool exact : {false, true}) {
    EXPECT_EQ(tag.SetKeyPercent(0.0005, exact), 1);
    EXPECT_EQ(tag.SetKeyPercent(0.9995, exact), 1000);
    EXPECT_EQ(tag.KeyRead(-3), 1);
    EXPECT_DOUBLE_EQ(tag.GetKeyPercent(1, exact), 0.0);
    EXPECT_EQ(tag.KeyRead(-4), 1000);
    EXPECT_GT(tag.GetKeyPercent(1000, exact), 0.99);
    EXPECT_LT(tag.GetKeyPercent(1000, exact), 1.0);
    const int middle = tag.SetKeyPercent(0.5, exact);
    // By the path the place is only as even as the pages are full.
    EXPECT_NEAR(middle, 500, exact ? 1 : 100) << exact;
    EXPECT_NEAR(tag.GetKeyPercent(middle, exact), 0.5, exact ? 0.002 : 0.02);
  }
  EXPECT_DOUBLE_EQ(tag.GetKeyPercent(250, true), 0.249);
  EXPECT_EQ(tag.CurKeyInfo().Tag, tag.KeyRead(-5));  // the position is kept
}

TEST(NdxHunt, FindsAnEqualKeyAndStaysWhereItWas) {
  TempDir dir;
  Index ix(dir.path(), "NA");
  XBobjIndexTag& tag = ix.tag();
  for (int i = 0; i < 200; ++i) AddText(tag, "NAME" + std::to_string(1000 + i), i + 1);
  TxbVariant lo, hi;
  tag.SetRange(Bound(lo, "NAME1100"), true, Bound(hi, "NAME1110"), true, false);
  EXPECT_EQ(tag.KeyRead(-1), 102);
  EXPECT_EQ(tag.HuntDuplicate(Text("NAME1005")), 6);  // outside the range, found all the same
  EXPECT_EQ(tag.HuntDuplicate(Text("NAME10")), 0);    // whole keys only
  EXPECT_EQ(tag.CurKeyInfo().Tag, 102);
  EXPECT_EQ(tag.KeyRead(-1), 103);
}
