#include "platform/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "platform/File.h"

namespace platform {

void RandomBytes(void* buffer, size_t count) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::getrandom(p, count, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EFileError(std::string("No random source: ") + std::strerror(errno), errno);
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
}

}  // namespace platform
