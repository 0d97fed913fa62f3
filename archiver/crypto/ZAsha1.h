// SHA-1 (FIPS 180-1/180-2) as a hash descriptor, registered under id 3 with
// the name "SHA1". The length is counted in 64 bits. On processors with SHA
// instructions (x86-64) those compress the blocks, else portable code.
#pragma once

#include "archiver/crypto/ZAHash.h"

namespace archiver::crypto {

constexpr uint8_t _SHA1 = 3;

void SHA1Init(THashContext& Context);
void SHA1UpdateXL(THashContext& Context, const void* Msg, size_t Len);
// Pads, writes the 20-byte digest (big-endian words) and wipes the context.
void SHA1Final(THashContext& Context, THashDigest& Digest);

const THashDesc& SHA1Desc();

// Whether this processor has SHA instructions, and whether they are used:
// by default when present. SHA1ForcePortable(true) makes the whole process
// use the portable code (tests, benchmarks).
bool SHA1HardwareAvailable();
void SHA1ForcePortable(bool portable);
bool SHA1HardwareActive();

}  // namespace archiver::crypto
