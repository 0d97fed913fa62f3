// The archive component: defaults of both flavours, property rules, the
// state checks and their native codes, transactions (nesting, cancel, the
// commit that is not built yet), closing, and the in-memory switch.
#include <gtest/gtest.h>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "load_util.h"

namespace {

using namespace load_test;
using archiver::EZAException;
using archiver::TZABaseArchiver;
using archiver::TZipArchiver;
using base_test::NativeErrorOf;

// Counts the commits the transactions ask for.
class CountingArchiver : public TZipArchiver {
 public:
  int commits = 0;

 protected:
  void InternalEndUpdate() override {
    if (InUpdate()) ++commits;
    TZipArchiver::InternalEndUpdate();
  }
};

// An archive holding a.txt, d/ and d/b.txt, made by Python.
std::string MakeSmall(const TempDir& dir, const std::string& name = "small.zip") {
  records_test::RunPython(dir,
                          "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                          "z.writestr('a.txt', 'aaa')\nz.writestr('d/', '')\nz.writestr('d/b.txt', 'bbb')\n"
                          "z.comment = b'old'\nz.close()\n",
                          Q(dir / name));
  return dir / name;
}

TEST(Component, DefaultsOfBothFlavours) {
  TZipArchiver zip;
  EXPECT_TRUE(zip.isZIPFormat());
  EXPECT_EQ(zip.Zip64Mode(), archiver::zmDisabled);
  EXPECT_EQ(zip.CompressionMode(), 1);
  EXPECT_EQ(zip.CompressionLevel(), archiver::clFastest);
  EXPECT_EQ(zip.CompressionMethod(), 8);
  EXPECT_TRUE(zip.Options().OEMFileNames());
  EXPECT_TRUE(zip.Options().Recurse());
  EXPECT_EQ(zip.Options().OverwriteMode(), archiver::omAlways);
  EXPECT_EQ(zip.Options().StorePath(), archiver::spRelativePath);
  EXPECT_TRUE(zip.OpenCorruptedArchives());
  EXPECT_EQ(zip.SpanningMode(), archiver::smNone);
  EXPECT_EQ(zip.EncryptionMethod(), archiver::caPkzipClassic);
  EXPECT_FALSE(zip.UnicodeFilenames());
  EXPECT_FALSE(zip.ExtractCorruptedFiles());
  EXPECT_FALSE(zip.InMemory());
  EXPECT_FALSE(zip.Active());
  EXPECT_FALSE(zip.InUpdate());
  EXPECT_TRUE(zip.Comment().empty());
  zip.SetCompressionMode(0);
  EXPECT_EQ(zip.CompressionMethod(), 0);
  EXPECT_EQ(zip.CompressionLevel(), archiver::clNone);

  TZABaseArchiver base;
  EXPECT_FALSE(base.isZIPFormat());
  EXPECT_EQ(base.Zip64Mode(), archiver::zmAuto);
  EXPECT_EQ(base.CompressionMethod(), 0xFFFF);
  base.SetCompressionMode(0);
  EXPECT_EQ(base.CompressionMethod(), 0xFFFF);

  const std::string version = zip.CurrentVersion();
  ASSERT_GE(version.size(), 5u);
  EXPECT_EQ(version.substr(version.size() - 5), " 5.05");
  zip.SetCurrentVersion("9.99");
  EXPECT_EQ(zip.CurrentVersion(), version);
}

TEST(Component, CompressionModeAndLevel) {
  TZipArchiver zip;
  EXPECT_EQ(NativeErrorOf([&] { zip.SetCompressionMode(10); }), 5);
  EXPECT_EQ(zip.CompressionMode(), 1);
  EXPECT_EQ(zip.CompressionLevel(), archiver::clFastest);
  zip.SetCompressionMode(5);
  EXPECT_EQ(zip.CompressionLevel(), archiver::clNormal);
  zip.SetCompressionLevel(archiver::clMax);
  EXPECT_EQ(zip.CompressionMode(), 9);
  EXPECT_EQ(zip.CompressionMethod(), 8);
}

TEST(Component, StateChecks) {
  TempDir dir;
  const std::string path = MakeSmall(dir);
  TZipArchiver arc;
  arc.SetName("Zip1");
  EXPECT_EQ(NativeErrorOf([&] { arc.Size(); }), 13);
  EXPECT_EQ(NativeErrorOf([&] { arc.FileCount(); }), 13);
  EXPECT_EQ(NativeErrorOf([&] { arc.SetComment("x"); }), 13);
  try {
    arc.CheckActive();
  } catch (const EZAException& e) {
    EXPECT_EQ(std::string(e.what()), "Zip1: Archive is not open - Native error: 00013");
  }

  arc.SetInMemory(true);
  arc.SetFileName(path);
  EXPECT_EQ(NativeErrorOf([&] { arc.OpenArchive(archiver::ZAModeRead); }), 28);
  arc.SetInMemory(false);

  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeRead);
  EXPECT_EQ(NativeErrorOf([&] { arc.BeginUpdate(); }), 32);
  EXPECT_FALSE(arc.InUpdate());
  try {
    arc.SetSpanningMode(archiver::smSplitting);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot set spanning mode on open archive");
  }
  arc.CloseArchive();

  arc.OpenArchive();
  arc.BeginUpdate();
  EXPECT_EQ(NativeErrorOf([&] { arc.CheckNotInUpdate(); }), 26);
  arc.CancelUpdate();
  EXPECT_EQ(NativeErrorOf([&] { arc.CheckNotInUpdate(); }), -1);
  arc.CloseArchive();

  arc.SetSpanningMode(archiver::smSplitting);
  platform::TMemoryStream s;
  EXPECT_EQ(NativeErrorOf([&] { arc.OpenArchive(s, true); }), 51);
  EXPECT_FALSE(arc.Active());
}

TEST(Component, NestedTransactionsCommitOnce) {
  TempDir dir;
  CountingArchiver arc;
  arc.SetFileName(MakeSmall(dir));
  arc.BeginUpdate();  // opens the archive
  EXPECT_TRUE(arc.Active());
  arc.BeginUpdate();
  arc.BeginUpdate();
  arc.EndUpdate();
  arc.EndUpdate();
  EXPECT_EQ(arc.commits, 0);
  EXPECT_TRUE(arc.InUpdate());
  arc.EndUpdate();
  EXPECT_EQ(arc.commits, 1);
  EXPECT_FALSE(arc.InUpdate());
  arc.EndUpdate();  // nothing open: nothing happens
  EXPECT_EQ(arc.commits, 1);
  // CloseArchive commits what is still pending.
  arc.BeginUpdate();
  arc.CloseArchive();
  EXPECT_EQ(arc.commits, 2);
  EXPECT_TRUE(arc.LastCloseError().empty());
}

// A transaction on the small archive, whose bytes are kept to compare.
class ComponentUpdate : public ::testing::Test {
 protected:
  void SetUp() override { arc.SetFileName(path); }
  TempDir dir;
  const std::string path = MakeSmall(dir);
  const std::string before = base_test::ReadBytes(path);
  TZipArchiver arc;
};

TEST_F(ComponentUpdate, CancelUpdatePutsTheDirectoryBack) {
  arc.BeginUpdate();
  archiver::TZADirManager& dm = *arc.DMHandle();
  const std::vector<std::string> names = {"a.txt", "d/", "d/b.txt"};
  // Changes as the item operations make them: a deletion, a rename and an
  // added item that owns its source stream.
  dm.CDir.DeleteItem(0);
  dm.CDir.SetItemName(0, "renamed/");
  dm.CDir[0].Modified = true;
  archiver::TDirItem added;
  added.Name = "new.txt";
  auto owned = std::make_shared<platform::TStringStream>("data");
  std::weak_ptr<platform::TStream> watch = owned;
  added.Stream = std::move(owned);
  added.bDestroyStream = true;
  added.Modified = true;
  dm.CDir.SetCount(dm.CDir.Count() + 1);
  dm.CDir.SetItem(dm.CDir.Count() - 1, added);
  added = archiver::TDirItem();
  arc.SetComment("new comment");
  EXPECT_EQ(arc.Comment(), "new comment");

  arc.CancelUpdate();
  EXPECT_FALSE(arc.InUpdate());
  std::vector<std::string> now;
  for (int i = 0; i < dm.CDir.Count(); ++i) now.push_back(dm.CDir[i].Name);
  EXPECT_EQ(now, names);
  int index = -1;
  EXPECT_TRUE(dm.CDir.FileExists("a.txt", index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(dm.CDir.FileExists("new.txt", index));
  EXPECT_TRUE(watch.expired()) << "the dropped item's stream was not released";
  EXPECT_EQ(arc.Comment(), "old");
  arc.CloseArchive();
  EXPECT_TRUE(arc.LastCloseError().empty());
  EXPECT_EQ(base_test::ReadBytes(path), before);
}

TEST_F(ComponentUpdate, PendingChangesAreNeverDroppedSilently) {
  arc.BeginUpdate();
  arc.DMHandle()->CDir.DeleteItem(2);
  arc.EndUpdate();
  EXPECT_FALSE(arc.InUpdate());
  EXPECT_EQ(arc.DMHandle()->CDir.Count(), 2);  // committed
  const std::string committed = base_test::ReadBytes(path);
  EXPECT_NE(committed, before);

  // A commit that fails inside CloseArchive (a source that is not there,
  // with nobody to ask) keeps its failure for the caller to read.
  arc.BeginUpdate();
  archiver::TZADirArray& cdir = arc.DMHandle()->CDir;
  archiver::TDirItem added;
  added.Name = "missing.txt";
  added.SrcFileName = dir / "no-such-file";
  added.Modified = true;
  cdir.SetCount(cdir.Count() + 1);
  cdir.SetItem(cdir.Count() - 1, added);
  arc.CloseArchive();
  EXPECT_FALSE(arc.Active());
  EXPECT_FALSE(arc.LastCloseError().empty());
  EXPECT_EQ(base_test::ReadBytes(path), committed);
  arc.OpenArchive();
  arc.CloseArchive();
  EXPECT_TRUE(arc.LastCloseError().empty()) << "a clean close clears the last error";
}

TEST(Component, CommentOutsideATransactionIsWrittenAtOnce) {
  TempDir dir;
  const std::string path = MakeSmall(dir);
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive();
  arc.SetComment("rewritten");
  arc.CloseArchive();
  EXPECT_EQ(PythonTest(path), "ok\n");
  arc.OpenArchive();
  EXPECT_EQ(arc.Comment(), "rewritten");
  EXPECT_EQ(arc.FileCount(), 2);  // a.txt and d/b.txt; d/ is a folder
  EXPECT_TRUE(arc.Options().Recurse());
}

TEST(Component, FlavourOfANewArchive) {
  TempDir dir;
  for (bool zip : {true, false}) {
    std::unique_ptr<TZABaseArchiver> arc =
        zip ? std::make_unique<TZipArchiver>() : std::make_unique<TZABaseArchiver>();
    const std::string path = dir / (zip ? "zip.zip" : "other.zip");
    arc->SetFileName(path);
    arc->OpenArchive(archiver::ZAModeCreate);
    arc->CloseArchive();
    const std::string bytes = base_test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 22u);
    EXPECT_EQ(bytes.substr(0, 4), zip ? std::string("PK\x05\x06", 4) : std::string("AA\x05\x06", 4));
    // Each class reopens its own flavour.
    arc->OpenArchive();
    EXPECT_EQ(arc->DMHandle()->CentralDirEnd.signature,
              zip ? archiver::ZA_SIG_CENTRAL_DIR_END : archiver::ZA_SIG_CENTRAL_DIR_END_NZ);
  }
}

TEST(Component, InMemoryArchiveMovesToAFile) {
  TempDir dir;
  TZipArchiver arc;
  arc.SetInMemory(true);
  arc.OpenArchive();
  EXPECT_EQ(arc.FileOpenMode(), archiver::ZAModeCreate);
  arc.SetComment("from memory");
  arc.SetFileName("");
  EXPECT_EQ(NativeErrorOf([&] { arc.SetInMemory(false); }), 29);
  arc.SetFileName(dir / "moved.zip");
  arc.SetInMemory(false);
  EXPECT_FALSE(arc.InMemory());
  EXPECT_TRUE(arc.Active());
  EXPECT_EQ(arc.Comment(), "from memory");
  arc.CloseArchive();
  EXPECT_EQ(PythonTest(dir / "moved.zip"), "ok\n");

  // A fresh memory archive with nothing in it still becomes a valid file.
  TZipArchiver fresh;
  fresh.SetInMemory(true);
  fresh.SetActive(true);
  fresh.SetFileName(dir / "fresh.zip");
  fresh.SetInMemory(false);
  fresh.SetActive(false);
  EXPECT_EQ(base_test::ReadBytes(dir / "fresh.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));

  // Going to memory starts a new, empty archive there.
  fresh.OpenArchive();
  fresh.SetInMemory(true);
  EXPECT_TRUE(fresh.Active());
  EXPECT_EQ(fresh.Size(), 0);
}

TEST(Component, SharedLockIsRecursive) {
  archiver::TZALockGuard outer;
  archiver::TZALockGuard inner;  // an event handler starting another operation
  TZABaseArchiver::Lock();
  TZABaseArchiver::Unlock();
  SUCCEED();
}

}  // namespace
