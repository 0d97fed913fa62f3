#include "catalogue/TitleSearch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/Job.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;
using platform::Utf8ToAnsi;

namespace {

TEST(MatchMask, WildcardsMatchAsGlobsDo) {
  struct Case {
    const char* mask;
    const char* text;
    bool match;
  };
  const Case cases[] = {
      // Empty masks and texts.
      {"", "A", false},
      {"", "", false},
      {"*", "", true},
      {"*", "ANYTHING", true},
      {"**", "", false},
      {"?", "", false},
      {"A", "", false},
      // Literals and "?".
      {"ABC", "ABC", true},
      {"ABC", "ABCD", false},
      {"ABCD", "ABC", false},
      {"A?C", "ABC", true},
      {"A?C", "AC", false},
      {"???", "ABC", true},
      {"????", "ABC", false},
      // "*" at either end, in the middle, repeated.
      {"*ABC*", "XXABCXX", true},
      {"*ABC*", "ABC", true},
      {"*ABC*", "ABXC", false},
      {"ABC*", "ABCDEF", true},
      {"*DEF", "ABCDEF", true},
      {"*DEF", "DEFX", false},
      {"A*F", "ABCDEF", true},
      {"A*F", "ABCDEFG", false},
      {"A**F", "AF", true},
      {"*A*B*C*", "XAXBXCX", true},
      {"*A*B*C*", "XCXBXAX", false},
      // Mismatch after "*": the "*" takes one more byte and the rest is
      // tried again, "?" included.
      {"*?B", "ABB", true},
      {"*?AB", "XAAB", true},
      {"*AAB", "AAAAB", true},
      {"*ABAB", "ABABAB", true},
      {"*A?C", "ABABC", true},
      {"*?", "", false},
      {"*?", "A", true},
      {"*??", "A", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(matchMask(c.mask, c.text), c.match) << '"' << c.mask << "\" \"" << c.text << '"';
  }
  // Bytes, not characters: 1251 letters and bytes above 0x7F match themselves.
  EXPECT_TRUE(matchMask(Utf8ToAnsi("*ВОЙНА*"), Utf8ToAnsi("ВОЙНА И МИР")));
  EXPECT_TRUE(matchMask(Utf8ToAnsi("?ОЙ*"), Utf8ToAnsi("ВОЙНА")));
  EXPECT_FALSE(matchMask(Utf8ToAnsi("*ВОЙНА*"), Utf8ToAnsi("война")));
}

TEST(TitleMask, ThreeCharactersBesidesStarsAreNeeded) {
  using V = TTitleMask::TVerdict;
  auto verdict = [](const char* typed) { return MakeTitleMask(typed).verdict; };
  auto mask = [](const char* typed) { return MakeTitleMask(typed).mask; };

  EXPECT_EQ(verdict(""), V::tmEmpty);
  EXPECT_EQ(verdict("***"), V::tmTooShort);  // told, not silent
  EXPECT_EQ(verdict("*"), V::tmTooShort);
  EXPECT_EQ(verdict("ab"), V::tmTooShort);
  EXPECT_EQ(verdict("*ab"), V::tmTooShort);  // stars do not count
  EXPECT_EQ(verdict("a*b*"), V::tmTooShort);
  EXPECT_EQ(verdict("вой"), V::tmSearch);    // characters, not bytes
  EXPECT_EQ(verdict("во"), V::tmTooShort);
  EXPECT_EQ(verdict("%ab"), V::tmSearch);    // "%" counts
  EXPECT_EQ(verdict("a?b"), V::tmSearch);

  // Anywhere in the title unless the text has a star of its own; upper case.
  EXPECT_EQ(mask("abc"), "*ABC*");
  EXPECT_EQ(mask("вой"), Utf8ToAnsi("*ВОЙ*"));
  EXPECT_EQ(mask("war%peace"), "WAR*PEACE");
  EXPECT_EQ(mask("war*"), "WAR*");
  EXPECT_EQ(mask("%ab"), "*AB");
  // A character 1251 lacks matches any one.
  EXPECT_EQ(mask("a€bc"), "*A\x88" "BC*");
  EXPECT_EQ(mask("a😀bc"), "*A?BC*");
}

// The reference catalogue served from memory, as Python's zipfile reads it.
class TitleSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppState() = {};
    AppState().dbzPath = dir_ / "tomeshelf.dbz";
    platform::WriteFileBytes(AppState().dbzPath, "");
  }
  void TearDown() override { AppState() = {}; }

  void Use(const std::string& variant) {
    collection_ = sample::Collection(variant);
    reader_.members() = sample::ZipMembers(collection_ + "ref.dbz");
    ASSERT_TRUE(LoadAuthorList());
    AppState().blockCache.Clear();  // a block of the catalogue used before
    books_ = sample::ExpectedBooks(collection_ + "expected/");
  }

  std::vector<TTitleHit> FindMask(const AnsiString& mask, bool hideDuplicates) {
    return findBook(mask, AppState().authors, hideDuplicates, CachedBlock, host_);
  }
  std::vector<TTitleHit> Find(const char* typed, bool hideDuplicates) {
    return FindMask(MakeTitleMask(typed).mask, hideDuplicates);
  }

  // What the search must find for a text without wildcards, worked out from
  // the generator's list of every book line.
  std::vector<TTitleHit> Expected(const char* typed, bool hideDuplicates) {
    const AnsiString needle = platform::AnsiUpperCase(Utf8ToAnsi(typed));
    std::vector<TTitleHit> hits;
    for (const auto& b : books_) {
      const bool duplicate = b.fields[7] == "Y";
      if (hideDuplicates && duplicate) continue;
      if (platform::AnsiUpperCase(b.fields[0]).find(needle) == AnsiString::npos) continue;
      hits.push_back({b.author, duplicate, AppState().authors[b.author], b.fields[0], b.fields[2]});
    }
    return hits;
  }

  static std::string Describe(const TTitleHit& h) {
    return std::to_string(h.authorIndex) + (h.duplicate ? " Y " : " N ") +
           platform::AnsiToUtf8(h.author + " | " + h.title + " | " + h.file);
  }
  // Equal lists, or the first difference.
  static void ExpectSame(const std::vector<TTitleHit>& got, const std::vector<TTitleHit>& want) {
    EXPECT_EQ(got.size(), want.size());
    for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
      if (Describe(got[i]) != Describe(want[i])) {
        ADD_FAILURE() << "hit " << i << ": " << Describe(got[i]) << "\n  expected " << Describe(want[i]);
        return;
      }
    }
  }

  TempDir dir_;
  std::string collection_;
  std::vector<sample::TExpectedBook> books_;
  sample::TMemoryReader reader_;
  sample::TReaderScope scope_{reader_};
  TPlainJobHost host_;
};

TEST_F(TitleSearchTest, FindsEveryMatchingTitleOfTheReferenceCatalogues) {
  // The edge catalogue (a block of 132,000 lines whose stored starts wrap,
  // more than 100,000 authors) is large: one text there.
  const std::pair<const char*, std::vector<const char*>> runs[] = {
      {"small", {"сад", "ОЙН", "smith", "book", "zzzzz"}}, {"edge", {"сад"}}};
  for (const auto& [variant, texts] : runs) {
    SCOPED_TRACE(variant);
    Use(variant);
    for (const char* typed : texts) {
      for (bool hide : {true, false}) {
        SCOPED_TRACE(std::string(typed) + (hide ? " hidden" : " shown"));
        ExpectSame(Find(typed, hide), Expected(typed, hide));
      }
    }
  }
}

TEST_F(TitleSearchTest, SearchesTheCatalogueArchiveItself) {
  Use("small");
  std::filesystem::copy_file(collection_ + "ref.dbz", AppState().dbzPath,
                             std::filesystem::copy_options::overwrite_existing);
  TZipMemberReaderScope archive(readZipMember);
  ExpectSame(Find("сад", true), Expected("сад", true));
}

TEST_F(TitleSearchTest, DuplicatesAreSkippedWhenHiddenAndMarkedWhenShown) {
  Use("small");
  const auto shown = FindMask("*", false);  // every title
  const auto hidden = FindMask("*", true);
  long duplicateLines = 0;
  for (const auto& b : books_) duplicateLines += b.fields[7] == "Y";
  ASSERT_GT(duplicateLines, 0);
  EXPECT_EQ(static_cast<long>(shown.size()), sample::ModelNumber(collection_ + "expected/", "book_lines"));
  EXPECT_EQ(static_cast<long>(shown.size() - hidden.size()), duplicateLines);
  long marked = 0;
  for (const auto& h : shown) marked += h.duplicate;
  EXPECT_EQ(marked, duplicateLines);
  for (const auto& h : hidden) EXPECT_FALSE(h.duplicate);
}

TEST_F(TitleSearchTest, ReadsEachBlockOnceAndReportsProgressAsAJob) {
  Use("edge");  // more than 100,000 authors
  const size_t authors = AppState().authors.size();
  ASSERT_GT(authors, 100000u);
  const int before = reader_.TotalReads();
  Find("the", true);
  const size_t blocks = (authors + 999) / 1000;
  EXPECT_EQ(static_cast<size_t>(reader_.TotalReads() - before), blocks);
  for (size_t b = 0; b < blocks; ++b) EXPECT_EQ(reader_.Reads(BlockMemberName(static_cast<int32_t>(b))), 1);
  EXPECT_EQ(AppState().blockCache.number, static_cast<int32_t>(blocks - 1));

  // Every 100 authors a percentage; blank panels at the end; the job is over.
  EXPECT_GE(host_.statusCalls, static_cast<int>(authors / 100));
  EXPECT_EQ(host_.panels[0], " ");
  EXPECT_EQ(host_.panels[1], " ");
  EXPECT_EQ(host_.running, 0);
}

TEST_F(TitleSearchTest, AFailedReadEndsTheJobAndLeavesNoBlockCached) {
  Use("small");
  AppState().blockCache.Clear();
  reader_.SetFailing(true);
  int runningDuringRead = -1;
  const auto failing = [&](int32_t b) -> const TCatalogueBlock& {
    runningDuringRead = host_.running;
    return CachedBlock(b);
  };
  EXPECT_THROW(findBook(MakeTitleMask("abc").mask, AppState().authors, true, failing, host_),
               std::runtime_error);
  EXPECT_EQ(runningDuringRead, 1);  // controls were off while it read
  EXPECT_EQ(host_.running, 0);      // and are back
  EXPECT_EQ(AppState().blockCache.number, -1);
}

TEST_F(TitleSearchTest, AnEmptyCatalogueFindsNothing) {
  EXPECT_TRUE(findBook("*A*", {}, true, CachedBlock, host_).empty());
  EXPECT_EQ(reader_.TotalReads(), 0);
}

}  // namespace
