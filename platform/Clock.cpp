// Monotonic time and sleeping over std::chrono's steady clock.
#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace platform {

uint64_t GetTickCount64() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace platform
