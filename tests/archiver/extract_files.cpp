// Extraction to files and the operations around it: hostile item names
// (also through the Unicode-name record), overwrite modes, failures that
// must leave the user's old file byte-identical, Retry/Ignore/Abort on a
// damaged item, testing, the string/buffer forms and the password check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "archiver/ZACodec.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZAExtract.h"
#include "archiver/ZARecords.h"
#include "extract_util.h"
#include "platform/Dialogs.h"

namespace {

using namespace extract_test;
using archiver::EZAException;
using base_test::NativeErrorOf;
using archiver::TZipArchiver;

// Three stored items; the data of bad.txt has one byte flipped, so only
// its CRC gives it away.
const char* kDamaged = R"PY(
import sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path, 'w') as z:
    for name, word in (('one.txt', b'one '), ('bad.txt', b'bad '), ('three.txt', b'three ')):
        z.writestr(zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0)), word * 1000)
zi = zipfile.ZipFile(path).getinfo('bad.txt')
data = bytearray(open(path, 'rb').read())
data[zi.header_offset + 30 + len(zi.filename) + 100] ^= 0x55
open(path, 'wb').write(data)
)PY";

void SetMTime(const std::string& path, int y, int mo, int d) {
  struct tm t {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_isdst = -1;
  const struct utimbuf times = {std::mktime(&t), std::mktime(&t)};
  ::utime(path.c_str(), &times);
}

TEST(ExtractNames, SafeRelativePath) {
  using archiver::ZASafeRelativePath;
  EXPECT_EQ(ZASafeRelativePath("../evil"), "evil");
  EXPECT_EQ(ZASafeRelativePath("/abs"), "abs");
  EXPECT_EQ(ZASafeRelativePath("C:\\x"), "x");
  EXPECT_EQ(ZASafeRelativePath("c:x/y"), "x/y");
  EXPECT_EQ(ZASafeRelativePath("a/../../b"), "a/b");
  EXPECT_EQ(ZASafeRelativePath("a\\..\\b"), "a/b");
  EXPECT_EQ(ZASafeRelativePath("\\\\server\\share\\f"), "server/share/f");
  EXPECT_EQ(ZASafeRelativePath("./d//e/./"), "d/e/");
  EXPECT_EQ(ZASafeRelativePath("a/...b/.x"), "a/...b/.x");
  EXPECT_EQ(ZASafeRelativePath("Книга/а:б.fb2"), "Книга/а:б.fb2");
  EXPECT_EQ(ZASafeRelativePath(".."), "");
  EXPECT_EQ(ZASafeRelativePath("C:"), "");
  EXPECT_EQ(ZASafeRelativePath(std::string("a\0b", 3)), "");
}

TEST(ExtractFiles, HostileNamesStayInside) {
  platform::TDialogProviderScope headless(nullptr);
  TempDir root;
  // The same names once in the headers and once in Unicode-name records
  // behind harmless header names.
  const char* script = R"PY(
import struct, sys, zipfile
def nucx(name):
    u = name.encode('utf-16-le')
    body = b'NUCX' + struct.pack('<i', len(u) // 2) + u
    return struct.pack('<HH', 0x554E, len(body)) + body
names = ['../evil', '/abs', 'C:\\x', 'a/../../b', 'a\\..\\b']
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for i, n in enumerate(names):
        z.writestr(zipfile.ZipInfo(n, (2020, 1, 1, 0, 0, 0)), b'plain %d' % i)
    for i, n in enumerate(names):
        zi = zipfile.ZipInfo('u%d.txt' % i, (2020, 1, 1, 0, 0, 0))
        zi.extra = nucx(['../uevil', '/uabs', 'D:\\ux', 'u/../../b', 'u\\..\\b'][i])
        z.writestr(zi, b'unicode %d' % i)
)PY";
  ASSERT_TRUE(Py(script, Q(root / "h.zip")));
  const std::string dest = root / "out/dest";
  auto arc = Open(root / "h.zip", dest);
  EXPECT_EQ(Names(*arc)[5], "../uevil") << "the Unicode record names the item";
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 10);
  EXPECT_EQ(FilesBelow(root.Path()),
            (std::vector<std::string>{"h.zip", "out/dest/a/b", "out/dest/abs", "out/dest/evil",
                                      "out/dest/u/b", "out/dest/uabs", "out/dest/uevil", "out/dest/ux",
                                      "out/dest/x"}));
  EXPECT_EQ(ReadBytes(dest + "/evil"), "plain 0");
  EXPECT_EQ(ReadBytes(dest + "/a/b"), "plain 4");
  EXPECT_EQ(ReadBytes(dest + "/u/b"), "unicode 4");

  // Without folders everything lands flat in the destination.
  TempDir flat;
  arc->SetBaseDir(flat.Path());
  arc->Options().SetCreateDirs(false);
  arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, "");
  EXPECT_EQ(FilesBelow(flat.Path()),
            (std::vector<std::string>{"abs", "b", "evil", "uabs", "uevil", "ux", "x"}));
}

TEST(ExtractFiles, HandlerChoosesTheName) {
  TempDir root, elsewhere;
  ASSERT_TRUE(Py(kDamaged, Q(root / "d.zip")));
  auto arc = Open(root / "d.zip", root / "dest");
  std::vector<std::string> seen;
  arc->OnExtractFile = [&](archiver::TZABaseArchiver&, std::string& name, uint32_t&, archiver::AnsiString&) {
    seen.push_back(name);
    // A full path from the handler is taken as it is.
    if (name == "three.txt") name = elsewhere / "3.txt";
    if (name == "one.txt") name = "sub\\1.txt";  // either separator
  };
  EXPECT_EQ(arc->ExtractFiles("*e.txt", archiver::ZADefaultSearchAttr, ""), 2);
  EXPECT_EQ(seen, (std::vector<std::string>{"one.txt", "three.txt"}));
  EXPECT_EQ(ReadBytes(root / "dest/sub/1.txt").size(), 4000u);
  EXPECT_EQ(ReadBytes(elsewhere / "3.txt").size(), 6000u);
}

TEST(ExtractFiles, OverwriteModes) {
  platform::TDialogProviderScope headless(nullptr);
  TempDir root;
  ASSERT_TRUE(Py(kDamaged, Q(root / "d.zip")));  // one.txt dated 2020-01-01 00:00:00
  const std::string target = root / "dest/one.txt";
  auto arc = Open(root / "d.zip", root / "dest");
  const auto run = [&](archiver::TZAOverwriteMode mode, int year, int day) {
    std::filesystem::create_directories(root / "dest");
    WriteBytes(target, "old");
    SetMTime(target, year, 1, day);
    arc->Options().SetOverwriteMode(mode);
    return arc->ExtractFiles("one.txt", archiver::ZADefaultSearchAttr, "");
  };
  EXPECT_EQ(run(archiver::omNever, 2019, 1), 0);
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(run(archiver::omAlways, 2030, 1), 1);
  EXPECT_EQ(ReadBytes(target).size(), 4000u);
  EXPECT_EQ(run(archiver::omIfNewer, 2019, 1), 1) << "item newer than the file";
  EXPECT_EQ(run(archiver::omIfNewer, 2020, 1), 0) << "equal times never overwrite";
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(run(archiver::omIfNewer, 2021, 1), 0);
  EXPECT_EQ(run(archiver::omIfOlder, 2021, 1), 1) << "item older than the file";
  EXPECT_EQ(run(archiver::omIfOlder, 2020, 1), 0);
  EXPECT_EQ(run(archiver::omIfOlder, 2019, 1), 0);
  EXPECT_EQ(ReadBytes(target), "old");

  // A closed overwrite box keeps the file; a handler may send the item elsewhere.
  EXPECT_EQ(run(archiver::omPrompt, 2019, 1), 0);
  EXPECT_EQ(ReadBytes(target), "old");
  arc->OnConfirmOverwrite = [&](archiver::TZABaseArchiver&, const std::string& source, std::string& dest,
                                bool& confirm) {
    EXPECT_EQ(source, "one.txt");
    EXPECT_EQ(dest, target);
    dest = root / "dest/other.txt";
    confirm = true;
  };
  EXPECT_EQ(run(archiver::omPrompt, 2019, 1), 1);
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(ReadBytes(root / "dest/other.txt").size(), 4000u);
  arc->OnConfirmOverwrite = nullptr;

  // A read-only file stays unless ReplaceReadOnly; nothing is reported.
  arc->Options().SetReplaceReadOnly(false);
  WriteBytes(target, "old");
  ::chmod(target.c_str(), 0444);
  arc->Options().SetOverwriteMode(archiver::omAlways);
  EXPECT_EQ(arc->ExtractFiles("one.txt", archiver::ZADefaultSearchAttr, ""), 0);
  EXPECT_EQ(ReadBytes(target), "old");
  arc->Options().SetReplaceReadOnly(true);
  EXPECT_EQ(arc->ExtractFiles("one.txt", archiver::ZADefaultSearchAttr, ""), 1);
  EXPECT_EQ(ReadBytes(target).size(), 4000u);
  EXPECT_EQ(FilesBelow(root / "dest"), (std::vector<std::string>{"one.txt", "other.txt"}))
      << "no temporary file is left behind";
}

TEST(ExtractFiles, FailedOverwriteKeepsTheOldFile) {
  TempDir root;
  ASSERT_TRUE(Py(kDamaged, Q(root / "d.zip")));
  std::filesystem::create_directories(root / "dest");
  const char kPrecious[] = "precious \x98\x00 bytes";
  const std::string precious(kPrecious, sizeof kPrecious - 1);
  WriteBytes(root / "dest/bad.txt", precious);
  auto arc = Open(root / "d.zip", root / "dest");
  std::vector<int> failures;
  arc->OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string& name, archiver::TZAProcessOperation,
                                  int native, int, const std::string&, archiver::TZAAction& action) {
    EXPECT_EQ(name, "bad.txt");
    failures.push_back(native);
    action = archiver::fxaIgnore;
  };
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 2);
  EXPECT_EQ(failures, std::vector<int>{archiver::ZA_ERR_INVALID_SIZE_OR_CRC});
  EXPECT_TRUE(ReadBytes(root / "dest/bad.txt") == precious);
  EXPECT_EQ(FilesBelow(root / "dest"), (std::vector<std::string>{"bad.txt", "one.txt", "three.txt"}));

  // Asked for, what could be read replaces it.
  arc->SetExtractCorruptedFiles(true);
  arc->ExtractFiles("bad.txt", archiver::ZADefaultSearchAttr, "");
  EXPECT_EQ(ReadBytes(root / "dest/bad.txt").size(), 4000u);
}

TEST(ExtractFiles, RefusedPasswordKeepsTheOldFile) {
  platform::TDialogProviderScope headless(nullptr);
  TempDir root;
  WriteBytes(root / "secret.txt", std::string(5000, 's'));
  ASSERT_NE(RunCmd("cd " + Q(root.Path()) + " && zip -q -P right c.zip secret.txt"), "<failed>");
  std::filesystem::create_directories(root / "dest");
  WriteBytes(root / "dest/secret.txt", "old");
  auto arc = Open(root / "c.zip", root / "dest");

  // No password and nobody to ask: the item is skipped.
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
  EXPECT_EQ(ReadBytes(root / "dest/secret.txt"), "old");

  // A wrong password that passes the one-byte check fails the CRC instead.
  const archiver::TDirItem& item = arc->DMHandle()->CDir[0];
  std::string lucky;
  for (int i = 0; lucky.empty() && i < 100000; ++i) {
    platform::TFileStream s(root / "c.zip", platform::fmOpenRead);
    s.SetPosition(static_cast<int64_t>(item.LocalHeaderOffset()));
    archiver::TZALocalFileHeader lh;
    ASSERT_TRUE(archiver::ZAReadRecord(s, lh));
    s.Seek(lh.nameLength + lh.extraLength, platform::soCurrent);
    archiver::ZAZipCryptKeys keys;
    const std::string p = "wrong" + std::to_string(i);
    if (archiver::ZACheckClassicPassword(s, p, keys, lh.crc32, lh.lastModTime, lh.genPurposeFlag)) lucky = p;
  }
  ASSERT_FALSE(lucky.empty());
  EXPECT_FALSE(arc->IsFilePasswordValid("secret.txt", lucky));
  arc->SetPassword(lucky);
  int failures = 0;
  arc->OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation,
                                  int, int, const std::string&, archiver::TZAAction& action) {
    ++failures;
    action = archiver::fxaIgnore;
  };
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(ReadBytes(root / "dest/secret.txt"), "old");
  EXPECT_EQ(FilesBelow(root / "dest"), std::vector<std::string>{"secret.txt"});

  arc->SetPassword("right");
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 1);
  EXPECT_EQ(ReadBytes(root / "dest/secret.txt"), std::string(5000, 's'));
  EXPECT_TRUE(arc->IsFilePasswordValid("secret.txt", "right"));
  EXPECT_FALSE(arc->IsFilePasswordValid("secret.txt", "wrong"));
  EXPECT_EQ(arc->Password(), "right") << "the check puts the password back";
  EXPECT_EQ(NativeErrorOf([&] { arc->IsFilePasswordValid("absent.txt", "x"); }), 42);
}

// Overwrite decisions look at the exact target name: a file that differs
// only in case is someone else's and is neither "the existing file" nor
// replaced.
TEST(ExtractFiles, OverwriteChecksAreCaseExact) {
  platform::TDialogProviderScope headless(nullptr);
  TempDir root;
  ASSERT_TRUE(Py(kDamaged, Q(root / "d.zip")));
  std::filesystem::create_directories(root / "dest");
  WriteBytes(root / "dest/ONE.TXT", "someone else's");
  auto arc = Open(root / "d.zip", root / "dest");
  arc->Options().SetOverwriteMode(archiver::omNever);
  EXPECT_EQ(arc->ExtractFiles("one.txt", archiver::ZADefaultSearchAttr, ""), 1);
  EXPECT_EQ(ReadBytes(root / "dest/one.txt").size(), 4000u);
  arc->Options().SetOverwriteMode(archiver::omAlways);
  EXPECT_EQ(arc->ExtractFiles("one.txt", archiver::ZADefaultSearchAttr, ""), 1);
  EXPECT_EQ(ReadBytes(root / "dest/ONE.TXT"), "someone else's");
  EXPECT_EQ(FilesBelow(root / "dest"), (std::vector<std::string>{"ONE.TXT", "one.txt"}));
}

// Extracted files take the item's DOS attributes: read-only leaves no write
// bit; without SetAttributes the file keeps the usual mode.
TEST(ExtractFiles, ReadOnlyItemsBecomeReadOnlyFiles) {
  TempDir root;
  const char* script = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, attr in (('ro.txt', 0x21), ('rw.txt', 0x20)):
        zi = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
        zi.create_system = 0
        zi.external_attr = attr
        z.writestr(zi, name.encode())
)PY";
  ASSERT_TRUE(Py(script, Q(root / "a.zip")));
  const auto writable = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  };
  auto arc = Open(root / "a.zip", root / "with");
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 2);
  EXPECT_FALSE(writable(root / "with/ro.txt"));
  EXPECT_TRUE(writable(root / "with/rw.txt"));
  EXPECT_EQ(ReadBytes(root / "with/ro.txt"), "ro.txt");
  arc->Options().SetSetAttributes(false);
  arc->SetBaseDir(root / "without");
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 2);
  EXPECT_TRUE(writable(root / "without/ro.txt"));
}

// The password check takes the item of exactly that name, not the first
// item a search with the name as its mask would find.
TEST(ExtractFiles, PasswordCheckTakesTheExactNameFirst) {
  TempDir root;
  std::filesystem::create_directories(root / "sub");
  WriteBytes(root / "sub/s.txt", std::string(3000, 'e'));
  WriteBytes(root / "s.txt", "plain");
  ASSERT_NE(RunCmd("cd " + Q(root.Path()) + " && zip -q -P pw c.zip sub/s.txt && zip -q c.zip s.txt"),
            "<failed>");
  auto arc = Open(root / "c.zip");
  archiver::TZAArchiveItem F;
  ASSERT_TRUE(arc->FindFirst("s.txt", F, archiver::ZADefaultSearchAttr, ""));
  ASSERT_EQ(F.StoredPath + F.FileName, "sub/s.txt") << "the mask alone would find the encrypted item";
  EXPECT_TRUE(arc->IsFilePasswordValid("s.txt", "anything")) << "s.txt itself is not encrypted";
  EXPECT_FALSE(arc->IsFilePasswordValid("sub/s.txt", "anything"));
  EXPECT_TRUE(arc->IsFilePasswordValid("sub/s.txt", "pw"));
}

TEST(ExtractFiles, RetryIgnoreAbort) {
  TempDir root;
  ASSERT_TRUE(Py(kDamaged, Q(root / "d.zip")));
  const auto extract = [&](const std::string& dest) {
    auto arc = Open(root / "d.zip", dest);
    return arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, "");
  };
  {
    platform::TScriptedDialogs dialogs;
    dialogs.answers = {platform::mrRetry, platform::mrIgnore};
    platform::TDialogProviderScope scope(&dialogs);
    EXPECT_EQ(extract(root / "a"), 2);
    ASSERT_EQ(dialogs.asked.size(), 2u) << "Retry repeats the same item";
    EXPECT_NE(dialogs.asked[0].text.find("File processing error"), std::string::npos);
    EXPECT_EQ(FilesBelow(root / "a"), (std::vector<std::string>{"one.txt", "three.txt"}));
  }
  {
    platform::TScriptedDialogs dialogs;
    dialogs.answers = {platform::mrAbort};
    platform::TDialogProviderScope scope(&dialogs);
    EXPECT_EQ(extract(root / "b"), 1) << "the user's abort ends the walk quietly";
    EXPECT_EQ(FilesBelow(root / "b"), std::vector<std::string>{"one.txt"});
  }
  {
    // Nobody to answer: the abort raises the item's error.
    platform::TDialogProviderScope headless(nullptr);
    EXPECT_EQ(NativeErrorOf([&] { extract(root / "c"); }), archiver::ZA_ERR_INVALID_SIZE_OR_CRC);
    EXPECT_EQ(FilesBelow(root / "c"), std::vector<std::string>{"one.txt"});
  }
}

TEST(ExtractFiles, TestingReportsTheDamagedItem) {
  platform::TDialogProviderScope headless(nullptr);
  TempDir root;
  ASSERT_TRUE(Py(kDamaged, Q(root / "d.zip")));
  auto arc = Open(root / "d.zip");
  std::vector<std::string> reported;
  arc->OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string& name, archiver::TZAProcessOperation op,
                                  int native, int, const std::string&, archiver::TZAAction& action) {
    EXPECT_EQ(op, archiver::poTest);
    reported.push_back(name + ":" + std::to_string(native));
    action = archiver::fxaIgnore;
  };
  EXPECT_EQ(arc->TestFiles("*.*", archiver::ZADefaultSearchAttr, ""), 2);
  EXPECT_EQ(reported, std::vector<std::string>{"bad.txt:8"});
  EXPECT_EQ(FilesBelow(root.Path()), std::vector<std::string>{"d.zip"}) << "testing writes nothing";
  arc->CloseArchive();
  EXPECT_FALSE(arc->IsValidArchiveFile());

  ASSERT_TRUE(Py("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr('a/b.txt', 'ok')",
                 Q(root / "ok.zip")));
  TZipArchiver good;
  good.SetFileName(root / "ok.zip");
  good.Options().SetRecurse(false);
  EXPECT_TRUE(good.IsValidArchiveFile());
  EXPECT_FALSE(good.Active());
  EXPECT_FALSE(good.Options().Recurse());
  good.SetFileName(root / "d.zip.missing");
  EXPECT_FALSE(good.IsValidArchiveFile());
}

TEST(ExtractToMemory, StringAndBufferForms) {
  platform::TDialogProviderScope headless(nullptr);
  TempDir root;
  // big.txt is several megabytes of text whose deflate stream is damaged
  // near its end: only a read that stops early can succeed.
  const char* script = R"PY(
import sys, zipfile, zlib
path = sys.argv[1]
text = b''.join(b'line %d \x98\xd0\xba\n' % i for i in range(400000))
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('x/b.fb2', b'abc\x98\x00def')
    z.writestr('big.txt', text)
    z.writestr('star*.txt', b'exact')
    z.writestr('starry.txt', b'mask')
zi = zipfile.ZipFile(path).getinfo('big.txt')
data = bytearray(open(path, 'rb').read())
data[zi.header_offset + 30 + len(zi.filename) + zi.compress_size * 9 // 10] ^= 0xFF
open(path, 'wb').write(data)
)PY";
  ASSERT_TRUE(Py(script, Q(root / "m.zip")));
  auto arc = Open(root / "m.zip");

  std::string text = "unchanged";
  arc->ExtractToString("x/b.fb2", text);
  EXPECT_EQ(text, std::string("abc\x98\x00" "def", 8)) << "raw bytes, no code page";
  arc->ExtractToString("x\\b.fb2", text);
  EXPECT_EQ(text.size(), 8u);
  text = "unchanged";
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractToString("b.fb2", text); }), 15) << "only the whole stored name";
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractToString("big.txt", text); }), archiver::ZA_ERR_INVALID_SIZE_OR_CRC);
  EXPECT_EQ(text, "unchanged");

  char head[100];
  arc->ExtractToBuffer("big.txt", head, sizeof head, 0);
  EXPECT_EQ(std::string(head, 17), "line 0 \x98\xd0\xba\nline 1");
  arc->ExtractToBuffer("big.txt", head, 10, 11);
  EXPECT_EQ(std::string(head, 10), "line 1 \x98\xd0\xba");
  EXPECT_THROW(arc->ExtractToBuffer("x/b.fb2", head, 9, 0), platform::EStreamError);
  arc->ExtractToBuffer("star*.txt", head, 5, 0);
  EXPECT_EQ(std::string(head, 5), "exact") << "an exact name is not a mask";

  // Asked for, the damaged item's readable part is handed over.
  arc->SetExtractCorruptedFiles(true);
  arc->ExtractToString("big.txt", text);
  EXPECT_GT(text.size(), 1000000u);
  arc->SetExtractCorruptedFiles(false);

  platform::TStringStream stream;
  stream.WriteBuffer("prefix", 6);
  arc->ExtractToStream("x/b.fb2", stream);
  EXPECT_EQ(stream.DataString(), std::string("prefixabc\x98\x00" "def", 14)) << "from the stream's position";

  arc->CloseArchive();
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractToString("x/b.fb2", text); }), 13);
  arc->OpenArchive();  // read-write: a transaction may begin
  arc->BeginUpdate();
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractToString("x/b.fb2", text); }), 26);
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractToBuffer("x/b.fb2", head, 1, 0); }), 26);
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractToStream("x/b.fb2", stream); }), 26);
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractFiles(); }), 26);
  arc->CancelUpdate();

  // An encrypted item without its password raises, never returns nothing.
  WriteBytes(root / "s.txt", "secret");
  ASSERT_NE(RunCmd("cd " + Q(root.Path()) + " && zip -q -P pw c.zip s.txt"), "<failed>");
  auto enc = Open(root / "c.zip");
  EXPECT_EQ(NativeErrorOf([&] { enc->ExtractToString("s.txt", text); }), archiver::ZA_ERR_INVALID_PASSWORD);
  EXPECT_TRUE(enc->IsFilePasswordValid("s.txt", "pw"));
  enc->SetPassword("pw");
  enc->ExtractToString("s.txt", text);
  EXPECT_EQ(text, "secret");
}

}  // namespace
