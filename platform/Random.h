// Random bytes from the system's source (getrandom), for cipher headers,
// salts and temporary names. Thread-safe.
#pragma once

#include <cstddef>

namespace platform {

// Fills `buffer` with `count` unpredictable bytes; waits only while the
// system's source is not yet seeded (early boot). Raises EFileError when
// the system has no random source at all.
void RandomBytes(void* buffer, size_t count);

}  // namespace platform
