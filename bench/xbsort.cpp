// BENCH_LIBS: xbase platform
// The key sorter: 1,000,000 numeric keys and 1,000,000 text keys of 120
// bytes, added and taken back in order; keys per second and the process's
// peak memory after each (the text keys pass the default memory budget, so
// runs are spilled to the work file and merged).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "xbase/base/key_sorter.h"

namespace {

constexpr int kKeys = 1000000;

double PeakMiB() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

template <class Fill>
void Run(const char* what, int keyLen, Fill fill) {
  const auto t0 = std::chrono::steady_clock::now();
  xbase::TxbSort sorter(keyLen, false, true);
  xbase::TxbVariant key;
  std::mt19937 gen(9);
  for (int i = 0; i < kKeys; ++i) {
    fill(key, gen);
    sorter.AddKey(key, i + 1);
  }
  const auto t1 = std::chrono::steady_clock::now();
  int32_t tag = 0;
  long long n = 0;
  while (sorter.GetNextKey(key, tag)) ++n;
  const auto t2 = std::chrono::steady_clock::now();
  const double add = std::chrono::duration<double>(t1 - t0).count();
  const double take = std::chrono::duration<double>(t2 - t1).count();
  std::printf("%-22s %lld keys: add %.3f s, retrieve %.3f s, %.0f keys/s overall, %d runs spilled, peak %.0f MiB\n",
              what, n, add, take, static_cast<double>(n) / (add + take), sorter.RunCount(), PeakMiB());
}

}  // namespace

int main() {
  Run("numeric (float) keys", 8, [](xbase::TxbVariant& k, std::mt19937& g) {
    k.PutFloat(static_cast<double>(g() % 10000000) / 100.0);
  });
  std::string text(120, ' ');
  Run("text keys, 120 bytes", 120, [&](xbase::TxbVariant& k, std::mt19937& g) {
    for (int i = 0; i < 24; ++i) text[static_cast<size_t>(i)] = static_cast<char>('A' + g() % 26);
    for (size_t i = 24; i < text.size(); ++i) text[i] = static_cast<char>('a' + (i + text[i % 24]) % 26);
    k.PutString(text);
  });
  return 0;
}
