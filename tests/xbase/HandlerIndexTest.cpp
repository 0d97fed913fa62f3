// The table handler with index files: walks through a tag beside what
// dbfread lists, the stack of open files and the active tag, keys kept in
// step with appends and rewrites (the catalogue's author index, read back
// by Perl's index_dump), shared tables, rebuilding, renaming, the table
// password with indexes and memos, and the engine's shutdown under a handler
// still alive.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/FilterTable.h"
#include "tests/xbase/HandlerIndexUtil.h"
#include "tests/xbase/NdxReader.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/disk_file.h"
#include "xbase/handler/table_handler.h"
#include "xbase/table/memo_files.h"

using namespace xbase;

namespace {

std::string TrimR(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// Every record shown from the top, as (recno, field 1 trimmed).
std::vector<std::pair<int, std::string>> Walk(XBO_dBHandler& t, bool forward = true) {
  std::vector<std::pair<int, std::string>> rows;
  for (t.xbGetRec(forward ? xbRecTop : xbRecBottom); t.xbvRecRead(); t.xbGetRec(forward ? xbRecNext : xbRecPrior))
    rows.emplace_back(t.RecNumber(), t.xbStringGetN(t.NumFields() > 1 ? 2 : 1));
  return rows;
}

// The same rows in key order: by the 1251 upper case of `key`'s field
// (1-based), equal keys in record order.
std::vector<std::pair<int, std::string>> KeyOrder(XBO_dBHandler& t, int keyField) {
  std::vector<std::pair<AnsiString, std::pair<int, std::string>>> keyed;
  const bool wasDeleted = t.UseDeletedRec();
  for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext))
    keyed.push_back({platform::AnsiUpperCase(TrimR(t.xbFieldGetN(keyField))),
                     {t.RecNumber(), t.xbStringGetN(t.NumFields() > 1 ? 2 : 1)}});
  t.SetUseDeletedRec(wasDeleted);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::pair<int, std::string>> rows;
  for (auto& k : keyed) rows.push_back(k.second);
  return rows;
}

void AppendAuthor(XBO_dBHandler& t, int id, const AnsiString& name) {
  t.xbBlank();
  t.xbNumberPutN(1, id);
  t.xbStringPutN(2, name);
  t.xbAppend();
}

// Names in 1251 with repeats and case variants, reproducibly.
std::vector<AnsiString> AuthorNames(int n, unsigned seed) {
  static const char* stems[] = {"Толстой", "толстой", "Zola", "ZOLA", "Ёжиков", "ёлкин", "Abel", "Бунин",
                                "Чехов",   "Ахматова", "Шукшин", "Іван", "Ґалаґан", "Pushkin"};
  std::mt19937 rng(seed);
  std::vector<AnsiString> names;
  for (int i = 0; i < n; ++i) {
    AnsiString s = platform::Utf8ToAnsi(stems[rng() % std::size(stems)]);
    if (rng() % 3) s += " " + std::to_string(rng() % 50);
    names.push_back(s);
  }
  return names;
}

// The keys a tag walk meets, in order, with their records.
std::vector<std::pair<std::string, int>> KeysOf(XBO_dBHandler& t) {
  std::vector<std::pair<std::string, int>> keys;
  AnsiString key;
  for (int rn = t.xbGetKey(xbRecTop, key); rn > 0; rn = t.xbGetKey(xbRecNext, key)) keys.emplace_back(TrimR(key), rn);
  return keys;
}

class NavIndexTables : public ::testing::Test {
 protected:
  void SetUp() override { RunOut(kXbPeer + " navtables " + Sh(dir.path())); }
  TempDir dir;
};

}  // namespace

TEST_F(NavIndexTables, TagWalksListWhatDbfreadLists) {
  const std::string path = dir / "nav.dbf";
  XBO_dBHandler t(path, "", true, false);
  ASSERT_EQ(t.xbIndexTo("NAV", "ignored", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
  EXPECT_EQ(t.xbIndexFileIsOpen("nav.ndx"), 0);  // left closed
  ASSERT_EQ(t.xbIndexRoute("nav"), 0);
  EXPECT_EQ(t.xbSetTagTo(" nav ", false), 1);
  EXPECT_EQ(t.PrimaryTagName(), "NAV");
  EXPECT_FALSE(t.CacheRead());

  const auto all = KeyOrder(t, 1);
  ASSERT_EQ(all.size(), 12u);
  EXPECT_EQ(Walk(t), all);
  auto back = Walk(t, false);
  EXPECT_TRUE(t.File_TOF());
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, all);

  // Hidden deleted records: the walk lists dbfread's live records.
  t.SetUseDeletedRec(false);
  std::vector<std::pair<int, std::string>> live;
  for (const auto& r : all) {
    t.xbGetRec(r.first);
    if (!t.xbDelFlag()) live.push_back(r);
  }
  EXPECT_EQ(Walk(t), live);
  std::multiset<std::string> peer, ours;
  for (const std::string& l : Lines(RunOut(kXbPeer + " dbfread " + Sh(path))))
    if (l.rfind("V ", 0) == 0) peer.insert(FromHex(l.substr(2, l.find('|') - 2)));
  for (const auto& r : live) {
    t.xbGetRec(r.first);
    ours.insert(TrimR(t.xbFieldGetN(1)));
  }
  EXPECT_EQ(ours, peer);
  back = Walk(t, false);
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, live);

  // Skips count shown records through the tag; jumps (everything shown)
  // stop on the last key with File_EOF.
  t.xbGetRec(xbRecTop);
  t.xbSkip(3);
  EXPECT_EQ(t.RecNumber(), live[3].first);
  t.xbSkip(-10);
  EXPECT_TRUE(t.File_TOF());
  t.SetUseDeletedRec(true);
  t.xbGetRec(all[2].first);
  t.xbSkip(100);
  EXPECT_EQ(t.RecNumber(), all.back().first);
  EXPECT_TRUE(t.File_EOF());
  t.xbSkip(-4);
  EXPECT_EQ(t.RecNumber(), all[all.size() - 5].first);
  EXPECT_FALSE(t.File_EOF());
  t.xbGetRec(all[5].first);
  EXPECT_EQ(t.xbRecordCount(true), 12);
  EXPECT_EQ(t.RecNumber(), all[5].first);
  t.xbGetRec(xbRecNext);
  EXPECT_EQ(t.RecNumber(), all[6].first);
}

TEST_F(NavIndexTables, ForConditionLeavesRecordsOutOfTheTag) {
  XBO_dBHandler t(dir / "nav.dbf", "", true, false);
  t.xbIndexTo("pos.ntx", "", "upper(NAME)", "QTY > 0", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ASSERT_EQ(t.xbIndex("pos.ntx", "POS"), 0);
  std::vector<int> positive;
  for (const auto& r : KeyOrder(t, 1)) {
    t.xbGetRec(r.first);
    if (t.xbNumberGetN(2) > 0) positive.push_back(r.first);
  }
  std::vector<int> walked;
  for (const auto& r : Walk(t)) walked.push_back(r.first);
  EXPECT_EQ(walked, positive);
  t.xbGetRec(positive[1]);
  EXPECT_FALSE(t.ResyncIndex());
  int outside = 1;
  while (std::count(positive.begin(), positive.end(), outside)) ++outside;
  t.xbGetRec(outside);
  EXPECT_TRUE(t.ResyncIndex());  // the tag cannot stand on it
  EXPECT_EQ(t.RecNumber(), outside);

  // A rewrite that makes the record pass brings its key into the tag.
  t.xbNumberPutN(2, 99);
  t.xbPutRec(outside);
  EXPECT_FALSE(t.ResyncIndex());
  EXPECT_TRUE(t.ActiveIndexChg());
  EXPECT_EQ(Walk(t).size(), positive.size() + 1);
}

TEST_F(NavIndexTables, IndexFilesOpenCloseAndSelect) {
  XBO_dBHandler t(dir / "nav.dbf", "", true, false);
  EXPECT_EQ(t.xbIndex("", "X"), 1);
  EXPECT_EQ(t.xbIndex(" ,; ", "X"), 1);
  EXPECT_FALSE(t.xbWithIndex());

  ASSERT_EQ(t.xbIndexTo("BO", "", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
  EXPECT_TRUE(platform::FileExists(dir / "BO.ndx"));
  EXPECT_EQ(t.xbIndexFileIsOpen("BO"), 0);
  // A file of the name in another case is made anew in its place.
  platform::WriteFileBytes(dir / "QTY.NDX", std::string(5000, 'x'));
  t.xbIndexTo(dir / "qty", "", "QTY", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  EXPECT_FALSE(platform::FileExists(dir / "qty.ndx"));
  EXPECT_EQ(platform::ReadFileBytes(dir / "QTY.NDX").size(), 1024u);
  EXPECT_EQ(t.xbIndex("\"bo\"; qty.ndx", "QTY"), 0);
  EXPECT_EQ(t.xbIndexFileIsOpen("bo.ndx"), 1);
  EXPECT_EQ(t.xbIndexFileIsOpen("QTY"), 2);
  EXPECT_EQ(t.PrimaryTagName(), "QTY");
  EXPECT_EQ(t.xbIndexRoute("BO.NDX"), -1);  // open already
  EXPECT_EQ(t.xbIndexPointer(2)->TagName(), "qty");  // the file's name

  // An unknown tag keeps the old one.
  EXPECT_NE(ErrorOf([&] { t.xbSetTagTo("NOSUCH", true); }).find("NOSUCH"), std::string::npos);
  ASSERT_NE(t.IndexMaster(), nullptr);
  EXPECT_EQ(t.IndexMaster()->TagName(), "qty");

  // Selecting keeps the record; closing the active tag's file falls back
  // to natural order with the cache on.
  t.xbGetRec(7);
  t.xbIndexOrder(1);
  EXPECT_EQ(t.PrimaryTagName(), "BO");
  EXPECT_EQ(t.RecNumber(), 7);
  EXPECT_EQ(t.xbIndexFileRemove("bo"), 0);
  EXPECT_EQ(t.IndexMaster(), nullptr);
  EXPECT_TRUE(t.CacheRead());
  t.xbSetTagTo("qty", true);
  t.xbIndexClear();
  EXPECT_FALSE(t.xbWithIndex());
  t.xbGetRec(xbRecTop);
  EXPECT_EQ(t.RecNumber(), 1);

  // Files of other formats are not read; damaged ones are refused.
  for (const char* name : {"x.idx", "x.mdx", "x.ntx"}) platform::WriteFileBytes(dir / name, std::string(1024, '\0'));
  platform::CopyFile(TOMESHELF_SOURCE_DIR "/tests/data/ndx/entry-length-600.ndx", dir / "bad.ndx", false);
  for (const auto& [name, error] : std::vector<std::pair<std::string, std::string>>{
           {"x.idx", "could not be found"}, {"x.mdx", "corrupted"}, {"x.ntx", "corrupted"},
           {"missing", "could not be found"}, {"bad", "corrupted"}})
    EXPECT_NE(ErrorOf([&] { t.xbIndexRoute(name); }).find(error), std::string::npos) << name;
  EXPECT_FALSE(t.xbWithIndex());
  EXPECT_NE(ErrorOf([&] {
              t.xbIndexTo("d", "", "QTY", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Descending);
            }),
            "");

  // Killing: open or not, the file goes.
  t.xbIndex("qty", "qty");
  EXPECT_EQ(t.xbIndexFileKill("qty"), 0);
  EXPECT_EQ(platform::FindExistingFile(dir / "qty.ndx"), "");
  EXPECT_EQ(t.IndexMaster(), nullptr);
  EXPECT_EQ(t.xbIndexFileKill("qty"), 1);
}

TEST_F(NavIndexTables, TheSixtyFourthIndexFileIsRefused) {
  XBO_dBHandler t(dir / "three.dbf", "", true, false);
  t.xbIndexTo("i0", "", "NAME", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  const std::string bytes = platform::ReadFileBytes(dir / "i0.ndx");
  for (int i = 1; i <= 63; ++i) platform::WriteFileBytes(dir / ("i" + std::to_string(i) + ".ndx"), bytes);
  for (int i = 0; i < 63; ++i) ASSERT_EQ(t.xbIndexRoute("i" + std::to_string(i)), 0) << i;
  EXPECT_EQ(t.xbIndexFileIsOpen("i62"), 63);
  EXPECT_NE(ErrorOf([&] { t.xbIndexRoute("i63"); }).find("i63.ndx"), std::string::npos);
  EXPECT_EQ(t.xbIndexFileIsOpen("i63"), 0);
  // The freed slot takes the next file.
  EXPECT_EQ(t.xbIndexFileRemove("i5"), 0);
  EXPECT_EQ(t.xbIndexRoute("i63"), 0);
  EXPECT_EQ(t.xbIndexFileIsOpen("i63"), 6);
}

TEST(HandlerIndex, AuthorIndexGrownByAppendsAndRewrites) {
  TempDir dir;
  const std::string path = MakeAuthorTable(dir / "au.dbf");
  std::vector<AnsiString> names = AuthorNames(600, 7);
  {
    XBO_dBHandler t(path, "", true, false);
    t.xbIndexTo("AU", "AU", "upper(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    EXPECT_EQ(platform::ReadFileBytes(dir / "AU.ndx").size(), 1024u);
    t.xbIndexRoute("AU");
    t.xbSetTagTo("AU", false);
    for (size_t i = 0; i < names.size(); ++i) {
      const int rec = static_cast<int>(i) + 1;
      AppendAuthor(t, rec, names[i]);
      ASSERT_FALSE(t.ResyncIndex());
      ASSERT_EQ(TrimR(t.xbFieldGetN(2)), names[i]);
      // Moves start from the appended record's place in key order.
      const AnsiString key = platform::AnsiUpperCase(names[i]);
      switch (i % 4) {
        case 1:
          t.xbRefresh();
          ASSERT_EQ(t.RecNumber(), rec);
          t.xbGetRec(xbRecPrior);
          if (t.xbvRecRead()) {
            ASSERT_LE(platform::AnsiUpperCase(TrimR(t.xbFieldGetN(2))), key);
          }
          break;
        case 2:
          t.xbGetRec(xbRecNext);
          if (t.xbvRecRead()) {
            ASSERT_GT(platform::AnsiUpperCase(TrimR(t.xbFieldGetN(2))), key);  // after its equals
            t.xbGetRec(xbRecPrior);
            ASSERT_EQ(t.RecNumber(), rec);
          }
          break;
        case 3:
          t.xbSkip(-1);
          if (t.xbvRecRead()) {
            ASSERT_LE(platform::AnsiUpperCase(TrimR(t.xbFieldGetN(2))), key);
          }
          break;
      }
    }
    t.xbSync();  // the block cache written out for the peer
    EXPECT_EQ(xbtest::PeerListing(dir / "AU.ndx"), KeysOf(t));
    // Rewrites move keys: every fifth name changes.
    std::mt19937 rng(3);
    for (size_t i = 0; i < names.size(); i += 5) {
      t.xbGetRec(static_cast<int>(i) + 1);
      names[i] = AuthorNames(1, rng())[0] + "x";
      t.xbStringPutN(2, names[i]);
      t.xbPutRec(static_cast<int>(i) + 1);
      ASSERT_FALSE(t.ResyncIndex());
      ASSERT_TRUE(t.ActiveIndexChg());
      t.xbGetRec(xbRecNext);  // the walk goes on from the record's new place
      if (t.xbvRecRead()) {
        ASSERT_GE(platform::AnsiUpperCase(TrimR(t.xbFieldGetN(2))), platform::AnsiUpperCase(names[i]));
      }
    }
    // A rewrite that keeps the key leaves the tag alone.
    t.xbGetRec(2);
    t.xbNumberPutN(1, 5000);
    t.xbPutRec(2);
    EXPECT_FALSE(t.ActiveIndexChg());
  }

  std::vector<std::pair<std::string, int>> expected;
  for (size_t i = 0; i < names.size(); ++i) expected.emplace_back(platform::AnsiUpperCase(names[i]), int(i) + 1);
  std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  XBO_dBHandler t(path, "", false, false);
  t.xbIndex("au", "au");
  const auto keys = KeysOf(t);
  ASSERT_EQ(keys.size(), names.size());
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(keys[i].first, expected[i].first) << i;
  for (const auto& k : keys) EXPECT_EQ(platform::AnsiUpperCase(names[size_t(k.second) - 1]), k.first);
  auto walked = Walk(t);
  ASSERT_EQ(walked.size(), keys.size());
  for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(walked[i].first, keys[i].second);

  // The peer skips the keys below a node that deletes left with its
  // pointer alone: what it lists comes in our order.
  const auto peer = xbtest::PeerListing(dir / "AU.ndx");
  auto at = keys.begin();
  for (const auto& k : peer) {
    at = std::find(at, keys.end(), k);
    ASSERT_NE(at, keys.end()) << k.first;
  }
}

TEST(HandlerIndex, SharedHandlesSeeEachOthersKeys) {
  TempDir dir;
  const std::string path = MakeAuthorTable(dir / "au.dbf");
  {
    XBO_dBHandler t(path, "", true, false);
    t.xbIndexTo("AU", "", "upper(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  }
  XBO_dBHandler a(path, "", true, true), b(path, "", true, true);
  a.xbIndex("au", "au");
  b.xbIndex("au", "au");
  const std::vector<AnsiString> names = AuthorNames(80, 11);
  for (size_t i = 0; i < names.size(); ++i) AppendAuthor(i % 2 ? a : b, int(i) + 1, names[i]);
  std::vector<std::string> sorted;
  for (const AnsiString& n : names) sorted.push_back(platform::AnsiUpperCase(n));
  std::sort(sorted.begin(), sorted.end());
  for (XBO_dBHandler* t : {&a, &b}) {
    std::vector<std::string> seen;
    for (const auto& k : KeysOf(*t)) seen.push_back(k.first);
    EXPECT_EQ(seen, sorted);
    EXPECT_EQ(Walk(*t).size(), names.size());
  }
  EXPECT_EQ(xbtest::PeerListing(dir / "AU.ndx").size(), names.size());
}

TEST(HandlerIndex, ReindexRebuildsAndRenameTakesTheTablesIndexes) {
  TempDir dir;
  const std::string path = MakeAuthorTable(dir / "au.dbf");
  const std::vector<AnsiString> names = AuthorNames(300, 5);
  {
    XBO_dBHandler t(path, "", true, false);
    for (size_t i = 0; i < names.size(); ++i) AppendAuthor(t, int(i) + 1, names[i]);
    t.xbIndexTo("AU", "", "upper(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    t.xbIndexTo("ids", "", "ID", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  }
  XBO_dBHandler t(path, "", true, false);
  t.xbIndex("au;ids", "AU");
  const auto before = KeysOf(t);
  const std::string built = platform::ReadFileBytes(dir / "AU.ndx");
  t.xbReIndex();
  EXPECT_EQ(t.PrimaryTagName(), "AU");
  EXPECT_EQ(t.RecNumber(), before.front().second);  // at the top again
  EXPECT_EQ(KeysOf(t), before);
  t.xbIndexFileRemove("AU");
  EXPECT_EQ(platform::ReadFileBytes(dir / "AU.ndx"), built);
  t.xbIndexRoute("AU");

  t.xbRename(dir / "authors");
  EXPECT_EQ(platform::ExtractFileName(t.FileName()), "authors.DBF");
  EXPECT_TRUE(platform::FileExists(dir / "authors.ndx"));
  EXPECT_FALSE(platform::FileExists(dir / "AU.ndx"));
  EXPECT_TRUE(platform::FileExists(dir / "ids.ndx"));
  EXPECT_EQ(t.xbIndex("authors;ids", "AUTHORS"), 0);
  EXPECT_EQ(KeysOf(t), before);
}

TEST(HandlerIndex, PasswordKeepsIndexesValid) {
  TempDir dir;
  const std::string path = MakeAuthorTable(dir / "au.dbf");
  const std::vector<AnsiString> names = AuthorNames(200, 9);
  std::vector<std::pair<std::string, int>> keys;
  const AnsiString password = platform::Utf8ToAnsi("Секрет");
  {
    XBO_dBHandler t(path, "", true, false);
    t.xbIndexTo("AU", "", "upper(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    t.xbIndex("AU", "AU");
    for (size_t i = 0; i < names.size(); ++i) AppendAuthor(t, int(i) + 1, names[i]);
    keys = KeysOf(t);
    t.xbGetRec(17);
    t.xbSetPassword(password);
    EXPECT_EQ(t.RecNumber(), 17);
    t.xbGetRec(xbRecNext);  // the tag stands where it stood
    EXPECT_EQ(KeysOf(t), keys);
    AppendAuthor(t, 999, "Added");
  }
  keys.clear();
  {
    XBO_dBHandler t(path, password, true, false);
    t.xbIndex("AU", "AU");
    keys = KeysOf(t);
    ASSERT_EQ(keys.size(), names.size() + 1);
    t.xbSetPassword("");
  }
  XBO_dBHandler t(path, "", false, false);
  t.xbIndex("AU", "AU");
  EXPECT_EQ(KeysOf(t), keys);
  EXPECT_EQ(xbtest::PeerListing(dir / "AU.ndx"), keys);
}

// Index files closed while the password changes: the table's own compound
// file follows it; another is told as possibly under another password, and
// a new tag into such a compound file makes the file anew.
TEST(HandlerIndex, ClosedIndexFilesThroughAPasswordChange) {
  const auto up = XBsetSortStatus::Ascending;
  const auto dup = XBsetIndexUnique::Duplicates;
  const std::vector<AnsiString> names = AuthorNames(80, 4);
  for (const std::string own : {"au.cdx", "au.mdx"}) {
    SCOPED_TRACE(own);
    TempDir dir;
    const std::string path = MakeAuthorTable(dir / "au.dbf");
    const std::string other = "other" + own.substr(2);
    std::vector<std::pair<std::string, int>> keys;
    {
      XBO_dBHandler t(path, "", true, false);
      for (size_t i = 0; i < names.size(); ++i) AppendAuthor(t, int(i) + 1, names[i]);
      t.xbIndexTo(own, "NA", "upper(NA)", "", dup, up);
      t.xbIndexTo(other, "ID", "ID", "", dup, up);
      t.xbIndexTo("x.ntx", "", "ID", "", dup, up);
      t.xbIndex(own, "NA");
      keys = KeysOf(t);
    }
    XBO_dBHandler(path, "", true, false).xbSetPassword("secret");
    XBO_dBHandler t(path, "secret", true, false);
    t.xbIndex(own, "NA");
    EXPECT_EQ(KeysOf(t), keys);
    for (const std::string& closed : {other, std::string("x.ntx")})
      EXPECT_NE(ErrorOf([&] { t.xbIndex(closed, ""); }).find("or scrambled with another password"), std::string::npos);
    t.xbIndexTo(other, "NA", "upper(NA)", "", dup, up);
    t.xbIndex(other, "NA");
    EXPECT_EQ(KeysOf(t), keys);
  }
}

TEST_F(NavIndexTables, PasswordRewritesMemos) {
  RunOut(kXbPeer + " pydbf " + Sh(dir.path()));
  // A dBase IV table of ours: its memo file takes freed blocks back.
  {
    XBO_DB4Build b(dir / "db4.dbf");
    b.InsertField("NAME", "C", 10, 0);
    b.InsertField("NOTES", "M", 10, 0);
    b.Complete();
    XBO_dBHandler t(dir / "db4.dbf", "", true, false);
    for (int i = 0; i < 6; ++i) {
      t.xbBlank();
      t.xbStringPutN(1, "r" + std::to_string(i));
      t.xbStringPutN(2, i == 2 ? std::string() : std::string(static_cast<size_t>(300 * i + 5), char('a' + i)) + "Memo");
      t.xbAppend();
    }
  }
  const auto read = [](XBO_dBHandler& t) {
    std::vector<std::pair<int, std::string>> m;
    for (t.xbGetRec(xbRecTop); t.xbvRecRead(); t.xbGetRec(xbRecNext)) m.emplace_back(t.RecNumber(), t.xbStringGetN(2));
    return m;
  };
  const std::string marker = platform::Utf8ToAnsi("Записка");
  for (const std::string table : {"memo.dbf", "vfpm.dbf", "db4.dbf"}) {
    SCOPED_TRACE(table);
    const std::string path = dir / table;
    std::vector<std::pair<int, std::string>> memos;
    std::string memoFile;
    {
      XBO_dBHandler t(path, "", true, false);
      memos = read(t);
      ASSERT_GE(memos.size(), 4u);
      memoFile = t.xbMemoObject()->FileName();
      t.xbSetPassword("pw");
      EXPECT_EQ(read(t), memos);
    }
    // The old texts are gone from the memo file.
    const std::string scrambled = platform::ReadFileBytes(memoFile);
    EXPECT_EQ(scrambled.find(marker), std::string::npos);
    EXPECT_EQ(scrambled.find("Memo"), std::string::npos);
    {
      XBO_dBHandler t(path, "pw", true, false);
      EXPECT_EQ(read(t), memos);
      t.xbSetPassword("");
    }
    if (table == "db4.dbf") {
      // The memos of the first change were freed and taken again by the
      // second, which needed this much room.
      size_t written = 0;
      for (const auto& m : memos) written += m.second.empty() ? 0 : (m.second.size() + 8 + 511) / 512 * 512;
      EXPECT_LT(platform::ReadFileBytes(memoFile).size(), scrambled.size() + written);
    }
    XBO_dBHandler t(path, "", false, false);
    EXPECT_EQ(read(t), memos);
    if (table == "db4.dbf") continue;  // dbfread reads dBase IV memos 8 bytes too long
    std::vector<std::string> peer;
    for (const std::string& l : Lines(RunOut(kXbPeer + " dbfread " + Sh(path))))
      if (l.rfind("V ", 0) == 0) {
        const std::string second = l.substr(l.find('|') + 1);  // the memo's field
        peer.push_back(FromHex(second.substr(0, second.find('|'))));
      }
    std::vector<std::string> live;
    t.SetUseDeletedRec(false);
    for (const auto& m : read(t)) live.push_back(m.second);
    EXPECT_EQ(peer, live);
  }
}

TEST(HandlerIndex, IndexLocksAreTakenAllOrNone) {
  TempDir dir;
  const std::string path = MakeAuthorTable(dir / "au.dbf");
  {
    XBO_dBHandler t(path, "", true, false);
    t.xbIndexTo("a1", "", "upper(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    t.xbIndexTo("a2", "", "ID", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  }
  XBO_dBHandler t(path, "", true, true);
  t.xbIndex("a1;a2", "A1");
  t.IndexStack(2)->DiskFile()->SetXBwrdAccessMiliSeconds(100);
  constexpr int64_t kLockByte = 0x7FFFFFFE;  // the Default protocol's index lock

  // Another program holds the second file's lock: nothing stays locked.
  struct flock fl;
  const int other = xbtest::LockProbe(dir / "a2.ndx", kLockByte, 1, F_OFD_SETLK, fl);
  EXPECT_NE(ErrorOf([&] { t.xbLockIndexes(); }).find("Can not Lock"), std::string::npos);
  EXPECT_EQ(xbtest::LockSeenAt(dir / "a1.ndx", kLockByte, 1), "");
  EXPECT_NE(ErrorOf([&] { AppendAuthor(t, 1, "Refused"); }).find("Can not Lock"), std::string::npos);
  EXPECT_EQ(xbtest::LockSeenAt(dir / "a1.ndx", kLockByte, 1), "");
  ::close(other);

  EXPECT_TRUE(t.xbLockIndexes());
  EXPECT_NE(xbtest::LockSeenAt(dir / "a1.ndx", kLockByte, 1), "");
  EXPECT_NE(xbtest::LockSeenAt(dir / "a2.ndx", kLockByte, 1), "");
  EXPECT_TRUE(t.xbUnLockIndexes());
  EXPECT_EQ(xbtest::LockSeenAt(dir / "a2.ndx", kLockByte, 1), "");
  AppendAuthor(t, 1, "Written");
  EXPECT_EQ(xbtest::LockSeenAt(dir / "a1.ndx", kLockByte, 1), "");
  EXPECT_EQ(KeysOf(t).size(), 1u);
}

// A memo the password change cannot read stops it before the table is
// replaced: the table, its memos and its index stay as they were.
TEST(HandlerIndex, AFailedPasswordChangeLeavesTheTable) {
  TempDir dir;
  for (const char* ext : {".dbf", ".dbt"})
    platform::CopyFile(kXbData + "handler/memo-block-past-end" + ext, dir / (std::string("memo") + ext), false);
  const std::string path = dir / "memo.dbf";
  {
    XBO_dBHandler t(path, "", true, false);
    t.xbIndexTo("names", "", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  }
  const std::string table = platform::ReadFileBytes(path), index = platform::ReadFileBytes(dir / "names.ndx");
  {
    XBO_dBHandler t(path, "", true, false);
    t.xbIndex("names", "names");
    t.xbGetRec(2);
    EXPECT_NE(ErrorOf([&] { t.xbSetPassword("pw"); }).find("memo.dbt"), std::string::npos);
    EXPECT_FALSE(t.xbvIsEncrypted());
    EXPECT_EQ(t.RecNumber(), 2);
    EXPECT_EQ(t.xbStringGetN(1), "rec1");
    EXPECT_EQ(KeysOf(t).size(), 5u);
  }
  EXPECT_EQ(platform::ReadFileBytes(path), table);
  EXPECT_EQ(platform::ReadFileBytes(dir / "names.ndx"), index);
}

// The program closes the engine's files at its end; an exclusive handler
// still alive then holds index pages in its caches and an owed table
// header. Shutdown stores them before closing, and the handler's own close
// afterwards neither raises nor writes.
TEST(HandlerIndex, ShutdownUnderALiveHandlerLosesNothingAndClosesOnce) {
  TempDir dir;
  const std::string path = xbtest::MakeFilterTable(dir, 50);
  const char* files = "f.cdx;n.ndx;r.ntx;m.mdx";
  {
    XBO_dBHandler t(path, "", true, false);
    ASSERT_EQ(t.xbIndexTo("f.cdx", "AU", "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
    ASSERT_EQ(t.xbIndexTo("n.ndx", "", "NA", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
    ASSERT_EQ(t.xbIndexTo("r.ntx", "", "RN", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
    ASSERT_EQ(t.xbIndexTo("m.mdx", "BD", "BD", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
  }
  auto alive = std::make_unique<XBO_dBHandler>(path, "", true, false);
  ASSERT_EQ(alive->xbIndex(files, "AU"), 0);
  const int count = 1050;
  for (int i = 51; i <= count; ++i) {
    alive->xbBlank();
    alive->xbNumberPut("RN", i);
    alive->xbNumberPut("AU", (i * 7) % 100);
    alive->xbStringPut("NA", "N" + std::to_string(i * 13 % 1000));
    alive->xbStringPut("NOTE", "memo of " + std::to_string(i));
    alive->xbAppend();
  }

  xbDiskShutdown();
  {
    // Closed and unlocked: another exclusive handler opens everything and
    // finds every record under every tag.
    XBO_dBHandler t(path, "", true, false);
    EXPECT_EQ(t.NumRecs(), count);
    ASSERT_EQ(t.xbIndex(files, ""), 0);
    for (const char* tag : {"AU", "N", "R", "BD"}) {
      t.xbSetTagTo(tag, false);
      EXPECT_EQ(xbtest::WalkRecords(t).size(), static_cast<size_t>(count)) << tag;
    }
    t.xbSetTagTo("R", false);
    t.xbGetRec(xbRecBottom);
    EXPECT_EQ(t.xbNumberGet("RN"), count);
    EXPECT_EQ(t.xbStringGet("NOTE"), "memo of " + std::to_string(count));
  }
  auto bytes = [&] {
    std::vector<std::string> all;
    for (const char* f : {"f.dbf", "f.dbt", "f.cdx", "n.ndx", "r.ntx", "m.mdx"})
      all.push_back(platform::ReadFileBytes(dir / f));
    return all;
  };
  const std::vector<std::string> before = bytes();
  EXPECT_EQ(ErrorOf([&] { alive->xbIndexClear(); }), "");
  alive.reset();
  EXPECT_TRUE(bytes() == before) << "the handler wrote after the shutdown";
}

// A request refused for its key, its condition or the format's limits
// leaves an existing index file as it was and makes none.
TEST_F(NavIndexTables, RefusedIndexRequestsLeaveEveryFileAsItWas) {
  {
    XBO_dBHandler t(dir / "nav.dbf", "", true, false);
    t.xbIndexTo("old.ntx", "", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    t.xbIndexTo("old.ndx", "", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    t.xbIndexTo("old.cdx", "NAME", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
    t.xbIndexTo("old.mdx", "NAME", "upper(NAME)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  }
  platform::WriteFileBytes(dir / "empty.cdx", "");
  struct Case {
    const char* file;
    const char* key;
    const char* forExpr;
    XBsetSortStatus order;
  };
  const auto up = XBsetSortStatus::Ascending;
  for (const Case& c : {Case{"old.ntx", "NOFIELD", "", up}, Case{"old.ndx", "NOFIELD", "", up},
                        Case{"old.ndx", "NAME", "QTY > 0", up}, Case{"old.ndx", "NAME", "", XBsetSortStatus::Descending},
                        Case{"old.cdx", "NOFIELD", "", up}, Case{"old.mdx", "NOFIELD", "", up},
                        Case{"new.ntx", "NOFIELD", "", up}, Case{"new.ndx", "NAME", "QTY > 0", up},
                        Case{"new.cdx", "NOFIELD", "", up}, Case{"new.mdx", "NAME", "NOFIELD > 0", up},
                        Case{"empty.cdx", "NOFIELD", "", up}}) {
    SCOPED_TRACE(std::string(c.file) + " " + c.key + " " + c.forExpr);
    const auto before = FolderFiles(dir.path());
    XBO_dBHandler t(dir / "nav.dbf", "", true, false);
    EXPECT_NE(ErrorOf<std::runtime_error>(
                  [&] { t.xbIndexTo(c.file, "TAG", c.key, c.forExpr, XBsetIndexUnique::Duplicates, c.order); }),
              "");
    t.xbCloseFile();
    EXPECT_TRUE(FolderFiles(dir.path()) == before);
  }
  // A tag is not removed from a file opened for reading.
  const auto before = FolderFiles(dir.path());
  for (const char* file : {"old.cdx", "old.mdx"}) {
    XBO_dBHandler t(dir / "nav.dbf", "", false, false);
    ASSERT_EQ(t.xbIndexRoute(file), 0);
    EXPECT_EQ(t.xbIndexTagRemove(file, "NAME"), -1) << file;
    EXPECT_NE(t.IndexStack(1)->TagByName("NAME"), nullptr) << file;
  }
  EXPECT_TRUE(FolderFiles(dir.path()) == before);
}
