// Loading directories written by the peers: every entry's name, sizes, CRC
// and offset as zipinfo shows them; Cyrillic and CJK names from each tool and
// an 866 name from a DOS-host entry; stubs in front of an archive; and the
// large archives of 65,535 and 70,000 entries.
#include <gtest/gtest.h>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "load_util.h"
#include "platform/CodePage.h"

namespace {

using namespace load_test;
using archiver::TZADirManager;

struct PeerCase {
  const char* name;
  const char* command;  // run inside the sample tree, archive path appended
};

class PeerLoad : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerLoad, MatchesZipinfoAndDecodesNames) {
  const PeerCase& c = GetParam();
  TempDir dir;
  std::string cmd = c.command;
  if (cmd.rfind("7z", 0) == 0) cmd = SevenZip() + cmd.substr(2);
  const std::string path = MakePeerArchive(dir, "peer.zip", cmd);
  Owner owner;
  Loaded l = LoadFile(path, &owner);
  EXPECT_EQ(AsSet(l.Names()), AsSet(SampleNames())) << c.name;
  EXPECT_EQ(OurInfo(*l.dm), ZipInfo(path)) << c.name;
  EXPECT_EQ(l.dm->StubSize, 0);
  // Loaded through the directory, not rebuilt from local headers.
  EXPECT_LT(l.dm->CentralDirOffset, l.stream->Size());
  for (int i = 0; i < l.dm->CDir.Count(); ++i) {
    const auto& item = l.dm->CDir[i];
    EXPECT_EQ(item.IsDirectory(), item.Name.back() == '/') << item.Name;
    ASSERT_TRUE(item.StoredName.has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, PeerLoad,
    ::testing::Values(PeerCase{"zip", "zip -q -r {} ."}, PeerCase{"zip64", "zip -q -r -fz {} ."},
                      PeerCase{"python",
                               "/usr/bin/python3 -c \"import zipfile,sys,os\n"
                               "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n"
                               "for r,ds,fs in sorted(os.walk('.')):\n"
                               " for n in sorted(ds)+sorted(fs): z.write(os.path.join(r,n)[2:])\n"
                               "z.close()\""},
                      PeerCase{"7zip", "7z a -tzip"}),
    [](const auto& info) { return std::string(info.param.name); });

// Stubs: an archive adjusted with zip -A keeps its offsets; one whose offsets
// do not count the stub gets them moved by the stub's size.
TEST(LoadStub, AdjustedAndUnadjustedStubs) {
  TempDir dir;
  const std::string plain = MakePeerArchive(dir, "plain.zip", "zip -q -r {} .");
  const std::string stub(4321, 'S');
  base_test::WriteBytes(dir / "raw.zip", stub + base_test::ReadBytes(plain));
  base_test::WriteBytes(dir / "sfx.zip", stub + base_test::ReadBytes(plain));
  RunCmd("zip -q -A " + Q(dir / "sfx.zip"));

  Owner owner;
  Loaded adjusted = LoadFile(dir / "sfx.zip", &owner);
  EXPECT_EQ(OurInfo(*adjusted.dm), ZipInfo(dir / "sfx.zip"));
  EXPECT_EQ(adjusted.dm->StubSize, 4321);
  EXPECT_EQ(adjusted.dm->CDir[0].LocalHeaderOffset(), 4321u);

  Loaded raw = LoadFile(dir / "raw.zip", &owner);
  EXPECT_EQ(raw.dm->StubSize, 4321);
  EXPECT_EQ(OurInfo(*raw.dm), OurInfo(*adjusted.dm));
  EXPECT_EQ(raw.Names(), adjusted.Names());

  // A zip64 archive with an unadjusted stub: the zip64 end record is found
  // before its locator, not where the locator says.
  const std::string z64 = MakePeerArchive(dir, "z64.zip", "zip -q -r -fz {} .");
  base_test::WriteBytes(dir / "raw64.zip", stub + base_test::ReadBytes(z64));
  Loaded raw64 = LoadFile(dir / "raw64.zip", &owner);
  EXPECT_TRUE(raw64.dm->FZip64);
  EXPECT_EQ(raw64.dm->StubSize, 4321);
  EXPECT_EQ(AsSet(raw64.Names()), AsSet(SampleNames()));
  EXPECT_EQ(raw64.dm->CDir[0].LocalHeaderOffset(), 4321u);
}

// Name decoding: an 866 name from a DOS host (valid UTF-8 by accident), raw
// UTF-8 from a Unix host without bit 11, and the OEM option.
TEST(LoadNames, HostAndFlagDecideTheCodePage) {
  TempDir dir;
  // Python writes ASCII names as they are; the placeholders are then patched
  // into the wanted bytes (same length) in both headers.
  const std::string oem = platform::Utf8ToOem("список.txt");
  const std::string utf8 = "d/список.txt";
  ASSERT_TRUE(platform::IsValidUtf8(oem)) << "the 866 bytes should pass for UTF-8";
  const char* script = R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], 'w')
for name, host in (('O' * 10, 0), ('U' * 18, 3), ('N' * 10, 11)):
    zi = zipfile.ZipInfo(name)
    zi.create_system = host
    z.writestr(zi, b'data')
z.close()
)PY";
  records_test::RunPython(dir, script, Q(dir / "names.zip"));
  std::string bytes = base_test::ReadBytes(dir / "names.zip");
  auto patch = [&](const std::string& from, const std::string& to) {
    ASSERT_EQ(from.size(), to.size());
    for (size_t p = bytes.find(from); p != std::string::npos; p = bytes.find(from, p + 1))
      bytes.replace(p, from.size(), to);
  };
  patch(std::string(10, 'O'), oem);
  patch(std::string(18, 'U'), utf8);
  patch(std::string(10, 'N'), oem);

  Owner owner;
  Loaded l = LoadBytes(bytes, &owner);
  ASSERT_EQ(l.dm->CDir.Count(), 3);
  EXPECT_EQ(l.dm->CDir[0].Name, "список.txt");  // DOS host, OEM names on
  EXPECT_EQ(l.dm->CDir[1].Name, utf8);          // Unix host, raw UTF-8
  EXPECT_EQ(l.dm->CDir[2].Name, "список.txt");  // this archiver's own host 11
  EXPECT_EQ(*l.dm->CDir[0].StoredName, oem);    // bytes kept as on disk

  // With OEM names off a Unix-host name is still UTF-8.
  owner.oem = false;
  Loaded ansi = LoadBytes(bytes, &owner);
  EXPECT_EQ(ansi.dm->CDir[1].Name, utf8);
}

TEST(LoadBig, SixtyFiveThousandFiveHundredThirtyFiveEntriesWithoutZip64) {
  const auto& big = BigArchives::Get();
  Owner owner;
  Loaded l = LoadFile(big.n65535, &owner);
  EXPECT_FALSE(l.dm->FZip64);
  EXPECT_EQ(l.dm->CentralDirEnd.entriesCentralDir, 0xFFFF);
  ASSERT_EQ(l.dm->CDir.Count(), 65535);
  EXPECT_LT(l.dm->CentralDirOffset, l.stream->Size());  // not a rebuild
  EXPECT_EQ(l.dm->CDir[65534].Name, "f65534.txt");
  int index = -1;
  EXPECT_TRUE(l.dm->CDir.FileExists("F40000.TXT", index));
  EXPECT_EQ(index, 40000);
  // Python's offsets and sizes, entry for entry.
  const auto py = records_test::Lines(RunCmd(
      std::string(records_test::kPython) + " -c " +
      Q("import zipfile,sys\nfor i in zipfile.ZipFile(sys.argv[1]).infolist()[::4099]: "
        "print(i.header_offset, i.compress_size, i.CRC)") +
      " " + Q(big.n65535)));
  ASSERT_EQ(py.size(), 16u);
  for (size_t k = 0; k < py.size(); ++k) {
    const auto& item = l.dm->CDir[static_cast<int>(k * 4099)];
    EXPECT_EQ(py[k], std::to_string(item.LocalHeaderOffset()) + " " +
                         std::to_string(item.CompressedSize()) + " " +
                         std::to_string(item.CentralDir.crc32));
  }
}

TEST(LoadBig, SeventyThousandEntriesWithZip64) {
  const auto& big = BigArchives::Get();
  Owner owner;
  Loaded l = LoadFile(big.n70000, &owner);
  EXPECT_TRUE(l.dm->FZip64);
  ASSERT_EQ(l.dm->CDir.Count(), 70000);
  EXPECT_LT(l.dm->CentralDirOffset, l.stream->Size());
  EXPECT_EQ(l.dm->CDir[69999].Name, "f69999.txt");
  EXPECT_EQ(l.dm->CentralDirOffset, static_cast<int64_t>(l.dm->Zip64CentralDirEnd.offsetStartDir));
}

}  // namespace
