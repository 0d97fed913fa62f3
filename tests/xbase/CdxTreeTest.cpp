// CDX tags on the index framework: the format's bytes, keys kept by record
// writes against a model, several tags in one file, the change counter, and
// GENERAL order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/Collation.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/CdxReader.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/index/cdx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;
using Record = TIndexTable::Record;

std::unique_ptr<XBobjCDXFile> NewCdx(TIndexTable& table, const std::string& name = "t", bool shared = false) {
  return std::make_unique<XBobjCDXFile>(&table, name, true, shared, true, true);
}

std::unique_ptr<XBobjCDXFile> OpenCdx(TIndexTable& table, const std::string& name = "t", bool shared = false) {
  return std::make_unique<XBobjCDXFile>(&table, name, true, shared, false, false);
}

// Every key of a tag in reading order.
Keys Read(XBobjIndexTag& tag, bool forward = true) {
  Keys keys;
  for (int rec = tag.KeyRead(forward ? -3 : -4); rec != 0; rec = tag.KeyRead(forward ? -1 : -2))
    keys.emplace_back(tag.CurKeyInfo().GetString(), rec);
  return keys;
}

std::string Padded(std::string s, size_t n) {
  if (s.size() > n) s.resize(n);
  s.resize(n, ' ');
  return s;
}

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The order a text tag of key length `kl` keeps: padded bytes, then record.
Keys TextModel(const std::vector<Record>& records, size_t kl, const std::function<bool(const Record&)>& keep,
               bool descending = false) {
  std::vector<std::pair<std::string, int>> keys;
  for (size_t i = 0; i < records.size(); ++i)
    if (keep(records[i])) keys.emplace_back(Padded(records[i].na, kl), static_cast<int>(i + 1));
  std::sort(keys.begin(), keys.end());
  for (auto& k : keys) k.first = Trim(k.first);
  if (descending) std::reverse(keys.begin(), keys.end());
  return keys;
}

// A name with a long common prefix now and then, a blank one, or one of a
// small pool (equal keys).
std::string RandomName(std::mt19937& rng, size_t kl) {
  switch (rng() % 6) {
    case 0: return "";
    case 1: return std::string(kl > 12 ? kl - 3 : 2, 'P') + static_cast<char>('A' + rng() % 26);
    default: {
      std::string s;
      const int n = 1 + static_cast<int>(rng() % 400);
      for (int v = n * 7919 + 13; s.size() < std::min<size_t>(kl, 3 + n % 9); v /= 5)
        s += static_cast<char>(v % 3 == 0 ? 0xC0 + v % 32 : 'A' + v % 26);
      return s;
    }
  }
}

}  // namespace

TEST(CdxFormat, LeafEntriesWidenWithTheRecordCount) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 10);
  auto cdx = NewCdx(table);
  ASSERT_TRUE(cdx->AddTag("NA", "NA", "", true, false));
  const uint32_t header = static_cast<uint32_t>(cdx->Tag(0)->TagBlock());
  struct Case {
    int records, req, rnBits;
  } cases[] = {{200, 2, 8}, {1000, 3, 16}};
  for (const Case& c : cases) {
    table.Records.resize(static_cast<size_t>(c.records));
    ASSERT_TRUE(AddText(*cdx->Tag(0), "K" + std::to_string(c.records), 7));
    cdx->Flush();
    RawCdx raw(dir / "t.cdx");
    const RawCdxLeaf leaf = raw.Leaf(raw.Header(header).root);
    EXPECT_EQ(leaf.dcBits, 4);
    EXPECT_EQ(leaf.tcBits, 4);
    EXPECT_EQ(leaf.req, c.req) << c.records;
    EXPECT_EQ(leaf.rnBits, c.rnBits) << c.records;
    EXPECT_EQ(leaf.rnMask, (1u << c.rnBits) - 1);
  }
}

TEST(CdxFormat, NumbersAndDatesAreStoredAsOrderedBytes) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  auto cdx = NewCdx(table);
  ASSERT_TRUE(cdx->AddTag("AU", "AU", "", true, false));
  XBobjCDXTag& tag = *cdx->Tag(0);
  EXPECT_EQ(tag.KeyType(), 'N');
  EXPECT_EQ(tag.KeyLength(), 8);
  auto stored = [&](double v) {
    XBobjIndexKeyData k;
    k.PutFloat(v);
    tag.AdjustValue(k, true);
    return Hex(k.VarBuf(), static_cast<size_t>(k.SizeVar()));
  };
  EXPECT_EQ(stored(1.0), "bff0");
  EXPECT_EQ(stored(0.0), "80");
  EXPECT_EQ(stored(-0.0), "80");
  // A negative number keeps its trailing 0xFF bytes: cut, it would read
  // back as another number.
  EXPECT_EQ(stored(-1.0), "400fffffffffffff");
  EXPECT_EQ(stored(-1833.5), "3f6359ffffffffff");  // as the other engine stores it
}

TEST(CdxFormat, HeaderChecksAndTheProductionIndex) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  NewCdx(table).reset();
  EXPECT_EQ(table.ProductionMarks, 1);  // t.cdx beside t.dbf
  {
    auto other = NewCdx(table, "u");
    ASSERT_TRUE(other->AddTag("NA", "NA", "", true, false));
    ASSERT_TRUE(other->AddTag("AU", "AU", "AU > 0", false, true));
  }
  EXPECT_EQ(table.ProductionMarks, 1);
  RawCdx raw(dir / "u.cdx");
  const auto tags = raw.Tags();
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(tags[0].first, "AU");  // name order
  const RawCdxHeader au = raw.Header(tags[0].second);
  EXPECT_EQ(au.options, 0x60 | 1 | 8);
  EXPECT_TRUE(au.descending);
  EXPECT_EQ(au.keyExpr, "AU");
  EXPECT_EQ(au.forExpr, "AU > 0");
  EXPECT_EQ(raw.Header(0).options, 0xE0);
  EXPECT_EQ(raw.Header(0).keyLength, 10);

  // A root that is no node of the file makes the file corrupted.
  std::string bytes = raw.bytes;
  PutLE32(reinterpret_cast<uint8_t*>(bytes.data()) + tags[1].second, 700);
  platform::WriteFileBytes(dir / "u.cdx", bytes);
  XBobjCDXFile damaged(&table, "u", false, false, false, false);
  EXPECT_TRUE(damaged.Corrupted());
  EXPECT_FALSE(damaged.CreateOK());
  EXPECT_EQ(damaged.TagCount(), 0);

  // Over-long expressions are refused before anything is written.
  auto cdx = OpenCdx(table);
  const std::string before = platform::ReadFileBytes(dir / "t.cdx");
  const std::string longer = "NA+" + std::string(253, 'X');
  EXPECT_EQ(ErrorOf([&] { cdx->AddTag("X", longer, "", true, false); }),
            "Argument for the key expression must be at most 255 bytes");
  EXPECT_EQ(ErrorOf([&] { cdx->AddTag("X", "NA", longer, true, false); }),
            "Argument for the FOR expression must be at most 255 bytes");
  cdx.reset();
  EXPECT_EQ(platform::ReadFileBytes(dir / "t.cdx"), before);
}

TEST(CdxFormat, TheChangeCounterCountsChangingUpdatesAndOthersSeeIt) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 10);
  auto counter = [&] { return RawCdx(dir / "t.cdx").BE32(8); };
  {
    auto cdx = NewCdx(table);
    ASSERT_TRUE(cdx->AddTag("NA", "NA", "", true, false));
    cdx->Flush();
    EXPECT_EQ(counter(), 1u);  // a tag added counts too
    table.Append(*cdx, {"B"});
    table.Append(*cdx, {"D"});
    cdx->Flush();
    EXPECT_EQ(counter(), 3u);
    table.Rewrite(*cdx, 1, {"B"});  // the key stays: nothing changes
    cdx->Flush();
    EXPECT_EQ(counter(), 3u);
  }
  // Two descriptors on the shared file: a change through one makes the
  // other's next move start again from its record.
  table.Current = 1;
  table.Load(table.Records[0]);
  auto first = OpenCdx(table, "t", true);
  auto second = OpenCdx(table, "t", true);
  XBobjIndexTag& tag = *first->Tag(0);
  EXPECT_EQ(tag.KeyRead(-3), 1);  // B
  table.Current = 1;
  table.Append(*second, {"C"});
  EXPECT_EQ(counter(), 4u);
  EXPECT_TRUE(first->ExternalChange());
  EXPECT_FALSE(first->ExternalChange());
  table.Append(*second, {"BB"});
  table.Current = 1;
  table.Load(table.Records[0]);
  EXPECT_EQ(tag.KeyRead(-1), 4);  // BB, which the loaded leaf did not hold
  EXPECT_EQ(tag.KeyRead(-1), 3);  // C
  EXPECT_EQ(tag.KeyRead(-1), 2);  // D
}

TEST(CdxModel, RecordWritesKeepTextTagsAsTheModel) {
  for (int kl : {10, 240}) {
    for (bool shared : {false, true}) {
      TempDir dir;
      TIndexTable table(dir / "t.dbf", kl);
      auto cdx = NewCdx(table, "t", shared);
      ASSERT_TRUE(cdx->AddTag("NA", "NA", "", true, false));
      ASSERT_TRUE(cdx->AddTag("NAD", "NA", "", false, false));
      ASSERT_TRUE(cdx->AddTag("POS", "NA", "AU > 0", true, false));
      std::mt19937 rng(static_cast<unsigned>(kl) + (shared ? 1 : 0));
      const int steps = kl == 240 ? 700 : 2500;
      for (int i = 0; i < steps; ++i) {
        Record r{RandomName(rng, static_cast<size_t>(kl)), static_cast<double>(static_cast<int>(rng() % 5)) - 2};
        if (table.Records.empty() || rng() % 3 != 0) {
          table.Append(*cdx, r);
        } else {
          table.Rewrite(*cdx, 1 + static_cast<int>(rng() % table.Records.size()), r);
        }
      }
      auto all = [](const Record&) { return true; };
      auto positive = [](const Record& r) { return r.au > 0; };
      const size_t n = static_cast<size_t>(kl);
      for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Read(*cdx->TagByName("NA")), TextModel(table.Records, n, all)) << kl;
        ASSERT_EQ(Read(*cdx->TagByName("NAD")), TextModel(table.Records, n, all, true)) << kl;
        ASSERT_EQ(Read(*cdx->TagByName("POS")), TextModel(table.Records, n, positive)) << kl;
        ASSERT_EQ(Read(*cdx->TagByName("NAD"), false), TextModel(table.Records, n, all)) << kl;
        cdx.reset();
        // The file as an independent reader sees it.
        RawCdx raw(dir / "t.cdx");
        for (auto& [name, header] : raw.Tags()) {
          const auto stored = raw.Walk(header, ' ');
          Keys keys;
          for (auto& [k, rec] : stored) keys.emplace_back(k, static_cast<int>(rec));
          EXPECT_EQ(keys, TextModel(table.Records, n, name == "POS" ? positive : all)) << name;
          EXPECT_GE(raw.depth, kl == 240 ? 4 : 2) << name;
        }
        cdx = OpenCdx(table, "t", shared);
      }
    }
  }
}

// Stored, read back after a reopening, in numeric order: -0 one key with
// 0, extremes and trailing 0xFF bytes among them.
TEST(CdxModel, NumericKeysWithNegativesAndEqualValues) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 4);
  auto cdx = NewCdx(table);
  ASSERT_TRUE(cdx->AddTag("AU", "AU", "", true, false));
  ASSERT_TRUE(cdx->AddTag("AUD", "AU", "", false, false));
  const double special[] = {-1.0, -1833.5, 0.0, -0.0, 1e300, -1e-300, -0.0};
  std::mt19937 rng(5);
  for (int i = 0; i < 4000; ++i) {
    const double v = i % 40 == 0 ? special[static_cast<size_t>(i / 40) % std::size(special)]
                                 : (static_cast<int>(rng() % 200) - 100) * 0.25;
    if (table.Records.empty() || rng() % 4 != 0) {
      table.Append(*cdx, {"", v});
    } else {
      table.Rewrite(*cdx, 1 + static_cast<int>(rng() % table.Records.size()), {"", v});
    }
  }
  std::vector<std::pair<double, int>> model;
  for (size_t i = 0; i < table.Records.size(); ++i) model.emplace_back(table.Records[i].au, static_cast<int>(i + 1));
  std::sort(model.begin(), model.end());
  cdx.reset();
  cdx = OpenCdx(table);
  for (const char* name : {"AU", "AUD"}) {
    XBobjIndexTag& tag = *cdx->TagByName(name);
    std::vector<std::pair<double, int>> walked;
    for (int r = tag.KeyRead(-3); r != 0; r = tag.KeyRead(-1)) walked.emplace_back(CdxNumber(tag.CurKeyInfo()), r);
    if (std::string(name) == "AUD") std::reverse(walked.begin(), walked.end());
    EXPECT_EQ(walked, model) << name;
  }
}

TEST(CdxModel, RecordNumbersAcrossEntryWidths) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 12);
  auto cdx = NewCdx(table);
  ASSERT_TRUE(cdx->AddTag("NA", "NA", "", true, false));
  std::set<std::pair<std::string, int>> model;
  std::mt19937 rng(9);
  for (int base : {250, 65530, 16777210, 0x7FFFFF00}) {
    for (int i = 0; i < 300; ++i) {
      const int rec = base + static_cast<int>(rng() % 40);
      const std::string key = "R" + std::to_string(rng() % 50);
      if (model.insert({key, rec}).second) {
        ASSERT_TRUE(AddText(*cdx->Tag(0), key, rec));
      }
      if (i % 3 == 0) {
        auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
        ASSERT_TRUE(DeleteText(*cdx->Tag(0), it->first, it->second));
        model.erase(it);
      }
    }
    Keys expected(model.begin(), model.end());
    ASSERT_EQ(Read(*cdx->Tag(0)), expected) << base;
  }
  cdx.reset();
  cdx = OpenCdx(table);
  EXPECT_EQ(Read(*cdx->Tag(0)), Keys(model.begin(), model.end()));
}

TEST(CdxModel, UniqueTagsKeepTheFirstRecordOfAKey) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 10);
  auto cdx = NewCdx(table);
  ASSERT_TRUE(cdx->AddTag("U", "NA", "", true, true));
  std::map<std::string, int> model;
  std::mt19937 rng(2);
  for (int i = 0; i < 1500; ++i) {
    const std::string name = RandomName(rng, 10);
    table.Append(*cdx, {name});
    model.emplace(Padded(name, 10), static_cast<int>(table.Records.size()));
  }
  Keys expected;
  for (auto& [k, rec] : model) expected.emplace_back(Trim(k), rec);
  EXPECT_EQ(Read(*cdx->Tag(0)), expected);
  // A bulk build keeps the same records.
  cdx->Reindex();
  EXPECT_EQ(Read(*cdx->Tag(0)), expected);
}

TEST(CdxModel, TagsAddedDeletedAndRebuiltInOneFile) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 20);
  std::mt19937 rng(4);
  for (int i = 0; i < 3000; ++i) table.Records.push_back({RandomName(rng, 20), static_cast<double>(rng() % 100)});
  auto all = [](const Record&) { return true; };
  auto cdx = NewCdx(table);
  ASSERT_TRUE(cdx->AddTag("NAME", "NA", "", true, false));  // bulk-built
  ASSERT_TRUE(cdx->AddTag("AMT", "AU", "", true, false));
  ASSERT_TRUE(cdx->AddTag("BYNAME", "NA", "", false, false));
  EXPECT_EQ(Read(*cdx->TagByName("NAME")), TextModel(table.Records, 20, all));
  EXPECT_TRUE(cdx->DeleteTag("amt"));
  EXPECT_FALSE(cdx->DeleteTag("AMT"));
  // A tag of the same name replaces the old one; names are cut to 10.
  ASSERT_TRUE(cdx->AddTag("byname", "NA", "AU < 50", true, false));
  ASSERT_TRUE(cdx->AddTag("AVERYLONGTAGNAME", "AU", "", true, false));
  ASSERT_EQ(cdx->TagCount(), 3);
  EXPECT_EQ(cdx->Tag(0)->TagName(), "AVERYLONGT");
  EXPECT_EQ(cdx->Tag(1)->TagName(), "BYNAME");
  EXPECT_EQ(cdx->Tag(2)->TagName(), "NAME");
  auto low = [](const Record& r) { return r.au < 50; };
  for (int i = 0; i < 300; ++i) table.Append(*cdx, {RandomName(rng, 20), static_cast<double>(rng() % 100)});
  const Keys names = TextModel(table.Records, 20, all), lows = TextModel(table.Records, 20, low);
  EXPECT_EQ(Read(*cdx->TagByName("BYNAME")), lows);
  const auto before = std::make_pair(Read(*cdx->TagByName("NAME")), Read(*cdx->TagByName("AVERYLONGT")));
  EXPECT_EQ(before.first, names);
  cdx->Reindex();
  EXPECT_EQ(Read(*cdx->TagByName("NAME")), names);
  EXPECT_EQ(Read(*cdx->TagByName("BYNAME")), lows);
  EXPECT_EQ(Read(*cdx->TagByName("AVERYLONGT")), before.second);
  cdx.reset();
  RawCdx raw(dir / "t.cdx");
  ASSERT_EQ(raw.Tags().size(), 3u);
  for (auto& [name, header] : raw.Tags()) raw.Walk(header, name == "AVERYLONGT" ? '\0' : ' ');
  // Deleting the last tag leaves an empty file that takes new tags.
  cdx = OpenCdx(table);
  for (const char* name : {"NAME", "BYNAME", "AVERYLONGT"}) EXPECT_TRUE(cdx->DeleteTag(name));
  cdx->Flush();
  EXPECT_EQ(platform::ReadFileBytes(dir / "t.cdx").size(), 1536u);
  ASSERT_TRUE(cdx->AddTag("NAME", "NA", "", true, false));
  EXPECT_EQ(Read(*cdx->Tag(0)), names);
  // A shared file is locked whole while it is emptied and rebuilt.
  cdx.reset();
  cdx = OpenCdx(table, "t", true);
  ASSERT_TRUE(cdx->AddTag("AMT", "AU", "", true, false));
  cdx->Reindex();
  EXPECT_EQ(Read(*cdx->TagByName("NAME")), names);
  EXPECT_TRUE(cdx->DeleteTag("NAME"));
  EXPECT_TRUE(cdx->DeleteTag("AMT"));
  EXPECT_EQ(cdx->TagCount(), 0);
}

TEST(CdxGeneral, WeightsFollowTheFixedCollation) {
  // Blank weighs 0x20, so that trailing blank weights are the pad bytes.
  EXPECT_EQ(CdxGeneralKey(" ", 1, 2, false), " ");
  const std::vector<std::string> ordered = {"a", "A", "b", "IVAN", "ivanov", "\xE5", "\xC5", "\xB8", "\xA8", "\xE6"};
  std::vector<std::string> sorted = ordered;
  std::shuffle(sorted.begin(), sorted.end(), std::mt19937(1));
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return CdxGeneralKey(a, 10, 20, true) < CdxGeneralKey(b, 10, 20, true);
  });
  EXPECT_EQ(sorted, ordered);
  std::mt19937 rng(8);
  const std::string letters = "aAbBzZ \xE0\xC0\xE5\xC5\xB8\xA8\xE6\xC6\xFF\xDF\xBA\xAA-.1";
  for (int i = 0; i < 3000; ++i) {
    std::string x, y;
    for (size_t n = rng() % 6; n > 0; --n) x += letters[rng() % letters.size()];
    for (size_t n = rng() % 6; n > 0; --n) y += letters[rng() % letters.size()];
    const int c = platform::AnsiCompareStr(Trim(x), Trim(y));
    const std::string kx = CdxGeneralKey(x, 6, 12, true), ky = CdxGeneralKey(y, 6, 12, true);
    EXPECT_EQ(c < 0, Padded(kx, 12) < Padded(ky, 12)) << Hex(x.data(), x.size()) << " " << Hex(y.data(), y.size());
  }
}
