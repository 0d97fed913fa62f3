// A user link of test field variables and functions for expression tests,
// and helpers that compile, evaluate and show a tree.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "tests/xbase/ErrorOf.h"
#include "xbase/expr/expression.h"

namespace xbtest {

using namespace xbase;

// A field whose value the test sets.
class TTestVar : public TxbUserDefFieldVar {
 public:
  TTestVar(std::string_view names, int len, TxbExpResultType type) : TxbUserDefFieldVar(names, len), Type(type) {}
  int FieldVarType() const override { return etDataField; }
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar = Value;
    ExpResult = Type;
  }
  TxbExpValue Value;
  TxbExpResultType Type;
};

using TTestBody = std::function<void(TxbExpFunction&, TxbExpValue&, TxbExpResultType&)>;

class TTestFunction : public TxbUserDefFunction {
 public:
  TTestFunction(std::string name, TTestBody body) : Name_(std::move(name)), Body_(std::move(body)) {}
  AnsiString FunctionName() const override { return Name_; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    Body_(Caller, BufVar, ExpResult);
  }

 private:
  std::string Name_;
  TTestBody Body_;
};

class TTestLink : public TxbExpUserLink {
 public:
  TTestVar* Var(std::string_view names, int len, TxbExpResultType type) {
    auto v = std::make_unique<TTestVar>(names, len, type);
    TTestVar* p = v.get();
    RegisterFieldVar(std::move(v));
    return p;
  }
  TTestVar* Text(std::string_view names, std::string_view value, int len = -1) {
    TTestVar* v = Var(names, len < 0 ? static_cast<int>(value.size()) : len, rtText);
    v->Value.PutText(value);
    return v;
  }
  TTestVar* Number(std::string_view names, double value, int len = 10) {
    TTestVar* v = Var(names, len, rtFloat);
    v->Value.PutFloat(value);
    return v;
  }
  TTestVar* Logical(std::string_view names, bool value) {
    TTestVar* v = Var(names, 1, rtBoolean);
    v->Value.PutBoolean(value);
    return v;
  }
  void Function(std::string name, TTestBody body) {
    RegisterFunction(std::make_unique<TTestFunction>(std::move(name), std::move(body)));
  }
};

struct TEval {
  TxbExpValue Value;
  TxbExpResultType Type = rtUnknown;
};

inline TEval Eval(TxbExpUserLink* link, std::string_view text, std::string_view alias = {}) {
  TxbExpHandler h(link, text, alias);
  TEval r;
  h.ExpressionResult(r.Value);
  r.Type = h.ResultType();
  return r;
}

inline std::string ExpError(const std::function<void()>& f) { return ErrorOf<EXBaseExpression>(f); }

// The tree fully parenthesised: "((A=1).AND.(.NOT.(B=2)))"; a group shows as
// "[...]", a call as NAME(arg,arg).
inline std::string Shape(const TxbExpBaseObject* n) {
  if (!n) return "";
  switch (n->ExpType()) {
    case etOperator:
      return "(" + Shape(n->ArgLeft()) + n->ExpObjectContains() + Shape(n->ArgRight()) + ")";
    case etContainer:
      return "[" + Shape(n->ArgRight()) + "]";
    case etFunction: {
      auto* f = static_cast<const TxbExpFunction*>(n);
      std::string s = f->FunctionName() + "(";
      for (int i = 0; i < f->ArgCount(); ++i) s += (i ? "," : "") + Shape(f->Arg(i)->ArgRight());
      return s + ")";
    }
    default:
      return n->ExpObjectContains();
  }
}

inline std::string ShapeOf(TxbExpUserLink* link, std::string_view text, std::string_view alias = {}) {
  TxbExpHandler h(link, text, alias);
  return Shape(h.ObjExpression());
}

}  // namespace xbtest
