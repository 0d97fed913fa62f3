// The null stream, the Unicode-name record, the disk-full retry writer and
// the zlib glue.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "archiver/ZAExcept.h"
#include "archiver/ZAStreams.h"
#include "archiver/ZAZlib.h"
#include "base_util.h"
#include "platform/Streams.h"

using namespace archiver;

TEST(NullStream, SwallowsEverything) {
  TNullStream s;
  char buf[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(s.Write(buf, 4), 4);
  EXPECT_EQ(s.Read(buf, 4), 4);
  EXPECT_EQ(buf[0], 'a');  // reading touches nothing
  EXPECT_EQ(s.Seek(100, platform::soBeginning), 0);
  s.SetSize(50);
  EXPECT_EQ(s.Size(), 0);
  s.WriteBuffer(buf, 4);
}

namespace {

std::string Field(const std::string& sig, int32_t length, const std::string& utf16) {
  std::string f = sig;
  for (int i = 0; i < 4; ++i) f += static_cast<char>((static_cast<uint32_t>(length) >> (8 * i)) & 0xFF);
  return f + utf16;
}

}  // namespace

TEST(UnicodeExtendedInfo, ReadsValidFieldsOnly) {
  TUnicodeExtendedInfo info;
  // "Я.txt" in UTF-16LE.
  const std::string name16("\x2F\x04" ".\0t\0x\0t\0", 10);
  ASSERT_TRUE(info.Load(Field("NUCX", 5, name16).data(), 18));
  EXPECT_EQ(info.Name(), "Я.txt");

  // A zero-length record is an empty name.
  ASSERT_TRUE(info.Load(Field("NUCX", 0, "").data(), 8));
  EXPECT_EQ(info.Name(), "");

  // Another signature, a negative length or one past the block: refused, and
  // the previous name stays.
  info.SetName("header name");
  EXPECT_FALSE(info.Load(Field("NUCY", 5, name16).data(), 18));
  EXPECT_FALSE(info.Load(Field("NUCX", -1, name16).data(), 18));
  EXPECT_FALSE(info.Load(Field("NUCX", 6, name16).data(), 18));
  EXPECT_FALSE(info.Load(Field("NUCX", 0x7FFFFFFF, name16).data(), 18));
  EXPECT_FALSE(info.Load("NUC", 3));
  EXPECT_EQ(info.Name(), "header name");

  // An unpaired surrogate becomes U+FFFD; a pair becomes one code point.
  ASSERT_TRUE(info.Load(Field("NUCX", 3, std::string("\x00\xD8" "a\0" "\x3D\xD8", 6)).data(), 14));
  EXPECT_EQ(info.Name(), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
  ASSERT_TRUE(info.Load(Field("NUCX", 2, std::string("\x3D\xD8\x00\xDE", 4)).data(), 12));
  EXPECT_EQ(info.Name(), "😀");
}

TEST(UnicodeExtendedInfo, SaveAndLoadFromStream) {
  TUnicodeExtendedInfo out, in;
  out.SetName("Привет 😀.fb2");
  platform::TMemoryStream s;
  out.SaveToStream(s);
  EXPECT_EQ(s.Size(), 8 + 2 * 13);  // the emoji takes two code units
  EXPECT_TRUE(in.LoadFromStream(s));
  EXPECT_EQ(in.Name(), out.Name());
  EXPECT_EQ(in.AdditionalSignature(), TUnicodeExtendedInfo::Signature);
}

namespace {

// A memory stream whose first `failures` writes stop halfway, as a full
// disk would.
class FillingStream : public platform::TMemoryStream {
 public:
  explicit FillingStream(int failures) : failures(failures) {}
  int64_t Write(const void* buffer, int64_t count) override {
    writeStarts.push_back(Position());
    if (failures > 0) {
      --failures;
      return TMemoryStream::Write(buffer, count / 2);
    }
    return TMemoryStream::Write(buffer, count);
  }
  std::vector<int64_t> writeStarts;
  int failures;
};

}  // namespace

TEST(DiskFullRetry, RetriesFromTheSamePosition) {
  FillingStream s(0);
  s.WriteBuffer("head", 4);
  s.writeStarts.clear();
  s.failures = 2;
  int asked = 0;
  bool progressCancel = false;
  auto handler = [&](int volume, const std::string& file, bool& cancel) {
    EXPECT_EQ(volume, -1);
    EXPECT_EQ(file, "arc.zip");
    EXPECT_TRUE(cancel);
    cancel = false;
    ++asked;
  };
  const std::string data = "0123456789";
  EXPECT_TRUE(ZAWriteWithDiskFullRetry(s, data.data(), 10, "arc.zip", handler, progressCancel));
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(progressCancel);
  EXPECT_EQ(s.writeStarts, (std::vector<int64_t>{4, 4, 4}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size())), "head0123456789");
}

TEST(DiskFullRetry, CancelStopsAndFlagsTheOperation) {
  FillingStream s(5);
  bool progressCancel = false;
  EXPECT_FALSE(ZAWriteWithDiskFullRetry(s, "abcd", 4, "arc.zip", nullptr, progressCancel));
  EXPECT_TRUE(progressCancel);
}

TEST(DiskFullRetry, RealFullDeviceAndOtherErrors) {
  {
    const int fd = ::open("/dev/full", O_WRONLY);
    if (fd < 0) GTEST_SKIP() << "/dev/full missing";
    platform::THandleStream s(fd);
    int asked = 0;
    bool progressCancel = false;
    auto handler = [&](int, const std::string&, bool& cancel) { cancel = ++asked >= 3; };
    EXPECT_FALSE(ZAWriteWithDiskFullRetry(s, "abcd", 4, "full", handler, progressCancel));
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(progressCancel);
  }
  // Any other failure is an error, not a question about the disk.
  base_test::TempDir dir;
  base_test::WriteBytes(dir / "ro", "x");
  platform::THandleStream ro(::open((dir / "ro").c_str(), O_RDONLY));
  bool progressCancel = false;
  int asked = 0;
  auto handler = [&](int, const std::string&, bool&) { ++asked; };
  try {
    ZAWriteWithDiskFullRetry(ro, "abcd", 4, "ro", handler, progressCancel);
    FAIL() << "a write error passed silently";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, ZA_ERR_STREAM_WRITE);
  }
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(progressCancel);
}

TEST(ZlibGlue, ChecksAndCallbacks) {
  EXPECT_EQ(CompressCheck(Z_OK), Z_OK);
  EXPECT_EQ(CompressCheck(Z_STREAM_END), Z_STREAM_END);
  EXPECT_THROW(CompressCheck(Z_STREAM_ERROR), ECompressionError);
  EXPECT_EQ(DecompressCheck(Z_NEED_DICT), Z_NEED_DICT);
  try {
    DecompressCheck(Z_DATA_ERROR);
    FAIL();
  } catch (const EZlibError& e) {
    EXPECT_STREQ(e.what(), "error");
  }

  // A deflate/inflate round trip through the archiver's allocator.
  const std::string text(100000, 'z');
  std::string packed(1000, '\0'), unpacked(text.size(), '\0');
  z_stream d = ZAZlibNewStream();
  CompressCheck(deflateInit2(&d, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
  d.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  d.avail_in = static_cast<uInt>(text.size());
  d.next_out = reinterpret_cast<Bytef*>(packed.data());
  d.avail_out = static_cast<uInt>(packed.size());
  EXPECT_EQ(CompressCheck(deflate(&d, Z_FINISH)), Z_STREAM_END);
  packed.resize(d.total_out);
  CompressCheck(deflateEnd(&d));
  z_stream i = ZAZlibNewStream();
  DecompressCheck(inflateInit2(&i, -MAX_WBITS));
  i.next_in = reinterpret_cast<Bytef*>(packed.data());
  i.avail_in = static_cast<uInt>(packed.size());
  i.next_out = reinterpret_cast<Bytef*>(unpacked.data());
  i.avail_out = static_cast<uInt>(unpacked.size());
  EXPECT_EQ(inflate(&i, Z_FINISH), Z_STREAM_END);
  inflateEnd(&i);
  EXPECT_EQ(unpacked, text);
}
