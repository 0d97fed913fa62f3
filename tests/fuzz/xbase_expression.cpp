// Fuzz harness: an expression text as a filter or key is given: compiled
// against a user link with fields of every type, evaluated with the text
// comparison options both ways, handed over as a key, and its rebuilt text
// compiled again, which must give the same text (a tree that does not
// read back would change a stored key expression).
//
// What one input may allocate is bounded. The engine takes text results up
// to 256 MiB by design, and under the fuzzer's instrumentation a few passes
// over such texts (SPACE(1) # SPACE(2^27) + SPACE(2^27)) outlast the run's
// time limit without finding anything. So an input gets 64 MiB in all;
// past that an allocation fails as on a full machine (std::bad_alloc, which
// the engine must survive without a leak) and the input ends there. A
// request larger than any the engine may make for a text within its limit
// is passed on, so that a size gone wrong stays a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "platform/Numbers.h"
#include "tests/xbase/ExpLink.h"
#include "xbase/base/errors.h"
#include "xbase/base/variant.h"
#include "xbase/expr/expression.h"

namespace {

using namespace xbase;

struct EOverBudget : std::bad_alloc {};

constexpr size_t kInputBudget = size_t{64} << 20;
// A text at the limit, grown by doubling, and its terminator.
constexpr size_t kLargestRequest = 2 * xbMaxTextValue + 1;
bool budgeted = false;
size_t budgetLeft = 0;

// Allocations of one input count against its budget while it lasts.
class TBudgetScope {
 public:
  TBudgetScope() {
    budgetLeft = kInputBudget;
    budgeted = true;
  }
  ~TBudgetScope() { budgeted = false; }
  TBudgetScope(const TBudgetScope&) = delete;
  TBudgetScope& operator=(const TBudgetScope&) = delete;
};

void* Allocate(size_t n) {
  if (budgeted && n <= kLargestRequest) {
    if (n > budgetLeft) throw EOverBudget();
    budgetLeft -= n;
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

xbtest::TTestLink& Link() {
  static xbtest::TTestLink link;
  static const bool made = [] {
    link.Text("NA;BO.NA", "Smith Jane          ");
    link.Number("AU;BO.AU", 5);
    link.Var("DT;BO.DT", 8, rtDate)->Value.PutFloat(2451545);
    link.Logical("DL;BO.DL", true);
    link.Var("ME;BO.ME", 10, rtMemo)->Value.PutText("memo");
    link.Var("NU;BO.NU", 10, rtText);  // null
    return true;
  }();
  (void)made;
  return link;
}

void Evaluate(TxbExpHandler& h) {
  TxbExpValue v;
  TxbVariant key;
  for (int round = 0; round < 2; ++round) {
    h.SetCaseInsensitive(round == 1);
    h.SetUseWildCards(round == 0);
    try {
      h.ExpressionResult(v);
      h.ExpressionAsVariant(key);
    } catch (const EXBaseExpression&) {
    } catch (const platform::EConvertError&) {  // VAL and CTOD of texts that are no number or date
    }
  }
}

}  // namespace

// Every plain allocation of the program goes through the budget (the
// deletes pair with the news, so that the sanitizers see malloc and free).
void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Link();
  const std::string text(reinterpret_cast<const char*>(data), size);
  TBudgetScope budget;
  try {
    std::unique_ptr<TxbExpHandler> h;
    try {
      h = std::make_unique<TxbExpHandler>(&Link(), text, "BO");
    } catch (const EXBaseExpression&) {
      return 0;
    } catch (const platform::EConvertError&) {  // a date literal that is no date
      return 0;
    }
    Evaluate(*h);
    h->EnumerateType(etDataField);
    const AnsiString rebuilt = h->Expression();
    TxbExpHandler again(&Link(), rebuilt, "BO");
    if (again.Expression() != rebuilt) std::abort();
  } catch (const EOverBudget&) {
  }
  return 0;
}
