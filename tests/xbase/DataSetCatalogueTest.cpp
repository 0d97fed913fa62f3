// The dataset driven as the catalogue's book-list build drives it: the
// author table looked up by upper-cased name and appended to, walked in
// name order; the book table's author index bulk-built and ranged per
// author with deleted records shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/NdxReader.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/create_table.h"
#include "xbase/dataset/dataset.h"

using namespace xbase;
using dataaccess::EDatabaseError;
using dataaccess::TVariant;

namespace {

const char* kNoIndex = "No index is assigned for Find operation";

// Opens a work-folder table the way the build does.
void OpenWorkTable(TXBaseDataSet& ds, const std::string& dir, const std::string& table, bool useDeleted) {
  ds.SetDatabaseName(dir);
  ds.SetTableName(table);
  ds.SetExclusive(true);
  ds.SetTranslateASCII(false);
  ds.SetUseDeleted(useDeleted);
  ds.Open();
}

void IndexAndSelect(TXBaseDataSet& ds, const std::string& name, const AnsiString& key) {
  ds.IndexOn(name, name, key, "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  ds.IndexFileInclude(name + ".NDX");
  ds.SetIndexName(name);
}

// The build's getAuthorID: the number of the author named `name` (letter
// case ignored), appended when missing.
int AuthorID(TXBaseDataSet& au, const AnsiString& name, int& counter) {
  au.First();
  if (au.FindKey({TVariant(platform::AnsiUpperCase(name))})) return au.FieldByName("ID").AsInteger();
  au.AppendRecord({TVariant(++counter), TVariant(name)});
  return counter;
}

// A deterministic stream of author names: about 3,000 distinct names, each
// met several times in varying letter case, Cyrillic and Latin, with names
// that are prefixes of others ("Smith" after "Smithson").
std::vector<AnsiString> AuthorNames(int count) {
  const char* parts[] = {"Иван", "ов", "Пётр", "ёж", "smith", "son", "Ann", "Ёлкин", "щук", "ина", "Zola", "ba"};
  std::vector<AnsiString> bases;
  uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int i = 0; i < 3000; ++i) {
    std::string u;
    const int n = 1 + static_cast<int>(next() % 3);
    for (int k = 0; k < n; ++k) u += parts[next() % 12];
    if (next() % 4 == 0) u += " " + std::to_string(next() % 500);
    bases.push_back(platform::Utf8ToAnsi(u));
  }
  std::vector<AnsiString> names = {"Smithson", "Smith", "SMITH", "smithson", "Smit"};
  while (static_cast<int>(names.size()) < count) {
    AnsiString s = bases[next() % bases.size()];
    switch (next() % 3) {
      case 0: s = platform::AnsiUpperCase(s); break;
      case 1: s = platform::AnsiLowerCase(s); break;
      default: break;
    }
    names.push_back(s);
  }
  return names;
}

}  // namespace

TEST(DataSetCatalogue, AuthorsByUpperCasedNameInOrderOfFirstAppearance) {
  TempDir dir;
  ASSERT_TRUE(CreateTableFromFieldList(dir / "au.dbf", "", 0, {"ID;N;10;0", "NA;C;120;0"}));
  TXBaseDataSet au;
  OpenWorkTable(au, dir.path(), "AU.DBF", false);
  EXPECT_EQ(au.TableName(), "AU.DBF");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { au.FindKey({TVariant("X")}); }), kNoIndex);
  au.IndexOn("AU", "AU", "upper(NA)", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending);
  // Built but neither opened nor selected.
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { au.FindKey({TVariant("X")}); }), kNoIndex);
  au.IndexFileInclude("AU.NDX");
  au.SetIndexName("AU");
  EXPECT_FALSE(au.FindKey({TVariant("X")}));  // an empty table

  const std::vector<AnsiString> names = AuthorNames(10000);
  std::map<AnsiString, std::pair<int, AnsiString>> expected;  // upper name -> id, first spelling
  int counter = 0;
  for (const AnsiString& name : names) {
    const AnsiString upper = platform::AnsiUpperCase(name);
    auto it = expected.find(upper);
    const int want = it == expected.end() ? static_cast<int>(expected.size()) + 1 : it->second.first;
    if (it == expected.end()) expected.emplace(upper, std::make_pair(want, name));
    ASSERT_EQ(AuthorID(au, name, counter), want) << platform::AnsiToUtf8(name);
  }
  ASSERT_EQ(au.RecordCount(), static_cast<int>(expected.size()));

  // The walk in index order: the first spellings by their upper-case bytes.
  std::vector<AnsiString> walk, want;
  std::vector<int> walkRecs, dumped;
  for (const auto& e : expected) want.push_back(e.second.second);  // std::map orders by bytes
  au.SetRange("", "");
  for (au.First(); !au.Eof(); au.Next()) {
    walk.push_back(au.FieldByName("NA").AsString());
    walkRecs.push_back(au.RecNo());
  }
  EXPECT_EQ(walk, want);
  au.Close();
  for (const auto& [key, rec] : xbtest::PeerListing(platform::FindExistingFile(dir / "AU.NDX"))) dumped.push_back(rec);
  EXPECT_EQ(dumped, walkRecs);

  // dbfread sees the same authors in order of their numbers.
  std::vector<std::string> peer;
  for (const std::string& l : Lines(RunOut(kXbPeer + " dbfread " + Sh(dir / "au.dbf"))))
    if (!l.empty() && l[0] == 'V') peer.push_back(l.substr(2));
  ASSERT_EQ(peer.size(), expected.size());
  for (const auto& e : expected)
    EXPECT_EQ(peer[static_cast<size_t>(e.second.first - 1)],
              std::to_string(e.second.first) + "|" + Hex(e.second.second));
}

TEST(DataSetCatalogue, BooksOfOneAuthorByRangeWithDeletedOnesShown) {
  TempDir dir;
  const std::string path = dir / "bo.dbf";
  ASSERT_TRUE(CreateTableFromFieldList(path, "", 0,
                                       {"AU;N;10;0", "NA;C;250;0", "SB;C;150;0", "FI;C;8;0", "SZ;N;8;0",
                                        "GE;C;8;0", "DT;C;4;0", "LN;C;2;0"}));
  // Records written behind the header as the build writes them: author
  // (n * 7) % 40 + 1, every fifth one deleted.
  std::vector<std::pair<int, bool>> books;
  {
    XBO_dBaseDBF t(path, "", true, false);
    for (int n = 0; n < 3000; ++n) {
      std::string r = BookRecord(n);
      const int author = (n * 7) % 40 + 1;
      const bool deleted = n % 5 == 0;
      char au[12];
      std::snprintf(au, sizeof au, "%10d", author);
      r.replace(1, 10, au);
      r[0] = deleted ? '*' : ' ';
      std::memcpy(t.CurRecord(), r.data(), r.size());
      t.xbAppend();
      if (deleted) {  // xbAppend writes records live
        t.xbGetRec(n + 1);
        t.CurRecord()[0] = '*';
        t.xbPutRec(n + 1);
      }
      books.emplace_back(author, deleted);
    }
  }
  TXBaseDataSet bo;
  OpenWorkTable(bo, dir.path(), "BO.DBF", true);
  IndexAndSelect(bo, "BO", "AU");
  for (int author : {12, 1, 40}) {
    bo.SetRange(std::to_string(author), std::to_string(author));
    std::vector<std::pair<int, bool>> seen, want;
    for (bo.First(); !bo.Eof(); bo.Next()) seen.emplace_back(bo.RecNo(), bo.IsDeleted());
    for (size_t i = 0; i < books.size(); ++i)
      if (books[i].first == author) want.emplace_back(static_cast<int>(i) + 1, books[i].second);
    EXPECT_EQ(seen, want) << author;
  }
  bo.SetRange("41", "41");
  EXPECT_TRUE(bo.Eof());
  EXPECT_TRUE(bo.IsEmpty());

  // index_dump lists the index in the order of the walk.
  bo.SetRange("", "");
  std::vector<int> walk, dumped;
  for (bo.First(); !bo.Eof(); bo.Next()) walk.push_back(bo.RecNo());
  bo.Close();
  for (const auto& [key, rec] : xbtest::PeerListing(platform::FindExistingFile(dir / "BO.NDX"))) dumped.push_back(rec);
  EXPECT_EQ(dumped, walk);
}
