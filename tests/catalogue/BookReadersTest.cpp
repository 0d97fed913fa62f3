// The two readers of the book-list build against the sample collections'
// model (tools/make_collection.py): every record they stage in the book
// table, in writing order, the author numbering, the counts, the read errors
// and the FB2 head log must be the model's. Then damaged inputs and stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"
#include "catalogue/Fb2Reader.h"
#include "catalogue/InpxReader.h"
#include "platform/Dialogs.h"
#include "tests/catalogue/BookTableFixtures.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;
using booktable::Lines;

namespace {

// What one reading staged: the table's records, the authors and counts.
struct TStaged {
  std::vector<std::string> records;
  std::vector<std::string> authors;
  int64_t books = 0, duplicates = 0, readErrors = 0;
  AnsiString log;  // FB2 mode: the head log
};

// Runs `read(host, sink)` into a fresh book table and reads it back.
template <class Read>
TStaged Stage(Read read) {
  TempDir dir;
  const std::string table = dir / "bo.dbf";
  booktable::WriteNewBookTable(table);
  booktable::TMapAuthors authors;
  TStaged out;
  TBookTableWriter writer(table);
  TBookAppender appender(authors, writer);
  TPlainJobHost host;
  out.log = read(host, appender);
  writer.Finish();
  out.books = appender.Books();
  out.duplicates = appender.Duplicates();
  out.readErrors = appender.ReadErrors();
  out.records = booktable::ReadBookRecords(table);
  EXPECT_EQ(writer.Count(), out.records.size());
  out.authors = authors.Names();
  return out;
}

TStaged StageInpx(const std::string& inpx) {
  return Stage([&](TJobHost& host, TBookSink& sink) {
    readInpx(inpx, host, sink);
    return AnsiString();
  });
}

TStaged StageFb2(const std::string& lib) {
  return Stage([&](TJobHost& host, TBookSink& sink) {
    TFb2Reader reader(host, sink);
    reader.readFb2Archives(lib);
    return reader.Log();
  });
}

// The staged tables equal the model's in `expected` (with '/').
void ExpectModel(const TStaged& got, const std::string& expected) {
  const std::vector<std::string> records = Lines(expected + "bo.txt");
  if (got.records != records) {
    const auto [ours, model] = std::mismatch(got.records.begin(), got.records.end(), records.begin(), records.end());
    ADD_FAILURE() << "record " << (ours - got.records.begin()) << " of " << got.records.size() << " (model "
                  << records.size() << "): \"" << (ours == got.records.end() ? "" : *ours) << "\", model \""
                  << (model == records.end() ? "" : *model) << "\"";
  }
  EXPECT_EQ(got.authors, Lines(expected + "au.txt"));
  EXPECT_EQ(got.books, sample::ModelNumber(expected, "books"));
  EXPECT_EQ(got.duplicates, sample::ModelNumber(expected, "duplicates"));
  EXPECT_EQ(got.readErrors, sample::ModelNumber(expected, "read_errors"));
}

class ReadersOnModel : public testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(ReadersOnModel, IndexFileGivesTheModelsRecords) {
  const std::string root = sample::Collection(GetParam());
  ExpectModel(StageInpx(root + "librusec.inpx"), root + "expected/");
}

TEST_P(ReadersOnModel, Fb2HeadsGiveTheModelsRecordsAndLog) {
  const std::string root = sample::Collection(GetParam());
  const TStaged got = StageFb2(root + "lib");
  ExpectModel(got, root + "expected/fb2/");
  EXPECT_EQ(got.log, platform::ReadFileBytes(root + "expected/fb2/zzz.txt"));
}

INSTANTIATE_TEST_SUITE_P(Variants, ReadersOnModel, testing::Values("small", "edge"));

TEST(ReadersOnModel, SubCollectionsOfExactAuthorCounts) {
  const std::string root = sample::Collection("edge");
  for (const char* sub : {"sub/authors-1000/", "sub/authors-1001/", "sub/authors-2500/"}) {
    SCOPED_TRACE(sub);
    ExpectModel(StageInpx(root + sub + "librusec.inpx"), root + sub + "expected/");
  }
}

// --- the index file -------------------------------------------------------------

// What the sample collections do not spell: sizes with leading zeros or too
// many digits, a negative size, and the field count at its edge.
TEST(InpxReader, SizesAndFieldCounts) {
  TBOOK book;
  const auto line = [](const std::string& size, int fields, bool terminated) {
    std::string s = "A,B,:\x04prose:\x04T\x04\x04\x04" "1\x04" + size;
    for (int i = 7; i < fields; ++i) s += "\x04x";
    return terminated ? s + "\x04" : s;
  };
  for (const auto& [size, stored, result] :
       {std::tuple{"", "0", TInpLine::ilBook}, {"000", "0", TInpLine::ilBook}, {"0012", "12", TInpLine::ilBook},
        {"123456789012345678901234567890", "99999999", TInpLine::ilBook}, {"12k", "0", TInpLine::ilBadSize},
        {"-5", "0", TInpLine::ilBadSize}}) {
    EXPECT_EQ(parseInpLine(line(size, 12, false), book), result) << size;
    EXPECT_EQ(book.fsize, stored) << size;
  }
  EXPECT_EQ(parseInpLine(line("1", 12, true), book), TInpLine::ilBook);
  EXPECT_EQ(parseInpLine(line("1", 11, true), book), TInpLine::ilShort);
  EXPECT_EQ(parseInpLine(line("1", 11, false), book), TInpLine::ilShort);
  EXPECT_EQ(parseInpLine("", book), TInpLine::ilShort);
}

TEST(InpxReader, AnIndexFileThatIsNoArchiveEndsTheReading) {
  TempDir dir;
  platform::WriteFileBytes(dir / "text.inpx", std::string(5000, 'x'));
  platform::ForceDirectories(dir / "folder.inpx");
  for (const std::string& path : {dir / "text.inpx", dir / "folder.inpx", dir / "missing.inpx"}) {
    SCOPED_TRACE(path);
    EXPECT_THROW(StageInpx(path), archiver::EZAException);
  }
}

// --- stops ----------------------------------------------------------------------

namespace {

// A sink that asks the host to stop once it holds `after` books.
class TStoppingSink : public TBookSink {
 public:
  TStoppingSink(TPlainJobHost& host, int after) : host_(host), after_(after) {}
  void appendBook(const TBOOK& book, const AnsiString& file) override {
    files.push_back(file);
    EXPECT_FALSE(book.bookName.empty());
    if (static_cast<int>(files.size()) == after_) host_.stop = true;
  }
  void readError() override {}
  std::vector<std::string> files;

 private:
  TPlainJobHost& host_;
  int after_;
};

}  // namespace

TEST(Readers, AStopEndsTheReadingAfterTheCurrentBook) {
  const std::string root = sample::Collection("small");
  for (int after : {1, 37}) {
    TPlainJobHost host;
    TStoppingSink sink(host, after);
    readInpx(root + "librusec.inpx", host, sink);
    EXPECT_EQ(sink.files.size(), size_t(after));

    TPlainJobHost fb2Host;
    TStoppingSink fb2Sink(fb2Host, after);
    TFb2Reader reader(fb2Host, fb2Sink);
    reader.readFb2Archives(root + "lib");
    EXPECT_EQ(fb2Sink.files.size(), size_t(after));
  }
}

// --- damaged archives -------------------------------------------------------------

namespace {

const std::string kDamaged = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/fb2-archives/";

// A sink that keeps the file numbers and counts read errors.
struct TRecordingSink : TBookSink {
  void appendBook(const TBOOK&, const AnsiString& file) override { files.push_back(file); }
  void readError() override { ++readErrors; }
  std::vector<std::string> files;
  int readErrors = 0;
};

}  // namespace

TEST(Fb2Reader, DamagedArchivesAndMembersArePassedOverAndCounted) {
  platform::TScriptedDialogs dialogs;  // nothing may be asked: no answer is scripted
  platform::TDialogProviderScope scope(&dialogs);
  struct Case {
    const char* archive;
    std::vector<std::string> files;
    int readErrors;
    const char* log;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"truncated-deflate.zip", {"1", "3"}, 1, "286\r286\r"},
           {"unknown-method.zip", {"1", "3"}, 1, "286\r286\r"},
           {"encrypted-member.zip", {"1", "3"}, 1, "286\r286\r"},
           // Book 2 is tried at every size; book 3 at 16,000 bytes at once.
           {"bad-xml.zip", {"1", "4"}, 0, "286\r328\r328\r328\r328\r321\r286\r"},
           // Counted, and what the rebuilt directory finds is read.
           {"truncated-archive.zip", {"1", "2"}, 1, "286\r286\r"},
           {"not-a-zip.zip", {}, 1, ""}}) {
    SCOPED_TRACE(c.archive);
    TPlainJobHost host;
    TRecordingSink sink;
    TFb2Reader reader(host, sink);
    reader.readFb2Zip(kDamaged + c.archive);
    EXPECT_EQ(sink.files, c.files);
    EXPECT_EQ(sink.readErrors, c.readErrors);
    EXPECT_EQ(reader.Log(), c.log);
    EXPECT_EQ(host.panels[2], c.files.empty() ? "" : "100%");
  }
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST(Fb2Reader, AFolderIsReadToItsLastArchiveWhateverItsArchivesHold) {
  TempDir dir;
  for (const char* name : {"bad-xml.zip", "encrypted-member.zip", "not-a-zip.zip", "truncated-archive.zip",
                           "truncated-deflate.zip", "unknown-method.zip"})
    platform::WriteFileBytes(dir / name, platform::ReadFileBytes(kDamaged + name));
  platform::WriteFileBytes(dir / "zz-last.ZIP", platform::ReadFileBytes(kDamaged + "bad-xml.zip"));
  platform::WriteFileBytes(dir / "readme.txt", "not an archive");
  platform::ForceDirectories(dir / "folder.zip");

  TPlainJobHost host;
  TRecordingSink sink;
  TFb2Reader reader(host, sink);
  reader.readFb2Archives(dir.path());
  EXPECT_EQ(sink.files, (std::vector<std::string>{"1", "4", "1", "3", "1", "2", "1", "3", "1", "3", "1", "4"}));
  EXPECT_EQ(sink.readErrors, 5);
  EXPECT_EQ(host.panels[1], "zz-last.ZIP");

  EXPECT_THROW(reader.readFb2Archives(dir / "missing"), platform::EFileError);
  EXPECT_THROW(reader.readFb2Archives(dir / "readme.txt"), platform::EFileError);
}

TEST(Fb2Reader, TitleInfoIsReadInTheBooksNamespaceOnly) {
  TPlainJobHost host;
  TRecordingSink sink;
  TFb2Reader reader(host, sink);
  const std::string children =
      "><book-title>Заглавие</book-title><author><last-name>Тестов</last-name></author><lang>ru</lang></title-info>";
  struct Case {
    std::string titleInfo;
    const char* title;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"<title-info", "Заглавие"},
           {"<title-info xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"", "Заглавие"},
           {"<title-info xmlns=\"http://example.org/other\"", ""}}) {
    SCOPED_TRACE(c.titleInfo);
    TBOOK book;
    EXPECT_EQ(reader.parseFb2Header("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<description>" + c.titleInfo +
                                        children,
                                    book),
              *c.title != 0);
    EXPECT_EQ(platform::AnsiToUtf8(book.bookName), c.title);
    if (*c.title) {
      EXPECT_EQ(book.author, std::vector<AnsiString>{platform::Utf8ToAnsi("Тестов")});
      EXPECT_EQ(book.lang, "ru");
    }
  }
}
