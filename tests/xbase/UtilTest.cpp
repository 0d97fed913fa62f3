// The engine's small building blocks: the record bit set, Boyer-Moore
// search, file-name helpers and the work-file name maker.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "platform/CodePage.h"
#include "xbase/base/dates.h"
#include "xbase/base/utilities.h"

using namespace xbase;

TEST(HugeSet, BitsAcrossPagesAndReadsThatAllocateNothing) {
  TxbHugeSet s;
  EXPECT_FALSE(s.BitValue(5'000'000));
  EXPECT_EQ(s.AllocatedPages(), 0u);
  s.ChangeBit(7, 1);
  s.ChangeBit(TxbHugeSet::PageBits * 3 + 1, 1);
  EXPECT_TRUE(s.BitValue(7));
  EXPECT_FALSE(s.BitValue(6));
  EXPECT_TRUE(s.BitValue(TxbHugeSet::PageBits * 3 + 1));
  EXPECT_EQ(s.AllocatedPages(), 2u);
  EXPECT_EQ(s.HighestBit(), TxbHugeSet::PageBits * 3 + 1);
  EXPECT_FALSE(s.BitValue(TxbHugeSet::PageBits * 9));
  EXPECT_EQ(s.AllocatedPages(), 2u);
  s.ChangeBit(7, 2);
  EXPECT_FALSE(s.BitValue(7));
  s.ChangeBit(7, 2);
  s.ChangeBit(7, 0);
  EXPECT_FALSE(s.BitValue(7));
  s.ChangeBit(TxbHugeSet::PageBits * 5, 0);  // clearing a clear bit takes no page
  EXPECT_EQ(s.AllocatedPages(), 2u);
  EXPECT_EQ(s.HighestBit(), TxbHugeSet::PageBits * 5);
  s.Clear();
  EXPECT_EQ(s.HighestBit(), -1);
  EXPECT_FALSE(s.BitValue(TxbHugeSet::PageBits * 3 + 1));
}

TEST(HugeSet, AndOrXorOfSetsOfDifferentSizesAgreeWithAModel) {
  std::mt19937 rng(3);
  for (int round = 0; round < 6; ++round) {
    TxbHugeSet a, b;
    std::set<uint32_t> ma, mb;
    const uint32_t spanA = 1 + rng() % (TxbHugeSet::PageBits * 3), spanB = 1 + rng() % 1000;
    for (int i = 0; i < 500; ++i) {
      const uint32_t x = rng() % spanA, y = rng() % spanB;
      a.ChangeBit(x, 1), ma.insert(x);
      b.ChangeBit(y, 1), mb.insert(y);
    }
    const int op = round % 3;
    TxbHugeSet& big = round < 3 ? a : b;  // the larger set on either side
    const TxbHugeSet& other = round < 3 ? b : a;
    const std::set<uint32_t>& mbig = round < 3 ? ma : mb;
    const std::set<uint32_t>& mother = round < 3 ? mb : ma;
    if (op == 0) big.ANDSet(other);
    if (op == 1) big.ORSet(other);
    if (op == 2) big.XORSet(other);
    for (uint32_t bit = 0; bit < std::max(spanA, spanB) + 10; ++bit) {
      const bool x = mbig.count(bit), y = mother.count(bit);
      const bool want = op == 0 ? x && y : op == 1 ? x || y : x != y;
      ASSERT_EQ(big.BitValue(bit), want) << "op " << op << " bit " << bit;
    }
  }
}

TEST(HugeSet, NegateWithinTheRecordsOfTheTable) {
  TxbHugeSet s;
  s.ChangeBit(2, 1);
  s.ChangeBit(TxbHugeSet::PageBits + 4, 1);  // beyond the table: must not survive
  const uint32_t records = TxbHugeSet::PageBits + 2;
  s.NegateSet(records);
  EXPECT_FALSE(s.BitValue(0)) << "there is no record 0";
  EXPECT_TRUE(s.BitValue(1));
  EXPECT_FALSE(s.BitValue(2));
  EXPECT_TRUE(s.BitValue(records)) << "the last record passes";
  EXPECT_FALSE(s.BitValue(records + 1));
  EXPECT_FALSE(s.BitValue(TxbHugeSet::PageBits + 4));
  EXPECT_EQ(s.HighestBit(), records);
  TxbHugeSet empty;
  empty.NegateSet(TxbHugeSet::PageBits - 1);  // the last bit of a page
  EXPECT_TRUE(empty.BitValue(TxbHugeSet::PageBits - 1));
  EXPECT_FALSE(empty.BitValue(TxbHugeSet::PageBits));
}

TEST(BoyerMoore, AgreesWithFindOnRandomTexts) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const int alphabet = 1 + static_cast<int>(rng() % 4);
    auto randomText = [&](size_t n) {
      std::string s(n, 'a');
      for (auto& c : s) c = static_cast<char>(round % 2 ? 0xE0 + rng() % alphabet : 'a' + rng() % alphabet);
      return s;
    };
    const std::string text = randomText(rng() % 60);
    const std::string pat = randomText(1 + rng() % 5);
    const int start = text.empty() ? 0 : static_cast<int>(rng() % text.size());
    const size_t want = text.find(pat, static_cast<size_t>(start));
    const int got = BoyerMooreSearch(pat.data(), text.data(), start, static_cast<int>(text.size()),
                                     static_cast<int>(pat.size()));
    ASSERT_EQ(got, want == std::string::npos ? -1 : static_cast<int>(want)) << text << " / " << pat;

    const std::string upperText = platform::AnsiUpperCase(text), upperPat = platform::AnsiUpperCase(pat);
    const std::string mixedPat = round % 3 ? upperPat : pat;
    const size_t wantNoCase = upperText.find(upperPat, static_cast<size_t>(start));
    ASSERT_EQ(BoyerMooreSearchNoCase(mixedPat.data(), text.data(), start, static_cast<int>(text.size()),
                                     static_cast<int>(pat.size())),
              wantNoCase == std::string::npos ? -1 : static_cast<int>(wantNoCase));
  }
}

TEST(BoyerMoore, InvalidArguments) {
  const char* t = "abcabc";
  EXPECT_EQ(BoyerMooreSearch(nullptr, t, 0, 6, 1), -1);
  EXPECT_EQ(BoyerMooreSearch("c", nullptr, 0, 6, 1), -1);
  EXPECT_EQ(BoyerMooreSearch("c", t, -1, 6, 1), -1);
  EXPECT_EQ(BoyerMooreSearch("c", t, 0, 6, 0), -1);
  EXPECT_EQ(BoyerMooreSearch("bc", t, 5, 6, 2), -1);
  EXPECT_EQ(BoyerMooreSearch("bc", t, 4, 6, 2), 4);
}

TEST(FileNames, DefaultExtBaseNameAndPadding) {
  EXPECT_EQ(DefaultFileExt("/d/bo", ".DBF"), "/d/bo.DBF");
  EXPECT_EQ(DefaultFileExt("/d/bo.dbf", ".DBF"), "/d/bo.dbf");
  EXPECT_EQ(DefaultFileExt("/d.v2/bo", ".DBF"), "/d.v2/bo.DBF") << "a dot in the folder is no extension";
  EXPECT_EQ(FileBaseName("/data/tables/au.dbf"), "au");
  EXPECT_EQ(FileBaseName("au"), "au");
  EXPECT_EQ(FileBaseName("/d.v2/x.tar.ntx"), "x.tar");
  char buf[8] = "ab";
  StrPadTo(buf, '*', 5);
  EXPECT_STREQ(buf, "ab***");
  StrPadTo(buf, '-', 3);
  EXPECT_STREQ(buf, "ab***");
}

TEST(UniqueTempFileName, TwoCallsInOneMillisecondDiffer) {
  // A clock that reads the same millisecond three times before it moves on.
  static int64_t reads = 0;
  const TxbClock old = SetxbClock([] { return int64_t{1781006400000} + reads++ / 3; });
  const std::string a = UniqueTempFileName();
  const std::string b = UniqueTempFileName();
  SetxbClock(old);
  EXPECT_NE(a, b);
  EXPECT_GE(reads, 4) << "the second call read on until the name changed";
  for (char c : a + b) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) << a << " " << b;
}
