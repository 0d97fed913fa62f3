// PBKDF2 (RFC 2898, PKCS #5 v2.0) with HMAC over a hash descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archiver/crypto/ZAHash.h"

namespace archiver::crypto {

// Derives dkLen bytes into DK from the password and salt with Iterations
// rounds of HMAC under Desc. Returns 0, or 1 when Desc is null and 2 when
// its digest length is 0 (DK untouched then). Iterations 0 gives dkLen zero
// bytes. Every work area is wiped before returning.
int Pbkdf2(const THashDesc* Desc, const void* Password, size_t PasswordLen, const void* Salt, size_t SaltLen,
           uint32_t Iterations, void* DK, size_t dkLen);
// The same under SHA-1.
int Pbkdf2Sha1(const void* Password, size_t PasswordLen, const void* Salt, size_t SaltLen, uint32_t Iterations,
               void* DK, size_t dkLen);

}  // namespace archiver::crypto
