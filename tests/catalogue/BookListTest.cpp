// The whole book-list build against the sample collections' model
// (tools/make_collection.py): the new catalogue archive must hold the
// reference catalogue's members byte for byte, and the staging tables,
// read by dbfread before they are removed, the model's records. Then what
// must not happen: a failure at any stage leaves the old catalogue as it
// was, and stops give the smaller catalogues they promise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"
#include "catalogue/BookList.h"
#include "catalogue/FailureText.h"
#include "catalogue/Func.h"
#include "platform/Dialogs.h"
#include "platform/Streams.h"
#include "tests/catalogue/BookTableFixtures.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;
using booktable::Lines;
using TMembers = std::map<std::string, std::string>;

namespace {

constexpr char kOldCatalogue[] = "the old catalogue";

// A host without a window that lets a test look at every status update.
struct THookHost : TPlainJobHost {
  void showSB(const std::string& p0, const std::string& p1, const std::string& p2) override {
    TPlainJobHost::showSB(p0, p1, p2);
    if (onStatus) onStatus(p0, p1, p2);
  }
  // As the main window does while the program is ended: the stop request
  // stays set.
  bool StopRequested() const override { return stop || closing; }
  bool Closing() const override { return closing; }
  std::function<void(const std::string&, const std::string&, const std::string&)> onStatus;
  bool closing = false;
};

// The records of a staging table as dbfread reads it: the header's record
// count and length, then each live record ("N") and each deleted one ("Y")
// as a bo.txt line, or as "ID<TAB>name" for the author table.
struct TPeerTable {
  long count = 0, recordLength = 0;
  std::vector<std::string> live, deleted;
};

TPeerTable PeerRead(const std::string& path) {
  const std::string out = sample::RunCapture(
      "/usr/bin/python3 -c 'import sys, dbfread\n"
      "t = dbfread.DBF(sys.argv[1], raw=True)\n"
      "out = sys.stdout.buffer\n"
      "out.write(b\"%d %d\\n\" % (t.header.numrecords, t.header.recordlen))\n"
      "def line(r):\n"
      "    return b\"\\t\".join(v.strip() if k in (\"AU\", \"SZ\", \"ID\") else v.rstrip(b\" \")\n"
      "                      for k, v in r.items())\n"
      "for r in t.records: out.write(b\"N\" + line(r) + b\"\\n\")\n"
      "for r in t.deleted: out.write(b\"Y\" + line(r) + b\"\\n\")\n' " +
      sample::Quote(path));
  TPeerTable t;
  size_t pos = out.find('\n');
  sscanf(out.c_str(), "%ld %ld", &t.count, &t.recordLength);
  for (++pos; pos < out.size();) {
    const size_t eol = out.find('\n', pos);
    (out[pos] == 'N' ? t.live : t.deleted).push_back(out.substr(pos + 1, eol - pos - 1));
    pos = eol + 1;
  }
  return t;
}

class BookListBuild : public testing::Test {
 protected:
  void SetUp() override {
    session_.dataDir = root_.path();
    session_.workDir = root_ / "TMP/";
    session_.dbzPath = root_ / "tomeshelf.dbz";
    session_.expDir = root_ / "exp/";
    platform::ForceDirectories(session_.workDir);
    platform::ForceDirectories(session_.expDir);
    platform::WriteFileBytes(session_.dbzPath, kOldCatalogue);
  }

  void UseCollection(const std::string& root) {
    session_.inpFile = root + "librusec.inpx";
    session_.libDir = root + "lib/";
  }

  // Confirms and builds; true when the build ran.
  bool Build() {
    script_.answers = {platform::mrYes};
    return createBookList(host_, session_);
  }
  // Builds, expecting it to fail with E; then nothing may be left over.
  template <class E>
  void BuildFails() {
    EXPECT_THROW(Build(), E);
    ExpectUntouched();
  }
  // The build must raise E, which `check` looks at.
  template <class E, class Check>
  void BuildRaises(Check check) {
    try {
      Build();
      ADD_FAILURE() << "built";
    } catch (const E& e) {
      check(e);
    }
  }
  void ExpectUntouched() {
    EXPECT_EQ(platform::ReadFileBytes(session_.dbzPath), kOldCatalogue);
    EXPECT_EQ(host_.running, 0) << "the controls stay disabled";
    EXPECT_TRUE(platform::ListFolder(session_.workDir).empty());
    EXPECT_EQ(platform::ListFolder(root_.path()).size(), 3u) << "a file beside the catalogue";
  }

  TMembers NewCatalogue() { return sample::ReadZipMembers(session_.dbzPath); }

  // The final message box, as asked.
  const platform::TScriptedDialogs::Asked& FinalBox() const { return script_.asked.back(); }

  TempDir root_, in_;  // the program's folder; inputs made by tests
  TBuildSession session_;
  platform::TScriptedDialogs script_;
  platform::TDialogProviderScope scope_{&script_};
  THookHost host_;
};

// The members of the catalogue that `writer`-style input makes: the
// authors of `names` that come before `authors`, with their books of
// `books`, and `info` in "inf.txt".
TMembers CatalogueOf(const std::vector<std::string>& names, const std::vector<sample::TExpectedBook>& books,
                     int authors, const TCatalogueInfo& info) {
  TMembers members;
  TCatalogueWriter writer([&](const std::string& name, const AnsiString& bytes) { members[name] = bytes; });
  size_t b = 0;
  for (int a = 0; a < authors; ++a) {
    writer.AddAuthor(names[a]);
    for (; b < books.size() && books[b].author == a; ++b) {
      TBookFields f;
      for (int k = 0; k < kBookFieldCount; ++k) f[k] = books[b].fields[k];
      writer.AddBook(f);
    }
  }
  writer.Finish(info);
  return members;
}

// The members of two catalogues are equal; a difference is shown by
// name and first differing byte, not by the whole member.
void ExpectSameMembers(const TMembers& got, const TMembers& want) {
  for (const auto& [name, bytes] : want) {
    const auto it = got.find(name);
    if (it == got.end()) {
      ADD_FAILURE() << "missing member " << name;
      continue;
    }
    if (it->second == bytes) continue;
    const auto [a, b] = std::mismatch(it->second.begin(), it->second.end(), bytes.begin(), bytes.end());
    const size_t at = static_cast<size_t>(a - it->second.begin());
    ADD_FAILURE() << name << " differs at byte " << at << " of " << it->second.size() << " (want "
                  << bytes.size() << "): \"" << it->second.substr(at > 20 ? at - 20 : 0, 60) << "\" vs \""
                  << bytes.substr(at > 20 ? at - 20 : 0, 60) << "\"";
  }
  for (const auto& [name, bytes] : got)
    if (!want.count(name)) ADD_FAILURE() << "extra member " << name;
}

std::vector<std::string> ModelAuthors(const std::string& expected) {
  return ParseAuthorList(platform::ReadFileBytes(expected + "a.txt"));
}

}  // namespace

// --- the model ----------------------------------------------------------------

class BuildOnModel : public BookListBuild, public testing::WithParamInterface<const char*> {};

TEST_P(BuildOnModel, TheCatalogueAndTheTablesAreTheModels) {
  const std::string root = sample::Collection(GetParam());
  const std::string expected = root + "expected/";
  UseCollection(root);
  // The tables are complete and closed once packing begins.
  TPeerTable books, authors;
  host_.onStatus = [&](const std::string& p0, const std::string&, const std::string&) {
    if (p0 != "Архивация...") return;
    books = PeerRead(session_.workDir + "bo.dbf");
    authors = PeerRead(session_.workDir + "au.dbf");
  };
  ASSERT_TRUE(Build());

  ExpectSameMembers(NewCatalogue(), sample::ZipMembers(root + "ref.dbz"));
  const std::vector<std::string> records = Lines(expected + "bo.txt");
  std::vector<std::string> live, deleted;
  for (const std::string& r : records) (r.ends_with("\tY") ? deleted : live).push_back(r.substr(0, r.size() - 2));
  EXPECT_EQ(books.count, static_cast<long>(records.size()));
  EXPECT_EQ(books.recordLength, 441);
  EXPECT_EQ(books.live, live);
  EXPECT_EQ(books.deleted, deleted);
  std::vector<std::string> names;
  for (const std::string& n : Lines(expected + "au.txt")) names.push_back(std::to_string(names.size() + 1) + "\t" + n);
  EXPECT_EQ(authors.live, names);
  EXPECT_TRUE(authors.deleted.empty());

  EXPECT_EQ(session_.authors, sample::ModelNumber(expected, "authors"));
  EXPECT_EQ(session_.books, sample::ModelNumber(expected, "books"));
  EXPECT_EQ(session_.duplicates, sample::ModelNumber(expected, "duplicates"));
  // Authors cut to 65,535 lines: one "kept" per author in the model, each
  // named in the final box with the lines it lost.
  const std::string json = platform::ReadFileBytes(expected + "model.json");
  std::string cutLines;
  const std::regex cutEntry("\"name\": \"([^\"]*)\",\\s*\"books\": (\\d+),\\s*\"kept\": (\\d+)");
  size_t cut = 0;
  for (std::sregex_iterator m(json.begin(), json.end(), cutEntry), end; m != end; ++m, ++cut)
    cutLines += "\n" + (*m)[1].str() + " (не вошло " + std::to_string(std::stol((*m)[2]) - std::stol((*m)[3])) + ")";
  EXPECT_EQ(session_.cutAuthors.size(), cut);
  for (const auto& a : session_.cutAuthors)
    EXPECT_NE(json.find("\"index\": " + std::to_string(a.authorIndex) + ","), std::string::npos);
  if (cut) cutLines = "\n\nВ список вошли только первые 65535 книг авторов:" + cutLines;
  EXPECT_EQ(FinalBox().text, "Создание списка книг завершено\nАвторов " + std::to_string(session_.authors) +
                                 "\nКниг " + std::to_string(session_.books) + " [" +
                                 std::to_string(session_.duplicates) + "]" + cutLines);
  EXPECT_EQ(FinalBox().caption, "время работы " + std::to_string(session_.seconds) + " сек.");
  EXPECT_EQ(host_.panels[0], " ");
  EXPECT_EQ(host_.running, 0);
  EXPECT_TRUE(platform::ListFolder(session_.workDir).empty());
}

INSTANTIATE_TEST_SUITE_P(Variants, BuildOnModel, testing::Values("small", "edge"));

TEST_F(BookListBuild, SubCollectionsGiveTheirReferenceCatalogues) {
  const std::string edge = sample::Collection("edge");
  // A catalogue kept elsewhere and reached through a link stays so.
  const std::string kept = root_ / "kept.dbz";
  ASSERT_TRUE(platform::RenameOver(session_.dbzPath, kept));
  ASSERT_EQ(symlink(kept.c_str(), session_.dbzPath.c_str()), 0);
  for (const char* sub : {"sub/authors-1000/", "sub/authors-1001/", "sub/authors-2500/"}) {
    SCOPED_TRACE(sub);
    UseCollection(edge + sub);
    script_.asked.clear();
    ASSERT_TRUE(Build());
    ExpectSameMembers(NewCatalogue(), sample::ZipMembers(edge + sub + "ref.dbz"));
    platform::TFileInfo info;
    EXPECT_TRUE(platform::GetFileInfo(session_.dbzPath, info) && info.isLink);
    // The read errors were reported once, with their count.
    const long errors = sample::ModelNumber(edge + sub + "expected/", "read_errors");
    ASSERT_EQ(script_.asked.size(), errors ? 3u : 2u);
    if (errors) {
      EXPECT_EQ(script_.asked[1].text, "Ошибки при чтении файлов\n" + std::to_string(errors));
    }
  }
}

TEST_F(BookListBuild, ABuildThatReadsNoBookKeepsTheOldCatalogueAndSaysWhy) {
  // An index file whose list is empty, one without any list (a book archive
  // picked by mistake), an archive folder without book archives, one whose
  // archives hold no FB2 book.
  const std::string emptyList = in_ / "empty.inpx", noList = in_ / "books.zip", folder = in_ / "lib/";
  sample::RunCapture("/usr/bin/python3 -c 'import sys, zipfile\n"
                     "with zipfile.ZipFile(sys.argv[1], \"w\") as z: z.writestr(\"empty.inp\", b\"\")\n"
                     "with zipfile.ZipFile(sys.argv[2], \"w\") as z: z.writestr(\"1.fb2\", b\"<x/>\" * 2000)' " +
                     sample::Quote(emptyList) + " " + sample::Quote(noList));
  platform::ForceDirectories(folder);
  struct Case {
    bool useInp;
    std::string source, reason;
  };
  for (const Case& c : std::initializer_list<Case>{
           {true, emptyList, "В списках книг файла " + emptyList + " нет ни одной книги."},
           {true, noList, "В файле " + noList + " нет списков книг (.inp): возможно, выбран не тот файл."},
           {false, folder, "В папке " + folder + " нет архивов .zip с книгами .fb2."},
           {false, folder, "Ни одна книга .fb2 в архивах папки " + folder +
                               " не прочитана: в их заголовках нет названия."}}) {
    SCOPED_TRACE(c.source);
    session_.useInp = c.useInp;
    (c.useInp ? session_.inpFile : session_.libDir) = c.source;
    script_.asked.clear();
    BuildRaises<ENoBooksRead>([&](const auto& e) {
      EXPECT_EQ(std::string(e.what()), c.reason + "\nПрежний список книг не изменён.");
    });
    ExpectUntouched();
    EXPECT_EQ(script_.asked.size(), 1u) << "no box but the question";
    // The folder's next case: an archive of a book without a title.
    if (!c.useInp) platform::WriteFileBytes(folder + "books.zip", platform::ReadFileBytes(noList));
  }
}

TEST_F(BookListBuild, NoDoesNothing) {
  UseCollection(sample::Collection("small"));
  platform::WriteFileBytes(session_.workDir + "reading.fb2", "a book being read");
  script_.answers = {platform::mrNo};
  EXPECT_FALSE(createBookList(host_, session_));
  ASSERT_EQ(script_.asked.size(), 1u);
  EXPECT_EQ(script_.asked[0].text, "Пересоздать список книг ?\n\nЭто может занять определенное время...");
  EXPECT_EQ(script_.asked[0].caption, "Подтверждение");
  EXPECT_EQ(host_.statusCalls, 0);
  EXPECT_EQ(platform::ReadFileBytes(session_.dbzPath), kOldCatalogue);
  EXPECT_TRUE(platform::FileExists(session_.workDir + "reading.fb2"));
}

// --- failures -----------------------------------------------------------------

TEST_F(BookListBuild, AnIndexFileThatCannotBeReadKeepsTheOldCatalogue) {
  // Leftovers of an earlier build go as well.
  platform::WriteFileBytes(session_.workDir + "7.txt", "an old block");
  session_.inpFile = in_ / "not-a-zip.inpx";
  platform::WriteFileBytes(session_.inpFile, std::string(5000, 'x'));
  BuildFails<archiver::EZAException>();

}

TEST_F(BookListBuild, WhatTheModeReadsMustBeSetAndThereBeforeAnythingIsTouched) {
  UseCollection(sample::Collection("small"));
  platform::WriteFileBytes(session_.workDir + "reading.fb2", "a book being read");
  const std::string gone = in_ / "gone", folder = in_ / "folder.inpx";
  platform::ForceDirectories(folder);
  const std::string orNoIndex =
      "Укажите его в настройках или снимите там флажок «Использовать inpx для создания содержания».";
  struct Case {
    bool useInp;
    std::string path, reason;
  };
  for (const Case& c : std::initializer_list<Case>{
           {true, "", "Файл списка книг не задан. " + orNoIndex},
           {true, gone, "Файл списка книг не найден: " + gone + "\n" + orNoIndex},
           {true, folder, "Файл списка книг не найден: " + folder + "\n" + orNoIndex},
           {false, "", "Каталог архивов книг не задан. Укажите его в настройках."},
           {false, gone, "Каталог архивов книг не найден: " + gone + "\nУкажите его в настройках."}}) {
    SCOPED_TRACE(c.reason);
    UseCollection(sample::Collection("small"));
    session_.useInp = c.useInp;
    (c.useInp ? session_.inpFile : session_.libDir) = c.path;
    script_.asked.clear();
    BuildRaises<EBuildNotSetUp>([&](const auto& e) { EXPECT_EQ(std::string(e.what()), c.reason); });
    EXPECT_TRUE(script_.asked.empty()) << "not even the question";
    EXPECT_EQ(host_.statusCalls, 0);
    EXPECT_EQ(platform::ReadFileBytes(session_.dbzPath), kOldCatalogue);
    EXPECT_TRUE(platform::FileExists(session_.workDir + "reading.fb2"));
  }
  // The index mode reads no archive folder, the other no index file.
  session_.useInp = true;
  session_.libDir = "";
  EXPECT_TRUE(Build());
}

TEST_F(BookListBuild, AFullDiskWhileStagingKeepsTheOldCatalogue) {
  UseCollection(sample::Collection("small"));
  // bo.dbf of the small collection is ~170 KB; the limit hits it part-way.
  const rlim_t limit = 100000;
  const std::string told = in_ / "told.txt";
  const auto build = [&] {
    try {
      Build();
    } catch (const std::exception& e) {
      platform::WriteFileBytes(told, FailureReason(e, session_.inpFile));
      throw;
    }
  };
  EXPECT_EQ(booktable::ExitOfChildWithFileSizeLimit<platform::EStreamError>(limit, build), 0)
      << "2: the build ran; 1: another error";
  ExpectUntouched();
  EXPECT_EQ(platform::ReadFileBytes(told), "Недостаточно места на диске для записи: " + session_.workDir + "bo.dbf");
}

// A stream that takes `good` bytes and refuses the rest, as a full disk.
class TFullStream : public platform::TStream {
 public:
  TFullStream(platform::TStream& target, int64_t good) : target_(target), good_(good) {}
  int64_t Read(void* buffer, int64_t count) override { return target_.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t room = std::max<int64_t>(good_ - target_.Position(), 0);
    return target_.Write(buffer, std::min(count, room));
  }
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override { return target_.Seek(offset, origin); }
  void SetSize(int64_t size) override { target_.SetSize(size); }

 private:
  platform::TStream& target_;
  int64_t good_;
};

TEST_F(BookListBuild, AFullDiskWhilePackingKeepsTheOldCatalogueAndIsToldWithIt) {
  UseCollection(sample::Collection("small"));
  for (int64_t good : {0, 100, 5000}) {
    SCOPED_TRACE(good);
    session_.packStream = [good](platform::TStream& file) { return std::make_unique<TFullStream>(file, good); };
    BuildRaises<platform::EStreamError>([&](const auto& e) {
      EXPECT_EQ(FailureReason(e, session_.inpFile), "Недостаточно места на диске для записи: " + session_.dbzPath);
    });
    ExpectUntouched();
  }
}

// --- stops ----------------------------------------------------------------------

TEST_F(BookListBuild, AStopWhileReadingGivesTheCatalogueOfTheBooksRead) {
  const std::string small = sample::Collection("small");
  UseCollection(small);
  // The third progress report of the index reading comes after line 20:
  // 21 lines are read.
  int reports = 0;
  host_.onStatus = [&](const std::string& p0, const std::string&, const std::string& p2) {
    if (p0.empty() && p2.ends_with("%") && p2 != "100%" && ++reports == 3) host_.stop = true;
  };
  ASSERT_TRUE(Build());

  // The model of an index file holding only those lines.
  const std::string cut = in_ / "cut.inpx", model = in_ / "model.dbz";
  sample::RunCapture(
      "/usr/bin/python3 -c 'import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1]) as z:\n"
      "    i = next(i for i in z.infolist() if not i.is_dir() and\n"
      "             (i.filename.lower().endswith(\".inp\") or i.file_size >= 3333))\n"
      "    lines = z.read(i).splitlines(keepends=True)\n"
      "with zipfile.ZipFile(sys.argv[2], \"w\") as z: z.writestr(\"cut.inp\", b\"\".join(lines[:21]))' " +
      sample::Quote(session_.inpFile) + " " + sample::Quote(cut));
  sample::RunCapture("/usr/bin/python3 " + sample::Quote(std::string(TOMESHELF_SOURCE_DIR) + "/tools/make_collection.py") +
                     " --model-of " + sample::Quote(cut) + " --dbz " + sample::Quote(model));
  ExpectSameMembers(NewCatalogue(), sample::ZipMembers(model));
  EXPECT_EQ(FinalBox().text.rfind("Создание списка книг прервано\nСписок книг неполный\nАвторов ", 0), 0u);

  // A stop before the first archive keeps the old catalogue.
  platform::WriteFileBytes(session_.dbzPath, kOldCatalogue);
  session_.useInp = false;
  host_.onStatus = [&](const std::string& p0, const std::string&, const std::string&) {
    if (p0 == "Чтение файла...") host_.stop = true;
  };
  try {
    Build();
    ADD_FAILURE() << "built";
  } catch (const ENoBooksRead& e) {
    EXPECT_EQ(std::string(e.what()), "Создание списка книг прервано до того, как была прочитана хоть одна книга.\n"
                                     "Прежний список книг не изменён.");
  }
  ExpectUntouched();
}

TEST_F(BookListBuild, AStopDuringTheWalkGivesTheAuthorsWalked) {
  const std::string root = sample::Collection("edge") + "sub/authors-1000/";
  UseCollection(root);
  host_.onStatus = [&](const std::string& p0, const std::string& p1, const std::string&) {
    if (p0.empty() && p1 == "10%") host_.stop = true;  // 100 of 1,000 authors
  };
  ASSERT_TRUE(Build());
  const std::string expected = root + "expected/";
  const long books = sample::ModelNumber(expected, "books"), duplicates = sample::ModelNumber(expected, "duplicates");
  ExpectSameMembers(NewCatalogue(), CatalogueOf(ModelAuthors(expected), sample::ExpectedBooks(expected), 100, {100, books, duplicates}));
  EXPECT_EQ(FinalBox().text, "Создание списка книг прервано\nСписок книг неполный\nАвторов 100\nКниг " +
                                 std::to_string(books) + " [" + std::to_string(duplicates) + "]");

  // The same stop because the program is being ended: nobody asked for the
  // part, so the build fails and the old catalogue stays.
  platform::WriteFileBytes(session_.dbzPath, kOldCatalogue);
  host_.onStatus = [&](const std::string& p0, const std::string& p1, const std::string&) {
    if (p0.empty() && p1 == "10%") host_.closing = true;
  };
  BuildFails<EBuildAborted>();
}

// --- FB2 heads --------------------------------------------------------------------

class Fb2BuildOnModel : public BookListBuild, public testing::WithParamInterface<const char*> {};

TEST_P(Fb2BuildOnModel, TheCatalogueAndTheHeadLogAreTheModels) {
  const std::string root = sample::Collection(GetParam());
  UseCollection(root);
  session_.useInp = false;
  ASSERT_TRUE(Build());
  ExpectSameMembers(NewCatalogue(), sample::ZipMembers(root + "ref-fb2.dbz"));
  EXPECT_EQ(platform::ReadFileBytes(session_.expDir + "zzz.txt"),
            platform::ReadFileBytes(root + "expected/fb2/zzz.txt"));
  const long errors = sample::ModelNumber(root + "expected/fb2/", "read_errors");
  ASSERT_EQ(script_.asked.size(), 3u);
  EXPECT_EQ(script_.asked[1].text, "Ошибки при чтении файлов\n" + std::to_string(errors));
}

INSTANTIATE_TEST_SUITE_P(Variants, Fb2BuildOnModel, testing::Values("small", "edge"));

TEST_F(BookListBuild, Fb2HeadsAndTheIndexFileGiveOneCatalogue) {
  // Every record of the generator's scale variant has its book, with the
  // same data, in the same order; the heads know of no duplicates.
  const std::string root = in_ / "scale/";
  sample::RunCapture("/usr/bin/python3 " +
                     sample::Quote(std::string(TOMESHELF_SOURCE_DIR) + "/tools/make_collection.py") +
                     " --variant scale --records 3000 --out " + sample::Quote(root) + " 2>&1");
  UseCollection(root);
  ASSERT_TRUE(Build());
  TMembers index = NewCatalogue();
  const int64_t duplicates = session_.duplicates;
  session_.useInp = false;
  ASSERT_TRUE(Build());
  EXPECT_GT(duplicates, 0);
  EXPECT_EQ(session_.duplicates, 0);
  for (auto& [name, bytes] : index) {
    if (name == kInfoMember) {
      bytes = FormatCatalogueInfo({session_.authors, session_.books, 0});
      continue;
    }
    for (size_t at = bytes.find("\tY\r"); at != std::string::npos; at = bytes.find("\tY\r", at)) bytes[++at] = 'N';
  }
  ExpectSameMembers(NewCatalogue(), index);
}

TEST_F(BookListBuild, DamagedArchivesAndBooksArePassedOverAndCounted) {
  // Archives with a truncated deflate stream, an unknown method, bad XML, an
  // encrypted book; one cut short, one that is no zip: their sound books only.
  const std::string lib = in_ / "lib/";
  platform::ForceDirectories(lib);
  const std::string damaged = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/fb2-archives/";
  for (const platform::TFileInfo& f : platform::ListFolder(damaged))
    if (f.name.ends_with(".zip")) platform::WriteFileBytes(lib + f.name, platform::ReadFileBytes(damaged + f.name));
  session_.libDir = lib;
  session_.useInp = false;
  ASSERT_TRUE(Build());
  ASSERT_EQ(script_.asked.size(), 3u) << "a question about a damaged book";
  EXPECT_EQ(script_.asked[1].text, "Ошибки при чтении файлов\n5");
  const TMembers members = NewCatalogue();
  EXPECT_EQ(ParseAuthorList(members.at("a.txt")).size(), 1u);
  const TCatalogueBlock block(members.at("0.txt"));
  std::vector<std::string> files;
  for (size_t i = 0; i < block.LineCount(); ++i) files.emplace_back(SplitBookLine(block.Line(i))[bfFile]);
  // bad-xml, encrypted-member, truncated-archive, truncated-deflate, unknown-method
  EXPECT_EQ(files, (std::vector<std::string>{"1", "4", "1", "3", "1", "2", "1", "3", "1", "3"}));
}

TEST_F(BookListBuild, AStopBetweenArchivesGivesTheCatalogueOfTheArchivesRead) {
  const std::string small = sample::Collection("small");
  UseCollection(small);
  session_.useInp = false;
  int archives = 0;
  host_.onStatus = [&](const std::string& p0, const std::string&, const std::string&) {
    if (p0 == "Чтение файла..." && ++archives == 3) host_.stop = true;
  };
  ASSERT_TRUE(Build());
  const TMembers stopped = NewCatalogue();

  // The same two archives alone.
  const std::string lib = in_ / "two/";
  platform::ForceDirectories(lib);
  int copied = 0;
  for (const platform::TFileInfo& f : platform::ListFolder(small + "lib"))
    if (copied < 2 && f.name.ends_with(".zip") && !f.isDir && ++copied)
      platform::WriteFileBytes(lib + f.name, platform::ReadFileBytes(small + "lib/" + f.name));
  session_.libDir = lib;
  host_.onStatus = nullptr;
  ASSERT_TRUE(Build());
  ExpectSameMembers(stopped, NewCatalogue());
  EXPECT_GT(session_.books, 0);
  EXPECT_LT(session_.books, sample::ModelNumber(small + "expected/fb2/", "books"));
}
