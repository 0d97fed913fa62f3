// The rules around volume sets: the names of volumes (the case of the
// archive's extension for new ones, any case for existing ones), the state
// checks that keep a set from being changed after it was written (codes 52
// and 62), and what is refused outright.
#include <gtest/gtest.h>

#include <filesystem>

#include "volume_util.h"

namespace {

using namespace volume_test;

TEST(VolumeRules, NewVolumesTakeTheCaseOfTheArchiveExtension) {
  TZipArchiver arc;
  arc.SetSpanningMode(archiver::smSplitting);
  EXPECT_EQ(arc.GetVolumeFileName("/v/x.zip", 0, false), "/v/x.z01");
  EXPECT_EQ(arc.GetVolumeFileName("/v/X.ZIP", 0, false), "/v/X.Z01");
  EXPECT_EQ(arc.GetVolumeFileName("/v/x.Zip", 9, false), "/v/x.Z10")
      << "mixed case keeps the capitals";
  EXPECT_EQ(arc.GetVolumeFileName("/v/x", 0, false), "/v/x.Z01");
  EXPECT_EQ(arc.GetVolumeFileName("/v/x.zip", 99, false), "/v/x.z100");
  EXPECT_EQ(arc.GetVolumeFileName("/v/x.zip", -1, false), "/v/x.zip");
  EXPECT_EQ(arc.GetVolumeFileName("/v/X.EXE", -1, false), "/v/X.ZIP");
  EXPECT_EQ(arc.GetVolumeFileName("/v/X.EXE", 0, false), "/v/X.EXE");
  arc.SetSFXStub("/v/stub.bin");  // a stub makes the set self-extracting
  EXPECT_EQ(arc.GetVolumeFileName("/v/x.zip", 0, false), "/v/x.exe");
  EXPECT_EQ(arc.GetVolumeFileName("/v/x.zip", 1, false), "/v/x.z02");
}

TEST(VolumeRules, ExistingVolumesAreFoundInAnyCase) {
  TempDir dir;
  TZipArchiver arc;
  arc.SetSpanningMode(archiver::smSplitting);
  const std::string name = dir / "x.zip";
  // Nothing there: the name a new volume would get.
  EXPECT_EQ(arc.GetVolumeFileName(name, 0, true), dir / "x.z01");
  base_test::WriteBytes(dir / "x.Z01", "v");
  EXPECT_EQ(arc.GetVolumeFileName(name, 0, true), dir / "x.Z01");
  base_test::WriteBytes(dir / "x.z01", "v");
  EXPECT_EQ(arc.GetVolumeFileName(name, 0, true), dir / "x.Z01") << "the capitals first";
  EXPECT_EQ(arc.GetVolumeFileName(dir / "X.ZIP", 0, true), dir / "x.Z01");
  // A name whose case matches none of the three spellings still is found.
  base_test::WriteBytes(dir / "y.z01", "v");
  EXPECT_EQ(arc.GetVolumeFileName(dir / "Y.ZIP", 0, true), dir / "y.z01");
  // The first volume of a self-extracting set read through its last volume.
  base_test::WriteBytes(dir / "s.exe", "MZ");
  EXPECT_EQ(arc.GetVolumeFileName(dir / "s.zip", 0, true), dir / "s.exe");
  EXPECT_EQ(arc.GetVolumeFileName(dir / "s.zip", 0, false), dir / "s.z01");
}

TEST(VolumeRules, WrittenSetTakesNoFurtherChanges) {
  TempDir dir;
  TZipArchiver arc;
  arc.SetFileName(dir / "set.zip");
  arc.SetSpanningMode(archiver::smSplitting);
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.CheckModifySpanning();  // an empty new set may be filled
  arc.BeginUpdate();
  commit_test::AddPending(arc, "a.txt", "alpha");
  arc.CheckModifySpanning();  // inside the transaction
  arc.EndUpdate();
  // One transaction per opening of a set (62); outside one, a set with items
  // is not to be changed (52).
  EXPECT_EQ(NativeErrorOf([&] { arc.BeginUpdate(); }), 62);
  EXPECT_EQ(NativeErrorOf([&] { arc.CheckModifySpanning(); }), 52);
  EXPECT_EQ(NativeErrorOf([&] { arc.SetComment("late"); }), 52);
  EXPECT_FALSE(arc.InUpdate());
  // Still readable in the same session.
  std::string text;
  arc.ExtractToString("a.txt", text);
  EXPECT_EQ(text, "alpha");
  arc.CloseArchive();

  // Opened again, a set is not rewritten in place: its items would be cut.
  const std::string before = base_test::ReadBytes(dir / "set.zip");
  TZipArchiver again;
  again.SetFileName(dir / "set.zip");
  again.SetSpanningMode(archiver::smSplitting);
  again.OpenArchive(archiver::ZAModeReadWrite);
  EXPECT_EQ(again.SpanningMode(), archiver::smNone) << "a set of one volume is a plain archive";
  again.CloseArchive();

  TItems items = SampleItems(4, 150000);
  TZipArchiver big;
  SplitInto(big, dir / "big.zip", 65536);
  WriteSet(big, items);
  const std::string last = base_test::ReadBytes(dir / "big.zip");
  TZipArchiver existing;
  existing.SetFileName(dir / "big.zip");
  existing.OpenArchive(archiver::ZAModeReadWrite);
  ASSERT_EQ(existing.SpanningMode(), archiver::smSplitting);
  EXPECT_EQ(NativeErrorOf([&] { existing.CheckModifySpanning(); }), 52);
  EXPECT_EQ(NativeErrorOf([&] { existing.BeginUpdate(); }), 52);
  EXPECT_FALSE(existing.InUpdate());
  existing.CloseArchive();
  EXPECT_EQ(existing.LastCloseError(), "");
  EXPECT_EQ(base_test::ReadBytes(dir / "big.zip"), last);
  EXPECT_EQ(base_test::ReadBytes(dir / "set.zip"), before);
}

TEST(VolumeRules, VolumeSetsLiveInFiles) {
  TZipArchiver memory;
  memory.SetInMemory(true);
  memory.SetSpanningMode(archiver::smSplitting);
  EXPECT_EQ(NativeErrorOf([&] { memory.OpenArchive(archiver::ZAModeCreate); }), 51);
  EXPECT_FALSE(memory.Active());
}

TEST(VolumeRules, AddingFilesWritesTheSetOnce) {
  TempDir dir;
  std::filesystem::create_directories(dir / "src");
  TItems files;
  for (int i = 0; i < 6; ++i) {
    files["f" + std::to_string(i) + ".bin"] = Noise(40000, static_cast<uint32_t>(i));
    base_test::WriteBytes(dir / ("src/f" + std::to_string(i) + ".bin"),
                          files["f" + std::to_string(i) + ".bin"]);
  }
  TZipArchiver arc;
  SplitInto(arc, dir / "set.zip", 65536);
  arc.SetBaseDir(dir / "src");
  arc.OpenArchive(archiver::ZAModeCreate);
  EXPECT_EQ(arc.AddFiles("*.bin", 10431, ""), 6);
  // The set is written; it takes no second addition, in whatever form.
  EXPECT_EQ(NativeErrorOf([&] { arc.AddFromString("late.txt", "late"); }), 52);
  EXPECT_EQ(NativeErrorOf([&] { arc.AddFiles("*.bin", 10431, ""); }), 52);
  EXPECT_EQ(NativeErrorOf([&] { arc.DeleteFiles("*.*", 10431, ""); }), 52);
  // Moving is refused the same way, with a mask or through the mask lists,
  // and its sources stay where they are.
  EXPECT_EQ(NativeErrorOf([&] { arc.MoveFiles("*.bin", 10431, ""); }), 52);
  arc.SetFileMasks({"*.bin"});
  EXPECT_EQ(NativeErrorOf([&] { arc.MoveFiles(); }), 52);
  for (const auto& [name, bytes] : files) EXPECT_TRUE(base_test::ReadBytes(dir / ("src/" + name)) == bytes) << name;
  arc.CloseArchive();
  EXPECT_EQ(load_test::SevenZipTest(dir / "set.zip"), "ok\n");
  EXPECT_TRUE(OurContents(dir / "set.zip") == files);
}

}  // namespace
