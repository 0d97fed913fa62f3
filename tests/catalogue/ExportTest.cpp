#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "catalogue/AppState.h"
#include "catalogue/Export.h"
#include "catalogue/ReaderDevice.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "tests/catalogue/BookTableFixtures.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;

namespace {

namespace fs = std::filesystem;

const std::string kDamaged = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/catalogue/";

// A zip archive written by Python's zipfile: member name -> bytes (deflated).
void MakeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& members) {
  std::string command =
      "/usr/bin/python3 -c 'import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED) as z:\n"
      "    for a in sys.argv[2:]:\n"
      "        name, _, data = a.partition(\"=\")\n"
      "        z.writestr(name, data)\n' " +
      sample::Quote(path);
  for (const auto& [name, data] : members) command += " " + sample::Quote(name + "=" + data);
  sample::RunCapture(command);
}

void WriteScript(const std::string& path, const std::string& body) {
  platform::WriteFileBytes(path, "#!/bin/sh\n" + body);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eol = text.find('\n', pos);
    lines.push_back(text.substr(pos, eol - pos));
    if (eol == std::string::npos) break;
    pos = eol + 1;
  }
  return lines;
}

// Every regular file below `dir`, as paths relative to it.
std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (!e.is_directory()) out.push_back(fs::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

// The application state of an export: the small sample collection's archive
// folder copied to a folder with blanks in its name, and an export folder,
// a work folder and program folders likewise; messages are recorded.
class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppState() = {};
    lib = dir / "my books/";
    fs::copy(sample::Collection("small") + "lib", lib);
    exportDir = dir / "export here/";
    platform::ForceDirectories(exportDir);
    TAppState& app = AppState();
    app.programDir = dir.path();
    app.dataDir = dir.path();
    app.workDir = dir / "work dir/";
    platform::ForceDirectories(app.workDir);
    app.libDir = "my books";  // relative to the program folder
    app.expDir = exportDir;
  }
  void TearDown() override { AppState() = {}; }

  // The bytes of member `member` of archive `archive` of the collection, as
  // Python reads them.
  std::string Book(const std::string& archive, const std::string& member) {
    return sample::ZipMembers(lib + archive).at(member);
  }

  // Installs the fake converter: it records its arguments, checks the
  // switches, and writes "LRF:" + the input to the output; with a file
  // "fail" beside it, it says so on its error output (after 5 lines of
  // noise) and exits 2 without writing; with "quiet", it exits 0 without
  // writing. A write past a file size limit fails in it, as on a full
  // disk, instead of killing it.
  std::string InstallConverter() {
    const std::string folder = dir / "conv dir/";
    platform::ForceDirectories(folder);
    const std::string path = folder + "fb2 lrf";
    WriteScript(path,
                "trap '' XFSZ\n"
                "here=$(dirname \"$0\")\n"
                "printf '%s\\n' \"$@\" >> \"$here/args.txt\"\n"
                "[ \"$1\" = -s ] && [ \"$2\" = \"$here/default_styles.sini\" ] && [ \"$3\" = -i ] && "
                "[ \"$5\" = -o ] && [ $# -eq 6 ] || exit 2\n"
                "[ -f \"$here/fail\" ] && { printf 'noise %s\\n' 1 2 3 4 5 >&2; echo \"cannot convert $4\" >&2; exit 2; }\n"
                "[ -f \"$here/quiet\" ] && exit 0\n"
                "{ printf 'LRF:'; cat \"$4\"; } > \"$6\" 2>/dev/null || "
                "{ echo \"no room for $(basename \"$6\")\" >&2; exit 1; }\n");
    AppState().converterProgram = path;
    return folder;
  }

  // Archive folder entries that cover books but cannot be read: a text
  // file (5000..5009), an archive cut short in its first book (2000), the
  // later ones gone (2001..2009)
  // and a file that no one may read, root included (7000..7009); a folder
  // in place of an archive (6000..6009).
  void InstallBrokenArchives() {
    fs::create_directory(lib + "fb2-6000-6009.zip");
    fs::copy_file(kDamaged + "text-file.dbz", lib + "fb2-5000-5009.zip");
    fs::copy_file(kDamaged + "books-cut-before-book.zip", lib + "fb2-2000-2009.zip");
    fs::create_symlink("/proc/sys/vm/drop_caches", lib + "fb2-7000-7009.zip");
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& a : dialogs.asked) texts.push_back(a.text);
    return texts;
  }

  TempDir dir;
  std::string lib, exportDir;
  TPlainJobHost host;
  platform::TScriptedDialogs dialogs;
  platform::TDialogProviderScope dialogScope{&dialogs};
};

// --- finding a book ------------------------------------------------------------------

TEST(ArchiveRange, NamesWithTwoDashesAndLeadingDigits) {
  struct Case {
    const char* name;
    int64_t first, last;  // -1: not a book archive
  } cases[] = {
      {"fb2-000100-000199.zip", 100, 199},
      {"fb2-625127-625160_lost.zip", 625127, 625160},
      {"d.fb2-009373-367300.zip", 9373, 367300},
      {"fb2-000400-000409.ZIP", 400, 409},
      {"a-1-2.x.zip", 1, 2},
      {"fb2-1-2-3.zip", 1, 2},
      {"fb2-000300.zip", -1, -1},  // one "-"
      {"fb2-abc-xyz.zip", -1, -1},
      {"fb2--5.zip", -1, -1},
      {"fb2-1--5.zip", -1, -1},  // a sign is no digit
      {"fb2-1-2.zip.txt", -1, -1},
      {"fb2-1-2", -1, -1},
      {"fb2-1-99999999999999999999.zip", -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto range = archiveRange(c.name);
    ASSERT_EQ(range.has_value(), c.first >= 0);
    if (!range) continue;
    EXPECT_EQ(range->name, c.name);
    EXPECT_EQ(range->first, c.first);
    EXPECT_EQ(range->last, c.last);
  }
}

TEST(FileNumber, OnlyPlainFileNameComponentsAreNumbers) {
  for (const char* bad : {"", "1*", "../x1", "5\"5", "1/2", "1\\2", "c:1", "1?", "..", "1\t", "1\x7f", "12..3"}) {
    EXPECT_FALSE(isSafeFileNumber(bad)) << bad;
    EXPECT_FALSE(fileNumberValue(bad)) << bad;
  }
  EXPECT_TRUE(isSafeFileNumber("123"));
  EXPECT_EQ(fileNumberValue("123"), 123);
  EXPECT_EQ(fileNumberValue("0150"), 150);
  EXPECT_EQ(fileNumberValue("12.5"), 12);  // the number before the first "."
  EXPECT_TRUE(isSafeFileNumber("abc"));
  EXPECT_FALSE(fileNumberValue("abc"));
  EXPECT_FALSE(fileNumberValue(" 12"));
  EXPECT_FALSE(fileNumberValue(".5"));
  EXPECT_FALSE(fileNumberValue("99999999999999999999"));
}

TEST_F(ExportTest, EveryBookOfTheSampleCollectionIsFoundWhereTheModelSaysOrNotAtAll) {
  // number TAB archive TAB member TAB reason, from expected/archives.json.
  const std::string table = sample::RunCapture(
      "/usr/bin/python3 -c 'import json, sys\n"
      "for k, v in json.load(open(sys.argv[1]))[\"lookups\"].items():\n"
      "    print(k, v[\"archive\"] or \"\", v[\"member\"] or \"\", v[\"reason\"] or \"\", sep=\"\\t\")' " +
      sample::Quote(sample::Collection("small") + "expected/archives.json"));
  const std::vector<TBookArchive> archives = listBookArchives(lib);
  int found = 0, lines = 0;
  for (const std::string& line : Lines(table)) {
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      f.push_back(line.substr(start, tab - start));
    f.push_back(line.substr(start));
    ASSERT_EQ(f.size(), 4u) << line;
    SCOPED_TRACE(f[0]);
    const TBookSource source = findArchiveOfFile(archives, lib, f[0]);
    EXPECT_EQ(source.result == TBookLookup::Found ? source.archive : "", f[1]);
    EXPECT_EQ(source.member, f[2]);
    const TBookLookup expected = !f[1].empty()                         ? TBookLookup::Found
                                 : f[3] == "no archive holds it"       ? TBookLookup::NotInArchive
                                 : f[3] == "a covering archive is no zip" ? TBookLookup::ArchiveUnreadable
                                 : f[3] == "no archive covers it"      ? TBookLookup::NotCovered
                                                                       : TBookLookup::BadFileNumber;
    EXPECT_EQ(source.result, expected) << f[3];
    found += !f[1].empty();
    ++lines;
  }
  EXPECT_GT(lines, 300);
  EXPECT_GT(found, 150);
  EXPECT_TRUE(dialogs.asked.empty());  // archives that are none are passed over quietly
  // The settings' archive folder is relative to the program folder.
  EXPECT_EQ(findArchiveOfFile("625127").archive, "fb2-625127-625160_lost.zip");
  EXPECT_EQ(findArchiveOfFile("700").member, "sub/700.fb2");
}

TEST(FindArchiveOfFile, RangesOverlapsAndArchivesThatAreNone) {
  TempDir dir;
  const std::string lib = dir / "a lib/";
  platform::ForceDirectories(lib);
  MakeZip(lib + "fb2-1-99.zip", {{"150.fb2", "wrong: out of range"}, {"5.fb2", "five"}});
  MakeZip(lib + "fb2-100-199.zip", {{"150.fb2", "one fifty"}, {"160.FB2", "upper"}});
  MakeZip(lib + "fb2-150.zip", {{"150.fb2", "wrong: one dash"}});
  // Overlapping ranges: the first in name order lacks 1000, the second has it.
  MakeZip(lib + "fb2-0900-1999.zip", {{"901.fb2", "x"}, {"sub/1001.fb2", "nested"}});
  MakeZip(lib + "fb2-1000-1000_lost.zip", {{"1000.fb2", "the lost one"}});
  platform::WriteFileBytes(lib + "fb2-2000-2999.zip", "not a zip at all");
  MakeZip(lib + "fb2-2000-2999b.zip", {{"2500.fb2", "after a broken one"}});
  // A root item wins over an earlier one in a sub-folder.
  MakeZip(lib + "fb2-3000-3999.zip", {{"a/3000.fb2", "nested"}, {"3000.fb2", "root"}, {"3001.fb2/", ""}});

  const auto archives = listBookArchives(lib);
  ASSERT_EQ(archives.size(), 7u);  // the one-dash name is no book archive
  const auto at = [&](const char* file) { return findArchiveOfFile(archives, lib, file); };

  EXPECT_EQ(at("150").archive, "fb2-100-199.zip");
  EXPECT_EQ(at("150").member, "150.fb2");
  EXPECT_EQ(at("5").archive, "fb2-1-99.zip");
  EXPECT_EQ(at("160").member, "160.FB2");
  EXPECT_EQ(at("1000").archive, "fb2-1000-1000_lost.zip");
  EXPECT_EQ(at("1001").member, "sub/1001.fb2");
  EXPECT_EQ(at("2500").archive, "fb2-2000-2999b.zip");
  EXPECT_EQ(at("3000").member, "3000.fb2");
  EXPECT_EQ(at("151").result, TBookLookup::NotInArchive);
  // Only the broken one and b cover it: the broken one may hold it.
  EXPECT_EQ(at("2001").result, TBookLookup::ArchiveUnreadable);
  EXPECT_EQ(at("2001").archive, "fb2-2000-2999.zip");
  EXPECT_EQ(at("2001").reason, "Файл не является zip-архивом: " + lib + "fb2-2000-2999.zip");
  EXPECT_EQ(at("3001").result, TBookLookup::NotInArchive);  // a folder is no book
  EXPECT_EQ(at("5000").result, TBookLookup::NotCovered);
  EXPECT_EQ(at("1*").result, TBookLookup::BadFileNumber);
  EXPECT_EQ(at("x").result, TBookLookup::BadFileNumber);
  EXPECT_EQ(at("150").result, TBookLookup::Found);
}

TEST(ExtractZipMember, RawBytesReplaceAnEarlierCopyOnlyWhenComplete) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>((i * 131) % 256);  // 0x98, NUL, CR too
  platform::WriteFileBytes(dir / "7.fb2", bytes);
  ASSERT_EQ(std::system(("cd " + sample::Quote(dir.path()) + " && zip -q -0 b.zip 7.fb2 && rm 7.fb2").c_str()), 0);
  const std::string out = dir / "out dir/";
  platform::ForceDirectories(out);
  platform::WriteFileBytes(out + "7.fb2", "old copy");

  extractZipMember(dir / "b.zip", "7.fb2", out);
  EXPECT_TRUE(platform::ReadFileBytes(out + "7.fb2") == bytes);
  extractZipMember(dir / "b.zip", "7.fb2", out, "renamed.fb2");
  EXPECT_TRUE(platform::ReadFileBytes(out + "renamed.fb2") == bytes);

  // Damage the stored data: the CRC check fails and the copy stays.
  platform::WriteFileBytes(out + "7.fb2", "old copy");
  std::string zip = platform::ReadFileBytes(dir / "b.zip");
  zip[zip.find(bytes.substr(1000, 64)) + 10] ^= 0x55;
  platform::WriteFileBytes(dir / "b.zip", zip);
  EXPECT_ANY_THROW(extractZipMember(dir / "b.zip", "7.fb2", out));
  EXPECT_EQ(platform::ReadFileBytes(out + "7.fb2"), "old copy");
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"7.fb2", "renamed.fb2"}));
  EXPECT_ANY_THROW(extractZipMember(dir / "b.zip", "8.fb2", out));
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"7.fb2", "renamed.fb2"}));
}

// --- reading ---------------------------------------------------------------------------

TEST_F(ExportTest, ReadingCopiesTheBookToTheWorkFolderAndStartsTheReaderWithIt) {
  WriteScript(dir / "my reader", "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/reader args.txt\"\n");
  AppState().readerProgram = "my reader";  // relative to the program folder

  ASSERT_TRUE(readBook(host, "625130"));
  const std::string copy = AppState().workDir + "625130.fb2";
  EXPECT_TRUE(platform::ReadFileBytes(copy) == Book("fb2-625127-625160_lost.zip", "625130.fb2"));
  const std::string args = dir / "reader args.txt";
  for (int i = 0; i < 1000 && !platform::FileExists(args); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(platform::ReadFileBytes(args), copy + "\n");  // one argument, blanks and all
  EXPECT_TRUE(dialogs.asked.empty());

  // A book in a sub-folder of its archive.
  ASSERT_TRUE(readBook(host, "700"));
  EXPECT_TRUE(platform::ReadFileBytes(AppState().workDir + "700.fb2") ==
              Book("fb2-000700-000709.zip", "sub/700.fb2"));

  // A reader given by its command name is found in PATH.
  AppState().readerProgram = "true";
  EXPECT_TRUE(readBook(host, "625130"));
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(ExportTest, ReadingTellsWhatIsMissing) {
  EXPECT_FALSE(readBook(host, "100"));  // no reader configured
  WriteScript(dir / "reader", "exit 0\n");
  AppState().readerProgram = dir / "no such reader";
  EXPECT_FALSE(readBook(host, "100"));
  // There, but no program to start: a folder, a dangling link, a text.
  platform::ForceDirectories(dir / "reader dir");
  fs::create_symlink(dir / "gone", dir / "reader link");
  platform::WriteFileBytes(dir / "reader text", "text");
  for (const char* reader : {"reader dir", "reader link", "reader text"}) {
    AppState().readerProgram = dir / reader;
    EXPECT_FALSE(readBook(host, "100"));
  }
  AppState().readerProgram = dir / "reader";
  InstallBrokenArchives();
  EXPECT_FALSE(readBook(host, "150"));  // covered, not held
  EXPECT_FALSE(readBook(host, "800"));  // not covered
  EXPECT_FALSE(readBook(host, "../x1"));
  EXPECT_FALSE(readBook(host, "5001"));  // covered by archives that cannot be read
  EXPECT_FALSE(readBook(host, "2001"));
  EXPECT_FALSE(readBook(host, "7001"));
  EXPECT_FALSE(readBook(host, "6001"));
  // The work folder cannot be written: a file stands in its place (no
  // copy was left in it).
  ASSERT_TRUE(fs::remove(AppState().workDir));
  platform::WriteFileBytes(AppState().workDir.substr(0, AppState().workDir.size() - 1), "");
  EXPECT_FALSE(readBook(host, "100"));
  ASSERT_TRUE(fs::remove(AppState().workDir.substr(0, AppState().workDir.size() - 1)));
  fs::create_symlink(dir / "gone", AppState().workDir.substr(0, AppState().workDir.size() - 1));
  EXPECT_FALSE(readBook(host, "100"));
  const auto notRun = [&](const char* reader, const char* why) {
    return "Не удалось запустить программу чтения FB2:\n" + (dir / reader) + "\n" + why +
           ".\nПроверьте правильность имени программы в настройках.";
  };
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{
                kMsgNoReader, kMsgNoReader, notRun("reader dir", "Это каталог, а не программа"),
                notRun("reader link", "Ссылка ведёт к несуществующему файлу"),
                notRun("reader text", "Нет прав на её запуск"), "Книга 150.fb2 не найдена в архивах книг.",
                "Книга 800.fb2 не найдена в архивах книг.", "Недопустимое имя файла книги: «../x1».",
                "Не удалось прочитать книгу 5001.fb2 из архива fb2-5000-5009.zip:\n"
                "Файл не является zip-архивом: " + lib + "fb2-5000-5009.zip",
                "Не удалось прочитать книгу 2001.fb2 из архива fb2-2000-2009.zip:\n"
                "Данные повреждены: " + lib + "fb2-2000-2009.zip",
                "Не удалось прочитать книгу 7001.fb2 из архива fb2-7000-7009.zip:\n"
                "Нет прав доступа: " + lib + "fb2-7000-7009.zip",
                "Не удалось прочитать книгу 6001.fb2 из архива fb2-6000-6009.zip:\n"
                "Это каталог, а не файл: " + lib + "fb2-6000-6009.zip",
                "Не удалось записать книгу 100.fb2 в рабочий каталог:\n"
                "Это файл, а не каталог: " + AppState().workDir,
                "Не удалось записать книгу 100.fb2 в рабочий каталог:\n"
                "Ссылка ведёт к несуществующему каталогу: " + AppState().workDir}));
  for (const auto& a : dialogs.asked) EXPECT_EQ(a.caption, "");
}

// --- export -----------------------------------------------------------------------------

TEST_F(ExportTest, Fb2ExportNeedsNoConverterAndGoesOnPastAMissingBook) {
  platform::WriteFileBytes(exportDir + "101.fb2", "an earlier copy");
  const TExportCounts counts = expFiles(host, {"101", "800", "625127"}, ekFB2);
  EXPECT_EQ(counts.succeeded, 2);
  EXPECT_EQ(counts.failed, 1);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Успешно экспортировано файлов 2\nНе экспортировано файлов 1\n"
                                                 "Не найдены в архивах книг: 800.fb2"});
  EXPECT_TRUE(platform::ReadFileBytes(exportDir + "101.fb2") == Book("fb2-000100-000139.zip", "101.fb2"));
  EXPECT_TRUE(platform::ReadFileBytes(exportDir + "625127.fb2") ==
              Book("fb2-625127-625160_lost.zip", "625127.fb2"));
  EXPECT_EQ(FilesBelow(exportDir), (std::vector<std::string>{"101.fb2", "625127.fb2"}));
  EXPECT_EQ(host.running, 0);
  EXPECT_EQ(host.panels[0], " ");  // the status is cleared at the end

  // Books whose archives cannot be read are listed apart, by archive.
  InstallBrokenArchives();
  dialogs.asked.clear();
  const TExportCounts broken = expFiles(host, {"5001", "2001", "800", "5002", "103", "7009", "6000"}, ekFB2);
  EXPECT_EQ(broken.succeeded, 1);
  EXPECT_EQ(broken.failed, 6);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "Успешно экспортировано файлов 1\nНе экспортировано файлов 6\n"
                            "Не найдены в архивах книг: 800.fb2\n"
                            "Не прочитаны книги 5001.fb2, 5002.fb2:\nФайл не является zip-архивом: " +
                            lib + "fb2-5000-5009.zip\n"
                            "Не прочитаны книги 2001.fb2:\nДанные повреждены: " + lib + "fb2-2000-2009.zip\n"
                            "Не прочитаны книги 7009.fb2:\nНет прав доступа: " + lib + "fb2-7000-7009.zip\n"
                            "Не прочитаны книги 6000.fb2:\nЭто каталог, а не файл: " + lib + "fb2-6000-6009.zip"});
  EXPECT_EQ(FilesBelow(exportDir), (std::vector<std::string>{"101.fb2", "103.fb2", "625127.fb2"}));

  // A book in a sub-folder lands in the export folder itself.
  dialogs.asked.clear();
  EXPECT_EQ(expFiles(host, {"700"}, ekFB2).succeeded, 1);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Успешно экспортировано файлов 1\n"});
  EXPECT_TRUE(platform::FileExists(exportDir + "700.fb2"));

  // An export folder typed relative to the program folder and without a
  // trailing "/" is the same folder, not a prefix of the file's name.
  AppState().expDir = "export here";
  dialogs.asked.clear();
  EXPECT_EQ(expFiles(host, {"102"}, ekFB2).succeeded, 1);
  EXPECT_TRUE(platform::ReadFileBytes(exportDir + "102.fb2") == Book("fb2-000100-000139.zip", "102.fb2"));
  EXPECT_FALSE(platform::FileExists(dir / "export here102.fb2"));
}

TEST_F(ExportTest, LrfExportWithoutConverterTellsItForEachBook) {
  // Missing; there but not executable; executable but not a program; a
  // folder; a link to nothing.
  platform::WriteFileBytes(dir / "fb2lrf.sh", "#!/bin/sh\nexit 0\n");
  platform::WriteFileBytes(dir / "fb2lrf.bin", "\177ELF\001\002");
  ASSERT_EQ(::chmod((dir / "fb2lrf.bin").c_str(), 0755), 0);
  platform::ForceDirectories(dir / "fb2lrf.dir");
  fs::create_symlink(dir / "fb2lrf.gone", dir / "fb2lrf.link");
  const std::string notRun = "Не удалось запустить программу конвертации в LRF:\n";
  const std::string check = ".\nПроверьте правильность имени программы в настройках.";
  for (const auto& [converter, message] :
       std::initializer_list<std::pair<std::string, std::string>>{
           {dir / "nowhere/fb2lrf", kMsgNoConverter},
           {dir / "fb2lrf.sh", notRun + (dir / "fb2lrf.sh") + "\nНет прав на её запуск" + check},
           {dir / "fb2lrf.bin", notRun + (dir / "fb2lrf.bin") + "\nФайл не является программой" + check},
           {dir / "fb2lrf.dir", notRun + (dir / "fb2lrf.dir") + "\nЭто каталог, а не программа" + check},
           {dir / "fb2lrf.link",
            notRun + (dir / "fb2lrf.link") + "\nСсылка ведёт к несуществующему файлу" + check}}) {
    SCOPED_TRACE(converter);
    dialogs.asked.clear();
    AppState().converterProgram = converter;
    const TExportCounts counts = expFiles(host, {"100", "101"}, ekLRF);
    EXPECT_EQ(counts.succeeded, 0);
    EXPECT_EQ(counts.failed, 2);
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{message, message, "Не экспортировано файлов 2"}));
    EXPECT_TRUE(FilesBelow(exportDir).empty());
    EXPECT_TRUE(FilesBelow(AppState().workDir).empty());
  }
}

TEST_F(ExportTest, LrfExportRunsTheConverterOnAWorkCopyAndKeepsOnlyWhatItWrote) {
  const std::string conv = InstallConverter();
  platform::WriteFileBytes(exportDir + "102.lrf", "an earlier copy");
  EXPECT_EQ(expFiles(host, {"100", "700"}, ekLRF).succeeded, 2);
  EXPECT_TRUE(platform::ReadFileBytes(exportDir + "100.lrf") == "LRF:" + Book("fb2-000100-000139.zip", "100.fb2"));
  EXPECT_TRUE(platform::ReadFileBytes(exportDir + "700.lrf") ==
              "LRF:" + Book("fb2-000700-000709.zip", "sub/700.fb2"));
  const std::vector<std::string> args = Lines(platform::ReadFileBytes(conv + "args.txt"));
  ASSERT_EQ(args.size(), 12u);
  EXPECT_EQ(args[3], AppState().workDir + "100.fb2");
  EXPECT_EQ(platform::ExtractFileName(args[5]), "100.lrf");
  EXPECT_TRUE(FilesBelow(AppState().workDir).empty());  // the work copies are gone

  // The converter fails, or says it succeeded without writing: not exported,
  // the earlier copy stays, and the converter is named with its exit code
  // and its last words, once when it fails every book the same way.
  const std::string failed = "Программа конвертации в LRF не преобразовала книгу 102.fb2:\n" + conv + "fb2 lrf\n";
  platform::WriteFileBytes(conv + "fail", "");
  EXPECT_EQ(expFiles(host, {"102", "103"}, ekLRF).failed, 2);
  fs::rename(conv + "fail", conv + "quiet");
  EXPECT_EQ(expFiles(host, {"102"}, ekLRF).failed, 1);
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "Успешно экспортировано файлов 2\n",
                            failed + "Код завершения: 2\nСообщения программы:\nnoise 2\nnoise 3\nnoise 4\nnoise 5\n"
                                     "cannot convert " + AppState().workDir + "102.fb2",
                            "Не экспортировано файлов 2",
                            failed + "Код завершения: 0, но файл 102.lrf не создан", "Не экспортировано файлов 1"}));
  EXPECT_EQ(platform::ReadFileBytes(exportDir + "102.lrf"), "an earlier copy");
  EXPECT_EQ(FilesBelow(exportDir), (std::vector<std::string>{"100.lrf", "102.lrf", "700.lrf"}));
  EXPECT_TRUE(FilesBelow(AppState().workDir).empty());
}

TEST_F(ExportTest, DeviceExportWritesIntoTheBooksFolderOfTheFirstDeviceThatHasOne) {
  InstallConverter();
  {
    TReaderDeviceRootsScope none({});
    EXPECT_EQ(expFiles(host, {"100"}, ekReaderDevice).succeeded, 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{kMsgNoDevice});
  }

  const std::string plain = dir / "stick/", reader = dir / "my reader dev";
  platform::ForceDirectories(plain + "database/media");
  platform::ForceDirectories(reader + "/database/media/books");
  TReaderDeviceRootsScope roots({dir / "gone", plain, reader});
  EXPECT_EQ(removableDrives().back(), reader + "/");
  dialogs.asked.clear();
  EXPECT_EQ(expFiles(host, {"100", "101"}, ekReaderDevice).succeeded, 2);
  EXPECT_EQ(AppState().deviceDir, reader + "/database/media/books/");
  EXPECT_EQ(FilesBelow(reader), (std::vector<std::string>{"database/media/books/100.lrf", "database/media/books/101.lrf"}));
  EXPECT_EQ(Messages(), std::vector<std::string>{"Успешно экспортировано файлов 2\n"});
  EXPECT_TRUE(FilesBelow(exportDir).empty());
}

TEST_F(ExportTest, NothingHappensWithoutSelectionOrExportFolder) {
  EXPECT_EQ(expFiles(host, {}, ekFB2).failed, 0);
  AppState().expDir = dir / "missing/";
  EXPECT_EQ(expFiles(host, {"100"}, ekFB2).failed, 0);
  AppState().expDir = "";  // not the program folder
  EXPECT_EQ(expFiles(host, {"100"}, ekLRF).failed, 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>{kMsgNothingSelected, kMsgNoExportDir, kMsgNoExportDir}));
  EXPECT_EQ(FilesBelow(dir.path()).size(), FilesBelow(lib).size());  // nothing written anywhere
}

TEST_F(ExportTest, UnsafeFileNumbersAreRefused) {
  // Archives whose members the unsafe numbers would name.
  MakeZip(lib + "fb2-0-9.zip", {{"1*.fb2", "star"}, {"../x1.fb2", "escape"}, {"5\"5.fb2", "quote"}});
  InstallConverter();
  const TExportCounts counts = expFiles(host, {"1*", "../x1", "5\"5", "..", "/etc/passwd"}, ekLRF);
  EXPECT_EQ(counts.succeeded, 0);
  EXPECT_EQ(counts.failed, 5);
  EXPECT_TRUE(FilesBelow(exportDir).empty());
  EXPECT_FALSE(platform::FileExists(dir / "x1.fb2"));
  EXPECT_FALSE(platform::FileExists(dir / "conv dir/args.txt"));  // the converter never ran
}

TEST_F(ExportTest, AReadErrorEndsTheExportAndTheCountsAreStillReported) {
  MakeZip(lib + "fb2-5000-5009.zip", {{"5000.fb2", std::string(5000, 'b')}});
  std::string zip = platform::ReadFileBytes(lib + "fb2-5000-5009.zip");
  const size_t data = zip.find("5000.fb2") + 8;  // the deflated data follows the name
  for (size_t i = data + 2; i < data + 8; ++i) zip[i] = static_cast<char>(~zip[i]);
  platform::WriteFileBytes(lib + "fb2-5000-5009.zip", zip);

  const TExportCounts counts = expFiles(host, {"100", "5000", "101"}, ekFB2);
  EXPECT_EQ(counts.succeeded, 1);
  EXPECT_EQ(counts.failed, 1);
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Ошибка при экспорте книги 5000.fb2:\nДанные повреждены: " + lib + "fb2-5000-5009.zip");
  EXPECT_EQ(messages[1], "Экспорт прерван: обработано файлов 2 из 3\nУспешно экспортировано файлов 1\n"
                        "Не экспортировано файлов 1");
  EXPECT_EQ(FilesBelow(exportDir), std::vector<std::string>{"100.fb2"});
}

TEST_F(ExportTest, AWriteFailureIsToldWithWhatWasWrittenNotTheArchiveRead) {
  // Files may not grow past `limit` bytes: the book, or only the converter's
  // output, 4 bytes longer; or a file stands in place of the work folder.
  // The child leaves the messages it was given in a file of its own.
  const rlim_t size = Book("fb2-000100-000139.zip", "100.fb2").size();
  ASSERT_GT(size, 1024u);
  const std::string told = dir / "told.txt";
  const std::string conv = InstallConverter();
  const std::string full = "Ошибка при экспорте книги 100.fb2:\nНедостаточно места на диске для записи: ";
  const std::string ended = "\n--\nЭкспорт прерван: обработано файлов 1 из 2\nНе экспортировано файлов 1\n--\n";
  struct Case {
    int32_t kind;
    rlim_t limit;
    std::string told;  // names the converter where it ran
    bool workFolderIsFile = false;
  };
  for (const Case& c :
       {Case{ekFB2, 1024, full + exportDir + "100.fb2" + ended},
        Case{ekLRF, 1024, full + AppState().workDir + "100.fb2" + ended},
        // The converter fails on it and says why, naming the book: told
        // once, and the export goes on.
        Case{ekLRF, size + 2,
             "Программа конвертации в LRF не преобразовала книгу 100.fb2:\n" + conv +
                 "fb2 lrf\nКод завершения: 1\nСообщения программы:\nno room for 100.lrf\n--\n"
                 "Не экспортировано файлов 2\n--\n"},
        Case{ekLRF, RLIM_INFINITY,
             "Ошибка при экспорте книги 100.fb2:\nЭто файл, а не каталог: " + AppState().workDir +
                 ended,
             true}}) {
    SCOPED_TRACE(c.told);
    fs::remove(conv + "args.txt");
    if (c.workFolderIsFile) {
      ASSERT_TRUE(fs::remove(AppState().workDir));
      platform::WriteFileBytes(AppState().workDir.substr(0, AppState().workDir.size() - 1), "");
    }
    EXPECT_EQ(booktable::ExitOfChildWithFileSizeLimit<std::exception>(c.limit, [&] {
                expFiles(host, {"100", "101"}, c.kind);
                std::string text;
                for (const std::string& m : Messages()) text += m + "\n--\n";
                platform::WriteFileBytes(told, text);
              }),
              2);
    EXPECT_EQ(platform::ReadFileBytes(told), c.told);
    EXPECT_TRUE(FilesBelow(exportDir).empty());
    EXPECT_EQ(platform::FileExists(conv + "args.txt"), c.told.find(conv) != std::string::npos);
  }
}

TEST_F(ExportTest, AStopRequestEndsTheExportBetweenBooks) {
  // A host whose user presses Stop while the first book is exported.
  struct TStoppingHost : TPlainJobHost {
    void showSB(const std::string& p0, const std::string& p1, const std::string& p2) override {
      TPlainJobHost::showSB(p0, p1, p2);
      if (p1 == "100.fb2") stop = true, progress = p2;
    }
    std::string progress;
  } stopping;
  stopping.stop = true;  // an old request is cleared when the export starts
  const TExportCounts counts = expFiles(stopping, {"100", "101", "102"}, ekFB2);
  EXPECT_EQ(counts.succeeded, 1);
  EXPECT_EQ(FilesBelow(exportDir), std::vector<std::string>{"100.fb2"});
  EXPECT_EQ(Messages(), std::vector<std::string>{"Экспорт прерван: обработано файлов 1 из 3\n"
                                                 "Успешно экспортировано файлов 1\n"});
  EXPECT_EQ(stopping.progress, "1 из 3");
}

// An export killed while the converter runs leaves its staging folder in
// the export folder: left alone while the export runs (another program's,
// say), removed once nothing holds it.
TEST_F(ExportTest, AStagingFolderLeftByAKilledExportIsRemovedOnceNothingHoldsIt) {
  const std::string conv = dir / "conv/";
  platform::ForceDirectories(conv);
  WriteScript(
      conv + "fb2lrf",
      "printf partial > \"$6\"\necho $$ > \"$0.tmp\" && mv \"$0.tmp\" \"$0.pid\"\nexec sleep 60\n");
  AppState().converterProgram = conv + "fb2lrf";
  const pid_t exporting = fork();
  if (exporting == 0) {
    expFiles(host, {"100"}, ekLRF);
    _exit(0);
  }
  ASSERT_GT(exporting, 0);
  const std::string pid = conv + "fb2lrf.pid";  // there once the converter runs
  for (int i = 0; i < 6000 && !platform::FileExists(pid); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(platform::FileExists(pid));
  EXPECT_EQ(RemoveStagingLeftovers(exportDir), 0);
  kill(exporting, SIGKILL);
  waitpid(exporting, nullptr, 0);
  kill(std::stoi(platform::ReadFileBytes(pid)), SIGKILL);

  EXPECT_FALSE(fs::is_empty(exportDir));
  EXPECT_EQ(RemoveStagingLeftovers(exportDir), 1);
  EXPECT_TRUE(fs::is_empty(exportDir));
}

}  // namespace
