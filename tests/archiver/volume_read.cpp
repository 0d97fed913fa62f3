// Reading volume sets that a peer wrote: an Info-ZIP split set extracts
// byte for byte, whatever the case of its volume names; a missing volume is
// reported, never waited for; a self-extracting split set opens from either
// end.
#include <gtest/gtest.h>

#include <filesystem>

#include "volume_util.h"

namespace {

using namespace volume_test;
using archiver::TZAAction;

// A tree of files (noise, so that the set has many volumes) and its
// Info-ZIP split set set.z01 ... set.zip in `dir`.
TItems MakeInfoZipSet(const TempDir& dir) {
  TItems files;
  std::filesystem::create_directories(dir / "src/sub");
  for (int i = 0; i < 40; ++i) {
    const std::string name = (i % 5 == 0 ? "sub/" : "") + std::string("file_") + std::to_string(i) +
                             (i % 7 == 0 ? "_with_a_rather_long_name_to_grow_the_directory" : "") +
                             ".bin";
    files[name] = i % 3 ? Noise(static_cast<size_t>(i) * 2311 + 100, static_cast<uint32_t>(i))
                        : commit_test::Text(30000, i);
    base_test::WriteBytes(dir / ("src/" + name), files[name]);
  }
  RunCmd("cd " + Q(dir / "src") + " && zip -q -r -s 64k ../set.zip . 2>&1");
  return files;
}

// Extracts the whole set into `out` and compares it with `files`.
void ExpectExtractsIdentically(const std::string& set, const TItems& files,
                               const std::string& out) {
  TZipArchiver arc;
  arc.SetFileName(set);
  arc.SetBaseDir(out);
  arc.OpenArchive(archiver::ZAModeRead);
  EXPECT_EQ(arc.SpanningMode(), archiver::smSplitting);
  EXPECT_EQ(arc.FileCount(), static_cast<int>(files.size()));
  // Every item passes its test (the folder item sub/ too).
  EXPECT_EQ(arc.TestFiles("*.*", archiver::ZADefaultSearchAttr, ""),
            static_cast<int>(files.size()) + 1);
  arc.ExtractFiles("*.*", 10431, "");
  arc.CloseArchive();
  for (const auto& [name, data] : files) commit_test::ExpectFileBytes(out + "/" + name, data);
}

TEST(VolumeRead, InfoZipSplitSetExtractsByteForByte) {
  TempDir dir;
  const TItems files = MakeInfoZipSet(dir);
  const std::vector<std::string> volumes = SplitVolumes(dir.Path(), "set", ".z", ".zip");
  ASSERT_GE(volumes.size(), 5u) << RunCmd("ls -l " + Q(dir.Path()));
  ExpectExtractsIdentically(dir / "set.zip", files, dir / "out");

  // Volumes written on a system that spells them in capitals are found too.
  for (size_t i = 0; i + 1 < volumes.size(); ++i) {
    std::string upper = volumes[i];
    upper[upper.size() - 3] = 'Z';
    std::filesystem::rename(volumes[i], upper);
  }
  ExpectExtractsIdentically(dir / "set.zip", files, dir / "out2");
}

TEST(VolumeRead, MissingVolumeIsReportedNotWaitedFor) {
  TempDir dir;
  const TItems files = MakeInfoZipSet(dir);
  std::filesystem::rename(dir / "set.z02", dir / "away");

  // Without handlers the missing volume is a cancelled request: code 45,
  // naming the volume.
  {
    TZipArchiver arc;
    arc.SetFileName(dir / "set.zip");
    arc.SetBaseDir(dir / "out");
    arc.OpenArchive(archiver::ZAModeRead);
    try {
      arc.ExtractFiles("*.*", 10431, "");
      ADD_FAILURE() << "a missing volume must not pass silently";
    } catch (const archiver::EZAException& e) {
      EXPECT_EQ(e.NativeError, 45);
      EXPECT_NE(std::string(e.what()).find(dir / "set.z02"), std::string::npos) << e.what();
    }
    // Put back, the volume is read by the next call.
    const archiver::TZADirArray& cdir = arc.DMHandle()->CDir;
    int onIt = 0;
    while (onIt < cdir.Count() && (cdir[onIt].DiskNumberStart() != 1 || cdir[onIt].IsDirectory())) ++onIt;
    ASSERT_LT(onIt, cdir.Count());
    std::string text;
    EXPECT_EQ(NativeErrorOf([&] { arc.ExtractToString(cdir[onIt].Name, text); }), 45);
    std::filesystem::rename(dir / "away", dir / "set.z02");
    arc.ExtractToString(cdir[onIt].Name, text);
    EXPECT_EQ(text, files.at(cdir[onIt].Name));
    std::filesystem::rename(dir / "set.z02", dir / "away");
  }

  // A handler that keeps naming the missing file is asked a bounded number
  // of times, once for the volume and not again for each item it holds; the
  // items that need the volume fail with 45 naming it, the others are
  // extracted.
  TZipArchiver arc;
  arc.SetFileName(dir / "set.zip");
  arc.SetBaseDir(dir / "out2");
  int asked = 0;
  arc.OnRequestMiddleVolume = [&](archiver::TZABaseArchiver&, int volume, std::string&,
                                  bool& cancel) {
    // The other volumes are there under the names offered.
    if (volume == 2) ++asked;
    cancel = false;
  };
  std::vector<int> failures;
  arc.OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string&,
                                 archiver::TZAProcessOperation, int native, int, const std::string& message,
                                 TZAAction& action) {
    failures.push_back(native);
    EXPECT_NE(message.find(dir / "set.z02"), std::string::npos) << message;
    action = archiver::fxaIgnore;
  };
  arc.OpenArchive(archiver::ZAModeRead);
  const int extracted = arc.ExtractFiles("*.*", 10431, "");
  ASSERT_FALSE(failures.empty());
  EXPECT_EQ(failures, std::vector<int>(failures.size(), 45));
  EXPECT_GT(failures.size(), 1u);
  EXPECT_EQ(asked, archiver::ZAMaxVolumeRequests);
  EXPECT_EQ(extracted + static_cast<int>(failures.size()), static_cast<int>(files.size()) + 1)
      << "sub/ counts";
  EXPECT_GT(extracted, 0);
}

TEST(VolumeRead, SelfExtractingSplitSetOpensFromEitherEnd) {
  TempDir dir;
  const std::string stub = "MZ" + Noise(3000, 99);
  base_test::WriteBytes(dir / "stub.bin", stub);
  const TItems items = SampleItems(8, 120000);
  TZipArchiver arc;
  arc.SetFileName(dir / "book.exe");
  arc.SetSFXStub(dir / "stub.bin");
  arc.SetSpanningMode(archiver::smSplitting);
  arc.SpanningOptions().SetVolumeSize(archiver::vsCustom);
  arc.SpanningOptions().SetCustomVolumeSize(65536);
  WriteSet(arc, items);

  // book.exe (the stub and the first items), book.z02, ..., book.zip.
  ASSERT_TRUE(std::filesystem::exists(dir / "book.exe"));
  ASSERT_TRUE(std::filesystem::exists(dir / "book.z02"));
  ASSERT_TRUE(std::filesystem::exists(dir / "book.zip"));
  EXPECT_FALSE(std::filesystem::exists(dir / "book.z01"));
  EXPECT_EQ(base_test::ReadBytes(dir / "book.exe").substr(0, stub.size()), stub);

  for (const char* name : {"book.exe", "book.zip"}) {
    TZipArchiver reader;
    EXPECT_TRUE(OurContents(dir / name, &reader) == items) << name;
    EXPECT_EQ(reader.SpanningMode(), archiver::smSplitting) << name;
  }
}

}  // namespace
