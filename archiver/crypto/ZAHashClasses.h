// The THash family: hash objects that can also run in a protection chain.
// THash_MD4 (RFC 1320) and THash_RipeMD256; the ciphers use RIPEMD-256 to
// turn a text key into key bytes. (The archiver's own SHA-1 is the
// descriptor-based one of ZAHash/ZAsha1.)
//
// Use: Init, Calc as often as needed, Done, then DigestKey holds the digest.
// Both count the message length in 64 bits, so inputs of 4 GiB and more hash
// correctly.
//
// In a protection chain a hash acts on
//  - paCalc: the data is fed to Calc; the run ends with Done, so the digest
//    is ready after CodeBuffer/CodeStream;
//  - paEncode, paDecode and paWipe: the data is xored, digest-sized piece by
//    piece, with a keystream: before each piece the current digest is hashed
//    (Calc, Done) and the new digest is the piece's key. Encoding and
//    decoding are therefore the same operation; paWipe first fills the
//    digest with random bytes, so what it overwrites cannot be recovered;
//  - paScramble: the data passes unchanged.
// Every run starts with Init and, except paCalc, ends with Init.
//
// One object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "archiver/crypto/ZADecUtil.h"

namespace archiver::crypto {

class THash;

// What a hash class offers before an object exists.
struct THashClassInfo {
  const char* ClassName;
  int DigestKeySize;
  std::shared_ptr<THash> (*Create)();
  // The digest of "abc", for SelfTest.
  std::span<const uint8_t> TestVector;
};
using THashClass = const THashClassInfo*;

class THash : public TProtection {
 public:
  ~THash() override;

  // Starts a new message.
  virtual void Init() = 0;
  // Feeds DataSize bytes.
  virtual void Calc(const void* Data, size_t DataSize) = 0;
  // Finishes the message; DigestKey then holds its digest. A Calc after Done
  // continues from that digest as the state, with a new length count.
  virtual void Done() = 0;
  virtual const uint8_t* DigestKey() const = 0;
  virtual int DigestKeySize() const = 0;

  virtual THashClass ClassType() const = 0;
  const char* ClassName() const override { return ClassType()->ClassName; }

  // The digest as text in a TStringFormat id (-1: the default format).
  std::string DigestStr(int Format = fmtDEFAULT) const;

  // A new object of `cls` hashes the data, after the protection chain
  // `Protection` (when given) has coded it with paCalc, and returns
  // DigestStr(Format). The caller's data is not changed.
  static std::string CalcBuffer(THashClass cls, const void* Buffer, size_t BufferSize,
                                std::shared_ptr<TProtection> Protection = nullptr, int Format = fmtDEFAULT);
  // StreamSize < 0: the whole stream from position 0.
  static std::string CalcStream(THashClass cls, platform::TStream& Stream, int64_t StreamSize,
                                std::shared_ptr<TProtection> Protection = nullptr, int Format = fmtDEFAULT);
  static std::string CalcString(THashClass cls, std::string_view Data,
                                std::shared_ptr<TProtection> Protection = nullptr, int Format = fmtDEFAULT);
  static std::string CalcFile(THashClass cls, const std::string& FileName,
                              std::shared_ptr<TProtection> Protection = nullptr, int Format = fmtDEFAULT);
  // Whether the digest of "abc" is the class's test vector.
  static bool SelfTest(THashClass cls);

 protected:
  using TProtection::TProtection;
  void CodeInit(TPAction Action) override;
  void CodeDone(TPAction Action) override;
  void CodeBuf(void* Buffer, int64_t BufferSize, TPAction Action) override;

  // The digest bytes, writable (paWipe fills them with random bytes).
  virtual uint8_t* DigestBytes() = 0;
};

// MD4: 16-byte digest.
class THash_MD4 : public THash {
 public:
  explicit THash_MD4(std::shared_ptr<TProtection> AProtection = nullptr);
  ~THash_MD4() override;

  void Init() override;
  void Calc(const void* Data, size_t DataSize) override;
  void Done() override;
  const uint8_t* DigestKey() const override { return reinterpret_cast<const uint8_t*>(FDigest); }
  int DigestKeySize() const override { return 16; }
  THashClass ClassType() const override { return Class(); }
  static THashClass Class();

 protected:
  uint8_t* DigestBytes() override { return reinterpret_cast<uint8_t*>(FDigest); }
  // Compresses one 64-byte block into the state.
  virtual void Transform(const uint8_t* Block);

  // The state words; the digest is their little-endian bytes.
  uint32_t FDigest[8] = {};

 private:
  uint8_t FBuffer[64] = {};
  size_t FIndex = 0;
  uint64_t FCount = 0;  // bytes hashed since Init or Done
};

// RIPEMD-256: 32-byte digest; MD4's padding and its four initial words
// followed by 0x76543210, 0xFEDCBA98, 0x89ABCDEF, 0x01234567.
class THash_RipeMD256 : public THash_MD4 {
 public:
  explicit THash_RipeMD256(std::shared_ptr<TProtection> AProtection = nullptr);

  void Init() override;
  int DigestKeySize() const override { return 32; }
  THashClass ClassType() const override { return Class(); }
  static THashClass Class();

 protected:
  void Transform(const uint8_t* Block) override;
};

}  // namespace archiver::crypto
