// Changing existing archives in a commit: deletions, renames, updates and
// additions on the peers' archives, unchanged items copied with their data
// descriptors, directories whose order differs from the data, archives
// whose central directory was cut off, and archives behind a stub.
#include <gtest/gtest.h>

#include <filesystem>

#include "commit_util.h"

namespace {

using namespace commit_test;
using archiver::TZipArchiver;

TEST(CommitUpdate, MixedChangesOnPeerArchives) {
  TempDir dir;
  for (const TPeerArchive& peer : MakePeerArchives(dir)) {
    SCOPED_TRACE(peer.maker);
    auto expected = PythonContents(peer.path);
    ASSERT_EQ(expected.count("a.txt"), 1u) << Describe(expected);
    TZipArchiver arc;
    arc.SetFileName(peer.path);
    arc.BeginUpdate();
    // Delete the first item, rename a Cyrillic one (a longer name), put new
    // data into another, change an attribute, add one.
    arc.DMHandle()->CDir.DeleteItem(IndexOf(arc, "a.txt"));
    RenamePending(arc, IndexOf(arc, "d/список.txt"), "d/переименованный список.txt");
    const std::string fresh = Text(20000, 3);
    AddPending(arc, "d/e/deep.bin", fresh);
    TDirItem& attr = arc.DMHandle()->CDir[IndexOf(arc, "empty.txt")];
    attr.CentralDir.externalAttr |= 1;
    attr.Modified = true;
    attr.Operation = archiver::poChangeAttr;
    AddPending(arc, "added.txt", "added");
    arc.EndUpdate();
    arc.CloseArchive();
    ASSERT_EQ(arc.LastCloseError(), "");

    expected.erase("a.txt");
    expected["d/переименованный список.txt"] = expected["d/список.txt"];
    expected.erase("d/список.txt");
    expected["d/e/deep.bin"] = fresh;
    expected["added.txt"] = "added";
    ExpectPeersAccept(peer.path);
    ExpectContents(peer.path, expected);

    // Our own reading of it agrees, names included.
    arc.OpenArchive();
    std::map<std::string, std::string> ours;
    for (int i = 0; i < arc.DMHandle()->CDir.Count(); ++i) ours[arc.DMHandle()->CDir[i].Name] = "";
    EXPECT_EQ(ours.size(), expected.size());
    for (const auto& [name, data] : expected) EXPECT_EQ(ours.count(name), 1u) << name;
    EXPECT_EQ(arc.DMHandle()->CDir[IndexOf(arc, "empty.txt")].CentralDir.externalAttr & 1, 1u);
  }
}

// An archive whose items carry data descriptors of every form: with and
// without signature, 32-bit and zip64 sizes. The script prints each item's
// local record as "offset length".
const char* kDescriptorArchive = R"PY(
import struct, sys, zlib
kinds = [('sig16', b'descriptor with signature'), ('nosig12', b'no signature' * 10),
         ('sig24', b'zip64 sizes, signature'), ('nosig20', b'zip64 sizes, no signature' * 3),
         ('sig16', b'last one')]
out, central = b'', b''
for i, (kind, data) in enumerate(kinds):
    name = ('item%d.txt' % i).encode()
    crc = zlib.crc32(data)
    wide = kind in ('sig24', 'nosig20')
    extra = struct.pack('<HHQQ', 1, 16, 0, 0) if wide else b''
    version = 45 if wide else 20
    offset = len(out)
    local = struct.pack('<IHHHHHIIIHH', 0x04034b50, version, 8, 0, 0, 0x21, 0,
                        0xFFFFFFFF if wide else 0, 0xFFFFFFFF if wide else 0, len(name), len(extra))
    desc = struct.pack('<I', 0x08074b50) if kind.startswith('sig') else b''
    desc += struct.pack('<IQQ' if wide else '<III', crc, len(data), len(data))
    record = local + name + extra + data + desc
    out += record
    print(offset, len(record))
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, version, version, 8, 0, 0, 0x21, crc,
                           len(data), len(data), len(name), 0, 0, 0, 0, 0x20, offset) + name
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(kinds), len(kinds), len(central), len(out), 0)
open(sys.argv[1], 'wb').write(out + central + end)
)PY";

TEST(CommitUpdate, UnchangedItemsKeepTheirDataDescriptors) {
  TempDir dir;
  const std::string path = dir / "descriptors.zip";
  const auto lines = records_test::Lines(records_test::RunPython(dir, kDescriptorArchive, Q(path)));
  ASSERT_EQ(lines.size(), 5u);
  const std::string before = base_test::ReadBytes(path);
  std::vector<std::string> records;
  for (const std::string& line : lines) {
    std::istringstream in(line);
    size_t offset = 0, length = 0;
    in >> offset >> length;
    records.push_back(before.substr(offset, length));
  }
  const auto expected = [&] {
    auto m = PythonContents(path);
    m.erase("item0.txt");
    return m;
  }();

  TZipArchiver arc;
  arc.SetFileName(path);
  arc.BeginUpdate();
  arc.DMHandle()->CDir.DeleteItem(0);  // every other record moves
  arc.EndUpdate();
  arc.CloseArchive();
  const std::string after = base_test::ReadBytes(path);
  // Each moved record is the old one byte for byte, one after the other.
  std::string moved;
  for (size_t i = 1; i < records.size(); ++i) moved += records[i];
  EXPECT_TRUE(after.compare(0, moved.size(), moved) == 0);
  ExpectPeersAccept(path);
  ExpectContents(path, expected);

  // A rename keeps the descriptor behind the data as well.
  arc.BeginUpdate();
  RenamePending(arc, 0, "renamed-item-with-a-longer-name.txt");
  arc.EndUpdate();
  arc.CloseArchive();
  ExpectPeersAccept(path);
  auto renamed = expected;
  renamed["renamed-item-with-a-longer-name.txt"] = renamed["item1.txt"];
  renamed.erase("item1.txt");
  ExpectContents(path, renamed);
}

TEST(CommitUpdate, DirectoryOrderDifferentFromDataOrder) {
  // Python writes the data in one order and, reopened for appending, the
  // directory in the reverse order.
  TempDir dir;
  const std::string path = dir / "reversed.zip";
  records_test::RunPython(dir, R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(6):
        z.writestr('f%d.txt' % i, ('file %d ' % i) * (100 + 50 * i))
with zipfile.ZipFile(sys.argv[1], 'a') as z:
    z.filelist.reverse()
    z._didModify = True
)PY",
                          Q(path));
  auto expected = PythonContents(path);
  ASSERT_EQ(expected.size(), 6u) << Describe(expected);
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive();
  ASSERT_EQ(arc.DMHandle()->CDir[0].Name, "f5.txt");  // the last data first
  arc.BeginUpdate();
  // The last directory entry is the first item of data: everything after it
  // must survive, though the directory lists all of it before.
  arc.DMHandle()->CDir.DeleteItem(IndexOf(arc, "f0.txt"));
  RenamePending(arc, IndexOf(arc, "f3.txt"), "three.txt");
  arc.EndUpdate();
  arc.CloseArchive();
  expected.erase("f0.txt");
  expected["three.txt"] = expected["f3.txt"];
  expected.erase("f3.txt");
  ExpectPeersAccept(path);
  ExpectContents(path, expected);
}

TEST(CommitUpdate, AppendingToACutDirectoryKeepsEveryItem) {
  TempDir dir;
  const std::string path = load_test::MakePeerArchive(dir, "cut.zip", "zip -qr {} .");
  const auto expected = PythonContents(path);
  // Cut the file in the middle of its central directory: the items are
  // intact, the directory is not.
  const std::string whole = base_test::ReadBytes(path);
  const size_t dirStart = whole.find("PK\x01\x02");
  ASSERT_NE(dirStart, std::string::npos);
  base_test::WriteBytes(path, whole.substr(0, dirStart + (whole.size() - dirStart) / 2));

  TZipArchiver arc;
  arc.SetFileName(path);
  arc.BeginUpdate();
  AddPending(arc, "after the cut.txt", "new");
  arc.EndUpdate();
  arc.CloseArchive();
  ASSERT_EQ(arc.LastCloseError(), "");
  auto now = PythonContents(path);
  EXPECT_EQ(now["after the cut.txt"], "new");
  now.erase("after the cut.txt");
  EXPECT_TRUE(now == expected) << Describe(now) << "expected:\n" << Describe(expected);
  ExpectPeersAccept(path);
}

TEST(CommitUpdate, AppendingBehindAStubKeepsEveryItem) {
  TempDir dir;
  const std::string zip = load_test::MakePeerArchive(dir, "plain.zip", "zip -qr {} .");
  const auto expected = PythonContents(zip);
  const std::string stub = "MZ" + std::string(4094, '\x90');
  // Made by prepending (offsets not counting the stub) and by zip -A
  // (offsets adjusted).
  for (const bool adjusted : {false, true}) {
    SCOPED_TRACE(adjusted ? "adjusted" : "prepended");
    const std::string path = dir / (adjusted ? "adjusted.exe" : "prepended.exe");
    base_test::WriteBytes(path, stub + base_test::ReadBytes(zip));
    if (adjusted) RunCmd("zip -qA " + Q(path));
    TZipArchiver arc;
    arc.SetFileName(path);
    arc.BeginUpdate();
    AddPending(arc, "appended.txt", "appended");
    arc.EndUpdate();
    arc.CloseArchive();
    ASSERT_EQ(arc.LastCloseError(), "");
    const std::string after = base_test::ReadBytes(path);
    EXPECT_TRUE(after.compare(0, stub.size(), stub) == 0);
    ExpectPeersAccept(path);
    auto now = PythonContents(path);
    EXPECT_EQ(now["appended.txt"], "appended");
    now.erase("appended.txt");
    EXPECT_TRUE(now == expected) << Describe(now);

    // Every item with data deleted: the empty ones left behind the stub
    // are read where they are.
    arc.OpenArchive();
    arc.BeginUpdate();
    for (const char* name : {"a.txt", "d/список.txt", "d/中文名.txt", "d/e/deep.bin", "appended.txt"})
      arc.DeleteFiles(name, archiver::ZADefaultSearchAttr, "");
    arc.EndUpdate();
    arc.CloseArchive();
    ExpectPeersAccept(path);
    EXPECT_EQ(PythonContents(path).size(), 3u);
    EXPECT_TRUE(arc.IsValidArchiveFile());
  }
}

TEST(CommitUpdate, RenameRebuildsTheUnicodeNameField) {
  // An item that carries a Unicode name field gets one for its new name;
  // a stale one would give the item back its old name.
  TempDir dir;
  const std::string path = dir / "unicode.zip";
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.SetUnicodeFilenames(true);
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.BeginUpdate();
  AddPending(arc, "old name.txt", "data");
  AddPending(arc, "other.txt", "other");
  arc.EndUpdate();
  arc.SetUnicodeFilenames(false);
  arc.BeginUpdate();
  RenamePending(arc, 0, "новое имя.txt");
  arc.EndUpdate();
  arc.CloseArchive();
  ExpectPeersAccept(path);
  ExpectContents(path, {{"новое имя.txt", "data"}, {"other.txt", "other"}});
  arc.OpenArchive();
  EXPECT_EQ(arc.DMHandle()->CDir[0].Name, "новое имя.txt");
  const auto local = DetailsByName(ZipDetails(path), "LOCAL HEADER");
  ASSERT_EQ(local.size(), 2u);
  for (const auto& [name, d] : local) EXPECT_EQ(d.ExtraIds(), std::vector<std::string>{"554E"}) << name;
}

TEST(CommitUpdate, NamesStoredInUtf8StayInUtf8) {
  // Names that a DOS host stored in UTF-8 (flag bit 11), though its code
  // page could hold them: updated from disk, renamed and replaced, they stay
  // in UTF-8 and peers show the same names.
  TempDir dir;
  const std::string path = dir / "a.zip";
  std::filesystem::copy_file(std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/repair/utf8-name.zip", path);
  std::filesystem::create_directories(dir / "книги");
  base_test::WriteBytes(dir / "книги/вторая.fb2", "from disk");
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.SetBaseDir(dir.Path());
  arc.Options().SetOverwriteMode(archiver::omAlways);
  arc.OpenArchive();
  EXPECT_EQ(arc.UpdateFiles("книги/вторая.fb2", archiver::ZADefaultSearchAttr, ""), 1);
  arc.RenameFile("первая.fb2", "переименованная.fb2");
  arc.AddFromString("переименованная.fb2", "replaced", 0x20, 0);
  arc.CloseArchive();
  EXPECT_EQ(load_test::PythonNames(path),
            (std::vector<std::string>{"переименованная.fb2", "книги/вторая.fb2"}));
}

}  // namespace
