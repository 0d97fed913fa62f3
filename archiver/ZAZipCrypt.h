// CRC-32 and the traditional zip (PKWARE) stream cipher.
//
// CRC-32 is the reflected CRC with polynomial 0xEDB88320 used by zip. The
// routines carry a running *register*: the caller starts it at 0xFFFFFFFF
// and stores its complement as the item's CRC (ZACrc32 does both).
//
// The traditional cipher keeps three 32-bit keys updated by every plain
// byte. An encrypted item's data is preceded by a 12-byte header: ten random
// bytes and the CRC's bits 16-23 and 24-31, all encrypted with the continuing
// key state. On reading, byte 11 of the decrypted header is the one check
// byte: it must equal the high byte of the item's modification time when the
// item has a data descriptor (flag bit 3), else the CRC's high byte. One byte
// only: a wrong password passes once in 256 tries, and the CRC test after
// extraction catches it.
//
// All routines work in place on caller buffers and allocate nothing; they are
// pure apart from the key state the caller passes, and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace archiver {

// The 256-entry CRC table (entry n: n shifted right eight times, each time
// xor 0xEDB88320 when the low bit was set). The cipher's key schedule uses it.
extern const uint32_t ZACrc32TableData[256];

// The register after feeding `count` bytes; a null buffer or a count below 1
// returns the register unchanged.
uint32_t ZACrc32Table(uint32_t reg, const void* buffer, int64_t count);
// reg := ZACrc32Table(reg, buffer, count).
void ZAUpdateCrc32(const void* buffer, int64_t count, uint32_t& reg);
// The finished CRC-32 of a buffer (register from 0xFFFFFFFF, complemented).
uint32_t ZACrc32(const void* buffer, size_t count);

// One CRC step of a single byte, without inversion.
inline uint32_t ZACrc32Step(uint32_t reg, uint8_t b) {
  return ZACrc32TableData[(reg ^ b) & 0xFF] ^ (reg >> 8);
}

struct ZAZipCryptKeys {
  uint32_t Key0 = 0x12345678;
  uint32_t Key1 = 0x23456789;
  uint32_t Key2 = 0x34567890;
  bool operator==(const ZAZipCryptKeys&) const = default;
};

inline constexpr int ZAZipCryptHeaderSize = 12;

// The bytes a password feeds to the cipher: platform::PasswordBytes (the
// 1251 bytes, or the UTF-8 bytes of a password 1251 cannot hold).
std::string ZAPasswordBytes(std::string_view utf8Password);

// Keys := the three constants, then updated with every password byte.
void ZAZipCryptInitKeys(std::string_view passwordBytes, ZAZipCryptKeys& keys);
// InitKeys, then decrypts the 12 header bytes in place.
void ZAZipCryptInitDecrypt(std::string_view passwordBytes, ZAZipCryptKeys& keys,
                           uint8_t header[ZAZipCryptHeaderSize]);
// Returns the encrypted byte; the keys take the plain byte.
uint8_t ZAZipCryptEncryptByte(uint8_t plain, ZAZipCryptKeys& keys);
// Returns the plain byte; the keys take it.
uint8_t ZAZipCryptDecryptByte(uint8_t cipher, ZAZipCryptKeys& keys);
// Encrypts bytes offset .. offset + count - 1 of `buffer` in place.
void ZAZipCryptEncryptBuffer(int64_t count, int64_t offset, uint8_t* buffer, ZAZipCryptKeys& keys);
// Decrypts bytes 0 .. count - 1 of `buffer` in place.
void ZAZipCryptDecryptBuffer(uint8_t* buffer, int64_t count, ZAZipCryptKeys& keys);

// The plain 12-byte header a writer puts before an item's data: ten bytes
// from the system's random source, then bits 16-23 and 24-31 of `crc`.
// The writer encrypts it with ZAZipCryptEncryptBuffer right after InitKeys.
void ZAZipCryptMakeHeader(uint32_t crc, uint8_t header[ZAZipCryptHeaderSize]);
// Whether a decrypted header accepts the password: byte 11 against the high
// byte of `lastModTime` when `genPurposeFlag` has bit 3, else against the high
// byte of `crc`.
bool ZAZipCryptCheckHeader(const uint8_t decryptedHeader[ZAZipCryptHeaderSize],
                           uint16_t genPurposeFlag, uint16_t lastModTime, uint32_t crc);

}  // namespace archiver
