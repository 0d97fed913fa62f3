// Writing volume sets: split sets that peers accept, whole records within
// volumes, spanned sets on simulated disks, the first-volume buffer, and
// the disk-full and cancel paths.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Dialogs.h"
#include "volume_util.h"

namespace {

using namespace volume_test;
using archiver::EZAException;

TEST(VolumeWrite, SplitSetPassesPeersAndReadsBack) {
  TempDir dir;
  const TItems items = SampleItems();
  TZipArchiver arc;
  SplitInto(arc, dir / "set.zip", 65536);
  WriteSet(arc, items);

  // set.z01, set.z02, ..., set.zip: each at most the volume size, the
  // numbered ones in the case of the archive's extension.
  const std::vector<std::string> volumes = SplitVolumes(dir.Path(), "set", ".z", ".zip");
  ASSERT_GE(volumes.size(), 4u) << ::testing::PrintToString(FilesIn(dir.Path()));
  EXPECT_EQ(FilesIn(dir.Path()).size(), volumes.size()) << "no temporary file is left";
  for (const std::string& v : volumes) EXPECT_LE(FileSize(v), 65536) << v;
  EXPECT_EQ(WholeRecords(volumes), "ok\n");

  EXPECT_EQ(load_test::SevenZipTest(dir / "set.zip"), "ok\n")
      << RunCmd(std::string(load_test::SevenZip()) + " t " + Q(dir / "set.zip") + " 2>&1");
  const std::string joined = JoinWithInfoZip(dir, "set.zip");
  commit_test::ExpectContents(joined, items);

  // Opened again from its last volume, the set is read as split.
  TZipArchiver reader;
  EXPECT_TRUE(OurContents(dir / "set.zip", &reader) == items);
  EXPECT_EQ(reader.SpanningMode(), archiver::smSplitting);
}

TEST(VolumeWrite, FirstVolumeSizeAndAdvancedNaming) {
  TempDir dir;
  const TItems items = SampleItems(8, 120000);
  TZipArchiver arc;
  SplitInto(arc, dir / "Book.ZIP", 100000);
  arc.SpanningOptions().SetFirstVolumeSize(70000);
  arc.SpanningOptions().SetAdvancedNaming(true);
  WriteSet(arc, items);

  std::vector<std::string> volumes;
  for (int n = 1; std::filesystem::exists(dir / ("Book_00" + std::to_string(n) + ".ZIP")); ++n)
    volumes.push_back(dir / ("Book_00" + std::to_string(n) + ".ZIP"));
  volumes.push_back(dir / "Book.ZIP");
  ASSERT_GE(volumes.size(), 3u) << ::testing::PrintToString(FilesIn(dir.Path()));
  EXPECT_EQ(FilesIn(dir.Path()).size(), volumes.size());
  EXPECT_LE(FileSize(volumes[0]), 70000);
  for (size_t i = 1; i < volumes.size(); ++i) EXPECT_LE(FileSize(volumes[i]), 100000) << volumes[i];
  EXPECT_EQ(WholeRecords(volumes), "ok\n");

  // Reading finds the advanced naming by itself.
  TZipArchiver reader;
  EXPECT_TRUE(OurContents(dir / "Book.ZIP", &reader) == items);
  EXPECT_TRUE(reader.SpanningOptions().AdvancedNaming());
}

// Disks simulated by folders: disk1/, disk2/, ... each of `capacity` bytes.
struct TDisks {
  TempDir& dir;
  int64_t capacity;
  int asked = 0;
  std::string Disk(int n) const { return dir / ("disk" + std::to_string(n) + "/"); }
  void Attach(TZipArchiver& arc, std::shared_ptr<TFakeMedia> media) {
    media->free = [this](const std::string& path) { return capacity - UsedInFolder(path); };
    media->removable = true;
    arc.SetMediaInfo(media);
    arc.OnRequestBlankVolume = [this](archiver::TZABaseArchiver&, int volume, std::string& name,
                                      bool& cancel) {
      ++asked;
      std::filesystem::create_directories(Disk(volume));
      name = Disk(volume) + "set.zip";
      cancel = false;
    };
  }
};

TEST(VolumeWrite, SpannedSetFillsEachDiskAndReadsBackDiskByDisk) {
  TempDir dir;
  const TItems items = SampleItems(10, 60000);
  auto media = std::make_shared<TFakeMedia>();
  TDisks disks{dir, 80000};
  TZipArchiver arc;
  arc.SetFileName(disks.Disk(1) + "set.zip");
  arc.SetSpanningMode(archiver::smSpanning);  // vsAutoDetect: each disk up to its free space
  disks.Attach(arc, media);
  WriteSet(arc, items);

  std::vector<std::string> volumes;
  for (int n = 1; std::filesystem::exists(disks.Disk(n) + "set.zip"); ++n)
    volumes.push_back(disks.Disk(n) + "set.zip");
  ASSERT_GE(volumes.size(), 3u);
  EXPECT_EQ(disks.asked, static_cast<int>(volumes.size()));
  // Every disk but the last is filled to its capacity, less what keeps a
  // header whole.
  for (size_t i = 0; i + 1 < volumes.size(); ++i) {
    EXPECT_LE(FileSize(volumes[i]), 80000);
    EXPECT_GT(FileSize(volumes[i]), 80000 - 2000) << volumes[i];
    EXPECT_EQ(FilesIn(disks.Disk(static_cast<int>(i) + 1)).size(), 1u)
        << "nothing staged on a disk";
  }
  EXPECT_EQ(WholeRecords(volumes), "ok\n");

  // Read back as a spanned set: the disks are asked for by number.
  TZipArchiver reader;
  reader.SetMediaInfo(media);
  std::vector<int> requested;
  const auto onDisk = [&](archiver::TZABaseArchiver&, int volume, std::string& name, bool& cancel) {
    requested.push_back(volume);
    name = disks.Disk(volume) + "set.zip";
    cancel = false;
  };
  reader.OnRequestMiddleVolume = onDisk;
  reader.OnRequestFirstVolume = [&](archiver::TZABaseArchiver& a, std::string& name, bool& cancel) {
    onDisk(a, 1, name, cancel);
  };
  reader.OnRequestLastVolume = [&](archiver::TZABaseArchiver& a, std::string& name, bool& cancel) {
    onDisk(a, static_cast<int>(volumes.size()), name, cancel);
  };
  // The last disk is in the drive when the set is opened.
  EXPECT_TRUE(OurContents(volumes.back(), &reader) == items);
  EXPECT_EQ(reader.SpanningMode(), archiver::smSpanning);
  EXPECT_FALSE(requested.empty());

  // A drive whose disk holds no such file: spanning is taken up by itself,
  // and the last disk is asked for.
  TZipArchiver fromDrive;
  fromDrive.SetMediaInfo(media);
  fromDrive.OnRequestMiddleVolume = reader.OnRequestMiddleVolume;
  fromDrive.OnRequestFirstVolume = reader.OnRequestFirstVolume;
  fromDrive.OnRequestLastVolume = reader.OnRequestLastVolume;
  std::filesystem::create_directories(dir / "drive");
  EXPECT_TRUE(OurContents(dir / "drive/set.zip", &fromDrive) == items);

  // On a fixed drive the lone last volume is read as split: the items of
  // the other volumes are reported missing when they are read.
  TZipArchiver fixed;
  fixed.SetFileName(volumes.back());
  fixed.OpenArchive(archiver::ZAModeRead);
  EXPECT_EQ(fixed.SpanningMode(), archiver::smSplitting);
  EXPECT_EQ(fixed.DMHandle()->CDir.Count(), static_cast<int>(items.size()));
  std::string text;
  EXPECT_EQ(NativeErrorOf([&] { fixed.ExtractToString(items.begin()->first, text); }), 45);

  // Joined from the disks' volumes under split names, Info-ZIP reads the set.
  TempDir joinDir;
  for (size_t i = 0; i + 1 < volumes.size(); ++i) {
    char part[32];
    std::snprintf(part, sizeof part, "set.z%02d", static_cast<int>(i) + 1);
    std::filesystem::copy_file(volumes[i], joinDir / part);
  }
  std::filesystem::copy_file(volumes.back(), joinDir / "set.zip");
  commit_test::ExpectContents(JoinWithInfoZip(joinDir, "set.zip"), items);
}

TEST(VolumeWrite, FloppyBufferWritesTheSameVolumes) {
  const TItems items = SampleItems(8, 90000);
  std::vector<std::string> written[2];
  TempDir dirs[2];
  for (int floppy = 0; floppy < 2; ++floppy) {
    auto media = std::make_shared<TFakeMedia>();
    media->floppy = floppy == 1;
    TDisks disks{dirs[floppy], 80000};
    TZipArchiver arc;
    arc.SetFileName(disks.Disk(1) + "set.zip");
    arc.SetSpanningMode(archiver::smSpanning);
    disks.Attach(arc, media);
    WriteSet(arc, items);
    for (int n = 1; std::filesystem::exists(disks.Disk(n) + "set.zip"); ++n)
      written[floppy].push_back(base_test::ReadBytes(disks.Disk(n) + "set.zip"));
  }
  ASSERT_GE(written[0].size(), 3u);
  EXPECT_TRUE(written[0] == written[1]) << "collected in memory, the disks get the same bytes";
}

TEST(VolumeWrite, SameDiskIsNeverOverwritten) {
  TempDir dir;
  auto media = std::make_shared<TFakeMedia>();
  media->removable = true;
  media->free = [](const std::string& path) { return 100000 - UsedInFolder(path); };
  TZipArchiver arc;
  arc.SetFileName(dir / "set.zip");
  arc.SetSpanningMode(archiver::smSpanning);
  arc.SetMediaInfo(media);
  // The user answers every request without changing the disk.
  int asked = 0;
  arc.OnRequestBlankVolume = [&](archiver::TZABaseArchiver&, int, std::string& name, bool& cancel) {
    ++asked;
    name = dir / "set.zip";
    cancel = false;
  };
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.BeginUpdate();
  commit_test::AddPending(arc, "big.bin", Noise(250000, 7));
  EXPECT_EQ(NativeErrorOf([&] { arc.EndUpdate(); }), 45);
  EXPECT_EQ(asked, 1 + archiver::ZAMaxVolumeRequests)
      << "the second disk is asked for, a bounded number of times";
  arc.CloseArchive();
  // What is left is the first disk's volume, an empty archive: the set was given up.
  EXPECT_EQ(load_test::SevenZipTest(dir / "set.zip"), "ok\n");
  EXPECT_TRUE(OurContents(dir / "set.zip").empty());
}

TEST(VolumeWrite, FullDiskAsksAndGivesUpCleanly) {
  TempDir dir;
  auto media = std::make_shared<TFakeMedia>();
  // The disk holds 200,000 bytes; a new volume needs more than 65,536 free.
  media->free = [](const std::string& path) { return 200000 - UsedInFolder(path); };
  TZipArchiver arc;
  SplitInto(arc, dir / "set.zip", 70000);
  arc.SetMediaInfo(media);
  TempDir staging;  // items are staged elsewhere: the disk holds only volumes
  arc.SetTempDir(staging.Path());
  std::vector<int> full;
  arc.OnDiskFull = [&](archiver::TZABaseArchiver&, int volume, const std::string& name,
                       bool& cancel) {
    full.push_back(volume);
    EXPECT_EQ(name, dir / ("set.z0" + std::to_string(volume)));
    cancel = true;
  };
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.BeginUpdate();
  commit_test::AddPending(arc, "a.bin", Noise(100000, 1));
  commit_test::AddPending(arc, "b.bin", Noise(100000, 2));
  EXPECT_EQ(NativeErrorOf([&] { arc.EndUpdate(); }), 45);
  // Volumes 1 and 2 fill 140,000 bytes; the third finds 60,000 free.
  EXPECT_EQ(full, std::vector<int>{3});
  // The set was given up: the volumes made after the first are gone, the
  // first is cut back to nothing, and closing leaves an empty archive.
  EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"set.z01"});
  EXPECT_EQ(arc.DMHandle()->CDir.Count(), 0);
  arc.CloseArchive();
  EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"set.zip"});
  EXPECT_TRUE(OurContents(dir / "set.zip").empty());

  // Exactly 65,536 bytes free is not enough for a new volume either; an
  // answer of "retry" after the user made room goes on.
  TempDir dir2;
  int64_t extra = 0;
  media->free = [&](const std::string&) { return int64_t{65536} + extra; };
  TZipArchiver retried;
  retried.SetFileName(dir2 / "set.zip");
  retried.SetSpanningMode(archiver::smSplitting);
  retried.SetMediaInfo(media);
  int asked = 0;
  retried.OnDiskFull = [&](archiver::TZABaseArchiver&, int, const std::string&, bool& cancel) {
    ++asked;
    extra = 1;
    cancel = false;
  };
  WriteSet(retried, {{"x.txt", "hello"}});
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(OurContents(dir2 / "set.zip") == (TItems{{"x.txt", "hello"}}));
}

TEST(VolumeWrite, CancelledCopyDropsTheSet) {
  TempDir dir;
  TZipArchiver arc;
  SplitInto(arc, dir / "set.zip", 65536);
  std::vector<archiver::TZAProgressPhase> phases;
  int copies = 0;
  arc.OnCopyTempFileProgress = [&](archiver::TZABaseArchiver&, double,
                                   archiver::TZAProgressPhase phase, bool& cancel) {
    phases.push_back(phase);
    if (phase == archiver::ppStart) ++copies;
    cancel = copies == 2 && phase == archiver::ppProcess;
  };
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.BeginUpdate();
  commit_test::AddPending(arc, "a.bin", Noise(150000, 1));
  commit_test::AddPending(arc, "b.bin", Noise(150000, 2));
  arc.EndUpdate();  // a cancel is no error
  EXPECT_EQ(copies, 2);
  EXPECT_EQ(phases.front(), archiver::ppStart);
  EXPECT_EQ(arc.DMHandle()->CDir.Count(), 0);
  EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"set.z01"});
  EXPECT_EQ(FileSize(dir / "set.z01"), 0);
  arc.CloseArchive();
  EXPECT_TRUE(OurContents(dir / "set.zip").empty());
}

}  // namespace
