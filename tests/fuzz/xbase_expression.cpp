// Fuzz harness: an expression text as a filter or key is given: compiled
// against a user link with fields of every type, evaluated with the text
// comparison options both ways, handed over as a key, and its rebuilt text
// compiled again, which must give the same text (a tree that does not
// read back would change a stored key expression).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/Numbers.h"
#include "tests/xbase/ExpLink.h"
#include "xbase/xb_error.h"
#include "xbase/xb_exp.h"
#include "xbase/xb_variant.h"

namespace {

using namespace xbase;

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
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
  return 0;
}
