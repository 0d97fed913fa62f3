// Monotonic time and sleeping, for timeouts, throttling and lock retries;
// the wall clock and local calendar time, for dates stamped into files.
// Thread-safe.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock (unaffected by changes of the wall clock);
// only differences between two readings mean anything.
uint64_t GetTickCount64();
// Suspends the calling thread for at least `ms` milliseconds.
void Sleep(unsigned ms);

// Milliseconds since 1970-01-01 UTC by the wall clock.
int64_t WallClockMs();

// A moment in the local time zone.
struct TSystemTime {
  int year = 0, month = 0, day = 0;  // month and day 1-based
  int hour = 0, minute = 0, second = 0, milliseconds = 0;
};
// The local calendar time of a wall-clock reading.
TSystemTime LocalTimeOf(int64_t wallClockMs);

}  // namespace platform
