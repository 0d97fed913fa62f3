#include "archiver/crypto/ZAsha1.h"

#include <atomic>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "archiver/crypto/ZADecUtil.h"

namespace archiver::crypto {

namespace {

inline uint32_t LoadBE(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}

// One 64-byte block. The 80-word schedule lives in a 16-word ring; the
// rounds are unrolled so that the five working variables stay in registers.
void Compress(uint32_t* h, const uint8_t* p) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE(p + 4 * i);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];

#define SHA1_W(i) (w[(i) & 15] = std::rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1))
#define SHA1_STEP(v, x, y, z, u, f, k, wi) \
  u += std::rotl(v, 5) + (f) + (k) + (wi); \
  x = std::rotl(x, 30);
#define SHA1_F1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA1_F2(x, y, z) ((x) ^ (y) ^ (z))
#define SHA1_F3(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define SHA1_R0(v, x, y, z, u, i) SHA1_STEP(v, x, y, z, u, SHA1_F1(x, y, z), 0x5A827999u, w[i])
#define SHA1_R1(v, x, y, z, u, i) SHA1_STEP(v, x, y, z, u, SHA1_F1(x, y, z), 0x5A827999u, SHA1_W(i))
#define SHA1_R2(v, x, y, z, u, i) SHA1_STEP(v, x, y, z, u, SHA1_F2(x, y, z), 0x6ED9EBA1u, SHA1_W(i))
#define SHA1_R3(v, x, y, z, u, i) SHA1_STEP(v, x, y, z, u, SHA1_F3(x, y, z), 0x8F1BBCDCu, SHA1_W(i))
#define SHA1_R4(v, x, y, z, u, i) SHA1_STEP(v, x, y, z, u, SHA1_F2(x, y, z), 0xCA62C1D6u, SHA1_W(i))
#define SHA1_FIVE(R, i)       \
  R(a, b, c, d, e, (i));     \
  R(e, a, b, c, d, (i) + 1); \
  R(d, e, a, b, c, (i) + 2); \
  R(c, d, e, a, b, (i) + 3); \
  R(b, c, d, e, a, (i) + 4);

  SHA1_FIVE(SHA1_R0, 0)
  SHA1_FIVE(SHA1_R0, 5)
  SHA1_FIVE(SHA1_R0, 10)
  SHA1_R0(a, b, c, d, e, 15)
  SHA1_R1(e, a, b, c, d, 16)
  SHA1_R1(d, e, a, b, c, 17)
  SHA1_R1(c, d, e, a, b, 18)
  SHA1_R1(b, c, d, e, a, 19)
  SHA1_FIVE(SHA1_R2, 20)
  SHA1_FIVE(SHA1_R2, 25)
  SHA1_FIVE(SHA1_R2, 30)
  SHA1_FIVE(SHA1_R2, 35)
  SHA1_FIVE(SHA1_R3, 40)
  SHA1_FIVE(SHA1_R3, 45)
  SHA1_FIVE(SHA1_R3, 50)
  SHA1_FIVE(SHA1_R3, 55)
  SHA1_FIVE(SHA1_R4, 60)
  SHA1_FIVE(SHA1_R4, 65)
  SHA1_FIVE(SHA1_R4, 70)
  SHA1_FIVE(SHA1_R4, 75)

#undef SHA1_FIVE
#undef SHA1_R4
#undef SHA1_R3
#undef SHA1_R2
#undef SHA1_R1
#undef SHA1_R0
#undef SHA1_F3
#undef SHA1_F2
#undef SHA1_F1
#undef SHA1_STEP
#undef SHA1_W

  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

#if defined(__x86_64__)

// Blocks with the processor's SHA instructions. The state is kept as ABCD
// in one register (A in the high lane) and E in the high lane of another;
// each group of four rounds takes four schedule words, which the message
// instructions extend in a ring of four registers.
__attribute__((target("sha,sse4.1"))) void CompressBlocksHw(uint32_t* h, const uint8_t* p, size_t blocks) {
  const __m128i kByteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
  for (; blocks > 0; --blocks, p += 64) {
    const __m128i abcdSaved = abcd, eSaved = e0;
    __m128i m[4], e1;
    for (int i = 0; i < 4; ++i)
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), kByteSwap);
    // Group g: rounds 4g..4g+3 with function g / 5 (an immediate operand,
    // hence the macro); the schedule words of groups g + 1 .. g + 3 are
    // prepared on the way.
#define SHA1_GROUP(g, eIn, eOut)                                               \
  eIn = (g) == 0 ? _mm_add_epi32(eIn, m[0]) : _mm_sha1nexte_epu32(eIn, m[(g) & 3]); \
  eOut = abcd;                                                                 \
  if ((g) >= 3 && (g) <= 18) m[((g) + 1) & 3] = _mm_sha1msg2_epu32(m[((g) + 1) & 3], m[(g) & 3]); \
  abcd = _mm_sha1rnds4_epu32(abcd, eIn, (g) / 5);                              \
  if ((g) >= 1 && (g) <= 16) m[((g) - 1) & 3] = _mm_sha1msg1_epu32(m[((g) - 1) & 3], m[(g) & 3]); \
  if ((g) >= 2 && (g) <= 17) m[((g) - 2) & 3] = _mm_xor_si128(m[((g) - 2) & 3], m[(g) & 3]);
#define SHA1_TWO(g) SHA1_GROUP(g, e0, e1) SHA1_GROUP((g) + 1, e1, e0)
    SHA1_TWO(0) SHA1_TWO(2) SHA1_TWO(4) SHA1_TWO(6) SHA1_TWO(8)
    SHA1_TWO(10) SHA1_TWO(12) SHA1_TWO(14) SHA1_TWO(16) SHA1_TWO(18)
#undef SHA1_TWO
#undef SHA1_GROUP
    e0 = _mm_sha1nexte_epu32(e0, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
  h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

// Asked of CPUID itself: not every compiler's __builtin_cpu_supports knows
// the SHA extensions.
bool HardwareAvailable() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c >> 9) & 1, sse41 = (c >> 19) & 1;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const bool sha = (b >> 29) & 1;
  return sha && sse41 && ssse3;
}

#else

void CompressBlocksHw(uint32_t*, const uint8_t*, size_t) {}
bool HardwareAvailable() { return false; }

#endif

std::atomic<bool> gForcePortable{false};

bool UseHardware() {
  static const bool available = HardwareAvailable();
  return available && !gForcePortable.load(std::memory_order_relaxed);
}

void CompressBlocks(uint32_t* h, const uint8_t* p, size_t blocks) {
  if (UseHardware()) return CompressBlocksHw(h, p, blocks);
  for (; blocks > 0; --blocks, p += 64) Compress(h, p);
}

}  // namespace

bool SHA1HardwareAvailable() { return HardwareAvailable(); }
void SHA1ForcePortable(bool portable) { gForcePortable.store(portable, std::memory_order_relaxed); }
bool SHA1HardwareActive() { return UseHardware(); }

void SHA1Init(THashContext& Context) {
  std::memset(&Context, 0, sizeof Context);
  Context.Hash[0] = 0x67452301;
  Context.Hash[1] = 0xEFCDAB89;
  Context.Hash[2] = 0x98BADCFE;
  Context.Hash[3] = 0x10325476;
  Context.Hash[4] = 0xC3D2E1F0;
}

void SHA1UpdateXL(THashContext& Context, const void* Msg, size_t Len) {
  if (Len == 0) return;
  const auto* p = static_cast<const uint8_t*>(Msg);
  Context.MLen += static_cast<uint64_t>(Len) * 8;
  if (Context.Index > 0) {
    const size_t n = std::min<size_t>(Len, 64 - Context.Index);
    std::memcpy(Context.Buffer + Context.Index, p, n);
    Context.Index += static_cast<uint32_t>(n);
    p += n;
    Len -= n;
    if (Context.Index < 64) return;
    CompressBlocks(Context.Hash, Context.Buffer, 1);
    Context.Index = 0;
  }
  CompressBlocks(Context.Hash, p, Len / 64);
  p += Len / 64 * 64;
  Len %= 64;
  if (Len > 0) std::memcpy(Context.Buffer, p, Len);
  Context.Index = static_cast<uint32_t>(Len);
}

void SHA1Final(THashContext& Context, THashDigest& Digest) {
  const uint64_t bits = Context.MLen;
  uint32_t i = Context.Index;
  Context.Buffer[i++] = 0x80;
  if (i > 56) {
    std::memset(Context.Buffer + i, 0, 64 - i);
    CompressBlocks(Context.Hash, Context.Buffer, 1);
    i = 0;
  }
  std::memset(Context.Buffer + i, 0, 56 - i);
  for (int k = 0; k < 8; ++k) Context.Buffer[63 - k] = static_cast<uint8_t>(bits >> (8 * k));
  CompressBlocks(Context.Hash, Context.Buffer, 1);
  Digest.fill(0);
  for (int k = 0; k < 5; ++k) {
    const uint32_t v = __builtin_bswap32(Context.Hash[k]);
    std::memcpy(Digest.data() + 4 * k, &v, 4);
  }
  ProtectMemory(&Context, sizeof Context);
}

const THashDesc& SHA1Desc() {
  // id-sha1: 1.3.14.3.2.26
  static constexpr uint8_t oid[6] = {1, 3, 14, 3, 2, 26};
  static const THashDesc desc{C_HashSig, C_HashDSize, C_HashVers, 64, 20, SHA1Init, SHA1Final, SHA1UpdateXL,
                              _SHA1,     "SHA1",      oid,        sizeof oid};
  return desc;
}

}  // namespace archiver::crypto
