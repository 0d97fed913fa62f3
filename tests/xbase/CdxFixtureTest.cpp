// CDX files written by another engine (Harbour): every tag walks and
// counts as that engine walked it, and reading changes no byte.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/CdxReader.h"
#include "tests/xbase/DbfIndexTable.h"
#include "tests/xbase/ErrorOf.h"
#include "xbase/xb_cdx.h"

using namespace xbase;
using namespace xbtest;

namespace {

const std::string kHarbour = kXbData + "harbour/cdx/";

// The tag's keys and records in reading order (a descending tag backwards).
void WalkTag(XBobjIndexTag& tag, const THarbourOrder& o, std::vector<int>& recs, std::vector<std::string>& keys) {
  for (int rec = tag.KeyRead(-3); rec != 0; rec = tag.KeyRead(-1)) {
    recs.push_back(rec);
    keys.push_back(o.KeyText(tag.CurKeyInfo()));
  }
}

struct TFixture {
  const char* table;
  std::vector<const char*> files;
};

}  // namespace

TEST(CdxFixture, EveryTagWalksAndCountsAsItsWriterReadIt) {
  const TFixture fixtures[] = {
      {"mixed", {"mixed.cdx"}}, {"big", {"big.cdx", "big_upd.cdx"}}, {"longc", {"longc.cdx"}}, {"empty", {"empty.cdx"}}};
  for (const TFixture& f : fixtures) {
    TempDir dir;
    const std::string table = dir / (std::string(f.table) + ".dbf");
    platform::WriteFileBytes(table, platform::ReadFileBytes(kHarbour + f.table + ".dbf"));
    std::vector<std::string> originals;
    for (const char* name : f.files) {
      originals.push_back(platform::ReadFileBytes(kHarbour + name));
      platform::WriteFileBytes(dir / name, originals.back());
    }
    const std::vector<THarbourOrder> orders = HarbourOrders(kHarbour + f.table + ".json");
    ASSERT_FALSE(orders.empty()) << f.table;
    int tags = 0, checked = 0;
    {
      TDbfIndexTable owner(table);
      std::vector<std::unique_ptr<XBobjCDXFile>> files;
      for (const char* name : f.files) {
        files.push_back(std::make_unique<XBobjCDXFile>(&owner, dir / name, false, false, false, false));
        ASSERT_TRUE(files.back()->CreateOK()) << name;
        tags += files.back()->TagCount();
      }
      for (const THarbourOrder& o : orders) {
        XBobjIndexTag* tag = nullptr;
        for (auto& file : files)
          if (!tag) tag = file->TagByName(o.tag);
        ASSERT_NE(tag, nullptr) << f.table << " " << o.tag;
        EXPECT_EQ(tag->KeyIsAscending(), !o.descending) << o.tag;
        EXPECT_EQ(tag->KeyIsUnique(), o.unique) << o.tag;
        EXPECT_EQ(tag->KeyType(), o.type) << o.tag;
        std::vector<int> recs;
        std::vector<std::string> keys;
        WalkTag(*tag, o, recs, keys);
        EXPECT_EQ(recs, o.recnos) << f.table << " " << o.tag;
        EXPECT_EQ(static_cast<int>(recs.size()), o.count) << o.tag;
        if (!o.keys.empty()) {
          EXPECT_EQ(keys, o.keys) << f.table << " " << o.tag;
        }
        // Backwards the same keys in reverse.
        std::vector<int> back;
        for (int rec = tag->KeyRead(-4); rec != 0; rec = tag->KeyRead(-2)) back.insert(back.begin(), rec);
        EXPECT_EQ(back, o.recnos) << f.table << " " << o.tag;
        ++checked;
      }
    }
    EXPECT_EQ(tags, checked) << f.table;
    for (size_t i = 0; i < f.files.size(); ++i)
      EXPECT_EQ(platform::ReadFileBytes(dir / f.files[i]), originals[i]) << f.files[i];
  }
}

namespace {

// (stored key bytes, record) of every key in stored order.
std::vector<std::pair<std::string, int>> StoredKeys(XBobjIndexTag& tag) {
  std::vector<std::pair<std::string, int>> keys;
  for (bool more = tag.ReadTopKey(); more; more = tag.ReadNextKey())
    keys.emplace_back(std::string(reinterpret_cast<const char*>(tag.CurKeyInfo().VarBuf()),
                                  static_cast<size_t>(tag.CurKeyInfo().SizeVar())),
                      tag.CurKeyInfo().Tag);
  return keys;
}

// Our key of UPPER(field) for every record meeting `keep`, in stored order;
// with `unique` the first record of each key.
std::vector<std::pair<std::string, int>> UpperModel(TDbfIndexTable& t, const std::string& field,
                                                    const std::function<bool()>& keep, bool unique) {
  TTestVar* var = t.Field(field);
  std::vector<std::pair<std::string, int>> keys;
  for (int rec = 1; rec <= t.IndexRecordCount(); ++rec) {
    t.IndexReadRecord(rec);
    if (!keep()) continue;
    keys.emplace_back(platform::AnsiUpperCase(var->Value.Text()), rec);
  }
  std::stable_sort(keys.begin(), keys.end(), [](auto& a, auto& b) { return a.first < b.first; });
  if (unique)
    keys.erase(std::unique(keys.begin(), keys.end(), [](auto& a, auto& b) { return a.first == b.first; }),
               keys.end());
  for (auto& k : keys)
    while (!k.first.empty() && k.first.back() == ' ') k.first.pop_back();
  return keys;
}

}  // namespace

TEST(CdxFixture, ReindexGivesTheWritersNumbersAndOurUpperCase) {
  for (const char* name : {"mixed", "big"}) {
    TempDir dir;
    const std::string table = dir / (std::string(name) + ".dbf");
    const std::string file = dir / (std::string(name) + ".cdx");
    platform::WriteFileBytes(table, platform::ReadFileBytes(kHarbour + name + ".dbf"));
    platform::WriteFileBytes(file, platform::ReadFileBytes(kHarbour + name + ".cdx"));
    TDbfIndexTable owner(table);
    XBobjCDXFile cdx(&owner, file, true, false, false, false);
    std::map<std::string, std::vector<std::pair<std::string, int>>> theirs;
    for (int i = 0; i < cdx.TagCount(); ++i)
      if (cdx.Tag(i)->KeyType() != 'C') theirs[cdx.Tag(i)->TagName()] = StoredKeys(*cdx.Tag(i));
    cdx.Reindex();
    for (int i = 0; i < cdx.TagCount(); ++i) {
      XBobjCDXTag& tag = *cdx.Tag(i);
      if (tag.KeyType() != 'C') {
        EXPECT_EQ(StoredKeys(tag), theirs[tag.TagName()]) << name << " " << tag.TagName();
        continue;
      }
      TTestVar* amount = owner.Field("AMOUNT");
      TTestVar* active = owner.Field("ACTIVE");
      std::function<bool()> keep = [] { return true; };
      if (tag.TagName() == "NEG") keep = [&] { return amount->Value.Float() < 0; };
      if (tag.TagName() == "ACTNAME") keep = [&] { return active->Value.Boolean(); };
      const std::string field = tag.KeyExpr() == "UPPER(CITY)" ? "CITY" : "NAME";
      EXPECT_EQ(StoredKeys(tag), UpperModel(owner, field, keep, tag.KeyIsUnique())) << name << " " << tag.TagName();
    }
    // The file as an independent reader sees it.
    cdx.Flush();
    RawCdx raw(file);
    EXPECT_EQ(raw.Tags().size(), static_cast<size_t>(cdx.TagCount()));
    for (auto& [tagName, header] : raw.Tags()) {
      const auto keys = raw.Walk(header, cdx.TagByName(tagName)->KeyType() == 'C' ? ' ' : '\0');
      EXPECT_EQ(keys.size(), StoredKeys(*cdx.TagByName(tagName)).size()) << tagName;
    }
  }
}

TEST(CdxFixture, ATagAddedToTheirFileKeepsTheOthers) {
  TempDir dir;
  const std::string table = dir / "mixed.dbf";
  platform::WriteFileBytes(table, platform::ReadFileBytes(kHarbour + "mixed.dbf"));
  platform::WriteFileBytes(dir / "mixed.cdx", platform::ReadFileBytes(kHarbour + "mixed.cdx"));
  const std::vector<THarbourOrder> orders = HarbourOrders(kHarbour + "mixed.json");
  TDbfIndexTable owner(table);
  {
    XBobjCDXFile cdx(&owner, dir / "mixed.cdx", true, false, false, false);
    ASSERT_TRUE(cdx.AddTag("QTY", "QTY", "", true, false));
  }
  XBobjCDXFile cdx(&owner, dir / "mixed.cdx", false, false, false, false);
  ASSERT_EQ(cdx.TagCount(), static_cast<int>(orders.size()) + 1);
  for (const THarbourOrder& o : orders) {
    std::vector<int> recs;
    std::vector<std::string> keys;
    WalkTag(*cdx.TagByName(o.tag), o, recs, keys);
    EXPECT_EQ(recs, o.recnos) << o.tag;
  }
  EXPECT_EQ(StoredKeys(*cdx.TagByName("QTY")).size(), 48u);
  RawCdx raw(dir / "mixed.cdx");
  EXPECT_EQ(raw.Tags()[6].first, "QTY");  // in name order among theirs
}

TEST(CdxFixture, AGeneralTagOfAnotherOrderWalksButTakesNoKeys) {
  TempDir dir;
  const std::string table = dir / "mixed.dbf";
  platform::WriteFileBytes(table, platform::ReadFileBytes(kHarbour + "mixed.dbf"));
  // Their NAME tag, marked as ordered by a GENERAL collation of theirs.
  std::string bytes = platform::ReadFileBytes(kHarbour + "mixed.cdx");
  const uint32_t name = RawCdx(kHarbour + "mixed.cdx").Tags()[4].second;
  ASSERT_EQ(RawCdx(kHarbour + "mixed.cdx").Tags()[4].first, "NAME");
  std::memcpy(bytes.data() + name + 494, "GENERAL", 8);
  bytes[name + 15] = 2;
  platform::WriteFileBytes(dir / "mixed.cdx", bytes);
  const std::vector<THarbourOrder> orders = HarbourOrders(kHarbour + "mixed.json");
  TDbfIndexTable owner(table);
  XBobjCDXFile cdx(&owner, dir / "mixed.cdx", true, false, false, false);
  XBobjCDXTag& tag = *static_cast<XBobjCDXTag*>(cdx.TagByName("NAME"));
  EXPECT_EQ(tag.Collation(), XBcdxCollation::General);
  std::vector<int> recs;
  std::vector<std::string> keys;
  WalkTag(tag, orders[0], recs, keys);
  EXPECT_EQ(recs, orders[0].recnos);
  EXPECT_EQ(ErrorOf([&] { cdx.CheckUpdatable(); }),
            "Index tag NAME of file " + dir / "mixed.cdx" +
                " orders its keys by another program's collation: rebuild the index before writing");
  cdx.Reindex();
  EXPECT_NO_THROW(cdx.CheckUpdatable());
  EXPECT_EQ(platform::ReadFileBytes(table), platform::ReadFileBytes(kHarbour + "mixed.dbf"));
}
