// SHA-1 (FIPS 180-1/180-2) as a hash descriptor, registered under id 3 with
// the name "SHA1". The length is counted in 64 bits.
#pragma once

#include "archiver/crypto/ZAHash.h"

namespace archiver::crypto {

constexpr uint8_t _SHA1 = 3;

void SHA1Init(THashContext& Context);
void SHA1UpdateXL(THashContext& Context, const void* Msg, size_t Len);
// Pads, writes the 20-byte digest (big-endian words) and wipes the context.
void SHA1Final(THashContext& Context, THashDigest& Digest);

const THashDesc& SHA1Desc();

}  // namespace archiver::crypto
