#include "platform/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "TempDir.h"
#include "platform/Files.h"

using namespace platform;

namespace {

std::string ReadAll(TStream& s) {
  std::string out(static_cast<size_t>(s.Size()), '\0');
  s.SetPosition(0);
  s.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

void Put(TStream& s, const std::string& bytes) { s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size())); }

template <class T>
class ByteStreamTest : public testing::Test {};
using ByteStreams = testing::Types<TMemoryStream, TStringStream>;
TYPED_TEST_SUITE(ByteStreamTest, ByteStreams);

}  // namespace

TYPED_TEST(ByteStreamTest, ReadWriteSeekPastEnd) {
  TypeParam s;
  Put(s, "hello");
  EXPECT_EQ(s.Position(), 5);
  char c = 'x';
  EXPECT_EQ(s.Read(&c, 1), 0);  // at the end
  EXPECT_EQ(s.Seek(3, soEnd), 8);
  EXPECT_EQ(s.Read(&c, 1), 0);  // past the end
  EXPECT_EQ(s.Size(), 5);
  Put(s, "!");
  EXPECT_EQ(ReadAll(s), std::string("hello\0\0\0!", 9));  // the gap is zero-filled
  EXPECT_EQ(s.Seek(-4, soCurrent), 5);
  EXPECT_THROW(s.Seek(-1, soBeginning), EStreamError);
  EXPECT_EQ(s.Position(), 5);
  char buf[8];
  s.SetPosition(7);
  EXPECT_EQ(s.Read(buf, 8), 2);  // a short read is not an error
  s.SetPosition(7);
  EXPECT_THROW(s.ReadBuffer(buf, 3), EStreamError);  // but a short ReadBuffer is
}

TYPED_TEST(ByteStreamTest, SetSizeTruncatesAndExtends) {
  TypeParam s;
  Put(s, "abcdef");
  s.SetSize(3);
  EXPECT_EQ(s.Position(), 3);  // pulled back to the new end
  EXPECT_EQ(ReadAll(s), "abc");
  s.SetPosition(1);
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 1);  // kept when still inside
  EXPECT_EQ(ReadAll(s), std::string("abc\0\0", 5));
  EXPECT_THROW(s.SetSize(-1), EStreamError);
}

TYPED_TEST(ByteStreamTest, CopyFrom) {
  TStringStream src("0123456789");
  src.SetPosition(10);
  TypeParam dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 10);  // 0: the whole source from its start
  EXPECT_EQ(ReadAll(dst), "0123456789");
  src.SetPosition(4);
  TypeParam part;
  EXPECT_EQ(part.CopyFrom(src, 3), 3);  // from the source's position
  EXPECT_EQ(ReadAll(part), "456");
  EXPECT_EQ(src.Position(), 7);
  TypeParam tooMuch;
  EXPECT_THROW(tooMuch.CopyFrom(src, 4), EStreamError);
}

TEST(MemoryStream, FilesAndStreams) {
  TempDir dir;
  TMemoryStream m;
  std::string bytes("bin\0ary\xFF", 8);
  Put(m, bytes);
  m.SaveToFile(dir / "m.bin");
  EXPECT_EQ(ReadFileBytes(dir / "m.bin"), bytes);
  TMemoryStream back;
  back.LoadFromFile(dir / "m.bin");
  EXPECT_EQ(back.Position(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.Memory()), 8), bytes);
  TStringStream str;
  back.SaveToStream(str);
  EXPECT_EQ(str.DataString(), bytes);
  back.Clear();
  EXPECT_EQ(back.Size(), 0);
  EXPECT_EQ(back.Position(), 0);
}

TEST(FileStream, CreateOpenAndModes) {
  TempDir dir;
  {
    TFileStream f(dir / "a.dat", fmCreate);
    Put(f, "old content");
  }
  {
    TFileStream f(dir / "a.dat", fmCreate);  // truncates
    Put(f, "new");
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.dat"), "new");
  {
    TFileStream f(dir / "a.dat", fmOpenReadWrite);
    f.Seek(0, soEnd);
    Put(f, "er");
    f.Flush();
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.dat"), "newer");
  {
    TFileStream f(dir / "a.dat", fmOpenRead);
    EXPECT_EQ(ReadAll(f), "newer");
    EXPECT_THROW(Put(f, "x"), EStreamError);  // read-only
  }
  try {
    TFileStream f(dir / "missing", fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.error, ENOENT);
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
  }
  EXPECT_THROW(TFileStream(dir.path(), fmOpenRead), EFOpenError);  // a folder
}

TEST(FileStream, OpensExistingFileWhateverItsCase) {
  TempDir dir;
  WriteFileBytes(dir / "Книга.FB2", "book");
  {
    TFileStream f(dir / "книга.fb2", fmOpenRead);
    EXPECT_EQ(f.FileName(), dir / "Книга.FB2");
    EXPECT_EQ(ReadAll(f), "book");
  }
  {
    TFileStream f(dir / "книга.fb2", fmCreate);  // creation uses the exact name
    Put(f, "other");
  }
  EXPECT_EQ(ReadFileBytes(dir / "Книга.FB2"), "book");
  EXPECT_EQ(ReadFileBytes(dir / "книга.fb2"), "other");
}

TEST(FileStream, ShareModesLockOutOtherOpens) {
  TempDir dir;
  const std::string name = dir / "locked.dbf";
  WriteFileBytes(name, "keep me");
  {
    TFileStream owner(name, fmOpenReadWrite | fmShareExclusive);
    try {
      TFileStream second(name, fmOpenRead | fmShareDenyNone);
      FAIL() << "second open of an exclusively opened file";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.error, EACCES);
    }
    EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareExclusive), EFOpenError);
    // A create must not wipe a file someone holds.
    EXPECT_THROW(TFileStream(name, fmCreate), EFOpenError);
  }
  EXPECT_EQ(ReadFileBytes(name), "keep me");
  {
    TFileStream shared(name, fmOpenRead | fmShareDenyNone);
    EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareExclusive), EFOpenError);
    TFileStream alsoShared(name, fmOpenReadWrite | fmShareDenyNone);
  }
  {
    TFileStream reader1(name, fmOpenRead | fmShareDenyWrite);
    TFileStream reader2(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareExclusive), EFOpenError);
  }
  {
    // A read-only open can hold only a read lock: its exclusive open still
    // keeps writers that deny others away.
    TFileStream reader(name, fmOpenRead | fmShareExclusive);
    EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareExclusive), EFOpenError);
    TFileStream created(dir / "w", fmCreate);
  }
  {
    TFileStream w1(dir / "w", fmOpenWrite | fmShareDenyNone);
    TFileStream w2(dir / "w", fmOpenWrite | fmShareDenyNone);  // writers that deny nothing coexist
  }
  TFileStream again(name, fmOpenReadWrite | fmShareExclusive);  // all released
}

TEST(FileStream, SixtyFourBitPositionsOnASparseFile) {
  TempDir dir;
  const int64_t far = (int64_t{5} << 30) + 123;  // past 4 GiB
  TFileStream f(dir / "sparse.bin", fmCreate);
  EXPECT_EQ(f.Seek(far, soBeginning), far);
  Put(f, "END");
  EXPECT_EQ(f.Size(), far + 3);
  EXPECT_EQ(f.Seek(-3, soEnd), far);
  char buf[3];
  f.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "END");
  f.SetPosition(int64_t{4} << 30);
  f.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), std::string(3, '\0'));
  f.SetSize((int64_t{4} << 30) + 1);
  EXPECT_EQ(f.Size(), (int64_t{4} << 30) + 1);
  EXPECT_EQ(f.Position(), (int64_t{4} << 30) + 1);  // position was past the new end
}

TEST(HandleStream, ReadWaitsForTheWholeCountUntilEndOfFile) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([w = fds[1]] {
    EXPECT_EQ(write(w, "abc", 3), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(write(w, "def", 3), 3);
    close(w);
  });
  THandleStream s(fds[0]);
  char buf[16];
  EXPECT_EQ(s.Read(buf, sizeof buf), 6);  // two short system reads, one call
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  writer.join();
}
