// Items from a stream, buffer or string; deleting, renaming, and changing
// attributes and comments; and what a failed or abandoned change leaves.
#include <gtest/gtest.h>

#include <memory>

#include "add_util.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "platform/Streams.h"

namespace {

using namespace add_test;
using archiver::EZAException;
using base_test::NativeErrorOf;
using archiver::TZipArchiver;

std::string Binary(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (char& c : s) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  return s;
}

// An archive at `path` holding `items` (name -> bytes; a name ending in '/'
// is a folder item).
void MakeArchive(const std::string& path, const std::map<std::string, std::string>& items) {
  TZipArchiver arc;
  Create(arc, path);
  arc.BeginUpdate();
  for (const auto& [name, bytes] : items) arc.AddFromString(name, bytes, name.back() == '/' ? 0x10 : 0x20);
  arc.EndUpdate();
  arc.CloseArchive();
  ASSERT_EQ(arc.LastCloseError(), "");
}

TEST(AddItems, StreamBufferAndStringReadBackEqual) {
  TempDir dir;
  const std::string path = dir / "items.zip";
  const std::string big = Binary(300000);
  platform::TStringStream source("0123456789" + big);
  source.SetPosition(7);
  {
    TZipArchiver arc;
    Create(arc, path);
    arc.AddFromString("text\\string.txt", "Строка\r\n");
    arc.AddFromBuffer("buffer.bin", big.data(), static_cast<int64_t>(big.size()));
    arc.AddFromStream("whole.bin", source);
    arc.AddFromStream("window.bin", source, true, 3, 5);
    EXPECT_EQ(source.Position(), 7) << "the caller's position is kept";
    // Borrowed until the commit, which runs when the call returns.
    arc.AddFromStream("borrowed.bin", source, false, 10, 1000);
    EXPECT_EQ(source.Position(), 7);
    arc.AddFromString("empty.txt", "");
    arc.AddFromString("folder\\", "", 0x10);
  }
  const std::map<std::string, std::string> expected = {
      {"text/string.txt", "Строка\r\n"}, {"buffer.bin", big},       {"whole.bin", "0123456789" + big},
      {"window.bin", "34567"},           {"borrowed.bin", big.substr(0, 1000)}, {"empty.txt", ""}};
  EXPECT_EQ(ReadBack(path), expected);
  EXPECT_EQ(ZipInfoShort(path).at("folder/").attrs[0], 'd');
  commit_test::ExpectPeersAccept(path);
}

TEST(AddItems, ABorrowedStreamIsReleasedByTheTransaction) {
  TempDir dir;
  const std::string path = dir / "borrow.zip";
  TZipArchiver arc;
  Create(arc, path);
  {
    auto dropped = std::make_unique<platform::TStringStream>("never written");
    arc.BeginUpdate();
    arc.AddFromStream("dropped.txt", *dropped, false);
    arc.CancelUpdate();
  }
  {
    auto kept = std::make_unique<platform::TStringStream>("written");
    arc.BeginUpdate();
    arc.AddFromStream("kept.txt", *kept, false);
    arc.EndUpdate();
  }
  // Neither stream exists any more: closing must touch neither.
  arc.CloseArchive();
  EXPECT_EQ(ReadBack(path), (std::map<std::string, std::string>{{"kept.txt", "written"}}));
}

TEST(AddItems, AFailedAddLeavesNothingQueued) {
  TempDir dir;
  const std::string path = dir / "fail.zip";
  MakeArchive(path, {{"x.txt", "old x"}});
  TZipArchiver arc;
  Reopen(arc, path);
  arc.BeginUpdate();
  arc.AddFromString("a.txt", "a");
  platform::TStringStream shortStream("12345");
  // Asks for more bytes than the stream holds: a new item and a replacing one.
  EXPECT_THROW(arc.AddFromStream("b.txt", shortStream, true, 2, 10), platform::EStreamError);
  EXPECT_THROW(arc.AddFromStream("x.txt", shortStream, true, 0, 6), platform::EStreamError);
  EXPECT_TRUE(arc.InUpdate()) << "the caller's transaction goes on";
  EXPECT_EQ(DirNames(arc), (std::vector<std::string>{"x.txt", "a.txt"}));
  EXPECT_FALSE(arc.DMHandle()->CDir[0].Modified) << "the replaced item is back as it was";
  EXPECT_EQ(NativeErrorOf([&] { arc.AddFromString("", "no name"); }), archiver::ZA_ERR_BLANK_FILE_NAME);
  EXPECT_EQ(NativeErrorOf([&] { arc.AddFromString(std::string(70000, 'n'), "x"); }), archiver::ZA_ERR_FILE_NAME_TOO_LONG);
  arc.EndUpdate();
  EXPECT_FALSE(arc.InUpdate());

  // Without an outer transaction the failed call ends its own.
  EXPECT_THROW(arc.AddFromStream("c.txt", shortStream, true, 4, 2), platform::EStreamError);
  EXPECT_FALSE(arc.InUpdate());
  arc.CloseArchive();
  EXPECT_EQ(ReadBack(path), (std::map<std::string, std::string>{{"a.txt", "a"}, {"x.txt", "old x"}}));

  // omNever keeps the item and writes nothing.
  Reopen(arc, path);
  arc.Options().SetOverwriteMode(archiver::omNever);
  const std::string before = ReadBytes(path);
  EXPECT_FALSE(arc.AddFromString("x.txt", "new x"));
  arc.CloseArchive();
  EXPECT_EQ(ReadBytes(path), before);
}

TEST(DeleteFiles, RemovesItemsAndAnAbandonedDeleteChangesNothing) {
  TempDir dir;
  const std::string path = dir / "del.zip";
  MakeArchive(path, {{"a.txt", "a"}, {"b.txt", "b"}, {"sub/", ""}, {"sub/c.txt", "c"}, {"d.dat", "d"}});
  const std::string before = ReadBytes(path);
  TZipArchiver arc;
  Reopen(arc, path);
  const std::vector<std::string> listing = DirNames(arc);

  // Cancelled by the caller.
  arc.BeginUpdate();
  EXPECT_EQ(arc.DeleteFiles("*.txt", 0x28BF, ""), 3);
  arc.CancelUpdate();
  EXPECT_EQ(DirNames(arc), listing);
  // Cancelled when the commit starts.
  arc.OnOverallProgress = [](archiver::TZABaseArchiver&, double, archiver::TZAProcessOperation,
                             archiver::TZAProgressPhase phase, bool& cancel) { cancel = phase == archiver::ppStart; };
  arc.DeleteFiles("*.txt", 0x28BF, "");
  arc.OnOverallProgress = nullptr;
  EXPECT_EQ(DirNames(arc), listing);
  EXPECT_EQ(ReadBytes(path), before);
  // Aborted by the user when another item of the same transaction fails.
  commit_test::TFailingStream failing("abcdef", 2);
  arc.OnProcessFileFailure = [](archiver::TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation, int,
                                int, const std::string&, archiver::TZAAction& action) { action = archiver::fxaAbort; };
  arc.BeginUpdate();
  arc.DeleteFiles("a.txt", 0x28BF, "");
  arc.AddFromStream("late.txt", failing, false);
  arc.EndUpdate();
  arc.OnProcessFileFailure = nullptr;
  EXPECT_EQ(DirNames(arc), listing);
  EXPECT_EQ(ReadBytes(path), before);

  EXPECT_EQ(arc.DeleteFiles("sub/*.*", 0x28BF, ""), 1);
  EXPECT_EQ(arc.DeleteFiles("a.txt", 0x28BF, ""), 1);
  arc.CloseArchive();
  EXPECT_EQ(Keys(ZipInfoShort(path)), (std::vector<std::string>{"b.txt", "d.dat", "sub/"}));
  commit_test::ExpectPeersAccept(path);
}

// Mask lists written with '\\' select what the same lists with '/' select,
// in every operation that works by the lists.
TEST(MaskLists, EitherSeparatorSelectsTheSameItems) {
  TempDir dir;
  const std::string path = dir / "lists.zip";
  const std::map<std::string, std::string> items{
      {"a.fb2", "a"}, {"d/", ""}, {"x/y/b.fb2", "b"}, {"x/c.txt", "c"}, {"h.txt", "h"}};
  MakeArchive(path, items);
  TZipArchiver arc;
  Reopen(arc, path);

  archiver::TZAArchiveItem F;
  arc.SetFileMasks({"x\\y\\*.fb2"});
  ASSERT_TRUE(arc.FindFirst(F));
  EXPECT_EQ(F.StoredPath + F.FileName, "x/y/b.fb2");
  EXPECT_FALSE(arc.FindNext(F));
  // The single exclusion mask of the other form too.
  int found = 0;
  for (bool ok = arc.FindFirst("*.*", F, 0x28BF, "x\\*"); ok; ok = arc.FindNext(F)) ++found;
  EXPECT_EQ(found, 3);

  const auto byLists = [&](const std::vector<std::string>& masks, const std::vector<std::string>& exclusions) {
    arc.SetFileMasks(masks);
    arc.SetExclusionMasks(exclusions);
  };
  byLists({"*.*"}, {"x\\*"});
  const int tested = arc.TestFiles();
  byLists({"*.*"}, {"x/*"});
  EXPECT_EQ(arc.TestFiles(), tested);
  EXPECT_EQ(tested, 3);

  byLists({"x\\*"}, {"*.txt"});
  arc.SetBaseDir(dir / "out");
  EXPECT_EQ(arc.ExtractFiles(), 1);
  EXPECT_EQ(ReadBytes(dir / "out/x/y/b.fb2"), "b");
  EXPECT_FALSE(Exists(dir / "out/x/c.txt"));

  // A delete of everything but what is under x keeps exactly that.
  byLists({"*.*"}, {"x\\*"});
  EXPECT_EQ(arc.DeleteFiles(), 3);
  arc.CloseArchive();
  EXPECT_EQ(Keys(ZipInfoShort(path)), (std::vector<std::string>{"x/c.txt", "x/y/b.fb2"}));
}

TEST(RenameFile, AFolderRenameReplacesOnlyTheLeadingFolder) {
  TempDir dir;
  const std::string path = dir / "ren.zip";
  MakeArchive(path, {{"old/", ""},
                     {"old/x.txt", "x"},
                     {"old/gold/", ""},
                     {"old/gold/old/y.txt", "y"},
                     {"gold/old/z.txt", "z"},
                     {"oldies.txt", "o"}});
  TZipArchiver arc;
  Reopen(arc, path);
  arc.RenameFile("old\\", "new/");
  arc.CloseArchive();
  EXPECT_EQ(Keys(ZipInfoShort(path)), (std::vector<std::string>{"gold/old/z.txt", "new/", "new/gold/", "new/gold/old/y.txt",
                                                                  "new/x.txt", "oldies.txt"}));
  EXPECT_EQ(ReadBack(path), (std::map<std::string, std::string>{{"gold/old/z.txt", "z"},
                                                                {"new/gold/old/y.txt", "y"},
                                                                {"new/x.txt", "x"},
                                                                {"oldies.txt", "o"}}));
  commit_test::ExpectPeersAccept(path);
}

TEST(RenameFile, AnExactNameComesBeforeTheSearch) {
  TempDir dir;
  const std::string path = dir / "ren2.zip";
  MakeArchive(path, {{"a.txt", "root"}, {"x/a.txt", "in x"}, {"x/b.txt", "b"}});
  TZipArchiver arc;
  Reopen(arc, path);
  arc.RenameFile("a.txt", "c.txt");
  // Found through its name part: the item stays in its folder.
  arc.RenameFile("b.txt", "renamed.txt");
  EXPECT_EQ(NativeErrorOf([&] { arc.RenameFile("missing.txt", "m.txt"); }), 30);
  EXPECT_EQ(NativeErrorOf([&] { arc.RenameFile("c.txt", ""); }), archiver::ZA_ERR_BLANK_FILE_NAME);
  arc.CloseArchive();
  EXPECT_EQ(ReadBack(path), (std::map<std::string, std::string>{
                                {"c.txt", "root"}, {"x/a.txt", "in x"}, {"x/renamed.txt", "b"}}));
}

TEST(ChangeFiles, AttributesAndCommentsAsThePeersSeeThem) {
  TempDir dir;
  const std::string path = dir / "attr.zip";
  MakeArchive(path, {{"a.txt", "a"}, {"x/a.txt", "xa"}, {"d/", ""}, {"b.bin", "b"}});
  TZipArchiver arc;
  Reopen(arc, path);
  EXPECT_EQ(arc.ChangeFilesAttr("a.txt", 0x21), 1) << "the exact name alone";
  EXPECT_EQ(arc.ChangeFilesAttr("d", 0x01), 1);
  EXPECT_EQ(arc.ChangeFilesAttr("b.bin", 0x30), 1);
  EXPECT_EQ(arc.ChangeFilesIntAttr("b.bin", 1), 1);
  EXPECT_EQ(arc.ChangeFilesComment("*.txt", "заметка"), 2);
  EXPECT_EQ(NativeErrorOf([&] { arc.ChangeFilesAttr("none.*", 0); }), 31);
  EXPECT_EQ(NativeErrorOf([&] { arc.ChangeFilesIntAttr("none.*", 0); }), 38);
  EXPECT_EQ(NativeErrorOf([&] { arc.ChangeFilesComment("a.txt", std::string(70000, 'c')); }),
            archiver::ZA_ERR_STREAM_WRITE);
  arc.CloseArchive();

  const auto info = ZipInfoShort(path);
  EXPECT_EQ(info.at("a.txt").attrs.substr(0, 4), "-r--");
  EXPECT_EQ(info.at("x/a.txt").attrs.substr(0, 4), "-rw-");
  EXPECT_EQ(info.at("d/").attrs.substr(0, 3), "dr-") << "a folder stays a folder";
  EXPECT_EQ(info.at("b.bin").attrs[0], '-') << "a file never becomes a folder";
  const auto verbose = [&](const std::string& name) { return RunCmd("zipinfo -v " + Q(path) + " " + Q(name)); };
  EXPECT_NE(verbose("a.txt").find("MS-DOS file attributes (21 hex):"), std::string::npos);
  EXPECT_NE(verbose("d/").find("MS-DOS file attributes (11 hex):"), std::string::npos);
  EXPECT_NE(verbose("b.bin").find("MS-DOS file attributes (20 hex):"), std::string::npos);
  EXPECT_NE(verbose("b.bin").find("apparent file type:                             text"), std::string::npos);
  const std::string notes = RunCmd("zipnote " + Q(path));
  EXPECT_NE(notes.find("@ a.txt\nзаметка\n@ (comment above this line)"), std::string::npos)
      << notes;
  EXPECT_NE(notes.find("@ x/a.txt\nзаметка\n@"), std::string::npos) << notes;
  EXPECT_EQ(ReadBack(path).at("x/a.txt"), "xa");
  commit_test::ExpectPeersAccept(path);
}

TEST(ChangeFiles, StateChecks) {
  TempDir dir;
  const std::string path = dir / "state.zip";
  MakeArchive(path, {{"a.txt", "a"}});
  TZipArchiver arc;
  arc.SetFileName(path);
  EXPECT_EQ(NativeErrorOf([&] { arc.AddFromString("b.txt", "b"); }), archiver::ZA_ERR_ARCHIVE_NOT_OPEN);
  EXPECT_EQ(NativeErrorOf([&] { arc.DeleteFiles("*.*", 0x28BF, ""); }), archiver::ZA_ERR_ARCHIVE_NOT_OPEN);
  arc.OpenArchive(archiver::ZAModeReadShared);
  EXPECT_EQ(NativeErrorOf([&] { arc.AddFromString("b.txt", "b"); }), archiver::ZA_ERR_READ_ONLY);
  EXPECT_EQ(NativeErrorOf([&] { arc.RenameFile("a.txt", "b.txt"); }), archiver::ZA_ERR_READ_ONLY);
  EXPECT_FALSE(arc.InUpdate());
  arc.CloseArchive();
  EXPECT_EQ(ReadBack(path), (std::map<std::string, std::string>{{"a.txt", "a"}}));
}

}  // namespace
