#include <gtest/gtest.h>

#include <map>

#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/Func.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"

using namespace catalogue;
using platform::Utf8ToAnsi;

namespace {

// A catalogue archive path that exists (the reader under test never opens
// it) and a member reader in place of the archive.
class BrowseTest : public ::testing::Test {
 protected:
  // Serves the members of a reference catalogue archive, as Python reads them.
  void UseReference(const std::string& dbz) { reader_.members() = sample::ZipMembers(dbz); }

  sample::TPlacedCatalogue placed_;
  sample::TMemoryReader reader_;
  sample::TReaderScope scope_{reader_};
};

std::vector<AnsiString> Ansi(std::initializer_list<const char*> utf8) {
  std::vector<AnsiString> v;
  for (const char* s : utf8) v.push_back(Utf8ToAnsi(s));
  return v;
}

TEST(FindAuthor, FindsTheFirstNameBeginningWithTheTextInAnyCase) {
  // Catalogue order: ascending by the bytes of the upper-cased names.
  const auto authors =
      Ansi({"Abbot", "smith", "Smith John", "SMITHSON", "Ёлкин", "Петров", "петрова Анна"});
  auto find = [&](const char* utf8) { return findAuthor(authors, Utf8ToAnsi(utf8)); };
  EXPECT_EQ(find("smi"), 1);
  EXPECT_EQ(find("SMITH"), 1);
  EXPECT_EQ(find("smith j"), 2);
  EXPECT_EQ(find("smiths"), 3);
  EXPECT_EQ(find("пет"), 5);
  EXPECT_EQ(find("ПЕТРОВА"), 6);
  EXPECT_EQ(find("ёл"), 4);
  EXPECT_EQ(find("Abbot"), 0);
  EXPECT_EQ(find(""), 0);  // an empty text is author 0
  // Before the first, after the last, between two, longer than any name.
  EXPECT_EQ(find("Aa"), -1);
  EXPECT_EQ(find("Я"), -1);
  EXPECT_EQ(find("Smx"), -1);
  EXPECT_EQ(find("Abbott"), -1);
  EXPECT_EQ(findAuthor({}, ""), -1);
  EXPECT_EQ(findAuthor(Ansi({"Solo"}), "so"), 0);
  EXPECT_EQ(findAuthor(Ansi({"Solo"}), "sa"), -1);
}

TEST_F(BrowseTest, AuthorListsOfTheReferenceCataloguesLoadWhole) {
  for (const std::string variant : {"small", "edge"}) {
    SCOPED_TRACE(variant);
    const std::string dir = sample::Collection(variant);
    UseReference(dir + "ref.dbz");
    ASSERT_TRUE(LoadAuthorList());
    const auto& authors = AppState().authors;
    ASSERT_EQ(static_cast<long>(authors.size()), sample::ModelNumber(dir + "expected/", "authors"));
    EXPECT_EQ(platform::ReadFileBytes(dir + "expected/a.txt").size(),
              [&] {
                size_t n = 0;
                for (const auto& a : authors) n += a.size() + 2;
                return n;
              }());

    // Each full name finds the first author it is a prefix of: itself, or an
    // earlier name that it begins with in upper case.
    for (size_t k = 0; k < authors.size(); ++k) {
      const int32_t i = findAuthor(authors, authors[k]);
      ASSERT_GE(i, 0) << k;
      ASSERT_LE(static_cast<size_t>(i), k);
      ASSERT_EQ(platform::AnsiUpperCase(authors[i]).rfind(platform::AnsiUpperCase(authors[k]), 0), 0u)
          << k;
    }
  }
  // The edge collection passes 100,000 authors.
  EXPECT_GT(AppState().authors.size(), 100000u);
}

TEST_F(BrowseTest, AuthorListWithoutCatalogueOrFinalLineEnd) {
  // No catalogue archive: the list stays as it was, nothing is read.
  AppState().authors = Ansi({"Kept"});
  platform::DeleteFile(AppState().dbzPath);
  EXPECT_FALSE(LoadAuthorList());
  EXPECT_EQ(AppState().authors, Ansi({"Kept"}));
  EXPECT_EQ(reader_.TotalReads(), 0);

  // A list cut short before its last line end loses that name.
  platform::WriteFileBytes(AppState().dbzPath, "");
  reader_.members()["a.txt"] = "Alpha\r\nBeta\r\nGamma";
  EXPECT_TRUE(LoadAuthorList());
  EXPECT_EQ(AppState().authors, Ansi({"Alpha", "Beta"}));

  // A catalogue without "a.txt" has no authors.
  reader_.members().clear();
  EXPECT_TRUE(LoadAuthorList());
  EXPECT_TRUE(AppState().authors.empty());
}

TEST_F(BrowseTest, AFailedReadLeavesTheCacheEmpty) {
  reader_.members()["0.txt"] = reader_.members()["1.txt"] = "";
  CachedBlock(0);
  reader_.SetFailing(true);
  EXPECT_THROW(CachedBlock(1), std::runtime_error);
  EXPECT_EQ(AppState().blockCache.number, -1);
  reader_.SetFailing(false);
  CachedBlock(1);
  EXPECT_EQ(AppState().blockCache.number, 1);
  EXPECT_EQ(reader_.Reads("1.txt"), 2);
}

// Every author's rows against expected/books.txt, with and without
// duplicates.
void CheckBooksOfEveryAuthor(const std::string& collection) {
  const auto expected = sample::ExpectedBooks(collection + "expected/");
  std::map<int, std::vector<const sample::TExpectedBook*>> byAuthor;
  for (const auto& b : expected) byAuthor[b.author].push_back(&b);

  size_t hiddenSeen = 0;
  const auto authorCount = static_cast<int32_t>(AppState().authors.size());
  for (int32_t a = 0; a < authorCount; ++a) {
    const TCatalogueBlock& block = CachedBlock(BlockOfAuthor(a));
    const auto& want = byAuthor[a];
    const TAuthorBooks all = BooksOfAuthor(block, EntryOfAuthor(a), false);
    ASSERT_EQ(all.count, want.size()) << a;
    ASSERT_EQ(all.rows.size(), want.size()) << a;
    for (size_t i = 0; i < want.size(); ++i) {
      for (int f = 0; f < kBookFieldCount; ++f) ASSERT_EQ(all.rows[i].field[f], want[i]->fields[f]);
      EXPECT_EQ(all.rows[i].genreNames, codesToGenres(want[i]->fields[bfGenres]));
    }
    const TAuthorBooks shown = BooksOfAuthor(block, EntryOfAuthor(a), true);
    EXPECT_EQ(shown.count, want.size());
    size_t kept = 0;
    for (const auto* b : want) kept += b->fields[bfDuplicate] != "Y";
    EXPECT_EQ(shown.rows.size(), kept) << a;
    for (const TBookRow& r : shown.rows) EXPECT_FALSE(r.Duplicate());
    hiddenSeen += want.size() - kept;
  }
  EXPECT_GT(hiddenSeen, 0u);  // the collection has duplicates to hide
}

TEST_F(BrowseTest, BooksOfEveryAuthorOfTheSmallCatalogue) {
  const std::string dir = sample::Collection("small");
  UseReference(dir + "ref.dbz");
  ASSERT_TRUE(LoadAuthorList());
  CheckBooksOfEveryAuthor(dir);
}

TEST_F(BrowseTest, BooksOfAuthorsOfABlockPastSixtyFiveThousandLines) {
  // Block 0 of the edge catalogue holds more lines than 16-bit starts can
  // address; author 2 was cut to 65,535 books.
  const std::string dir = sample::Collection("edge");
  UseReference(dir + "ref.dbz");
  const auto expected = sample::ExpectedBooks(dir + "expected/");
  std::map<int, size_t> counts;
  for (const auto& b : expected) ++counts[b.author];
  const TCatalogueBlock& block = CachedBlock(0);
  for (int32_t a : {0, 1, 2, 3, 999}) {
    const TAuthorBooks books = BooksOfAuthor(block, a, false);
    EXPECT_EQ(books.count, counts[a]) << a;
  }
  EXPECT_EQ(BooksOfAuthor(block, 2, false).count, kMaxAuthorLines);
  // The last author's last book is the last line of the block.
  const TAuthorBooks last = BooksOfAuthor(block, 999, false);
  ASSERT_FALSE(last.rows.empty());
  const auto& want = *std::find_if(expected.rbegin(), expected.rend(),
                                   [](const sample::TExpectedBook& b) { return b.author == 999; });
  EXPECT_EQ(last.rows.back().field[bfTitle], want.fields[bfTitle]);
}

TEST_F(BrowseTest, HiddenDuplicatesStillCountAndOutOfRangeEntriesHaveNoBooks) {
  AnsiString block;
  TCatalogueWriter w([&](const std::string& name, const AnsiString& bytes) {
    if (name == "0.txt") block = bytes;
  });
  w.AddAuthor("A");
  for (const char* dup : {"N", "Y", "N", "Y", "N"}) w.AddBook({"T", "", "1", "10", "FS", "", "ru", dup});
  w.Finish({1, 5, 2});
  const TCatalogueBlock b(block);
  EXPECT_EQ(BooksOfAuthor(b, 0, true).rows.size(), 3u);
  EXPECT_EQ(BooksOfAuthor(b, 0, true).count, 5u);
  EXPECT_EQ(BooksOfAuthor(b, 0, false).rows.size(), 5u);
  EXPECT_EQ(BooksOfAuthor(b, 1, false).count, 0u);
  EXPECT_EQ(BooksOfAuthor(b, -1, false).count, 0u);

  // A block cut short shows the lines that are there.
  const TCatalogueBlock cut(block.substr(0, block.size() - 20));
  const TAuthorBooks some = BooksOfAuthor(cut, 0, false);
  EXPECT_LT(some.rows.size(), 5u);
  EXPECT_EQ(some.count, some.rows.size());
}

TEST(SortOrder, SortTextsPadNumbersAndReorderDates) {
  EXPECT_EQ(SortText(TSortTag::Number, "900"), "0000000900");
  EXPECT_LT(SortText(TSortTag::Number, "900"), SortText(TSortTag::Number, "1200"));
  EXPECT_EQ(SortText(TSortTag::Number, ""), "0000000000");
  EXPECT_EQ(SortText(TSortTag::Number, "123456789012"), "3456789012");
  EXPECT_EQ(SortText(TSortTag::Date, "05.03.2007"), "20070305");
  EXPECT_LT(SortText(TSortTag::Date, "31.12.2006"), SortText(TSortTag::Date, "01.01.2007"));
  EXPECT_EQ(SortText(TSortTag::Date, ""), "");
  EXPECT_EQ(SortText(TSortTag::Date, "2007"), "720");  // what a short text lacks is left out
  EXPECT_EQ(SortText(TSortTag::Text, "Abc"), "Abc");

  EXPECT_EQ(ColumnSortTag(bcTitle), TSortTag::Text);
  EXPECT_EQ(ColumnSortTag(bcDate), TSortTag::Date);
  EXPECT_EQ(ColumnSortTag(bcSize), TSortTag::Number);
  EXPECT_EQ(ColumnSortTag(bcFile), TSortTag::Number);

  TBookRow row;
  row.field = {"Title", "Series", "77", "900", "FS", "", "ru", "N"};
  row.genreNames = "names";
  const std::vector<std::string> shown = {"Title", "Series", "names", "", "ru", "900", "77"};
  for (int32_t c = 0; c < kBookColumnCount; ++c) EXPECT_EQ(ColumnText(row, c), shown[c]);
  EXPECT_EQ(ColumnText(row, 7), "");
}

TEST(SortOrder, SettingsTextAndHeaderClicks) {
  EXPECT_EQ(ParseSortText("A0"), (TSortState{0, false}));
  EXPECT_EQ(ParseSortText("D6"), (TSortState{6, true}));
  EXPECT_EQ(ParseSortText("A3"), (TSortState{3, false}));
  for (const char* bad : {"Z?", "A9", "D7", "", "A", "a1", "A1x", "A-"})
    EXPECT_EQ(ParseSortText(bad), (TSortState{0, false})) << bad;
  EXPECT_EQ(FormatSortText({1, true}), "D1");
  EXPECT_EQ(FormatSortText({0, false}), "A0");

  EXPECT_EQ(ClampSortColumn(9), 6);
  EXPECT_EQ(ClampSortColumn(-1), 0);

  TSortState s;
  s = ColumnClicked(s, 1);
  EXPECT_EQ(s, (TSortState{1, false}));
  s = ColumnClicked(s, 1);
  EXPECT_EQ(s, (TSortState{1, true}));
  s = ColumnClicked(s, 5);  // another column starts ascending
  EXPECT_EQ(s, (TSortState{5, false}));
}

}  // namespace
