#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "catalogue/AppState.h"
#include "catalogue/InstanceLock.h"
#include "platform/Files.h"

namespace fs = std::filesystem;
using catalogue::AppState;
using catalogue::InitAppState;
using catalogue::TStartupEnvironment;

namespace {

class AppStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "h2appstateXXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    fs::create_directories(root_ / "bin");
  }
  void TearDown() override {
    catalogue::AppState() = {};
    fs::remove_all(root_);
  }
  static void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

  // The program "bin/<name>" with the given answer to "may we write there".
  void Start(const std::string& name, bool programDirWritable) {
    TStartupEnvironment env;
    env.programPath = (root_ / "bin" / name).string();
    env.userDataDir = (root_ / "xdg" / "tomeshelf").string();
    env.isWritable = [programDirWritable](const std::string&) { return programDirWritable; };
    InitAppState(env);
  }

  fs::path root_;
};

TEST_F(AppStateTest, FilesAreNamedAfterTheExecutableBesideIt) {
  Start("tomeshelf", true);
  const std::string bin = (root_ / "bin").string() + "/";
  EXPECT_EQ(AppState().programDir, bin);
  EXPECT_EQ(AppState().iniPath, bin + "tomeshelf.ini");
  EXPECT_EQ(AppState().dbzPath, bin + "tomeshelf.dbz");
  EXPECT_EQ(AppState().workDir, bin + "TMP/");
  EXPECT_EQ(AppState().defaultExportDir, bin + "exp/");
  EXPECT_TRUE(fs::is_directory(root_ / "bin" / "TMP"));
  EXPECT_FALSE(fs::exists(root_ / "xdg"));

  // Start-up values of the shared state.
  EXPECT_EQ(AppState().blockCache.number, -1);
  EXPECT_EQ(AppState().sortColumn, 0);
  EXPECT_FALSE(AppState().sortDescending);
  EXPECT_FALSE(AppState().stopFlag);

  // An extension goes, whatever its length; a leading dot is part of the name.
  Start("books.x86_64", true);
  EXPECT_EQ(AppState().iniPath, bin + "books.ini");
  Start(".shelf", true);
  EXPECT_EQ(AppState().dbzPath, bin + ".shelf.dbz");
}

TEST_F(AppStateTest, ReadOnlyProgramFolderMovesWrittenFilesToTheUserDataFolder) {
  Start("tomeshelf", false);
  const std::string xdg = (root_ / "xdg" / "tomeshelf").string() + "/";
  EXPECT_EQ(AppState().programDir, (root_ / "bin").string() + "/");  // relative paths resolve here
  EXPECT_EQ(AppState().dataDir, xdg);
  EXPECT_EQ(AppState().iniPath, xdg + "tomeshelf.ini");
  EXPECT_EQ(AppState().dbzPath, xdg + "tomeshelf.dbz");
  EXPECT_EQ(AppState().workDir, xdg + "TMP/");
  EXPECT_EQ(AppState().defaultExportDir, xdg + "exp/");
  EXPECT_TRUE(fs::is_directory(root_ / "xdg" / "tomeshelf" / "TMP"));
  EXPECT_FALSE(fs::exists(root_ / "bin" / "TMP"));
}

TEST_F(AppStateTest, RealStartUpUsesTheRunningExecutable) {
  InitAppState();
  EXPECT_EQ(AppState().programDir, platform::ProgramDir());
  const std::string name = platform::ExtractFileName(platform::ProgramPath());
  EXPECT_EQ(platform::ExtractFileName(AppState().iniPath), name + ".ini");
  EXPECT_EQ(AppState().workDir, AppState().dataDir + "TMP/");
}

// Two processes on one data folder: the second is refused while the first
// runs and let in once it has ended, whether it ended or was killed.
TEST_F(AppStateTest, ASecondCopyIsRefusedWhileTheFirstRunsOnTheSameDataFolder) {
  Start("tomeshelf", true);
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed" : "ended");
    int ready[2], quit[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(quit), 0);
    const pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
      ::close(quit[1]);  // or the read below would never see the test let go
      const catalogue::TInstanceLock lock;
      char c = lock.Refused() ? 'r' : 'l';
      if (::write(ready[1], &c, 1) == 1) (void)!::read(quit[0], &c, 1);  // until let go
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(quit[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'l');

    EXPECT_TRUE(catalogue::TInstanceLock().Refused());
    EXPECT_NE(catalogue::AlreadyRunningMessage().find(AppState().dbzPath), std::string::npos);
    // A program of another name keeps other files: not refused.
    EXPECT_FALSE(catalogue::TInstanceLock((root_ / "bin/books.lock").string()).Refused());

    if (killed) ::kill(first, SIGKILL);
    ::close(quit[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(first, &status, 0), first);
    ::close(ready[0]);
    EXPECT_FALSE(catalogue::TInstanceLock().Refused());
  }
}

TEST_F(AppStateTest, ClearTmpDirDeletesFilesButKeepsFolders) {
  Start("tomeshelf", true);
  const fs::path tmp = root_ / "bin" / "TMP";
  Touch(tmp / "bo.dbf");
  Touch(tmp / "0.txt");
  fs::create_directories(tmp / "sub");
  Touch(tmp / "sub" / "kept.txt");
  Touch(root_ / "bin" / "tomeshelf.ini");

  EXPECT_EQ(catalogue::clearTmpDir(), 2);
  EXPECT_FALSE(fs::exists(tmp / "bo.dbf"));
  EXPECT_FALSE(fs::exists(tmp / "0.txt"));
  EXPECT_TRUE(fs::exists(tmp / "sub" / "kept.txt"));
  EXPECT_TRUE(fs::exists(root_ / "bin" / "tomeshelf.ini"));
  EXPECT_TRUE(fs::is_directory(tmp));
}

TEST_F(AppStateTest, ClearTmpDirLeavesAWorkFolderThatLinksElsewhereAlone) {
  // A "TMP" that is a link to a shared folder must not be emptied.
  const fs::path shared = root_ / "shared";
  fs::create_directories(shared);
  Touch(shared / "someone-elses.txt");
  fs::create_directory_symlink(shared, root_ / "bin" / "TMP");
  Start("tomeshelf", true);

  EXPECT_EQ(catalogue::clearTmpDir(), 0);
  EXPECT_TRUE(fs::exists(shared / "someone-elses.txt"));

  // Without start-up there is no work folder, and nothing is touched.
  catalogue::AppState() = {};
  EXPECT_EQ(catalogue::clearTmpDir(), 0);
}

}  // namespace
