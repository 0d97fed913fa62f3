// Helpers of the codec tests: a scriptable codec host, sample data, and
// single-item records (local header, name, data) as an archive holds them.
#pragma once

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archiver/ZACodec.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAZipCrypt.h"
#include "base_util.h"
#include "platform/Streams.h"

namespace codec_test {

using archiver::TDirItem;

// A host whose answers the test sets: the password and the answers the
// password event gives, a progress cancel after some events, disk-full
// retries, and further volumes.
class TestHost : public archiver::TZAProgressState, public archiver::TZACodecHost {
 public:
  archiver::TZACodecSettings settings;
  std::string password;
  std::vector<std::string> passwordAnswers;  // given in turn, then skip
  int passwordRequests = 0;
  int progressEvents = 0;
  int cancelAtProgressEvent = -1;  // cancel at this event (0-based), -1 never
  double lastFilePercent = -1;
  int diskFullEvents = 0;
  std::function<bool()> onDiskFull;  // true: retry
  std::vector<platform::TStream*> volumes;
  std::vector<int> openedVolumes;

  TestHost() { FProgressEnabled = true; }

  archiver::TZAProgressState& CodecProgress() override { return *this; }
  archiver::TZACodecSettings CodecSettings() const override { return settings; }
  std::string CodecPassword() const override { return password; }
  void CodecFileProgress(const std::string&, double percent, archiver::TZAProcessOperation,
                         bool& cancel) override {
    lastFilePercent = percent;
    cancel = progressEvents++ == cancelAtProgressEvent;
  }
  void CodecAskPassword(const std::string&, bool& skip) override {
    skip = passwordRequests >= static_cast<int>(passwordAnswers.size());
    if (!skip) password = passwordAnswers[static_cast<size_t>(passwordRequests)];
    ++passwordRequests;
  }
  void CodecDiskFull(int, const std::string&, bool& cancel) override {
    ++diskFullEvents;
    cancel = !(onDiskFull && onDiskFull());
  }
  platform::TStream* CodecOpenVolume(int number, int) override {
    openedVolumes.push_back(number);
    return number < static_cast<int>(volumes.size()) ? volumes[static_cast<size_t>(number)] : nullptr;
  }
};

// Text-like bytes (words from a small vocabulary): compresses about 3:1.
inline std::string TextData(size_t size, unsigned seed = 1) {
  static const char* words[] = {"книга ", "the ", "archive ", "deflate ", "zip ", "\n", "0123 ",
                                "author ", "title ", "series ", "genre ", "<p>", "</p>"};
  std::mt19937 gen(seed);
  std::string s;
  s.reserve(size + 16);
  while (s.size() < size) s += words[gen() % (sizeof words / sizeof *words)];
  s.resize(size);
  return s;
}

inline std::string RandomData(size_t size, unsigned seed = 2) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// One item as an archive holds it, with its directory entry.
struct TRecord {
  std::string bytes;  // local header, name, data
  TDirItem item;
};

// The record of `item` whose central fields are final, holding `data`.
inline TRecord MakeRecord(TDirItem item, const std::string& data) {
  archiver::TZALocalFileHeader lh;
  lh.signature = archiver::ZA_SIG_LOCAL_HEADER;
  lh.extractVersion = 20;
  lh.genPurposeFlag = item.CentralDir.genPurposeFlag;
  lh.compMethod = item.CentralDir.compMethod;
  lh.lastModTime = item.CentralDir.lastModTime;
  lh.crc32 = item.CentralDir.crc32;
  lh.compSize = item.CentralDir.compSize;
  lh.unCompSize = item.CentralDir.unCompSize;
  lh.nameLength = static_cast<uint16_t>(item.Name.size());
  platform::TStringStream s;
  archiver::ZAWriteRecord(s, lh);
  s.WriteBuffer(item.Name.data(), static_cast<int64_t>(item.Name.size()));
  s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  item.CentralDir.extractVersion = 20;
  return {s.DataString(), item};
}

// A record whose data was made elsewhere (by Python's zlib, or by hand).
inline TRecord RawRecord(uint16_t method, const std::string& data, const std::string& plain,
                         uint16_t flags = 0) {
  TDirItem item;
  item.Name = "raw.txt";
  item.CentralDir.genPurposeFlag = flags;
  item.CentralDir.compMethod = method;
  item.CompressionMethod = method;
  item.CentralDir.crc32 = archiver::ZACrc32(plain.data(), plain.size());
  item.CentralDir.compSize = static_cast<uint32_t>(data.size());
  item.CentralDir.unCompSize = static_cast<uint32_t>(plain.size());
  return MakeRecord(item, data);
}

// Compresses `data` as a new item (mode 0 stores) and returns its record.
inline TRecord Pack(TestHost& host, const std::string& data, int mode,
                    const std::string& password = "") {
  TDirItem item;
  item.Name = "item.txt";
  item.SrcFileName = "/src/item.txt";
  item.CompressionMethod = mode == 0 ? 0 : 8;
  item.CompressionMode = static_cast<uint8_t>(mode);
  item.Password = password;
  if (!password.empty()) item.CentralDir.genPurposeFlag |= archiver::ZA_FLAG_ENCRYPTED;
  item.CentralDir.lastModTime = 0x6543;
  platform::TStringStream src(data), out;
  if (!archiver::ZACompressItem(host, src, out, item)) return {};
  return MakeRecord(item, out.DataString());
}

// The item's stored data (what follows the local header and name).
inline std::string DataOf(const TRecord& r) {
  return r.bytes.substr(archiver::TZALocalFileHeader::Size + r.item.Name.size());
}

// A password that the encryption header of `r` refuses (a wrong password
// passes the one-byte check once in 256 tries: tests that need a refusal
// must not leave that to chance). Tries `base`, then base + "1", "2"...
inline std::string RefusedPassword(const TRecord& r, const std::string& base) {
  for (int i = 0;; ++i) {
    const std::string candidate = i == 0 ? base : base + std::to_string(i);
    platform::TStringStream s(DataOf(r));
    archiver::ZAZipCryptKeys keys;
    if (!archiver::ZACheckClassicPassword(s, candidate, keys, r.item.CentralDir.crc32,
                                          r.item.CentralDir.lastModTime, r.item.CentralDir.genPurposeFlag))
      return candidate;
  }
}

// Extracts from a record; `ok` receives the codec's verdict.
inline std::string Unpack(TestHost& host, const TRecord& r, bool& ok, int32_t count = 0,
                          int64_t start = 0) {
  platform::TStringStream src(r.bytes), out;
  TDirItem item = r.item;
  ok = archiver::ZADecompressItem(host, src, out, item, count, start);
  return out.DataString();
}

// A stream that counts the bytes read from it (to see what a read costs).
class CountingStream : public platform::TStringStream {
 public:
  using platform::TStringStream::TStringStream;
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = platform::TStringStream::Read(buffer, count);
    bytesRead += n;
    return n;
  }
  int64_t bytesRead = 0;
};

// A stream that accepts only `room` bytes before its writes come up short.
class FullDiskStream : public platform::TStringStream {
 public:
  explicit FullDiskStream(int64_t room) : room_(room) {}
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t n = std::max<int64_t>(0, std::min(count, room_ - Position()));
    return platform::TStringStream::Write(buffer, n);
  }
  void Grow(int64_t more) { room_ += more; }

 private:
  int64_t room_;
};

}  // namespace codec_test
