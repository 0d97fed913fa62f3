// How much of a heavy model loop (every count, every damaged byte) a test
// runs. Under the sanitizers such a loop takes minutes on a busy machine,
// so there it runs a fixed sample: every `step`-th case, the same cases in
// every run. An optimised build, and a run with TOMESHELF_WHOLE=1 (the
// CTest label `whole`, outside the everyday suite), run every case.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace looptest {

inline bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

inline bool Whole() {
  const char* whole = std::getenv("TOMESHELF_WHOLE");
  return !Sanitized() || (whole && std::strcmp(whole, "1") == 0);
}

// The distance between two cases a loop runs: 1 in a whole run, else
// `sampled` (best odd, so that a case choice taken from the index, such as
// the bit a damage flips, still varies over the sample).
inline size_t Step(size_t sampled) { return Whole() ? 1 : sampled; }

}  // namespace looptest
