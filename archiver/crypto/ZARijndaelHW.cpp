#include "archiver/crypto/ZARijndaelHW.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <wmmintrin.h>

namespace archiver::crypto::aeshw {

#define AES_TARGET __attribute__((target("aes,sse2")))

namespace {

AES_TARGET inline void LoadKeys(const uint32_t* k, int rounds, __m128i* rk) {
  for (int r = 0; r <= rounds; ++r) rk[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + 4 * r));
}

AES_TARGET inline __m128i Encrypt1(__m128i x, const __m128i* rk, int rounds) {
  x = _mm_xor_si128(x, rk[0]);
  for (int r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, rk[r]);
  return _mm_aesenclast_si128(x, rk[rounds]);
}

AES_TARGET inline __m128i Decrypt1(__m128i x, const __m128i* rk, int rounds) {
  x = _mm_xor_si128(x, rk[0]);
  for (int r = 1; r < rounds; ++r) x = _mm_aesdec_si128(x, rk[r]);
  return _mm_aesdeclast_si128(x, rk[rounds]);
}

// The round keys were copied to the stack.
AES_TARGET inline void WipeKeys(__m128i* rk, int rounds) {
  volatile __m128i* wipe = rk;
  for (int r = 0; r <= rounds; ++r) wipe[r] = _mm_setzero_si128();
}

}  // namespace

bool AesHwAvailable() { return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2"); }

template <bool Decrypt>
AES_TARGET void CryptBlocks(const uint32_t* keys, int rounds, const uint8_t* src, uint8_t* dst, size_t blocks) {
  __m128i rk[15];
  LoadKeys(keys, rounds, rk);
  for (size_t i = 0; i < blocks; ++i) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * i), Decrypt ? Decrypt1(x, rk, rounds) : Encrypt1(x, rk, rounds));
  }
  WipeKeys(rk, rounds);
}

void EncryptBlocks(const uint32_t* ek, int rounds, const uint8_t* src, uint8_t* dst, size_t blocks) {
  CryptBlocks<false>(ek, rounds, src, dst, blocks);
}

void DecryptBlocks(const uint32_t* dk, int rounds, const uint8_t* src, uint8_t* dst, size_t blocks) {
  CryptBlocks<true>(dk, rounds, src, dst, blocks);
}

// Eight counter blocks go through the rounds together so that the AES
// unit's latency is hidden behind the other seven.
AES_TARGET void CounterXor(const uint32_t* ek, int rounds, uint64_t& lo, uint64_t hi, const uint8_t* src,
                           uint8_t* dst, size_t blocks) {
  constexpr int kLanes = 8;
  __m128i rk[15];
  LoadKeys(ek, rounds, rk);
  const auto hiBits = static_cast<long long>(hi);
  while (blocks >= kLanes) {
    __m128i x[kLanes];
#pragma GCC unroll 8
    for (int j = 0; j < kLanes; ++j)
      x[j] = _mm_xor_si128(_mm_set_epi64x(hiBits, static_cast<long long>(lo + 1 + j)), rk[0]);
    for (int r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
      for (int j = 0; j < kLanes; ++j) x[j] = _mm_aesenc_si128(x[j], rk[r]);
    }
#pragma GCC unroll 8
    for (int j = 0; j < kLanes; ++j) {
      x[j] = _mm_aesenclast_si128(x[j], rk[rounds]);
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * j));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * j), _mm_xor_si128(x[j], d));
    }
    lo += kLanes;
    src += 16 * kLanes;
    dst += 16 * kLanes;
    blocks -= kLanes;
  }
  for (; blocks > 0; --blocks, src += 16, dst += 16) {
    ++lo;
    const __m128i k = Encrypt1(_mm_set_epi64x(hiBits, static_cast<long long>(lo)), rk, rounds);
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_xor_si128(k, d));
  }
  WipeKeys(rk, rounds);
}

}  // namespace archiver::crypto::aeshw

#else

namespace archiver::crypto::aeshw {
bool AesHwAvailable() { return false; }
void EncryptBlocks(const uint32_t*, int, const uint8_t*, uint8_t*, size_t) {}
void DecryptBlocks(const uint32_t*, int, const uint8_t*, uint8_t*, size_t) {}
void CounterXor(const uint32_t*, int, uint64_t&, uint64_t, const uint8_t*, uint8_t*, size_t) {}
}  // namespace archiver::crypto::aeshw

#endif
