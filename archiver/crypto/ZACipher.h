// Block ciphers: the TCipher framework with its chaining modes, a registry
// of cipher classes, and AES (TCipher_Rijndael, FIPS-197).
//
// A cipher object is keyed once (Init with raw key bytes, or InitKey, which
// also runs the key through the cipher), then codes buffers with
// EncodeBuffer/DecodeBuffer in its current Mode; the chaining state carries
// from one call to the next, so a long message may be coded in pieces of any
// size. Done restarts the chaining from the vector (the counter of cmCTR
// runs on). A cipher is a TProtection, so it can also code strings, streams
// and files and sit in a protection chain.
//
// The archiver's AES items use cmCTR only: a 16-byte counter block that
// starts all zero and is incremented as a little-endian number over its
// first 8 bytes before each block, so the first keystream block is
// E(01 00 .. 00); a partial block at the end of a call is continued by the
// next call.
//
// Security notes. The table-driven AES code leaks its key through cache
// timing to code that runs on the same machine; on processors with AES
// instructions (nearly every x86-64 since 2010) the hardware path is used
// instead, which does not. Neither is a concern for files on disk. The MAC
// modes are plain CBC-MAC style codes: sound only for messages of one fixed
// length.
//
// One object is used by one thread at a time; the registry and the switches
// are safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/crypto/ZADecUtil.h"
#include "archiver/crypto/ZAHashClasses.h"

namespace archiver::crypto {

// A cipher used wrongly. ErrorCode 2: key too long under the strict switch;
// 3: coding before a key was set; 4: a size or mode the cipher cannot code.
class ECipherException : public std::runtime_error {
 public:
  ECipherException(int code, const std::string& message) : std::runtime_error(message), ErrorCode(code) {}
  int ErrorCode;
};

enum TCipherMode : uint8_t {
  cmCTS = 0,     // CBC-like, feedback F := F xor C; tail coded with E(F)
  cmCBC = 1,     // CBC; tail coded with E(F)
  cmCFB = 2,     // 8-bit CFB
  cmOFB = 3,     // 8-bit OFB
  cmCTR = 4,     // counter mode (see above)
  cmECB = 5,     // whole blocks only
  cmCTSMAC = 6,  // MAC modes: Dest is never written; the code is Feedback()
  cmCBCMAC = 7,
  cmCFBMAC = 8,
};

// Block size, maximum key size and key-schedule size of a cipher class,
// in bytes.
struct TCipherContext {
  int BufSize;
  int KeySize;
  int UserSize;
};

class TCipher;

// What a cipher class offers before an object exists: its name, sizes, a
// factory for an unkeyed object and the expected output of its self test.
struct TCipherClassInfo {
  const char* ClassName;
  TCipherContext Context;
  std::shared_ptr<TCipher> (*Create)();
  // SelfTest's expected 32 bytes: see TCipher::SelfTest.
  std::span<const uint8_t> TestVector;
};
using TCipherClass = const TCipherClassInfo*;

// The strict key-size switch, process-wide, off by default: when on, Init
// with a key longer than the cipher's maximum raises ECipherException 2;
// when off such a key is cut to the maximum.
void SetStrictKeySize(bool strict);
bool StrictKeySize();

class TCipher : public TProtection {
 public:
  ~TCipher() override;

  TCipherMode Mode() const { return FMode; }
  void SetMode(TCipherMode AMode) { FMode = AMode; }
  // The hash that turns text keys into keys, made on first use from
  // HashClass (RIPEMD-256 unless set).
  THash& Hash();
  THashClass HashClass() const { return FHashClass; }
  void SetHashClass(THashClass AClass);
  int KeySize() const { return FKeySize; }
  int BufSize() const { return FBufSize; }
  bool Initialized() const { return (FFlags & 2) != 0; }
  // Set once InitKey has completed, cleared by Protect.
  bool HasHashKey() const { return (FFlags & 1) != 0; }
  // The initialisation vector and the chaining register, BufSize bytes each.
  // In a MAC mode Feedback() holds the code until Done.
  std::span<const uint8_t> Vector() const { return FVector; }
  std::span<const uint8_t> Feedback() const { return FFeedback; }

  // Keys the cipher from raw bytes (at most KeySize are used), sets the
  // vector (IVector's BufSize bytes, or nullptr: the vector encrypted with
  // the new key), then encodes a copy of the key bytes in the current mode
  // and ends with Done. The caller's bytes are not changed.
  void InitKey(std::span<const uint8_t> Key, const void* IVector);
  // Keys the cipher from text: the digest of its bytes under HashClass, cut
  // to KeySize, given to the InitKey above.
  void InitKey(std::string_view Key, const void* IVector);
  // Keys the cipher: Size < 0 counts as 0; Size above KeySize raises
  // ECipherException 2 under the strict switch, else is cut to KeySize.
  // Sets the vector as InitKey does and makes the cipher initialised.
  virtual void Init(const void* Key, int Size, const void* IVector) = 0;
  // Restarts the chaining: when the register differs from the vector, it is
  // kept in the work buffer and reset to the vector.
  virtual void Done();
  // Forgets the key: overwrites vector, register, work buffer, key schedule
  // and counter state, and clears both flags.
  virtual void Protect();

  // Codes DataSize bytes from Source to Dest (which may be the same) in the
  // current mode. Raises ECipherException 3 before a key is set, and 4 for
  // a partial block in cmECB or a mode outside the enumeration; Dest is not
  // written then. The MAC modes never write Dest.
  void EncodeBuffer(const void* Source, void* Dest, size_t DataSize);
  void DecodeBuffer(const void* Source, void* Dest, size_t DataSize);

  virtual TCipherClass ClassType() const = 0;
  const char* ClassName() const override { return ClassType()->ClassName; }

  static int MaxKeySize(TCipherClass cls) { return cls->Context.KeySize; }
  // An unkeyed object of the class, keyed with the first bytes of
  // 00 01 02 .. (up to 16) and a zero vector, encodes the 32 bytes
  // 00 11 22 .. FF FF EE .. 00 in cmCTS; true when the result is the class's
  // test vector and decoding restores the data.
  static bool SelfTest(TCipherClass cls);

 protected:
  TCipher(TCipherClass cls, std::shared_ptr<TProtection> AProtection);

  // The key-size rule of Init; returns the size to use.
  int CheckedKeySize(int Size) const;
  virtual void SetFlag(int Index, bool Value);
  // Vector := IVector's BufSize bytes, or when null the vector encrypted in
  // place; then register := vector.
  virtual void SetVector(const void* IVector);
  // One block, Source to Dest (which may be the same).
  virtual void EncodeBlock(const uint8_t* Source, uint8_t* Dest) = 0;
  virtual void DecodeBlock(const uint8_t* Source, uint8_t* Dest) = 0;
  // Many independent blocks (cmECB); a class may do them faster together.
  virtual void EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks);
  virtual void DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks);
  // cmCTR over whole blocks starting at a block boundary: for each block,
  // step the counter, encrypt it and xor it into the data.
  virtual void CounterBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks);
  // Steps the counter block once.
  void IncrementNonce();
  uint8_t* CounterBlock() { return ctrMode_Nonce.data(); }
  // The key-schedule area, UserSize bytes, 16-byte aligned.
  uint32_t* User() { return FUser.data(); }

  void CodeBuf(void* Buffer, int64_t BufferSize, TPAction Action) override;

 private:
  void CheckCodable(size_t DataSize) const;
  void CodeData(const uint8_t* s, uint8_t* d, size_t n, bool decode);
  void CodeCTR(const uint8_t* s, uint8_t* d, size_t n);
  void CodeMAC(const uint8_t* s, size_t n);
  TCipherMode FMode = cmCTS;
  std::shared_ptr<THash> FHash;
  THashClass FHashClass;
  int FKeySize;
  int FBufSize;
  int FUserSize;
  TSecretBytes FBuffer;
  TSecretBytes FVector;
  TSecretBytes FFeedback;
  std::vector<uint32_t, TWipingAllocator<uint32_t>> FUser;
  uint8_t FFlags = 0;
  int ctrMode_Position;
  TSecretBytes ctrMode_EncryptionBlock;
  TSecretBytes ctrMode_Nonce;
};

// AES: 16-byte blocks, keys of up to 32 bytes. A key of at most 16 bytes
// gives 10 rounds, at most 24 bytes 12, else 14; a shorter key is padded
// with zeros to 16, 24 or 32 bytes (so a 20-byte key equals that key
// followed by four zero bytes).
class TCipher_Rijndael : public TCipher {
 public:
  // An unkeyed cipher.
  TCipher_Rijndael();
  // A cipher keyed with InitKey(Key, nullptr) unless Key.data() is null.
  explicit TCipher_Rijndael(std::span<const uint8_t> Key);
  // A cipher linked to AProtection and, unless Password is empty, keyed
  // with InitKey(Password, nullptr).
  TCipher_Rijndael(std::string_view Password, std::shared_ptr<TProtection> AProtection);
  ~TCipher_Rijndael() override;

  void Init(const void* Key, int Size, const void* IVector) override;
  TCipherClass ClassType() const override { return Class(); }
  int Rounds() const { return FRounds; }

  static TCipherClass Class();
  static bool SelfTest() { return TCipher::SelfTest(Class()); }

  // Whether this processor has AES instructions, and whether they are used:
  // by default when present. ForcePortable(true) makes every AES object of
  // the process use the table code (tests, benchmarks).
  static bool HardwareAvailable();
  static void ForcePortable(bool portable);
  static bool HardwareActive();

 protected:
  void EncodeBlock(const uint8_t* Source, uint8_t* Dest) override;
  void DecodeBlock(const uint8_t* Source, uint8_t* Dest) override;
  void EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) override;
  void DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) override;
  void CounterBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) override;

 private:
  int FRounds = 0;
};

// The registered cipher classes: text "name=description", class.
struct TCipherEntry {
  std::string Text;
  TCipherClass Class;
};
// Adds a class, or replaces its entry when it is registered already. An
// empty Name becomes the class name without its leading "T" and up to its
// first "_" ("TCipher_Rijndael" -> "Rijndael"). TCipher_Rijndael is
// registered from the start.
void RegisterCipherClass(TCipherClass cls, std::string_view Name, std::string_view Description);
std::vector<TCipherEntry> RegisteredCipherClasses();

}  // namespace archiver::crypto
