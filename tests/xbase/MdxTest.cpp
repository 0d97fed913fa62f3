// MDX files: known bytes, tags kept in step with the table against a model
// and checked by the structural checker (tests/xbase/mdxcheck.py, written
// from the layout alone) and by a peer, the tag table's limits, files of
// other writers' settings, damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Files.h"
#include "tests/platform/LoopSample.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/IndexedTable.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/dates.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/mdx_format.h"
#include "xbase/table/table_builders.h"

using namespace xbase;
using namespace xbtest;

namespace {

const std::string kMdxCheck = "/usr/bin/python3 " TOMESHELF_SOURCE_DIR "/tests/xbase/mdxcheck.py";

using Keys = std::vector<std::pair<std::string, int>>;

// One tag: how it is made, and how the checker computes its keys (Python
// over dbfread's record `r`).
struct TTagSpec {
  std::string tag, expr, forExpr;
  bool unique, descending;
  std::string key, forPython;
  // Built from the records and not changed since.
  bool built = false;
};

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// What the structural checker says of `mdx` over `dbf`: "OK" or the rules
// broken.
std::string Check(const std::string& mdx, const std::string& dbf, const std::vector<TTagSpec>& tags) {
  std::string json = "[";
  for (const TTagSpec& t : tags) {
    if (json.size() > 1) json += ",";
    json += "{\"tag\":" + JsonString(t.tag) + ",\"key\":" + JsonString(t.key) + ",\"for\":" +
            JsonString(t.forPython) + ",\"unique\":" + (t.unique ? "true" : "false") +
            ",\"descending\":" + (t.descending ? "true" : "false") + ",\"built\":" + (t.built ? "true" : "false") +
            "}";
  }
  json += "]";
  std::string out = CommandOutput(kMdxCheck + " " + Sh(mdx) + " " + Sh(dbf) + " " + Sh(json) + " 2>&1");
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// A table of NA C(`length`), AU N(20,2) and BD D.
std::string MakeTable(const TempDir& dir, int length, const std::string& name = "t.dbf") {
  XBO_DBFBuild b(dir / name);
  b.InsertField("NA", "C", length, 0);
  b.InsertField("AU", "N", 20, 2);
  b.InsertField("BD", "D", 8, 0);
  b.Complete();
  return b.FileName();
}

// Builds tag `t` into `mdx` through the handler.
void AddTag(XBO_dBHandler& h, const std::string& mdx, const TTagSpec& t) {
  h.xbIndexTo(mdx, t.tag, t.expr, t.forExpr, t.unique ? XBsetIndexUnique::Unique : XBsetIndexUnique::Duplicates,
              t.descending ? XBsetSortStatus::Descending : XBsetSortStatus::Ascending);
}

}  // namespace

TEST(MdxFormat, KnownBytes) {
  auto packed = [](double v) {
    uint8_t p[12];
    MdxPackDecimal(v, p);
    return Hex(p, 12);
  };
  EXPECT_EQ(packed(-2.5), "358925000000000000000000");
  EXPECT_EQ(packed(0), "340100000000000000000000");
  EXPECT_EQ(packed(1.0), "350910000000000000000000");
  EXPECT_EQ(packed(1e16).substr(0, 2), "45");
  EXPECT_EQ(packed(123.456), "371912345600000000000000");
  EXPECT_EQ(packed(-0.05), "338950000000000000000000");
  for (double v : {-2.5, 0.0, 1.0, 1e16, 123.456, -0.001, 9.99999999999999e17, 1e-40}) {
    uint8_t p[12];
    double back;
    MdxPackDecimal(v, p);
    ASSERT_TRUE(MdxUnpackDecimal(p, back));
    EXPECT_EQ(back, v);
  }

  TempDir dir;
  XBO_dBHandler t(MakeTable(dir, 10), "", true, false);
  AddTag(t, dir / "t.mdx", {"NA", "NA", "", false, false, "r['NA']", ""});
  const std::string bytes = platform::ReadFileBytes(dir / "t.mdx");
  ASSERT_EQ(bytes.size(), 4096u);  // header area, tag header, empty root
  EXPECT_EQ(Hex(bytes.data() + 20, 4), "02000004");
  const uint8_t* tag = reinterpret_cast<const uint8_t*>(bytes.data()) + 2048;
  EXPECT_EQ(GetLE16(tag + 18), 16);  // entry
  EXPECT_EQ(GetLE16(tag + 14), 62);  // keys per page
  EXPECT_EQ(Check(dir / "t.mdx", dir / "t.dbf", {{"NA", "NA", "", false, false, "r['NA']", "", true}}), "OK");
}

namespace {

// The six orders of the model test: text, numbers and dates, both ways;
// and a unique tag and one with a FOR condition.
const std::vector<TTagSpec> kModelTags = {
    {"NA", "NA", "", false, false, "r['NA']", ""},
    {"NAD", "NA", "", false, true, "r['NA']", ""},
    {"AU", "AU", "", false, false, "r['AU']", ""},
    {"AUD", "AU", "", false, true, "r['AU']", ""},
    {"BD", "BD", "", false, false, "r['BD']", ""},
    {"BDD", "BD", "", false, true, "r['BD']", ""},
    {"NAU", "NA", "", true, false, "r['NA']", ""},
    {"AUF", "AU", "AU > 0", false, true, "r['AU']", "r['AU'] > 0"},
};

// A record's fields, each with the moment its value last changed (equal
// keys lie in that order).
struct TModelRecord {
  std::string na;
  double au = 0, bd = 0;  // bd: the Julian day, 0 for none
  long naAt = 0, auAt = 0, bdAt = 0;
};

// The records of tag `spec` in the model's order.
std::vector<int> ModelOrder(const std::vector<TModelRecord>& recs, const TTagSpec& spec) {
  struct TKey {
    std::string text;
    double number;
    long at;
    int rec;
  };
  std::vector<TKey> keys;
  const char field = spec.expr[0];
  for (size_t i = 1; i < recs.size(); ++i) {
    const TModelRecord& r = recs[i];
    if (!spec.forExpr.empty() && !(r.au > 0)) continue;
    TKey k{r.na, field == 'A' ? r.au : r.bd > 0 ? r.bd : 1.0e100, field == 'N' ? r.naAt : field == 'A' ? r.auAt : r.bdAt,
           static_cast<int>(i)};
    keys.push_back(k);
  }
  auto less = [&](const TKey& a, const TKey& b) {
    if (field == 'N') return spec.descending ? b.text < a.text : a.text < b.text;
    return spec.descending ? b.number < a.number : a.number < b.number;
  };
  std::stable_sort(keys.begin(), keys.end(), [&](const TKey& a, const TKey& b) {
    if (less(a, b)) return true;
    if (less(b, a)) return false;
    return a.at < b.at;
  });
  std::vector<int> order;
  for (const TKey& k : keys) order.push_back(k.rec);
  return order;
}

std::vector<int> Records(const Keys& keys) {
  std::vector<int> recs;
  for (const auto& [k, rec] : keys) recs.push_back(rec);
  return recs;
}

}  // namespace

// Random appends, rewrites and deletions through the table handler on text
// keys of 10 and 239 bytes, numbers (negative, fractions, zero, 10^15 and
// more) and dates (the empty date last), both ways, with many equal keys:
// every tag holds the model's keys, and the checker passes the file.
TEST(MdxTable, TagsFollowAppendsRewritesAndDeletionsAsTheModelDoes) {
  const double numbers[] = {-1e15, -2.5, -0.01, 0, 0.25, 1, 3.75, 1e15, 2.5e15, 1.5e16, 123456789.12};
  for (int length : {10, 239}) {
    TempDir dir;
    const std::string table = MakeTable(dir, length);
    XBO_dBHandler t(table, "", true, false);
    for (const TTagSpec& spec : kModelTags) AddTag(t, dir / "t.mdx", spec);
    ASSERT_EQ(t.xbIndex(dir / "t.mdx", "NA"), 0);
    XBobjIndexFile& mdx = *t.IndexStack(1);
    ASSERT_EQ(mdx.TagCount(), static_cast<int>(kModelTags.size()));
    std::vector<TModelRecord> model(1);
    std::mt19937 rng(static_cast<unsigned>(length));
    long now = 0;
    auto name = [&] {
      std::string s;
      for (unsigned v = rng() % (length == 10 ? 40 : 15); s.size() < 3 + v % 5; v = v / 2 + 3) s += static_cast<char>('A' + v % 26);
      return s;
    };
    auto day = [&] { return rng() % 7 == 0 ? 0.0 : 2444240.0 + rng() % 40; };
    // The unique tag keeps the record that brought a key while it has it.
    std::map<std::string, int> holder;
    auto put = [&](TModelRecord& r, int rec, bool na, bool au, bool bd) {
      if (na) {
        const std::string v = name();
        if (v != r.na) {
          r.naAt = ++now;
          if (holder.count(r.na) && holder[r.na] == rec) holder.erase(r.na);
          holder.emplace(v, rec);
        }
        r.na = v;
        t.xbStringPut("NA", v);
      }
      if (au) {
        const double v = numbers[rng() % std::size(numbers)];
        if (v != r.au) r.auAt = ++now;
        r.au = v;
        t.xbNumberPut("AU", v);
      }
      if (bd) {
        const double v = day();
        if (v != r.bd) r.bdAt = ++now;
        r.bd = v;
        t.xbDatePut("BD", static_cast<int32_t>(v));
      }
    };
    const int steps = length == 10 ? 900 : 300;
    for (int step = 1; step <= steps; ++step) {
      const unsigned op = rng() % 10;
      if (op < 5 || t.NumRecs() == 0) {
        t.xbBlank();
        TModelRecord r;
        r.na = "\x01";  // no name yet
        put(r, t.NumRecs() + 1, true, true, true);
        r.naAt = r.auAt = r.bdAt = ++now;
        t.xbAppend();
        model.push_back(r);
      } else if (op < 9) {
        const int rec = 1 + static_cast<int>(rng() % static_cast<unsigned>(t.NumRecs()));
        t.xbGetRec(rec);
        put(model[static_cast<size_t>(rec)], rec, op == 5 || op == 8, op == 6 || op == 8, op == 7 || op == 8);
        t.xbPutRec(rec);
        // A write of a record whose key the unique tag refused tries again.
        holder.emplace(model[static_cast<size_t>(rec)].na, rec);
      } else {
        const int rec = 1 + static_cast<int>(rng() % static_cast<unsigned>(t.NumRecs()));
        t.xbGetRec(rec);
        const bool wasDeleted = t.xbDelFlag();
        t.xbDeleteRec();  // the keys stay
        if (!wasDeleted) holder.emplace(model[static_cast<size_t>(rec)].na, rec);
      }
      if (step % 300 != 0) continue;
      for (const TTagSpec& spec : kModelTags) {
        std::vector<int> expect;
        if (spec.unique) {
          for (const auto& [k, rec] : holder) expect.push_back(rec);
        } else {
          expect = ModelOrder(model, spec);
        }
        ASSERT_EQ(Records(Walk(*mdx.TagByName(spec.tag))), expect) << length << " " << spec.tag << " step " << step;
      }
      mdx.Flush();
      t.xbFlush();
      ASSERT_EQ(Check(dir / "t.mdx", table, kModelTags), "OK") << length << " step " << step;
    }
  }
}

namespace {

// A table of `n` records of names from a small pool, numbers and dates,
// some deleted.
std::string FilledTable(const TempDir& dir, int length, int n) {
  const std::string table = MakeTable(dir, length);
  XBO_dBHandler t(table, "", true, false);
  std::mt19937 rng(11);
  const double numbers[] = {-1e15, -2.5, -0.01, 0, 0.25, 1, 3.75, 1e15, 2.5e15, 1.5e16};
  for (int i = 0; i < n; ++i) {
    t.xbBlank();
    std::string s;
    for (unsigned v = rng() % 300; s.size() < 2 + v % 7; v = v / 2 + 5) s += static_cast<char>(0xC0 + v % 32);
    t.xbStringPut("NA", s);
    t.xbNumberPut("AU", numbers[rng() % std::size(numbers)] + (rng() % 3));
    if (rng() % 9) t.xbDatePut("BD", static_cast<int32_t>(2444240 + rng() % 500));
    t.xbAppend();
    if (rng() % 11 == 0) t.xbDeleteRec();
  }
  return table;
}

std::vector<TTagSpec> Built(std::vector<TTagSpec> tags) {
  for (TTagSpec& t : tags) t.built = true;
  return tags;
}

}  // namespace

// Every order built from 3,000 records (three levels of pages), then
// rebuilt, passes the checker with equal keys in record order and unique
// tags holding the first record of each key.
TEST(MdxTable, BuildsAndRebuildsPassTheChecker) {
  for (int length : {10, 239}) {
    TempDir dir;
    const std::string table = FilledTable(dir, length, length == 10 ? 3000 : 600);
    XBO_dBHandler t(table, "", true, false);
    for (const TTagSpec& spec : kModelTags) AddTag(t, dir / "t.mdx", spec);
    EXPECT_EQ(Check(dir / "t.mdx", table, Built(kModelTags)), "OK") << length;
    ASSERT_EQ(t.xbIndex(dir / "t.mdx", "AU"), 0);
    std::vector<Keys> before;
    for (const TTagSpec& spec : kModelTags) before.push_back(Walk(*t.IndexStack(1)->TagByName(spec.tag)));
    t.IndexStack(1)->Reindex();
    for (size_t i = 0; i < kModelTags.size(); ++i)
      EXPECT_EQ(Walk(*t.IndexStack(1)->TagByName(kModelTags[i].tag)), before[i]) << kModelTags[i].tag;
    t.xbIndexClear();
    EXPECT_EQ(Check(dir / "t.mdx", table, Built(kModelTags)), "OK") << length << " rebuilt";
  }
}

// 47 tags fill the tag table; a 48th is refused before anything is
// written; tags deleted leave the table in order, the last leaves a file
// of the header area alone.
TEST(MdxTable, FortySevenTagsAndNoMore) {
  TempDir dir;
  const std::string table = FilledTable(dir, 10, 200);
  XBO_dBHandler t(table, "", true, false);
  std::vector<TTagSpec> tags;
  for (int i = 0; i < 47; ++i) {
    const std::string name = "T" + std::to_string(100 - i);
    tags.push_back({name, i % 3 == 0 ? "NA" : i % 3 == 1 ? "AU" : "BD", "", false, i % 2 == 1,
                    i % 3 == 0 ? "r['NA']" : i % 3 == 1 ? "r['AU']" : "r['BD']", ""});
    AddTag(t, dir / "t.mdx", tags.back());
  }
  EXPECT_EQ(Check(dir / "t.mdx", table, Built(tags)), "OK");
  const std::string full = platform::ReadFileBytes(dir / "t.mdx");
  EXPECT_EQ(ErrorOf([&] { AddTag(t, dir / "t.mdx", {"X", "NA", "", false, false, "", ""}); }),
            "Access denied to file " + (dir / "t.mdx"));
  EXPECT_EQ(platform::ReadFileBytes(dir / "t.mdx"), full);
  // A tag of a name there already takes its place.
  tags[5].descending = !tags[5].descending;
  AddTag(t, dir / "t.mdx", tags[5]);
  EXPECT_EQ(Check(dir / "t.mdx", table, Built(tags)), "OK");

  ASSERT_EQ(t.xbIndex(dir / "t.mdx", ""), 0);
  XBobjIndexFile& mdx = *t.IndexStack(1);
  while (tags.size() > 1) {
    const size_t i = tags.size() / 2;
    ASSERT_TRUE(mdx.DeleteTag(tags[i].tag));
    tags.erase(tags.begin() + static_cast<long>(i));
    if (tags.size() % 10 == 0) {
      mdx.Flush();
      ASSERT_EQ(Check(dir / "t.mdx", table, Built(tags)), "OK") << tags.size();
    }
  }
  EXPECT_FALSE(mdx.DeleteTag("NONE"));
  ASSERT_TRUE(mdx.DeleteTag(tags[0].tag));
  t.xbIndexClear();
  const std::string empty = platform::ReadFileBytes(dir / "t.mdx");
  EXPECT_EQ(empty.size(), 2048u);
  EXPECT_EQ(Check(dir / "t.mdx", table, {}), "OK");
}

// Files of another writer's settings: pages taken four blocks apart, and
// nodes of 63 keys of 10 bytes.
TEST(MdxTable, OtherWritersSettingsRead) {
  TempDir dir;
  const std::string table = FilledTable(dir, 10, 3000);
  XBO_dBHandler t(table, "", true, false);
  AddTag(t, dir / "t.mdx", kModelTags[0]);
  ASSERT_EQ(t.xbIndex(dir / "t.mdx", "NA"), 0);
  const Keys walk = Walk(*t.IndexMaster());
  t.xbIndexClear();
  std::string bytes = platform::ReadFileBytes(dir / "t.mdx");
  bytes[20] = 4;
  platform::WriteFileBytes(dir / "four.mdx", bytes);
  ASSERT_EQ(t.xbIndex(dir / "four.mdx", "NA"), 0);
  EXPECT_EQ(Walk(*t.IndexMaster()), walk);
  t.xbIndexClear();

  // 63 keys a page: a rebuild fills the pages to it; adds go on from there.
  bytes = platform::ReadFileBytes(dir / "t.mdx");
  bytes[2048 + 14] = 63;
  platform::WriteFileBytes(dir / "t.mdx", bytes);
  ASSERT_EQ(t.xbIndex(dir / "t.mdx", "NA"), 0);
  EXPECT_EQ(Walk(*t.IndexMaster()), walk);
  t.IndexStack(1)->Reindex();
  EXPECT_EQ(Walk(*t.IndexMaster()), walk);
  t.IndexStack(1)->Flush();
  bytes = platform::ReadFileBytes(dir / "t.mdx");
  int full = 0;
  for (size_t at = 4096; at + 1024 <= bytes.size(); at += 1024)
    if (GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + at) == 63) ++full;
  EXPECT_GE(full, 40);
  for (int i = 0; i < 3000; ++i) {
    t.xbBlank();
    t.xbStringPut("NA", "Z" + std::to_string(i % 500));
    t.xbAppend();
  }
  const Keys grown = Walk(*t.IndexMaster());
  EXPECT_EQ(grown.size(), 6000u);
  t.xbIndexClear();
  ASSERT_EQ(t.xbIndex(dir / "t.mdx", "NA"), 0);
  EXPECT_EQ(Walk(*t.IndexMaster()), grown);
  t.xbIndexClear();

  // The file whose pages lie four blocks apart, rebuilt and kept through
  // adds: its pages go on four blocks apart.
  ASSERT_EQ(t.xbIndex(dir / "four.mdx", "NA"), 0);
  t.IndexStack(1)->Reindex();
  EXPECT_EQ(Walk(*t.IndexMaster()), grown);
  for (int i = 0; i < 500; ++i) {
    t.xbBlank();
    t.xbStringPut("NA", "Y" + std::to_string(i % 50));
    t.xbAppend();
  }
  EXPECT_EQ(Walk(*t.IndexMaster()).size(), 6500u);
  t.xbIndexClear();
  EXPECT_EQ(Check(dir / "four.mdx", table, {kModelTags[0]}), "OK");
}

// The peer lists our tags, and the keys and records of our text tags in
// our order; of numeric and date tags the records.
TEST(MdxTable, APeerListsOurTagsInOurOrder) {
  TempDir dir;
  const std::string table = FilledTable(dir, 10, 3000);
  XBO_dBHandler t(table, "", true, false);
  for (const TTagSpec& spec : kModelTags) AddTag(t, dir / "t.mdx", spec);
  ASSERT_EQ(t.xbIndex(dir / "t.mdx", "NA"), 0);
  std::map<std::string, Keys> ours;
  for (const TTagSpec& spec : kModelTags) ours[spec.tag] = Walk(*t.IndexStack(1)->TagByName(spec.tag));
  t.xbIndexClear();
  std::vector<std::string> names;
  for (const std::string& line : Lines(RunOut("index_dump " + Sh(dir / "t.mdx"))))
    if (!line.empty()) names.push_back(line.substr(0, line.find(' ')));
  std::vector<std::string> expect;
  for (const TTagSpec& spec : kModelTags) expect.push_back(spec.tag);
  std::sort(expect.begin(), expect.end());
  EXPECT_EQ(names, expect);
  for (const TTagSpec& spec : kModelTags) {
    std::vector<int> peer;
    if (spec.expr == "NA") {
      Keys listed;
      for (const std::string& line : Lines(RunOut("index_dump --tag " + spec.tag + " " + Sh(dir / "t.mdx")))) {
        const size_t cut = line.find_last_of(' ');
        std::string key = line.substr(0, cut);
        key.erase(key.find_last_not_of(' ') + 1);
        listed.emplace_back(key, std::stoi(line.substr(cut + 1)));
      }
      EXPECT_EQ(listed, ours[spec.tag]) << spec.tag;
      continue;
    }
    const std::string perl =
        "perl -MXBase::Index -e '$i = XBase::Index->new($ARGV[0], tag => $ARGV[1]) or die XBase::Index->errstr; "
        "$i->prepare_select; while (my @d = $i->fetch) { print \"$d[1]\\n\" }' ";
    for (const std::string& line : Lines(RunOut(perl + Sh(dir / "t.mdx") + " " + spec.tag))) peer.push_back(std::stoi(line));
    EXPECT_EQ(peer, Records(ours[spec.tag])) << spec.tag;
  }
}

namespace {

const std::string kMdxData = kXbData + "mdx/";

// Opens `path` over the table and walks every tag both ways.
void OpenAndWalk(TIndexedTable& table, const std::string& path) {
  XBobjMDXFile mdx(&table, path, false, false, false, false);
  for (int i = 0; i < mdx.TagCount(); ++i) {
    Walk(*mdx.TagByNumber(i));
    Walk(*mdx.TagByNumber(i), false);
  }
}

}  // namespace

// Each damaged file (tests/data/xbase/mdx, one broken rule each, made from
// base.mdx) is refused with 65141 when it is opened or walked.
TEST(MdxFile, DamagedFilesRaiseCorruptedAndNothingWorse) {
  TempDir dir;
  platform::WriteFileBytes(dir / "base.dbf", platform::ReadFileBytes(kMdxData + "base.dbf"));
  TIndexedTable table(dir / "base.dbf", false);
  const char* damaged[] = {
      "byte0-not-2.mdx",          "page-size-not-blocks.mdx",       "page-size-over-4096.mdx",
      "page-size-over-unit.mdx",  "tag-count-48.mdx",               "tag-count-over-room.mdx",
      "tag-header-outside.mdx",   "tag-header-in-header-area.mdx",  "tag-name-unterminated.mdx",
      "tag-table-type-X.mdx",     "key-type-X.mdx",                 "number-key-length-10.mdx",
      "date-key-length-12.mdx",   "text-key-length-0.mdx",          "entry-length-wrong.mdx",
      "max-keys-0.mdx",           "max-keys-past-page.mdx",         "root-outside.mdx",
      "root-in-header-area.mdx",  "child-outside.mdx",              "child-in-header-area.mdx",
      "child-cycle.mdx",          "count-past-max.mdx",             "packed-decimal-21-digits.mdx",
      "key-expression-unterminated.mdx", "for-expression-unterminated.mdx", "truncated-page.mdx",
      "date-tag-text-expression.mdx"};
  for (const char* name : damaged) {
    const std::string path = dir / name;
    platform::WriteFileBytes(path, platform::ReadFileBytes(kMdxData + name));
    EXPECT_EQ(ErrorOf([&] { OpenAndWalk(table, path); }), "Index file " + path + " is corrupted") << name;
  }
  platform::WriteFileBytes(dir / "base.mdx", platform::ReadFileBytes(kMdxData + "base.mdx"));
  EXPECT_EQ(ErrorOf([&] { OpenAndWalk(table, dir / "base.mdx"); }), "");
}

// Every byte of the first 4 KB of our file (header, tag table, a tag's
// header page and its first leaf) changed in turn: each change ends in
// reading the tags or in 65141 (or, within the key expression, its own
// error).
TEST(MdxFile, SingleByteCorruptionsEndInAWalkOrCorrupted) {
  TempDir dir;
  platform::WriteFileBytes(dir / "base.dbf", platform::ReadFileBytes(kMdxData + "base.dbf"));
  const std::string good = platform::ReadFileBytes(kMdxData + "base.mdx");
  const std::string path = dir / "base.mdx";
  platform::WriteFileBytes(path, good);
  TIndexedTable table(dir / "base.dbf", false);
  platform::TFile file(path, platform::fmOpenReadWrite);
  int walks = 0, refused = 0;
  // Every byte of the first two blocks (under the sanitizers every fifth).
  for (size_t at = 0; at < 4096; at += looptest::Step(5)) {
    const char bad = static_cast<char>(good[at] ^ 0xFF);
    file.WriteAt(static_cast<int64_t>(at), &bad, 1);
    try {
      // A tag's first and last keys: the pages on their paths are read
      // whole, and the pages changed here lie there.
      XBobjMDXFile mdx(&table, path, false, true, false, false);
      for (int i = 0; i < mdx.TagCount(); ++i) {
        mdx.TagByNumber(i)->ReadTopKey();
        mdx.TagByNumber(i)->ReadBottomKey();
      }
      ++walks;
    } catch (const EXBaseError& e) {
      ASSERT_EQ(std::string(e.what()), "Index file " + path + " is corrupted") << at;
      ++refused;
    } catch (const EXBaseExpression&) {
      ASSERT_TRUE(at >= 2048 + 24 && at < 2048 + 245) << at;
      ++refused;
    }
    file.WriteAt(static_cast<int64_t>(at), &good[at], 1);
  }
  EXPECT_GT(walks, 0);
  EXPECT_GT(refused, 0);
}

// Tag names are cut to 10 characters and upper-cased before the same-name
// rule; an MDX file named as its table marks the table's production index.
TEST(MdxTable, TagNamesAndTheProductionIndex) {
  TempDir dir;
  const std::string table = FilledTable(dir, 10, 20);
  XBO_dBHandler t(table, "", true, false);
  AddTag(t, dir / "t.mdx", {"authorNames1", "NA", "", false, false, "r['NA']", ""});
  AddTag(t, dir / "t.mdx", {"AUTHORNAMES2", "AU", "", false, false, "r['AU']", ""});  // the same name
  ASSERT_EQ(t.xbIndex(dir / "t.mdx", "authorname"), 0);
  EXPECT_EQ(t.IndexStack(1)->TagCount(), 1);
  EXPECT_EQ(t.IndexMaster()->TagName(), "AUTHORNAME");
  EXPECT_EQ(t.IndexMaster()->KeyType(), 'N');
  t.xbIndexClear();
  EXPECT_EQ(Check(dir / "t.mdx", table, {{"AUTHORNAME", "AU", "", false, false, "r['AU']", "", true}}), "OK");
  EXPECT_EQ(platform::ReadFileBytes(table)[28], 1);

  // A text key of 240 bytes is refused before anything is written.
  TempDir wide;
  XBO_dBHandler w(MakeTable(wide, 240), "", true, false);
  AddTag(w, wide / "w.mdx", kModelTags[2]);
  const std::string before = platform::ReadFileBytes(wide / "w.mdx");
  EXPECT_EQ(ErrorOf([&] { AddTag(w, wide / "w.mdx", kModelTags[0]); }), "Sort key length must be 1-239 bytes, is 240");
  EXPECT_EQ(platform::ReadFileBytes(wide / "w.mdx"), before);
}
