// The per-item cipher of AES-encrypted items (the AE-1/AE-2 layout other
// zip tools know): AES in counter mode over the item's compressed data,
// authenticated by HMAC-SHA-1 over the ciphertext, with keys derived from
// the password by PBKDF2-HMAC-SHA-1 (1000 iterations).
//
// Item data layout (counted in the item's compressed size; the header's
// compression method is 99, the real one is in the 0x9901 field):
//   offset 0       salt, n/2 bytes (n = key length: 16, 24 or 32)
//   offset n/2     password verifier, 2 bytes
//   offset n/2+2   the compressed data, encrypted (AES-CTR, counter block
//                  16 bytes, first 8 incremented little-endian before each
//                  block, starting from zero)
//   then           authentication code, 10 bytes: the first 10 bytes of
//                  HMAC-SHA-1 over the encrypted data
// So an item is 20, 24 or 28 bytes longer than its compressed data.
// Key derivation: PBKDF2 gives 2n + 2 bytes: the AES key (bytes 0..n-1),
// the HMAC key (n..2n-1), the verifier (the last two).
//
// Extra field 0x9901, 7 data bytes, little-endian:
//   0  2  vendor version: 1 (AE-1) or 2 (AE-2)
//   2  2  vendor "AE"
//   4  1  strength: 1, 2, 3 for 128-, 192-, 256-bit keys
//   5  2  the compression method of the data
// AE-2 items carry CRC 0 or their real CRC and rest on the authentication
// code alone; AE-1 items are checked on both. Every item carries the code.
//
// A transform serves one item, in one direction, on one thread. Keys,
// password and derived bytes are wiped on Reset and destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archiver/ZADirectory.h"
#include "archiver/ZARecords.h"
#include "archiver/crypto/ZADecUtil.h"
#include "archiver/crypto/ZAhmac.h"
#include "platform/Streams.h"

namespace archiver {

namespace crypto {
class TCipher_Rijndael;
class TPBKDF2;
}  // namespace crypto

enum class TCryptoTransformMode { Encryption, Decryption };

// Items shorter than this get CRC 0 when written with AES (see the layout
// above): up to 4 bytes a CRC is the content, and short texts fall to a
// search. Readers accept either; longer items keep the real CRC.
inline constexpr int64_t ZAAESMinCrcSize = 20;

// The vendor version new items are written with (AE-2).
inline constexpr uint16_t ZAAESWrittenVersion = 2;

// Bytes an AES item's blocks add to its data (salt, verifier, code) for a
// key of `keyBits`: 20, 24 or 28.
inline constexpr int ZAAESOverhead(int keyBits) { return keyBits / 16 + 2 + 10; }

// Key length in bits of an AES algorithm (128, 192, 256); 0 for the
// traditional cipher.
int ZAAESKeyBits(TZACryptoAlgorithm algorithm);

// What an item's 0x9901 field says, when it describes an AES item that can
// be read: vendor "AE", strength 1 to 3. False for a missing or short field
// or other values.
bool ZAReadAESExtraField(const TDirItem& item, TZAAESExtraInfo& info);

// The cipher of one item's data, as the codec drives it.
class TZACryptoTransform {
 public:
  virtual ~TZACryptoTransform() = default;
  TZACryptoTransform(const TZACryptoTransform&) = delete;
  TZACryptoTransform& operator=(const TZACryptoTransform&) = delete;

  // Makes the keys from Password (UTF-8, see ZAPasswordBytes): encrypting,
  // with a fresh salt; decrypting, with the salt loaded (without one it only
  // keeps the password). Nothing is checked: see CheckPassword.
  virtual void GenerateKey(const std::string& Password) = 0;
  // Decrypting, after LoadFileStorageStartBlock: whether Password opens the
  // item by its verifier. An accepted password's keys are kept, ready for
  // DecryptBuffer (GenerateKey with it then costs nothing).
  virtual bool CheckPassword(const std::string& Password, const TDirItem& Item) = 0;
  // The encryption key (empty before one was made).
  virtual std::span<const uint8_t> GetKey() const = 0;
  virtual const std::string& GetPassword() const = 0;
  virtual void Initialize(TCryptoTransformMode Mode, const TDirItem& Item);
  // Forgets password, keys, salt, verifier and cipher.
  virtual void Reset() = 0;
  // Code InputCount bytes from InputBuffer + InputOffset to OutputBuffer +
  // OutputOffset (which may be the same bytes); return InputCount. Raise
  // std::logic_error before keys exist.
  virtual int64_t DecryptBuffer(const uint8_t* InputBuffer, int64_t InputOffset, int64_t InputCount,
                                uint8_t* OutputBuffer, int64_t OutputOffset) = 0;
  virtual int64_t EncryptBuffer(const uint8_t* InputBuffer, int64_t InputOffset, int64_t InputCount,
                                uint8_t* OutputBuffer, int64_t OutputOffset) = 0;
  // The bytes before the data (salt and verifier).
  virtual std::vector<uint8_t> GetFileStorageStartBlock() = 0;
  // Seeks Offset bytes from the stream's position and reads the start
  // block; false when the stream ends first.
  virtual bool LoadFileStorageStartBlock(platform::TStream& Stream, int64_t Offset) = 0;
  virtual int GetFileStorageStartBlockSize() const = 0;
  // The bytes after the data (the authentication code; finishes the MAC).
  virtual std::vector<uint8_t> GetFileStorageEndBlock() = 0;
  virtual bool LoadFileStorageEndBlock(platform::TStream& Stream, int64_t Offset) = 0;
  virtual int GetFileStorageEndBlockSize() const = 0;
  // After the whole item was decrypted: whether it fails its checks (the
  // authentication code, and for AE-1 the CRC of the extracted bytes).
  virtual bool IsDirItemCorrupted(const TDirItem& Item, uint32_t Crc32) = 0;
  // The item's 0x9901 field.
  virtual void GetExtraFieldData(TZAExtraFieldDataBlock& block) = 0;

 protected:
  TZACryptoTransform() = default;
  TCryptoTransformMode FTransformMode = TCryptoTransformMode::Encryption;
};

class TAESCryptoTransform final : public TZACryptoTransform {
 public:
  // Strength: key bits, 128, 192 or 256 (else std::invalid_argument);
  // Crypt_version: the vendor version written and read (1 or 2);
  // ActualCompMethod: the compression method of the data.
  TAESCryptoTransform(int Strength, uint16_t Crypt_version, uint16_t ActualCompMethod);
  ~TAESCryptoTransform() override;
  static std::unique_ptr<TAESCryptoTransform> CreateAESEncryption(int KeyLengthBits, uint16_t VersionNumber,
                                                                  uint16_t CompressionMethod);

  void GenerateKey(const std::string& Password) override;
  bool CheckPassword(const std::string& Password, const TDirItem& Item) override;
  std::span<const uint8_t> GetKey() const override { return FEncryptionKey; }
  const std::string& GetPassword() const override { return FPassword; }
  void Reset() override;
  int64_t DecryptBuffer(const uint8_t* InputBuffer, int64_t InputOffset, int64_t InputCount,
                        uint8_t* OutputBuffer, int64_t OutputOffset) override;
  int64_t EncryptBuffer(const uint8_t* InputBuffer, int64_t InputOffset, int64_t InputCount,
                        uint8_t* OutputBuffer, int64_t OutputOffset) override;
  std::vector<uint8_t> GetFileStorageStartBlock() override;
  bool LoadFileStorageStartBlock(platform::TStream& Stream, int64_t Offset) override;
  int GetFileStorageStartBlockSize() const override { return FKeyLengthBytes / 2 + 2; }
  std::vector<uint8_t> GetFileStorageEndBlock() override;
  bool LoadFileStorageEndBlock(platform::TStream& Stream, int64_t Offset) override;
  int GetFileStorageEndBlockSize() const override { return FAuthenticationCodeSize; }
  bool IsDirItemCorrupted(const TDirItem& Item, uint32_t Crc32) override;
  void GetExtraFieldData(TZAExtraFieldDataBlock& block) override;

 private:
  // Derives the keys and verifier of `passwordBytes` with the salt held,
  // without keeping them.
  struct TDerived;
  TDerived Derive(const std::string& passwordBytes) const;
  // Derives from `passwordBytes` and takes the keys when the verifier
  // matches the stored one.
  bool AcceptIfVerified(const std::string& passwordBytes);
  // Takes derived keys as the transform's own: cipher and MAC start.
  void UseKeys(TDerived&& d);
  void RequireKeys() const;
  // Encrypts or decrypts `count` bytes, the MAC taking the ciphertext.
  int64_t Code(const uint8_t* in, uint8_t* out, int64_t count, bool decrypt);
  void FinishMac(uint8_t code[10]);

  std::unique_ptr<crypto::TPBKDF2> FKeyGenerator;
  crypto::THMAC_Context FHMAC_Context{};
  const crypto::THashDesc* FPHash;
  std::unique_ptr<crypto::TCipher_Rijndael> FCryptor;
  uint16_t FKeyLengthBytes;
  crypto::TSecretBytes FHashKey;
  crypto::TSecretBytes FEncryptionKey;
  crypto::TSecretBytes FPasswordVerificationValue;
  crypto::TSecretBytes FSaltValue;
  crypto::TSecretBytes FAuthenticationCode;
  std::string FPassword;
  uint16_t FVersion;
  uint16_t FActualCompressionMethod;
  int32_t FAuthenticationCodeSize = 10;
  bool FSaltLoaded = false;  // decrypting: the item's salt and verifier are in
  bool FMacOpen = false;     // the HMAC runs (keys made, code not yet taken)
};

}  // namespace archiver
