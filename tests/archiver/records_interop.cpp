// Our record readers against archives made by the peers: every end record,
// zip64 record and central entry we read must carry the values that Python's
// struct reads from the same bytes, and the zip64 values we resolve must be
// the ones zipfile resolves.
#include <gtest/gtest.h>

#include "records_util.h"

namespace {

using base_test::HaveTool;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;
using base_test::WriteBytes;
using records_test::OurDump;
using records_test::PythonDump;

// A few files to pack: text, an empty file, a folder, a Cyrillic name.
void MakeTree(const TempDir& dir) {
  std::filesystem::create_directories(dir / "in/sub/deeper");
  WriteBytes(dir / "in/a.txt", "hello, world\n");
  WriteBytes(dir / "in/empty.bin", "");
  WriteBytes(dir / "in/sub/b.txt", std::string(5000, 'b'));
  WriteBytes(dir / "in/sub/\xd0\x9a\xd0\xbd\xd0\xb8\xd0\xb3\xd0\xb0.fb2", "<FictionBook/>");
}

std::string SevenZip() {
  if (HaveTool("7zz")) return "7zz";
  if (HaveTool("7z")) return "7z";
  return {};
}

void ExpectSameDump(const TempDir& dir, const std::string& archive) {
  const auto ours = OurDump(archive);
  const auto theirs = PythonDump(dir, archive);
  ASSERT_FALSE(theirs.empty());
  ASSERT_EQ(ours.size(), theirs.size()) << (theirs.empty() ? "" : theirs.back());
  for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(ours[i], theirs[i]) << "line " << i;
}

TEST(RecordsInterop, InfoZipArchiveWithCommentAndForeignExtraFields) {
  ASSERT_TRUE(HaveTool("zip"));
  TempDir dir;
  MakeTree(dir);
  const std::string zip = dir / "info.zip";
  ASSERT_NE(RunCmd("cd " + Q(dir / "in") + " && zip -q -r " + Q(zip) + " . && echo 'the comment' | zip -q -z " + Q(zip)),
            "<failed>");
  ExpectSameDump(dir, zip);
  // Info-ZIP's UT and ux fields are foreign to us and must survive as bytes.
  const auto ours = OurDump(zip);
  EXPECT_NE(ours[1].find("extra=5554"), std::string::npos) << ours[1];
}

TEST(RecordsInterop, InfoZipForcedZip64UsesTheShortZip64Field) {
  ASSERT_TRUE(HaveTool("zip"));
  TempDir dir;
  MakeTree(dir);
  const std::string zip = dir / "z64.zip";
  ASSERT_NE(RunCmd("cd " + Q(dir / "in") + " && zip -q -fz -r " + Q(zip) + " ."), "<failed>");
  ExpectSameDump(dir, zip);
  // Its central entries hold only the uncompressed size in the zip64 field:
  // the sentinel in unCompSize alone decides what the field holds.
  const auto ours = OurDump(zip);
  bool sawShortForm = false;
  for (const auto& line : ours)
    if (line.find("usize=4294967295") != std::string::npos &&
        line.find("csize=4294967295") == std::string::npos)
      sawShortForm = true;
  EXPECT_TRUE(sawShortForm);
}

TEST(RecordsInterop, SevenZipArchiveWithUtf8Names) {
  const std::string sevenZip = SevenZip();
  ASSERT_FALSE(sevenZip.empty());
  TempDir dir;
  MakeTree(dir);
  const std::string zip = dir / "seven.zip";
  ASSERT_NE(RunCmd("cd " + Q(dir / "in") + " && " + sevenZip + " a -tzip -mcu=on -mtc=on " + Q(zip) +
                " . >/dev/null"),
            "<failed>");
  ExpectSameDump(dir, zip);
}

TEST(RecordsInterop, PythonArchiveWithZip64EndRecords) {
  // 65,600 entries: more than the end record's 16-bit count can hold, so the
  // writer adds the zip64 end record and its locator.
  TempDir dir;
  const std::string zip = dir / "many.zip";
  const std::string made = records_test::RunPython(dir, R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as zf:
    zf.comment = b'many entries'
    for i in range(65600):
        zf.writestr('%d.fb2' % i, b'')
    zf.writestr('\u043a\u043d\u0438\u0433\u0430/\u65e5\u672c.txt', b'utf-8 name', zipfile.ZIP_DEFLATED)
print('made')
)PY", Q(zip));
  ASSERT_EQ(made, "made\n");
  const auto ours = OurDump(zip);
  ASSERT_GT(ours.size(), 3u);
  EXPECT_EQ(ours[1].rfind("LOC ", 0), 0u) << ours[1];
  ExpectSameDump(dir, zip);
}

TEST(RecordsInterop, PythonZip64LocalAndCentralFields) {
  // force_zip64 makes zipfile write a zip64 field into the local header; a
  // stub in front gives every entry a non-zero offset.
  TempDir dir;
  const std::string zip = dir / "forced.zip";
  const std::string made = records_test::RunPython(dir, R"PY(
import sys, zipfile
with open(sys.argv[1], 'wb') as f:
    f.write(b'#!stub\n' * 10)
    with zipfile.ZipFile(f, 'a') as zf:
        with zf.open('big.bin', 'w', force_zip64=True) as w:
            w.write(b'x' * 1000)
        zf.writestr('small.txt', b'abc')
print('made')
)PY", Q(zip));
  ASSERT_EQ(made, "made\n");
  ExpectSameDump(dir, zip);

  // The local header of the first item carries the zip64 field; read it with
  // the local-header reader.
  platform::TFileStream s(zip, platform::fmOpenRead);
  s.SetPosition(70);
  archiver::TZALocalFileHeader lh;
  ASSERT_TRUE(archiver::ZAReadRecord(s, lh));
  EXPECT_EQ(lh.signature, archiver::ZA_SIG_LOCAL_HEADER);
  std::string name, extra;
  ASSERT_TRUE(archiver::ZAReadBytes(s, lh.nameLength, name));
  ASSERT_TRUE(archiver::ZAReadBytes(s, lh.extraLength, extra));
  EXPECT_EQ(name, "big.bin");
  const auto fields = archiver::ZAParseExtraFields(extra);
  const auto* z64 = archiver::ZAFindExtraField(fields, archiver::ZA_EXTRA_ZIP64);
  ASSERT_NE(z64, nullptr);
  EXPECT_EQ(z64->dataSize(), 16);
}

}  // namespace
