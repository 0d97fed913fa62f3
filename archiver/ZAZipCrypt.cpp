#include "archiver/ZAZipCrypt.h"

#include <zlib.h>

#include <array>

#include "platform/CodePage.h"
#include "platform/Random.h"

namespace archiver {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x77073096u && kCrcTable[255] == 0x2D02EF8Du);

inline void UpdateKeys(ZAZipCryptKeys& k, uint8_t c) {
  k.Key0 = ZACrc32Step(k.Key0, c);
  k.Key1 = (k.Key1 + (k.Key0 & 0xFF)) * 134775813u + 1;
  k.Key2 = ZACrc32Step(k.Key2, static_cast<uint8_t>(k.Key1 >> 24));
}

inline uint8_t KeystreamByte(const ZAZipCryptKeys& k) {
  const uint32_t t = (k.Key2 | 2) & 0xFFFF;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

}  // namespace

// Same values as kCrcTable; spelled out as an array object so that other units
// can index it without a constexpr dependency on this file.
const uint32_t ZACrc32TableData[256] = {
#define ZA_ROW(i) kCrcTable[i], kCrcTable[i + 1], kCrcTable[i + 2], kCrcTable[i + 3], \
                  kCrcTable[i + 4], kCrcTable[i + 5], kCrcTable[i + 6], kCrcTable[i + 7]
    ZA_ROW(0),   ZA_ROW(8),   ZA_ROW(16),  ZA_ROW(24),  ZA_ROW(32),  ZA_ROW(40),  ZA_ROW(48),
    ZA_ROW(56),  ZA_ROW(64),  ZA_ROW(72),  ZA_ROW(80),  ZA_ROW(88),  ZA_ROW(96),  ZA_ROW(104),
    ZA_ROW(112), ZA_ROW(120), ZA_ROW(128), ZA_ROW(136), ZA_ROW(144), ZA_ROW(152), ZA_ROW(160),
    ZA_ROW(168), ZA_ROW(176), ZA_ROW(184), ZA_ROW(192), ZA_ROW(200), ZA_ROW(208), ZA_ROW(216),
    ZA_ROW(224), ZA_ROW(232), ZA_ROW(240), ZA_ROW(248),
#undef ZA_ROW
};

uint32_t ZACrc32Table(uint32_t reg, const void* buffer, int64_t count) {
  if (buffer == nullptr || count < 1) return reg;
  // zlib's crc32 takes and returns the finished (complemented) value; its
  // table-driven code is several times faster than a byte loop.
  const auto* p = static_cast<const Bytef*>(buffer);
  uLong crc = ~reg & 0xFFFFFFFFu;
  while (count > 0) {
    const z_size_t chunk = static_cast<z_size_t>(count);
    crc = crc32_z(crc, p, chunk);
    p += chunk;
    count -= static_cast<int64_t>(chunk);
  }
  return ~static_cast<uint32_t>(crc);
}

void ZAUpdateCrc32(const void* buffer, int64_t count, uint32_t& reg) {
  reg = ZACrc32Table(reg, buffer, count);
}

uint32_t ZACrc32(const void* buffer, size_t count) {
  return ~ZACrc32Table(0xFFFFFFFFu, buffer, static_cast<int64_t>(count));
}

std::string ZAPasswordBytes(std::string_view utf8Password) { return platform::PasswordBytes(utf8Password); }

void ZAZipCryptInitKeys(std::string_view passwordBytes, ZAZipCryptKeys& keys) {
  keys = ZAZipCryptKeys{};
  for (char c : passwordBytes) UpdateKeys(keys, static_cast<uint8_t>(c));
}

void ZAZipCryptInitDecrypt(std::string_view passwordBytes, ZAZipCryptKeys& keys,
                           uint8_t header[ZAZipCryptHeaderSize]) {
  ZAZipCryptInitKeys(passwordBytes, keys);
  ZAZipCryptDecryptBuffer(header, ZAZipCryptHeaderSize, keys);
}

uint8_t ZAZipCryptEncryptByte(uint8_t plain, ZAZipCryptKeys& keys) {
  const uint8_t k = KeystreamByte(keys);
  UpdateKeys(keys, plain);
  return plain ^ k;
}

uint8_t ZAZipCryptDecryptByte(uint8_t cipher, ZAZipCryptKeys& keys) {
  const uint8_t plain = cipher ^ KeystreamByte(keys);
  UpdateKeys(keys, plain);
  return plain;
}

void ZAZipCryptEncryptBuffer(int64_t count, int64_t offset, uint8_t* buffer, ZAZipCryptKeys& keys) {
  if (buffer == nullptr || count < 1) return;
  uint8_t* p = buffer + offset;
  ZAZipCryptKeys k = keys;  // a local copy stays in registers
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t plain = p[i];
    p[i] = plain ^ KeystreamByte(k);
    UpdateKeys(k, plain);
  }
  keys = k;
}

void ZAZipCryptDecryptBuffer(uint8_t* buffer, int64_t count, ZAZipCryptKeys& keys) {
  if (buffer == nullptr || count < 1) return;
  ZAZipCryptKeys k = keys;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t plain = buffer[i] ^ KeystreamByte(k);
    buffer[i] = plain;
    UpdateKeys(k, plain);
  }
  keys = k;
}

void ZAZipCryptMakeHeader(uint32_t crc, uint8_t header[ZAZipCryptHeaderSize]) {
  platform::RandomBytes(header, 10);
  header[10] = static_cast<uint8_t>(crc >> 16);
  header[11] = static_cast<uint8_t>(crc >> 24);
}

bool ZAZipCryptCheckHeader(const uint8_t decryptedHeader[ZAZipCryptHeaderSize],
                           uint16_t genPurposeFlag, uint16_t lastModTime, uint32_t crc) {
  const uint8_t expected = (genPurposeFlag & 0x0008) ? static_cast<uint8_t>(lastModTime >> 8)
                                                     : static_cast<uint8_t>(crc >> 24);
  return decryptedHeader[11] == expected;
}

}  // namespace archiver
