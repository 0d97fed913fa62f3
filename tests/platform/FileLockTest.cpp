#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "ChildProcess.h"
#include "TempDir.h"
#include "platform/Files.h"

using namespace platform;

namespace {

constexpr int64_t k4G = int64_t{1} << 32;

// 1 when a fresh open of `path` in a child gets the range, 0 when refused.
int ChildGets(const std::string& path, int64_t offset, int64_t length, bool exclusive) {
  return InChild([&] {
    TFile f(path, fmOpenReadWrite | fmShareDenyNone);
    return f.LockRange(offset, length, exclusive) ? 1 : 0;
  });
}

std::string MakeFile(const TempDir& dir, const std::string& name, const std::string& bytes = "0123456789") {
  WriteFileBytes(dir / name, bytes);
  return dir / name;
}

}  // namespace

TEST(FileLock, RangeIsRefusedToOtherOpensUntilUnlockOrClose) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  TFile holder(path, fmOpenReadWrite | fmShareDenyNone);
  ASSERT_TRUE(holder.LockRange(100, 10, true));
  EXPECT_TRUE(holder.LockRange(100, 10, true)) << "a file's own locks never conflict";

  TFile second(path, fmOpenReadWrite | fmShareDenyNone);
  EXPECT_FALSE(second.LockRange(105, 1, false)) << "same process, other open file";
  EXPECT_FALSE(second.LockRange(95, 10, true));
  EXPECT_TRUE(second.LockRange(110, 5, true)) << "the byte after the range is free";
  EXPECT_EQ(ChildGets(path, 100, 1, false), 0);

  holder.UnlockRange(100, 10);
  EXPECT_TRUE(second.LockRange(100, 1, true));
  second.UnlockRange(100, 1);
  EXPECT_EQ(ChildGets(path, 100, 10, true), 1);

  ASSERT_TRUE(holder.LockRange(0, 50, true));
  EXPECT_EQ(ChildGets(path, 0, 1, true), 0);
  holder.Close();
  EXPECT_EQ(ChildGets(path, 0, 1, true), 1);
  EXPECT_TRUE(second.LockRange(0, 50, true));
}

TEST(FileLock, ClosingAnotherDescriptorOfTheFileKeepsTheLock) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  TFile holder(path, fmOpenReadWrite | fmShareDenyNone);
  ASSERT_TRUE(holder.LockRange(0, 1, true));
  // Process-owned locks would be dropped here, by the close of any
  // descriptor of the file.
  const int other = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ::close(other);
  { TFile alsoOther(path, fmOpenRead | fmShareDenyNone); }
  EXPECT_EQ(ChildGets(path, 0, 1, false), 0);
  TFile second(path, fmOpenReadWrite | fmShareDenyNone);
  EXPECT_FALSE(second.LockRange(0, 1, false));
}

TEST(FileLock, ReadOnlyFileTakesReadLocksOnly) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  TFile reader(path, fmOpenRead | fmShareDenyNone);
  TFile reader2(path, fmOpenRead | fmShareDenyNone);
  EXPECT_TRUE(reader.LockRange(10, 5, false));
  EXPECT_TRUE(reader2.LockRange(12, 5, false)) << "read locks share";
  EXPECT_EQ(ChildGets(path, 14, 1, true), 0) << "a read lock keeps writers out";
  EXPECT_EQ(ChildGets(path, 10, 1, false), 1);
  try {
    reader.LockRange(20, 1, true);
    FAIL() << "a write lock on a read-only file";
  } catch (const EFileError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find(path), std::string::npos) << what;
    EXPECT_NE(what.find("reading only"), std::string::npos) << what;
  }
  EXPECT_EQ(ChildGets(path, 20, 1, true), 1) << "the refused write lock took nothing";
}

TEST(FileLock, RangesBeyondTheEndAndPastFourGigabytes) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  TFile holder(path, fmOpenReadWrite | fmShareDenyNone);
  // Offsets that lock protocols use: near 2^31, near and past 2^32.
  ASSERT_TRUE(holder.LockRange(k4G + 5, 1, true));
  ASSERT_TRUE(holder.LockRange(0x7FFFFFFE, 1, true));
  ASSERT_TRUE(holder.LockRange(k4G - 2, 1, false));
  EXPECT_EQ(ChildGets(path, k4G + 5, 1, false), 0);
  EXPECT_EQ(ChildGets(path, k4G + 4, 1, true), 1) << "only the byte asked for";
  EXPECT_EQ(ChildGets(path, k4G + 6, 1, true), 1);
  EXPECT_EQ(ChildGets(path, 0x7FFFFFFE, 1, false), 0);
  EXPECT_EQ(ChildGets(path, k4G - 2, 1, false), 1);
  EXPECT_EQ(ChildGets(path, k4G - 2, 1, true), 0);
  EXPECT_EQ(holder.Size(), 10) << "locking beyond the end does not grow the file";

  // Unlocking part of a range keeps the rest.
  ASSERT_TRUE(holder.LockRange(1000, 100, true));
  holder.UnlockRange(1000, 50);
  EXPECT_EQ(ChildGets(path, 1049, 1, true), 1);
  EXPECT_EQ(ChildGets(path, 1050, 1, true), 0);

  EXPECT_THROW(holder.LockRange(-1, 1, true), EFileError);
  EXPECT_THROW(holder.LockRange(0, 0, true), EFileError);
}

TEST(FileLock, ShareLocksStillSeparateExclusiveOpens) {
  TempDir dir;
  const std::string path = MakeFile(dir, "t.dbf");
  {
    TFile shared(path, fmOpenReadWrite | fmShareDenyNone);
    ASSERT_TRUE(shared.LockRange(0, 0x7FFFFFFF, true));
    // A range lock of a shared open keeps exclusive opens out like its share
    // lock does, and the share lock does not stand in the way of its ranges.
    try {
      TFile excl(path, fmOpenReadWrite | fmShareExclusive);
      FAIL() << "exclusive open beside a shared one";
    } catch (const EFileError& e) {
      EXPECT_EQ(e.error, EACCES);
    }
    EXPECT_EQ(InChild([&] { TFile f(path, fmOpenRead | fmShareDenyNone); return 1; }), 1);
  }
  TFile excl(path, fmOpenReadWrite | fmShareExclusive);
  EXPECT_EQ(InChild([&] { TFile f(path, fmOpenRead | fmShareDenyNone); return 1; }), 99);
}

TEST(File, PositionedTransfersAndSize) {
  TempDir dir;
  TFile f(dir / "r.bin", fmCreate);
  EXPECT_EQ(f.WriteAt(k4G + 3, "tail", 4), 4);
  EXPECT_EQ(f.WriteAt(2, "ab", 2), 2);
  EXPECT_EQ(f.Size(), k4G + 7);
  char buf[8] = {};
  EXPECT_EQ(f.ReadAt(0, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("\0\0ab", 4)) << "the gap reads as zeros";
  EXPECT_EQ(f.ReadAt(k4G + 5, buf, 8), 2) << "short only at the end";
  EXPECT_EQ(std::string(buf, 2), "il");
  EXPECT_EQ(f.Seek(0, SEEK_CUR), 0) << "positioned transfers leave the position alone";
  f.Truncate(3);
  EXPECT_EQ(f.Size(), 3);
  f.DataSync();
  f.Sync();

  TFile ro(dir / "R.BIN", fmOpenRead);  // found whatever the case
  EXPECT_EQ(ro.Path(), dir / "r.bin");
  try {
    ro.WriteAt(0, "x", 1);
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_EQ(e.error, EBADF);
    EXPECT_NE(std::string(e.what()).find("r.bin"), std::string::npos);
  }
  TFile moved = std::move(ro);
  EXPECT_FALSE(ro.IsOpen());
  EXPECT_EQ(moved.ReadAt(2, buf, 8), 1);
  EXPECT_THROW(TFile(dir / "missing", fmOpenRead), EFileError);
}
