// The xBase expression language: compiled expressions, their tree of nodes,
// and the registries through which names find what computes them.
//
// Index keys ("upper(NA)", a bare numeric field), the FOR conditions of
// index tags and filters are written in this language. A TxbExpHandler
// compiles such a text once into a tree (TxbExpBaseObject and its kinds)
// and evaluates the tree once per record:
//
//   TxbExpUserLink link;                    // a table's fields and functions
//   TxbExpHandler key(&link, "upper(NA)");  // compiles; raises on bad text
//   TxbVariant k;
//   key.ExpressionAsVariant(k);             // per record: the index key
//
// Names. A function call binds to the global function registry
// (xbFunctionRegistry: the function library) first, then to the user
// link's functions. A field or variable name binds to the global field-
// variable registry (xbFieldVarRegistry: TRUE, FALSE, PI) first, then to the
// user link's field variables. A table registers its fields and its
// table-bound functions on its own user link. Names are compared upper-cased
// by the one ANSI case table (platform::AnsiUpperCase), so Cyrillic field
// names bind too.
//
// Values during evaluation are TxbExpValue (null, Windows-1251 text, double,
// boolean) with a TxbExpResultType beside them; dates travel as the Julian
// day in a double. Evaluation allocates nothing once the buffers of a tree
// have grown to the sizes of the values they carry, so a bulk index build
// pays for the node walk only.
//
// Every compilation and evaluation error raises EXBaseExpression with its
// numbered message (base/errors.h).
//
// Threads: a handler, its tree and a user link have one user at a time. The
// global registries are filled once, on first use, and only read after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CodePage.h"

namespace xbase {

using platform::AnsiString;

class TxbVariant;

// The kind of a node.
enum TxbExpressionType : uint8_t {
  etUnknown = 0,
  etAbsorbed = 1,
  etContainer = 2,
  etOperator = 3,
  etFunction = 4,
  etFieldVar = 5,
  etTextLit = 6,
  etNumLit = 7,
  etDateLit = 8,
  etBlnLit = 9,
  etVariable = 10,   // the type code of a named variable (TRUE, FALSE, PI)
  etDataField = 11,  // the type code of a table's field variable
};

// The type of a value.
enum TxbExpResultType : uint8_t {
  rtUnknown = 0,
  rtEmpty = 1,
  rtAny = 2,
  rtText = 3,
  rtFloat = 4,
  rtInteger = 5,
  rtDate = 6,
  rtDateTime = 7,
  rtBoolean = 8,
  rtMemo = 9,
  rtPointer = 10,
  rtVariant = 11,
};

// The word of a result type in messages: "Text", "Number", "Date", ...;
// "Invalid Value" for a code outside the enumeration.
const char* ExpResultTypeWord(int type);
// Number, integer, date and date-time values mix freely in operations and
// argument checks.
inline bool IsNumericResult(TxbExpResultType t) {
  return t == rtFloat || t == rtInteger || t == rtDate || t == rtDateTime;
}

// The longest text a function or a text operator may give: a longer one
// raises 65178 "Argument for %s must be within the 256 MiB result limit"
// instead of exhausting memory on a hostile filter text.
inline constexpr size_t xbMaxTextValue = size_t{256} << 20;

// Operator codes (token codes of the tokenizer) and their binding levels: a
// lower level binds tighter.
enum : int {
  xboEqual = 129,      // = == EQ          level 5
  xboNotEqual = 130,   // <> != # NE       level 5
  xboGreater = 131,    // > GT             level 5
  xboLess = 132,       // < LT             level 5
  xboGreaterEq = 133,  // >= => GE         level 5
  xboLessEq = 134,     // <= =< LE         level 5
  xboContains = 135,   // $                level 5
  xboExactEqual = 136, // no text gives it; evaluates as =
  xboPlus = 137,       // +                level 4
  xboMinus = 138,      // -                level 4
  xboMultiply = 139,   // *                level 3
  xboDivide = 140,     // /                level 3
  xboPower = 141,      // ** ^             level 2
  xboAnd = 144,        // AND .AND.        level 7
  xboOr = 145,         // OR .OR.          level 8
  xboNot = 146,        // NOT .NOT. !      level 6, right operand only
};

// One value during evaluation. Setting a value of another kind keeps the
// text buffer's capacity, so a buffer that is reused record after record
// stops allocating once it has grown.
class TxbExpValue {
 public:
  enum TKind : uint8_t { vkNull, vkText, vkFloat, vkBoolean };

  TKind Kind() const { return Kind_; }
  bool IsNull() const { return Kind_ == vkNull; }

  void Clear() { Kind_ = vkNull; }
  void PutText(std::string_view text) {
    Text_.assign(text.data(), text.size());
    Kind_ = vkText;
  }
  // The text buffer for building a text in place; the value becomes text.
  AnsiString& TextBuf() {
    if (Kind_ != vkText) Text_.clear();
    Kind_ = vkText;
    return Text_;
  }
  void PutFloat(double value) {
    Float_ = value;
    Kind_ = vkFloat;
  }
  void PutBoolean(bool value) {
    Boolean_ = value;
    Kind_ = vkBoolean;
  }

  // The value as each kind; a value of another kind gives "", 0 or false.
  std::string_view Text() const { return Kind_ == vkText ? std::string_view(Text_) : std::string_view(); }
  double Float() const { return Kind_ == vkFloat ? Float_ : 0.0; }
  bool Boolean() const { return Kind_ == vkBoolean && Boolean_; }

 private:
  AnsiString Text_;
  double Float_ = 0;
  bool Boolean_ = false;
  TKind Kind_ = vkNull;
};

class TxbExpHandler;
class TxbExpFunction;
class TxbExpUserLink;

// A function an expression may call. A descendant answers its name and
// computes its result from the arguments of the calling node, fetched with
// TxbExpFunction::FetchArg. One object serves every call of its name in
// every expression, so it keeps no per-call state.
class TxbUserDefFunction {
 public:
  TxbUserDefFunction() = default;
  virtual ~TxbUserDefFunction();
  TxbUserDefFunction(const TxbUserDefFunction&) = delete;
  TxbUserDefFunction& operator=(const TxbUserDefFunction&) = delete;

  // The name the function is called by (registered upper-cased).
  virtual AnsiString FunctionName() const = 0;
  // Sets ExpResult to the result's type and leaves the result in BufVar.
  // The base gives null with rtEmpty.
  virtual void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult);
};

// A named value an expression may refer to: a field of a table, or a named
// variable. FName may list several names separated by ';' (a table field is
// known by its name and by alias.name); the variable is registered under
// each.
class TxbUserDefFieldVar {
 public:
  // `name` is upper-cased; `varLen` is the length a reference to the
  // variable counts for (NumberLength, STR's default width); a variable with
  // `descendents` also binds "NAME.PART" forms looked up whole.
  explicit TxbUserDefFieldVar(std::string_view name, int varLen = 0, bool descendents = false);
  virtual ~TxbUserDefFieldVar();
  TxbUserDefFieldVar(const TxbUserDefFieldVar&) = delete;
  TxbUserDefFieldVar& operator=(const TxbUserDefFieldVar&) = delete;

  int VarLen() const { return FVarLen; }
  bool Descendents() const { return FDescendents; }

  // All names, ';'-separated, upper-cased.
  virtual AnsiString FieldVarList() const;
  // The first name: what an expression rebuilt from its tree, and the list
  // of names of EnumerateType, call the variable.
  virtual AnsiString FieldVarName() const;
  // The type code: etVariable here; a table's field gives etDataField.
  virtual int FieldVarType() const;
  // Sets ExpResult to the value's type and leaves the value in BufVar. The
  // base gives null with rtEmpty.
  virtual void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult);

 private:
  AnsiString FName;
  int FVarLen;
  bool FDescendents;
};

// Functions by upper-cased name, sorted, owning them.
class TxbFunctionReg {
 public:
  TxbFunctionReg();
  ~TxbFunctionReg();
  TxbFunctionReg(const TxbFunctionReg&) = delete;
  TxbFunctionReg& operator=(const TxbFunctionReg&) = delete;

  // Adds `f` under its upper-cased FunctionName. A name already present is
  // refused: false, and `f` is freed.
  bool RegisterFunction(std::unique_ptr<TxbUserDefFunction> f);
  // The function of an upper-cased name; nullptr when absent.
  TxbUserDefFunction* Find(std::string_view name) const;
  int Count() const { return static_cast<int>(Items_.size()); }
  // By position in name order; "" and nullptr out of range.
  AnsiString FunctionName(int index) const;
  TxbUserDefFunction* FunctionLink(int index) const;

 private:
  std::vector<std::pair<AnsiString, std::unique_ptr<TxbUserDefFunction>>> Items_;
};

// Field variables by upper-cased name, sorted, owning them. A variable
// registered under several names is freed once, with the registry.
class TxbFieldVarReg {
 public:
  TxbFieldVarReg();
  ~TxbFieldVarReg();
  TxbFieldVarReg(const TxbFieldVarReg&) = delete;
  TxbFieldVarReg& operator=(const TxbFieldVarReg&) = delete;

  // Adds `v` under each name of its FieldVarList. A name already present
  // is refused (the others are still added); false when any was refused.
  // A variable refused under every name is freed at once.
  bool RegisterFieldVar(std::unique_ptr<TxbUserDefFieldVar> v);
  // The variable of an upper-cased name; nullptr when absent.
  TxbUserDefFieldVar* Find(std::string_view name) const;
  int Count() const { return static_cast<int>(Items_.size()); }
  // By position in name order; "", -1 and nullptr out of range.
  AnsiString FieldVarName(int index) const;
  int FieldVarType(int index) const;
  TxbUserDefFieldVar* FieldVarLink(int index) const;

 private:
  std::vector<std::pair<AnsiString, TxbUserDefFieldVar*>> Items_;  // sorted by name
  std::vector<std::unique_ptr<TxbUserDefFieldVar>> Owned_;
};

// The link of an expression to the names of its surroundings: a table's
// field variables and table-bound functions. A descendant may override the
// look-ups (to find names elsewhere) and OnNoFunction.
class TxbExpUserLink {
 public:
  TxbExpUserLink();
  virtual ~TxbExpUserLink();
  TxbExpUserLink(const TxbExpUserLink&) = delete;
  TxbExpUserLink& operator=(const TxbExpUserLink&) = delete;

  TxbFunctionReg& UserFunctionRegistry() { return FFunctions; }
  TxbFieldVarReg& UserFieldVarRegistry() { return FFieldVars; }
  // STR's width when the call gives none (10); a negative setting makes
  // STR take its argument's length instead.
  int DefaultStrSize() const { return FStrSize; }
  void SetDefaultStrSize(int size) { FStrSize = size; }

  // The function of an upper-cased name; nullptr when absent.
  virtual TxbUserDefFunction* FindFunction(std::string_view AFunction);
  // The field variable of an upper-cased name; nullptr when absent. A
  // plain name is cut to its first 10 characters (the longest field name
  // of a table); in "ALIAS.FIELD" only the field part is.
  virtual TxbUserDefFieldVar* FindFieldVar(std::string_view AFieldVar);
  // Called when no function of that name exists: raises 65176 "There is no
  // function for %s".
  virtual void OnNoFunction(std::string_view AFunction);

  bool RegisterFunction(std::unique_ptr<TxbUserDefFunction> f) { return FFunctions.RegisterFunction(std::move(f)); }
  bool RegisterFieldVar(std::unique_ptr<TxbUserDefFieldVar> v) { return FFieldVars.RegisterFieldVar(std::move(v)); }

 private:
  TxbFunctionReg FFunctions;
  TxbFieldVarReg FFieldVars;
  int FStrSize = 10;
};

// The global registries, made (and filled) on first use and kept for the
// whole run: the function library, and the named values TRUE, FALSE, PI.
TxbFunctionReg& xbFunctionRegistry();
TxbFieldVarReg& xbFieldVarRegistry();

// ---------------------------------------------------------------------------
// The tree. Each node owns its operands; freeing a node frees its sub-tree.

class TxbExpBaseObject {
 public:
  virtual ~TxbExpBaseObject();
  TxbExpBaseObject(const TxbExpBaseObject&) = delete;
  TxbExpBaseObject& operator=(const TxbExpBaseObject&) = delete;

  TxbExpressionType ExpType() const { return FExpType; }
  // The name of the kind: "etOperator", "etFunction", ...
  const char* ExpTypeText() const;
  // The length and decimals a field reference or number literal counts for
  // (for a group or an argument: the largest within it).
  int ExpLen() const { return FExpLen; }
  int ExpDec() const { return FExpDec; }
  TxbExpBaseObject* ArgLeft() const { return FArgLeft.get(); }
  TxbExpBaseObject* ArgRight() const { return FArgRight.get(); }

  // The node's own text: the operator, the name, a literal as it would be
  // written; empty for the base.
  virtual AnsiString ExpObjectContains() const;
  // -1; a field node gives its variable's type code.
  virtual int ExpObjectType() const;
  // The text of the sub-tree, which compiles back to the same tree.
  virtual AnsiString ExpRebuildExpression() const;
  // The names of the field and variable nodes whose type code is AType,
  // each followed by ';', from left to right.
  virtual AnsiString ExpEnumTypes(int AType) const;
  // Evaluates the sub-tree: the value into BufVar, its type into ExpResult.
  virtual void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) = 0;

 protected:
  explicit TxbExpBaseObject(TxbExpressionType type) : FExpType(type) {}
  void SetLenDec(int len, int dec) {
    FExpLen = len;
    FExpDec = dec;
  }
  void SetArgLeftNode(std::unique_ptr<TxbExpBaseObject> node) { FArgLeft = std::move(node); }
  void SetArgRightNode(std::unique_ptr<TxbExpBaseObject> node) { FArgRight = std::move(node); }

 private:
  TxbExpressionType FExpType;
  int FExpLen = 0;
  int FExpDec = 0;
  std::unique_ptr<TxbExpBaseObject> FArgLeft;
  std::unique_ptr<TxbExpBaseObject> FArgRight;
};

// A parenthesised group (rebuilt with its parentheses) or one argument of a
// call; the sub-tree is ArgRight, none for an empty one.
class TxbExpContainer : public TxbExpBaseObject {
 public:
  TxbExpContainer(std::unique_ptr<TxbExpBaseObject> inner, bool parenthesised, int len = 0, int dec = 0);
  bool Parenthesised() const { return FParenthesised; }
  AnsiString ExpRebuildExpression() const override;
  // An empty container gives null with rtEmpty.
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  bool FParenthesised;
};

// A binary operator, or NOT with only a right operand. It carries the
// text-comparison options of its handler.
class TxbExpOperator : public TxbExpBaseObject {
 public:
  // `text` is what ExpObjectContains gives and messages name.
  TxbExpOperator(int code, int level, AnsiString text);

  int Operator() const { return FOperator; }
  int Precedence() const { return FPrecedence; }
  void SetOperands(std::unique_ptr<TxbExpBaseObject> left, std::unique_ptr<TxbExpBaseObject> right);
  // Case-insensitive text comparison (both sides upper-cased); wildcard
  // comparison when the right side begins or ends with `all`.
  void SetOptions(bool insensitive, bool wildCards, char all, char one);

  AnsiString ExpObjectContains() const override;
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  int CompareText(std::string_view left, std::string_view right);
  void CheckTextLength(size_t length) const;

  int FOperator;
  int FPrecedence;
  AnsiString FText;
  bool FInsensitive = false;
  bool FWildCards = true;
  char FWildCharAll = '*';
  char FWildCharOne = '?';
  // Buffers reused record after record: the right operand's value and the
  // upper-cased sides of a case-insensitive comparison.
  TxbExpValue FRightVal;
  AnsiString FScratchL, FScratchR;
};

// A call of a library or user function.
class TxbExpFunction : public TxbExpBaseObject {
 public:
  TxbExpFunction(TxbExpHandler* owner, TxbUserDefFunction* udf);
  void AddArg(std::unique_ptr<TxbExpContainer> arg);

  TxbUserDefFunction* UDF() const { return FUDF; }
  // The name messages give: the function's own.
  AnsiString FunctionName() const;
  int ArgCount() const { return static_cast<int>(FArgList.size()); }
  // The container of argument Index (0-based); nullptr out of range.
  TxbExpContainer* Arg(int Index) const;

  // Evaluates argument Index (0-based) into BufVar and its type into
  // ExpResult; a missing argument gives null with rtEmpty, an rtVariant one
  // takes the needed type. Unless ExpResultNeeded is rtAny, an argument of
  // another type (numbers, integers, dates and date-times mix) raises 65177
  // "%s needed for Argument %d of %s" with the needed type's word, the
  // 1-based number and the function's name.
  void FetchArg(int Index, TxbExpValue& BufVar, TxbExpResultType ExpResultNeeded, TxbExpResultType& ExpResult);
  // The length argument Index counts for; 10 when there is no such argument.
  int FetchArgLen(int Index) const;
  // The handler's user link (nullptr for an expression without one).
  TxbExpUserLink* FetchUser() const;
  // A buffer of this call for argument Index (a function fetching several
  // arguments keeps them here instead of allocating per call).
  TxbExpValue& ArgValue(int Index);

  AnsiString ExpObjectContains() const override;
  AnsiString ExpRebuildExpression() const override;
  AnsiString ExpEnumTypes(int AType) const override;
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  TxbExpHandler* FOwner;
  TxbUserDefFunction* FUDF;
  std::vector<std::unique_ptr<TxbExpContainer>> FArgList;
  std::deque<TxbExpValue> FArgValues;
};

// A reference to a field or a named variable.
class TxbExpFieldvar : public TxbExpBaseObject {
 public:
  TxbExpFieldvar(TxbExpHandler* owner, TxbUserDefFieldVar* udf);
  TxbUserDefFieldVar* UDF() const { return FUDF; }
  AnsiString ExpObjectContains() const override;
  int ExpObjectType() const override;
  AnsiString ExpEnumTypes(int AType) const override;
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  TxbExpHandler* FOwner;
  TxbUserDefFieldVar* FUDF;
};

class TxbExpTextLit : public TxbExpBaseObject {
 public:
  explicit TxbExpTextLit(std::string_view value);
  const AnsiString& Value() const { return FExpValue; }
  AnsiString ExpObjectContains() const override;
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  AnsiString FExpValue;
};

class TxbExpNumLit : public TxbExpBaseObject {
 public:
  // `len` and `dec`: the literal's length and digits after the point.
  TxbExpNumLit(double value, int len, int dec);
  double Value() const { return FExpFloat; }
  AnsiString ExpObjectContains() const override;
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  double FExpFloat;
};

class TxbExpDateLit : public TxbExpBaseObject {
 public:
  explicit TxbExpDateLit(double julian);
  double Value() const { return FExpDate; }
  AnsiString ExpObjectContains() const override;
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  double FExpDate;
};

class TxbExpBlnLit : public TxbExpBaseObject {
 public:
  explicit TxbExpBlnLit(bool value);
  bool Value() const { return FExpLogic; }
  AnsiString ExpObjectContains() const override;
  void ExpParse(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override;

 private:
  bool FExpLogic;
};

// ---------------------------------------------------------------------------

// One compiled expression: an index key, a FOR condition or a filter.
class TxbExpHandler {
 public:
  // Compiles AExpression against AUser (not owned; may be nullptr, and then
  // the text can name only the global values). A name or call qualified by
  // FAlias ("ALIAS.NAME", "ALIAS->NAME", case ignored) is read without the
  // alias. IsSQL makes '%' and '_' the wildcards instead of '*' and '?'. An
  // empty text gives no tree. Raises EXBaseExpression on a text that does
  // not compile.
  TxbExpHandler(TxbExpUserLink* AUser, std::string_view AExpression, std::string_view FAlias = {},
                bool IsSQL = false);
  virtual ~TxbExpHandler();
  TxbExpHandler(const TxbExpHandler&) = delete;
  TxbExpHandler& operator=(const TxbExpHandler&) = delete;

  TxbExpUserLink* UserLink() const { return FUserLink; }
  // The text rebuilt from the tree ("" without one).
  virtual AnsiString Expression() const;
  // Frees the tree and compiles `text` in its place. On a compilation
  // error the handler is left without a tree, and the error raised.
  void SetExpression(std::string_view text);

  // Operands in the expression; the largest length and decimals among its
  // field references and number literals.
  int ArgCount() const { return FArgCount; }
  int DecimalCount() const { return FExpDec; }
  int NumberLength() const { return FExpLen; }

  // Options of text comparisons; setting one applies to the compiled tree
  // at once. Defaults: case-sensitive, wildcards on, '*' and '?'.
  bool CaseInsensitive() const { return FInsensitive; }
  void SetCaseInsensitive(bool v);
  bool UseWildCards() const { return FWildCards; }
  void SetUseWildCards(bool v);
  char WildCardAll() const { return FWildCharAll; }
  void SetWildCardAll(char c);
  char WildCardOne() const { return FWildCharOne; }
  void SetWildCardOne(char c);

  // The root of the tree; nullptr without one.
  TxbExpBaseObject* ObjExpression() const { return FParseObj.get(); }
  // The type of the last evaluation.
  TxbExpResultType ResultType() const { return FResultType; }

  // Evaluates into BufVar. Without a tree: ResultType rtUnknown and BufVar
  // untouched.
  virtual void ExpressionResult(TxbExpValue& BufVar);
  // Evaluates and stores the value by its type: text as text; numbers and
  // date-times as float; dates as the day number rounded (the empty date,
  // or a day beyond 32 bits, as 0); booleans as boolean. A null value or
  // another type sets ResultType to rtUnknown and leaves AVar as it was.
  // Without a tree AVar becomes the empty text (ResultType rtUnknown).
  virtual void ExpressionAsVariant(TxbVariant& AVar);
  // The root's ExpEnumTypes (AType): e.g. etDataField lists the fields the
  // expression reads, "AU;NA;". Empty without a tree.
  AnsiString EnumerateType(int AType) const;

 private:
  void ApplyOptions();

  TxbExpUserLink* FUserLink;
  AnsiString FAliasUpper;  // upper-cased; kept for replacing the text
  TxbExpResultType FResultType = rtUnknown;
  int FExpLen = 0;
  int FExpDec = 0;
  std::unique_ptr<TxbExpBaseObject> FParseObj;
  int FArgCount = 0;
  bool FInsensitive = false;
  bool FWildCards = true;
  char FWildCharAll = '*';
  char FWildCharOne = '?';
  TxbExpValue FResultBuf;  // ExpressionAsVariant's value, reused
};

}  // namespace xbase
