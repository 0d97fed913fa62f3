// Integers and doubles in the byte orders of the engine's file formats,
// read and written byte by byte (never by laying a struct over the bytes),
// so that files move between machines of either byte order.
//
// Pure; thread-safe.
#pragma once

#include <bit>
#include <cstdint>

namespace xbase {

inline uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t GetLE64(const uint8_t* p) { return uint64_t{GetLE32(p)} | uint64_t{GetLE32(p + 4)} << 32; }
inline double GetLEDouble(const uint8_t* p) { return std::bit_cast<double>(GetLE64(p)); }

inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLEDouble(uint8_t* p, double v) { PutLE64(p, std::bit_cast<uint64_t>(v)); }

inline uint32_t GetBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline void PutBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace xbase
