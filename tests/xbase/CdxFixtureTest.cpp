// CDX files written by another engine (Harbour): every tag walks, counts
// and seeks through the table as that engine read it, reading changes no
// byte, and a rebuild gives that engine's keys (our upper case where the
// key is UPPER()).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/CdxReader.h"
#include "tests/xbase/HandlerIndexUtil.h"
#include "tests/xbase/HarbourOrders.h"
#include "tests/xbase/IndexedTable.h"
#include "xbase/base/dates.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/cdx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

using StoredKeys = std::vector<std::pair<std::string, int>>;

// A key of order `o` as xbpeer.py prints the fixture's keys.
std::string KeyText(const TxbVariant& key, const THarbourOrder& o) {
  if (o.type == 'C') return key.SizeVar() == 0 ? "-" : Hex(key.VarBuf(), static_cast<size_t>(key.SizeVar()));
  const double v = CdxNumber(key);
  if (o.type == 'D') return v < 0.5 ? "-" : xbDBFDate().DTOS(static_cast<int32_t>(v));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", o.decimals, v);
  return buf;
}

// Copies of a fixture table, its memo file and `files` in `dir`; the table.
std::string CopyFixture(const TempDir& dir, const std::string& table, std::vector<std::string> files) {
  for (const char* ext : {".dbf", ".fpt"}) files.push_back(table + ext);
  CopyHarbourFiles(dir.path(), files);
  return dir / (table + ".dbf");
}

// Every key of a tag in stored order: its bytes and record.
StoredKeys Stored(XBobjIndexTag& tag) {
  StoredKeys keys;
  for (bool more = tag.ReadTopKey(); more; more = tag.ReadNextKey())
    keys.emplace_back(std::string(reinterpret_cast<const char*>(tag.CurKeyInfo().VarBuf()),
                                  static_cast<size_t>(tag.CurKeyInfo().SizeVar())),
                      tag.CurKeyInfo().Tag);
  return keys;
}

}  // namespace

TEST(CdxHarbour, WalksAndSeeksGiveWhatTheOtherEngineRead) {
  struct TFixture {
    std::string table;
    std::vector<std::string> files;
  } fixtures[] = {{"mixed", {"mixed.cdx"}}, {"big", {"big.cdx", "big_upd.cdx"}}, {"longc", {"longc.cdx"}},
                  {"empty", {"empty.cdx"}}};
  int seeks = 0;
  for (const TFixture& f : fixtures) {
    TempDir dir;
    const std::vector<THarbourOrder> orders = HarbourOrders(kHarbourCdx + f.table + ".json");
    ASSERT_FALSE(orders.empty()) << f.table;
    {
      XBO_dBHandler t(CopyFixture(dir, f.table, f.files), "", false, false);
      int tags = 0;
      for (const std::string& file : f.files) {
        ASSERT_EQ(t.xbIndexRoute(file), 0) << file;
        tags += t.IndexStack(t.xbIndexFileIsOpen(file))->TagCount();
      }
      EXPECT_EQ(tags, static_cast<int>(orders.size())) << f.table;
      for (const THarbourOrder& o : orders) {
        const std::string what = f.table + " " + o.tag;
        t.xbSetTagTo(o.tag, false);
        XBobjIndexTag& tag = *t.IndexMaster();
        EXPECT_EQ(tag.KeyType(), o.type) << what;
        EXPECT_EQ(tag.KeyIsAscending(), !o.descending) << what;
        EXPECT_EQ(tag.KeyIsUnique(), o.unique) << what;
        t.SetUseDeletedRec(true);
        std::vector<int> recs, back;
        std::vector<std::string> keys;
        for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext)) {
          recs.push_back(t.RecNumber());
          keys.push_back(KeyText(tag.CurKeyInfo(), o));
        }
        for (t.xbGetRec(xbRecBottom); t.xbvRecRead(); t.xbGetRec(xbRecPrior)) back.insert(back.begin(), t.RecNumber());
        EXPECT_EQ(recs, o.recnos) << what;
        EXPECT_EQ(back, o.recnos) << what;
        EXPECT_EQ(static_cast<int>(recs.size()), o.count) << what;
        if (!o.keys.empty()) {
          EXPECT_EQ(keys, o.keys) << what;
        }
        for (const THarbourOrder::TSeek& s : o.seeks) {
          if (s.last) continue;  // the other engine's extension
          t.SetUseDeletedRec(!s.deletedOn);
          t.SetxbvFindNear(s.soft);
          const bool found = t.xbFind(s.key == "-" ? "" : o.type == 'C' ? FromHex(s.key) : s.key);
          ++seeks;
          const std::string sought = what + " " + s.key + (s.soft ? " soft" : "") + (s.deletedOn ? " hidden" : "");
          EXPECT_EQ(found, s.found) << sought;
          EXPECT_EQ(t.File_EOF(), s.eof) << sought;
          EXPECT_EQ(t.File_EOF() ? t.NumRecs() + 1 : t.RecNumber(), s.recno) << sought;
        }
      }
    }
    for (const std::string& n : f.files)
      EXPECT_EQ(platform::ReadFileBytes(dir / n), platform::ReadFileBytes(kHarbourCdx + n)) << n;
  }
  EXPECT_GT(seeks, 200);
}

TEST(CdxHarbour, ARebuildGivesTheirNumbersAndDatesAndOurUpperCase) {
  for (const std::string name : {"mixed", "big"}) {
    TempDir dir;
    TIndexedTable table(CopyFixture(dir, name, {name + ".cdx"}), false);
    XBobjCDXFile cdx(&table, dir / (name + ".cdx"), true, false, false, false);
    std::map<std::string, StoredKeys> theirs;
    for (int i = 0; i < cdx.TagCount(); ++i)
      if (cdx.Tag(i)->KeyType() != 'C') theirs[cdx.Tag(i)->TagName()] = Stored(*cdx.Tag(i));
    cdx.Reindex();
    for (int i = 0; i < cdx.TagCount(); ++i) {
      XBobjCDXTag& tag = *cdx.Tag(i);
      if (tag.KeyType() != 'C') {
        EXPECT_EQ(Stored(tag), theirs[tag.TagName()]) << name << " " << tag.TagName();
        continue;
      }
      // UPPER(NAME) or UPPER(CITY), with their FOR and unique rules: the
      // records by the bytes of our upper case, then by record.
      const std::string field = tag.KeyExpr() == "UPPER(CITY)" ? "CITY" : "NAME";
      StoredKeys model;
      for (int rec = 1; rec <= table.NumRecs(); ++rec) {
        table.xbGetRec(rec);
        if (tag.TagName() == "NEG" && !(table.xbNumberGet("AMOUNT") < 0)) continue;
        if (tag.TagName() == "ACTNAME" && !table.xbLogicGet("ACTIVE")) continue;
        AnsiString key = platform::AnsiUpperCase(table.xbFieldGet(field));
        key.erase(key.find_last_not_of(' ') + 1);
        model.emplace_back(key, rec);
      }
      std::stable_sort(model.begin(), model.end(), [](auto& a, auto& b) { return a.first < b.first; });
      if (tag.KeyIsUnique())
        model.erase(std::unique(model.begin(), model.end(), [](auto& a, auto& b) { return a.first == b.first; }),
                    model.end());
      EXPECT_EQ(Stored(tag), model) << name << " " << tag.TagName();
    }
    cdx.Flush();
    RawCdx raw(dir / (name + ".cdx"));
    ASSERT_EQ(raw.Tags().size(), static_cast<size_t>(cdx.TagCount()));
    for (auto& [tagName, header] : raw.Tags())
      EXPECT_EQ(raw.Walk(header, cdx.TagByName(tagName)->KeyType() == 'C' ? ' ' : '\0').size(),
                Stored(*cdx.TagByName(tagName)).size())
          << tagName;
  }
}

TEST(CdxHarbour, ATagAddedToTheirFileKeepsTheOthers) {
  TempDir dir;
  const std::vector<THarbourOrder> orders = HarbourOrders(kHarbourCdx + "mixed.json");
  XBO_dBHandler t(CopyFixture(dir, "mixed", {"mixed.cdx"}), "", true, false);
  ASSERT_EQ(t.xbIndexTo("mixed.cdx", "QTY", "QTY", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
  ASSERT_EQ(t.xbIndexRoute("mixed.cdx"), 0);
  EXPECT_EQ(t.IndexStack(1)->TagCount(), static_cast<int>(orders.size()) + 1);
  for (const THarbourOrder& o : orders) {
    t.xbSetTagTo(o.tag, false);
    EXPECT_EQ(WalkRecords(t), o.recnos) << o.tag;
  }
  t.xbSetTagTo("QTY", false);
  double last = -1e300;
  int n = 0;
  for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext), ++n) {
    EXPECT_LE(last, t.xbNumberGet("QTY"));
    last = t.xbNumberGet("QTY");
  }
  EXPECT_EQ(n, 48);
  EXPECT_EQ(RawCdx(dir / "mixed.cdx").Tags()[6].first, "QTY");  // in name order among theirs
}
