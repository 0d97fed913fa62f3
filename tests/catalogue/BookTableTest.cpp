// The book table written without the engine: records that peers read back
// from a table the peer made and from one as the table builder makes it,
// tables the writer must refuse, and a write failure part-way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/BookTable.h"
#include "platform/Streams.h"
#include "tests/catalogue/BookTableFixtures.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;
using platform::Utf8ToAnsi;

namespace {

const std::string kTables = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/book-table/";

TBOOK Book(std::vector<std::string> authors, std::string title, std::string series, std::string file,
           std::string size, std::vector<std::string> genres, std::string lang, bool del) {
  TBOOK b;
  for (auto& a : authors) b.author.push_back(Utf8ToAnsi(a));
  b.bookName = Utf8ToAnsi(title);
  b.seria = Utf8ToAnsi(series);
  b.fname = file;
  b.fsize = size;
  b.genre = std::move(genres);
  b.lang = lang;
  b.del = del;
  return b;
}

// Three books: one author; two authors (one a case variant of the first
// book's), flagged deleted, every field too long; none.
std::vector<std::string> StageThreeBooks(const std::string& table, std::vector<std::string>& authors) {
  booktable::TMapAuthors map;
  TBookTableWriter writer(table);
  TBookAppender appender(map, writer);
  std::string longTitle, longSeries;
  for (int i = 0; i < 130; ++i) longTitle += "Дл";
  for (int i = 0; i < 80; ++i) longSeries += "Сер";
  for (const TBOOK& b :
       {Book({"Иванов Иван"}, "Первая", "Серия # 3", "101", "12345", {"sf", "prose"}, "ru", false),
        Book({"Петров", "иванов иван"}, longTitle, longSeries, "123456789", "123456789", {"nosuch"}, "rus", true),
        Book({}, "Третья", "", "7", "0", {}, "", false)})
    appender.appendBook(b, b.fname);
  EXPECT_EQ(appender.Books(), 3);
  EXPECT_EQ(appender.Duplicates(), 1);
  writer.Finish();
  authors = map.Names();
  // What the peers are to read, in UTF-8: number, title, series, file, size,
  // genres, date, language, deleted.
  const auto cut = [](const std::string& s, size_t n) { return platform::AnsiToUtf8(Utf8ToAnsi(s).substr(0, n)); };
  const std::string cutFields = cut(longTitle, 250) + "\t" + cut(longSeries, 150) + "\t12345678\t23456789\t\t\tru\tY";
  return {"1\tПервая\tСерия # 3\t101\t12345\tFSPP\t\tru\tN", "2\t" + cutFields, "1\t" + cutFields,
          "3\tТретья\t\t7\t0\t\t\t\tN"};
}

// The records of `table` as python3-dbf reads them (all, in file order),
// then dbfread's counts of live and deleted records.
std::string PeerReading(const std::string& table) {
  return sample::RunCapture(
      "/usr/bin/python3 -c 'import sys, dbf, dbfread\n"
      "t = dbf.Table(sys.argv[1], codepage=\"cp1251\")\n"
      "t.open()\n"
      "for r in t:\n"
      "    values = [str(v).rstrip() if v is not None else \"\" for v in r]\n"
      "    print(\"\\t\".join(values + [\"Y\" if dbf.is_deleted(r) else \"N\"]))\n"
      "t.close()\n"
      "d = dbfread.DBF(sys.argv[1], encoding=\"cp1251\")\n"
      "print(len(list(d)), len(list(d.deleted)))' " +
      sample::Quote(table));
}

}  // namespace

TEST(BookTable, PeersReadTheRecordsBackFromTheirOwnTableAndFromTheBuilders) {
  TempDir dir;
  const std::string peerMade = dir / "peer.dbf", builderMade = dir / "bo.dbf";
  sample::RunCapture("/usr/bin/python3 -c 'import sys, dbf\n"
                     "t = dbf.Table(sys.argv[1], \"AU N(10,0); NA C(250); SB C(150); FI C(8); SZ N(8,0); "
                     "GE C(8); DT C(4); LN C(2)\", dbf_type=\"db3\")\n"
                     "t.open(dbf.READ_WRITE)\n"
                     "t.close()' " +
                     sample::Quote(peerMade));
  booktable::WriteNewBookTable(builderMade);
  for (const std::string& table : {peerMade, builderMade}) {
    SCOPED_TRACE(table);
    std::vector<std::string> authors;
    const std::vector<std::string> expected = StageThreeBooks(table, authors);
    std::string want;
    for (const std::string& line : expected) want += line + "\n";
    EXPECT_EQ(PeerReading(table), want + "2 2\n");
    EXPECT_EQ(authors, (std::vector<std::string>{Utf8ToAnsi("Иванов Иван"), Utf8ToAnsi("Петров"),
                                                 Utf8ToAnsi("Неизвестный автор #000")}));
    // Nothing follows the last record.
    EXPECT_EQ(platform::ReadFileBytes(table).size(), 289u + 4 * 441);
  }
}

TEST(BookTable, OnlyANewBookTableIsTaken) {
  for (const char* name : {"holds-a-record.dbf", "author-table.dbf", "no-end-of-file-byte.dbf", "header-only.dbf"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string copy = dir / "bo.dbf";
    const std::string before = platform::ReadFileBytes(kTables + name);
    platform::WriteFileBytes(copy, before);
    EXPECT_THROW(TBookTableWriter writer(copy), platform::EStreamError);
    EXPECT_EQ(platform::ReadFileBytes(copy), before);
  }
  TempDir dir;
  EXPECT_THROW(TBookTableWriter writer(dir / "missing.dbf"), platform::EStreamError);
}

TEST(BookTable, AWriteFailureRaisesAndLeavesNoRecordCounted) {
  TempDir dir;
  const std::string table = dir / "bo.dbf";
  booktable::WriteNewBookTable(table);
  const rlim_t limit = 289 + 441 * 3000 + 100;
  const auto fill = [&] {
    TBookTableWriter writer(table);
    TBookRecord rec;
    formatBookRecord(rec, TBOOK{}, "1");
    for (int i = 0; i < 5000; ++i) writer.Write(rec);
    writer.Finish();
  };
  EXPECT_EQ(booktable::ExitOfChildWithFileSizeLimit<platform::EStreamError>(limit, fill), 0)
      << "no failure was raised";
  const std::string t = platform::ReadFileBytes(table);
  EXPECT_LE(t.size(), limit);
  EXPECT_EQ(t.substr(4, 4), std::string(4, '\0'));
}
