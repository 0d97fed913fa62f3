#include "archiver/crypto/ZAPBKDF_2.h"

#include "archiver/crypto/ZApb_kdf.h"
#include "platform/Random.h"

namespace archiver::crypto {

TPBKDF2::TPBKDF2(std::string_view Password, size_t SaltSize, int Iterations)
    : FIterationNumber(Iterations), FSaltValue(SaltSize), FPassword(Password.begin(), Password.end()) {
  platform::RandomBytes(FSaltValue.data(), FSaltValue.size());
}

TPBKDF2::TPBKDF2(std::string_view Password, std::span<const uint8_t> Salt, int Iterations)
    : FIterationNumber(Iterations), FSaltValue(Salt.begin(), Salt.end()), FPassword(Password.begin(), Password.end()) {}

TSecretBytes TPBKDF2::GetKeyBytes(size_t Cb) const {
  TSecretBytes key(Cb);
  Pbkdf2Sha1(FPassword.data(), FPassword.size(), FSaltValue.data(), FSaltValue.size(),
             FIterationNumber < 0 ? 0u : static_cast<uint32_t>(FIterationNumber), key.data(), key.size());
  return key;
}

}  // namespace archiver::crypto
