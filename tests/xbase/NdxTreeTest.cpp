// The index framework's tree on NDX files: the format's bytes, adds and
// deletes against a model (a multimap beside the tag), seeks, the page
// cache against plain reads and writes, key lengths at the limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;

std::string NumText(double v) {
  TxbVariant x;
  x.PutFloat(v);
  return x.GetString();
}

// A new NDX index "t.ndx" beside table `table` on `expr`.
std::unique_ptr<XBobjNDXFile> NewIndex(TIndexTable& table, const std::string& expr, bool shared = false,
                                       bool unique = false) {
  auto ndx = std::make_unique<XBobjNDXFile>(&table, "t", true, shared, true, true);
  EXPECT_TRUE(ndx->AddTag("T", expr, "", true, unique));
  return ndx;
}

std::unique_ptr<XBobjNDXFile> OpenIndex(TIndexTable& table, bool shared = false) {
  return std::make_unique<XBobjNDXFile>(&table, "t", true, shared, false, false);
}

template <class Map>
Keys ModelKeys(const Map& model) {
  Keys keys;
  for (const auto& [k, rec] : model) keys.emplace_back(k, rec);
  return keys;
}

Keys Reversed(Keys keys) {
  std::reverse(keys.begin(), keys.end());
  return keys;
}

// A random name of upper-case Latin and Cyrillic letters, from a small
// pool so that equal keys occur.
std::string RandomName(std::mt19937& rng, int pool) {
  const int n = static_cast<int>(rng() % static_cast<unsigned>(pool));
  std::string s;
  for (int v = n * 7919 + 13; s.size() < 3 + static_cast<size_t>(n % 9); v /= 5)
    s += static_cast<char>(v % 3 == 0 ? 0xC0 + v % 32 : 'A' + v % 26);
  return s;
}

// One step of a random run: a name added under record `rec`, or, one time
// in `deleteEvery`, a random entry of the model deleted.
void RandomTextStep(XBobjIndexTag& tag, std::multimap<std::string, int>& model, std::mt19937& rng, int pool,
                    unsigned deleteEvery, int rec) {
  if (model.empty() || rng() % deleteEvery != 0) {
    const std::string name = RandomName(rng, pool);
    ASSERT_TRUE(AddText(tag, name, rec));
    model.emplace(name, rec);
  } else {
    auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
    ASSERT_TRUE(DeleteText(tag, it->first, it->second)) << it->first << " " << it->second;
    model.erase(it);
  }
}

}  // namespace

TEST(NdxFormat, NewIndexOnAnEmptyTableIsAHeaderAndAnEmptyRoot) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  struct Case {
    const char* expr;
    int keyLength, numeric, entry, max;
  } cases[] = {{"NA", 120, 0, 128, 3}, {"AU", 8, 1, 20, 25}, {"BD", 8, 1, 16, 31}};
  for (const Case& c : cases) {
    NewIndex(table, c.expr).reset();
    RawNdx raw(dir / "t.ndx");
    ASSERT_EQ(raw.bytes.size(), 1024u) << c.expr;
    EXPECT_EQ(raw.U32(0), 1u);  // root
    EXPECT_EQ(raw.U32(4), 2u);  // next free block
    EXPECT_EQ(raw.U16(12), c.keyLength) << c.expr;
    EXPECT_EQ(raw.U16(14), c.max) << c.expr;
    EXPECT_EQ(raw.U16(16), c.numeric) << c.expr;
    EXPECT_EQ(raw.U16(18), c.entry) << c.expr;
    EXPECT_EQ(raw.bytes.substr(24, 3), std::string(c.expr) + '\0');
    EXPECT_EQ(raw.bytes.substr(512), std::string(512, '\0'));
  }
}

TEST(NdxFormat, TheTwentySixthNumericKeySplitsAFullLeafThirteenAndThirteen) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "AU");
  for (int i = 1; i <= 25; ++i) ASSERT_TRUE(AddNumber(*ndx->Tag(), i * 10, i));
  ndx->Flush();
  EXPECT_EQ(RawNdx(dir / "t.ndx").U32(512), 25u);  // one full root leaf
  ASSERT_TRUE(AddNumber(*ndx->Tag(), 255, 26));
  ndx.reset();

  RawNdx raw(dir / "t.ndx");
  ASSERT_EQ(raw.U32(0), 1u);  // the root stays where it was
  const std::string root = raw.Block(1);
  EXPECT_EQ(GetLE32(Bytes(root)), 1u);  // one key, two children
  const uint32_t left = GetLE32(Bytes(root) + 4), right = GetLE32(Bytes(root) + 24);
  EXPECT_EQ(left, 2u);
  EXPECT_EQ(right, 3u);
  EXPECT_EQ(GetLEDouble(Bytes(root) + 12), 130.0);  // the left leaf's last key
  EXPECT_EQ(GetLE32(Bytes(raw.Block(left))), 13u);
  EXPECT_EQ(GetLE32(Bytes(raw.Block(right))), 13u);
  EXPECT_EQ(raw.U32(4), 4u);
  EXPECT_EQ(raw.Walk().size(), 26u);
}

TEST(NdxFormat, NodesOfKKeysHaveKPlusOneChildrenAndEmptyDatesSortLast) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "BD");
  XBobjIndexTag& tag = *ndx->Tag();
  std::vector<double> days;
  for (int i = 0; i < 2000; ++i) {
    XBobjIndexKeyData k;
    const int32_t day = i % 7 == 0 ? 0 : 2451545 + (i * 7919) % 3000;
    k.PutDate(day);
    k.Tag = i + 1;
    tag.AdjustValue(k, true);
    ASSERT_TRUE(tag.KeyAdd(k));
    days.push_back(day == 0 ? 1.0e100 : day);
  }
  ndx.reset();
  RawNdx raw(dir / "t.ndx");
  const auto entries = raw.Walk();  // checks k + 1 children in every node
  EXPECT_GE(raw.depth, 3);
  std::stable_sort(days.begin(), days.end());
  ASSERT_EQ(entries.size(), days.size());
  for (size_t i = 0; i < days.size(); ++i) EXPECT_EQ(entries[i].number, days[i]) << i;
  EXPECT_EQ(entries.back().number, 1.0e100);
}

TEST(NdxModel, RandomAddsAndDeletesOfLongTextKeysWalkLikeTheModel) {
  // Exclusive, shared, and exclusive with a cache so small that blocks read
  // ahead of a miss lie between changed blocks it still holds.
  for (int mode : {0, 1, 2}) {
    const bool shared = mode == 1;
    const auto smallCache = [&](std::unique_ptr<XBobjNDXFile> f) {
      if (mode == 2) f->SetCacheBudget(32 * 512);
      return f;
    };
    TempDir dir;
    TIndexTable table(dir / "t.dbf");
    auto ndx = smallCache(NewIndex(table, "NA", shared));
    EXPECT_EQ(ndx->Tag()->MaxKeys(), 3);
    std::multimap<std::string, int> model;
    std::mt19937 rng(mode == 1 ? 7 : 11);
    int rec = 0;
    // Up, down to empty, up again.
    for (int phase = 0; phase < 3; ++phase) {
      const int steps = phase == 1 ? 0 : 500;
      for (int i = 0; i < steps; ++i) {
        ASSERT_NO_FATAL_FAILURE(RandomTextStep(*ndx->Tag(), model, rng, 150, 4, ++rec));
      }
      if (phase == 1) {
        while (!model.empty()) {
          auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
          ASSERT_TRUE(DeleteText(*ndx->Tag(), it->first, it->second));
          model.erase(it);
          if (model.size() % 40 != 0) continue;
          // No block below the root is left with its pointer alone, and
          // the peer lists every key (it skips what lies below such a one).
          ndx->Flush();
          RawNdx raw(dir / "t.ndx");
          raw.Walk();
          ASSERT_EQ(raw.keyless, 0) << model.size() << " keys left";
          if (model.size() % 200 == 0) {
            std::vector<std::pair<std::string, int>> peer;
            for (const auto& [k, rec] : ModelKeys(model)) peer.emplace_back(k.substr(0, k.find_last_not_of(' ') + 1), rec);
            EXPECT_EQ(PeerListing(dir / "t.ndx"), peer) << model.size() << " keys left";
          }
        }
      }
      ASSERT_EQ(Walk(*ndx->Tag()), ModelKeys(model)) << "phase " << phase;
      ASSERT_EQ(Walk(*ndx->Tag(), false), Reversed(ModelKeys(model)));
      ndx.reset();
      EXPECT_EQ(RawNdx(dir / "t.ndx").U32(0), 1u);
      ndx = smallCache(OpenIndex(table, shared));
      ASSERT_EQ(Walk(*ndx->Tag()), ModelKeys(model)) << "reopened, phase " << phase;
    }
  }
}

TEST(NdxModel, RandomAddsAndDeletesOfNumbersWalkLikeTheModel) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "AU");
  std::multimap<double, int> model;
  std::mt19937 rng(3);
  int rec = 0;
  for (int i = 0; i < 6000; ++i) {
    if (model.size() < 50 || rng() % 3 != 0) {
      const double v = static_cast<double>(static_cast<int>(rng() % 800)) - 400.5;
      ASSERT_TRUE(AddNumber(*ndx->Tag(), v, ++rec));
      model.emplace(v, rec);
    } else {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      ASSERT_TRUE(DeleteNumber(*ndx->Tag(), it->first, it->second));
      model.erase(it);
    }
  }
  Keys expect;
  for (const auto& [v, r] : model) expect.emplace_back(NumText(v), r);
  EXPECT_EQ(Walk(*ndx->Tag()), expect);
  EXPECT_EQ(Walk(*ndx->Tag(), false), Reversed(expect));
  ndx.reset();
  const auto raw = RawNdx(dir / "t.ndx").Walk();
  ASSERT_EQ(raw.size(), model.size());
  auto it = model.begin();
  for (const RawEntry& e : raw) {
    EXPECT_EQ(e.number, it->first);
    EXPECT_EQ(e.rec, it->second);
    ++it;
  }
}

TEST(NdxModel, EmptyingALeafInTheMiddleOfAFourLevelTree) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "NA");
  std::multimap<std::string, int> model;
  // Keys in a scattered order until the tree has 4 levels.
  RawNdx raw(dir / "t.ndx");
  for (int i = 0; raw.depth < 4; ++i) {
    const std::string name = "K" + std::to_string(1000 + i * 37 % 101);
    ASSERT_TRUE(AddText(*ndx->Tag(), name, i + 1));
    model.emplace(name, i + 1);
    ndx->Flush();
    raw = RawNdx(dir / "t.ndx");
    raw.Walk();
  }
  ASSERT_EQ(raw.depth, 4);
  // A leaf near the middle of the key order, and its neighbours' keys.
  const auto& leaves = raw.leaves;
  const auto& middle = leaves[leaves.size() / 2];
  const std::string before = leaves[leaves.size() / 2 - 1].back().key;
  const std::string after = leaves[leaves.size() / 2 + 1].front().key;
  for (const RawEntry& e : middle) {
    ASSERT_TRUE(DeleteText(*ndx->Tag(), e.key, e.rec));
    model.erase(std::find_if(model.begin(), model.end(), [&](auto& m) { return m.second == e.rec; }));
  }
  XBobjIndexTag& tag = *ndx->Tag();
  EXPECT_EQ(Walk(tag), ModelKeys(model));
  EXPECT_EQ(Walk(tag, false), Reversed(ModelKeys(model)));
  for (const RawEntry& e : middle) {
    XBobjIndexKeyData k;
    k.PutString(e.key);
    EXPECT_EQ(tag.SeekKey(XBobjIndexTag::AnyRecord, k, XBobjIndexTag::Whole), -1) << e.key;
    ASSERT_TRUE(tag.ReadCurrentKey());
    EXPECT_EQ(tag.CurKeyInfo().GetString(), after);
    ASSERT_TRUE(tag.ReadPreviousKey());
    EXPECT_EQ(tag.CurKeyInfo().GetString(), before);
  }
  XBobjIndexKeyData k;
  k.PutString(before);
  EXPECT_EQ(tag.SeekKey(XBobjIndexTag::AfterEqual, k, XBobjIndexTag::Whole), -1);
  ASSERT_TRUE(tag.ReadCurrentKey());
  EXPECT_EQ(tag.CurKeyInfo().GetString(), after);
  ndx.reset();
  RawNdx again(dir / "t.ndx");
  Keys onDisk;
  for (const RawEntry& e : again.Walk()) onDisk.emplace_back(e.key, e.rec);
  EXPECT_EQ(onDisk, ModelKeys(model));
}

// A delete that takes a page out of the tree gathers the keys still below
// it to add them again; a damaged page that leads back up the tree must end
// that gathering as damage, not as a walk without end.
TEST(NdxModel, AKeylessNodeOverADamagedCycleIsCorrupted) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "NA");
  RawNdx raw(dir / "t.ndx");
  for (int i = 0; raw.depth < 3; ++i) {
    ASSERT_TRUE(AddText(*ndx->Tag(), "K" + std::to_string(1000 + i), i + 1));
    ndx->Flush();
    raw = RawNdx(dir / "t.ndx");
    raw.Walk();
  }
  ndx.reset();
  raw = RawNdx(dir / "t.ndx");
  // The root's first child, a node over leaves; its last leaf is damaged
  // into a node whose every child is that node again.
  const int el = raw.U16(18), keyLength = raw.U16(12);
  const uint32_t node = GetLE32(Bytes(raw.Block(raw.U32(0))) + 4);
  const std::string nodePage = raw.Block(node);
  const int children = GetLE16(Bytes(nodePage)) + 1;
  ASSERT_GE(children, 2);
  std::vector<std::pair<std::string, int>> doomed;  // the keys of the node's other leaves
  for (int c = 0; c + 1 < children; ++c) {
    const std::string leaf = raw.Block(GetLE32(Bytes(nodePage) + 4 + c * el));
    for (int i = 0; i < GetLE16(Bytes(leaf)); ++i) {
      const uint8_t* e = Bytes(leaf) + 4 + i * el;
      std::string key(reinterpret_cast<const char*>(e + 8), static_cast<size_t>(keyLength));
      doomed.emplace_back(key.substr(0, key.find_last_not_of(' ') + 1), static_cast<int>(GetLE32(e + 4)));
    }
  }
  const uint32_t last = GetLE32(Bytes(nodePage) + 4 + (children - 1) * el);
  uint8_t* damaged = reinterpret_cast<uint8_t*>(raw.bytes.data()) + size_t{last} * 512;
  for (int i = 0; i <= GetLE16(damaged); ++i) PutLE32(damaged + 4 + i * el, node);
  platform::WriteFileBytes(dir / "t.ndx", raw.bytes);

  ndx = OpenIndex(table);
  EXPECT_EQ(ErrorOf([&] {
              for (const auto& [key, rec] : doomed) ASSERT_TRUE(DeleteText(*ndx->Tag(), key, rec)) << key;
            }),
            "Index file " + dir / "t.ndx" + " is corrupted");
}

TEST(NdxSeek, RecordNumbersAnyRecordAndAfterEqualKeys) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "AU");
  XBobjIndexTag& tag = *ndx->Tag();
  // 40 equal keys run over several leaves, between smaller and larger ones.
  int rec = 0;
  for (int i = 0; i < 30; ++i) AddNumber(tag, 1, ++rec);
  for (int i = 0; i < 40; ++i) AddNumber(tag, 5, ++rec);
  for (int i = 0; i < 30; ++i) AddNumber(tag, 9, ++rec);
  XBobjIndexKeyData five;
  five.PutFloat(5);
  EXPECT_EQ(tag.SeekKey(XBobjIndexTag::AnyRecord, five, XBobjIndexTag::Whole), 0);
  ASSERT_TRUE(tag.ReadCurrentKey());
  EXPECT_EQ(tag.CurKeyInfo().Tag, 31);  // the first of the equal keys
  EXPECT_EQ(tag.SeekKey(XBobjIndexTag::AfterEqual, five, XBobjIndexTag::Whole), -1);
  ASSERT_TRUE(tag.ReadCurrentKey());
  EXPECT_EQ(tag.CurKeyInfo().Tag, 71);  // the first key after them
  ASSERT_TRUE(tag.ReadPreviousKey());
  EXPECT_EQ(tag.CurKeyInfo().Tag, 70);
  // A record given: the seek runs over the equal keys of the leaf reached.
  five.Tag = 31;
  EXPECT_EQ(tag.SeekKey(31, five, XBobjIndexTag::Whole), 0);
  ASSERT_TRUE(tag.ReadCurrentKey());
  EXPECT_EQ(tag.CurKeyInfo().Tag, 31);
  for (int want : {31, 45, 70}) {
    five.Tag = want;
    ASSERT_TRUE(tag.SeekEntry(five));
    EXPECT_EQ(tag.CurKeyInfo().Tag, want);
  }
  five.Tag = 99;  // record 99 holds 9, not 5: found by its record alone
  ASSERT_TRUE(tag.SeekEntry(five));
  EXPECT_EQ(tag.CurKeyInfo().GetFloat(), 9.0);
  five.Tag = 500;
  EXPECT_FALSE(tag.SeekEntry(five));
  XBobjIndexKeyData big;
  big.PutFloat(10);
  EXPECT_EQ(tag.SeekKey(XBobjIndexTag::AnyRecord, big, XBobjIndexTag::Whole), 1);
}

TEST(NdxLimits, KeysOf245BytesAreRefusedAnd244BytesGrowInOrder) {
  TempDir dir;
  TIndexTable wide(dir / "t.dbf", 245);
  XBobjNDXFile refused(&wide, "t", true, false, true, true);
  EXPECT_EQ(ErrorOf([&] { refused.AddTag("T", "NA", "", true, false); }), "Sort key length must be 1-244 bytes, is 245");

  TIndexTable table(dir / "u.dbf", 244);
  XBobjNDXFile ndx(&table, "u", true, false, true, true);
  ASSERT_TRUE(ndx.AddTag("U", "NA", "", true, false));
  EXPECT_EQ(ndx.Tag()->MaxKeys(), 2);
  std::multimap<std::string, int> model;
  for (int i = 0; i < 1000; ++i) {
    std::string key(244, static_cast<char>('A' + i % 26));
    key.replace(100, 6, std::to_string(100000 + (i * 7919) % 1000));
    ASSERT_TRUE(AddText(*ndx.Tag(), key, i + 1));
    model.emplace(key, i + 1);
  }
  EXPECT_EQ(Walk(*ndx.Tag()), ModelKeys(model));
}

TEST(NdxTree, AUniqueTagRefusesAnEqualKey) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "NA", false, true);
  EXPECT_TRUE(AddText(*ndx->Tag(), "SMITH", 1));
  EXPECT_FALSE(AddText(*ndx->Tag(), "SMITH", 2));
  EXPECT_TRUE(AddText(*ndx->Tag(), "SMITHS", 3));
  EXPECT_EQ(Walk(*ndx->Tag()), (Keys{{"SMITH", 1}, {"SMITHS", 3}}));
}

TEST(NdxCache, AnExclusiveFileEndsByteForByteAsASharedOne) {
  // The same adds and deletes through the cache (small enough to evict) and
  // through plain reads and writes leave the same bytes.
  TempDir dir;
  std::string files[3];
  for (int run = 0; run < 3; ++run) {
    TIndexTable table(dir / ("t" + std::to_string(run) + ".dbf"));
    auto ndx = std::make_unique<XBobjNDXFile>(&table, "t" + std::to_string(run), true, run == 0, true, true);
    ASSERT_TRUE(ndx->AddTag("T", "NA", "", true, false));
    if (run == 1) ndx->SetCacheBudget(0);
    std::mt19937 rng(5);
    std::multimap<std::string, int> model;
    for (int i = 0; i < 1500; ++i) {
      ASSERT_NO_FATAL_FAILURE(RandomTextStep(*ndx->Tag(), model, rng, 400, 5, i + 1));
      if (run == 2 && i % 300 == 0) ndx->Flush();
    }
    ndx->CloseFile();
    files[run] = platform::ReadFileBytes(dir / ("t" + std::to_string(run) + ".ndx"));
  }
  EXPECT_GT(files[0].size(), 100000u);
  EXPECT_TRUE(files[0] == files[1]);
  EXPECT_TRUE(files[0] == files[2]);
}

TEST(NdxCache, PagesRewrittenBehindTheTagAreReadAnew) {
  // An exclusive file keeps the pages a tag went through (its path, and
  // pages kept decoded): bytes written to one of their blocks by other
  // means must be what the next seek and walk see.
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto ndx = NewIndex(table, "AU");
  XBobjIndexTag& tag = *ndx->Tag();
  for (int i = 1; i <= 200; ++i) AddNumber(tag, i, i);
  XBobjIndexKeyData key;
  key.PutFloat(150);
  key.Tag = XBobjIndexTag::AnyRecord;
  ASSERT_EQ(tag.KeyFind(key), 150);
  const int leaf = tag.CurKeyPage();
  ASSERT_GT(tag.PathDepth(), 1);
  Walk(tag);
  ASSERT_EQ(tag.KeyFind(key), 150);
  // Record 150's entry gets record number 777 in the leaf's bytes.
  uint8_t page[512];
  ASSERT_TRUE(ndx->PageRead(leaf, page, 512));
  const int count = GetLE16(page);
  int at = -1;
  for (int i = 0; i < count; ++i)
    if (GetLE32(page + 4 + i * 20 + 4) == 150) at = 4 + i * 20 + 4;
  ASSERT_GE(at, 0);
  PutLE32(page + at, 777);
  ASSERT_TRUE(ndx->PageWrite(leaf, page, 512));
  EXPECT_EQ(tag.KeyFind(key), 777) << "the path kept over the find";
  const Keys keys = Walk(tag);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), std::pair<std::string, int>(NumText(150), 777)), 1)
      << "the page kept decoded";
}
