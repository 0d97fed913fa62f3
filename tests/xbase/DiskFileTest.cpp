// XBO_DiskFile: opening by the engine's sharing rules, names, positioned
// transfers and their error texts, the lock count, truncate and rename.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/Files.h"
#include "platform/Streams.h"
#include "tests/platform/ChildProcess.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "xbase/base/disk_file.h"
#include "xbase/base/errors.h"

using namespace xbase;

namespace {

constexpr int64_t kWhole = 0x7FFFFFFF;

std::string MakeFile(const TempDir& dir, const std::string& name, const std::string& bytes = "0123456789") {
  platform::WriteFileBytes(dir / name, bytes);
  return dir / name;
}

// An open shared read-write engine file with quick retries.
struct Opened {
  explicit Opened(const std::string& path, bool shared = true, bool readWrite = true)
      : f(path, readWrite, shared) {
    f.SetXBwrdAccessMSecDelay(1);
    f.SetXBwrdAccessMiliSeconds(5);
    f.xbReset();
  }
  XBO_DiskFile f;
};

// Changes the current folder for one test.
class InFolder {
 public:
  explicit InFolder(const std::string& dir) : old_(platform::GetCurrentDir()) { EXPECT_EQ(chdir(dir.c_str()), 0); }
  ~InFolder() { (void)!chdir(old_.c_str()); }

 private:
  std::string old_;
};

}  // namespace

TEST(DiskFile, MessagesNameTheFullPathEvenForABareName) {
  TempDir dir;
  InFolder here(dir.path());
  XBO_DiskFile f("missing.dbf", true, false);
  EXPECT_EQ(f.FileName(), dir / "missing.dbf");
  EXPECT_EQ(ErrorOf([&] { f.xbReset(); }), "File " + dir / "missing.dbf" + " could not be found");
  EXPECT_EQ(XBO_DiskFile::ExpandName("sub/../a.dbf"), dir / "a.dbf");
  EXPECT_EQ(XBO_DiskFile::ExpandName("/x/../y.dbf"), "/x/../y.dbf");  // absolute names are kept
}

TEST(DiskFile, TransferErrorsCarryThe64BitPositionAndTheRightStep) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  Opened ro(path, true, false);
  char buf[4] = {};
  EXPECT_EQ(ErrorOf([&] { ro.f.xbWrite(4294967301LL, "abcd", 4); }),
            "Error 9 in Write of file " + path + " at block 4294967301");
  EXPECT_EQ(ErrorOf([&] { ro.f.xbRead(-1, buf, 4); }),
            "Error 22 in FileSeek of file " + path + " at block -1");
  EXPECT_EQ(ro.f.xbRead(8, buf, 4), 2) << "a short read at the end is no error";
  EXPECT_EQ(ro.f.FilePosn(), 12);
}

TEST(DiskFile, WritesReadBackAtLargePositions) {
  TempDir dir;
  Opened rw(MakeFile(dir, "t.dbf"));
  const int64_t far = (int64_t{1} << 32) + 7;
  EXPECT_EQ(rw.f.xbWrite(far, "xyz", 3), 3);
  EXPECT_TRUE(rw.f.HasWritten());
  char buf[3];
  EXPECT_EQ(rw.f.xbRead(far, buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "xyz");
  EXPECT_EQ(rw.f.xbFileSize(), far + 3);
  rw.f.xbFlush();
  EXPECT_FALSE(rw.f.HasWritten());
  rw.f.xbSync();
}

TEST(DiskFile, ARangeLockedTwiceNeedsTwoUnlocks) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  Opened a(path), b(path);
  ASSERT_TRUE(a.f.xbLockRecord(10, 5));
  ASSERT_TRUE(a.f.xbLockRecord(10, 5));
  EXPECT_EQ(a.f.LockCount(), 2);
  EXPECT_FALSE(b.f.xbLockRecord(12, 1));
  EXPECT_EQ(ErrorOf([&] { a.f.xbLockRecord(20, 1); }), "Another lock active on file " + path);
  a.f.xbUnLock();
  EXPECT_FALSE(b.f.LockByteRange(12, 1)) << "released only at the last unlock";
  a.f.xbUnLock();
  EXPECT_TRUE(b.f.LockByteRange(12, 1));
  EXPECT_EQ(a.f.LockCount(), 0);
}

TEST(DiskFile, CloseReleasesARangeHeldThreeTimes) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  Opened a(path), b(path);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(a.f.xbLockFile());
  EXPECT_TRUE(a.f.FileFullyLocked());
  EXPECT_TRUE(a.f.xbCloseFile());
  EXPECT_EQ(a.f.LockCount(), 0);
  EXPECT_FALSE(a.f.FileFound());
  EXPECT_TRUE(b.f.xbLockFile());
  a.f.xbReset();  // a closed object opens again
  EXPECT_FALSE(a.f.xbLockRecord(0, 1));
}

TEST(DiskFile, ExclusiveFilesOnlyCountLocks) {
  TempDir dir;
  Opened a(MakeFile(dir, "t.dbf"), false);
  EXPECT_TRUE(a.f.FileFullyLocked());
  EXPECT_TRUE(a.f.xbLockRecord(1, 1));
  EXPECT_TRUE(a.f.xbLockRecord(5, 1)) << "no second range conflict without system locks";
  EXPECT_EQ(a.f.LockCount(), 2);
  a.f.xbForceUnlock();
  EXPECT_EQ(a.f.LockCount(), 0);
}

TEST(DiskFile, WaitingLockGivesUpWithCanNotLock) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  Opened a(path), b(path);
  ASSERT_TRUE(a.f.LockByteRange(0x7FFFFFFE, 1));
  EXPECT_EQ(ErrorOf([&] { b.f.xbWaitLock(0x7FFFFFFE, 1); }), "Can not Lock file " + path);
  a.f.UnlockByteRange(0x7FFFFFFE, 1);
  b.f.xbWaitLock(0x7FFFFFFE, 1);
}

TEST(DiskFile, TruncateNeedsTheWholeFileLock) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  Opened a(path);
  EXPECT_EQ(ErrorOf([&] { a.f.xbTruncate(3); }), "Truncate requires full access to file " + path);
  EXPECT_EQ(a.f.xbFileSize(), 10);
  ASSERT_TRUE(a.f.xbLockRecord(0, kWhole));
  a.f.xbTruncate(3);
  EXPECT_EQ(a.f.xbFileSize(), 3);
  a.f.xbUnLock();
  Opened ro(path, false, false);
  EXPECT_EQ(ErrorOf([&] { ro.f.xbTruncate(1); }), "Truncate requires full access to file " + path);
}

TEST(DiskFile, AnotherProcessIsRefusedALockedByteUntilItsRelease) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  Opened a(path);
  ASSERT_TRUE(a.f.xbLockRecord(0x40000000 + 7, 1));
  auto childGets = [&] {
    return InChild([&] {
      Opened c(path);
      return c.f.xbLockRecord(0x40000000 + 7, 1) ? 1 : 0;
    });
  };
  EXPECT_EQ(childGets(), 0);
  a.f.xbUnLock();
  EXPECT_EQ(childGets(), 1);
}

TEST(DiskFile, ExclusiveOpensRefuseEngineAndStreamOpensAndTheReverse) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  {
    Opened excl(path, false);
    XBO_DiskFile other(path, false, true);
    EXPECT_EQ(ErrorOf([&] { other.xbReset(); }), "Access denied to file " + path);
    EXPECT_THROW(platform::TFileStream(path, platform::fmOpenRead | platform::fmShareDenyNone), std::exception);
  }
  {
    Opened shared(path);
    Opened shared2(path);  // shared opens coexist
    XBO_DiskFile excl(path, true, false);
    EXPECT_EQ(ErrorOf([&] { excl.xbReset(); }), "Access denied to file " + path);
    EXPECT_EQ(ErrorOf([&] { excl.xbReWrite(); }), "Access denied to file " + path);
    EXPECT_EQ(platform::ReadFileBytes(path), "0123456789") << "a refused rewrite empties nothing";
  }
  platform::TFileStream stream(path, platform::fmOpenReadWrite | platform::fmShareExclusive);
  XBO_DiskFile shared(path, true, true);
  EXPECT_EQ(ErrorOf([&] { shared.xbReset(); }), "Access denied to file " + path);
}

TEST(DiskFile, NamesInAnotherCaseAreOneFile) {
  TempDir dir;
  const std::string lower = MakeFile(dir, "bo.dbf", "table");
  XBO_DiskFile bo(dir / "BO.DBF", true, false);
  EXPECT_TRUE(bo.FileExist());
  bo.xbReset();
  EXPECT_EQ(bo.FileName(), lower);
  bo.xbCloseFile();

  MakeFile(dir, "au.ndx", "old index");
  XBO_DiskFile au(dir / "AU.NDX", true, false);
  au.xbReWrite();
  EXPECT_EQ(au.FileName(), dir / "au.ndx");
  EXPECT_EQ(au.xbFileSize(), 0);
  EXPECT_EQ(au.xbWrite(0, "new", 3), 3);
  au.xbCloseFile();
  EXPECT_EQ(platform::ReadFileBytes(dir / "au.ndx"), "new");
  for (const auto& entry : platform::ListFolder(dir.path())) EXPECT_NE(entry.name, "AU.NDX");

  XBO_DiskFile fresh(dir / "New.Ntx", true, false);
  EXPECT_FALSE(fresh.FileExist());
  fresh.xbReWrite();
  EXPECT_TRUE(fresh.FileExist());
  EXPECT_EQ(fresh.FileName(), dir / "New.Ntx");
}

TEST(DiskFile, RenameRefusesAnExistingNameAndStaysUsable) {
  TempDir dir;
  const std::string path = MakeFile(dir, "a.dbf", "aaaa");
  MakeFile(dir, "b.dbf", "bbbb");
  Opened a(path, false);
  EXPECT_EQ(ErrorOf([&] { a.f.xbRename(dir / "b.dbf"); }), "Error on Rename of file " + path);
  EXPECT_EQ(ErrorOf([&] { a.f.xbRename(dir / "B.DBF"); }), "Error on Rename of file " + path);
  char buf[4];
  EXPECT_EQ(a.f.xbRead(0, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "aaaa");
  EXPECT_EQ(platform::ReadFileBytes(dir / "b.dbf"), "bbbb");

  EXPECT_TRUE(a.f.xbRename(dir / "c.dbf"));
  EXPECT_EQ(a.f.FileName(), dir / "c.dbf");
  EXPECT_TRUE(a.f.FileFound());
  EXPECT_FALSE(platform::FileExists(path));
  EXPECT_TRUE(a.f.xbRename(dir / "C.DBF")) << "a change of case only is the same file";
}

TEST(DiskFile, ShutdownClosesEveryOpenFile) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  Opened a(path), b(path);
  ASSERT_TRUE(a.f.xbLockFile());
  xbDiskShutdown();
  EXPECT_FALSE(a.f.FileFound());
  EXPECT_FALSE(b.f.FileFound());
  Opened c(path);
  EXPECT_TRUE(c.f.xbLockFile());
}
