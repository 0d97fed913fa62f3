// Hash descriptors and their registry.
//
// A descriptor (THashDesc) describes one hash algorithm by its sizes and
// three functions over a THashContext; HMAC and PBKDF2 work on any
// registered descriptor. The registry has nine slots, ids 0 to 8; SHA-1
// (ZAsha1) sits under id 3 from the start, so a lookup of "SHA1" never
// fails. Descriptors are static objects that live as long as the process.
//
// The registry is safe to use from any thread; a context is used by one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace archiver::crypto {

// The running state of one hash computation.
struct THashContext {
  uint32_t Hash[16];     // state words
  uint64_t MLen;         // message length so far, in bits
  uint8_t Buffer[128];   // one block of input not yet compressed
  uint32_t Index;        // bytes in Buffer
};

// A finished digest; HDigestlen bytes of it are used.
using THashDigest = std::array<uint8_t, 64>;

using THashInitProc = void (*)(THashContext& Context);
using THashFinalProc = void (*)(THashContext& Context, THashDigest& Digest);
using THashUpdateXLProc = void (*)(THashContext& Context, const void* Msg, size_t Len);

constexpr uint16_t C_HashSig = 0x3D7A;
constexpr uint32_t C_HashVers = 0x00010003;
// The size a descriptor declares: the size of the record in the format's
// original 32-bit layout, checked as a plain value.
constexpr uint16_t C_HashDSize = 80;
constexpr uint8_t MaxHashAlgId = 8;

struct THashDesc {
  uint16_t HSig;        // C_HashSig
  uint16_t HDSize;      // C_HashDSize
  uint32_t HDVersion;   // C_HashVers
  uint16_t HBlockLen;   // bytes per compressed block (at most 128)
  uint16_t HDigestlen;  // bytes of the digest (at most 64)
  THashInitProc HInit;
  THashFinalProc HFinal;
  THashUpdateXLProc HUpdateXL;
  uint8_t HAlgNum;      // the registry id, 0..8
  char HName[20];       // at most 19 characters, zero-terminated
  const uint8_t* HPtrOID;
  uint16_t HLenOID;
};

// Stores Desc in slot AlgId when Desc is given, AlgId is at most 8, the
// descriptor's signature, version, size and HAlgNum are right and its block
// and digest fit the context (128 and 64 bytes); otherwise does nothing.
void RegisterHashDesc(uint8_t AlgId, const THashDesc* Desc);
// The descriptor in slot AlgId, or nullptr (id above 8, empty slot).
const THashDesc* FindHashDescById(uint8_t AlgId);
// The first registered descriptor whose name equals Name without regard to
// ASCII case (names compared up to 19 characters), or nullptr.
const THashDesc* FindHashDescByName(std::string_view Name);

// The digest of one message under Desc.
void HashFull(const THashDesc& Desc, THashDigest& Digest, const void* Msg, size_t Len);

}  // namespace archiver::crypto
