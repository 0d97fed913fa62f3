#include "xbase/expr/expression.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "platform/Collation.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/base/system.h"
#include "xbase/base/utilities.h"
#include "xbase/base/variant.h"
#include "xbase/expr/compiler.h"
#include "xbase/expr/functions.h"

namespace xbase {

namespace {

[[noreturn]] void Raise(int number, std::initializer_list<platform::TFormatArg> args = {}) {
  XBRaise<EXBaseExpression>(number, args);
}

void UpperInPlace(AnsiString& s) {
  for (char& c : s) c = static_cast<char>(platform::AnsiUpperChar(static_cast<unsigned char>(c)));
}

template <class Pair>
auto FindByName(const std::vector<Pair>& items, std::string_view name) {
  return std::lower_bound(items.begin(), items.end(), name,
                          [](const Pair& item, std::string_view n) { return std::string_view(item.first) < n; });
}

// The named values of the global field-variable registry.
class TxbSDVTrue : public TxbUserDefFieldVar {
 public:
  TxbSDVTrue() : TxbUserDefFieldVar("TRUE", 1) {}
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutBoolean(true);
    ExpResult = rtBoolean;
  }
};

class TxbSDVFalse : public TxbUserDefFieldVar {
 public:
  TxbSDVFalse() : TxbUserDefFieldVar("FALSE", 1) {}
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutBoolean(false);
    ExpResult = rtBoolean;
  }
};

class TxbSDVPi : public TxbUserDefFieldVar {
 public:
  TxbSDVPi() : TxbUserDefFieldVar("PI", 10) {}
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutFloat(std::numbers::pi);
    ExpResult = rtFloat;
  }
};

// Visits every operator of a tree.
template <class F>
void ForEachOperator(TxbExpBaseObject* node, const F& f) {
  if (!node) return;
  if (node->ExpType() == etOperator) f(static_cast<TxbExpOperator*>(node));
  if (node->ExpType() == etFunction) {
    auto* call = static_cast<TxbExpFunction*>(node);
    for (int i = 0; i < call->ArgCount(); ++i) ForEachOperator(call->Arg(i), f);
  }
  ForEachOperator(node->ArgLeft(), f);
  ForEachOperator(node->ArgRight(), f);
}

}  // namespace

const char* ExpResultTypeWord(int type) {
  static const char* const kWords[] = {"Unknown", "Empty", "Any",     "Text",   "Number",  "Integer",
                                       "Date",    "DateTime", "Boolean", "Memo", "Pointer"};
  return type >= 0 && type < static_cast<int>(std::size(kWords)) ? kWords[type] : "Invalid Value";
}

// --- functions and field variables --------------------------------------------

TxbUserDefFunction::~TxbUserDefFunction() = default;

void TxbUserDefFunction::FunctionResult(TxbExpFunction&, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.Clear();
  ExpResult = rtEmpty;
}

TxbUserDefFieldVar::TxbUserDefFieldVar(std::string_view name, int varLen, bool descendents)
    : FName(platform::AnsiUpperCase(name)), FVarLen(varLen), FDescendents(descendents) {}

TxbUserDefFieldVar::~TxbUserDefFieldVar() = default;

AnsiString TxbUserDefFieldVar::FieldVarList() const { return FName; }

AnsiString TxbUserDefFieldVar::FieldVarName() const {
  return AnsiString(TrimBlanks(std::string_view(FName).substr(0, FName.find(';'))));
}

int TxbUserDefFieldVar::FieldVarType() const { return etVariable; }

void TxbUserDefFieldVar::FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.Clear();
  ExpResult = rtEmpty;
}

// --- registries ----------------------------------------------------------------

TxbFunctionReg::TxbFunctionReg() = default;
TxbFunctionReg::~TxbFunctionReg() = default;

bool TxbFunctionReg::RegisterFunction(std::unique_ptr<TxbUserDefFunction> f) {
  if (!f) return false;
  AnsiString name = platform::AnsiUpperCase(f->FunctionName());
  const auto it = FindByName(Items_, name);
  if (it != Items_.end() && it->first == name) return false;
  Items_.emplace(it, std::move(name), std::move(f));
  return true;
}

TxbUserDefFunction* TxbFunctionReg::Find(std::string_view name) const {
  const auto it = FindByName(Items_, name);
  return it != Items_.end() && it->first == name ? it->second.get() : nullptr;
}

AnsiString TxbFunctionReg::FunctionName(int index) const {
  return index >= 0 && index < Count() ? Items_[static_cast<size_t>(index)].first : AnsiString();
}

TxbUserDefFunction* TxbFunctionReg::FunctionLink(int index) const {
  return index >= 0 && index < Count() ? Items_[static_cast<size_t>(index)].second.get() : nullptr;
}

TxbFieldVarReg::TxbFieldVarReg() = default;
TxbFieldVarReg::~TxbFieldVarReg() = default;

bool TxbFieldVarReg::RegisterFieldVar(std::unique_ptr<TxbUserDefFieldVar> v) {
  if (!v) return false;
  const AnsiString list = v->FieldVarList();
  bool all = true, any = false;
  for (size_t from = 0; from <= list.size();) {
    size_t to = list.find(';', from);
    if (to == AnsiString::npos) to = list.size();
    AnsiString name = platform::AnsiUpperCase(TrimBlanks(std::string_view(list).substr(from, to - from)));
    from = to + 1;
    if (name.empty()) continue;
    const auto it = FindByName(Items_, name);
    if (it != Items_.end() && it->first == name) {
      all = false;
      continue;
    }
    Items_.emplace(it, std::move(name), v.get());
    any = true;
  }
  if (any) Owned_.push_back(std::move(v));
  return all && any;
}

TxbUserDefFieldVar* TxbFieldVarReg::Find(std::string_view name) const {
  const auto it = FindByName(Items_, name);
  return it != Items_.end() && it->first == name ? it->second : nullptr;
}

AnsiString TxbFieldVarReg::FieldVarName(int index) const {
  return index >= 0 && index < Count() ? Items_[static_cast<size_t>(index)].first : AnsiString();
}

int TxbFieldVarReg::FieldVarType(int index) const {
  return index >= 0 && index < Count() ? Items_[static_cast<size_t>(index)].second->FieldVarType() : -1;
}

TxbUserDefFieldVar* TxbFieldVarReg::FieldVarLink(int index) const {
  return index >= 0 && index < Count() ? Items_[static_cast<size_t>(index)].second : nullptr;
}

TxbExpUserLink::TxbExpUserLink() = default;
TxbExpUserLink::~TxbExpUserLink() = default;

TxbUserDefFunction* TxbExpUserLink::FindFunction(std::string_view AFunction) { return FFunctions.Find(AFunction); }

TxbUserDefFieldVar* TxbExpUserLink::FindFieldVar(std::string_view AFieldVar) {
  // Field names have at most 10 characters; a longer name written in an
  // expression means the field it begins with.
  constexpr size_t kFieldNameMax = 10;
  const size_t dot = AFieldVar.rfind('.');
  if (dot == std::string_view::npos) return FFieldVars.Find(AFieldVar.substr(0, kFieldNameMax));
  AnsiString name(AFieldVar.substr(0, dot + 1));
  name += AFieldVar.substr(dot + 1, kFieldNameMax);
  return FFieldVars.Find(name);
}

void TxbExpUserLink::OnNoFunction(std::string_view AFunction) { Raise(xbmNoFunction, {AFunction}); }

TxbFunctionReg& xbFunctionRegistry() {
  static TxbFunctionReg reg;
  static const bool filled = (xbRegisterFunctionLibrary(reg), true);
  (void)filled;
  return reg;
}

TxbFieldVarReg& xbFieldVarRegistry() {
  static TxbFieldVarReg reg;
  static const bool filled = [] {
    reg.RegisterFieldVar(std::make_unique<TxbSDVTrue>());
    reg.RegisterFieldVar(std::make_unique<TxbSDVFalse>());
    reg.RegisterFieldVar(std::make_unique<TxbSDVPi>());
    return true;
  }();
  (void)filled;
  return reg;
}

// --- nodes -----------------------------------------------------------------------

TxbExpBaseObject::~TxbExpBaseObject() = default;

const char* TxbExpBaseObject::ExpTypeText() const {
  static const char* const kNames[] = {"etUnknown", "etAbsorbed", "etContainer", "etOperator",
                                       "etFunction", "etFieldVar", "etTextLit",  "etNumLit",
                                       "etDateLit",  "etBlnLit",  "etVariable", "etDataField"};
  return FExpType < std::size(kNames) ? kNames[FExpType] : "etUnknown";
}

AnsiString TxbExpBaseObject::ExpObjectContains() const { return {}; }

int TxbExpBaseObject::ExpObjectType() const { return -1; }

AnsiString TxbExpBaseObject::ExpRebuildExpression() const {
  AnsiString s = FArgLeft ? FArgLeft->ExpRebuildExpression() : AnsiString();
  s += ExpObjectContains();
  if (FArgRight) s += FArgRight->ExpRebuildExpression();
  return s;
}

AnsiString TxbExpBaseObject::ExpEnumTypes(int AType) const {
  AnsiString s = FArgLeft ? FArgLeft->ExpEnumTypes(AType) : AnsiString();
  if (FArgRight) s += FArgRight->ExpEnumTypes(AType);
  return s;
}

TxbExpContainer::TxbExpContainer(std::unique_ptr<TxbExpBaseObject> inner, bool parenthesised, int len, int dec)
    : TxbExpBaseObject(etContainer), FParenthesised(parenthesised) {
  SetArgRightNode(std::move(inner));
  SetLenDec(len, dec);
}

AnsiString TxbExpContainer::ExpRebuildExpression() const {
  AnsiString inner = ArgRight() ? ArgRight()->ExpRebuildExpression() : AnsiString();
  return FParenthesised ? "(" + inner + ")" : inner;
}

void TxbExpContainer::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  if (TxbExpBaseObject* inner = ArgRight()) {
    inner->ExpParse(BufVar, ExpResult);
  } else {
    BufVar.Clear();
    ExpResult = rtEmpty;
  }
}

TxbExpOperator::TxbExpOperator(int code, int level, AnsiString text)
    : TxbExpBaseObject(etOperator), FOperator(code), FPrecedence(level), FText(std::move(text)) {}

void TxbExpOperator::SetOperands(std::unique_ptr<TxbExpBaseObject> left, std::unique_ptr<TxbExpBaseObject> right) {
  SetArgLeftNode(std::move(left));
  SetArgRightNode(std::move(right));
}

void TxbExpOperator::SetOptions(bool insensitive, bool wildCards, char all, char one) {
  FInsensitive = insensitive;
  FWildCards = wildCards;
  FWildCharAll = all;
  FWildCharOne = one;
}

AnsiString TxbExpOperator::ExpObjectContains() const { return FText; }

void TxbExpOperator::CheckTextLength(size_t length) const {
  if (length > xbMaxTextValue) Raise(xbmArgumentMustBe, {FText, "within the 256 MiB result limit"});
}

int TxbExpOperator::CompareText(std::string_view left, std::string_view right) {
  left = TrimBlanksRight(left);
  right = TrimBlanksRight(right);
  if (FInsensitive) {
    FScratchL.assign(left);
    UpperInPlace(FScratchL);
    FScratchR.assign(right);
    UpperInPlace(FScratchR);
    left = FScratchL;
    right = FScratchR;
  }
  if (FWildCards && !right.empty() && (right.front() == FWildCharAll || right.back() == FWildCharAll)) {
    if (FWildCharAll != '*' || FWildCharOne != '?') {
      // The matcher knows '*' and '?': SQL's '%' and '_' are put in their place.
      if (right.data() != FScratchR.data()) FScratchR.assign(right);
      for (char& c : FScratchR)
        if (c == FWildCharAll) c = '*';
        else if (c == FWildCharOne) c = '?';
      right = FScratchR;
    }
    return WildcardMatch(right, left) ? 0 : -1;
  }
  return platform::AnsiCompareStr(left, right);
}

void TxbExpOperator::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  TxbExpBaseObject* left = ArgLeft();
  TxbExpBaseObject* right = ArgRight();
  if (!right || (!left && FOperator != xboNot)) Raise(xbmTargetMissing, {FText});
  TxbExpResultType rt = rtUnknown;
  right->ExpParse(FRightVal, rt);
  ExpResult = rt;
  if (FOperator == xboNot) {
    if (rt != rtBoolean) Raise(xbmValueInvalid, {"assigned"});
    BufVar.PutBoolean(!FRightVal.Boolean());
    ExpResult = rtBoolean;
    return;
  }
  TxbExpResultType lt = rtUnknown;
  left->ExpParse(BufVar, lt);
  if (lt != rt && !(IsNumericResult(lt) && IsNumericResult(rt))) Raise(xbmSidesDoNotMatch);

  auto compared = [&](int c) {
    switch (FOperator) {
      case xboEqual:
      case xboExactEqual: return c == 0;
      case xboNotEqual: return c != 0;
      case xboGreater: return c > 0;
      case xboLess: return c < 0;
      case xboGreaterEq: return c >= 0;
      default: return c <= 0;  // xboLessEq
    }
  };
  const bool comparison = FOperator >= xboEqual && FOperator <= xboExactEqual && FOperator != xboContains;
  const bool arithmetic = FOperator >= xboPlus && FOperator <= xboPower;

  if (rt == rtBoolean) {
    const bool l = BufVar.Boolean(), r = FRightVal.Boolean();
    bool v;
    switch (FOperator) {
      case xboEqual:
      case xboExactEqual: v = l == r; break;
      case xboNotEqual: v = l != r; break;
      case xboAnd: v = l && r; break;
      case xboOr: v = l || r; break;
      default: Raise(xbmValueInvalid, {arithmetic ? "number" : "assigned"});
    }
    BufVar.PutBoolean(v);
    ExpResult = rtBoolean;
    return;
  }

  if (IsNumericResult(rt)) {
    double l = BufVar.Float(), r = FRightVal.Float();
    if (comparison) {
      // A date field reads an empty date as day 0, the function library
      // carries it as xbEmptyDate: both are the one empty date, so that
      // BD = CTOD("") finds the records without a date.
      if (lt == rtDate && xbIsEmptyDate(l)) l = 0;
      if (rt == rtDate && xbIsEmptyDate(r)) r = 0;
      BufVar.PutBoolean(compared(l < r ? -1 : l > r ? 1 : l == r ? 0 : 1));  // NaN: unequal
      ExpResult = rtBoolean;
      return;
    }
    double v;
    switch (FOperator) {
      case xboPlus: v = l + r; break;
      case xboMinus: v = l - r; break;
      case xboMultiply: v = l * r; break;
      case xboDivide:
        // An infinity must not end up in a key.
        if (r == 0) Raise(xbmArgumentMustBe, {"/", "not 0"});
        v = l / r;
        break;
      case xboPower: v = std::pow(l, r); break;
      default: Raise(xbmValueInvalid, {"assigned"});
    }
    BufVar.PutFloat(v);
    return;  // arithmetic keeps the right operand's type
  }

  if (rt == rtText || rt == rtMemo) {
    const std::string_view r = FRightVal.Text();
    if (comparison) {
      const std::string_view l = BufVar.Text();
      // A null or empty side decides at once.
      const int c = l.empty() || r.empty() ? (l.empty() ? (r.empty() ? 0 : -1) : 1) : CompareText(l, r);
      BufVar.PutBoolean(compared(c));
      ExpResult = rtBoolean;
      return;
    }
    switch (FOperator) {
      case xboContains: {
        const bool found = TextPos(BufVar.Text(), r) > 0;
        BufVar.PutBoolean(found);
        ExpResult = rtBoolean;
        return;
      }
      case xboPlus:
        CheckTextLength(BufVar.Text().size() + r.size());
        BufVar.TextBuf().append(r);
        return;
      case xboMinus: {
        // The left side's trailing blanks move to the end.
        AnsiString& t = BufVar.TextBuf();
        const size_t total = t.size() + r.size();
        CheckTextLength(total);
        t.resize(TrimBlanksRight(t).size());
        t.append(r);
        t.resize(total, ' ');
        return;
      }
      default: Raise(xbmValueInvalid, {"assigned"});
    }
  }
  Raise(xbmValueInvalid, {"assigned"});
}

TxbExpFunction::TxbExpFunction(TxbExpHandler* owner, TxbUserDefFunction* udf)
    : TxbExpBaseObject(etFunction), FOwner(owner), FUDF(udf) {}

void TxbExpFunction::AddArg(std::unique_ptr<TxbExpContainer> arg) {
  SetLenDec(std::max(ExpLen(), arg->ExpLen()), std::max(ExpDec(), arg->ExpDec()));
  FArgList.push_back(std::move(arg));
}

TxbExpContainer* TxbExpFunction::Arg(int Index) const {
  return Index >= 0 && Index < ArgCount() ? FArgList[static_cast<size_t>(Index)].get() : nullptr;
}

AnsiString TxbExpFunction::FunctionName() const { return FUDF ? FUDF->FunctionName() : AnsiString(); }

void TxbExpFunction::FetchArg(int Index, TxbExpValue& BufVar, TxbExpResultType ExpResultNeeded,
                              TxbExpResultType& ExpResult) {
  if (TxbExpContainer* arg = Arg(Index)) {
    arg->ExpParse(BufVar, ExpResult);
  } else {
    BufVar.Clear();
    ExpResult = rtEmpty;
  }
  if (ExpResult == rtVariant) ExpResult = ExpResultNeeded;
  if (ExpResultNeeded != rtAny && ExpResult != ExpResultNeeded &&
      !(IsNumericResult(ExpResult) && IsNumericResult(ExpResultNeeded)))
    Raise(xbmArgumentNeeded, {ExpResultTypeWord(ExpResultNeeded), Index + 1, FunctionName()});
}

int TxbExpFunction::FetchArgLen(int Index) const {
  const TxbExpContainer* arg = Arg(Index);
  return arg ? arg->ExpLen() : 10;
}

TxbExpUserLink* TxbExpFunction::FetchUser() const { return FOwner ? FOwner->UserLink() : nullptr; }

TxbExpValue& TxbExpFunction::ArgValue(int Index) {
  // A deque keeps the buffers in place while more are added.
  while (static_cast<int>(FArgValues.size()) <= Index) FArgValues.emplace_back();
  return FArgValues[static_cast<size_t>(Index)];
}

AnsiString TxbExpFunction::ExpObjectContains() const { return FunctionName(); }

AnsiString TxbExpFunction::ExpRebuildExpression() const {
  AnsiString s = FunctionName() + "(";
  for (size_t i = 0; i < FArgList.size(); ++i) {
    if (i) s += ',';
    s += FArgList[i]->ExpRebuildExpression();
  }
  return s + ")";
}

AnsiString TxbExpFunction::ExpEnumTypes(int AType) const {
  AnsiString s;
  for (const auto& arg : FArgList) s += arg->ExpEnumTypes(AType);
  return s;
}

void TxbExpFunction::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  FUDF->FunctionResult(*this, BufVar, ExpResult);
}

TxbExpFieldvar::TxbExpFieldvar(TxbExpHandler* owner, TxbUserDefFieldVar* udf)
    : TxbExpBaseObject(etFieldVar), FOwner(owner), FUDF(udf) {
  SetLenDec(udf->VarLen(), 0);
}

AnsiString TxbExpFieldvar::ExpObjectContains() const { return FUDF->FieldVarName(); }

int TxbExpFieldvar::ExpObjectType() const { return FUDF->FieldVarType(); }

AnsiString TxbExpFieldvar::ExpEnumTypes(int AType) const {
  return ExpObjectType() == AType ? ExpObjectContains() + ";" : AnsiString();
}

void TxbExpFieldvar::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  FUDF->FieldVarResult(BufVar, ExpResult);
}

TxbExpTextLit::TxbExpTextLit(std::string_view value) : TxbExpBaseObject(etTextLit), FExpValue(value) {}

AnsiString TxbExpTextLit::ExpObjectContains() const {
  // The first delimiter the text does not hold, so that it reads back.
  if (FExpValue.find('"') == AnsiString::npos) return '"' + FExpValue + '"';
  if (FExpValue.find('\'') == AnsiString::npos) return '\'' + FExpValue + '\'';
  if (FExpValue.find(']') == AnsiString::npos) return '[' + FExpValue + ']';
  // A text holding all three is written as a sum of pieces: '"' alone, the
  // rest between double quotes.
  AnsiString s = "(";
  for (size_t from = 0; from < FExpValue.size();) {
    if (from) s += '+';
    if (FExpValue[from] == '"') {
      s += "'\"'";
      ++from;
      continue;
    }
    const size_t to = std::min(FExpValue.find('"', from), FExpValue.size());
    s += '"' + FExpValue.substr(from, to - from) + '"';
    from = to;
  }
  return s + ")";
}

void TxbExpTextLit::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.PutText(FExpValue);
  ExpResult = rtText;
}

TxbExpNumLit::TxbExpNumLit(double value, int len, int dec) : TxbExpBaseObject(etNumLit), FExpFloat(value) {
  SetLenDec(len, dec);
}

AnsiString TxbExpNumLit::ExpObjectContains() const {
  // 309 digits before the point at the most, and the literal's decimals.
  std::vector<char> buf(static_cast<size_t>(ExpDec()) + 320);
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), FExpFloat, std::chars_format::fixed, ExpDec());
  return r.ec == std::errc() ? AnsiString(buf.data(), r.ptr) : AnsiString("0");
}

void TxbExpNumLit::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.PutFloat(FExpFloat);
  ExpResult = rtFloat;
}

TxbExpDateLit::TxbExpDateLit(double julian) : TxbExpBaseObject(etDateLit), FExpDate(julian) {}

AnsiString TxbExpDateLit::ExpObjectContains() const {
  return '{' + xbDBFDate().DTOC(static_cast<int32_t>(FExpDate)) + '}';
}

void TxbExpDateLit::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.PutFloat(FExpDate);
  ExpResult = rtDate;
}

TxbExpBlnLit::TxbExpBlnLit(bool value) : TxbExpBaseObject(etBlnLit), FExpLogic(value) {}

AnsiString TxbExpBlnLit::ExpObjectContains() const { return FExpLogic ? ".T." : ".F."; }

void TxbExpBlnLit::ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.PutBoolean(FExpLogic);
  ExpResult = rtBoolean;
}

// --- handler -----------------------------------------------------------------------

TxbExpHandler::TxbExpHandler(TxbExpUserLink* AUser, std::string_view AExpression, std::string_view FAlias,
                             bool IsSQL)
    : FUserLink(AUser), FAliasUpper(platform::AnsiUpperCase(TrimBlanks(FAlias))) {
  if (IsSQL) {
    FWildCharAll = '%';
    FWildCharOne = '_';
  }
  SetExpression(AExpression);
}

TxbExpHandler::~TxbExpHandler() = default;

AnsiString TxbExpHandler::Expression() const {
  return FParseObj ? FParseObj->ExpRebuildExpression() : AnsiString();
}

void TxbExpHandler::SetExpression(std::string_view text) {
  FParseObj.reset();
  FExpLen = FExpDec = FArgCount = 0;
  FResultType = rtUnknown;
  TxbCompileOptions options;
  options.Insensitive = FInsensitive;
  options.WildCards = FWildCards;
  options.WildCharAll = FWildCharAll;
  options.WildCharOne = FWildCharOne;
  TxbCompiled c = xbCompileExpression(this, text, FAliasUpper, options);
  FParseObj = std::move(c.Root);
  FArgCount = c.ArgCount;
  FExpLen = c.ExpLen;
  FExpDec = c.ExpDec;
}

void TxbExpHandler::ApplyOptions() {
  ForEachOperator(FParseObj.get(), [this](TxbExpOperator* op) {
    op->SetOptions(FInsensitive, FWildCards, FWildCharAll, FWildCharOne);
  });
}

void TxbExpHandler::SetCaseInsensitive(bool v) {
  FInsensitive = v;
  ApplyOptions();
}

void TxbExpHandler::SetUseWildCards(bool v) {
  FWildCards = v;
  ApplyOptions();
}

void TxbExpHandler::SetWildCardAll(char c) {
  FWildCharAll = c;
  ApplyOptions();
}

void TxbExpHandler::SetWildCardOne(char c) {
  FWildCharOne = c;
  ApplyOptions();
}

void TxbExpHandler::ExpressionResult(TxbExpValue& BufVar) {
  if (!FParseObj) {
    FResultType = rtUnknown;
    return;
  }
  FParseObj->ExpParse(BufVar, FResultType);
}

void TxbExpHandler::ExpressionAsVariant(TxbVariant& AVar) {
  if (!FParseObj) {
    AVar.PutString("");
    FResultType = rtUnknown;
    return;
  }
  ExpressionResult(FResultBuf);
  if (FResultBuf.IsNull()) {
    FResultType = rtUnknown;
    return;
  }
  switch (FResultType) {
    case rtText: AVar.PutString(FResultBuf.Text()); break;
    case rtFloat:
    case rtDateTime: AVar.PutFloat(FResultBuf.Float()); break;
    case rtDate: {
      // The function library carries the empty date as 1.0E100: a day
      // number must fit 32 bits, and anything else is the empty date.
      const double d = std::round(FResultBuf.Float());
      const bool fits = d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max();
      AVar.PutDate(fits ? static_cast<int32_t>(d) : 0);
      break;
    }
    case rtBoolean: AVar.PutBoolean(FResultBuf.Boolean()); break;
    default: FResultType = rtUnknown;
  }
}

AnsiString TxbExpHandler::EnumerateType(int AType) const {
  return FParseObj ? FParseObj->ExpEnumTypes(AType) : AnsiString();
}

}  // namespace xbase
