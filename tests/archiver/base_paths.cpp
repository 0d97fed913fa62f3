// Stored paths, stored-name encodings, options and mode maps, file
// attributes and the folder search.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "archiver/ZAExcept.h"
#include "archiver/ZAOptions.h"
#include "archiver/ZAPaths.h"
#include "base_util.h"
#include "platform/FileAttributes.h"

using namespace archiver;

TEST(StoredPath, ModesOnLinuxPaths) {
  struct Case {
    const char* file;
    const char* base;
    TZAStorePathMode mode;
    const char* expected;
  };
  const Case cases[] = {
      {"/data/Sub/a.txt", "/data/", spRelativePath, "Sub/a.txt"},
      {"/data/Sub/a.txt", "/data/", spFullPath, "data/Sub/a.txt"},
      {"/data/Sub/a.txt", "/data/", spFullPathWithDrive, "data/Sub/a.txt"},
      {"/data/Sub/a.txt", "/data/", spNoPath, "a.txt"},
      {"/data/Sub/a.txt", "/data", spRelativePath, "Sub/a.txt"},  // base without delimiter
      // Outside the base: the full path, never "../".
      {"/other/a.txt", "/data/", spRelativePath, "other/a.txt"},
      {"/database/a.txt", "/data/", spRelativePath, "database/a.txt"},
      // Relative names are taken against the current folder (here /data).
      {"Sub/a.txt", "", spRelativePath, "Sub/a.txt"},
      {"Sub/../b.txt", "", spRelativePath, "b.txt"},
      {"./Sub//a.txt", "", spFullPath, "data/Sub/a.txt"},
      // A folder is stored without its trailing delimiter.
      {"/data/Sub/", "/data/", spRelativePath, "Sub"},
      {"/data/", "/data/", spRelativePath, "data"},  // the base folder itself: by its name
      {"/", "/data/", spFullPath, ""},
      // ':' is an ordinary character, a trailing '.' belongs to the name.
      {"/data/c:x.txt", "/data/", spRelativePath, "c:x.txt"},
      {"/data/C:/a.txt", "/data/", spFullPath, "data/C:/a.txt"},
      {"/data/name.", "/data/", spRelativePath, "name."},
      {"/data/Sub/.", "/data/", spRelativePath, "Sub"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " base " + c.base + " mode " + std::to_string(c.mode));
    EXPECT_EQ(ZAGetStoredPath(c.file, c.base, c.mode, "/data"), c.expected);
  }
}

TEST(StoredPath, FullPathAndPathParts) {
  EXPECT_EQ(ZAExpandFileName("a/./b/../c", "/x"), "/x/a/c");
  EXPECT_EQ(ZAExpandFileName("/../..", "/x"), "/");
  EXPECT_EQ(ZAExpandFileName("/a//b/", "/x"), "/a/b/");
  EXPECT_EQ(ZAExtractRelativePath("/a/b/", "/a/c/d.txt"), "../c/d.txt");
  EXPECT_EQ(ZAExtractRelativePath("/a/", "/a/c/d.txt"), "c/d.txt");
  EXPECT_EQ(ZAGetBaseDir("", "/cur"), "/cur/");
  EXPECT_EQ(ZAGetBaseDir("/b", "/cur"), "/b/");
  EXPECT_EQ(ZAGetFullPath("/b/", "x.txt", "/cur"), "/b/x.txt");
  EXPECT_EQ(ZAGetFullPath("/b/", "/abs/x.txt", "/cur"), "/abs/x.txt");
  EXPECT_EQ(ZAGetFullPath("", "", "/"), "/");
  // A base folder that does not exist is handed back as given.
  EXPECT_EQ(ZAGetFullPath("/no/such/folder", "", "/"), "/no/such/folder");
  EXPECT_EQ(ZAExtractFileExt("/a.b/c"), "");
  EXPECT_EQ(ZAExtractFileExt("/a/c.fb2.zip"), ".zip");
  EXPECT_EQ(ZAExtractFilePath("name"), "");
  EXPECT_EQ(ZAIncludeTrailingBackslash("/a"), "/a/");
  EXPECT_EQ(ZAExcludeTrailingBackslash("/a/"), "/a");
}

TEST(StoredName, EncodingChoice) {
  std::string stored;
  // ASCII is stored as it is, never with bit 11.
  EXPECT_FALSE(ZANameToStoredAnsi("books/123.fb2", stored, true));
  EXPECT_EQ(stored, "books/123.fb2");
  EXPECT_FALSE(ZANameToStoredAnsi("books/123.fb2", stored, false));
  // Cyrillic: 866 with OEM names on, 1251 with them off.
  EXPECT_FALSE(ZANameToStoredAnsi("Привет.txt", stored, true));
  EXPECT_EQ(stored, "\x8F\xE0\xA8\xA2\xA5\xE2.txt");
  EXPECT_FALSE(ZANameToStoredAnsi("Привет.txt", stored, false));
  EXPECT_EQ(stored, "\xCF\xF0\xE8\xE2\xE5\xF2.txt");
  // Neither code page: UTF-8 and bit 11.
  EXPECT_TRUE(ZANameToStoredAnsi("日本.txt", stored, true));
  EXPECT_EQ(stored, "日本.txt");
  EXPECT_TRUE(ZANameToStoredAnsi("日本.txt", stored, false));
  // In 1251 but not in 866 ("«»" and "Ґ"): UTF-8 when 866 is what is written.
  EXPECT_TRUE(ZANameToStoredAnsi("«Ґ».txt", stored, true));
  EXPECT_EQ(stored, "«Ґ».txt");
  EXPECT_FALSE(ZANameToStoredAnsi("«Ґ».txt", stored, false));
  EXPECT_EQ(stored, "\xAB\xA5\xBB.txt");
  // In 866 but not in 1251 (box drawing): the other way round.
  EXPECT_FALSE(ZANameToStoredAnsi("╬.txt", stored, true));
  EXPECT_TRUE(ZANameToStoredAnsi("╬.txt", stored, false));
}

TEST(StoredName, LongNamesAreNeverCut) {
  std::string name;
  for (int i = 0; i < 200; ++i) name += "日";  // 600 bytes of UTF-8
  std::string stored;
  EXPECT_TRUE(ZANameToStoredAnsi(name, stored, true));
  EXPECT_EQ(stored, name);
  const std::string tooLong(70000, 'a');
  try {
    ZANameToStoredAnsi(tooLong, stored, true);
    FAIL() << "a name over 65,535 bytes was accepted";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, ZA_ERR_FILE_NAME_TOO_LONG);
  }
}

TEST(StoredName, DecodingRoundTrips) {
  const char* names[] = {"Привет.txt", "сон.txt", "тип и сам/рак.fb2", "Ёлка ё.txt", "plain.txt",
                         "«Ґ».txt", "日本.txt", "╬.txt", "€.txt"};
  for (bool oem : {true, false}) {
    for (const char* n : names) {
      SCOPED_TRACE(std::string(n) + (oem ? " oem" : " ansi"));
      std::string stored;
      const bool utf8 = ZANameToStoredAnsi(n, stored, oem);
      // The reader converts from OEM only when bit 11 is clear.
      EXPECT_EQ(ZADecodeStoredName(stored, oem && !utf8), n);
    }
  }
  // UTF-8 without bit 11, as Info-ZIP writes on Linux, reads as UTF-8 when
  // no OEM conversion applies.
  EXPECT_EQ(ZADecodeStoredName("Привет.txt", false), "Привет.txt");
}

TEST(Options, Defaults) {
  TZAOptions o;
  EXPECT_EQ(o.StorePath(), spRelativePath);
  EXPECT_TRUE(o.Recurse());
  EXPECT_EQ(o.ShareMode(), smShareDenyNone);
  EXPECT_EQ(o.OverwriteMode(), omAlways);
  EXPECT_TRUE(o.CreateDirs());
  EXPECT_TRUE(o.ReplaceReadOnly());
  EXPECT_TRUE(o.SetAttributes());
  EXPECT_EQ(o.SearchAttr(), 0x28BF);
  EXPECT_TRUE(o.FlushBuffers());
  EXPECT_TRUE(o.OEMFileNames());

  TZAOptions p;
  p.SetStorePath(spNoPath);
  p.SetShareMode(smShareExclusive);
  p.SetOEMFileNames(false);
  o.Assign(p);
  EXPECT_EQ(o.StorePath(), spNoPath);
  EXPECT_EQ(o.ShareMode(), smShareExclusive);
  EXPECT_FALSE(o.OEMFileNames());
}

TEST(Options, SpanningAndVolumes) {
  TZASpanningOptions s;
  EXPECT_FALSE(s.AdvancedNaming());
  EXPECT_EQ(s.FirstVolumeSize(), 0);
  EXPECT_EQ(s.VolumeSize(), vsAutoDetect);
  EXPECT_EQ(s.CustomVolumeSize(), 0);
  EXPECT_FALSE(s.SaveDirToFirstVolume());
  for (int64_t v : {int64_t{1000}, int64_t{0}, int64_t{-5}, int64_t{65535}}) {
    s.SetCustomVolumeSize(v);
    EXPECT_EQ(s.CustomVolumeSize(), 65536) << v;
  }
  s.SetCustomVolumeSize(65537);
  EXPECT_EQ(s.CustomVolumeSize(), 65537);

  TZAVolumeNumberInfo first, middle, last;
  EXPECT_EQ(first.VolumeKind(), vnkUnknown);
  EXPECT_EQ(first.VolumeNumber(), -1);
  EXPECT_EQ(first.LastVolumeNumber(), -1);
  first.SetFirstVolume(true);
  middle.SetVolumeNumber(3);
  last.SetLastVolume(true);  // last number unknown: the kind says "last"
  EXPECT_TRUE(first.FirstVolume());
  EXPECT_TRUE(last.LastVolume());
  EXPECT_FALSE(middle.LastVolume());
  middle.SetLastVolumeNumber(3);
  EXPECT_TRUE(middle.LastVolume());
  EXPECT_TRUE(middle.IsEqualTo(last));
  EXPECT_FALSE(first.IsEqualTo(last));
  TZAVolumeNumberInfo three;
  three.SetVolumeNumber(3);
  EXPECT_TRUE(three.IsEqualTo(middle));

  s.SetVolumeSize(vs1_44MB);
  EXPECT_EQ(s.GetVolumeSize(middle), 1457664);
  s.SetFirstVolumeSize(5000);
  EXPECT_EQ(s.GetVolumeSize(first), 5000);
  EXPECT_EQ(s.GetVolumeSize(middle), 1457664);
  s.SetVolumeSize(vs4700MB);
  EXPECT_EQ(s.GetVolumeSize(middle), 4928307200LL);
  s.SetVolumeSize(vsCustom);
  EXPECT_EQ(s.GetVolumeSize(middle), 65537);
  s.SetVolumeSize(vsAutoDetect);
  EXPECT_EQ(s.GetVolumeSize(middle), -1);
}

TEST(Options, ModeMaps) {
  const TZACompressionLevel levels[] = {clNone, clFastest, clFastest, clFastest, clNormal,
                                        clNormal, clNormal, clMax, clMax, clMax, clNone};
  const int buffers[] = {1048576, 524288, 524288, 524288, 1048576, 1048576, 1048576,
                         1572864, 1572864, 1572864, 1048576};
  const int headers[] = {0xDA, 0x01, 0x01, 0x5E, 0x5E, 0x9C, 0x9C, 0xDA, 0xDA, 0xDA};
  for (int mode = 0; mode <= 10; ++mode) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(ZAModeToLevel(mode), levels[mode]);
    EXPECT_EQ(ZABufferSizeByMode(mode), buffers[mode]);
    if (mode <= 9) {
      EXPECT_EQ(ZAZlibHeaderByMode(mode)[0], 0x78);
      EXPECT_EQ(ZAZlibHeaderByMode(mode)[1], headers[mode]);
    }
  }
  EXPECT_EQ(ZALevelToMode(clNone), 0);
  EXPECT_EQ(ZALevelToMode(clFastest), 1);
  EXPECT_EQ(ZALevelToMode(clNormal), 6);
  EXPECT_EQ(ZALevelToMode(clMax), 9);
}

TEST(TextHelpers, CaseReplaceAndLengths) {
  EXPECT_EQ(ZAUpperCase("abc.Привет"), "ABC.Привет");
  EXPECT_EQ(ZALowerCase("ABC.ПРИВЕТ"), "abc.ПРИВЕТ");
  EXPECT_EQ(ZAStringReplace("a\\b\\c", "\\", "/", rfReplaceAll), "a/b/c");
  EXPECT_EQ(ZAStringReplace("a\\b\\c", "\\", "/", 0), "a/b\\c");
  EXPECT_EQ(ZAStringReplace("X.FB2 x.fb2", "x.fb2", "y", rfReplaceAll | rfIgnoreCase), "y y");
  EXPECT_EQ(ZAByteLength("abc"), 6);
  EXPECT_EQ(ZAByteLength("Привет"), 12);
  EXPECT_EQ(ZAByteLength("😀"), 4);  // a surrogate pair
}

TEST(FileAttributes, DosBitsOnLinux) {
  base_test::TempDir dir;
  const std::string f = dir / "a.txt";
  base_test::WriteBytes(f, "x");
  EXPECT_EQ(ZAFileGetAttr(f), 0x20);
  EXPECT_EQ(ZAFileGetAttr(dir.Path()), 0x10);
  EXPECT_EQ(ZAFileGetAttr(dir / "missing"), -1);
  ASSERT_EQ(::symlink((dir / "missing").c_str(), (dir / "dangling").c_str()), 0);
  EXPECT_EQ(ZAFileGetAttr(dir / "dangling"), 0x04);

  // Read-only comes from the mode bits, so it shows even when run as root.
  ASSERT_TRUE(ZAFileSetAttr(f, 0x21));
  EXPECT_EQ(ZAFileGetAttr(f), 0x21);
  struct stat st {};
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_TRUE(ZAFileSetAttr(f, 0x20));
  EXPECT_EQ(ZAFileGetAttr(f), 0x20);
  // A folder never becomes unwritable.
  ASSERT_TRUE(ZAFileSetAttr(dir.Path(), 0x11));
  EXPECT_EQ(ZAFileGetAttr(dir.Path()), 0x10);
}

TEST(FileAttributes, DosDateTime) {
  struct tm lt {};
  lt.tm_year = 2023 - 1900;
  lt.tm_mon = 4;
  lt.tm_mday = 17;
  lt.tm_hour = 13;
  lt.tm_min = 45;
  lt.tm_sec = 31;  // odd: rounds down to 30
  lt.tm_isdst = -1;
  const std::time_t t = std::mktime(&lt);
  const uint32_t dos = platform::DateTimeToDosDateTime(t);
  EXPECT_EQ(dos >> 16, (43u << 9) | (5u << 5) | 17u);
  EXPECT_EQ(dos & 0xFFFF, (13u << 11) | (45u << 5) | 15u);
  std::time_t back = 0;
  ASSERT_TRUE(platform::DosDateTimeToDateTime(dos, back));
  EXPECT_EQ(back, t - 1);

  // Clamped to the years DOS can hold.
  EXPECT_EQ(platform::DateTimeToDosDateTime(0), 0x00210000u);  // 1970 -> 1980-01-01
  EXPECT_EQ(platform::DateTimeToDosDateTime(std::time_t{5000000000LL}), 0xFF9FBF7Du);  // 2128 -> 2107-12-31 23:59:58
  // Damaged fields are refused, not normalised.
  EXPECT_FALSE(platform::DosDateTimeToDateTime(0x00000000u, back));  // month 0
  EXPECT_FALSE(platform::DosDateTimeToDateTime(((2u << 5) | 30u) << 16, back));  // 30 February 1980
  EXPECT_FALSE(platform::DosDateTimeToDateTime(((1u << 9) | (2u << 5) | 29u) << 16, back));  // 1981 is no leap year
  EXPECT_TRUE(platform::DosDateTimeToDateTime(((2u << 5) | 29u) << 16, back));  // 1980 is
  EXPECT_FALSE(platform::DosDateTimeToDateTime((0x0021u << 16) | (24u << 11), back));  // hour 24

  base_test::TempDir dir;
  const std::string f = dir / "t.txt";
  base_test::WriteBytes(f, "x");
  ASSERT_TRUE(platform::FileSetDosDate(f, dos));
  EXPECT_EQ(ZAFileAge(f), dos);
  EXPECT_EQ(ZAFileAge(dir / "missing"), -1);
}

TEST(FolderSearch, MasksAttributesAndOrder) {
  base_test::TempDir dir;
  for (const char* n : {"b.fb2", "a.FB2", "c.txt", "noext"}) base_test::WriteBytes(dir / n, "12345");
  ASSERT_EQ(::mkdir((dir / "sub.fb2").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe.fb2").c_str(), 0644), 0);

  auto find = [&](const std::string& mask, int attr) {
    std::string names;
    TZASearchRec rec;
    for (bool ok = ZAFindFirst(dir / mask, attr, rec); ok; ok = ZAFindNext(rec))
      names += rec.Name + (rec.Attr & 0x10 ? "/" : "") + " ";
    ZAFindClose(rec);
    return names;
  };
  // Files only without the folder bit; never pipes; name order; case-blind masks.
  EXPECT_EQ(find("*.fb2", 0x20), "a.FB2 b.fb2 ");
  EXPECT_EQ(find("*.fb2", 0x28BF), "a.FB2 b.fb2 sub.fb2/ ");
  EXPECT_EQ(find("*.*", 0x20), "a.FB2 b.fb2 c.txt noext ");
  // An exact name, and failing that the same name in another case.
  EXPECT_EQ(find("c.txt", 0x20), "c.txt ");
  EXPECT_EQ(find("C.TXT", 0x20), "c.txt ");
  EXPECT_EQ(find("missing", 0x20), "");

  TZASearchRec rec;
  ASSERT_TRUE(ZAFindFirst(dir / "b.fb2", 0x20, rec));
  EXPECT_EQ(rec.Size, 5);
  EXPECT_EQ(rec.Attr, 0x20);
  EXPECT_EQ(static_cast<int64_t>(rec.Time), ZAFileAge(dir / "b.fb2"));
}

TEST(FolderSearch, CopyAndRemoveTrees) {
  base_test::TempDir dir;
  base_test::WriteBytes(dir / "src", "content");
  EXPECT_TRUE(ZACopyFile(dir / "src", dir / "dst", true));
  EXPECT_EQ(base_test::ReadBytes(dir / "dst"), "content");
  base_test::WriteBytes(dir / "src", "new");
  EXPECT_FALSE(ZACopyFile(dir / "src", dir / "dst", true));
  EXPECT_EQ(base_test::ReadBytes(dir / "dst"), "content");
  EXPECT_TRUE(ZACopyFile(dir / "src", dir / "dst", false));
  EXPECT_EQ(base_test::ReadBytes(dir / "dst"), "new");
  EXPECT_FALSE(ZACopyFile(dir / "src", dir / "src", false));  // never truncates itself
  EXPECT_EQ(base_test::ReadBytes(dir / "src"), "new");

  ASSERT_TRUE(ZAForceDirectories(dir / "t/a/b"));
  ASSERT_TRUE(ZAForceDirectories(dir / "t/c"));
  EXPECT_TRUE(ZARemoveEmptyDirTree(dir / "t/"));
  EXPECT_FALSE(ZADirectoryExists(dir / "t"));

  ASSERT_TRUE(ZAForceDirectories(dir / "u/a"));
  base_test::WriteBytes(dir / "u/a/keep.txt", "x");
  ASSERT_EQ(::symlink(dir.Path().c_str(), (dir / "u/link").c_str()), 0);
  EXPECT_FALSE(ZARemoveEmptyDirTree(dir / "u/"));
  EXPECT_EQ(base_test::ReadBytes(dir / "u/a/keep.txt"), "x");  // files are never deleted
  EXPECT_TRUE(ZAFileExists(dir / "src"));                      // links are not followed
}
