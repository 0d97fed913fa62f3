// NTX tags: the header and key forms, adds and deletes against a model (a
// multimap beside the tag) in both directions, and builds from a table's
// records against its sorted keys, each file also walked by the test's own
// page reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/NtxReader.h"
#include "xbase/index/ntx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;

// The stand-in table, whose AU field has a width and decimals.
class TNtxTable : public TIndexTable {
 public:
  using TIndexTable::TIndexTable;
  bool IndexFieldSize(std::string_view name, int& length, int& decimals) const override {
    if (platform::AnsiUpperCase(std::string(name)) != "AU") return false;
    length = AuLength;
    decimals = AuDecimals;
    return true;
  }
  int AuLength = 10, AuDecimals = 0;
};

std::unique_ptr<XBobjNTXFile> NewIndex(TIndexTable& table, const std::string& expr, bool ascending = true,
                                       bool unique = false, const std::string& forExpr = "") {
  auto ntx = std::make_unique<XBobjNTXFile>(&table, "t", true, false, true, true);
  EXPECT_TRUE(ntx->AddTag("T", expr, forExpr, ascending, unique));
  return ntx;
}

std::unique_ptr<XBobjNTXFile> OpenIndex(TIndexTable& table) {
  return std::make_unique<XBobjNTXFile>(&table, "t", true, false, false, false);
}

// The stored key of `value` on a tag of `expr` over AU.
std::string NumberKey(TNtxTable& table, const std::string& expr, double value) {
  auto ntx = NewIndex(table, expr);
  XBobjIndexKeyData k;
  k.PutFloat(value);
  ntx->Tag()->AdjustValue(k, true);
  return k.GetString();
}

Keys Reversed(Keys keys) {
  std::reverse(keys.begin(), keys.end());
  return keys;
}

// A name from a small pool (so that equal keys occur), of Latin and
// Cyrillic capitals, blanks inside.
std::string RandomName(std::mt19937& rng, int pool, size_t length) {
  const unsigned n = rng() % static_cast<unsigned>(pool);
  std::string s;
  for (unsigned v = n * 7919 + 13; s.size() < std::min<size_t>(length, 2 + n % 9); v = v / 3 + 7)
    s += static_cast<char>(v % 5 == 0 ? ' ' : v % 3 == 0 ? 0xC0 + v % 32 : 'A' + v % 26);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The tag walked both ways and the file by the page reader, against
// `expected`.
void ExpectTree(XBobjNTXFile& ntx, const std::string& path, const Keys& expected, const std::string& what) {
  ASSERT_EQ(Walk(*ntx.Tag()), expected) << what;
  ASSERT_EQ(Walk(*ntx.Tag(), false), Reversed(expected)) << what;
  ntx.Flush();
  RawNtx raw(path);
  ASSERT_TRUE(raw.Walk()) << raw.error << " " << what;
  ASSERT_EQ(raw.TrimmedKeys(), expected) << what;
}

}  // namespace

TEST(NtxFormat, HeaderOfATextKeyOfTenAndKeyFormsOfNumbersAndDates) {
  TempDir dir;
  TNtxTable table(dir / "t.dbf", 10);
  NewIndex(table, "NA", false, true).reset();
  RawNtx raw(dir / "t.ntx");
  ASSERT_EQ(raw.bytes.size(), 2048u);  // header and an empty root
  EXPECT_EQ(raw.U16(0), 6);
  EXPECT_EQ(raw.U16(2), 1);
  EXPECT_EQ(raw.U32(4), 1024u);
  EXPECT_EQ(raw.U16(12), 18);  // entry
  EXPECT_EQ(raw.U16(14), 10);  // key
  EXPECT_EQ(raw.U16(18), 50);  // keys per page
  EXPECT_EQ(raw.bytes.substr(22, 3), std::string("NA\0", 3));
  EXPECT_EQ(raw.bytes.substr(278, 3), std::string("\x01\x01\x01", 3));  // unique, descending twice
  EXPECT_EQ(raw.U16(1024), 0);
  EXPECT_EQ(raw.U16(1026), 104);  // the first item after 51 offsets

  NewIndex(table, "NA", true, false, "AU > 0").reset();
  raw = RawNtx(dir / "t.ntx");
  EXPECT_EQ(raw.U16(0), 7);
  EXPECT_EQ(raw.bytes.substr(278, 3), std::string(3, '\0'));
  EXPECT_EQ(raw.bytes.substr(282, 7), std::string("AU > 0\0", 7));

  table.AuLength = 5;
  EXPECT_EQ(NumberKey(table, "AU", 42), "00042");
  EXPECT_EQ(NumberKey(table, "AU", -42), ",,,(*");
  EXPECT_EQ(NumberKey(table, "AU", 123456), "*****");
  table.AuLength = 10;
  table.AuDecimals = 2;
  EXPECT_EQ(NumberKey(table, "AU", -1833.5), ",,,+$)).',");
  EXPECT_EQ(NumberKey(table, " AU ", 1833.5), "0001833.50");
  NewIndex(table, "AU").reset();
  EXPECT_EQ(RawNtx(dir / "t.ntx").U16(14), 10);
  EXPECT_EQ(RawNtx(dir / "t.ntx").U16(16), 2);
  NewIndex(table, "AU + 1").reset();
  EXPECT_EQ(RawNtx(dir / "t.ntx").U16(14), 18);
  EXPECT_EQ(RawNtx(dir / "t.ntx").U16(16), 4);
  auto dates = NewIndex(table, "BD");
  XBobjIndexKeyData d;
  d.PutDate(2444240);
  dates->Tag()->AdjustValue(d, true);
  EXPECT_EQ(d.GetString(), "19800101");
  d.PutDate(0);
  dates->Tag()->AdjustValue(d, true);
  EXPECT_EQ(d.GetString(), "");
  d.PutString("");
  dates->Tag()->AdjustValue(d, false);
  EXPECT_EQ(d.GetString(), " ");  // a search for the empty date, not for any
}

TEST(NtxFormat, LongExpressionsAndKeysAreRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  TNtxTable table(dir / "t.dbf", 257);
  const std::string longFor = "AU > 0" + std::string(250, ' ') + ".AND. AU < 9";
  auto ntx = std::make_unique<XBobjNTXFile>(&table, "t", true, false, true, true);
  EXPECT_EQ(ErrorOf([&] { ntx->AddTag("T", "NA", "", true, false); }), "Sort key length must be 1-256 bytes, is 257");
  EXPECT_EQ(ErrorOf([&] { ntx->AddTag("T", "AU", longFor, true, false); }),
            "Argument for the FOR expression must be at most 255 bytes");
  EXPECT_EQ(ErrorOf([&] { ntx->AddTag("T", "AU" + std::string(254, ' '), "", true, false); }),
            "Argument for the key expression must be at most 255 bytes");
  ntx.reset();
  EXPECT_EQ(RawNtx(dir / "t.ntx").bytes.size(), 0u);
}

// Random adds and deletes on keys of 10 and 250 bytes (50 and 2 to a
// page), both directions, with many equal keys: the tag and the file hold
// the model's keys, equal keys in the order they were added.
TEST(NtxTree, AddsAndDeletesFollowTheModelInBothDirections) {
  for (int length : {10, 250}) {
    for (bool ascending : {true, false}) {
      const std::string what = std::to_string(length) + (ascending ? " ascending" : " descending");
      TempDir dir;
      TNtxTable table(dir / "t.dbf", length);
      auto ntx = NewIndex(table, "NA", ascending);
      std::function<bool(const std::string&, const std::string&)> less = [ascending](const std::string& a,
                                                                                       const std::string& b) {
        return ascending ? a < b : b < a;
      };
      std::multimap<std::string, int, decltype(less)> model(less);
      std::mt19937 rng(length + (ascending ? 1 : 2));
      const int rounds = length == 10 ? 6 : 3, adds = length == 10 ? 400 : 60;
      int rec = 0;
      for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < adds; ++i) {
          const std::string name = RandomName(rng, length == 10 ? 40 : 12, static_cast<size_t>(length));
          ASSERT_TRUE(AddText(*ntx->Tag(), name, ++rec)) << what;
          model.emplace(name, rec);
        }
        // Delete about a third, from anywhere (the first and last keys too).
        for (int i = 0; i < adds / 3 && !model.empty(); ++i) {
          auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
          if (i == 0) it = model.begin();
          if (i == 1) it = std::prev(model.end());
          ASSERT_TRUE(DeleteText(*ntx->Tag(), it->first, it->second)) << what;
          model.erase(it);
        }
        Keys expected(model.begin(), model.end());
        ExpectTree(*ntx, dir / "t.ntx", expected, what + " round " + std::to_string(round));
      }
      // Down to nothing, from the end, then grown again.
      while (!model.empty()) {
        auto it = std::prev(model.end());
        ASSERT_TRUE(DeleteText(*ntx->Tag(), it->first, it->second)) << what;
        model.erase(it);
      }
      ExpectTree(*ntx, dir / "t.ntx", {}, what + " emptied");
      for (int i = 0; i < adds; ++i) {
        const std::string name = RandomName(rng, 8, static_cast<size_t>(length));
        ASSERT_TRUE(AddText(*ntx->Tag(), name, ++rec));
        model.emplace(name, rec);
      }
      ntx.reset();
      ntx = OpenIndex(table);
      ExpectTree(*ntx, dir / "t.ntx", Keys(model.begin(), model.end()), what + " reopened");
    }
  }
}

// Builds from records: the keys in order (equal keys by record, in both
// directions), the unique tag keeping the first record of each key, the
// FOR condition taken.
TEST(NtxTree, BuildsFromRecordsEqualTheSortedKeys) {
  for (int length : {10, 250}) {
    TempDir dir;
    TNtxTable table(dir / "t.dbf", length);
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
      TIndexTable::Record r;
      r.na = RandomName(rng, 300, static_cast<size_t>(length));
      r.au = static_cast<double>(rng() % 7) - 3;
      table.Records.push_back(r);
    }
    struct Case {
      bool ascending, unique;
      std::string forExpr;
    } cases[] = {{true, false, ""}, {false, false, ""}, {true, true, ""}, {false, true, "AU > 0"}};
    for (const Case& c : cases) {
      const std::string what = std::to_string(length) + (c.ascending ? " ascending" : " descending") +
                               (c.unique ? " unique " : " ") + c.forExpr;
      // The model: padded key bytes in the tag's direction, then record.
      std::vector<std::pair<std::string, int>> sorted;
      for (int i = 0; i < static_cast<int>(table.Records.size()); ++i) {
        const TIndexTable::Record& r = table.Records[static_cast<size_t>(i)];
        if (!c.forExpr.empty() && !(r.au > 0)) continue;
        std::string key = r.na;
        key.resize(static_cast<size_t>(length), ' ');
        sorted.emplace_back(key, i + 1);
      }
      std::stable_sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
        return c.ascending ? a.first < b.first : b.first < a.first;
      });
      Keys expected;
      for (const auto& [key, rec] : sorted) {
        if (c.unique && !expected.empty() && expected.back().first == key.substr(0, key.find_last_not_of(' ') + 1))
          continue;
        expected.emplace_back(key.substr(0, key.find_last_not_of(' ') + 1), rec);
      }
      auto ntx = NewIndex(table, "NA", c.ascending, c.unique, c.forExpr);
      ExpectTree(*ntx, dir / "t.ntx", expected, what);
      RawNtx raw(dir / "t.ntx");
      ASSERT_TRUE(raw.Walk(true)) << raw.error << " " << what;  // leaves at one depth, no keyless node
    }
  }
}
