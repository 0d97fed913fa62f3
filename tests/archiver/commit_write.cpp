// Writing new items in a commit: what the peers read back, the header fields
// the items get, zip64 and the traditional cipher, sources from caller's
// streams and from disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "commit_util.h"

namespace {

using namespace commit_test;
using archiver::TZipArchiver;

class CommitWrite : public ::testing::Test {
 protected:
  void SetUp() override { arc.SetFileName(path); }
  // Creates the archive and commits the items `fill` sets up.
  template <class F>
  void Create(F fill) {
    arc.OpenArchive(archiver::ZAModeCreate);
    arc.BeginUpdate();
    fill();
    arc.EndUpdate();
    arc.CloseArchive();
    ASSERT_EQ(arc.LastCloseError(), "");
  }
  TempDir dir;
  const std::string path = dir / "new.zip";
  TZipArchiver arc;
};

TEST_F(CommitWrite, NewArchiveReadsBackInEveryPeer) {
  const std::string big = Text(300000), binary = std::string(70000, '\x01') + "end";
  Create([&] {
    AddPending(arc, "a.txt", "hello\n");
    AddPending(arc, "big.txt", big);
    AddPending(arc, "empty.txt", "");
    AddPendingItem(arc, "d/", 0x10);
    AddPending(arc, "d/список.txt", "кириллица");  // OEM code page
    AddPending(arc, "d/中文.txt", "中文");          // UTF-8 with bit 11
    arc.SetCompressionMode(0);
    AddPending(arc, "stored.bin", binary);
  });
  ExpectPeersAccept(path);
  const std::map<std::string, std::string> expected = {
      {"a.txt", "hello\n"}, {"big.txt", big},           {"empty.txt", ""},        {"d/", ""},
      {"d/список.txt", "кириллица"}, {"d/中文.txt", "中文"}, {"stored.bin", binary}};
  ExpectContents(path, expected);

  // The directory in memory after the commit is the one on disk.
  arc.OpenArchive();
  EXPECT_EQ(arc.DMHandle()->CDir.Count(), 7);
  EXPECT_EQ(arc.DMHandle()->CDir[6].CentralDir.compMethod, 0);
  EXPECT_EQ(arc.DMHandle()->CDir[1].CentralDir.compMethod, 8);
  EXPECT_EQ(arc.DMHandle()->CDir[2].CentralDir.compMethod, 0);  // empty: stored
}

TEST_F(CommitWrite, HeaderFieldsFollowTheOptions) {
  // OEM names on: version 20, an OEM name without bit 11, a CJK name in
  // UTF-8 with bit 11; Unicode names on: every item carries 0x554E in both
  // headers.
  arc.SetUnicodeFilenames(true);
  Create([&] {
    AddPending(arc, "ab", "x");
    AddPending(arc, "список.txt", "y");
    AddPending(arc, "中文.txt", "z");
  });
  ExpectPeersAccept(path);
  const auto details = ZipDetails(path);
  const auto local = DetailsByName(details, "LOCAL HEADER");
  const auto central = DetailsByName(details, "CENTRAL HEADER");
  ASSERT_EQ(local.size(), 3u);
  ASSERT_EQ(central.size(), 3u);
  for (const auto& [name, d] : local) {
    EXPECT_EQ(d.Get("Extract Zip Spec"), "14") << name;  // 2.0
    EXPECT_EQ(d.Get("Extract OS"), "00") << name;
    EXPECT_EQ(d.ExtraIds(), std::vector<std::string>{"554E"}) << name;
    EXPECT_EQ(central.count(name), 1u) << name;
  }
  for (const auto& [name, d] : central) EXPECT_EQ(d.ExtraIds(), std::vector<std::string>{"554E"}) << name;
  // Two characters: 12 bytes of data ("NUCX", the count, two UTF-16 units).
  EXPECT_EQ(local.at("ab").Get("Length"), "000C");
  EXPECT_EQ(local.at("中文.txt").Get("General Purpose Flag"), "0800");
  EXPECT_EQ(central.at("中文.txt").Get("General Purpose Flag"), "0800");
  EXPECT_EQ(local.at("ab").Get("General Purpose Flag"), "0000");
  ExpectContents(path, {{"ab", "x"}, {"список.txt", "y"}, {"中文.txt", "z"}});  // the OEM name read as OEM

  // OEM names off: version 0x0B14, names in the ANSI code page.
  TempDir other;
  TZipArchiver ansi;
  ansi.SetFileName(other / "ansi.zip");
  ansi.Options().SetOEMFileNames(false);
  ansi.OpenArchive(archiver::ZAModeCreate);
  ansi.BeginUpdate();
  AddPending(ansi, "plain.txt", "p");
  ansi.EndUpdate();
  ansi.CloseArchive();
  const auto a = DetailsByName(ZipDetails(other / "ansi.zip"), "CENTRAL HEADER").at("plain.txt");
  EXPECT_EQ(a.Get("Created Zip Spec"), "14");
  EXPECT_EQ(a.Get("Created OS"), "0B");
  EXPECT_EQ(a.Get("Extract OS"), "0B");
  EXPECT_EQ(UnzipTest(other / "ansi.zip"), "ok\n");
}

TEST_F(CommitWrite, Zip64AlwaysIsReadByEveryPeer) {
  arc.SetZip64Mode(archiver::zmAlways);
  const std::string data = Text(100000);
  Create([&] {
    AddPending(arc, "one.txt", data);
    AddPending(arc, "two.txt", "two");
    AddPendingItem(arc, "dir/", 0x10);
  });
  ExpectPeersAccept(path);
  ExpectContents(path, {{"one.txt", data}, {"two.txt", "two"}, {"dir/", ""}});
  const auto details = ZipDetails(path);
  const auto local = DetailsByName(details, "LOCAL HEADER");
  const auto central = DetailsByName(details, "CENTRAL HEADER");
  for (const auto& [name, d] : local) {
    EXPECT_EQ(d.Get("Extract Zip Spec"), "2D") << name;
    EXPECT_EQ(d.Get("Compressed Length"), "FFFFFFFF") << name;
    EXPECT_EQ(d.Get("Uncompressed Length"), "FFFFFFFF") << name;
    EXPECT_EQ(d.ExtraIds(), std::vector<std::string>{"0001"}) << name;
  }
  for (const auto& [name, d] : central) {
    EXPECT_EQ(d.Get("Local Header Offset"), "FFFFFFFF") << name;
    EXPECT_EQ(d.ExtraIds(), std::vector<std::string>{"0001"}) << name;
  }
}

TEST_F(CommitWrite, TraditionalCipherOpensWithThePassword) {
  arc.SetPassword("pw");
  const std::string data = Text(50000);
  Create([&] {
    AddPending(arc, "secret.txt", data);
    AddPending(arc, "empty.txt", "");
    arc.SetCompressionMode(0);
    AddPending(arc, "stored.txt", "stored secret");
  });
  EXPECT_EQ(RunCmd("unzip -P pw -tq " + Q(path) + " >/dev/null 2>&1 && echo ok"), "ok\n");
  EXPECT_EQ(RunCmd(std::string(load_test::SevenZip()) + " t -ppw " + Q(path) + " >/dev/null 2>&1 && echo ok"), "ok\n");
  ExpectContents(path, {{"secret.txt", data}, {"stored.txt", "stored secret"}, {"empty.txt", ""}}, "pw");
  // Without the password nothing opens.
  EXPECT_EQ(RunCmd("unzip -P wrong -tq " + Q(path) + " >/dev/null 2>&1 && echo ok"), "<failed>");
}

TEST_F(CommitWrite, CallerStreamWindowAndDiskSources) {
  // A caller's stream: the item holds Count bytes from Position, and the
  // stream gets its position back; Count 0 takes the whole stream.
  auto caller = std::make_shared<platform::TStringStream>("0123456789abcdef");
  caller->SetPosition(7);
  const std::string file = dir / "on disk.txt";
  base_test::WriteBytes(file, "from the disk");
  Create([&] {
    TDirItem& window = AddPendingItem(arc, "window.txt");
    window.Stream = caller;
    window.Position = 4;
    window.Count = 6;
    TDirItem& whole = AddPendingItem(arc, "whole.txt");
    whole.Stream = caller;
    AddPendingFile(arc, "disk.txt", file);
  });
  EXPECT_EQ(caller->Position(), 7);
  EXPECT_EQ(caller.use_count(), 1) << "the archive keeps no reference to a caller's stream";
  ExpectPeersAccept(path);
  ExpectContents(path, {{"window.txt", "456789"}, {"whole.txt", "0123456789abcdef"}, {"disk.txt", "from the disk"}});
}

TEST_F(CommitWrite, AppendingMovesNoItemData) {
  for (const TPeerArchive& peer : MakePeerArchives(dir)) {
    SCOPED_TRACE(peer.maker);
    const std::string before = base_test::ReadBytes(peer.path);
    const auto old = PythonContents(peer.path);
    ASSERT_EQ(old.count("<failed>"), 0u) << Describe(old);
    TZipArchiver a;
    a.SetFileName(peer.path);
    a.OpenArchive();
    const int64_t dirStart = a.DMHandle()->CentralDirOffset;
    a.BeginUpdate();
    AddPending(a, "appended/новый.txt", "appended");
    a.EndUpdate();
    a.CloseArchive();
    const std::string after = base_test::ReadBytes(peer.path);
    EXPECT_TRUE(after.compare(0, static_cast<size_t>(dirStart), before, 0, static_cast<size_t>(dirStart)) == 0);
    ExpectPeersAccept(peer.path);
    auto expected = old;
    expected["appended/новый.txt"] = "appended";
    ExpectContents(peer.path, expected);
  }
}

TEST(CommitWriteLarge, ItemsBeyondFourGigabytes) {
  // A sparse archive of two 2.25 GiB items (holes, CRCs not kept: only the
  // new item is ever read) with zip64 end records: an item appended to it
  // starts past 4 GiB.
  TempDir dir;
  const std::string path = dir / "large.zip";
  records_test::RunPython(dir, R"PY(
import struct, sys
f = open(sys.argv[1], 'wb')
central, big = b'', 0x90000000
for i in range(2):
    name = b'big%d.bin' % i
    offset = f.tell()
    f.write(struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 0, 0, 0x21, 0, big, big, len(name), 0) + name)
    f.seek(big, 1)
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, 0, 0, 0x21, 0, big, big,
                           len(name), 0, 0, 0, 0, 0x20, offset) + name
start = f.tell()
f.write(central)
end64 = f.tell()
f.write(struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, 2, 2, len(central), start))
f.write(struct.pack('<IIQI', 0x07064b50, 0, end64, 1))
f.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 2, 2, len(central), 0xFFFFFFFF, 0))
)PY",
                          Q(path));
  const auto head = [&] {
    std::ifstream f(path, std::ios::binary);
    std::string bytes(64, '\0');
    f.read(bytes.data(), 64);
    return bytes;
  };
  const std::string before = head();
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
  ASSERT_GT(size, int64_t{0xFFFFFFFF});

  // Zip64 off (the zip flavour's default): the item cannot go there, and an
  // abort leaves the archive as it was.
  TZipArchiver arc;
  arc.SetFileName(path);
  int failures = 0;
  arc.OnProcessFileFailure = [&](TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation, int native,
                                 int, const std::string&, archiver::TZAAction& action) {
    EXPECT_EQ(native, 43);
    ++failures;
    action = archiver::fxaAbort;
  };
  arc.BeginUpdate();
  AddPending(arc, "small.txt", "beyond four gigabytes");
  arc.EndUpdate();
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)), size);

  arc.SetZip64Mode(archiver::zmAuto);
  arc.BeginUpdate();
  AddPending(arc, "small.txt", "beyond four gigabytes");
  arc.EndUpdate();
  arc.CloseArchive();
  EXPECT_EQ(head(), before);
  EXPECT_EQ(RunCmd("unzip -p " + Q(path) + " small.txt"), "beyond four gigabytes");
  EXPECT_EQ(RunCmd(std::string(load_test::SevenZip()) + " e -so " + Q(path) + " small.txt 2>/dev/null"),
            "beyond four gigabytes");
  EXPECT_EQ(RunCmd(std::string(records_test::kPython) + " -c " +
                   Q("import sys,zipfile\nsys.stdout.write(zipfile.ZipFile(sys.argv[1]).read('small.txt').decode())") +
                   " " + Q(path)),
            "beyond four gigabytes");
  arc.OpenArchive();
  const TDirItem& item = arc.DMHandle()->CDir[2];
  EXPECT_GT(item.LocalHeaderOffset(), uint64_t{0xFFFFFFFF});
  EXPECT_EQ(item.CentralDir.relOffsetLH, archiver::ZA_SENTINEL32);
  EXPECT_EQ(item.CentralDir.extractVersion, archiver::ZA_VERSION_ZIP64);
}

}  // namespace
