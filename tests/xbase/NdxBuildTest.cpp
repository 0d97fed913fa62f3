// NDX tags over a table: keys kept in step with record writes, bulk builds
// from the key sorter, zap and reindex, new passwords; the files read by a
// peer.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/NdxReader.h"
#include "xbase/base/byte_order.h"
#include "xbase/index/ndx_format.h"
#include "xbase/index/ntx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;
using Record = TIndexTable::Record;

std::string FileBytes(const std::string& path) { return platform::ReadFileBytes(path); }

std::unique_ptr<XBobjNDXFile> Build(TIndexTable& t, const std::string& name, const std::string& expr,
                                    const std::string& forExpr = "", bool unique = false) {
  auto ndx = std::make_unique<XBobjNDXFile>(&t, name, true, false, true, true);
  EXPECT_TRUE(ndx->AddTag("T", expr, forExpr, true, unique));
  return ndx;
}

std::string Name(int i) { return "AUTHOR " + std::to_string(i * 7919 % 1000); }

}  // namespace

TEST(NdxUpdate, RewritesMoveOrKeepTheirKeysAndAppendsAddThem) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf");
  auto ndx = Build(t, "t", "NA");
  for (int i = 0; i < 300; ++i) t.Append(*ndx, {Name(i)});
  ndx->Flush();
  const std::string before = FileBytes(dir / "t.ndx");

  // The key did not change: not a byte of the index does.
  Record same = t.Records[99];
  same.au = 5;
  t.Rewrite(*ndx, 100, same);
  EXPECT_FALSE(ndx->Tag()->KeyUpdated());
  ndx->Flush();
  EXPECT_TRUE(FileBytes(dir / "t.ndx") == before);

  // A new key far away in the order: the entry moves there.
  t.Rewrite(*ndx, 100, {"ZZZ"});
  EXPECT_TRUE(ndx->Tag()->KeyUpdated());
  t.Rewrite(*ndx, 1, {"AAA"});
  Keys expect;
  for (size_t i = 0; i < t.Records.size(); ++i) expect.emplace_back(t.Records[i].na, static_cast<int>(i + 1));
  std::stable_sort(expect.begin(), expect.end(), [](auto& a, auto& b) { return a.first < b.first; });
  EXPECT_EQ(Walk(*ndx->Tag()), expect);
  EXPECT_EQ(Walk(*ndx->Tag()).back(), (std::pair<std::string, int>{"ZZZ", 100}));
  // The tag stands on the record written.
  EXPECT_EQ(ndx->Tag()->KeySync(1), 1);
  EXPECT_EQ(ndx->Tag()->KeyRead(-5), 1);
  EXPECT_EQ(ndx->Tag()->KeyRead(-2), 0);
  t.Current = 100;
  t.Load(t.Records[99]);
  EXPECT_EQ(ndx->Tag()->KeySync(100), 100);
  EXPECT_EQ(ndx->Tag()->CurKeyInfo().GetString(), "ZZZ");
}

// (On an NTX: an NDX cannot hold the condition.)
TEST(NtxUpdate, AForConditionAddsAndRemovesKeys) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf");
  auto Build = [&](const std::string& name, const std::string& expr, const std::string& forExpr) {
    auto ntx = std::make_unique<XBobjNTXFile>(&t, name, true, false, true, true);
    EXPECT_TRUE(ntx->AddTag(name, expr, forExpr, true, false));
    return ntx;
  };
  auto ndx = Build("t", "NA", "AU > 5");
  t.Append(*ndx, {"A", 1});
  t.Append(*ndx, {"B", 9});
  t.Append(*ndx, {"C", 7});
  EXPECT_EQ(Walk(*ndx->Tag()), (Keys{{"B", 2}, {"C", 3}}));
  t.Rewrite(*ndx, 1, {"A", 6});  // now meets the condition
  t.Rewrite(*ndx, 2, {"B", 5});  // no longer
  t.Rewrite(*ndx, 3, {"D", 8});  // meets it, with another key
  EXPECT_EQ(Walk(*ndx->Tag()), (Keys{{"A", 1}, {"D", 3}}));
  // A build applies the condition as the upkeep does.
  auto built = Build("u", "NA", "AU > 5");
  EXPECT_EQ(Walk(*built->Tag()), (Keys{{"A", 1}, {"D", 3}}));
  EXPECT_EQ(built->Tag()->GetRangeCount(), 2);
}

TEST(NdxUpdate, TheFreeBlockCounterIsReadAgainFromTheFile) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf");
  Build(t, "t", "AU").reset();
  XBobjNDXFile shared(&t, "t", true, true, false, false);
  for (int i = 0; i < 25; ++i) t.Append(shared, {"", static_cast<double>(i)});
  EXPECT_EQ(RawNdx(dir / "t.ndx").U32(4), 2u);
  // Another program has taken blocks 2 to 9 meanwhile.
  std::string grown = FileBytes(dir / "t.ndx");
  grown.resize(10 * 512, '\0');
  platform::WriteFileBytes(dir / "t.ndx", grown);
  t.Append(shared, {"", 25});  // splits the full root leaf
  RawNdx raw(dir / "t.ndx");
  EXPECT_EQ(raw.U32(4), 12u);
  EXPECT_EQ(raw.U32(512 + 4), 10u);  // the new root's children: blocks 10 and 11
  EXPECT_EQ(raw.Walk().size(), 26u);
}

TEST(NdxBuild, ManyEqualNumbersThroughSpilledRunsInRecordOrder) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf");
  std::mt19937 rng(2);
  std::vector<std::pair<double, int>> model;
  for (int rec = 1; rec <= 100000; ++rec) {
    const double v = static_cast<double>(rng() % 500) - 250;
    t.Records.push_back({"", v});
    model.emplace_back(v, rec);
  }
  std::stable_sort(model.begin(), model.end(), [](auto& a, auto& b) { return a.first < b.first; });
  XBobjNDXFile ndx(&t, "t", true, false, true, true);
  ndx.SetSortBudget(64 << 10);  // far below the keys: runs spill and merge
  ASSERT_TRUE(ndx.AddTag("T", "AU", "", true, false));
  EXPECT_GT(t.StatusCalls, 2);
  ndx.CloseFile();
  RawNdx raw(dir / "t.ndx");
  const auto entries = raw.Walk();
  ASSERT_EQ(entries.size(), model.size());
  for (size_t i = 0; i < model.size(); ++i) {
    ASSERT_EQ(entries[i].number, model[i].first) << i;
    ASSERT_EQ(entries[i].rec, model[i].second) << i;
  }
  // Full leaves: 25 keys each but the last.
  for (size_t i = 0; i + 1 < raw.leaves.size(); ++i) ASSERT_EQ(raw.leaves[i].size(), 25u);
}

TEST(NdxBuild, ABuiltIndexWalksAsOneGrownByAddsAndZapAndReindexRemakeIt) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf");
  auto grown = Build(t, "grown", "NA");
  for (int i = 0; i < 700; ++i) t.Append(*grown, {Name(i)});
  auto built = Build(t, "built", "NA");
  EXPECT_EQ(Walk(*built->Tag()), Walk(*grown->Tag()));
  EXPECT_EQ(Walk(*built->Tag(), false), Walk(*grown->Tag(), false));
  built->CloseFile();
  const std::string fresh = FileBytes(dir / "built.ndx");

  XBobjNDXFile again(&t, "built", true, false, false, false);
  again.Zap();
  again.Flush();
  RawNdx zapped(dir / "built.ndx");
  EXPECT_EQ(zapped.bytes.size(), 1024u);
  EXPECT_EQ(zapped.U32(0), 1u);
  EXPECT_EQ(zapped.U32(4), 2u);
  EXPECT_EQ(zapped.bytes.substr(512), std::string(512, '\0'));
  again.Reindex();
  again.CloseFile();
  EXPECT_TRUE(FileBytes(dir / "built.ndx") == fresh);

  // On an empty table the rebuild is the new index's header and empty root.
  TIndexTable empty(dir / "e.dbf");
  Build(empty, "e", "NA").reset();
  const std::string newIndex = FileBytes(dir / "e.ndx");
  XBobjNDXFile e(&empty, "e", true, false, false, false);
  AddText(*e.Tag(), "X", 1);
  e.Reindex();
  e.CloseFile();
  EXPECT_TRUE(FileBytes(dir / "e.ndx") == newIndex);
  EXPECT_EQ(newIndex.size(), 1024u);
}

TEST(NdxBuild, KeysTheSorterCannotTakeAreRefusedBeforeTheFileIsTouched) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf", 240);
  auto ndx = Build(t, "t", "NA");  // an empty table needs no sorter
  for (int i = 0; i < 50; ++i) t.Append(*ndx, {Name(i)});
  ndx->CloseFile();
  const std::string before = FileBytes(dir / "t.ndx");
  XBobjNDXFile again(&t, "t", true, false, false, false);
  EXPECT_EQ(ErrorOf([&] { again.Reindex(); }), "Sort key length must be 1-240 bytes, is 241");
  again.CloseFile();
  EXPECT_TRUE(FileBytes(dir / "t.ndx") == before);
  XBobjNDXFile fresh(&t, "u", true, false, true, true);
  EXPECT_EQ(ErrorOf([&] { fresh.AddTag("U", "NA", "", true, false); }), "Sort key length must be 1-240 bytes, is 241");
  EXPECT_EQ(FileBytes(dir / "u.ndx").size(), 0u);
}

// What the header cannot record is refused before a page is written.
TEST(NdxBuild, ADescendingOrderOrAConditionIsRefused) {
  struct Case {
    bool ascending;
    std::string forExp, what;
  };
  for (const Case& c : {Case{false, "", "a descending order"}, Case{true, "NA > 'B'", "a FOR condition"}}) {
    TempDir dir;
    TIndexTable t(dir / "t.dbf");
    t.Records.push_back({"A"});
    XBobjNDXFile ndx(&t, "t", true, false, true, true);
    EXPECT_EQ(ErrorOf([&] { ndx.AddTag("T", "NA", c.forExp, c.ascending, false); }),
              "Index file " + dir / "t.ndx" + " cannot hold " + c.what);
    EXPECT_EQ(FileBytes(dir / "t.ndx").size(), 0u);
  }
}

TEST(NdxBuild, AUniqueBuildKeepsTheFirstRecordOfEachKey) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf");
  for (const char* name : {"B", "A", "B", "C", "A"}) t.Records.push_back({name});
  auto ndx = Build(t, "t", "NA", "", true);
  EXPECT_EQ(Walk(*ndx->Tag()), (Keys{{"A", 2}, {"B", 1}, {"C", 4}}));
}

TEST(NdxFile, ANewPasswordScramblesTheIndexAnew) {
  TempDir dir;
  TIndexTable t(dir / "t.dbf");
  t.PasswordIn = t.PasswordOut = "old";
  auto ndx = Build(t, "t", "NA");
  for (int i = 0; i < 100; ++i) t.Append(*ndx, {Name(i)});
  const Keys keys = Walk(*ndx->Tag());
  t.PasswordOut = "new";  // the table is being scrambled anew
  ndx->ixEncrypt();
  t.PasswordIn = "new";
  EXPECT_EQ(Walk(*ndx->Tag()), keys);
  ndx.reset();
  XBobjNDXFile again(&t, "t", true, false, false, false);
  EXPECT_EQ(Walk(*again.Tag()), keys);
  t.PasswordIn = t.PasswordOut = "old";
  EXPECT_NE(ErrorOf([&] { XBobjNDXFile(&t, "t", true, false, false, false); }), "");
}

TEST(NdxPeer, IndexDumpListsBulkBuilds) {
  TempDir dir;
  // Numbers: 626 and 650 keys fill the last levels differently. Text keys
  // of 120 bytes, 3 a page, at every count to 40 and some beyond.
  std::vector<std::pair<const char*, int>> cases = {{"AU", 626}, {"AU", 650}};
  for (int count = 10; count <= 400; count += count < 40 ? 1 : 37) cases.emplace_back("NA", count);
  for (const auto& [expr, count] : cases) {
    SCOPED_TRACE(std::string(expr) + " " + std::to_string(count));
    TIndexTable t(dir / "t.dbf");
    for (int i = 0; i < count; ++i)
      t.Records.push_back(*expr == 'N' ? Record{Name(i)} : Record{"", static_cast<double>((i + 1) * 37 % 211)});
    auto ndx = Build(t, "t", expr);
    const Keys ours = Walk(*ndx->Tag());
    ASSERT_EQ(ours.size(), static_cast<size_t>(count));
    ndx->CloseFile();
    EXPECT_EQ(PeerListing(dir / "t.ndx"), ours);
  }
}
