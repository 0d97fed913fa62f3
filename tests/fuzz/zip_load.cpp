// Fuzz harness: loading a zip directory strictly (a damaged archive is
// refused, not rebuilt), listing every item, finding each again by name, and
// testing every item.
#include "FuzzUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TArchive archive(data, size, /*lenient=*/false);
  if (!archive.Open()) return 0;
  archive.LookUp(archive.Names());
  archive.TestAll();
  return 0;
}
