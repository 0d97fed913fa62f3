// NDX indexes on real tables, as the catalogue keeps them: keys computed
// from records by "upper(NA)" and "AU", kept in step with appends and
// rewrites, bulk-built, read by the peers beside their tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/IndexedTable.h"
#include "tests/xbase/NdxReader.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/index/ndx_format.h"
#include "xbase/table/fields.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;

void AppendAuthor(TIndexedTable& t, int id, const std::string& utf8Name) {
  t.xbBlank();
  t.xbNumberPut("ID", id);
  t.xbStringPut("NA", platform::Utf8ToAnsi(utf8Name));
  t.xbAppend();
}

}  // namespace

TEST(NdxTable, TheAuthorIndexFollowsAppendsAndRewritesOfUpperCasedNames) {
  TempDir dir;
  TIndexedTable t(MakeAuthorTable(dir / "au.dbf"));
  XBobjNDXFile ndx(&t, "AU", true, false, true, true);
  ASSERT_TRUE(ndx.AddTag("AU", "upper(NA)", "", true, false));
  EXPECT_EQ(ndx.Tag()->KeyType(), 'C');
  EXPECT_EQ(ndx.Tag()->KeyLength(), 120);
  t.Indexes = {&ndx};
  const std::vector<std::string> names = {"Толстой Лев", "smith John", "Ёжиков", "Adams", "толстой лев",
                                          "ўладзімір", "Smith Alan", "Чехов"};
  for (size_t i = 0; i < names.size(); ++i) AppendAuthor(t, static_cast<int>(i + 1), names[i]);

  Keys expect;
  for (size_t i = 0; i < names.size(); ++i)
    expect.emplace_back(platform::AnsiUpperCase(platform::Utf8ToAnsi(names[i])), static_cast<int>(i + 1));
  std::stable_sort(expect.begin(), expect.end(), [](auto& a, auto& b) { return a.first < b.first; });
  EXPECT_EQ(Walk(*ndx.Tag()), expect);

  // The catalogue's look-up of a name, upper-cased.
  XBobjIndexKeyData key;
  key.PutString(platform::AnsiUpperCase(platform::Utf8ToAnsi("Толстой Лев")));
  key.Tag = XBobjIndexTag::AnyRecord;
  t.SetxbvExactMatch(true);
  EXPECT_EQ(ndx.Tag()->KeyFind(key), 1);  // the first of the two spellings
  key.PutString("SMITH");
  EXPECT_EQ(ndx.Tag()->KeyFind(key), 0);
  t.SetxbvExactMatch(false);
  EXPECT_EQ(ndx.Tag()->KeyFind(key), 7);  // SMITH ALAN begins with it

  // A rewrite moves the record's key; the tag then stands on it.
  t.xbGetRec(4);
  t.xbStringPut("NA", "Zweig");
  t.xbPutRec(4);
  EXPECT_TRUE(ndx.Tag()->KeyUpdated());
  EXPECT_EQ(ndx.Tag()->KeySync(4), 4);
  EXPECT_EQ(ndx.Tag()->CurKeyInfo().GetString(), "ZWEIG");
  EXPECT_EQ(ndx.Tag()->KeyRead(-3), 7);  // SMITH ALAN now leads
  t.xbGetRec(2);
  t.xbNumberPut("ID", 99);  // the key does not change
  t.xbPutRec(2);
  EXPECT_FALSE(ndx.Tag()->KeyUpdated());

  ndx.CloseFile();
  t.Indexes.clear();
  t.xbFlush();
  // The peers: the table read by dbf_dump, the index by index_dump, in our
  // order (index_dump shows the keys' bytes, Windows-1251).
  const std::vector<std::string> rows = Lines(RunOut("dbf_dump --fs '|' " + Sh(t.FileName())));
  ASSERT_EQ(rows.size(), names.size());
  EXPECT_EQ(rows[1], "99|" + platform::Utf8ToAnsi("smith John"));
  EXPECT_EQ(rows[3], "4|Zweig");
  XBobjNDXFile reopened(&t, "AU", true, false, false, false);
  EXPECT_EQ(PeerListing(dir / "AU.ndx"), Walk(*reopened.Tag()));
  EXPECT_EQ(reopened.Tag()->GetIndexExpression(), "UPPER(NA)");
}

TEST(NdxTable, TheBookIndexIsBuiltFromTheRecordsAndReadByAuthor) {
  TempDir dir;
  XBO_DBFBuild b(dir / "bo.dbf");
  AddBookFields(b);
  b.Complete();
  TIndexedTable t(b.FileName());
  // Books of authors 12, 3 and 40 in reading order.
  const int authors[] = {12, 3, 12, 40, 3, 12, 12, 40};
  for (int au : authors) {
    t.xbBlank();
    t.xbNumberPut("AU", au);
    t.xbStringPut("NA", "Book " + std::to_string(t.NumRecs() + 1));
    t.xbAppend();
  }
  XBobjNDXFile ndx(&t, "BO", true, false, true, true);
  ASSERT_TRUE(ndx.AddTag("BO", "AU", "", true, false));
  XBobjIndexTag& tag = *ndx.Tag();
  EXPECT_EQ(tag.KeyType(), 'N');
  TxbVariant lo, hi;
  lo.PutString("12");
  hi.PutString("12");
  tag.SetRange(lo, true, hi, true, false);
  std::vector<int> books;
  for (int rec = tag.KeyRead(-5); rec != 0; rec = tag.KeyRead(-1)) {
    t.xbGetRec(rec);
    books.push_back(rec);
    EXPECT_EQ(t.xbNumberGet("AU"), 12);
  }
  EXPECT_EQ(books, (std::vector<int>{1, 3, 6, 7}));  // in reading order
  EXPECT_EQ(tag.GetRangeCount(), 4);

  // The tag follows the table's record when asked.
  t.xbGetRec(5);
  tag.SetRange(TxbVariant(), true, TxbVariant(), true, false);
  EXPECT_EQ(tag.KeySync(5), 5);
  EXPECT_EQ(tag.KeyRead(-1), 1);  // after the author 3's books, author 12's
  ndx.CloseFile();
  Keys peer = PeerListing(dir / "BO.ndx");
  ASSERT_EQ(peer.size(), 8u);
  EXPECT_EQ(peer.front().second, 2);
  EXPECT_EQ(peer.back().second, 8);
}
