// BENCH_LIBS: xbase platform
// The expression handler: compiling a filter-sized expression 100,000
// times, and evaluating the filter NA >= "M" .AND. AU = 5 over 1,000,000
// records of a test user link whose fields read a record buffer, as a
// table's fields do. Prints the time per compile and per evaluation, and
// the heap allocations per evaluation (0 once the buffers have grown); then
// the index key upper(NA) handed over as a TxbVariant for 1,000,000 records,
// as a bulk index build takes it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "bench/CountAllocations.h"
#include "xbase/base/variant.h"
#include "xbase/expr/expression.h"

namespace {

using namespace xbase;

struct TRecord {
  char NA[40];
  double AU;
};

const TRecord* gCurrent = nullptr;

class TNameField : public TxbUserDefFieldVar {
 public:
  TNameField() : TxbUserDefFieldVar("NA;BOOKS.NA", 40) {}
  int FieldVarType() const override { return etDataField; }
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutText(std::string_view(gCurrent->NA, sizeof gCurrent->NA));
    ExpResult = rtText;
  }
};

class TNumberField : public TxbUserDefFieldVar {
 public:
  TNumberField() : TxbUserDefFieldVar("AU;BOOKS.AU", 10) {}
  int FieldVarType() const override { return etDataField; }
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutFloat(gCurrent->AU);
    ExpResult = rtFloat;
  }
};

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  TxbExpUserLink link;
  link.RegisterFieldVar(std::make_unique<TNameField>());
  link.RegisterFieldVar(std::make_unique<TNumberField>());

  // 1,000 distinct records, cycled.
  std::vector<TRecord> records(1000);
  std::mt19937 gen(7);
  for (TRecord& r : records) {
    std::memset(r.NA, ' ', sizeof r.NA);
    const int len = 5 + static_cast<int>(gen() % 20);
    for (int i = 0; i < len; ++i) r.NA[i] = static_cast<char>('A' + gen() % 26);
    r.AU = static_cast<double>(gen() % 10);
  }

  const char* filter =
      "BOOKS->NA >= \"M\" .AND. (AU = 5 .OR. AU > 7) .AND. .NOT. NA = \"SM*\" .AND. AU * 2 + 1 < 100 "
      ".OR. NA $ \"ABCDEFGHIJ\" .AND. {01.01.2000} < {02.01.2000}";
  constexpr int kCompiles = 100000;
  auto t0 = std::chrono::steady_clock::now();
  long long checksum = 0;
  for (int i = 0; i < kCompiles; ++i) {
    TxbExpHandler h(&link, filter, "BOOKS");
    checksum += h.ArgCount();
  }
  const double compile = Seconds(t0);
  std::printf("compile a filter of %zu characters: %d times in %.3f s, %.2f us per compile (%lld)\n",
              std::strlen(filter), kCompiles, compile, compile * 1e6 / kCompiles, checksum);

  TxbExpHandler h(&link, "NA >= \"M\" .AND. AU = 5");
  TxbExpValue v;
  constexpr int kEvaluations = 1000000;
  long long hits = 0;
  gCurrent = &records[0];
  h.ExpressionResult(v);  // the buffers grow once
  const long long allocationsBefore = bench::gAllocations;
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kEvaluations; ++i) {
    gCurrent = &records[static_cast<size_t>(i) % records.size()];
    h.ExpressionResult(v);
    hits += v.Boolean();
  }
  const double evaluate = Seconds(t0);
  std::printf("evaluate NA >= \"M\" .AND. AU = 5: %d times in %.3f s, %.1f ns per evaluation, "
              "%.3f allocations per evaluation (%lld true)\n",
              kEvaluations, evaluate, evaluate * 1e9 / kEvaluations,
              static_cast<double>(bench::gAllocations - allocationsBefore) / kEvaluations, hits);

  TxbExpHandler key(&link, "upper(NA)");
  TxbVariant k;
  long long bytes = 0;
  gCurrent = &records[0];
  key.ExpressionAsVariant(k);
  const long long keyAllocationsBefore = bench::gAllocations;
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kEvaluations; ++i) {
    gCurrent = &records[static_cast<size_t>(i) % records.size()];
    key.ExpressionAsVariant(k);
    bytes += k.SizeVar();
  }
  const double keys = Seconds(t0);
  std::printf("key upper(NA) of 40 bytes into a TxbVariant: %d times in %.3f s, %.1f ns per key, "
              "%.3f allocations per key (%lld bytes)\n",
              kEvaluations, keys, keys * 1e9 / kEvaluations,
              static_cast<double>(bench::gAllocations - keyAllocationsBefore) / kEvaluations, bytes);
  return 0;
}
