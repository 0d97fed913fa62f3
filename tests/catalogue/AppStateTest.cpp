#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "catalogue/AppState.h"
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
