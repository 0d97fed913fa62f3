// Saving the directory: load -> save round trips of every peer's archive
// checked by the peers themselves, in-place comment changes (zip64 records
// included), the empty archive, and the entry counts that need zip64.
#include <gtest/gtest.h>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "load_util.h"

namespace {

using namespace load_test;

void ExpectPeersAccept(const std::string& path, const std::string& what) {
  EXPECT_EQ(UnzipTest(path), "ok\n") << what;
  EXPECT_EQ(SevenZipTest(path), "ok\n") << what;
  EXPECT_EQ(PythonTest(path), "ok\n") << what;
}

TEST(SaveDir, RoundTripsOfEveryPeer) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> peers = {
      {"zip.zip", "zip -q -r {} ."},
      {"zip64.zip", "zip -q -r -fz {} ."},
      {"py.zip", "/usr/bin/python3 -c \"import zipfile,os,sys\n"
                 "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n"
                 "for r,ds,fs in sorted(os.walk('.')):\n"
                 " for n in sorted(ds)+sorted(fs): z.write(os.path.join(r,n)[2:])\n"
                 "z.close()\" {}"},
      {"7z.zip", std::string(SevenZip()) + " a -tzip {}"}};
  for (const auto& [name, cmd] : peers) {
    const std::string path = MakePeerArchive(dir, name, cmd);
    const std::vector<std::string> before = PythonNames(path);
    ASSERT_EQ(before.size(), SampleNames().size()) << name;
    {
      // In place: the same directory again, with a new comment.
      Owner owner;
      Loaded l = LoadFile(path, &owner, /*write=*/true);
      l.dm->ArchiveComment = "новый comment";
      l.dm->SaveDir(false);
    }
    ExpectPeersAccept(path, name + " in place");
    EXPECT_EQ(PythonNames(path), before) << name;
    {
      // As a commit does: cut at the old directory, write it at the end.
      Owner owner;
      Loaded l = LoadFile(path, &owner, /*write=*/true);
      EXPECT_EQ(l.dm->ArchiveComment, "новый comment");
      l.stream->SetSize(l.dm->CentralDirOffset);
      l.dm->SaveDir(true);
    }
    ExpectPeersAccept(path, name + " rewritten");
    EXPECT_EQ(PythonNames(path), before) << name;
    Owner owner;
    EXPECT_EQ(AsSet(LoadFile(path, &owner).Names()), AsSet(SampleNames())) << name;
  }
}

TEST(SaveDir, CommentChangesInPlace) {
  TempDir dir;
  for (const char* cmd : {"zip -q -r {} .", "zip -q -r -fz {} ."}) {
    const std::string path = MakePeerArchive(dir, std::to_string(std::string(cmd).size()) + ".zip", cmd);
    Owner owner;
    int64_t withLong = 0;
    {
      Loaded l = LoadFile(path, &owner, true);
      const int64_t dirStart = l.dm->CentralDirOffset;
      l.dm->ArchiveComment = std::string(500, 'L');
      l.dm->SaveDir(false);
      // The same directory at the same place, the file ending with the comment.
      EXPECT_EQ(l.dm->CentralDirOffset, dirStart) << cmd;
      withLong = l.stream->Size();
      EXPECT_EQ(base_test::ReadBytes(path).substr(static_cast<size_t>(withLong) - 522, 4),
                std::string("PK\x05\x06", 4));
    }
    ExpectPeersAccept(path, cmd);
    {
      Loaded l = LoadFile(path, &owner, true);
      EXPECT_EQ(l.dm->ArchiveComment, std::string(500, 'L'));
      l.dm->ArchiveComment = "short";
      l.dm->SaveDir(false);
      EXPECT_EQ(l.stream->Size(), withLong - 495) << "a shorter comment shrinks the file";
    }
    ExpectPeersAccept(path, cmd);
    EXPECT_EQ(RunCmd(std::string(records_test::kPython) + " -c " +
                     Q("import zipfile,sys\nprint(zipfile.ZipFile(sys.argv[1]).comment.decode())") + " " +
                     Q(path)),
              "short\n");
  }
}

TEST(SaveDir, EmptyArchiveIsTheBareEndRecord) {
  platform::TMemoryStream s;
  archiver::TZADirManager dm(&s, true, nullptr);
  dm.SaveDir(true);
  ASSERT_EQ(s.Size(), 22);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 22),
            std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(SaveDir, LengthsThatDoNotFitRaiseBeforeTheStreamIsTouched) {
  Owner owner;
  Loaded l = LoadBytes(std::string("PK\x05\x06", 4) + std::string(18, '\0'), &owner);
  const int64_t size = l.stream->Size();
  l.dm->ArchiveComment = std::string(70000, 'c');
  EXPECT_THROW(l.dm->SaveDir(false), archiver::EZAException);
  EXPECT_EQ(l.stream->Size(), size);
  l.dm->ArchiveComment.clear();
  archiver::TDirItem item;
  item.Name = "x";
  item.CentralDir.signature = archiver::ZA_SIG_CENTRAL_DIR;
  item.Comment = std::string(70000, 'c');
  l.dm->CDir.SetCount(1);
  l.dm->CDir.SetItem(0, item);
  EXPECT_THROW(l.dm->SaveDir(false), archiver::EZAException);
  EXPECT_EQ(l.stream->Size(), size);
}

TEST(SaveDir, EntryCountsThatNeedZip64) {
  const auto& big = BigArchives::Get();
  TempDir dir;
  for (int count : {65534, 65535}) {
    Owner owner;
    Loaded l = LoadFile(big.n65535, &owner);
    // Keep `count` entries and their data; write the directory after them.
    l.dm->CDir.SetCount(count);
    platform::TMemoryStream copy;
    l.stream->SetPosition(0);
    copy.CopyFrom(*l.stream, l.dm->CentralDirOffset);
    l.dm->SaveDir(true, &copy);
    EXPECT_EQ(l.dm->FZip64, count == 65535);
    const std::string path = dir / ("n" + std::to_string(count) + ".zip");
    copy.SaveToFile(path);
    Loaded back = LoadFile(path, &owner);
    EXPECT_EQ(back.dm->CDir.Count(), count);
    EXPECT_EQ(back.dm->FZip64, count == 65535);
    EXPECT_EQ(PythonTest(path), "ok\n");
  }
}

}  // namespace
