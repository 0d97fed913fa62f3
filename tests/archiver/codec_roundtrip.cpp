// The item codec on its own: round trips at every compression mode checked by
// Python's zlib as the independent inflater, Python's deflate read here,
// window reads, hostile data (bombs, truncation, damage), encryption and
// passwords (traditional and AES), unsupported methods, cancel, disk-full retries, zip64 sizes and
// data that runs on into the next volume.
#include <gtest/gtest.h>
#include <zlib.h>

#include "archiver/ZACodec.h"
#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "codec_util.h"

namespace {

using namespace codec_test;
using archiver::EZAException;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;

const char* kPython = "/usr/bin/python3";

// Python's raw-deflate verdict on `deflated` against `plain`: "ok" when it
// inflates (window bits -15) to exactly the plain bytes and the stream ends.
std::string PythonInflates(const TempDir& dir, const std::string& deflated, const std::string& plain) {
  base_test::WriteBytes(dir / "d.bin", deflated);
  base_test::WriteBytes(dir / "p.bin", plain);
  const std::string script =
      "import sys, zlib\n"
      "d = zlib.decompressobj(-15)\n"
      "out = d.decompress(open(sys.argv[1], 'rb').read()) + d.flush()\n"
      "print('ok' if d.eof and not d.unused_data and out == open(sys.argv[2], 'rb').read() "
      "else 'bad %d' % len(out))\n";
  base_test::WriteBytes(dir / "inflate.py", script);
  return RunCmd(std::string(kPython) + " " + Q(dir / "inflate.py") + " " + Q(dir / "d.bin") + " " +
                Q(dir / "p.bin"));
}

// Raw deflate of `plain` made by Python's zlib at `level`.
std::string PythonDeflates(const TempDir& dir, const std::string& plain, int level) {
  base_test::WriteBytes(dir / "p.bin", plain);
  const std::string script =
      "import sys, zlib\n"
      "c = zlib.compressobj(int(sys.argv[3]), zlib.DEFLATED, -15)\n"
      "open(sys.argv[2], 'wb').write(c.compress(open(sys.argv[1], 'rb').read()) + c.flush())\n";
  base_test::WriteBytes(dir / "deflate.py", script);
  RunCmd(std::string(kPython) + " " + Q(dir / "deflate.py") + " " + Q(dir / "p.bin") + " " +
         Q(dir / "d.bin") + " " + std::to_string(level));
  return base_test::ReadBytes(dir / "d.bin");
}

TEST(CodecRoundTrip, EveryModeInflatesInPythonAndBackHere) {
  TempDir dir;
  // Larger than the biggest input chunk (1.5 MiB), so every mode deflates in
  // several chunks into one stream.
  const std::string data = TextData(1'700'000);
  for (int mode : {0, 1, 6, 9}) {
    SCOPED_TRACE(mode);
    TestHost host;
    const TRecord r = Pack(host, data, mode);
    const auto& cd = r.item.CentralDir;
    EXPECT_EQ(cd.compMethod, mode == 0 ? 0 : 8);
    EXPECT_EQ(cd.unCompSize, data.size());
    EXPECT_EQ(cd.crc32, archiver::ZACrc32(data.data(), data.size()));
    EXPECT_EQ(cd.compSize, DataOf(r).size());
    EXPECT_FALSE(r.item.bHugeFile);
    if (mode == 0)
      EXPECT_EQ(DataOf(r), data);
    else
      EXPECT_EQ(PythonInflates(dir, DataOf(r), data), "ok\n");
    bool ok = false;
    EXPECT_EQ(Unpack(host, r, ok), data);
    EXPECT_TRUE(ok);
  }
  // A stronger level never compresses worse here.
  TestHost host;
  EXPECT_LT(Pack(host, data, 9).item.CentralDir.compSize, Pack(host, data, 1).item.CentralDir.compSize);
}

TEST(CodecRoundTrip, PythonDeflateInflatesHere) {
  TempDir dir;
  const std::string text = TextData(1'300'000, 7);
  const std::string noise = RandomData(300'000);
  for (int level : {0, 1, 6, 9}) {
    for (const std::string* plain : {&text, &noise}) {
      SCOPED_TRACE(level);
      const TRecord r = RawRecord(8, PythonDeflates(dir, *plain, level), *plain);
      TestHost host;
      bool ok = false;
      EXPECT_EQ(Unpack(host, r, ok), *plain);
      EXPECT_TRUE(ok);
    }
  }
}

TEST(CodecRoundTrip, EmptySourceIsStoredWithZeroSizeAndCrc) {
  TestHost host;
  const TRecord r = Pack(host, "", 6);
  EXPECT_EQ(r.item.CentralDir.compMethod, 0);
  EXPECT_EQ(r.item.CompressionMethod, 0);
  EXPECT_EQ(r.item.CentralDir.compSize, 0u);
  EXPECT_EQ(r.item.CentralDir.crc32, 0u);
  bool ok = false;
  EXPECT_EQ(Unpack(host, r, ok), "");
  EXPECT_TRUE(ok);
}

TEST(CodecWindow, ReturnsExactlyTheWindowAndReadsOnlyTheHead) {
  const std::string data = TextData(5'000'000, 3);
  TestHost host;
  for (int mode : {0, 6}) {
    SCOPED_TRACE(mode);
    const TRecord r = Pack(host, data, mode);
    CountingStream src(r.bytes);
    platform::TStringStream out;
    TDirItem item = r.item;
    ASSERT_TRUE(archiver::ZADecompressItem(host, src, out, item, 2000, 0));
    EXPECT_EQ(out.DataString(), data.substr(0, 2000));
    // The head costs a few kilobytes of the archive, not the item.
    EXPECT_LT(src.bytesRead, 40'000);

    bool ok = false;
    EXPECT_EQ(Unpack(host, r, ok, 5000, 3'000'000), data.substr(3'000'000, 5000));
    EXPECT_TRUE(ok);
    // A window running past the end gives what there is.
    EXPECT_EQ(Unpack(host, r, ok, 100, 4'999'950), data.substr(4'999'950));
    EXPECT_TRUE(ok);
  }
  // The window of an encrypted item.
  const TRecord enc = Pack(host, data.substr(0, 200'000), 1, "pw");
  host.password = "pw";
  bool ok = false;
  EXPECT_EQ(Unpack(host, enc, ok, 16000, 0), data.substr(0, 16000));
  EXPECT_TRUE(ok);
}

TEST(CodecHostile, BombStopsAtTheDeclaredSize) {
  TempDir dir;
  const std::string zeros(40'000'000, '\0');
  const std::string deflated = PythonDeflates(dir, zeros, 9);
  ASSERT_LT(deflated.size(), 100'000u);
  // The header says 1,000 bytes; the data inflates to 40 MB.
  TRecord r = RawRecord(8, deflated, std::string(1000, '\0'));
  TestHost host;
  platform::TStringStream src(r.bytes), out;
  EXPECT_FALSE(archiver::ZADecompressItem(host, src, out, r.item, 0, 0));
  EXPECT_LE(out.Size(), 1000);
  // A window reaching past the declared size fails the same way.
  platform::TStringStream src2(r.bytes), out2;
  EXPECT_FALSE(archiver::ZADecompressItem(host, src2, out2, r.item, 5000, 0));
  EXPECT_LE(out2.Size(), 1000);
  // The same data declared at its true size is fine.
  bool ok = false;
  EXPECT_EQ(Unpack(host, RawRecord(8, deflated, zeros), ok).size(), zeros.size());
  EXPECT_TRUE(ok);
}

// What zlib itself inflates of raw deflate bytes, up to their end or their
// first error: the least a damaged item must give.
std::string ZlibRecovers(const std::string& raw) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return {};
  std::string out;
  char buffer[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = static_cast<uInt>(raw.size());
  for (int rc = Z_OK; rc == Z_OK;) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  return out;
}

TEST(CodecHostile, TruncatedDamagedOrMisdeclaredDataFails) {
  const std::string data = TextData(300'000, 5);
  TestHost host;
  const TRecord good = Pack(host, data, 6);
  const std::string deflated = DataOf(good);
  bool ok = true;

  // The stream cut in half, with sizes that say so; what was decoded is
  // passed on all the same.
  const std::string half = deflated.substr(0, deflated.size() / 2);
  EXPECT_EQ(Unpack(host, RawRecord(8, half, data), ok), ZlibRecovers(half));
  EXPECT_FALSE(ok);
  // The last bytes of the stream missing (its final block never comes).
  Unpack(host, RawRecord(8, deflated.substr(0, deflated.size() - 3), data), ok);
  EXPECT_FALSE(ok);
  // The header promises more compressed bytes than the archive holds.
  TRecord longer = good;
  longer.bytes.resize(longer.bytes.size() - 10);
  const std::string present = deflated.substr(0, deflated.size() - 10);
  EXPECT_EQ(Unpack(host, longer, ok), ZlibRecovers(present));
  EXPECT_FALSE(ok);
  // Damaged bytes in the middle.
  std::string damaged = deflated;
  for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  Unpack(host, RawRecord(8, damaged, data), ok);
  EXPECT_FALSE(ok);
  // A declared size larger than the data; a wrong CRC; stored sizes that disagree.
  TRecord bigger = RawRecord(8, deflated, data + "x");
  Unpack(host, bigger, ok);
  EXPECT_FALSE(ok);
  TRecord badCrc = good;
  badCrc.item.CentralDir.crc32 ^= 1;
  Unpack(host, badCrc, ok);
  EXPECT_FALSE(ok);
  TRecord stored = RawRecord(0, data, data);
  stored.item.CentralDir.unCompSize -= 1;
  Unpack(host, stored, ok);
  EXPECT_FALSE(ok);
  // Not a local header where one should be.
  TRecord moved = good;
  moved.bytes[0] = 'X';
  Unpack(host, moved, ok);
  EXPECT_FALSE(ok);
}

TEST(CodecCipher, EncryptedItemsRoundTripAndRefuseWrongPasswords) {
  const std::string data = TextData(700'000, 9);
  TestHost plainHost;
  const uint32_t deflatedSize = Pack(plainHost, data, 6).item.CentralDir.compSize;
  for (int mode : {0, 6}) {
    SCOPED_TRACE(mode);
    TestHost host;
    const TRecord r = Pack(host, data, mode, "secret");
    EXPECT_EQ(r.item.CentralDir.compSize, (mode == 0 ? data.size() : deflatedSize) + 12);
    EXPECT_EQ(r.item.CentralDir.crc32, archiver::ZACrc32(data.data(), data.size()));
    bool ok = false;

    host.password = "secret";
    EXPECT_EQ(Unpack(host, r, ok), data);
    EXPECT_TRUE(ok);

    // Wrong, and the event gives up: the item is skipped.
    const std::string wrong = RefusedPassword(r, "wrong");
    host.password = wrong;
    Unpack(host, r, ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(host.FSkipFile);
    EXPECT_EQ(host.passwordRequests, 1);

    // The event is asked until it gives the right one.
    host.password = "";
    host.passwordRequests = 0;
    host.passwordAnswers = {RefusedPassword(r, "still wrong"), "secret"};
    EXPECT_EQ(Unpack(host, r, ok), data);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(host.FSkipFile);
    EXPECT_EQ(host.passwordRequests, 2);
    EXPECT_EQ(host.password, "secret");

    // A password test never asks.
    host.password = wrong;
    host.passwordRequests = 0;
    host.FSuppressPasswordEvent = true;
    Unpack(host, r, ok, 100, 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(host.passwordRequests, 0);
  }
  // An empty encrypted item is its 12-byte header.
  TestHost host;
  const TRecord empty = Pack(host, "", 6, "pw");
  EXPECT_EQ(empty.item.CentralDir.compSize, 12u);
  EXPECT_EQ(empty.item.CentralDir.compMethod, 0);
  host.password = "pw";
  bool ok = false;
  EXPECT_EQ(Unpack(host, empty, ok), "");
  EXPECT_TRUE(ok);
}

TEST(CodecCipher, CyrillicPasswordsMeetTheirCodePageBytes) {
  // The cipher sees a password's 1251 bytes, so an item made with the UTF-8
  // text opens with the text and with its 1251 bytes alike.
  TestHost host;
  const TRecord r = Pack(host, "данные", 0, "пароль");
  for (const char* password : {"пароль", "\xEF\xE0\xF0\xEE\xEB\xFC"}) {
    host.password = password;
    bool ok = false;
    EXPECT_EQ(Unpack(host, r, ok), "данные");
    EXPECT_TRUE(ok);
  }
}

TEST(CodecMethods, Deflate64RaisesOtherMethodsFail) {
  const std::string data = "some data";
  TestHost host;
  try {
    bool ok = false;
    Unpack(host, RawRecord(9, data, data), ok);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 55);
  }
  bool ok = true;
  Unpack(host, RawRecord(12, data, data), ok);  // BZip2
  EXPECT_FALSE(ok);
}

TEST(CodecAES, ShortItemsHideTheirCrcAndWindowsNeedNoCode) {
  // Under 20 bytes the CRC stays out; an empty item stays method 99 with
  // actual method 0 and only its blocks.
  TestHost host;
  host.settings.EncryptionMethod = archiver::caAES_256;
  host.password = "pw";
  bool ok = false;
  for (const std::string& data : {std::string(), std::string(19, 'x'), std::string(20, 'x')}) {
    const TRecord r = Pack(host, data, 6, "pw");
    EXPECT_EQ(r.item.CentralDir.crc32, data.size() < 20 ? 0 : archiver::ZACrc32(data.data(), data.size()));
    EXPECT_EQ(r.item.CentralDir.compMethod, archiver::ZA_METHOD_AES);
    if (data.empty()) {
      EXPECT_EQ(r.item.CompressedSize(), 28u);
      EXPECT_EQ(r.item.CompressionMethod, 0);
    }
    EXPECT_EQ(Unpack(host, r, ok), data);
    EXPECT_TRUE(ok);
  }

  // A window is decrypted from the start and not authenticated: a damaged
  // code does not stop it, while a whole read fails.
  const std::string text = TextData(200'000, 6);
  TRecord damaged = Pack(host, text, 1, "pw");
  damaged.bytes.back() ^= 1;
  EXPECT_EQ(Unpack(host, damaged, ok, 5000, 1000), text.substr(1000, 5000));
  EXPECT_TRUE(ok);
  Unpack(host, damaged, ok);
  EXPECT_FALSE(ok);
}

TEST(CodecProgress, CancelStopsBothWaysAndReportsIt) {
  const std::string data = TextData(2'000'000, 11);
  TestHost host;
  const TRecord r = Pack(host, data, 1);
  EXPECT_GT(host.progressEvents, 3);  // one per 512 KiB chunk
  EXPECT_GT(host.lastFilePercent, 50);
  EXPECT_LT(host.lastFilePercent, 100);

  host.progressEvents = 0;
  host.cancelAtProgressEvent = 1;
  TDirItem item = r.item;
  platform::TStringStream src(data), out;
  EXPECT_FALSE(archiver::ZACompressItem(host, src, out, item));
  EXPECT_TRUE(host.FProgressCancel);

  host.FProgressCancel = false;
  host.progressEvents = 0;
  bool ok = true;
  Unpack(host, r, ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(host.FProgressCancel);

  // Without progress enabled no event fires.
  TestHost quiet;
  quiet.FProgressEnabled = false;
  Pack(quiet, data, 1);
  EXPECT_EQ(quiet.progressEvents, 0);
}

TEST(CodecWrites, DiskFullRetriesFromTheSamePositionOrCancels) {
  const std::string data = TextData(400'000, 13);
  for (bool retry : {true, false}) {
    SCOPED_TRACE(retry);
    TestHost host;
    FullDiskStream out(1000);
    host.onDiskFull = [&] {
      out.Grow(1 << 20);
      return retry;
    };
    TDirItem item;
    item.CompressionMethod = 8;
    item.CompressionMode = 6;
    platform::TStringStream src(data);
    const bool ok = archiver::ZACompressItem(host, src, out, item);
    EXPECT_EQ(ok, retry);
    EXPECT_EQ(host.FProgressCancel, !retry);
    EXPECT_EQ(host.diskFullEvents, 1);
    if (retry) {
      bool unpacked = false;
      item.Name = "x";
      EXPECT_EQ(Unpack(host, MakeRecord(item, out.DataString()), unpacked), data);
      EXPECT_TRUE(unpacked);
    }
  }
}

// A source whose size promises more than it delivers.
class ShortSource : public platform::TStringStream {
 public:
  using platform::TStringStream::TStringStream;
  int64_t Size() override { return platform::TStringStream::Size() + 100; }
};

TEST(CodecSizes, ShortSourceRaises34AndZip64ValuesAreFilled) {
  TestHost host;
  TDirItem item;
  item.CompressionMethod = 8;
  item.CompressionMode = 1;
  ShortSource src("abc");
  platform::TStringStream out;
  try {
    archiver::ZACompressItem(host, src, out, item);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 34);
    EXPECT_NE(std::string(e.what()).find("rfs.size = 103, count = 0"), std::string::npos) << e.what();
  }

  const std::string data = TextData(100'000, 17);
  host.settings.Zip64Always = true;
  const TRecord r = Pack(host, data, 6);
  EXPECT_TRUE(r.item.bHugeFile);
  EXPECT_EQ(r.item.CentralDir.compSize, archiver::ZA_SENTINEL32);
  EXPECT_EQ(r.item.CentralDir.unCompSize, archiver::ZA_SENTINEL32);
  EXPECT_EQ(r.item.Zip64ExtInfo.uncompSize, data.size());
  EXPECT_EQ(r.item.Zip64ExtInfo.compSize, DataOf(r).size());
  bool ok = false;
  EXPECT_EQ(Unpack(host, r, ok), data);
  EXPECT_TRUE(ok);

  host.settings.Zip64Allowed = false;
  try {
    Pack(host, data, 6);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 41);
  }
}

TEST(CodecVolumes, DataRunsOnIntoTheNextVolumeButNotIntoTheDirectory) {
  const std::string data = TextData(200'000, 19);
  TestHost host;
  const TRecord r = Pack(host, data, 6);
  const size_t cut = archiver::TZALocalFileHeader::Size + r.item.Name.size() + 1000;
  platform::TStringStream first(r.bytes.substr(0, cut)), second(r.bytes.substr(cut));
  platform::TStringStream unused;
  archiver::TZADirManager dm(&unused, false, nullptr);
  dm.CentralDirEnd.diskNumber = 1;  // two volumes
  host.settings.Directory = &dm;
  host.volumes = {&first, &second};

  host.settings.MultiVolume = true;
  platform::TStringStream out;
  TDirItem item = r.item;
  EXPECT_TRUE(archiver::ZADecompressItem(host, first, out, item, 0, 0));
  EXPECT_EQ(out.DataString(), data);
  EXPECT_EQ(host.openedVolumes, std::vector<int>{1});

  // A single file never looks for another volume.
  host.settings.MultiVolume = false;
  first.SetPosition(0);
  EXPECT_FALSE(archiver::ZADecompressItem(host, first, out, item, 0, 0));

  // Data that claims to run into the central directory is damaged: those
  // bytes are not the item's.
  TRecord overlong = r;
  overlong.item.CentralDir.compSize += 50;
  overlong.bytes += std::string(100, 'D');  // the directory's first bytes
  overlong.item.DataLimit = r.bytes.size();
  bool ok = true;
  Unpack(host, overlong, ok);
  EXPECT_FALSE(ok);
  // ... and so is an item whose bytes another item shares.
  TRecord shared = r;
  shared.item.Overlaps = true;
  ok = true;
  Unpack(host, shared, ok);
  EXPECT_FALSE(ok);
}

}  // namespace
