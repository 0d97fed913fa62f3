// What AES items refuse: wrong passwords give no bytes anywhere (string,
// file, test, password check) until the password event gives the right
// one; damaged and hostile items (tests/data/archiver/aes, one case per
// file) give their error codes, write nothing before they are refused, and
// never leave or replace a file on disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "archiver/ZipArchiver.h"
#include "codec_util.h"
#include "commit_util.h"
#include "extract_util.h"

namespace {

using base_test::NativeErrorOf;
using base_test::Q;
using base_test::ReadBytes;
using base_test::RunCmd;
using base_test::TempDir;
using base_test::WriteBytes;
using extract_test::FilesBelow;

const std::string kData = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/aes/";
// The item every file holds (see the folder's README).
const std::string kBook = [] {
  std::string s;
  for (int i = 0; i < 6; ++i) s += "The quick brown fox jumps over the lazy dog. ";
  return s.substr(0, 200);
}();

// An archiver opened read-only on `path` with `password`, extracting into
// `baseDir` and ignoring failures (counted in `failures`).
std::unique_ptr<archiver::TZipArchiver> Open(const std::string& path, const std::string& password,
                                             const std::string& baseDir = {}, int* failures = nullptr) {
  auto arc = extract_test::Open(path, baseDir);
  arc->SetPassword(password);
  arc->OnProcessFileFailure = [failures](archiver::TZABaseArchiver&, const std::string&,
                                         archiver::TZAProcessOperation, int, int, const std::string&,
                                         archiver::TZAAction& action) {
    if (failures) ++*failures;
    action = archiver::fxaIgnore;
  };
  return arc;
}

// The native code extracting `name` into a stream raises, and what reached
// the stream.
int ExtractCode(archiver::TZipArchiver& arc, const std::string& name, std::string& out) {
  platform::TStringStream s;
  const int code = NativeErrorOf([&] { arc.ExtractToStream(name, s); });
  out = s.DataString();
  return code;
}

TEST(AESRefusals, WrongPasswordsGetNoBytesUntilTheEventGivesTheRightOne) {
  TempDir dir;
  const std::string book = codec_test::TextData(60'000, 3);
  {
    archiver::TZipArchiver arc;
    arc.SetFileName(dir / "a.zip");
    arc.SetPassword("SECRET");
    arc.SetEncryptionMethod(archiver::caAES_256);
    arc.OpenArchive(archiver::ZAModeCreate);
    arc.BeginUpdate();
    commit_test::AddPending(arc, "book.txt", book);
    arc.EndUpdate();
    arc.CloseArchive();
  }
  int failures = 0;
  auto arc = Open(dir / "a.zip", "wrong", dir / "out", &failures);
  std::filesystem::create_directory(dir / "out");
  std::string text;
  EXPECT_EQ(NativeErrorOf([&] { arc->ExtractToString("book.txt", text); }), 67);
  EXPECT_EQ(text, "");
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
  EXPECT_TRUE(FilesBelow(dir / "out").empty());
  EXPECT_EQ(arc->TestFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
  EXPECT_FALSE(arc->IsFilePasswordValid("book.txt", "wrong"));
  EXPECT_FALSE(arc->IsFilePasswordValid("book.txt", ""));
  EXPECT_TRUE(arc->IsFilePasswordValid("book.txt", "SECRET"));
  EXPECT_EQ(arc->Password(), "wrong");

  std::vector<std::string> answers = {"still wrong", "SECRET"};
  size_t asked = 0;
  arc->OnPassword = [&](archiver::TZABaseArchiver&, const std::string& name, std::string& password, bool& skip) {
    EXPECT_EQ(name, "book.txt");
    skip = asked == answers.size();
    if (!skip) password = answers[asked++];
  };
  arc->ExtractToString("book.txt", text);
  EXPECT_TRUE(text == book);
  EXPECT_EQ(asked, 2u);
}

TEST(AESRefusals, HostileItemsGiveTheirCodesBeforeAnyOutput) {
  const struct {
    const char* file;
    int code;
  } cases[] = {{"no-aes-field.zip", 8},      {"aes-field-short.zip", 8}, {"aes-vendor-not-ae.zip", 8},
               {"aes-strength-0.zip", 8},    {"aes-strength-4.zip", 8},  {"aes-flag-clear.zip", 8},
               {"aes-too-short.zip", 8},     {"aes-actual-method-9.zip", 55}, {"aes-actual-method-12.zip", 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto arc = Open(kData + c.file, "SECRET");
    std::string out;
    EXPECT_EQ(ExtractCode(*arc, "book.txt", out), c.code);
    EXPECT_EQ(out, "");
    EXPECT_EQ(arc->TestFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
  }
}

TEST(AESRefusals, AE1ItemsAreCheckedOnTheCodeAndTheCrcAsSevenZipDoes) {
  auto arc = Open(kData + "ae1.zip", "SECRET");
  std::string text;
  arc->ExtractToString("book.txt", text);
  EXPECT_EQ(text, kBook);
  EXPECT_EQ(RunCmd("7zz t -pSECRET " + Q(kData + "ae1.zip") + " >/dev/null 2>&1 && echo ok"), "ok\n");

  auto bad = Open(kData + "ae1-bad-crc.zip", "SECRET");
  EXPECT_EQ(NativeErrorOf([&] { bad->ExtractToString("book.txt", text); }), 8);
  EXPECT_EQ(RunCmd("7zz t -pSECRET " + Q(kData + "ae1-bad-crc.zip") + " >/dev/null 2>&1 || echo refused"),
            "refused\n");
}

TEST(AESRefusals, AVerifierOfAnotherPasswordFailsOnTheCodeAndKeepsTheTarget) {
  TempDir dir;
  WriteBytes(dir / "book.txt", "the user's own file");
  int failures = 0;
  auto arc = Open(kData + "aes-verifier-of-WRONG.zip", "WRONG", dir.Path(), &failures);
  std::string out;
  EXPECT_EQ(ExtractCode(*arc, "book.txt", out), 8);
  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(ReadBytes(dir / "book.txt"), "the user's own file");
  EXPECT_EQ(FilesBelow(dir.Path()), std::vector<std::string>{"book.txt"});
  EXPECT_FALSE(arc->IsFilePasswordValid("book.txt", "WRONG"));
  // The item's own password no longer matches its verifier.
  EXPECT_FALSE(arc->IsFilePasswordValid("book.txt", "SECRET"));
}

TEST(AESRefusals, OneFlippedBitAnywhereNeverExtracts) {
  for (const char* file : {"flip-salt.zip", "flip-verifier.zip", "flip-first-byte.zip", "flip-middle-byte.zip",
                           "flip-last-byte.zip", "flip-mac.zip"}) {
    SCOPED_TRACE(file);
    TempDir dir;
    int failures = 0;
    auto arc = Open(kData + file, "SECRET", dir.Path(), &failures);
    std::string text;
    const int code = NativeErrorOf([&] { arc->ExtractToString("book.txt", text); });
    EXPECT_TRUE(code == 8 || code == 67) << code;
    EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
    EXPECT_TRUE(FilesBelow(dir.Path()).empty());
    EXPECT_EQ(arc->TestFiles("*.*", archiver::ZADefaultSearchAttr, ""), 0);
    EXPECT_FALSE(arc->IsFilePasswordValid("book.txt", "SECRET"));
    arc->CloseArchive();
    EXPECT_FALSE(arc->IsValidArchiveFile());
  }
  // Asked for, what was decrypted of an item whose code fails is kept.
  TempDir dir;
  auto arc = Open(kData + std::string("flip-mac.zip"), "SECRET", dir.Path());
  arc->SetExtractCorruptedFiles(true);
  arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, "");
  EXPECT_EQ(ReadBytes(dir / "book.txt"), kBook);
}

}  // namespace
