#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "TempDir.h"

using namespace platform;

namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  for (const TFileInfo& fi : ListFolder(dir)) out.push_back(fi.name + (fi.isDir ? "/" : ""));
  return out;
}

using Names_ = std::vector<std::string>;

// Sets an environment variable for the test's lifetime.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvVar() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(Paths, JoinAndDelimiters) {
  EXPECT_EQ(JoinPath("a", "b"), "a/b");
  EXPECT_EQ(JoinPath("a/", "b"), "a/b");
  EXPECT_EQ(JoinPath("/", "b"), "/b");
  EXPECT_EQ(JoinPath("a", "/abs"), "/abs");
  EXPECT_EQ(JoinPath("", "b"), "b");
  EXPECT_EQ(JoinPath("a", ""), "a");
  EXPECT_EQ(JoinPath("a/b", "c/d/"), "a/b/c/d/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("TMP"), "TMP/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("TMP/"), "TMP/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");  // never turns into the root
  EXPECT_EQ(ExcludeTrailingPathDelimiter("TMP//"), "TMP");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
  EXPECT_TRUE(IsAbsolutePath("/x"));
  EXPECT_FALSE(IsAbsolutePath("x/"));
}

TEST(Paths, NameParts) {
  EXPECT_EQ(ExtractFileName("dir/name.ext"), "name.ext");
  EXPECT_EQ(ExtractFileName("name"), "name");
  EXPECT_EQ(ExtractFileName("dir/"), "");
  EXPECT_EQ(ExtractFilePath("/a/dir/name.ext"), "/a/dir/");
  EXPECT_EQ(ExtractFilePath("name"), "");
  EXPECT_EQ(ExtractFileExt("dir/name.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt("dir.d/name"), "");
  EXPECT_EQ(ChangeFileExt("/opt/tomeshelf", ".ini"), "/opt/tomeshelf.ini");
  EXPECT_EQ(ChangeFileExt("a/b.txt", ".dbz"), "a/b.dbz");
  EXPECT_EQ(ChangeFileExt("a.d/b", ""), "a.d/b");
}

TEST(Files, ProgramAndUserFolders) {
  EXPECT_EQ(ExtractFileName(ProgramPath()), "test_platform");
  EXPECT_TRUE(IsAbsolutePath(ProgramDir()));
  EXPECT_EQ(ProgramDir().back(), '/');
  {
    EnvVar xdg("XDG_DATA_HOME", "/data/x");
    EXPECT_EQ(UserDataDir(), "/data/x/tomeshelf");
  }
  EnvVar home("HOME", "/home/reader");
  for (const char* ignored : {"relative/dir", ""}) {
    EnvVar xdg("XDG_DATA_HOME", ignored);
    EXPECT_EQ(UserDataDir(), "/home/reader/.local/share/tomeshelf");
  }
}

TEST(Files, ExistenceAndCaseInsensitiveLookup) {
  TempDir dir;
  WriteFileBytes(dir / "Book.FB2", "x");
  WriteFileBytes(dir / "ЁЖИК.txt", "y");
  ASSERT_TRUE(ForceDirectories(dir / "Sub/deeper"));
  ASSERT_EQ(symlink((dir / "Book.FB2").c_str(), (dir / "link").c_str()), 0);

  EXPECT_TRUE(FileExists(dir / "Book.FB2"));
  EXPECT_TRUE(FileExists(dir / "link"));
  EXPECT_FALSE(FileExists(dir / "Sub"));
  EXPECT_TRUE(DirectoryExists(dir / "Sub/deeper"));
  EXPECT_FALSE(DirectoryExists(dir / "Book.FB2"));
  EXPECT_FALSE(FileExists(""));

  EXPECT_EQ(FindExistingFile(dir / "Book.FB2"), dir / "Book.FB2");
  EXPECT_EQ(FindExistingFile(dir / "book.fb2"), dir / "Book.FB2");
  EXPECT_EQ(FindExistingFile(dir / "ёжик.TXT"), dir / "ЁЖИК.txt");
  EXPECT_EQ(FindExistingFile(dir / "sub"), "");  // folders are not files
  EXPECT_EQ(FindExistingFile(dir / "none.fb2"), "");
  EXPECT_EQ(FindExistingFile(dir / "nofolder/book.fb2"), "");
}

TEST(Files, DeleteFilesInFolderLeavesFoldersAndLinkTargets) {
  TempDir dir, outside;
  WriteFileBytes(outside / "target", "keep");
  WriteFileBytes(dir / "a", "1");
  WriteFileBytes(dir / ".hidden", "2");
  ASSERT_EQ(symlink((outside / "target").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), (dir / "dirlink").c_str()), 0);
  ASSERT_TRUE(ForceDirectories(dir / "sub"));
  WriteFileBytes(dir / "sub/inner", "3");

  EXPECT_EQ(DeleteFilesInFolder(dir.path()), 4);
  EXPECT_EQ(Names(dir.path()), (Names_{"sub/"}));
  EXPECT_EQ(Names(dir / "sub"), (Names_{"inner"}));
  EXPECT_EQ(ReadFileBytes(outside / "target"), "keep");
  EXPECT_EQ(DeleteFilesInFolder(dir / "missing"), 0);
  EXPECT_EQ(DeleteFilesInFolder(""), 0);
}

TEST(Files, WholeFileReadWrite) {
  TempDir dir;
  const std::string bytes("\0\x01\xFF\r\n", 5);
  WriteFileBytes(dir / "f", bytes);
  EXPECT_EQ(ReadFileBytes(dir / "f"), bytes);
  EXPECT_EQ(ReadFileBytes(dir / "F"), bytes);  // existing inputs are found whatever the case
  try {
    ReadFileBytes(dir / "missing");
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_EQ(e.error, ENOENT);
  }
  EXPECT_THROW(WriteFileBytes(dir / "no/such/folder", "x"), EFileError);
}

TEST(Files, WriteFileAtomicReplacesAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string p = dir / "catalogue.dbz";
  WriteFileAtomic(p, "first");
  WriteFileBytes(dir / "other", "");
  ASSERT_EQ(chmod(p.c_str(), 0640), 0);
  WriteFileAtomic(p, "second");
  EXPECT_EQ(ReadFileBytes(p), "second");
  struct stat st {};
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // permissions kept
  EXPECT_EQ(Names(dir.path()), (Names_{"catalogue.dbz", "other"}));

  // Through a link the target is replaced and the link kept.
  ASSERT_EQ(symlink("catalogue.dbz", (dir / "link.dbz").c_str()), 0);
  WriteFileAtomic(dir / "link.dbz", "third");
  EXPECT_EQ(ReadFileBytes(p), "third");
  struct stat lst {};
  ASSERT_EQ(lstat((dir / "link.dbz").c_str(), &lst), 0);
  EXPECT_TRUE(S_ISLNK(lst.st_mode));
  ASSERT_TRUE(DeleteFile(dir / "link.dbz"));

  // A rename that cannot happen leaves the target alone and no temp behind.
  ASSERT_TRUE(ForceDirectories(dir / "busy"));
  WriteFileBytes(dir / "busy/x", "");
  EXPECT_THROW(WriteFileAtomic(dir / "busy", "data"), EFileError);
  EXPECT_EQ(Names(dir.path()), (Names_{"busy/", "catalogue.dbz", "other"}));
}

TEST(Files, RenameTempNamesAndListing) {
  TempDir dir;
  WriteFileBytes(dir / "a", "1");
  WriteFileBytes(dir / "b", "22");
  EXPECT_FALSE(RenameFile(dir / "a", dir / "b"));  // never overwrites
  EXPECT_EQ(ReadFileBytes(dir / "b"), "22");
  EXPECT_TRUE(RenameFile(dir / "a", dir / "c"));
  EXPECT_FALSE(FileExists(dir / "a"));
  EXPECT_TRUE(DeleteFile(dir / "c"));
  EXPECT_FALSE(DeleteFile(dir / "c"));

  std::string t1 = CreateTempFileName(dir.path(), "zip"), t2 = CreateTempFileName(dir.path(), "zip");
  EXPECT_NE(t1, t2);
  EXPECT_EQ(ExtractFilePath(t1), dir.path());
  EXPECT_EQ(ExtractFileName(t1).rfind("zip", 0), 0u);
  EXPECT_TRUE(FileExists(t1) && FileExists(t2));
  EXPECT_THROW(CreateTempFileName(dir / "missing", "x"), EFileError);

  ASSERT_TRUE(ForceDirectories(dir / "z"));
  auto list = ListFolder(dir.path());
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].name, "b");
  EXPECT_EQ(list[0].size, 2);
  EXPECT_FALSE(list[0].isDir);
  EXPECT_EQ(list[1].name, "z");  // sorted by name: "z" < "zip..."
  EXPECT_TRUE(list[1].isDir);
  EXPECT_TRUE(ListFolder(dir / "missing").empty());

  EXPECT_TRUE(IsWritableDirectory(dir.path()));
  EXPECT_FALSE(IsWritableDirectory(dir / "b"));
}
