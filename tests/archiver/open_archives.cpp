// Opening archives through the component: existing files in each mode,
// created archives, damaged ones with and without OpenCorruptedArchives,
// things that are not archive files, and what a failed open leaves behind.
#include <gtest/gtest.h>

#include <dirent.h>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "load_util.h"

namespace {

using namespace load_test;
using archiver::EZAException;
using archiver::TZipArchiver;

int OpenFileCount() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

int OpenError(TZipArchiver& arc, uint16_t mode) {
  try {
    arc.OpenArchive(mode);
    return -1;
  } catch (const EZAException& e) {
    return e.NativeError;
  }
}

TEST(OpenArchive, ExistingArchiveInEachMode) {
  TempDir dir;
  const std::string path = MakePeerArchive(dir, "p.zip", "zip -q -r {} .");
  TZipArchiver arc;
  arc.SetFileName(path);
  int opened = 0;
  arc.AfterOpen = [&](archiver::TZABaseArchiver& sender) {
    EXPECT_EQ(&sender, &arc);
    EXPECT_TRUE(sender.Active());
    ++opened;
  };
  arc.OpenArchive();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(arc.FileOpenMode(), archiver::ZAModeReadWrite);
  EXPECT_EQ(arc.FileCount(), 5);  // the sample's files; its folders do not count
  EXPECT_EQ(arc.DMHandle()->CDir.Count(), 7);
  EXPECT_EQ(arc.Size(), static_cast<int64_t>(base_test::ReadBytes(path).size()));
  arc.CloseArchive();
  EXPECT_FALSE(arc.Active());
  EXPECT_EQ(arc.DMHandle(), nullptr);

  // A read-only file opens shared and read-only.
  ::chmod(path.c_str(), 0444);
  if (::geteuid() != 0) {
    arc.OpenArchive();
    EXPECT_EQ(arc.FileOpenMode(), archiver::ZAModeReadShared);
    arc.CloseArchive();
  }
  EXPECT_EQ(OpenError(arc, archiver::ZAModeRead), -1);
  EXPECT_EQ(arc.FileCount(), 5);
  // A directory write on a read-only opening is refused before anything is
  // touched.
  try {
    arc.SetComment("x");
    FAIL();
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 32);
  }
  arc.CloseArchive();
  EXPECT_TRUE(arc.LastCloseError().empty());
}

TEST(OpenArchive, WhatIsNotAnArchiveFile) {
  TempDir dir;
  TZipArchiver arc;
  arc.SetFileName(dir / "missing.zip");
  EXPECT_EQ(OpenError(arc, archiver::ZAModeRead), 12);
  // A folder is not "a file that exists".
  RunCmd("mkdir " + Q(dir / "folder.zip"));
  arc.SetFileName(dir / "folder.zip");
  EXPECT_EQ(OpenError(arc, archiver::ZAModeRead), 12);
  arc.SetFileName(dir.Path());
  EXPECT_EQ(OpenError(arc, archiver::ZAModeRead), 10);
  try {
    arc.OpenArchive();
    FAIL();
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 9);
  }
  EXPECT_FALSE(arc.Active());
}

TEST(OpenArchive, DamagedArchivesAndWhatAFailedOpenLeaves) {
  TempDir dir;
  const std::string good = MakePeerArchive(dir, "g.zip", "zip -q -r {} .");
  base_test::WriteBytes(dir / "junk.zip", base_test::ReadBytes(good) + "trailing junk");
  base_test::WriteBytes(dir / "noise.zip", std::string(5000, 'n'));
  const int files = OpenFileCount();

  TZipArchiver arc;
  arc.SetOpenCorruptedArchives(false);
  arc.SetFileName(dir / "junk.zip");
  EXPECT_EQ(OpenError(arc, archiver::ZAModeRead), 48);
  EXPECT_FALSE(arc.Active());
  EXPECT_EQ(arc.DMHandle(), nullptr);
  EXPECT_EQ(OpenFileCount(), files) << "the failed open left a file open";

  // With OpenCorruptedArchives (the default) the directory is rebuilt.
  arc.SetOpenCorruptedArchives(true);
  EXPECT_EQ(OpenError(arc, archiver::ZAModeRead), -1);
  EXPECT_EQ(arc.FileCount(), 5);
  arc.CloseArchive();

  arc.SetFileName(dir / "noise.zip");
  EXPECT_EQ(OpenError(arc, archiver::ZAModeRead), 35);
  EXPECT_FALSE(arc.Active());
  EXPECT_EQ(OpenFileCount(), files);
}

TEST(OpenArchive, CreatedArchiveClosesAsPythonsEmptyZip) {
  TempDir dir;
  records_test::RunPython(dir, "import sys, zipfile\nzipfile.ZipFile(sys.argv[1], 'w').close()\n",
                          Q(dir / "py.zip"));
  TZipArchiver arc;
  arc.SetFileName(dir / "new.zip");
  arc.OpenArchive(archiver::ZAModeCreate);
  EXPECT_TRUE(arc.Active());
  EXPECT_EQ(arc.Size(), 0);
  arc.CloseArchive();
  EXPECT_EQ(base_test::ReadBytes(dir / "new.zip"), base_test::ReadBytes(dir / "py.zip"));
  ASSERT_EQ(base_test::ReadBytes(dir / "new.zip").size(), 22u);

  // Created empty archives open again; OpenArchive() picks the modes itself.
  TZipArchiver again;
  again.SetFileName(dir / "new.zip");
  again.OpenArchive();
  EXPECT_EQ(again.FileCount(), 0);
  again.CloseArchive();
  again.SetFileName(dir / "other.zip");
  again.OpenArchive();
  EXPECT_EQ(again.FileOpenMode(), archiver::ZAModeCreate);
  again.CloseArchive();
  EXPECT_EQ(base_test::ReadBytes(dir / "other.zip").size(), 22u);
}

TEST(OpenArchive, CallersStreamStaysTheCallers) {
  const std::string bytes = base_test::ReadBytes(BigArchives::Get().n65535);
  auto stream = std::make_unique<platform::TStringStream>(bytes);
  {
    TZipArchiver arc;
    arc.OpenArchive(*stream, false);
    EXPECT_TRUE(arc.IsCustomStream());
    EXPECT_EQ(arc.FileCount(), 65535);
  }
  // Closed and destroyed: the stream is untouched and still usable.
  EXPECT_EQ(stream->DataString(), bytes);
  TZipArchiver arc;
  arc.OpenArchive(*stream, true);
  arc.CloseArchive();
  EXPECT_EQ(stream->DataString(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

}  // namespace
