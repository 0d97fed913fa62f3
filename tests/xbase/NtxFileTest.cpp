// NTX files as files: the files another engine wrote, walked and sought as
// it reads them; damaged files refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/File.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/HarbourOrders.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/IndexedTable.h"
#include "tests/xbase/NtxReader.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/ntx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

const std::string kHarbour = kXbData + "harbour/ntx/";

// The NTX file of a fixture order (the other engine names the order after
// its file, upper-cased).
std::string Bag(const THarbourOrder& o) { return platform::AnsiLowerCase(o.tag) + ".ntx"; }

std::string Unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

// A stored key as the peer prints the order's keys.
std::string KeyText(std::string stored, const THarbourOrder& o) {
  stored.erase(stored.find_last_not_of(' ') + 1);
  if (stored.empty()) return "-";
  if (o.type == 'C') return Hex(stored);
  if (o.type == 'D') return stored;
  // Digits of a negative number are stored as 44 - d.
  bool negative = false;
  for (char& c : stored)
    if (c >= 35 && c <= 44) {
      c = static_cast<char>('0' + 44 - c);
      negative = true;
    }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", o.decimals, (negative ? -1 : 1) * std::stod(stored));
  return buf;
}

// A copy of a fixture table with its memo file and the files of `bags` in
// `dir`.
std::string CopyFixture(const TempDir& dir, const std::string& table, const std::vector<std::string>& bags) {
  for (const char* ext : {".dbf", ".dbt"})
    if (platform::FileExists(kHarbour + table + ext))
      platform::WriteFileBytes(dir / (table + ext), platform::ReadFileBytes(kHarbour + table + ext));
  for (const std::string& bag : bags) platform::WriteFileBytes(dir / bag, platform::ReadFileBytes(kHarbour + bag));
  return dir / (table + ".dbf");
}

// A seek through the table's find (not exact; soft as asked; deleted
// records hidden when asked): found, end of file, and the record, as the
// other engine gives them.
std::tuple<bool, bool, int> Seek(XBO_dBHandler& t, const THarbourOrder& o, const THarbourOrder::TSeek& s) {
  std::string key = s.key == "-" ? std::string() : o.type == 'C' ? Unhex(s.key) : s.key;
  t.SetxbvFindNear(s.soft);
  t.SetUseDeletedRec(!s.deletedOn);
  const bool found = t.xbFind(key);
  const bool eof = t.File_EOF();
  t.SetUseDeletedRec(true);
  return {found, eof, eof ? t.NumRecs() + 1 : t.RecNumber()};
}

}  // namespace

// Every order of the fixtures, through the table: walks both ways give
// the other engine's records and keys, its seeks land where it landed, and
// nothing is written.
TEST(NtxHarbour, WalksAndSeeksGiveWhatTheOtherEngineRead) {
  for (const std::string table : {"mixed", "big", "longc", "empty"}) {
    const std::vector<THarbourOrder> orders = HarbourOrders(kHarbour + table + ".json");
    ASSERT_FALSE(orders.empty()) << table;
    std::vector<std::string> bags;
    for (const THarbourOrder& o : orders) bags.push_back(Bag(o));
    TempDir dir;
    XBO_dBHandler t(CopyFixture(dir, table, bags), "", false, false);
    for (const THarbourOrder& o : orders) {
      const std::string bag = Bag(o);
      ASSERT_EQ(t.xbIndex(dir / bag, o.tag), 0) << bag;
      XBobjIndexTag& tag = *t.IndexMaster();
      EXPECT_EQ(tag.KeyType(), o.type) << bag;
      EXPECT_EQ(tag.KeyIsAscending(), !o.descending) << bag;
      EXPECT_EQ(tag.KeyIsUnique(), o.unique) << bag;
      std::vector<std::pair<int, std::string>> walked, back;
      for (t.xbGetRec(xbRecTop); !t.File_EOF(); t.xbGetRec(xbRecNext))
        walked.emplace_back(t.RecNumber(), KeyText(tag.CurKeyInfo().GetString(), o));
      for (t.xbGetRec(xbRecBottom); !t.File_TOF() && t.RecNumber() > 0; t.xbGetRec(xbRecPrior))
        back.emplace_back(t.RecNumber(), KeyText(tag.CurKeyInfo().GetString(), o));
      ASSERT_EQ(walked.size(), static_cast<size_t>(o.count)) << bag;
      ASSERT_EQ(walked.size(), o.recnos.size()) << bag;
      ASSERT_EQ(back.size(), walked.size()) << bag;
      for (size_t i = 0; i < walked.size(); ++i) {
        ASSERT_EQ(walked[i].first, o.recnos[i]) << bag << " at " << i;
        if (!o.keys.empty()) {
          ASSERT_EQ(walked[i].second, o.keys[i]) << bag << " at " << i;
        }
        ASSERT_EQ(back[walked.size() - 1 - i], walked[i]) << bag << " backwards at " << i;
      }
      for (const THarbourOrder::TSeek& s : o.seeks) {
        if (s.last) continue;  // the other engine's extension
        const auto [found, eof, recno] = Seek(t, o, s);
        const std::string what = bag + " " + s.key + (s.soft ? " soft" : "") + (s.deletedOn ? " deleted hidden" : "");
        EXPECT_EQ(found, s.found) << what;
        EXPECT_EQ(eof, s.eof) << what;
        EXPECT_EQ(recno, s.recno) << what;
      }
      t.xbIndexClear();
    }
    for (const std::string& bag : bags)
      EXPECT_EQ(platform::ReadFileBytes(dir / bag), platform::ReadFileBytes(kHarbour + bag)) << bag;
  }
}

namespace {

// What a rebuild of an order must give: for keys that read only fields,
// the other engine's own file; for UPPER keys, whose upper case differs
// from the other engine's (it leaves ёґєіїў lower case), the records
// sorted by the bytes of our upper case, then by record.
struct TRebuilt {
  const char* table;
  const char* bag;
  // The key of the record in the table's buffer; nullptr: the other
  // engine's file is the model.
  std::string (*key)(TIndexedTable&);
  const char* forField;  // a logical field the FOR condition is
  bool unique;
};

std::string UpperName(TIndexedTable& t) { return platform::AnsiUpperCase(t.xbFieldGet("NAME")); }
std::string UpperCity(TIndexedTable& t) { return platform::AnsiUpperCase(t.xbFieldGet("CITY")); }
std::string UpperCityBorn(TIndexedTable& t) { return UpperCity(t) + t.xbFieldGet("BORN"); }

}  // namespace

// Rebuilds, also through a key sorter that spills runs, equal the other
// engine's files or the model.
TEST(NtxHarbour, RebuildsEqualTheOtherEnginesFilesOrTheUpperCaseModel) {
  const TRebuilt cases[] = {
      {"big", "bg_amt.ntx", nullptr, nullptr, false},      {"big", "bg_born.ntx", nullptr, nullptr, false},
      {"big", "bg_bornd.ntx", nullptr, nullptr, false},    {"mixed", "mx_amt.ntx", nullptr, nullptr, false},
      {"mixed", "mx_rate.ntx", nullptr, nullptr, false},   {"mixed", "mx_amtd.ntx", nullptr, nullptr, false},
      {"mixed", "mx_born.ntx", nullptr, nullptr, false},   {"longc", "lc_long.ntx", nullptr, nullptr, false},
      {"empty", "em_name.ntx", nullptr, nullptr, false},   {"empty", "em_born.ntx", nullptr, nullptr, false},
      {"big", "bg_name.ntx", UpperName, nullptr, false},   {"big", "bg_act.ntx", UpperName, "ACTIVE", false},
      {"big", "bg_uniq.ntx", UpperName, nullptr, true},    {"big", "bg_upd.ntx", UpperCityBorn, nullptr, false},
      {"mixed", "mx_city.ntx", UpperCity, nullptr, true},  {"mixed", "mx_name.ntx", UpperName, nullptr, false},
  };
  for (const TRebuilt& c : cases) {
    TempDir dir;
    TIndexedTable t(CopyFixture(dir, c.table, {c.bag}), false);
    RawNtx theirs(kHarbour + c.bag);
    ASSERT_TRUE(theirs.Walk()) << theirs.error;
    {
      XBobjNTXFile ntx(&t, c.bag, true, false, false, false);
      ntx.Reindex();
    }
    RawNtx ours(dir / c.bag);
    ASSERT_TRUE(ours.Walk(true)) << ours.error << " " << c.bag;
    {
      // Keys merged back from runs the sorter spilled build the same file.
      XBobjNTXFile ntx(&t, c.bag, true, false, false, false);
      ntx.SetSortBudget(4 << 10);
      ntx.Reindex();
    }
    EXPECT_EQ(platform::ReadFileBytes(dir / c.bag), ours.bytes) << c.bag << " from spilled runs";
    // The header's fields that describe the tag (not the counter, the root
    // or the minimum keys).
    for (auto [at, n] : {std::pair{0, 2}, {12, 8}, {22, 257}, {282, 256}})
      EXPECT_EQ(ours.bytes.substr(at, n), theirs.bytes.substr(at, n)) << c.bag << " header at " << at;
    EXPECT_EQ(ours.bytes[279] | ours.bytes[280], theirs.bytes[279] | theirs.bytes[280]) << c.bag;
    if (!c.key) {
      EXPECT_EQ(ours.keys, theirs.keys) << c.bag;
      continue;
    }
    std::vector<std::pair<std::string, int>> model;
    const int keyLength = ours.U16(14);
    for (int rec = 1; rec <= t.NumRecs(); ++rec) {
      t.xbGetRec(rec);
      if (c.forField && t.xbFieldGet(c.forField) != "T") continue;
      std::string key = c.key(t);
      key.resize(static_cast<size_t>(keyLength), ' ');
      model.emplace_back(key, rec);
    }
    std::stable_sort(model.begin(), model.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (c.unique)
      model.erase(std::unique(model.begin(), model.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                  model.end());
    EXPECT_EQ(ours.keys, model) << c.bag;
  }
}

// Each damaged file (tests/data/xbase/ntx, one broken rule each) is
// refused with 65141 when it is opened or walked, and nothing worse.
TEST(NtxFile, DamagedFilesRaiseCorruptedAndNothingWorse) {
  const std::string data = kXbData + "ntx/";
  TempDir dir;
  TIndexedTable t(CopyFixture(dir, "mixed", {}), false);
  const char* damaged[] = {"signature-8.ntx",         "signature-large-flag.ntx",
                           "key-length-0.ntx",        "key-length-257.ntx",
                           "entry-not-key-plus-8.ntx", "max-keys-1.ntx",
                           "max-keys-past-page.ntx",  "root-not-page-aligned.ntx",
                           "root-past-end.ntx",       "root-is-header.ntx",
                           "count-past-max.ntx",      "item-offset-in-table.ntx",
                           "item-offset-past-page.ntx", "key-expression-unterminated.ntx",
                           "for-expression-unterminated.ntx", "child-cycle.ntx",
                           "child-not-page-aligned.ntx", "child-past-end.ntx",
                           "leaf-item-with-child.ntx", "node-item-without-child.ntx",
                           "truncated-page.ntx"};
  for (const char* name : damaged) {
    const std::string path = dir / name;
    platform::WriteFileBytes(path, platform::ReadFileBytes(data + name));
    const std::string error = ErrorOf([&] {
      XBobjNTXFile ntx(&t, path, false, false, false, false);
      Walk(*ntx.Tag());
      Walk(*ntx.Tag(), false);
    });
    EXPECT_EQ(error, "Index file " + path + " is corrupted") << name;
  }
  // The oldest signature, 3, reads as 6.
  std::string old = platform::ReadFileBytes(kHarbour + "mx_amt.ntx");
  old[0] = 3;
  platform::WriteFileBytes(dir / "old.ntx", old);
  XBobjNTXFile ntx(&t, dir / "old.ntx", false, false, false, false);
  EXPECT_EQ(Walk(*ntx.Tag()).size(), 48u);
}

// Every byte of the header and of the first pages of a three-level file
// changed in turn: each change ends in a walk or in 65141 (or, within the
// key expression, in the expression's own error).
TEST(NtxFile, SingleByteCorruptionsEndInAWalkOrCorrupted) {
  TempDir dir;
  TIndexedTable t(CopyFixture(dir, "big", {"bg_name.ntx"}), false);
  const std::string good = platform::ReadFileBytes(kHarbour + "bg_name.ntx");
  const std::string path = dir / "bg_name.ntx";
  platform::TFile file(path, platform::fmOpenReadWrite);
  int walks = 0, refused = 0;
  for (size_t at = 0; at < 4096; ++at) {
    if (at >= 538 && at < 1024) continue;  // past the header's fields
    for (int flip : {0xFF, 0x01}) {
      if (flip == 0x01 && at >= 64) continue;
      const char bad = static_cast<char>(good[at] ^ flip);
      file.WriteAt(static_cast<int64_t>(at), &bad, 1);
      try {
        // The first pages hold the first keys: the walk's start reads them.
        // (Shared: every page is read from the file, without a cache.)
        XBobjNTXFile ntx(&t, path, false, true, false, false);
        for (int n = ntx.Tag()->ReadTopKey() ? 1 : 0; n > 0 && n < 128 && ntx.Tag()->ReadNextKey(); ++n) {
        }
        ++walks;
      } catch (const EXBaseError& e) {
        ASSERT_EQ(std::string(e.what()), "Index file " + path + " is corrupted") << at;
        ++refused;
      } catch (const EXBaseExpression&) {
        // A key expression changed into one that does not compile says so.
        ASSERT_TRUE(at >= 22 && at < 278) << at;
        ++refused;
      }
      file.WriteAt(static_cast<int64_t>(at), &good[at], 1);
    }
  }
  EXPECT_GT(walks, 0);
  EXPECT_GT(refused, 0);
}
