#include "xbase/base/scrambling.h"

#include <cstdint>
#include <cstring>

namespace xbase {

int CryptBuffer(std::string_view password, const void* source, void* target, size_t count,
                bool encrypt) {
  const auto* src = static_cast<const uint8_t*>(source);
  auto* dst = static_cast<uint8_t*>(target);
  if (password.empty()) {
    if (src != dst && count) std::memmove(dst, src, count);
    return 0;
  }
  const size_t len = password.size();
  size_t k = 0;
  for (size_t i = 0; i < count; ++i) {
    dst[i] = static_cast<uint8_t>((static_cast<uint8_t>(i) | static_cast<uint8_t>(password[k])) ^ src[i]);
    if (++k == len) k = 0;
  }
  return encrypt ? 1 : -1;
}

}  // namespace xbase
