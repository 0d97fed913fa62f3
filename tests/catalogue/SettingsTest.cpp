#include "catalogue/Settings.h"

#include <gtest/gtest.h>

#include "catalogue/AppState.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;

namespace {

TEST(Settings, NoFileGivesTheDefaults) {
  TempDir dir;
  const TSettings s = ReadSettings(dir / "none.ini", "/data/exp/");
  EXPECT_EQ(s, DefaultSettings("/data/exp/"));
  EXPECT_EQ(s.expDir, "/data/exp/");
  EXPECT_TRUE(s.useInp);
  EXPECT_TRUE(s.hideDuplicates);
  EXPECT_EQ(s.sort, "A0");
  EXPECT_EQ(s.authorIndex, 0);
  EXPECT_EQ(s.authorWidth, 200);
  EXPECT_EQ(s.columnWidths, (std::array<int32_t, 7>{250, 150, 80, 80, 100, 60, 60}));
  EXPECT_EQ(s.fontName, "Tahoma");
  EXPECT_EQ(s.fontCharSet, 1);
  EXPECT_EQ(s.fontSize, 8);
  EXPECT_EQ(s.fontStyle, 0);
  EXPECT_FALSE(platform::FileExists(dir / "none.ini"));
}

TEST(Settings, EveryKeyIsWrittenInOrderAndReadBack) {
  TempDir dir;
  TSettings s = DefaultSettings("/data/exp/");
  s.libDir = "/книги/lib/";
  s.inpFile = "lib/librusec.inpx";
  s.expDir = "exp out/";
  s.readerProgram = "/usr/bin/fbreader";
  s.useInp = false;
  s.converterProgram = "bin/fb2lrf";
  s.sort = "D5";
  s.authorFilter = "Пуш";
  s.hideDuplicates = false;
  s.authorIndex = 1234;
  s.bookFile = "170342";
  s.authorWidth = 321;
  s.columnWidths = {300, 120, 90, 70, 101, 61, 59};
  s.fontName = "DejaVu Sans";
  s.fontCharSet = 204;
  s.fontSize = 11;
  s.fontStyle = fsBold | fsItalic;
  WriteSettings(dir / "t.ini", s);

  EXPECT_EQ(platform::ReadFileBytes(dir / "t.ini"),
            "[PathFile]\nLIB=/книги/lib/\nINP=lib/librusec.inpx\nEXP=exp out/\n"
            "FB2READER=/usr/bin/fbreader\nUSEINP=0\nFB2LRF=bin/fb2lrf\n\n"
            "[XXX]\nSORT=D5\nAR=Пуш\nDUP=0\nAUNO=1234\nBOFI=170342\n\n"
            "[WI]\nAU=321\nC0=300\nC1=120\nC2=90\nC3=70\nC4=101\nC5=61\nC6=59\n\n"
            "[Font]\nFontName=DejaVu Sans\nCharSet=204\nSize=11\nStyle=3\n");
  EXPECT_EQ(ReadSettings(dir / "t.ini", "/other/"), s);

  // Written again over itself: the same file, nothing doubled.
  const std::string before = platform::ReadFileBytes(dir / "t.ini");
  WriteSettings(dir / "t.ini", s);
  EXPECT_EQ(platform::ReadFileBytes(dir / "t.ini"), before);
}

TEST(Settings, MalformedValuesFallBackAndSizesAreClamped) {
  TempDir dir;
  platform::WriteFileBytes(dir / "bad.ini",
                           "[PathFile]\nUSEINP=maybe\n"
                           "[XXX]\nSORT=Z?\nDUP=\nAUNO=x\n"
                           "[WI]\nAU=5\nC0=abc\nC1=-40\nC2=0\nC3=999999\nC4=120\n"
                           "[Font]\nFontName=\nCharSet=300\nSize=0\nStyle=99\n");
  const TSettings s = ReadSettings(dir / "bad.ini", "/e/");
  EXPECT_TRUE(s.useInp);
  EXPECT_EQ(s.sort, "A0");
  EXPECT_TRUE(s.hideDuplicates);
  EXPECT_EQ(s.authorIndex, 0);
  EXPECT_EQ(s.authorWidth, kMinAuthorWidth);
  EXPECT_EQ(s.columnWidths[0], 250);
  EXPECT_EQ(s.columnWidths[1], kMinColumnWidth);
  EXPECT_EQ(s.columnWidths[2], kMinColumnWidth);
  EXPECT_EQ(s.columnWidths[3], kMaxWidth);
  EXPECT_EQ(s.columnWidths[4], 120);
  EXPECT_EQ(s.fontName, "Tahoma");
  EXPECT_EQ(s.fontCharSet, 1);
  EXPECT_EQ(s.fontSize, kMinFontSize);
  EXPECT_EQ(s.fontStyle, 0);
  platform::WriteFileBytes(dir / "big.ini", "[Font]\nSize=500\n");
  EXPECT_EQ(ReadSettings(dir / "big.ini", "").fontSize, kMaxFontSize);

  for (const char* sort : {"A9", "", "A", "A00", "a1"}) {
    platform::WriteFileBytes(dir / "sort.ini", std::string("[XXX]\nSORT=") + sort + "\n");
    EXPECT_EQ(ReadSettings(dir / "sort.ini", "").sort, "A0") << sort;
  }
  platform::WriteFileBytes(dir / "sort.ini", "[XXX]\nSORT=D6\n");
  EXPECT_EQ(ReadSettings(dir / "sort.ini", "").sort, "D6");
}

// A file that is no settings file at all (tests/data/settings/binary.ini
// holds a "[WI] C0=5" among binary bytes): its text is not taken, and the
// next save replaces it whole rather than appending to it.
TEST(Settings, AFileThatIsNotTextIsReplacedWhole) {
  TempDir dir;
  const std::string data = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/settings/binary.ini";
  platform::WriteFileBytes(dir / "t.ini", platform::ReadFileBytes(data));
  const TSettings s = ReadSettings(dir / "t.ini", "/e/");
  EXPECT_EQ(s, DefaultSettings("/e/"));
  WriteSettings(dir / "t.ini", s);
  WriteSettings(dir / "fresh.ini", s);
  EXPECT_EQ(platform::ReadFileBytes(dir / "t.ini"), platform::ReadFileBytes(dir / "fresh.ini"));
}

// A settings file of the Windows program (tests/data/settings/
// windows-1251.ini): Windows-1251 text with CR LF line ends.
TEST(Settings, AWindows1251FileIsReadAndSavedBackAsUtf8) {
  TempDir dir;
  const std::string data = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/settings/windows-1251.ini";
  platform::WriteFileBytes(dir / "w.ini", platform::ReadFileBytes(data));
  const TSettings s = ReadSettings(dir / "w.ini", "/e/");
  EXPECT_EQ(s.libDir, "D:\\Библиотека\\Архивы\\");
  EXPECT_EQ(s.expDir, "D:\\Экспорт книг\\");
  EXPECT_EQ(s.readerProgram, "C:\\Program Files\\Читалка\\reader.exe");
  EXPECT_EQ(s.authorFilter, "Толстой");
  EXPECT_EQ(s.sort, "D2");
  EXPECT_EQ(s.authorIndex, 12);
  EXPECT_EQ(s.columnWidths[0], 260);

  WriteSettings(dir / "w.ini", s);
  const std::string saved = platform::ReadFileBytes(dir / "w.ini");
  EXPECT_TRUE(platform::IsValidUtf8(saved));
  EXPECT_NE(saved.find("AR=Толстой"), std::string::npos);
  EXPECT_EQ(ReadSettings(dir / "w.ini", "/e/"), s);
}

TEST(Settings, ApplyCopiesWhatTheProgramReadsFromTheState) {
  TSettings s = DefaultSettings("/e/");
  s.libDir = "lib/";
  s.inpFile = "x.inpx";
  s.readerProgram = "r";
  s.converterProgram = "c";
  s.useInp = false;
  s.hideDuplicates = true;
  TAppState st;
  ApplySettings(s, st);
  EXPECT_EQ(st.libDir, "lib/");
  EXPECT_EQ(st.inpFile, "x.inpx");
  EXPECT_EQ(st.expDir, "/e/");
  EXPECT_EQ(st.readerProgram, "r");
  EXPECT_EQ(st.converterProgram, "c");
  EXPECT_FALSE(st.useInp);
  EXPECT_TRUE(st.hideDuplicates);
}

}  // namespace
