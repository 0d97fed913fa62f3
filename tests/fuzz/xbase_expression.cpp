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
#include "xbase/xb_error.h"
#include "xbase/xb_exp.h"
#include "xbase/xb_variant.h"

namespace {

using namespace xbase;

class TField : public TxbUserDefFieldVar {
 public:
  TField(const char* names, int len, TxbExpResultType type) : TxbUserDefFieldVar(names, len), Type(type) {}
  int FieldVarType() const override { return etDataField; }
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar = Value;
    ExpResult = Type;
  }
  TxbExpValue Value;
  TxbExpResultType Type;
};

TxbExpUserLink& Link() {
  static TxbExpUserLink link;
  static const bool made = [] {
    auto add = [](const char* names, int len, TxbExpResultType type) {
      auto f = std::make_unique<TField>(names, len, type);
      TxbExpValue& v = f->Value;
      link.RegisterFieldVar(std::move(f));
      return &v;
    };
    add("NA;BO.NA", 20, rtText)->PutText("Smith Jane          ");
    add("AU;BO.AU", 10, rtFloat)->PutFloat(5);
    add("DT;BO.DT", 8, rtDate)->PutFloat(2451545);
    add("DL;BO.DL", 1, rtBoolean)->PutBoolean(true);
    add("ME;BO.ME", 10, rtMemo)->PutText("memo");
    add("NU;BO.NU", 10, rtText);  // null
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
