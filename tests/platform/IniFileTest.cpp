#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "tests/platform/ChildProcess.h"
#include "tests/platform/TempDir.h"

using platform::TIniFile;

namespace {

TEST(IniFile, AMissingFileReadsAsEmptyAndIsWrittenInOrder) {
  TempDir dir;
  TIniFile ini(dir / "a.ini");
  EXPECT_FALSE(ini.SectionExists("PathFile"));
  EXPECT_EQ(ini.ReadString("PathFile", "LIB", "def"), "def");
  EXPECT_EQ(ini.ReadInteger("WI", "AU", 200), 200);
  EXPECT_TRUE(ini.ReadBool("XXX", "DUP", true));
  EXPECT_FALSE(platform::FileExists(dir / "a.ini"));  // reading never creates it

  ini.WriteString("PathFile", "LIB", "/книги/lib");
  ini.WriteBool("PathFile", "USEINP", true);
  ini.WriteInteger("WI", "AU", -12);
  ini.WriteBool("XXX", "DUP", false);
  ini.WriteString("PathFile", "INP", "");
  ini.UpdateFile();
  EXPECT_EQ(platform::ReadFileBytes(dir / "a.ini"),
            "[PathFile]\nLIB=/книги/lib\nUSEINP=1\nINP=\n\n[WI]\nAU=-12\n\n[XXX]\nDUP=0\n");

  const TIniFile back(dir / "a.ini");
  EXPECT_EQ(back.ReadString("PathFile", "LIB", ""), "/книги/lib");
  EXPECT_TRUE(back.ValueExists("PathFile", "INP"));
  EXPECT_EQ(back.ReadString("PathFile", "INP", "def"), "");
  EXPECT_EQ(back.ReadInteger("WI", "AU", 0), -12);
  EXPECT_FALSE(back.ReadBool("XXX", "DUP", true));
}

TEST(IniFile, AWindowsFileIsReadWithoutRegardToCaseAndBlanks) {
  TempDir dir;
  platform::WriteFileBytes(dir / "w.ini",
                           "\xEF\xBB\xBF; settings\r\n[pathfile]\r\n  lib = D:\\Books \r\n"
                           "LIB=second\r\nQuoted=\"  two blanks  \"\r\n[ Font ]\r\nsize=10\r\n");
  const TIniFile ini(dir / "w.ini");
  EXPECT_TRUE(ini.SectionExists("PathFile"));
  EXPECT_EQ(ini.ReadString("PATHFILE", "Lib", ""), "D:\\Books");  // the first of two counts
  EXPECT_EQ(ini.ReadString("PathFile", "quoted", ""), "  two blanks  ");
  EXPECT_EQ(ini.ReadInteger("font", "Size", 0), 10);
  // Keys as spelled, in file order, the second "LIB" not listed again.
  EXPECT_EQ(ini.ReadSection("PATHFILE"), (std::vector<std::string>{"lib", "Quoted"}));
  EXPECT_TRUE(ini.ReadSection("Alias").empty());
}

TEST(IniFile, ValuesComeBackAsWrittenAndCannotAddKeys) {
  TempDir dir;
  {
    TIniFile ini(dir / "v.ini");
    ini.WriteString("S", "Blanks", "  padded ");
    ini.WriteString("S", "Quotes", "\"quoted\"");
    ini.WriteString("S", "Inner", "a \"b\" c=d;e");
    ini.WriteString("S", "Lines", "one\r\n[Evil]\nKey=1");
    ini.UpdateFile();
  }
  const TIniFile ini(dir / "v.ini");
  EXPECT_EQ(ini.ReadString("S", "Blanks", ""), "  padded ");
  EXPECT_EQ(ini.ReadString("S", "Quotes", ""), "\"quoted\"");
  EXPECT_EQ(ini.ReadString("S", "Inner", ""), "a \"b\" c=d;e");
  EXPECT_EQ(ini.ReadString("S", "Lines", ""), "one  [Evil] Key=1");
  EXPECT_FALSE(ini.SectionExists("Evil"));
  EXPECT_FALSE(ini.ValueExists("S", "Key"));
}

TEST(IniFile, NumbersAreDecimalAndAnythingElseGivesTheDefault) {
  TempDir dir;
  platform::WriteFileBytes(dir / "n.ini",
                           "[N]\nplain=42\nblanks= 7 \nplus=+5\nminus=-3\nword=abc\ntail=12a\n"
                           "empty=\nhuge=99999999999\nhex=$1F\nplusminus=+-1\n"
                           "[B]\ntwo=2\nzero=0\nneg=-1\nyes=yes\n");
  const TIniFile ini(dir / "n.ini");
  EXPECT_EQ(ini.ReadInteger("N", "plain", 0), 42);
  EXPECT_EQ(ini.ReadInteger("N", "blanks", 0), 7);
  EXPECT_EQ(ini.ReadInteger("N", "plus", 0), 5);
  EXPECT_EQ(ini.ReadInteger("N", "minus", 0), -3);
  for (const char* key : {"word", "tail", "empty", "huge", "hex", "plusminus", "absent"}) {
    EXPECT_EQ(ini.ReadInteger("N", key, 99), 99) << key;
  }
  // Any non-zero integer is true.
  EXPECT_TRUE(ini.ReadBool("B", "two", false));
  EXPECT_TRUE(ini.ReadBool("B", "neg", false));
  EXPECT_FALSE(ini.ReadBool("B", "zero", true));
  EXPECT_TRUE(ini.ReadBool("B", "yes", true));
  EXPECT_FALSE(ini.ReadBool("B", "yes", false));
}

TEST(IniFile, RewritingKeepsWhatItDoesNotKnowInPlace) {
  TempDir dir;
  platform::WriteFileBytes(dir / "k.ini",
                           "; top comment\n[A]\nx=1\n; inside\nOther = kept as is\n\n[B]\ny=2\n");
  TIniFile ini(dir / "k.ini");
  ini.WriteInteger("a", "X", 5);     // replaced where it stands
  ini.WriteString("A", "new", "n");  // after the section's last line, before the blank
  ini.WriteString("C", "z", "3");
  ini.UpdateFile();
  EXPECT_EQ(platform::ReadFileBytes(dir / "k.ini"),
            "; top comment\n[A]\nX=5\n; inside\nOther = kept as is\nnew=n\n\n[B]\ny=2\n\n[C]\nz=3\n");
}

TEST(IniFile, AFailedWriteRaisesAndLeavesNothingBehind) {
  TempDir dir;
  TIniFile missingFolder(dir / "no/such/folder/x.ini");
  missingFolder.WriteString("S", "k", "v");
  EXPECT_THROW(missingFolder.UpdateFile(), platform::EFileError);

  // The name is taken by a folder: the rename fails after the data is written.
  ASSERT_TRUE(platform::ForceDirectories(dir / "taken.ini"));
  TIniFile taken(dir / "taken.ini");
  taken.WriteString("S", "k", "v");
  EXPECT_THROW(taken.UpdateFile(), platform::EFileError);
  const auto left = platform::ListFolder(dir.path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].isDir);

  // A file this process may not write is left as it is: the rename would
  // have written over it. One the user made read-only; another user's, seen
  // by a third user in a folder all may write in (root only: it judges by
  // the mode bits, and replacing would make the file ours).
  const std::string ro = dir / "ro.ini";
  platform::WriteFileBytes(ro, "[S]\nk=old\n");
  const auto refused = [&] {
    TIniFile ini(ro);
    ini.WriteString("S", "k", "new");
    try {
      ini.UpdateFile();
    } catch (const platform::EFileError& e) {
      return e.error == EACCES && e.path == ro ? 0 : 1;
    }
    return 2;  // replaced
  };
  ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
  EXPECT_EQ(refused(), 0) << "read-only";
  if (::geteuid() == 0) {
    ASSERT_EQ(::chmod(ro.c_str(), 0644), 0);
    ASSERT_EQ(::chown(ro.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    EXPECT_EQ(InChild([&] { return ::setgid(65533) || ::setuid(65533) ? 3 : refused(); }), 0)
        << "another user's";
  }
  EXPECT_EQ(platform::ReadFileBytes(ro), "[S]\nk=old\n");
  EXPECT_EQ(platform::ListFolder(dir.path()).size(), 2u);
}

}  // namespace
