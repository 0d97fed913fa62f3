// Opening archives through the component: existing files in each mode,
// created archives, damaged ones with and without OpenCorruptedArchives,
// things that are not archive files, what a failed open leaves behind, and
// the same bytes opened as a file and from a stream.
#include <gtest/gtest.h>

#include <dirent.h>

#include <filesystem>
#include <sstream>

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

const std::string kSource = TOMESHELF_SOURCE_DIR;

// What opening `path` gives, as a file or from a stream of its bytes: the
// native error, or the directory as loaded (name, sizes, CRC, local-header
// offset, whether the item is ever read).
std::string OpenAnswer(const std::string& path, bool fromFile, bool zipFlavour, bool lenient) {
  platform::TStringStream stream(base_test::ReadBytes(path));  // outlives the component
  std::unique_ptr<archiver::TZABaseArchiver> arc =
      zipFlavour ? std::make_unique<TZipArchiver>() : std::make_unique<archiver::TZABaseArchiver>();
  arc->SetOpenCorruptedArchives(lenient);
  try {
    if (fromFile) {
      arc->SetFileName(path);
      arc->OpenArchive(archiver::ZAModeRead);
    } else {
      arc->OpenArchive(stream, false);
    }
  } catch (const EZAException& e) {
    EXPECT_FALSE(arc->Active());
    EXPECT_EQ(arc->DMHandle(), nullptr);
    return "error " + std::to_string(e.NativeError);
  }
  std::ostringstream out;
  const archiver::TZADirArray& dir = arc->DMHandle()->CDir;
  for (int i = 0; i < dir.Count(); ++i)
    out << dir[i].Name << ' ' << dir[i].CompressedSize() << ' ' << dir[i].UncompressedSize() << ' '
        << dir[i].CentralDir.crc32 << ' ' << dir[i].LocalHeaderOffset() << (dir[i].Overlaps ? " overlaps" : "") << '\n';
  return out.str();
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

TEST(OpenArchive, AStrictOpenFromAStreamRefusesWhatItRefusesFromAFile) {
  for (const char* name : {"no-end-record.zip", "end-record-then-junk.zip"}) {
    SCOPED_TRACE(name);
    const std::string path = kSource + "/tests/data/archiver/open/" + name;
    const std::string bytes = base_test::ReadBytes(path);
    platform::TStringStream stream(bytes);
    TZipArchiver arc;
    arc.SetOpenCorruptedArchives(false);
    EXPECT_EQ(base_test::NativeErrorOf([&] { arc.OpenArchive(stream, false); }), 48);
    EXPECT_FALSE(arc.Active());
    EXPECT_FALSE(arc.IsCustomStream());
    EXPECT_EQ(stream.DataString(), bytes);
    EXPECT_EQ(OpenAnswer(path, true, true, false), "error 48");

    // Lenient, both rebuild the same three items from their local headers.
    arc.SetOpenCorruptedArchives(true);
    arc.OpenArchive(stream, false);
    EXPECT_EQ(arc.FileCount(), 3);
    arc.CloseArchive();
    EXPECT_EQ(OpenAnswer(path, false, true, true), OpenAnswer(path, true, true, true));
  }
}

// Every archive of the test data and of the fuzzers' seeds, with either
// flavour and either OpenCorruptedArchives setting: the file and the stream
// give one answer.
TEST(OpenArchive, TheSameBytesGiveOneAnswerAsAFileAndFromAStream) {
  int archives = 0, refused = 0;
  for (const char* root : {"/tests/data/archiver", "/tests/fuzz/corpus/zip_load", "/tests/fuzz/corpus/zip_rebuild",
                           "/tests/fuzz/corpus/zip_extract"})
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource + root)) {
      if (!entry.is_regular_file() || entry.path().extension() == ".py" || entry.path().extension() == ".md")
        continue;
      ++archives;
      const std::string path = entry.path().string();
      for (const bool zipFlavour : {true, false})
        for (const bool lenient : {false, true}) {
          const std::string file = OpenAnswer(path, true, zipFlavour, lenient);
          EXPECT_EQ(OpenAnswer(path, false, zipFlavour, lenient), file)
              << path << (zipFlavour ? " zip" : " private") << " flavour" << (lenient ? ", lenient" : ", strict");
          refused += file == "error 48";
        }
    }
  EXPECT_GT(archives, 80);
  EXPECT_GT(refused, 20);
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
