#include "archiver/crypto/ZAHashClasses.h"

#include <bit>
#include <cstring>

#include "platform/Random.h"
#include "platform/Streams.h"

namespace archiver::crypto {

// The digest is the state words' bytes in memory order, which is MD4's and
// RIPEMD's little-endian output on the machines this builds for.
static_assert(std::endian::native == std::endian::little);

THash::~THash() = default;

std::string THash::DigestStr(int Format) const {
  return StrToFormat(reinterpret_cast<const char*>(DigestKey()), DigestKeySize(), Format);
}

void THash::CodeInit(TPAction Action) {
  if (Acts(Action)) {
    Init();
    if (Action == paWipe) platform::RandomBytes(DigestBytes(), static_cast<size_t>(DigestKeySize()));
  }
  TProtection::CodeInit(Action);
}

void THash::CodeDone(TPAction Action) {
  if (Acts(Action)) {
    if (Action == paCalc)
      Done();
    else
      Init();
  }
  TProtection::CodeDone(Action);
}

void THash::CodeBuf(void* Buffer, int64_t BufferSize, TPAction Action) {
  auto xorKeystream = [&] {
    auto* p = static_cast<uint8_t*>(Buffer);
    const size_t size = static_cast<size_t>(DigestKeySize());
    uint8_t key[64];
    for (int64_t left = BufferSize; left > 0;) {
      std::memcpy(key, DigestKey(), size);
      Calc(key, size);
      Done();
      const size_t n = left < static_cast<int64_t>(size) ? static_cast<size_t>(left) : size;
      XORBuffers(p, DigestKey(), n, p);
      p += n;
      left -= static_cast<int64_t>(n);
    }
    ProtectMemory(key, sizeof key);
  };
  if (Action == paDecode) {
    if (Acts(Action)) xorKeystream();
    TProtection::CodeBuf(Buffer, BufferSize, Action);
    return;
  }
  TProtection::CodeBuf(Buffer, BufferSize, Action);
  if (!Acts(Action)) return;
  if (Action == paCalc)
    Calc(Buffer, static_cast<size_t>(BufferSize));
  else if (Action != paScramble)
    xorKeystream();
}

std::string THash::CalcBuffer(THashClass cls, const void* Buffer, size_t BufferSize,
                              std::shared_ptr<TProtection> Protection, int Format) {
  std::shared_ptr<THash> h = cls->Create();
  if (!Protection) {
    h->Init();
    h->Calc(Buffer, BufferSize);
    h->Done();
  } else {
    // The chain may code the data in place: work on a copy.
    TSecretBytes copy(static_cast<const uint8_t*>(Buffer), static_cast<const uint8_t*>(Buffer) + BufferSize);
    h->SetProtection(std::move(Protection));
    h->CodeBuffer(copy.data(), static_cast<int64_t>(copy.size()), paCalc);
  }
  return h->DigestStr(Format);
}

std::string THash::CalcStream(THashClass cls, platform::TStream& Stream, int64_t StreamSize,
                              std::shared_ptr<TProtection> Protection, int Format) {
  std::shared_ptr<THash> h = cls->Create();
  h->SetProtection(std::move(Protection));
  h->CodeStream(&Stream, nullptr, StreamSize, paCalc);
  return h->DigestStr(Format);
}

std::string THash::CalcString(THashClass cls, std::string_view Data, std::shared_ptr<TProtection> Protection,
                              int Format) {
  return CalcBuffer(cls, Data.data(), Data.size(), std::move(Protection), Format);
}

std::string THash::CalcFile(THashClass cls, const std::string& FileName, std::shared_ptr<TProtection> Protection,
                            int Format) {
  platform::TFileStream f(FileName, platform::fmOpenRead | platform::fmShareDenyWrite);
  return CalcStream(cls, f, -1, std::move(Protection), Format);
}

bool THash::SelfTest(THashClass cls) {
  const std::string digest = CalcBuffer(cls, "abc", 3, nullptr, fmtCOPY);
  return digest.size() == cls->TestVector.size() &&
         std::memcmp(digest.data(), cls->TestVector.data(), digest.size()) == 0;
}

// ---------------------------------------------------------------------------
// MD4

namespace {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

THash_MD4::THash_MD4(std::shared_ptr<TProtection> AProtection) : THash(std::move(AProtection)) {
  THash_MD4::Init();
}

THash_MD4::~THash_MD4() {
  ProtectMemory(FDigest, sizeof FDigest);
  ProtectMemory(FBuffer, sizeof FBuffer);
}

void THash_MD4::Init() {
  static constexpr uint32_t iv[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
  std::memset(FDigest, 0, sizeof FDigest);
  std::memcpy(FDigest, iv, sizeof iv);
  ProtectMemory(FBuffer, sizeof FBuffer);
  FIndex = 0;
  FCount = 0;
}

void THash_MD4::Calc(const void* Data, size_t DataSize) {
  if (DataSize == 0) return;
  const auto* p = static_cast<const uint8_t*>(Data);
  FCount += DataSize;
  if (FIndex > 0) {
    const size_t n = std::min(DataSize, sizeof FBuffer - FIndex);
    std::memcpy(FBuffer + FIndex, p, n);
    FIndex += n;
    p += n;
    DataSize -= n;
    if (FIndex < sizeof FBuffer) return;
    Transform(FBuffer);
    FIndex = 0;
  }
  for (; DataSize >= 64; p += 64, DataSize -= 64) Transform(p);
  std::memcpy(FBuffer, p, DataSize);
  FIndex = DataSize;
}

void THash_MD4::Done() {
  const uint64_t bits = FCount * 8;
  FBuffer[FIndex++] = 0x80;
  if (FIndex > 56) {
    std::memset(FBuffer + FIndex, 0, 64 - FIndex);
    Transform(FBuffer);
    FIndex = 0;
  }
  std::memset(FBuffer + FIndex, 0, 56 - FIndex);
  for (int i = 0; i < 8; ++i) FBuffer[56 + i] = static_cast<uint8_t>(bits >> (8 * i));
  Transform(FBuffer);
  ProtectMemory(FBuffer, sizeof FBuffer);
  FIndex = 0;
  FCount = 0;
}

void THash_MD4::Transform(const uint8_t* Block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = Load32(Block + 4 * i);
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  auto F = [](uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); };
  auto G = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); };
  auto H = [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; };
#define MD4_STEP(f, a, b, c, d, k, s, t) a = std::rotl(a + f(b, c, d) + x[k] + (t), s)
  for (int i = 0; i < 16; i += 4) {
    MD4_STEP(F, a, b, c, d, i, 3, 0u);
    MD4_STEP(F, d, a, b, c, i + 1, 7, 0u);
    MD4_STEP(F, c, d, a, b, i + 2, 11, 0u);
    MD4_STEP(F, b, c, d, a, i + 3, 19, 0u);
  }
  for (int i = 0; i < 4; ++i) {
    MD4_STEP(G, a, b, c, d, i, 3, 0x5A827999u);
    MD4_STEP(G, d, a, b, c, i + 4, 5, 0x5A827999u);
    MD4_STEP(G, c, d, a, b, i + 8, 9, 0x5A827999u);
    MD4_STEP(G, b, c, d, a, i + 12, 13, 0x5A827999u);
  }
  static constexpr int r3[4] = {0, 2, 1, 3};
  for (int k : r3) {
    MD4_STEP(H, a, b, c, d, k, 3, 0x6ED9EBA1u);
    MD4_STEP(H, d, a, b, c, k + 8, 9, 0x6ED9EBA1u);
    MD4_STEP(H, c, d, a, b, k + 4, 11, 0x6ED9EBA1u);
    MD4_STEP(H, b, c, d, a, k + 12, 15, 0x6ED9EBA1u);
  }
#undef MD4_STEP
  FDigest[0] += a;
  FDigest[1] += b;
  FDigest[2] += c;
  FDigest[3] += d;
  ProtectMemory(x, sizeof x);
}

THashClass THash_MD4::Class() {
  static constexpr uint8_t abc[16] = {0xa4, 0x48, 0x01, 0x7a, 0xaf, 0x21, 0xd8, 0x52,
                                      0x5f, 0xc1, 0x0a, 0xe8, 0x7a, 0xa6, 0x72, 0x9d};
  static const THashClassInfo info{"THash_MD4", 16, [] { return std::shared_ptr<THash>(new THash_MD4()); },
                                   abc};
  return &info;
}

// ---------------------------------------------------------------------------
// RIPEMD-256: two lines of four 16-step rounds, as RIPEMD-128, exchanging
// one chaining word after each round and kept apart in the result.

THash_RipeMD256::THash_RipeMD256(std::shared_ptr<TProtection> AProtection) : THash_MD4(std::move(AProtection)) {
  THash_RipeMD256::Init();
}

void THash_RipeMD256::Init() {
  THash_MD4::Init();
  static constexpr uint32_t iv2[4] = {0x76543210, 0xFEDCBA98, 0x89ABCDEF, 0x01234567};
  std::memcpy(FDigest + 4, iv2, sizeof iv2);
}

namespace {

constexpr uint8_t kRL[64] = {0, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                             7, 4,  13, 1,  10, 6,  15, 3,  12, 0,  9,  5,  2,  14, 11, 8,
                             3, 10, 14, 4,  9,  15, 8,  1,  2,  7,  0,  6,  13, 11, 5,  12,
                             1, 9,  11, 10, 0,  8,  12, 4,  13, 3,  7,  15, 14, 5,  6,  2};
constexpr uint8_t kRR[64] = {5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                             6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                             15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                             8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr uint8_t kSL[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                             7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                             11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                             11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr uint8_t kSR[64] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                             9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                             9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                             15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr uint32_t kKL[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
constexpr uint32_t kKR[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};

inline uint32_t RmdF(int j, uint32_t x, uint32_t y, uint32_t z) {
  switch (j) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    default: return (x & z) | (y & ~z);
  }
}

}  // namespace

void THash_RipeMD256::Transform(const uint8_t* Block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = Load32(Block + 4 * i);
  uint32_t l[4] = {FDigest[0], FDigest[1], FDigest[2], FDigest[3]};
  uint32_t r[4] = {FDigest[4], FDigest[5], FDigest[6], FDigest[7]};
  // One step: A, B, C, D := D, rotl(A + f(B, C, D) + X[k] + K, s), B, C.
  auto step = [&](uint32_t* v, int f, int k, uint32_t K, int s) {
    const uint32_t t = std::rotl(v[0] + RmdF(f, v[1], v[2], v[3]) + x[k] + K, s);
    v[0] = v[3];
    v[3] = v[2];
    v[2] = v[1];
    v[1] = t;
  };
  for (int round = 0; round < 4; ++round) {
    for (int i = 16 * round; i < 16 * round + 16; ++i) {
      step(l, round, kRL[i], kKL[round], kSL[i]);
      step(r, 3 - round, kRR[i], kKR[round], kSR[i]);
    }
    std::swap(l[round], r[round]);
  }
  for (int i = 0; i < 4; ++i) {
    FDigest[i] += l[i];
    FDigest[4 + i] += r[i];
  }
  ProtectMemory(x, sizeof x);
}

THashClass THash_RipeMD256::Class() {
  static constexpr uint8_t abc[32] = {0xaf, 0xbd, 0x6e, 0x22, 0x8b, 0x9d, 0x8c, 0xbb, 0xce, 0xf5, 0xca,
                                      0x2d, 0x03, 0xe6, 0xdb, 0xa1, 0x0a, 0xc0, 0xbc, 0x7d, 0xcb, 0xe4,
                                      0x68, 0x0e, 0x1e, 0x42, 0xd2, 0xe9, 0x75, 0x45, 0x9b, 0x65};
  static const THashClassInfo info{"THash_RipeMD256", 32,
                                   [] { return std::shared_ptr<THash>(new THash_RipeMD256()); }, abc};
  return &info;
}

}  // namespace archiver::crypto
