#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Streams.h"

using namespace platform;

namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  for (const TFileInfo& fi : ListFolder(dir)) out.push_back(fi.name);
  return out;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Sets the umask for the test's lifetime.
struct Umask {
  explicit Umask(mode_t m) : old(::umask(m)) {}
  ~Umask() { ::umask(old); }
  mode_t old;
};

const std::string kOld = "the old catalogue, every byte of it";

}  // namespace

TEST(ReplaceFile, KilledWriterLeavesTheTargetByteIdentical) {
  TempDir dir;
  const std::string target = dir / "catalogue.dbz";
  WriteFileBytes(target, kOld);
  ASSERT_TRUE(KillWhileReplacing(target, std::string(1 << 20, 'n')));
  EXPECT_EQ(ReadFileBytes(target), kOld);

  // The next run removes the new file left, also when it reaches the
  // target through a link (whole-file writes follow one); look-alikes stay.
  ASSERT_TRUE(ForceDirectories(dir / "other"));
  ASSERT_EQ(symlink(target.c_str(), (dir / "other/link.dbz").c_str()), 0);
  const std::vector<std::string> alike = {".catalogue.dbz.1234567.tmp",
                                          ".catalogue.dbz.12345678.tmp.bak",
                                          ".catalogue.dbz.1234-678.tmp"};
  for (const std::string& name : alike) WriteFileBytes(dir / name, "");
  ASSERT_TRUE(ForceDirectories(dir / ".catalogue.dbz.abcdefgh.tmp"));
  EXPECT_EQ(DeleteReplacementLeftovers(dir / "other/link.dbz"), 1);
  std::vector<std::string> left = alike;
  left.insert(left.end(), {".catalogue.dbz.abcdefgh.tmp", "catalogue.dbz", "other"});
  std::sort(left.begin(), left.end());
  EXPECT_EQ(Names(dir.path()), left);
}

TEST(ReplaceFile, FailedWriteLeavesTheTargetAndNoFileOfItsOwn) {
  TempDir dir;
  const std::string target = dir / "table.dbf";
  WriteFileBytes(target, kOld);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      TReplaceFile out(target);
      const std::string big(10000, 'n');
      out.File().WriteAt(0, big.data(), static_cast<int64_t>(big.size()));
      out.Commit();
      _exit(1);
    } catch (const EFileError& e) {
      _exit(e.error == EFBIG && e.path == target ? 0 : 2);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "the write failed with the system's reason, naming the target";
  EXPECT_EQ(ReadFileBytes(target), kOld);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"table.dbf"});
}

TEST(ReplaceFile, CommitKeepsTheOldModeAndNewTargetsGetTheUmask) {
  TempDir dir;
  Umask mask(027);
  const std::string old = dir / "old.dbf";
  WriteFileBytes(old, kOld);
  ASSERT_EQ(chmod(old.c_str(), 0604), 0);
  {
    TReplaceFile out(old);
    EXPECT_EQ(ModeOf(out.TempPath()), 0604u) << "private from the first byte on";
    out.Stream().WriteBuffer("new", 3);
    EXPECT_EQ(ReadFileBytes(old), kOld) << "untouched until Commit";
    out.Commit();
  }
  EXPECT_EQ(ReadFileBytes(old), "new");
  EXPECT_EQ(ModeOf(old), 0604u);

  {
    TReplaceFile out(dir / "new.dbf");
    out.File().WriteAt(0, "fresh", 5);
    out.Commit(false);
  }
  EXPECT_EQ(ReadFileBytes(dir / "new.dbf"), "fresh");
  EXPECT_EQ(ModeOf(dir / "new.dbf"), 0640u) << "0666 less the umask, not a temporary file's 0600";
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"new.dbf", "old.dbf"}));

  // Followed, a chain of relative links leads to the file replaced beside
  // itself, which keeps its mode and owner (another user's, replaced by
  // root); a dangling link makes its target.
  ASSERT_TRUE(ForceDirectories(dir / "work") && ForceDirectories(dir / "store"));
  ASSERT_EQ(symlink("../old.dbf", (dir / "store/mid").c_str()), 0);
  ASSERT_EQ(symlink("../store/mid", (dir / "work/t.dbf").c_str()), 0);
  ASSERT_EQ(symlink("../store/later.dbf", (dir / "work/later.dbf").c_str()), 0);
  const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
  const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
  ASSERT_EQ(chown(old.c_str(), owner, group), 0);
  for (const char* name : {"work/t.dbf", "work/later.dbf"}) {
    TReplaceFile out(dir / name, TReplaceFile::FollowLink);
    out.Stream().WriteBuffer(name, 4);
    out.Commit();
  }
  TFileInfo info;
  EXPECT_TRUE(GetFileInfo(dir / "work/t.dbf", info) && info.isLink);
  struct stat st {};
  ASSERT_EQ(::stat(old.c_str(), &st), 0);
  EXPECT_EQ(ReadFileBytes(old), "work");
  EXPECT_EQ(ModeOf(old), 0604u);
  EXPECT_EQ(st.st_uid, owner);
  EXPECT_EQ(st.st_gid, group);
  EXPECT_EQ(ReadFileBytes(dir / "store/later.dbf"), "work");
  EXPECT_EQ(Names(dir / "store"), (std::vector<std::string>{"later.dbf", "mid"}));
}

TEST(ReplaceFile, AbandonedOrRefusedReplacementsLeaveNothing) {
  TempDir dir;
  const std::string target = dir / "book.fb2";
  WriteFileBytes(target, kOld);
  {
    TReplaceFile out(target);
    out.Stream().WriteBuffer("partial", 7);
  }
  EXPECT_EQ(ReadFileBytes(target), kOld);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"book.fb2"});

  // A folder in the way: the rename fails and the new file goes.
  ASSERT_TRUE(ForceDirectories(dir / "busy"));
  WriteFileBytes(dir / "busy/x", "");
  {
    TReplaceFile out(dir / "busy");
    out.Stream().WriteBuffer("data", 4);
    EXPECT_THROW(out.Commit(), EFileError);
  }
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"book.fb2", "busy"}));
  EXPECT_THROW(TReplaceFile(dir / "missing/x"), EFileError);

  // A link in the target's place is replaced, never written through: an
  // extracted item must not land outside its folder.
  ASSERT_TRUE(ForceDirectories(dir / "out"));
  ASSERT_EQ(symlink(target.c_str(), (dir / "out/link").c_str()), 0);
  {
    TReplaceFile out(dir / "out/link");
    out.Stream().WriteBuffer("item", 4);
    out.Commit();
  }
  EXPECT_EQ(ReadFileBytes(target), kOld);
  EXPECT_EQ(ReadFileBytes(dir / "out/link"), "item");

  // A name near the system's limit still leaves room for the new file's
  // own name, which is cut between characters.
  const std::string longName = dir / (std::string(63, 'k') + "ж" + std::string(180, 'x') + ".fb2");
  {
    TReplaceFile out(longName);
    EXPECT_TRUE(IsValidUtf8(ExtractFileName(out.TempPath()))) << out.TempPath();
    out.Commit();
  }
  EXPECT_TRUE(FileExists(longName));
}

TEST(TempNames, FilesAndFoldersFromOneMaker) {
  TempDir dir;
  TFile a = CreateTempFile(dir.path(), "FC", ".tmp");
  TFile b = CreateTempFile(dir.path(), "FC", ".tmp");
  EXPECT_NE(a.Path(), b.Path());
  EXPECT_EQ(ExtractFileName(a.Path()).rfind("FC", 0), 0u);
  EXPECT_EQ(ExtractFileExt(a.Path()), ".tmp");
  EXPECT_EQ(ModeOf(a.Path()), 0600u);
  EXPECT_EQ(a.WriteAt(0, "x", 1), 1);
  const std::string folder = CreateTempFolder(dir.path(), ".stage-");
  EXPECT_TRUE(DirectoryExists(folder));
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_EQ(ExtractFilePath(folder), dir.path());
  EXPECT_THROW(CreateTempFolder(dir / "missing", "x"), EFileError);
}

// The undo of a replacement: the kept name brings the old bytes back.
TEST(TempNames, KeptLinkPutsTheOldFileBack) {
  TempDir dir;
  const std::string memo = dir / "t.dbt";
  WriteFileBytes(memo, "old");
  const std::string kept = CreateTempLink(memo);
  EXPECT_EQ(ExtractFilePath(kept), ExtractFilePath(memo));
  WriteFileAtomic(memo, "new");
  EXPECT_EQ(ReadFileBytes(kept), "old");
  ASSERT_TRUE(RenameOver(kept, memo));
  EXPECT_EQ(ReadFileBytes(memo), "old");
  EXPECT_EQ(ListFolder(dir.path()).size(), 1u);
  EXPECT_THROW(CreateTempLink(dir / "missing"), EFileError);
}

TEST(Paths, NormalizePath) {
  EXPECT_EQ(NormalizePath("/a/./b/../c"), "/a/c");
  EXPECT_EQ(NormalizePath("/a//b/"), "/a/b/");
  EXPECT_EQ(NormalizePath("/../.."), "/");
  EXPECT_EQ(NormalizePath("/a/../"), "/");
  EXPECT_EQ(NormalizePath("//"), "/");
  EXPECT_EQ(NormalizePath("a/b/../../../c"), "c") << "never above the start";
  EXPECT_EQ(NormalizePath("a/.."), "");
  EXPECT_EQ(NormalizePath("./a/"), "a/");
  EXPECT_EQ(NormalizePath("a/b/.."), "a");
  EXPECT_EQ(NormalizePath("a/b/."), "a/b");
  EXPECT_EQ(NormalizePath(""), "");
  EXPECT_EQ(NormalizePath("..."), "...") << "only exactly two dots climb";
}

TEST(FolderWalk, LinksAreSeenForWhatTheyAreAndNeverFollowedWhenRemoving) {
  TempDir dir;
  ASSERT_TRUE(ForceDirectories(dir / "keep"));
  WriteFileBytes(dir / "keep/book.fb2", kOld);
  ASSERT_TRUE(ForceDirectories(dir / "stage/sub"));
  ASSERT_EQ(symlink((dir / "keep").c_str(), (dir / "stage/folder-link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "keep/book.fb2").c_str(), (dir / "stage/file-link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "stage/dangling").c_str()), 0);

  const std::vector<TFileInfo> list = ListFolder(dir / "stage");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].name, "dangling");
  EXPECT_TRUE(list[0].isLink && S_ISLNK(list[0].mode));
  EXPECT_EQ(list[1].name, "file-link");
  EXPECT_TRUE(list[1].isLink && S_ISREG(list[1].mode));
  EXPECT_EQ(list[1].size, static_cast<int64_t>(kOld.size()));
  EXPECT_TRUE(list[2].isLink && list[2].isDir);
  EXPECT_TRUE(!list[3].isLink && list[3].isDir);

  // Copying a file onto itself, by whatever name, would empty it.
  EXPECT_FALSE(CopyFile(dir / "keep/book.fb2", dir / "stage/file-link", false));
  EXPECT_EQ(ReadFileBytes(dir / "keep/book.fb2"), kOld);
  EXPECT_TRUE(CopyFile(dir / "keep/book.fb2", dir / "copy.fb2", true));
  EXPECT_EQ(ReadFileBytes(dir / "copy.fb2"), kOld);
  EXPECT_FALSE(CopyFile(dir / "stage/dangling", dir / "copy2.fb2", true));

  DeleteTree(dir / "stage");
  EXPECT_FALSE(DirectoryExists(dir / "stage"));
  EXPECT_EQ(ReadFileBytes(dir / "keep/book.fb2"), kOld) << "what the links led to stays";
}
