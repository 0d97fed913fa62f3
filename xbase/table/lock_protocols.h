// The lock protocols shared by tables, memo files and index files.
//
// Programs that share a table coordinate through byte-range locks at agreed
// places far beyond the data: each protocol is one family of programs'
// agreement, and a table, its memo file and its index files all follow the
// table's. The places are unsigned 32-bit byte offsets (other programs rely
// on them exactly as given here).
//
// Pure; thread-safe.
#pragma once

#include <cstdint>

namespace xbase {

enum class XBsetLokProtocol : uint8_t { Default = 0, DB4Lock = 1, ClipLock = 2, FoxLock = 3 };

// The lock-region constants of one protocol (the table's dfDirtyReadMin,
// dfDirtyReadMax, dfDirtyReadRng; dfDirtyReadLmt is carried for the index
// formats and equals Max here).
struct XBLockRegions {
  uint32_t Min = 0;
  uint32_t Max = 0;
  uint32_t Rng = 0;
  uint32_t Lmt = 0;
};

inline XBLockRegions XBLockRegionsOf(XBsetLokProtocol p) {
  switch (p) {
    case XBsetLokProtocol::DB4Lock:
      return {0x40000000u, 0xEFFFFFFFu, 0xB0000000u, 0xEFFFFFFFu};
    case XBsetLokProtocol::ClipLock:
      return {1000000000u, 1000000000u, 1000000000u, 1000000000u};
    case XBsetLokProtocol::Default:
    case XBsetLokProtocol::FoxLock:
      break;
  }
  return {0x40000000u, 0x7FFFFFFEu, 0x3FFFFFFFu, 0x7FFFFFFEu};
}

}  // namespace xbase
