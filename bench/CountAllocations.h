// Counting replacements of the global allocation functions, for benchmarks
// that report heap allocations per operation. Include it in one source file
// of a program only (the replacements are definitions).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace bench {

// Calls of operator new since the program started.
inline long long gAllocations = 0;

}  // namespace bench

// GCC takes the pair for a mismatch once it inlines them.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  ++bench::gAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
