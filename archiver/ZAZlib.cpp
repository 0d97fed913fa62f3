#include "archiver/ZAZlib.h"

#include <cstdlib>
#include <limits>

namespace archiver {

int CompressCheck(int code) {
  if (code < 0) throw ECompressionError();
  return code;
}

int DecompressCheck(int code) {
  if (code < 0) throw EDecompressionError();
  return code;
}

voidpf ZAZlibAllocMem(voidpf, uInt items, uInt size) {
  if (size != 0 && items > std::numeric_limits<size_t>::max() / size) return Z_NULL;
  return std::malloc(static_cast<size_t>(items) * size);
}

void ZAZlibFreeMem(voidpf, voidpf address) { std::free(address); }

z_stream ZAZlibNewStream() {
  z_stream zs{};
  zs.zalloc = ZAZlibAllocMem;
  zs.zfree = ZAZlibFreeMem;
  zs.opaque = Z_NULL;
  return zs;
}

}  // namespace archiver
