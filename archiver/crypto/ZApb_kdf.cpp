#include "archiver/crypto/ZApb_kdf.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "archiver/crypto/ZADecUtil.h"
#include "archiver/crypto/ZAsha1.h"

namespace archiver::crypto {

int Pbkdf2(const THashDesc* Desc, const void* Password, size_t PasswordLen, const void* Salt, size_t SaltLen,
           uint32_t Iterations, void* DK, size_t dkLen) {
  if (Desc == nullptr) return 1;
  const size_t hLen = Desc->HDigestlen;
  if (hLen == 0) return 2;
  const size_t block = Desc->HBlockLen;

  // HMAC's two padded key blocks are hashed once; every U then costs only
  // the message and the padding of the inner and the outer hash.
  struct Work {
    THashContext inner0, outer0, ctx;
    uint8_t pad[128];
    THashDigest u, t, d;
    ~Work() { ProtectMemory(this, sizeof *this); }
  } w;
  std::memset(w.pad, 0, sizeof w.pad);
  if (PasswordLen <= block) {
    if (PasswordLen > 0) std::memcpy(w.pad, Password, PasswordLen);
  } else {
    HashFull(*Desc, w.d, Password, PasswordLen);
    std::memcpy(w.pad, w.d.data(), hLen);
  }
  for (size_t i = 0; i < block; ++i) w.pad[i] ^= 0x36;
  Desc->HInit(w.inner0);
  Desc->HUpdateXL(w.inner0, w.pad, block);
  for (size_t i = 0; i < block; ++i) w.pad[i] ^= 0x36 ^ 0x5C;
  Desc->HInit(w.outer0);
  Desc->HUpdateXL(w.outer0, w.pad, block);

  auto* out = static_cast<uint8_t*>(DK);
  uint32_t counter = 0;
  for (size_t done = 0; done < dkLen;) {
    ++counter;
    const uint8_t be[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                           static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
    w.t.fill(0);
    for (uint32_t i = 1; i <= Iterations; ++i) {
      w.ctx = w.inner0;
      if (i == 1) {
        Desc->HUpdateXL(w.ctx, Salt, SaltLen);
        Desc->HUpdateXL(w.ctx, be, 4);
      } else {
        Desc->HUpdateXL(w.ctx, w.u.data(), hLen);
      }
      Desc->HFinal(w.ctx, w.d);
      w.ctx = w.outer0;
      Desc->HUpdateXL(w.ctx, w.d.data(), hLen);
      Desc->HFinal(w.ctx, w.u);
      for (size_t k = 0; k < hLen; ++k) w.t[k] ^= w.u[k];
    }
    const size_t n = std::min(hLen, dkLen - done);
    std::memcpy(out + done, w.t.data(), n);
    done += n;
  }
  return 0;
}

int Pbkdf2Sha1(const void* Password, size_t PasswordLen, const void* Salt, size_t SaltLen, uint32_t Iterations,
               void* DK, size_t dkLen) {
  const THashDesc* sha1 = FindHashDescById(_SHA1);
  // Slot 3 holds SHA-1 from the start and cannot be emptied.
  if (sha1 == nullptr) throw std::logic_error("PBKDF2: the SHA-1 descriptor is not registered");
  return Pbkdf2(sha1, Password, PasswordLen, Salt, SaltLen, Iterations, DK, dkLen);
}

}  // namespace archiver::crypto
