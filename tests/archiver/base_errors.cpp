// The archiver's error messages: every native code selects its text, the
// component prefix and the five-digit code suffix are formatted exactly.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"

using namespace archiver;

namespace {

// Message index -> its text and the native codes that select it, one row per
// text (several codes share some texts).
struct Row {
  int index;
  const char* text;
  std::vector<int> codes;
};
const std::vector<Row> kTable = {
    {0, "Unknown error", {0}},
    {1, "Index out of bounds", {1, 2, 3, 4, 7, 16, 21, 24}},
    {2, "Invalid compression mode. Mode must be in [0-9] range", {5}},
    {3, "Unexpected nil pointer", {6}},
    {4, "Invalid size or check sum of file or unsupported compression format", {8}},
    {5, "File name is blank. Specify appropriate file name", {9, 10, 29}},
    {6, "File \"%s\" not found", {11, 12, 15, 18, 30, 31, 38, 42, 53, 54}},
    {7, "Archive is not open", {13, 14}},
    {8, "SFXStub property is not specified", {17}},
    {9, "Cannot create file \"%s\"", {19, 23}},
    {10, "Cannot create directory \"%s\"", {20}},
    {11, "Internal error. Update is not started", {22, 25}},
    {12, "Cannot open file \"%s\"", {33}},
    {13, "Cannot proceed when update is not ended. Preceding EndUpdate call is required.", {26}},
    {14, "Cannot delete file \"%s\"", {27}},
    {15, "In-memory archive can be created only", {28}},
    {16, "File is open in read-only mode", {32}},
    {17, "Invalid compressed size, rfs.size = %d, count = %d", {34}},
    {18, "Invalid archive file.", {35}},
    {19, "Cannot create output file. Probably file is locked by another process. FileName = '%s'.", {36}},
    {20, "Archive is open. You should close it beore performing this operation.", {37}},
    {21, "Unable to create directory", {39}},
    {22, "Cannot find 64-bit directory end record", {40}},
    {23, "Cannot compress file '%s'. Zip64 mode is not enabled", {41, 43}},
    {24, "Cannot open archive file. Opening aborted or invalid file", {44, 45}},
    {25, "Write to stream error", {46}},
    {26, "Cannot place SFX stub on volume. Volume size limit is too small", {47}},
    {27, "Archive is damaged. Open failed", {48, 57}},
    {28, "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX", {49}},
    {29, "Archive already has SFX stub", {50}},
    {30, "Multi-volume archive is not allowed for custom stream", {51}},
    {31, "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several times", {52}},
    {32, "Deflate64 compression method is not supported", {55}},
    {33, "MakeSFX error", {56}},
    {34, "Hashed list of file names is invalid", {58, 59}},
    {35, "Cannot delete folder \"%s\"", {60}},
    {36, "File name is too long: \r\n\"%s\"", {61}},
    {37, "Multiple transactions are not supported for multi-volume archives", {62}},
    {38, "Invalid InitVector index = %d. Index should be >= 0 and < %d", {63, 64}},
    {39, "Disk is full. There is not enough free space on disk.", {65, 66}},
    {40, "Invalid password. Cannot decompress encrypted file.", {67}},
    {41, "Not enough memory to extract \"%s\" (%d bytes)", {68}},
};

std::string Code5(int code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%05d", code);
  return buf;
}

}  // namespace

TEST(ZAExcept, EveryNativeCodeFormatsItsText) {
  std::map<int, const Row*> byCode;
  for (const auto& row : kTable)
    for (int c : row.codes) byCode[c] = &row;
  ASSERT_EQ(byCode.size(), 69u);
  ASSERT_EQ(byCode.begin()->first, 0);
  ASSERT_EQ(byCode.rbegin()->first, 68);

  for (const auto& [code, row] : byCode) {
    SCOPED_TRACE(code);
    EZAException plain(code);
    EXPECT_EQ(plain.NativeError, code);
    EXPECT_EQ(plain.ErrorCode, row->index);
    EXPECT_EQ(plain.Message(), std::string(row->text) + " - Native error: " + Code5(code));

    EZAException named(code, "Zip1");
    EXPECT_EQ(named.Message(), "Zip1: " + std::string(row->text) + " - Native error: " + Code5(code));
  }
}

TEST(ZAExcept, UnknownCodesFallBackToIndexZero) {
  for (int code : {69, 100, 65535, -1, -123}) {
    SCOPED_TRACE(code);
    EZAException e(code, "Zip1");
    EXPECT_EQ(e.ErrorCode, 0);
    EXPECT_EQ(e.NativeError, code);
  }
  EXPECT_STREQ(EZAException(69).what(), "Unknown error - Native error: 00069");
  // "%5d" with blanks turned into zeros keeps the minus sign where it falls.
  EXPECT_STREQ(EZAException(-5).what(), "Unknown error - Native error: 000-5");
  EXPECT_STREQ(EZAException(123456).what(), "Unknown error - Native error: 123456");
}

TEST(ZAExcept, FormattingConstructorFillsPlaceholders) {
  EXPECT_STREQ(EZAException(11, "").what(), "File \"%s\" not found - Native error: 00011");
  EXPECT_STREQ(EZAException(11, "Zip1", {"a/b.fb2"}).what(),
               "Zip1: File \"a/b.fb2\" not found - Native error: 00011");
  EXPECT_STREQ(EZAException(34, "", {10, 20}).what(),
               "Invalid compressed size, rfs.size = 10, count = 20 - Native error: 00034");
  EXPECT_STREQ(EZAException(63, "", {int64_t{-1}, 16}).what(),
               "Invalid InitVector index = -1. Index should be >= 0 and < 16 - Native error: 00063");
  EXPECT_STREQ(EZAException(61, "", {"x"}).what(), "File name is too long: \r\n\"x\" - Native error: 00061");
  // A text without placeholders is unchanged by arguments.
  EXPECT_STREQ(EZAException(13, "Zip1", {"unused"}).what(), "Zip1: Archive is not open - Native error: 00013");
  // An argument text holding '%' is taken literally.
  EXPECT_STREQ(EZAException(33, "", {"100%s.txt"}).what(), "Cannot open file \"100%s.txt\" - Native error: 00033");
}

TEST(ZAExcept, FormatSubset) {
  EXPECT_EQ(ZAFormat("%5d|%-3s|%s|%%|%x", {42, "a", "bc", 255}), "   42|a  |bc|%|FF");
  EXPECT_EQ(ZAFormat("%s and %s", {"one"}), "one and %s");  // a missing argument keeps its place
  EXPECT_EQ(ZAFormat("trailing %", {}), "trailing %");
  EXPECT_EQ(ZAFormat("%q", {1}), "%q");
}

TEST(ZAExcept, CaughtAsStdException) {
  try {
    throw EZAException(ZA_ERR_ARCHIVE_NOT_OPEN, "Zip1");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Zip1: Archive is not open - Native error: 00013");
  }
}
