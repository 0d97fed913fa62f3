// The archiver's cryptographic library: what it does, relies on, promises.
//
// archiver/crypto/ holds the block ciphers (ZACipher: the TCipher framework
// with nine chaining modes and AES), two hash families (the descriptor-based
// SHA-1 of ZAHash/ZAsha1 with HMAC, PBKDF2 and the key generator TPBKDF2;
// and the object-oriented THash classes, MD4 and RIPEMD-256, in
// ZAHashClasses), the text formats that turn bytes into hexadecimal, Base64,
// UU or XX text and back, and the protection chain that runs several coding
// objects over buffers, strings, streams and files (this file).
//
// It relies on platform/ only: streams and files for CodeStream/CodeFile,
// the system's random source for salts. It knows nothing of zip archives;
// the archiver's AES items are built on it.
//
// Promises:
//  - Everything computes exactly the published algorithms (FIPS-197 AES,
//    FIPS 180 SHA-1, RFC 2104 HMAC, RFC 2898 PBKDF2, RFC 1320 MD4,
//    RIPEMD-256, RFC 4648 Base64); the tests hold them to peers.
//  - No input makes it read or write outside the buffers it is given: bad
//    text raises EStringFormat, misuse of a cipher ECipherException.
//  - Key material it copies (keys, key schedules, HMAC pads, PBKDF2 work
//    areas, finished digests held by contexts) is wiped when done with.
//  - The registries (text formats, hash descriptors, cipher classes) are
//    filled before first use and safe to read from any thread; coding
//    objects themselves are used by one thread at a time.
//
// This file: the protection chain (TProtection), its exceptions, the text
// formats and the small byte helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class TStream;
}

namespace archiver::crypto {

// Linking a protection would make its chain circular.
class EProtection : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text format is unknown, or text is not valid in it.
class EStringFormat : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// Memory that holds secrets.

// Overwrites `size` bytes in a way the compiler may not drop.
void ProtectMemory(void* p, size_t size);

// An allocator that wipes every block before giving it back, so a vector of
// key bytes leaves nothing behind when it grows, shrinks or dies.
template <class T>
struct TWipingAllocator {
  using value_type = T;
  TWipingAllocator() = default;
  template <class U>
  TWipingAllocator(const TWipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, size_t n) noexcept {
    ProtectMemory(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <class U>
  bool operator==(const TWipingAllocator<U>&) const noexcept { return true; }
};

// Owned key bytes: wiped when released.
using TSecretBytes = std::vector<uint8_t, TWipingAllocator<uint8_t>>;

// ---------------------------------------------------------------------------
// The protection chain.

enum TPAction : uint8_t { paEncode, paDecode, paScramble, paCalc, paWipe };
// A set of actions: bit (1 << action).
using TPActions = uint8_t;
constexpr TPActions PActions(TPAction a) { return static_cast<TPActions>(1u << a); }
constexpr TPActions paAllActions = 0x1F;

// The progress of CodeStream/CodeFile runs, process-wide: told (0, total) at
// the start, (done, total) after each block and (0, 0) at the end. Set it
// before coding starts; it is called on the coding thread.
using TProtectionProgress = std::function<void(int64_t done, int64_t total)>;
void SetProtectionProgress(TProtectionProgress progress);

// A coding object that may pass its work on to another: a cipher or a hash
// with, optionally, a next protection linked to it. A run (CodeBuffer,
// CodeStream, CodeString, CodeFile) calls the start hook, the buffer hook for
// each piece of data and the end hook, each of which the object applies and
// passes on along the chain. Encoding runs the chain from its far end inward
// (the linked protection codes first), decoding the other way, so decoding
// through the same chain undoes encoding. An object acts only on the actions
// in its Actions set (all five after creation) but always passes the call on.
//
// Links are shared: a protection may sit in several chains. One thread at a
// time.
class TProtection {
 public:
  explicit TProtection(std::shared_ptr<TProtection> AProtection = nullptr);
  virtual ~TProtection();
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;

  const std::shared_ptr<TProtection>& Protection() const { return FProtection; }
  // Replaces the link. Raises EProtection ("Circular Protection detected,
  // Protection Object is invalid.") when the new chain would reach this
  // object again; the old link then stays.
  void SetProtection(std::shared_ptr<TProtection> AProtection);
  TPActions Actions() const { return FActions; }
  void SetActions(TPActions AActions) { FActions = AActions; }

  // The class's own name ("TCipher_Rijndael"), and its identity: the
  // complement of the CRC-16 of that name started from 0x1234.
  virtual const char* ClassName() const { return "TProtection"; }
  uint16_t Identity() const;

  // Codes `Source` into `Dest` (nullptr: back into Source) in blocks of at
  // most 4096 bytes, from Source's position, at most DataSize bytes; a
  // negative DataSize codes the whole of Source from position 0. A short
  // read ends the run. paCalc only reads: Dest is never written.
  virtual void CodeStream(platform::TStream* Source, platform::TStream* Dest, int64_t DataSize,
                          TPAction Action);
  // Codes the file `Source` into the file `Dest`; with paCalc Dest is not
  // touched. Dest is replaced only when the run completes (a failure leaves
  // it as it was); Dest empty or naming Source codes Source in place, by the
  // same replacement.
  virtual void CodeFile(const std::string& Source, const std::string& Dest, TPAction Action);
  // For paDecode: `Source` is text in `Format` (a TStringFormat id, -1 the
  // default), decoded to bytes and then decoded by the chain; the result is
  // bytes. For every other action: the bytes are coded and the result is
  // converted to text in `Format`.
  virtual std::string CodeString(std::string_view Source, TPAction Action, int Format = -1);
  // Codes BufferSize bytes in place as one run; returns BufferSize.
  virtual int64_t CodeBuffer(void* Buffer, int64_t BufferSize, TPAction Action);

 protected:
  // The hooks of a run. The base class passes each on to the linked
  // protection; descendants do their part and call the base.
  virtual void CodeInit(TPAction Action);
  virtual void CodeDone(TPAction Action);
  virtual void CodeBuf(void* Buffer, int64_t BufferSize, TPAction Action);

  // Whether this object itself acts on `Action`.
  bool Acts(TPAction Action) const { return (FActions & PActions(Action)) != 0; }

 private:
  std::shared_ptr<TProtection> FProtection;
  TPActions FActions = paAllActions;
};

// ---------------------------------------------------------------------------
// Text formats: bytes <-> text. Each format is one immutable object; the
// registry holds pointers to them.

class TStringFormat {
 public:
  virtual ~TStringFormat() = default;
  // Text in this format -> bytes. Raises EStringFormat ("Input is not an
  // valid %s Format.") on text the format cannot decode.
  virtual std::string ToStr(const char* Value, size_t Len) const;
  // Bytes -> text in this format.
  virtual std::string StrTo(const char* Value, size_t Len) const;
  virtual const char* Name() const { return "copy Input to Output"; }
  virtual int Format() const { return 1; }
  // Whether `Value` may be given to ToStr (ToStr true: every character is in
  // CharTable) or to StrTo (any bytes).
  virtual bool IsValid(const char* Value, size_t Len, bool ToStr) const;
  // The alphabet followed by the other characters that input may contain;
  // empty for the copying format.
  virtual std::string_view CharTable() const { return {}; }

  // The shared instance of the copying format.
  static const TStringFormat* Instance();
};

// Hexadecimal, two characters per byte, high nibble first, upper case. Input
// may use either case and may carry blanks, line breaks, punctuation and the
// prefixes "$", "x"/"X" (and "0x"), "h"/"H" between bytes; an odd digit
// count is invalid.
class TStringFormat_HEX : public TStringFormat {
 public:
  std::string ToStr(const char* Value, size_t Len) const override;
  std::string StrTo(const char* Value, size_t Len) const override;
  const char* Name() const override { return "Hexadecimal"; }
  int Format() const override { return 16; }
  std::string_view CharTable() const override;
  static const TStringFormat* Instance();
};

// The same, written in lower case.
class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  const char* Name() const override { return "Hexadecimal lowercase"; }
  int Format() const override { return 1016; }
  std::string_view CharTable() const override;
  static const TStringFormat* Instance();
};

// Base64 (RFC 4648), written on one line with "=" padding. Input may carry
// blanks and line breaks between characters; the last group may omit its
// padding; "=" anywhere but at the end of the last group is invalid.
class TStringFormat_MIME64 : public TStringFormat_HEX {
 public:
  std::string ToStr(const char* Value, size_t Len) const override;
  std::string StrTo(const char* Value, size_t Len) const override;
  const char* Name() const override { return "MIME Base 64"; }
  int Format() const override { return 4196; }
  std::string_view CharTable() const override;
  static const TStringFormat* Instance();
};

// UU coding: lines of at most 45 bytes, each a length character, groups of
// four characters for three bytes (the last group padded with zero bits) and
// a LF. The decoder skips CR, LF, tab and blank between lines and reads each
// line as its length character plus the groups that length needs, then the
// line's end; there is no "begin"/"end" line. Anything else is invalid. A
// blank inside a group counts as the zero character, as older encoders
// wrote it.
class TStringFormat_UU : public TStringFormat {
 public:
  std::string ToStr(const char* Value, size_t Len) const override;
  std::string StrTo(const char* Value, size_t Len) const override;
  const char* Name() const override { return "UU Coding"; }
  int Format() const override { return 21845; }
  std::string_view CharTable() const override;
  static const TStringFormat* Instance();

 protected:
  // The 64 characters for the values 0..63.
  std::string_view Alphabet() const { return CharTable().substr(0, 64); }
};

// XX coding: UU's layout with its own alphabet.
class TStringFormat_XX : public TStringFormat_UU {
 public:
  const char* Name() const override { return "XX Coding"; }
  int Format() const override { return 22616; }
  std::string_view CharTable() const override;
  static const TStringFormat* Instance();
};

constexpr int fmtDEFAULT = -1;
constexpr int fmtCOPY = 1;
constexpr int fmtHEX = 16;
constexpr int fmtHEXL = 1016;
constexpr int fmtMIME64 = 4196;
constexpr int fmtUU = 21845;
constexpr int fmtXX = 22616;

// Adds formats to the registry; one whose id is present replaces the earlier
// one. The six formats above are registered from the start.
void RegisterStringFormats(std::initializer_list<const TStringFormat*> formats);
// The registered formats, in registry order.
std::vector<const TStringFormat*> RegisteredStringFormats();
// The format with that id (-1: the default, MIME64), or nullptr.
const TStringFormat* StringFormat(int Format);

// Bytes -> text in format `Format`. Empty when Value is null or Format is 0;
// a negative Len takes Value as zero-terminated. Raises EStringFormat for an
// unknown id ("String Format "%d" not exists.") and for input the format
// refuses ("Input can not be convert to %s Format.").
std::string StrToFormat(const char* Value, int64_t Len, int Format);
// Text in format `Format` -> bytes; the same rules, with "Input is not an
// valid %s Format." for text that is not valid.
std::string FormatToStr(const char* Value, int64_t Len, int Format);
inline std::string StrToFormat(std::string_view Value, int Format) {
  return StrToFormat(Value.data(), static_cast<int64_t>(Value.size()), Format);
}
inline std::string FormatToStr(std::string_view Value, int Format) {
  return FormatToStr(Value.data(), static_cast<int64_t>(Value.size()), Format);
}

// ---------------------------------------------------------------------------
// Byte helpers.

// Dest[i] := I1[i] xor I2[i] for Size bytes; Dest may be I1 or I2.
void XORBuffers(const void* I1, const void* I2, size_t Size, void* Dest);
// 0 when the first Size bytes are equal, else P1[i] - P2[i] (as unsigned
// bytes) at the first unequal pair. Its time depends on where the buffers
// differ: never use it on secrets.
int CompareBuffers(const void* P1, const void* P2, size_t Size);
// Whether the first Size bytes are equal, in a time that depends on Size
// only: for password verifiers and authentication codes.
bool ConstantTimeEqual(const void* P1, const void* P2, size_t Size);

uint32_t SwapInteger(uint32_t Value);
// Count 32-bit values from Source to Dest with their bytes reversed; Dest
// may be Source.
void SwapIntegerBuffer(const void* Source, void* Dest, size_t Count);
uint32_t ROL(uint32_t Value, int Shift);

// CRC-16/ARC: reflected polynomial 0xA001, register as given (0 for the
// standard check), no final complement. A null buffer or Size 0 returns CRC.
uint16_t CRC16(uint16_t CRC, const void* Buffer, size_t Size);

// Mixes Size bytes of Buffer with a linear congruential sequence from Seed:
// per byte, seed := (seed xor byte in its low 8 bits) * 134775813 + 1 and
// byte := seed >> 24. Not a source of secrets.
void RndXORBuffer(uint32_t Seed, void* Buffer, size_t Size);
// Milliseconds of the day (UTC) xor both halves of the high-resolution
// counter. Not a source of secrets.
uint32_t RndTimeSeed();
// The processor family from its identification instruction (6 for most
// x86-64 processors, larger on others); 0 where there is none.
int CPUType();

}  // namespace archiver::crypto
