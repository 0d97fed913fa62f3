// Adding files from disk (AddFiles, MoveFiles, UpdateFiles): the disk scan,
// its masks and exclusions, overwrite modes, and what the peers read of the
// archives written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "add_util.h"
#include "archiver/ZAAdd.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "platform/FileAttributes.h"

namespace {

using namespace add_test;
using archiver::TZipArchiver;

std::string Lines(int n, const std::string& word) {
  std::string s;
  for (int i = 0; i < n; ++i) s += word + "\t" + std::to_string(i * 37) + "\tКнига\n";
  return s;
}

void SetMTime(const std::string& path, std::time_t t) {
  const struct timespec times[2] = {{t, 0}, {t, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(AddFiles, CataloguePackingFlowGivesTheExpectedArchive) {
  TempDir dir;
  const std::string work = dir / "TMP";
  const std::map<std::string, std::string> files = {
      {"a.txt", Lines(300, "Автор")}, {"inf.txt", "1234\n56789\n"}, {"0.txt", Lines(5000, "Title")},
      {"sub/c.txt", "c"},           {"empty.txt", ""},             {"bo.dbf", "not packed"}};
  MakeTree(work, files);
  // The archive lies among the files under a name the mask takes: it must
  // never pack itself.
  const std::string path = work + "/catalogue.txt";
  TZipArchiver arc;
  Create(arc, path);
  arc.SetBaseDir(work);
  EXPECT_EQ(arc.AddFiles("*.txt", 0x28BF, ""), 5);
  // Written when AddFiles returns, before the archive is closed.
  EXPECT_EQ(load_test::UnzipTest(path), "ok\n");
  arc.CloseArchive();
  EXPECT_EQ(arc.LastCloseError(), "");

  const auto info = ZipInfoShort(path);
  EXPECT_EQ(Keys(info), (std::vector<std::string>{"0.txt", "a.txt", "empty.txt", "inf.txt", "sub/c.txt"}));
  for (const auto& [name, entry] : info) {
    EXPECT_EQ(entry.size, files.at(name).size()) << name;
    EXPECT_EQ(entry.method.substr(0, 3), files.at(name).empty() ? "sto" : "def") << name;
  }
  commit_test::ExpectPeersAccept(path);
  auto expected = files;
  expected.erase("bo.dbf");
  EXPECT_EQ(ReadBack(path), expected);
}

TEST(AddFiles, FoldersLinksAndTheArchiveItself) {
  TempDir dir;
  const std::string root = dir / "src";
  MakeTree(root, {{"a.txt", "a"}, {"sub/b.dat", "b"}, {"sub/deep/c.txt", "c"}});
  const std::string path = root + "/packed.zip";
  {
    TZipArchiver arc;
    Create(arc, path);
    arc.AddFromString("first.txt", "already there");
  }
  // A link back up (a circle), a link to the archive under another name,
  // and a link to a file elsewhere (taken, as its content).
  ASSERT_EQ(::symlink("..", (root + "/sub/deep/up").c_str()), 0);
  ASSERT_EQ(::symlink(path.c_str(), (root + "/alias.zip").c_str()), 0);
  WriteBytes(dir / "outside.txt", "outside");
  ASSERT_EQ(::symlink((dir / "outside.txt").c_str(), (root + "/linked.txt").c_str()), 0);

  TZipArchiver arc;
  Reopen(arc, path);
  arc.SetBaseDir(root);
  arc.AddFiles("*.*", 0x28BF, "");
  arc.CloseArchive();
  EXPECT_EQ(arc.LastCloseError(), "");
  EXPECT_EQ(Keys(ZipInfoShort(path)), (std::vector<std::string>{"a.txt", "first.txt", "linked.txt", "sub/",
                                                                  "sub/b.dat", "sub/deep/", "sub/deep/c.txt"}));
  EXPECT_EQ(ReadBack(path).at("linked.txt"), "outside");
  EXPECT_EQ(ZipInfoShort(path).at("sub/").attrs[0], 'd');
  commit_test::ExpectPeersAccept(path);
}

TEST(AddFiles, AFolderTheHandlerRefusesIsLeftOutWithItsContents) {
  TempDir dir;
  const std::string root = dir / "src";
  MakeTree(root, {{"a.txt", "a"}, {"sub/c.txt", "c"}, {"sub/deep/d.txt", "d"}, {"other/e.txt", "e"}});
  const std::string path = dir / "out.zip";
  TZipArchiver arc;
  Create(arc, path);
  arc.SetBaseDir(root);
  std::vector<std::string> asked;
  arc.OnConfirmProcessFile = [&](archiver::TZABaseArchiver&, const std::string& name, archiver::TZAProcessOperation,
                                 bool& confirm) {
    asked.push_back(name);
    confirm = name != root + "/sub";
  };
  arc.AddFiles("*.*", 0x28BF, "");
  arc.CloseArchive();
  EXPECT_EQ(Keys(ZipInfoShort(path)), (std::vector<std::string>{"a.txt", "other/", "other/e.txt"}));
  for (const std::string& name : asked) EXPECT_EQ(name.find(root + "/sub/"), std::string::npos) << name;
}

TEST(AddFiles, ExclusionAndNoCompressionMasks) {
  TempDir dir;
  const std::string root = dir / "src";
  MakeTree(root, {{"a.txt", Lines(50, "a")}, {"a.bak", "x"}, {"sub/b.txt", "b"}, {"sub/b.bak", "x"},
                  {"tmp/x.txt", "x"}, {"sub/tmp/y.txt", "y"}, {"pic.jpg", Lines(50, "jpeg")}});
  const auto pack = [&](const std::string& exclusion) {
    const std::string path = dir / "out.zip";
    ::unlink(path.c_str());
    TZipArchiver arc;
    Create(arc, path);
    arc.SetBaseDir(root);
    arc.SetNoCompressionMasks({"*.jpg"});
    arc.AddFiles("*.*", 0x28AF, exclusion);  // files only
    arc.CloseArchive();
    return ZipInfoShort(path);
  };
  EXPECT_EQ(Keys(pack("*.bak")),
            (std::vector<std::string>{"a.txt", "pic.jpg", "sub/b.txt", "sub/tmp/y.txt", "tmp/x.txt"}));
  EXPECT_EQ(Keys(pack("sub/*.txt")),
            (std::vector<std::string>{"a.bak", "a.txt", "pic.jpg", "sub/b.bak", "tmp/x.txt"}));
  // A folder mask leaves out that folder only; a bare name leaves out the
  // folders of that name at any depth.
  EXPECT_EQ(Keys(pack("tmp/")), (std::vector<std::string>{"a.bak", "a.txt", "pic.jpg", "sub/b.bak", "sub/b.txt",
                                                           "sub/tmp/y.txt"}));
  const auto info = pack("tmp");
  EXPECT_EQ(Keys(info), (std::vector<std::string>{"a.bak", "a.txt", "pic.jpg", "sub/b.bak", "sub/b.txt"}));
  EXPECT_EQ(info.at("pic.jpg").method, "stor");
  EXPECT_EQ(info.at("a.txt").method.substr(0, 3), "def");
}

TEST(AddFiles, DiskMaskRules) {
  using archiver::ZAMatchDiskName;
  using archiver::ZAResolveDiskMask;
  const std::string base = "/data/books/";
  EXPECT_EQ(ZAResolveDiskMask("*.txt", base).Full, "/data/books/*.txt");
  EXPECT_TRUE(ZAResolveDiskMask("sub\\*.txt", base).Relative);
  EXPECT_EQ(ZAResolveDiskMask("sub\\*.txt", base).Full, "/data/books/sub/*.txt");
  EXPECT_FALSE(ZAResolveDiskMask("./a.txt", base).Relative);
  EXPECT_EQ(ZAResolveDiskMask("../other/*.fb2", base).Full, "/data/other/*.fb2");
  EXPECT_EQ(ZAResolveDiskMask("/abs/x", base).Full, "/abs/x");

  EXPECT_TRUE(ZAMatchDiskName("/data/books/x/y.BAK", "*.bak", false, base));
  EXPECT_FALSE(ZAMatchDiskName("/data/books/y.txt", "sub/*.txt", false, base));
  EXPECT_TRUE(ZAMatchDiskName("/data/books/sub/y.txt", "sub/*.txt", false, base));
  EXPECT_FALSE(ZAMatchDiskName("/data/books/tmp", "tmp/", false, base));
  EXPECT_TRUE(ZAMatchDiskName("/data/books/tmp", "tmp/", true, base));
  EXPECT_TRUE(ZAMatchDiskName("/data/books/a.txt", "/data/books/*.txt", false, base));
  EXPECT_FALSE(ZAMatchDiskName("/data/books/s/a.txt", "/data/books/*.txt", false, base));
  EXPECT_TRUE(ZAMatchDiskName("/data/books/s/a.txt", "/data/books/*.*", false, base));
  EXPECT_FALSE(ZAMatchDiskName("/data/other/a.txt", "/data/books/*.*", false, base));
  EXPECT_TRUE(ZAMatchDiskName("/anything", "*.*", true, base));
}

TEST(AddFiles, OverwriteModesAndNamesThatDifferInCase) {
  TempDir dir;
  const std::string root = dir / "src";
  const std::string path = dir / "arc.zip";
  const std::time_t year2001 = 978350400;
  {
    TZipArchiver arc;
    Create(arc, path);
    arc.AddFromString("a.txt", "old", 0x20, year2001);
  }
  MakeTree(root, {{"a.txt", "new"}, {"A.txt", "upper"}, {"b.txt", "b"}});
  SetMTime(root + "/a.txt", year2001 - 3600);

  TZipArchiver arc;
  Reopen(arc, path);
  arc.SetBaseDir(root);
  arc.Options().SetOverwriteMode(archiver::omNever);
  const std::string before = ReadBytes(path);
  EXPECT_EQ(arc.AddFiles("a.txt", 0x28BF, ""), 0);
  EXPECT_EQ(ReadBytes(path), before) << "nothing queued, nothing written";
  // Two files whose names differ in case are two items.
  EXPECT_EQ(arc.AddFiles("*.txt", 0x28BF, ""), 2);
  commit_test::ExpectContents(path, {{"a.txt", "old"}, {"A.txt", "upper"}, {"b.txt", "b"}});

  arc.Options().SetOverwriteMode(archiver::omIfNewer);
  EXPECT_EQ(arc.AddFiles("a.txt", 0x28BF, ""), 0) << "the disk file is older";
  arc.Options().SetOverwriteMode(archiver::omIfOlder);
  EXPECT_EQ(arc.AddFiles("a.txt", 0x28BF, ""), 1);
  arc.CloseArchive();
  commit_test::ExpectContents(path, {{"a.txt", "new"}, {"A.txt", "upper"}, {"b.txt", "b"}});
  commit_test::ExpectPeersAccept(path);
}

TEST(MoveFiles, SourcesGoOnlyAfterTheCommit) {
  TempDir dir;
  const std::string root = dir / "src";
  MakeTree(root, {{"a.txt", "a"}, {"sub/b.txt", "b"}, {"keep.dat", "k"}});
  const std::string path = root + "/moved.txt";  // taken by the mask, never moved
  TZipArchiver arc;
  Create(arc, path);
  arc.SetBaseDir(root);

  // A commit cancelled at its start: nothing written, nothing deleted.
  arc.OnOverallProgress = [](archiver::TZABaseArchiver&, double, archiver::TZAProcessOperation,
                             archiver::TZAProgressPhase phase, bool& cancel) { cancel = phase == archiver::ppStart; };
  arc.MoveFiles("*.txt", 0x28BF, "");
  EXPECT_TRUE(Exists(root + "/a.txt"));
  EXPECT_TRUE(Exists(root + "/sub/b.txt"));
  arc.OnOverallProgress = nullptr;

  arc.BeginUpdate();
  EXPECT_EQ(arc.MoveFiles("*.txt", 0x28BF, ""), 2);
  EXPECT_TRUE(Exists(root + "/a.txt")) << "deleted before the archive was written";
  EXPECT_TRUE(Exists(root + "/sub/b.txt"));
  arc.EndUpdate();
  EXPECT_FALSE(Exists(root + "/a.txt"));
  EXPECT_FALSE(Exists(root + "/sub/b.txt"));
  EXPECT_TRUE(Exists(root + "/keep.dat"));
  EXPECT_TRUE(Exists(path));
  arc.CloseArchive();
  EXPECT_EQ(ReadBack(path), (std::map<std::string, std::string>{{"a.txt", "a"}, {"sub/b.txt", "b"}}));
}

TEST(UpdateFiles, RefreshesOnlyItemsWithADiskFile) {
  TempDir dir;
  const std::string root = dir / "src";
  const std::string path = dir / "arc.zip";
  {
    TZipArchiver arc;
    Create(arc, path);
    arc.BeginUpdate();
    for (const char* name : {"a.txt", "b.txt", "gone.txt", "sub/c.txt"}) arc.AddFromString(name, "v1");
    arc.EndUpdate();
  }
  MakeTree(root, {{"a.txt", "v2"}, {"b.txt", "v2"}, {"gone2.txt", "no item"}, {"sub/c.txt", "v2"}});

  TZipArchiver arc;
  Reopen(arc, path);
  arc.SetBaseDir(root);
  EXPECT_EQ(arc.UpdateFiles("a.txt", 0x28BF, ""), 1);
  EXPECT_EQ(ReadBack(path).at("b.txt"), "v1");
  EXPECT_EQ(ReadBack(path).at("a.txt"), "v2");

  // A rename pending in the same transaction survives an update that finds
  // no disk file for the item.
  arc.BeginUpdate();
  arc.RenameFile("gone.txt", "kept.txt");
  EXPECT_EQ(arc.UpdateFiles("*.*", 0x28BF, ""), 3);
  arc.EndUpdate();
  arc.CloseArchive();
  EXPECT_EQ(ReadBack(path), (std::map<std::string, std::string>{
                                {"a.txt", "v2"}, {"b.txt", "v2"}, {"kept.txt", "v1"}, {"sub/c.txt", "v2"}}));
  commit_test::ExpectPeersAccept(path);
}

}  // namespace
