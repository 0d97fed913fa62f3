#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "catalogue/CatalogueFormat.h"
#include "catalogue/Func.h"

using namespace catalogue;

namespace {

// Members handed over by a TCatalogueWriter, by name, in order of arrival.
struct TMembers {
  std::map<std::string, AnsiString> bytes;
  std::vector<std::string> order;
  TCatalogueWriter::TMemberSink Sink() {
    return [this](const std::string& name, const AnsiString& b) {
      bytes[name] = b;
      order.push_back(name);
    };
  }
};

std::string Hex2(std::string_view s, size_t at) {
  char buf[8];
  snprintf(buf, sizeof buf, "%02X %02X", static_cast<unsigned char>(s.at(at)),
           static_cast<unsigned char>(s.at(at + 1)));
  return buf;
}

TBookFields Book(const std::string& title, const char* dup = "N") {
  static std::string keep;  // views must outlive the call only
  keep = title;
  return {keep, "Series #01", "123456", "4096", "FSFF", "", "ru", dup};
}

TEST(CatalogueFormat, SixteenBitNumbersAreBigEndian) {
  EXPECT_EQ(wordToChars(300), std::string("\x01\x2C", 2));
  EXPECT_EQ(wordToChars(40000), std::string("\x9C\x40", 2));
  EXPECT_EQ(wordToChars(0), std::string("\0\0", 2));
  EXPECT_EQ(charsToWord("\x01\x2C"), 300);
  EXPECT_EQ(charsToWord("\x9C\x40"), 40000);  // bytes are unsigned
  EXPECT_EQ(charsToWord("\xFF\xFF"), 65535);
  EXPECT_EQ(charsToWord(std::string_view("\x01", 1)), 256);  // a missing byte counts as 0
  EXPECT_EQ(charsToWord(""), 0);
}

TEST(CatalogueFormat, InfoTextIsExact) {
  const AnsiString expected = platform::Utf8ToAnsi(
      "Авторов:\t\t3\n"
      "Книг:\t\t10\n"
      "Дублей книг:\t2");
  EXPECT_EQ(FormatCatalogueInfo({3, 10, 2}), expected);
  // The Cyrillic is stored in Windows-1251: "А" is 0xC0.
  EXPECT_EQ(static_cast<unsigned char>(expected[0]), 0xC0);
}

TEST(CatalogueFormat, TwoThousandFiveHundredAuthorsMakeThreeBlocks) {
  TMembers m;
  TCatalogueWriter w(m.Sink());
  for (int i = 0; i < 2500; ++i) {
    w.AddAuthor("Author " + std::to_string(i));
    for (int b = 0; b < i % 3; ++b) w.AddBook(Book("Title " + std::to_string(i)));
  }
  w.Finish({2500, 2499, 0});

  EXPECT_EQ(m.order, (std::vector<std::string>{"0.txt", "1.txt", "2.txt", "a.txt", "inf.txt"}));
  EXPECT_EQ(Hex2(m.bytes["0.txt"], 0), "03 E8");
  EXPECT_EQ(Hex2(m.bytes["1.txt"], 0), "03 E8");
  EXPECT_EQ(Hex2(m.bytes["2.txt"], 0), "01 F4");

  // Every author reads back from its block with its own books, in order.
  const std::vector<AnsiString> names = ParseAuthorList(m.bytes["a.txt"]);
  ASSERT_EQ(names.size(), 2500u);
  std::map<int, TCatalogueBlock> blocks;
  for (int b = 0; b < 3; ++b) {
    blocks.emplace(b, TCatalogueBlock(m.bytes[BlockMemberName(b)]));
    EXPECT_FALSE(blocks[b].Damaged());
  }
  for (int i = 0; i < 2500; ++i) {
    EXPECT_EQ(names[i], "Author " + std::to_string(i));
    const TCatalogueBlock& blk = blocks[BlockOfAuthor(i)];
    const TLineRange r = blk.AuthorLines(EntryOfAuthor(i));
    ASSERT_EQ(r.count, size_t(i % 3)) << i;
    for (size_t k = r.first; k < r.first + r.count; ++k)
      EXPECT_EQ(SplitBookLine(blk.Line(k))[bfTitle], "Title " + std::to_string(i));
  }
}

TEST(CatalogueFormat, BlockBytesAreExact) {
  TMembers m;
  TCatalogueWriter w(m.Sink());
  w.AddAuthor("A");
  w.AddBook({"T1", "S", "11", "900", "FS", "", "ru", "N"});
  w.AddAuthor("B");  // no books: entry with count 0
  w.AddAuthor("C");
  w.AddBook({"T2", "", "12", "1200", "", "", "", "Y"});
  w.AddBook({"T3", "", "13", "5", "", "", "en", "N"});
  w.Finish({3, 3, 1});

  const std::string header(
      "\x00\x03"
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x00"
      "\x00\x01\x00\x02"
      "\r",
      15);
  EXPECT_EQ(m.bytes["0.txt"], header +
                                  "T1\tS\t11\t900\tFS\t\tru\tN\r"
                                  "T2\t\t12\t1200\t\t\t\tY\r"
                                  "T3\t\t13\t5\t\t\ten\tN\r");
  EXPECT_EQ(m.bytes["a.txt"], "A\r\nB\r\nC\r\n");

  const TCatalogueBlock blk(m.bytes["0.txt"]);
  EXPECT_EQ(blk.AuthorLines(1).count, 0u);
  EXPECT_EQ(blk.AuthorLines(1).first, blk.AuthorLines(2).first);
}

TEST(CatalogueFormat, ExactlyOneThousandAuthorsWriteOneBlock) {
  TMembers m;
  TCatalogueWriter w(m.Sink());
  for (int i = 0; i < 1000; ++i) w.AddAuthor("x");
  w.Finish({});
  EXPECT_EQ(m.order, (std::vector<std::string>{"0.txt", "a.txt", "inf.txt"}));

  TMembers none;
  TCatalogueWriter empty(none.Sink());
  empty.Finish({});
  EXPECT_EQ(none.order, (std::vector<std::string>{"a.txt", "inf.txt"}));
  EXPECT_EQ(none.bytes["a.txt"], "");
}

TEST(CatalogueFormat, BlockOfMoreThan65535LinesReadsBackWhole) {
  // Three authors of 40,000 books each: the third one's stored start wraps
  // (80,000 mod 65,536 = 14,464) but its lines are found all the same.
  TMembers m;
  TCatalogueWriter w(m.Sink());
  for (int a = 0; a < 3; ++a) {
    w.AddAuthor("Author " + std::to_string(a));
    for (int b = 0; b < 40000; ++b) w.AddBook(Book(std::to_string(a) + "/" + std::to_string(b)));
  }
  w.Finish({});
  const AnsiString& bytes = m.bytes["0.txt"];
  EXPECT_EQ(charsToWord(std::string_view(bytes).substr(2 + 4 * 2)), 80000 % 65536);
  EXPECT_EQ(Hex2(bytes, 4), "9C 40");  // count 40,000

  const TCatalogueBlock blk(bytes);
  EXPECT_FALSE(blk.Damaged());
  ASSERT_EQ(blk.LineCount(), 120000u);
  for (int a = 0; a < 3; ++a) {
    const TLineRange r = blk.AuthorLines(a);
    ASSERT_EQ(r.first, size_t(a) * 40000);
    ASSERT_EQ(r.count, 40000u);
    EXPECT_EQ(SplitBookLine(blk.Line(r.first))[bfTitle], std::to_string(a) + "/0");
    EXPECT_EQ(SplitBookLine(blk.Line(r.first + r.count - 1))[bfTitle],
              std::to_string(a) + "/39999");
  }
}

TEST(CatalogueFormat, AuthorBeyond65535LinesIsCutAndReported) {
  TMembers m;
  TCatalogueWriter w(m.Sink());
  w.AddAuthor("Prolific");
  int kept = 0;
  for (int b = 0; b < 70000; ++b) kept += w.AddBook(Book(std::to_string(b))) ? 1 : 0;
  w.AddAuthor("Next");
  w.AddBook(Book("after"));
  w.Finish({});

  EXPECT_EQ(kept, 65535);
  ASSERT_EQ(w.CutAuthors().size(), 1u);
  EXPECT_EQ(w.CutAuthors()[0].authorIndex, 0);
  EXPECT_EQ(w.CutAuthors()[0].droppedLines, 70000u - 65535u);

  // The next author's books are still where the header says.
  const TCatalogueBlock blk(m.bytes["0.txt"]);
  EXPECT_FALSE(blk.Damaged());
  EXPECT_EQ(blk.AuthorLines(0).count, 65535u);
  const TLineRange next = blk.AuthorLines(1);
  ASSERT_EQ(next.count, 1u);
  EXPECT_EQ(SplitBookLine(blk.Line(next.first))[bfTitle], "after");
}

TEST(CatalogueFormat, DamagedBlocksAreReadSafely) {
  // Header promises 1,000 authors but the member ends after two entries.
  {
    const TCatalogueBlock blk(std::string("\x03\xE8\x00\x00\x00\x05\x00\x05\x00", 9));
    EXPECT_TRUE(blk.Damaged());
    EXPECT_EQ(blk.AuthorCount(), 1);
    EXPECT_EQ(blk.AuthorLines(0).count, 0u);  // no lines are there
    EXPECT_EQ(blk.AuthorLines(1).count, 0u);
    EXPECT_EQ(blk.AuthorLines(999).count, 0u);
  }
  // Counts pointing past the last line: only the lines present.
  {
    const TCatalogueBlock blk(std::string("\x00\x02\x00\x00\x00\x02\x00\x02\xFF\xFF\r", 11) +
                              "a\tb\rc\td\re\r");
    EXPECT_TRUE(blk.Damaged());
    EXPECT_EQ(blk.AuthorLines(0).count, 2u);
    EXPECT_EQ(blk.AuthorLines(1).first, 2u);
    EXPECT_EQ(blk.AuthorLines(1).count, 1u);
    EXPECT_EQ(blk.StoredCount(1), 65535);
    EXPECT_EQ(blk.AuthorLines(2).count, 0u);
    EXPECT_EQ(blk.AuthorLines(-1).count, 0u);
  }
  // Empty and one-byte members.
  EXPECT_EQ(TCatalogueBlock("").AuthorCount(), 0);
  EXPECT_FALSE(TCatalogueBlock("").Damaged());
  EXPECT_TRUE(TCatalogueBlock("\x01").Damaged());

  // Random bytes never make the reader step outside the member (ASan watches).
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    std::string bytes(rng() % 200, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 4 == 0 ? '\r' : rng());
    const TCatalogueBlock blk(bytes);
    size_t total = 0;
    for (int j = -1; j <= blk.AuthorCount(); ++j) {
      const TLineRange r = blk.AuthorLines(j);
      ASSERT_LE(r.first + r.count, blk.LineCount());
      for (size_t k = r.first; k < r.first + r.count; ++k)
        total += SplitBookLine(blk.Line(k)).size();
    }
    (void)total;
  }
}

TEST(CatalogueFormat, LinesEndAtCrOrLfOrCrLf) {
  const TCatalogueBlock blk(std::string("\x00\x01\x00\x00\x00\x03\r", 7) + "a\r\nb\nc");
  EXPECT_FALSE(blk.Damaged());
  ASSERT_EQ(blk.LineCount(), 3u);
  EXPECT_EQ(blk.Line(0), "a");
  EXPECT_EQ(blk.Line(1), "b");
  EXPECT_EQ(blk.Line(2), "c");
}

TEST(CatalogueFormat, BookFieldsCannotBreakTheirLine) {
  const AnsiString line = FormatBookLine({"Tab\there", "cr\rlf\n", "1", "2", "", "", "", "N"});
  EXPECT_EQ(line, "Tab here\tcr lf \t1\t2\t\t\t\tN");
  const TBookFields f = SplitBookLine(line);
  EXPECT_EQ(f[bfTitle], "Tab here");
  EXPECT_EQ(f[bfDuplicate], "N");

  // Short lines give empty fields; an eighth TAB's rest stays in the last.
  const TBookFields shortLine = SplitBookLine("only\ttwo");
  EXPECT_EQ(shortLine[bfSeries], "two");
  EXPECT_EQ(shortLine[bfDuplicate], "");
  EXPECT_EQ(SplitBookLine("0\t1\t2\t3\t4\t5\t6\tY\textra")[bfDuplicate], "Y\textra");

  // Author names keep a.txt aligned with the blocks.
  TMembers m;
  TCatalogueWriter w(m.Sink());
  w.AddAuthor("");
  w.AddAuthor("Two\r\nLines");
  w.Finish({});
  EXPECT_EQ(m.bytes["a.txt"], "???\r\nTwo  Lines\r\n");
}

TEST(CatalogueFormat, AuthorListParsing) {
  EXPECT_EQ(ParseAuthorList("A\r\nB\r\n"), (std::vector<AnsiString>{"A", "B"}));
  // The last name without its line end is lost; empty lines give no name.
  EXPECT_EQ(ParseAuthorList("A\r\n\r\nB\r\nC"), (std::vector<AnsiString>{"A", "B"}));
  EXPECT_TRUE(ParseAuthorList("").empty());
}

}  // namespace
