// NTX indexes on real tables: keys kept in step with appends, rewrites and
// deletions against a model, the change counter seen by another opener,
// zap and rebuild, and the files listed by a peer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/IndexedTable.h"
#include "tests/xbase/NdxReader.h"
#include "tests/xbase/NtxReader.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/ntx_format.h"
#include "xbase/table/table_builders.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;

// A table of NA C(`length`) and AU N(10,2).
std::string NameTable(const TempDir& dir, int length) {
  XBO_DBFBuild b(dir / "t.dbf");
  b.InsertField("NA", "C", length, 0);
  b.InsertField("AU", "N", 10, 2);
  b.Complete();
  return b.FileName();
}

// A name from a small pool of Latin and Cyrillic capitals, so that equal
// keys occur.
std::string PoolName(std::mt19937& rng, int pool) {
  const unsigned n = rng() % static_cast<unsigned>(pool);
  std::string s;
  for (unsigned v = n * 7919 + 13; s.size() < 2 + n % 9; v = v / 3 + 7)
    s += static_cast<char>(v % 3 == 0 ? 0xC0 + v % 32 : 'A' + v % 26);
  return s;
}

// The records of a walk.
std::vector<int> Records(const Keys& keys) {
  std::vector<int> recs;
  for (const auto& [k, rec] : keys) recs.push_back(rec);
  return recs;
}

// index_dump's listing of an NTX file as (key, record), keys of
// `keyLength` bytes.
Keys PeerListing(const std::string& path, size_t keyLength) {
  Keys keys;
  std::istringstream in(CommandOutput("index_dump --type=char --tag x " + Sh(path) + " 2>&1"));
  for (std::string line; std::getline(in, line);) {
    if (line.size() <= keyLength) {
      keys.emplace_back("?" + line, 0);  // not a listing line
      continue;
    }
    keys.emplace_back(line.substr(0, keyLength), std::stoi(line.substr(keyLength)));
  }
  return keys;
}

}  // namespace

// Random appends, rewrites and deletions through the table handler, on
// keys of 10 and 250 bytes and on numbers, ascending and descending: the
// tags hold the model's keys, equal keys in the order they came (a
// rewritten key after its equals).
TEST(NtxTable, KeysFollowAppendsRewritesAndDeletionsAsTheModelDoes) {
  for (int length : {10, 250}) {
    for (bool ascending : {true, false}) {
      const std::string what = std::to_string(length) + (ascending ? " ascending" : " descending");
      TempDir dir;
      XBO_dBHandler t(NameTable(dir, length), "", true, false);
      const XBsetSortStatus order = ascending ? XBsetSortStatus::Ascending : XBsetSortStatus::Descending;
      t.xbIndexTo(dir / "NA.ntx", "", "NA", "", XBsetIndexUnique::Duplicates, order);
      t.xbIndexTo(dir / "AU.ntx", "", "AU", "", XBsetIndexUnique::Duplicates, order);
      ASSERT_EQ(t.xbIndex(dir / "NA.ntx;" + dir / "AU.ntx", "NA"), 0);
      XBobjIndexTag& names = *t.IndexStack(1)->TagByNumber(0);
      XBobjIndexTag& numbers = *t.IndexStack(2)->TagByNumber(0);
      EXPECT_EQ(numbers.KeyLength(), 10);
      std::function<bool(const std::string&, const std::string&)> byName = [&](const std::string& a,
                                                                                const std::string& b) {
        return ascending ? a < b : b < a;
      };
      std::function<bool(double, double)> byNumber = [&](double a, double b) { return ascending ? a < b : b < a; };
      std::multimap<std::string, int, decltype(byName)> nameModel(byName);
      std::multimap<double, int, decltype(byNumber)> numberModel(byNumber);
      std::vector<std::string> nameOf(1);
      std::vector<double> numberOf(1);
      std::mt19937 rng(length * 2 + (ascending ? 1 : 0));
      auto update = [&](auto& model, const auto& oldKey, const auto& newKey, int rec) {
        if (oldKey == newKey) return;
        for (auto it = model.begin(); it != model.end(); ++it)
          if (it->second == rec) {
            model.erase(it);
            break;
          }
        model.emplace(newKey, rec);
      };
      const int steps = length == 10 ? 1500 : 300;
      for (int step = 0; step < steps; ++step) {
        const unsigned op = rng() % 10;
        const std::string name = PoolName(rng, length == 10 ? 60 : 20);
        const double number = static_cast<double>(static_cast<int>(rng() % 2001) - 1000) / 4;
        if (op < 5 || t.NumRecs() == 0) {
          t.xbBlank();
          t.xbStringPut("NA", name);
          t.xbNumberPut("AU", number);
          t.xbAppend();
          const int rec = t.RecNumber();
          nameOf.push_back(name);
          numberOf.push_back(number);
          nameModel.emplace(name, rec);
          numberModel.emplace(number, rec);
        } else if (op < 9) {
          const int rec = 1 + static_cast<int>(rng() % static_cast<unsigned>(t.NumRecs()));
          t.xbGetRec(rec);
          if (op < 7) t.xbStringPut("NA", name);
          if (op > 5) t.xbNumberPut("AU", number);
          t.xbPutRec(rec);
          if (op < 7) update(nameModel, nameOf[static_cast<size_t>(rec)], name, rec);
          if (op > 5) update(numberModel, numberOf[static_cast<size_t>(rec)], number, rec);
          if (op < 7) nameOf[static_cast<size_t>(rec)] = name;
          if (op > 5) numberOf[static_cast<size_t>(rec)] = number;
        } else {
          // A deleted record keeps its keys.
          t.xbGetRec(1 + static_cast<int>(rng() % static_cast<unsigned>(t.NumRecs())));
          t.xbDeleteRec();
        }
        if (step % 300 != 299) continue;
        std::vector<int> expectNames, expectNumbers;
        for (const auto& [k, rec] : nameModel) expectNames.push_back(rec);
        for (const auto& [k, rec] : numberModel) expectNumbers.push_back(rec);
        ASSERT_EQ(Records(Walk(names)), expectNames) << what << " step " << step;
        ASSERT_EQ(Records(Walk(numbers)), expectNumbers) << what << " step " << step;
        for (int slot : {1, 2}) {
          t.IndexStack(slot)->Flush();
          RawNtx raw(t.IndexStack(slot)->GetFileName());
          ASSERT_TRUE(raw.Walk()) << raw.error << " " << what;
          ASSERT_EQ(Records(raw.keys), slot == 1 ? expectNames : expectNumbers) << what << " step " << step;
          EXPECT_EQ(raw.keyless, 0) << what << " step " << step;
        }
      }
    }
  }
}

// A page below the root left without a key is damage to other programs:
// their walks stop or skip what lies below it. Renaming away exactly the
// second leaf's keys of a bulk-built NTX, and random renames, in NTX and
// NDX: every key is where the layout says, no page but the root keyless.
TEST(NtxTable, EmptiedPagesLeaveTheTreeInNtxAndNdx) {
  auto name = [](char letter, int n) {
    char s[16];
    std::snprintf(s, sizeof s, "%c%05d", letter, n);
    return std::string(s);
  };
  for (const char* ext : {".ntx", ".ndx"}) {
    for (int seed : {0, 1, 2}) {
      const std::string what = std::string(ext) + " seed " + std::to_string(seed);
      TempDir dir;
      XBO_dBHandler t(NameTable(dir, 20), "", true, false);  // NTX leaves of 25 keys
      std::vector<std::string> nameOf(101);
      for (int rec = 1; rec <= 100; ++rec) {
        t.xbBlank();
        t.xbStringPut("NA", nameOf[static_cast<size_t>(rec)] = name('K', rec));
        t.xbAppend();
      }
      const std::string path = dir / (std::string("NA") + ext);
      t.xbIndexTo(path, "", "NA", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
      ASSERT_EQ(t.xbIndex(path, "NA"), 0);
      std::mt19937 rng(static_cast<unsigned>(seed));
      for (int n = 0; n < (seed == 0 ? 25 : 400); ++n) {
        // Seed 0: records 27-51 become Z00027-Z00051; otherwise unique
        // names anywhere in the order.
        const int rec = seed == 0 ? 27 + n : 1 + static_cast<int>(rng() % 100);
        const std::string fresh = seed == 0 ? name('Z', rec) : name(static_cast<char>('A' + rng() % 26), n * 100 + rec);
        t.xbGetRec(rec);
        t.xbStringPut("NA", fresh);
        t.xbPutRec(rec);
        nameOf[static_cast<size_t>(rec)] = fresh;
      }
      t.IndexStack(1)->Flush();
      Keys expected;
      for (int rec = 1; rec <= 100; ++rec) expected.emplace_back(nameOf[static_cast<size_t>(rec)], rec);
      std::sort(expected.begin(), expected.end());
      if (std::string(ext) == ".ntx") {
        RawNtx raw(path);
        ASSERT_TRUE(raw.Walk()) << raw.error << " " << what;
        EXPECT_EQ(raw.TrimmedKeys(), expected) << what;
        EXPECT_EQ(raw.keyless, 0) << what;
      } else {
        RawNdx raw(path);
        Keys walked;
        for (const RawEntry& e : raw.Walk()) walked.emplace_back(e.key, e.rec);
        EXPECT_EQ(walked, expected) << what;
        EXPECT_EQ(raw.keyless, 0) << what;
        EXPECT_EQ(PeerListing(path), expected) << what;  // index_dump
      }
    }
  }
}

// Another program's change (its counter in the header) makes the next
// relative move reopen the tag at the table's record.
TEST(NtxTable, AChangedCounterMakesTheNextMoveReopen) {
  TempDir dir;
  TIndexedTable t(NameTable(dir, 10));
  for (int i = 1; i <= 200; ++i) {
    t.xbBlank();
    t.xbNumberPut("AU", i);
    t.xbAppend();
  }
  {
    XBobjNTXFile build(&t, "AU", true, false, true, true);
    ASSERT_TRUE(build.AddTag("AU", "AU", "", true, false));
  }
  XBobjNTXFile ntx(&t, "AU", true, true, false, false);
  XBobjNTXTag& tag = *ntx.Tag();
  ASSERT_EQ(tag.KeyRead(-3), 1);
  EXPECT_EQ(tag.KeyRead(-1), 2);  // no change: the tag moves on
  t.xbGetRec(150);
  {
    // A second opener writes a key: the counter in the header changes.
    XBobjNTXFile other(&t, "AU", true, true, false, false);
    other.TagUpdate(150, false);
    EXPECT_EQ(other.ChangeCounter(), 2);
  }
  EXPECT_EQ(tag.KeyRead(-1), 151);  // reopened at record 150
  EXPECT_EQ(ntx.ChangeCounter(), 2);
  EXPECT_EQ(tag.KeyRead(-1), 152);

  platform::TFile raw(ntx.GetFileName(), platform::fmOpenReadWrite);
  const uint8_t top[2] = {0xFF, 0x7F};  // 32767: the next change makes it 1
  raw.WriteAt(2, top, 2);
  t.xbGetRec(20);
  EXPECT_EQ(tag.KeyRead(-2), 19);
  ntx.TagUpdate(20, false);
  EXPECT_EQ(ntx.ChangeCounter(), 1);
}

// Zap leaves the header and an empty root; keys added after it, and a
// rebuild, start again from there.
TEST(NtxTable, ZapAndRebuild) {
  TempDir dir;
  TIndexedTable t(NameTable(dir, 10));
  for (int i = 1; i <= 300; ++i) {
    t.xbBlank();
    t.xbStringPut("NA", "N" + std::to_string(i % 37));
    t.xbAppend();
  }
  XBobjNTXFile ntx(&t, "NA", true, false, true, true);
  ASSERT_TRUE(ntx.AddTag("NA", "NA", "", true, false));
  const Keys built = Walk(*ntx.Tag());
  ntx.Zap();
  ntx.Flush();
  RawNtx raw(ntx.GetFileName());
  EXPECT_EQ(raw.bytes.size(), 2048u);
  EXPECT_EQ(raw.U32(4), 1024u);
  EXPECT_EQ(raw.U16(2), 1);
  EXPECT_EQ(raw.U16(1024), 0);
  for (int i = 1; i <= 300; ++i) ASSERT_TRUE(AddText(*ntx.Tag(), "K" + std::to_string(i), i));
  EXPECT_EQ(Walk(*ntx.Tag()).size(), 300u);
  ntx.Reindex();
  EXPECT_EQ(Walk(*ntx.Tag()), built);
  ntx.Flush();
  raw = RawNtx(ntx.GetFileName());
  ASSERT_TRUE(raw.Walk(true)) << raw.error;
  EXPECT_EQ(raw.keys.size(), 300u);
}

// The peer lists our files, grown by adds and bulk-built, with keys of 10,
// 120 and 250 bytes (the last thirteen levels deep), in our order.
TEST(NtxTable, APeerListsOurFilesInOurOrder) {
  for (int length : {10, 120, 250}) {
    for (bool bulk : {false, true}) {
      const std::string what = std::to_string(length) + (bulk ? " built" : " grown");
      TempDir dir;
      TIndexedTable t(NameTable(dir, length));
      std::mt19937 rng(static_cast<unsigned>(length));
      const int records = length == 250 ? 12300 : 3000;
      XBobjNTXFile ntx(&t, "NA", true, false, true, true);
      if (!bulk) {
        ASSERT_TRUE(ntx.AddTag("NA", "NA", "", true, false));
      }
      for (int i = 1; i <= records; ++i) {
        t.xbBlank();
        t.xbStringPut("NA", PoolName(rng, 500) + std::string(static_cast<size_t>(length > 20 ? length - 20 : 0), 'x'));
        if (!bulk) t.Indexes = {&ntx};
        t.xbAppend();
      }
      t.Indexes.clear();
      if (bulk) {
        ASSERT_TRUE(ntx.AddTag("NA", "NA", "", true, false));
      }
      Keys ours = Walk(*ntx.Tag());
      for (auto& [k, rec] : ours) k.resize(static_cast<size_t>(length), ' ');
      ntx.CloseFile();
      if (length == 250) {
        RawNtx raw(dir / "NA.ntx");
        ASSERT_TRUE(raw.Walk()) << raw.error;
        EXPECT_GE(raw.depth, bulk ? 13 : 12) << what;
      }
      EXPECT_EQ(PeerListing(dir / "NA.ntx", static_cast<size_t>(length)), ours) << what;
    }
  }
}

// A tag with a FOR condition (signature 7, which the peer refuses) is
// listed through a copy that says 6.
TEST(NtxTable, APeerListsAConditionalTagThroughACopy) {
  TempDir dir;
  TIndexedTable t(NameTable(dir, 10));
  std::mt19937 rng(3);
  for (int i = 1; i <= 500; ++i) {
    t.xbBlank();
    t.xbStringPut("NA", PoolName(rng, 50));
    t.xbNumberPut("AU", i % 3);
    t.xbAppend();
  }
  XBobjNTXFile ntx(&t, "NA", true, false, true, true);
  ASSERT_TRUE(ntx.AddTag("NA", "NA", "AU > 0", false, false));
  Keys ours = Walk(*ntx.Tag());
  for (auto& [k, rec] : ours) k.resize(10, ' ');
  ntx.CloseFile();
  std::string bytes = platform::ReadFileBytes(dir / "NA.ntx");
  ASSERT_EQ(bytes.substr(0, 2), std::string("\x07\x00", 2));
  bytes[0] = 6;
  platform::WriteFileBytes(dir / "copy.ntx", bytes);
  EXPECT_EQ(ours.size(), 334u);  // AU of 1 and 2
  EXPECT_EQ(PeerListing(dir / "copy.ntx", 10), ours);
}

// A search text of plain digits on a numeric tag (N(10,2) here) makes its
// key straight from the digits; it must find what the same number written
// with decimals finds, which goes through the number. Blanks, leading
// zeros, zero, a number too wide for the key, and more digits than a
// double holds exactly.
TEST(NtxTable, PlainDigitsFindWhatTheSameNumberFinds) {
  TempDir dir;
  const std::string table = NameTable(dir, 10);
  {
    XBO_dBHandler t(table, "", true, false);
    for (const char* au : {"0", "7", "42", "1234567", "9999999.99", "42.5"}) {
      t.xbBlank();
      t.xbStringPutN(2, au);
      t.xbAppend();
    }
    t.xbIndexTo(dir / "au.ntx", "", "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    ASSERT_EQ(t.xbIndex(dir / "au.ntx", "AU"), 0);
    t.SetxbvExactMatch(true);
    for (const char* digits : {"0", "000", " 7 ", "0042", "42", "1234567", "9999999", "10000000", "123456789012",
                               "1234567890123456"}) {
      const bool found = t.xbFind(digits);
      const int rec = t.File_EOF() ? 0 : t.RecNumber();
      std::string number(digits);
      std::erase(number, ' ');
      EXPECT_EQ(t.xbFind(number + ".0"), found) << digits;
      EXPECT_EQ(t.File_EOF() ? 0 : t.RecNumber(), rec) << digits;
    }
    EXPECT_TRUE(t.xbFind("0042") && t.RecNumber() == 3);
  }
}
