// Glue between the archiver and zlib: the memory callbacks handed to the
// library and the checks of its results.
//
// Compression checks every deflateInit2_/deflate/deflateEnd result with
// CompressCheck. Decompression checks only the inflateInit result with
// DecompressCheck and judges inflate's results itself (a damaged item is a
// failed item, not an exception).
//
// zlib's stream totals (total_in, total_out) are `unsigned long`, 64 bits on
// the platforms we build for, so entries above 4 GiB are counted correctly.
#pragma once

#include <zlib.h>

#include <stdexcept>

namespace archiver {

static_assert(sizeof(uLong) >= 8, "zlib totals must be 64-bit for entries above 4 GiB");

class EZlibError : public std::runtime_error {
 public:
  EZlibError() : std::runtime_error("error") {}
};
class ECompressionError : public EZlibError {};
class EDecompressionError : public EZlibError {};

// Returns `code`; raises ECompressionError when it is negative.
int CompressCheck(int code);
// Returns `code`; raises EDecompressionError when it is negative.
int DecompressCheck(int code);

// zalloc/zfree for z_stream: items x size fresh bytes (null when that
// overflows or memory is out, which zlib reports as Z_MEM_ERROR).
voidpf ZAZlibAllocMem(voidpf opaque, uInt items, uInt size);
void ZAZlibFreeMem(voidpf opaque, voidpf address);

// A z_stream with the archiver's callbacks installed and every other field
// cleared, ready for deflateInit2_/inflateInit2_.
z_stream ZAZlibNewStream();

}  // namespace archiver
