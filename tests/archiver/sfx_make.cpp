// Self-extracting archives: a shell stub in front of archives of the peers
// and ours, checked against "cat stub archive; zip -A" byte for byte and by
// the peers, run to extract; and every refusal or failure leaving the
// archive and an existing output as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archiver/ZAExcept.h"
#include "merge_util.h"

namespace {

using namespace commit_test;
using namespace merge_test;
using archiver::TZipArchiver;
using base_test::NativeErrorOf;
namespace fs = std::filesystem;

// The contents of the regular files below `folder`, sorted.
std::vector<std::string> FileContents(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out.push_back(base_test::ReadBytes(e.path().string()));
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> Contents(const std::map<std::string, std::string>& files) {
  std::vector<std::string> out;
  for (const auto& [name, data] : files)
    if (name.back() != '/') out.push_back(data);
  std::sort(out.begin(), out.end());
  return out;
}

class SFX : public ::testing::Test {
 protected:
  void SetUp() override {
    base_test::WriteBytes(stub, kShellStub);
    fs::permissions(stub, fs::perms(0755));
  }
  // MakeSFX of `archive`, open or closed.
  void Make(const std::string& archive, const std::string& out, bool open,
            const std::function<void(TZipArchiver&)>& setUp = nullptr) {
    TZipArchiver arc;
    arc.SetFileName(archive);
    arc.SetSFXStub(stub);
    if (setUp) setUp(arc);
    if (open) arc.OpenArchive();
    arc.MakeSFX(out);
  }
  // What "cat stub archive > x; zip -A x" gives.
  std::string Reference(const std::string& archive, const std::string& stubBytes = kShellStub) {
    const std::string ref = dir / "reference.sfx";
    base_test::WriteBytes(ref, stubBytes + base_test::ReadBytes(archive));
    RunCmd("zip -qA " + Q(ref));
    return base_test::ReadBytes(ref);
  }
  TempDir dir;
  const std::string stub = dir / "stub.sh", archive = dir / "a.zip", out = dir / "a.sfx";
};

TEST_F(SFX, PeersAndOursOpenAndClosed) {
  for (const TMaker maker : {TMaker::Python, TMaker::Zip, TMaker::SevenZip, TMaker::Ours}) {
    for (const bool open : {false, true}) {
      SCOPED_TRACE(MakerName(maker) + (open ? ", open" : ", closed"));
      const auto files = MakeArchive(dir, maker, "t", archive);
      const std::string before = base_test::ReadBytes(archive);
      fs::remove(out);
      Make(archive, out, open);
      ExpectFileBytes(archive, before);
      ExpectFileBytes(out, Reference(archive));
      ExpectPeersAccept(out);  // unzip -t exits 0: no "extra bytes" warning
      EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms(0755));
      const std::string extracted = dir / "extracted";
      fs::remove_all(extracted);
      RunCmd("sh " + Q(out) + " " + Q(extracted) + " >/dev/null 2>&1");
      EXPECT_EQ(FileContents(extracted), Contents(files));
    }
  }
  // Without zip -A the offsets do not count the stub, and unzip says so.
  base_test::WriteBytes(dir / "bare.sfx", kShellStub + base_test::ReadBytes(archive));
  EXPECT_EQ(UnzipTest(dir / "bare.sfx"), "<failed>");
}

TEST_F(SFX, Zip64AStubHoldingASignatureAndAnItemAddedLater) {
  // zip -A refuses an archive with zip64 records; MakeSFX does not.
  MakeArchive(dir, TMaker::ZipFz, "t", archive);
  Make(archive, out, false);
  EXPECT_EQ(UnzipTest(out), "ok\n");
  base_test::WriteBytes(dir / "fz.sfx", kShellStub + base_test::ReadBytes(archive));
  EXPECT_NE(RunCmd("zip -A " + Q(dir / "fz.sfx") + " 2>&1; true").find("Zip file structure invalid"), std::string::npos);

  // A stub that holds a local header's signature is measured whole.
  const std::string odd = kShellStub + "# PK\x03\x04 is no header here\n";
  base_test::WriteBytes(stub, odd);
  const auto files = MakeArchive(dir, TMaker::Python, "t", archive);
  fs::remove(out);
  Make(archive, out, false);
  ExpectFileBytes(out, Reference(archive, odd));
  {
    TZipArchiver arc;
    arc.SetFileName(out);
    arc.OpenArchive();
    EXPECT_EQ(arc.DMHandle()->StubSize, static_cast<int64_t>(odd.size()));
    // An item added afterwards: the stub still extracts everything.
    arc.AddFromString("added.txt", "added later");
  }
  EXPECT_EQ(base_test::ReadBytes(out).compare(0, odd.size(), odd), 0);
  ExpectPeersAccept(out);
  RunCmd("sh " + Q(out) + " " + Q(dir / "x") + " >/dev/null 2>&1");
  auto expected = files;
  expected["added.txt"] = "added later";
  EXPECT_EQ(FileContents(dir / "x"), Contents(expected));
}

TEST_F(SFX, RefusalsAndFailuresWriteNothing) {
  MakeArchive(dir, TMaker::Zip, "t", archive);
  const std::string before = base_test::ReadBytes(archive);
  base_test::WriteBytes(out, "an old output");
  const auto unchanged = [&] {
    ExpectFileBytes(archive, before);
    ExpectFileBytes(out, "an old output");
    int temps = 0;
    for (const auto& e : fs::directory_iterator(dir.Path())) temps += e.path().extension() == ".tmp";
    EXPECT_EQ(temps, 0);
    fs::remove(dir / "reference.sfx");
  };
  const auto error = [&](bool open, const std::function<void(TZipArchiver&)>& setUp, const std::string& to) {
    return NativeErrorOf([&] { Make(archive, to, open, setUp); });
  };
  Make(archive, dir / "has-stub.sfx", false);
  for (const bool open : {false, true}) {
    EXPECT_EQ(error(open, [](TZipArchiver& a) { a.SetSFXStub(""); }, out), archiver::ZA_ERR_NO_SFX_STUB);
    EXPECT_EQ(error(open, [&](TZipArchiver& a) { a.SetSFXStub(dir / "missing.sh"); }, out), 18);
    EXPECT_EQ(error(open, [&](TZipArchiver& a) { a.SetFileName(dir / "has-stub.sfx"); }, out),
              archiver::ZA_ERR_HAS_SFX_STUB);
    EXPECT_EQ(error(open, nullptr, archive), archiver::ZA_ERR_MAKESFX);
    EXPECT_EQ(error(open, nullptr, stub), archiver::ZA_ERR_MAKESFX);
    // A copy cancelled through the progress events.
    EXPECT_EQ(error(open,
                    [](TZipArchiver& a) {
                      a.OnFileProgress = [](archiver::TZABaseArchiver&, const std::string&, double,
                                            archiver::TZAProcessOperation op, archiver::TZAProgressPhase phase,
                                            bool& cancel) {
                        EXPECT_EQ(op, archiver::poMakeSFX);
                        cancel = phase == archiver::ppProcess;
                      };
                    },
                    out),
              archiver::ZA_ERR_MAKESFX);
    unchanged();
  }
  EXPECT_EQ(error(false, [](TZipArchiver& a) { a.SetSpanningMode(archiver::smSplitting); }, out),
            archiver::ZA_ERR_MAKESFX_SPANNED);

  // A write that fails half way: the operation's own error, not the
  // hidden file's.
  EXPECT_EQ(NativeErrorPastFileSize(before.size() / 2, [&] { Make(archive, out, false); }), archiver::ZA_ERR_MAKESFX);
  unchanged();
}

}  // namespace
