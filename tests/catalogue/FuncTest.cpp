#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "catalogue/AppState.h"
#include "catalogue/Func.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;
using platform::AnsiToUtf8;
using platform::Utf8ToAnsi;
namespace fs = std::filesystem;

namespace {

TEST(GenreTable, RowsAreThoseOfTheFormat) {
  const auto table = GenreTable();
  ASSERT_EQ(table.size(), 232u);
  EXPECT_STREQ(table[0].code, "FS");
  EXPECT_STREQ(table[0].id, "sf");
  EXPECT_STREQ(table[231].code, "ZT");
  EXPECT_STREQ(table[231].name, "Народные сказки");
  // Exact texts, odd ones included.
  EXPECT_STREQ(table[151].name, "Протестантизм ");
  EXPECT_STREQ(table[202].name, "Компьютерное \"железо\" (аппаратное обеспечение)");
  for (const TGenre& g : table) EXPECT_EQ(std::string(g.code).size(), 2u) << g.id;

  // Codes on two rows: FH, PZ, SY, EP; ids on two rows: fifteen of them.
  std::multiset<std::string> codes, ids;
  for (const TGenre& g : table) {
    codes.insert(g.code);
    ids.insert(g.id);
  }
  std::set<std::string> twiceCodes, twiceIds;
  for (const auto& c : codes)
    if (codes.count(c) == 2) twiceCodes.insert(c);
  for (const auto& i : ids)
    if (ids.count(i) == 2) twiceIds.insert(i);
  EXPECT_EQ(twiceCodes, (std::set<std::string>{"EP", "FH", "PZ", "SY"}));
  EXPECT_EQ(twiceIds.size(), 15u);
  EXPECT_TRUE(twiceIds.count("humor_anecdote") && twiceIds.count("sf_detective"));
}

TEST(GenreTable, CodesToGenresKeepsEveryMatchAndCuts) {
  auto names = [](std::string_view codes) { return AnsiToUtf8(codesToGenres(codes)); };
  EXPECT_EQ(names("FSFF"), "Научная фантастика,Фэнтези");
  EXPECT_EQ(names("FH"), "Ужасы,Альтернативная история");     // one code, two names
  EXPECT_EQ(names("FSF"), "Научная фантастика");              // odd last character ignored
  EXPECT_EQ(names("QQFS"), "Научная фантастика");             // unknown code adds nothing
  EXPECT_EQ(names("fs"), "");                                 // codes are case-sensitive
  EXPECT_EQ(names(""), "");
  EXPECT_EQ(names("RT"), "Протестантизм ");
  // The result is ANSI: one byte per character.
  EXPECT_EQ(codesToGenres("FF"), Utf8ToAnsi("Фэнтези"));

  // A long code string is cut to 999 characters.
  std::string many;
  for (int i = 0; i < 100; ++i) many += "SW";  // "Военная история", 15 characters
  const AnsiString cut = codesToGenres(many);
  EXPECT_EQ(cut.size(), kGenreTextMax);
  AnsiString whole = Utf8ToAnsi("Военная история");
  for (int i = 1; i < 100; ++i) whole += "," + Utf8ToAnsi("Военная история");
  EXPECT_EQ(cut, whole.substr(0, kGenreTextMax));
}

TEST(GenreTable, GenresToCodesFollowsIdsThenRows) {
  EXPECT_EQ(genresToCodes({"sf", "unknown"}), "FS");
  EXPECT_EQ(genresToCodes({"comedy"}), "UCGC");  // one id, two rows
  EXPECT_EQ(genresToCodes({"child_verse", "sf"}), "CVECFS");
  EXPECT_EQ(genresToCodes({"sf", "sf"}), "FSFS");
  EXPECT_EQ(genresToCodes({"SF", "sf "}), "");  // exact, case-sensitive
  EXPECT_EQ(genresToCodes({}), "");
}

TEST(Func, PaddingToFixedWidths) {
  EXPECT_EQ(padRight("abc", 5), "abc  ");
  EXPECT_EQ(padRight("abcdef", 4), "abcd");
  EXPECT_EQ(padRight("", 2), "  ");
  EXPECT_EQ(padLeft("123456789", 8), "23456789");
  EXPECT_EQ(padLeft("", 3), "   ");
  EXPECT_EQ(padLeft("12", 4), "  12");
  EXPECT_EQ(padLeft("abc", 0), "");
  EXPECT_EQ(intToStrPadLeft(42, 6), "    42");
  EXPECT_EQ(intToStrPadLeft(-7, 3), " -7");
  EXPECT_EQ(intToStrPadLeft(1234567890, 8), "34567890");
  EXPECT_EQ(iifStr(true, "a", "b"), "a");
  EXPECT_EQ(iifInt(false, 1, 2), 2);
}

TEST(Func, SplitAndExpandPaths) {
  EXPECT_EQ(splitPath("/home//user/books/"), (std::vector<std::string>{"home", "user", "books"}));
  EXPECT_TRUE(splitPath("").empty());

  const std::string base = "/opt/tomeshelf/";
  EXPECT_EQ(expandRelativePath(base, "lib/books.inpx"), "/opt/tomeshelf/lib/books.inpx");
  EXPECT_EQ(expandRelativePath(base, "exp/"), "/opt/tomeshelf/exp/");
  EXPECT_EQ(expandRelativePath(base, "/srv/books"), "/srv/books");  // absolute: unchanged
  EXPECT_EQ(expandRelativePath(base, "../x.txt"), "/opt/x.txt");
  EXPECT_EQ(expandRelativePath(base, "./a/./b/../c"), "/opt/tomeshelf/a/c");
  // ".." never climbs above the root of an absolute base...
  EXPECT_EQ(expandRelativePath(base, "../../../../x.txt"), "/x.txt");
  EXPECT_EQ(expandRelativePath("/", ".."), "/");
  // ...while a relative base may be used up.
  EXPECT_EQ(expandRelativePath("a/b", "../../../c"), "c");
  // An empty rel gives the base as a folder.
  EXPECT_EQ(expandRelativePath("/opt/tomeshelf", ""), "/opt/tomeshelf/");
  EXPECT_EQ(expandRelativePath(base, "."), "/opt/tomeshelf");
}

TEST(Func, AbsPathResolvesAgainstTheProgramFolder) {
  const TAppState saved = AppState();
  AppState().programDir = "/opt/tomeshelf/";
  EXPECT_EQ(absPath("lib"), "/opt/tomeshelf/lib");
  EXPECT_EQ(absPath("../books/"), "/opt/books/");
  EXPECT_EQ(absPath("/srv/lib"), "/srv/lib");
  AppState() = saved;
}

// PATH for the scope's lifetime.
class TPathScope {
 public:
  explicit TPathScope(const std::string& path) {
    if (const char* old = std::getenv("PATH")) saved_ = old;
    ::setenv("PATH", path.c_str(), 1);
  }
  ~TPathScope() { ::setenv("PATH", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

TEST(Func, ProgramPathLooksABareNameUpInPathAfterTheProgramFolder) {
  TempDir dir;
  const TAppState saved = AppState();
  AppState().programDir = dir / "prog/";
  for (const char* folder : {"prog", "bin1", "bin2", "cwd"}) platform::ForceDirectories(dir / folder);
  auto program = [&](const std::string& path, mode_t mode) {
    platform::WriteFileBytes(path, "#!/bin/sh\n");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  };
  program(dir / "prog/beside", 0755);
  program(dir / "bin2/beside", 0755);
  program(dir / "bin1/reader", 0644);  // not executable: passed over
  program(dir / "bin2/reader", 0755);
  program(dir / "cwd/here", 0755);
  platform::ForceDirectories(dir / "bin1/folder");
  program(dir / "bin2/folder", 0755);

  const std::string prog = AppState().programDir;
  TPathScope path(":relative:" + (dir / "bin1") + ":" + (dir / "bin2/"));
  const auto cwd = fs::current_path();
  fs::current_path(dir / "cwd");
  const struct {
    const char* typed;
    std::string expected;
  } cases[] = {
      {"reader", dir / "bin2/reader"},       // the first executable one in PATH
      {"folder", dir / "bin2/folder"},       // a folder of that name is no program
      {"beside", prog + "beside"},           // the program folder first, as before
      {"here", prog + "here"},               // the current folder is not searched
      {"missing", prog + "missing"},         // found nowhere: where it was looked for
      {"sub/reader", prog + "sub/reader"},   // a path, not a command name
      {"/usr/bin/env", "/usr/bin/env"},
  };
  for (const auto& c : cases) EXPECT_EQ(programPath(c.typed), c.expected) << c.typed;
  fs::current_path(cwd);
  AppState() = saved;
}

TEST(Func, VersionTextIsTheProjectVersionInFourParts) {
  std::ifstream in(std::string(TOMESHELF_SOURCE_DIR) + "/CMakeLists.txt");
  const std::string cmake((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(\w+ VERSION (\d+)\.(\d+)\.(\d+))")));
  EXPECT_EQ(getVersionText(), m[1].str() + "." + m[2].str() + "." + m[3].str() + ".0");
}

TEST(Func, SaveStrToFileReplacesWholeAndReportsFailure) {
  TempDir dir;
  const std::string bytes("\x01\x2C\r\n\0\xFF", 6);
  EXPECT_TRUE(saveStrToFile("old and longer", dir / "f.txt"));
  EXPECT_TRUE(saveStrToFile(bytes, dir / "f.txt"));
  EXPECT_EQ(platform::ReadFileBytes(dir / "f.txt"), bytes);
  EXPECT_FALSE(saveStrToFile("x", dir / "missing/f.txt"));
}

}  // namespace
