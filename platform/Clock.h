// Monotonic time and sleeping, for timeouts, throttling and lock retries.
// Thread-safe.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock (unaffected by changes of the wall clock);
// only differences between two readings mean anything.
uint64_t GetTickCount64();
// Suspends the calling thread for at least `ms` milliseconds.
void Sleep(unsigned ms);

}  // namespace platform
