// BENCH_LIBS: archiver
// The item codec against raw zlib in the same run: 100 MB compressed and
// decompressed through ZACompressItem/ZADecompressItem and through a plain
// raw-deflate loop at the same level (with zlib's crc32, which any zip
// writer or reader must compute as well). Prints MB/s and the ratio
// zlib time / codec time (target >= 0.95). Then the window read that the
// catalogue uses for book heads: 2,000 bytes from a 5 MB item against
// inflating the whole item.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "archiver/ZACodec.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAStreams.h"
#include "platform/Streams.h"

namespace {

using Clock = std::chrono::steady_clock;

using bench::BestSeconds;
using bench::TextData;

struct Host : archiver::TZAProgressState, archiver::TZACodecHost {
  archiver::TZAProgressState& CodecProgress() override { return *this; }
};

// The item's record: local header, name, data.
std::string Record(const archiver::TDirItem& item, const std::string& data) {
  archiver::TZALocalFileHeader lh;
  lh.signature = archiver::ZA_SIG_LOCAL_HEADER;
  lh.compMethod = item.CentralDir.compMethod;
  lh.crc32 = item.CentralDir.crc32;
  lh.compSize = item.CentralDir.compSize;
  lh.unCompSize = item.CentralDir.unCompSize;
  lh.nameLength = 1;
  platform::TStringStream s;
  archiver::ZAWriteRecord(s, lh);
  s.WriteBuffer("x", 1);
  s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  return s.DataString();
}

archiver::TDirItem NewItem(int level) {
  archiver::TDirItem item;
  item.Name = "x";
  item.CompressionMethod = 8;
  item.CompressionMode = static_cast<uint8_t>(level);
  return item;
}

std::string ZlibDeflate(const std::string& data, int level, uint32_t& crc) {
  std::string out(compressBound(static_cast<uLong>(data.size())), '\0');
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

size_t ZlibInflate(const std::string& deflated, std::string& out, uint32_t& crc) {
  z_stream z{};
  inflateInit2(&z, -MAX_WBITS);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  z.avail_in = static_cast<uInt>(deflated.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(out.data()), z.total_out));
  const size_t n = z.total_out;
  inflateEnd(&z);
  return n;
}

void CompareWithZlib(const std::string& data, int level) {
  const double mb = static_cast<double>(data.size()) / 1e6;
  Host host;
  platform::TMemoryStream src;
  src.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));

  archiver::TDirItem item;
  platform::TStringStream packed;
  const double codecC = BestSeconds(3, [&] {
    item = NewItem(level);
    packed.SetSize(0);
    packed.SetPosition(0);
    archiver::ZACompressItem(host, src, packed, item);
  });
  uint32_t crc = 0;
  std::string deflated;
  const double zlibC = BestSeconds(3, [&] { deflated = ZlibDeflate(data, level, crc); });

  const std::string record = Record(item, packed.DataString());
  platform::TStringStream in(record);
  platform::TMemoryStream out;
  out.SetSize(static_cast<int64_t>(data.size()));
  bool ok = true;
  const double codecD = BestSeconds(3, [&] {
    in.SetPosition(0);
    out.SetPosition(0);
    archiver::TDirItem it = item;
    ok = ok && archiver::ZADecompressItem(host, in, out, it, 0, 0);
  });
  std::string plain(data.size(), '\0');
  uint32_t crc2 = 0;
  size_t n = 0;
  const double zlibD = BestSeconds(3, [&] { n = ZlibInflate(deflated, plain, crc2); });

  std::printf("level %d: compressed %.1f MB (codec) / %.1f MB (zlib)%s\n", level,
              static_cast<double>(packed.Size()) / 1e6, static_cast<double>(deflated.size()) / 1e6,
              ok && n == data.size() && crc2 == crc ? "" : "  CHECK FAILED");
  std::printf("  compress:   codec %7.1f MB/s   zlib %7.1f MB/s   ratio %.3f\n", mb / codecC, mb / zlibC,
              zlibC / codecC);
  std::printf("  decompress: codec %7.1f MB/s   zlib %7.1f MB/s   ratio %.3f\n", mb / codecD, mb / zlibD,
              zlibD / codecD);
}

void WindowVersusWhole() {
  const std::string data = TextData(5'000'000);
  Host host;
  archiver::TDirItem item = NewItem(1);
  platform::TStringStream src(data), packed;
  archiver::ZACompressItem(host, src, packed, item);
  const std::string record = Record(item, packed.DataString());
  platform::TStringStream in(record);

  std::string head;
  const int windows = 2000;
  const double windowS = BestSeconds(3, [&] {
    for (int i = 0; i < windows; ++i) {
      in.SetPosition(0);
      platform::TStringStream out;
      archiver::TDirItem it = item;
      archiver::ZADecompressItem(host, in, out, it, 2000, 0);
      head = out.DataString();
    }
  });
  archiver::TNullStream sink;
  const int wholes = 10;
  bool ok = true;
  const double wholeS = BestSeconds(3, [&] {
    for (int i = 0; i < wholes; ++i) {
      in.SetPosition(0);
      archiver::TDirItem it = item;
      ok = ok && archiver::ZADecompressItem(host, in, sink, it, 0, 0);
    }
  });
  const double w = windowS / windows * 1e6, h = wholeS / wholes * 1e6;
  std::printf("window of 2,000 bytes from a 5 MB item (mode 1): %.1f us; whole item: %.0f us (%.0fx)%s\n", w, h,
              h / w, ok && head == data.substr(0, 2000) ? "" : "  CHECK FAILED");
}

}  // namespace

int main() {
  const std::string data = TextData(100'000'000);
  for (int level : {1, 6}) CompareWithZlib(data, level);
  WindowVersusWhole();
  return 0;
}
