// Fuzz harness: the lenient open, which walks a directory by its size and
// rebuilds a missing or damaged one from the local headers; then every item
// is listed, found again and tested.
#include "FuzzUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TArchive archive(data, size, /*lenient=*/true);
  if (!archive.Open()) return 0;
  archive.LookUp(archive.Names());
  archive.TestAll();
  return 0;
}
