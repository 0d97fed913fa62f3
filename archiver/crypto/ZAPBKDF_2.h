// TPBKDF2: the key generator of AES items. It holds a password, a salt and
// an iteration count and derives key bytes with PBKDF2-HMAC-SHA-1.
//
// The password is taken as the bytes given (the caller decides their
// encoding) and may be of any length. Password and salt are wiped when the
// object dies, and the key bytes it returns wipe themselves when released.
// One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "archiver/crypto/ZADecUtil.h"

namespace archiver::crypto {

class TPBKDF2 {
 public:
  // A fresh salt of SaltSize bytes from the system's random source.
  TPBKDF2(std::string_view Password, size_t SaltSize, int Iterations);
  // A copy of the given salt.
  TPBKDF2(std::string_view Password, std::span<const uint8_t> Salt, int Iterations);
  TPBKDF2(const TPBKDF2&) = delete;
  TPBKDF2& operator=(const TPBKDF2&) = delete;

  // Cb derived bytes (Cb 0: none). A negative iteration count counts as 0,
  // which gives zero bytes.
  TSecretBytes GetKeyBytes(size_t Cb) const;
  std::vector<uint8_t> GetSaltValue() const { return {FSaltValue.begin(), FSaltValue.end()}; }
  int IterationCount() const { return FIterationNumber; }
  void Initialize() {}
  void Reset() {}

 private:
  int FIterationNumber;
  TSecretBytes FSaltValue;
  TSecretBytes FPassword;
};

}  // namespace archiver::crypto
