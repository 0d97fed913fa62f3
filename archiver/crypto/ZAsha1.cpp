#include "archiver/crypto/ZAsha1.h"

#include <bit>
#include <cstring>

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

}  // namespace

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
    Compress(Context.Hash, Context.Buffer);
    Context.Index = 0;
  }
  for (; Len >= 64; p += 64, Len -= 64) Compress(Context.Hash, p);
  if (Len > 0) std::memcpy(Context.Buffer, p, Len);
  Context.Index = static_cast<uint32_t>(Len);
}

void SHA1Final(THashContext& Context, THashDigest& Digest) {
  const uint64_t bits = Context.MLen;
  uint32_t i = Context.Index;
  Context.Buffer[i++] = 0x80;
  if (i > 56) {
    std::memset(Context.Buffer + i, 0, 64 - i);
    Compress(Context.Hash, Context.Buffer);
    i = 0;
  }
  std::memset(Context.Buffer + i, 0, 56 - i);
  for (int k = 0; k < 8; ++k) Context.Buffer[63 - k] = static_cast<uint8_t>(bits >> (8 * k));
  Compress(Context.Hash, Context.Buffer);
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
