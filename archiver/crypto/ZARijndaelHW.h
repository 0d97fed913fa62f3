// AES with the processor's AES instructions (x86-64 AES-NI), over the round
// keys the portable code builds: `ek` holds the 4 * (rounds + 1) encryption
// round-key words and `dk` the decryption ones of the equivalent inverse
// cipher, both as the bytes of FIPS-197 in memory order. Call only when
// AesHwAvailable() is true. Internal to archiver/crypto.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archiver::crypto::aeshw {

bool AesHwAvailable();

void EncryptBlocks(const uint32_t* ek, int rounds, const uint8_t* src, uint8_t* dst, size_t blocks);
void DecryptBlocks(const uint32_t* dk, int rounds, const uint8_t* src, uint8_t* dst, size_t blocks);
// Counter mode over whole blocks: for each block, `lo` is incremented and
// the block (lo little-endian, then `hi` little-endian) is encrypted and
// xored into the data. src and dst may be the same.
void CounterXor(const uint32_t* ek, int rounds, uint64_t& lo, uint64_t hi, const uint8_t* src, uint8_t* dst,
                size_t blocks);

}  // namespace archiver::crypto::aeshw
