// Monotonic time and sleeping over std::chrono's steady clock; local time
// through the C library's time-zone rules.
#include "platform/Clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace platform {

uint64_t GetTickCount64() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int64_t WallClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TSystemTime LocalTimeOf(int64_t wallClockMs) {
  int64_t secs = wallClockMs / 1000, ms = wallClockMs % 1000;
  if (ms < 0) ms += 1000, --secs;
  const time_t t = static_cast<time_t>(secs);
  struct tm lt {};
  TSystemTime st;
  if (::localtime_r(&t, &lt) == nullptr) return st;
  st.year = lt.tm_year + 1900;
  st.month = lt.tm_mon + 1;
  st.day = lt.tm_mday;
  st.hour = lt.tm_hour;
  st.minute = lt.tm_min;
  st.second = lt.tm_sec;
  st.milliseconds = static_cast<int>(ms);
  return st;
}

}  // namespace platform
