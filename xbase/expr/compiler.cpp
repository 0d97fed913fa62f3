// Compiling an expression: the text is split into tokens that alternate
// between operands and operators, and the tokens are bound into a tree by
// operator level (a lower level binds tighter; operators of one level
// associate from left to right):
//
//   2  ** ^          5  = == <> != # > < >= => <= =< $ (and EQ NE GT LT GE LE)
//   3  * /           6  NOT .NOT. ! (prefix)
//   4  + -           7  AND .AND.      8  OR .OR.
//
// A NOT anywhere takes everything up to the next AND or OR of its own
// parenthesis depth: "A = 1 .AND. NOT B = 2 .OR. C = 3" is
// (A = 1 .AND. (NOT B = 2)) .OR. C = 3.
//
// Operands: a parenthesised group and each argument of a call compile
// recursively with the same handler; names bind when they are read;
// literals are "text", 'text', [text], {date}, .T./.F. and numbers (a sign
// or a digit, then digits and points; "5.AND." is 5 followed by .AND.).
#include "xbase/expr/compiler.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Numbers.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"

namespace xbase {

namespace {

// Groups, calls and operator chains nested deeper than this are refused, so
// that no input can exhaust the stack of the recursive walks of the tree.
constexpr int kMaxDepth = 1000;

enum TTokKind : uint8_t { tkOperator, tkNot, tkCall, tkName, tkGroup, tkText, tkDate, tkNumber, tkLogical };

struct TToken {
  TToken(TTokKind kind, std::string_view text, int code = 0, int level = 0)
      : Kind(kind), Text(text), Code(code), Level(level) {}
  TTokKind Kind;
  std::string_view Text;  // operator as written, call name, group or literal contents, number
  int Code = 0;
  int Level = 0;
  TxbUserDefFieldVar* Var = nullptr;  // a bound name
  std::vector<std::string_view> Args;  // a call's argument texts
};

struct TSymbol {
  std::string_view Text;
  int Code;
  int Level;
};

constexpr TSymbol kSymbols[] = {
    {"**", xboPower, 2},   {"<>", xboNotEqual, 5},  {"!=", xboNotEqual, 5}, {">=", xboGreaterEq, 5},
    {"=>", xboGreaterEq, 5}, {"<=", xboLessEq, 5}, {"=<", xboLessEq, 5},     {"==", xboEqual, 5},
    {"=", xboEqual, 5},    {"+", xboPlus, 4},       {"-", xboMinus, 4},      {"*", xboMultiply, 3},
    {"/", xboDivide, 3},   {"^", xboPower, 2},      {"#", xboNotEqual, 5},   {">", xboGreater, 5},
    {"<", xboLess, 5},     {"$", xboContains, 5},
};  // two-character texts first: the longest match wins

constexpr TSymbol kWords[] = {
    {"AND", xboAnd, 7},     {"OR", xboOr, 8},     {"EQ", xboEqual, 5},   {"NE", xboNotEqual, 5},
    {"GE", xboGreaterEq, 5}, {"LE", xboLessEq, 5}, {"LT", xboLess, 5},    {"GT", xboGreater, 5},
};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// Letters of Windows-1251 above ASCII are the bytes with a case partner.
bool IsNameStart(char c) {
  const auto b = static_cast<unsigned char>(c);
  return IsAsciiLetter(c) || c == '_' || (b >= 0x80 && platform::AnsiUpperChar(b) != platform::AnsiLowerChar(b));
}
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}
std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view upper) {
  if (a.size() != upper.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (platform::AnsiUpperChar(static_cast<unsigned char>(a[i])) != static_cast<unsigned char>(upper[i])) return false;
  return true;
}

size_t NameEnd(std::string_view s, size_t from = 0) {
  size_t i = from;
  while (i < s.size() && IsNameChar(s[i])) ++i;
  return i;
}

// The length of a dotted word at `pos` (".AND.", ".t."), 0 when there is
// none; its word in `word`.
size_t DottedWord(std::string_view s, size_t pos, std::string_view& word) {
  if (pos >= s.size() || s[pos] != '.') return 0;
  size_t i = pos + 1;
  while (i < s.size() && IsAsciiLetter(s[i])) ++i;
  if (i == pos + 1 || i >= s.size() || s[i] != '.') return 0;
  word = s.substr(pos + 1, i - pos - 1);
  return i - pos + 1;
}

// A dotted operator word or logical literal at `pos`: such a ".word." never
// continues a qualified name.
bool IsDottedKeyword(std::string_view s, size_t pos) {
  std::string_view w;
  if (!DottedWord(s, pos, w)) return false;
  if (EqualsNoCase(w, "NOT") || EqualsNoCase(w, "T") || EqualsNoCase(w, "F")) return true;
  for (const TSymbol& k : kWords)
    if (EqualsNoCase(w, k.Text)) return true;
  return false;
}

// The length of a prefix NOT at the start of `s` ("!", "NOT", ".NOT."), 0
// when there is none.
size_t NotLength(std::string_view s) {
  if (!s.empty() && s[0] == '!') return 1;
  std::string_view w;
  if (const size_t n = DottedWord(s, 0, w); n && EqualsNoCase(w, "NOT")) return n;
  if (s.size() >= 3 && EqualsNoCase(s.substr(0, 3), "NOT") && (s.size() == 3 || !IsNameChar(s[3]))) return 3;
  return 0;
}

[[noreturn]] void Raise(int number, std::initializer_list<platform::TFormatArg> args = {}) {
  XBRaise<EXBaseExpression>(number, args);
}

// The position of the character closing the literal opened at `pos`.
size_t LiteralEnd(std::string_view s, size_t pos) {
  const char open = s[pos];
  const char close = open == '[' ? ']' : open == '{' ? '}' : open;
  const size_t end = s.find(close, pos + 1);
  if (end == std::string_view::npos) Raise(xbmMissingQuote, {std::string(1, open)});
  return end;
}

bool OpensLiteral(char c) { return c == '"' || c == '\'' || c == '[' || c == '{'; }

// The position of the ')' matching the '(' at `pos`; literals inside are
// skipped whole. Also collects the positions of the commas at the first
// depth when `commas` is given.
size_t MatchingParen(std::string_view s, size_t pos, std::vector<size_t>* commas = nullptr) {
  int depth = 0;
  for (size_t i = pos; i < s.size(); ++i) {
    const char c = s[i];
    if (OpensLiteral(c)) {
      i = LiteralEnd(s, i);
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) return i;
    } else if (c == ',' && depth == 1 && commas) {
      commas->push_back(i);
    }
  }
  Raise(xbmMissingParenthesis);
}

class TCompiler {
 public:
  TCompiler(TxbExpHandler* owner, std::string_view whole, std::string_view alias, const TxbCompileOptions& options)
      : Owner_(owner), Link_(owner->UserLink()), Whole_(whole), Alias_(alias), Options_(options) {}

  TxbCompiled Run() {
    TPart p = Compile(Whole_, 0);
    TxbCompiled c;
    c.Root = std::move(p.Node);
    c.ArgCount = ArgCount_;
    c.ExpLen = p.Len;
    c.ExpDec = p.Dec;
    return c;
  }

 private:
  struct TPart {
    std::unique_ptr<TxbExpBaseObject> Node;
    int Depth = 0;  // levels of nodes
    int Len = 0;    // largest field or number length within
    int Dec = 0;
  };

  [[noreturn]] void SyntaxError() const { Raise(xbmSyntaxError, {Whole_}); }

  static void CheckDepth(int depth) {
    if (depth > kMaxDepth) Raise(xbmCannotEvaluate);
  }

  TPart Compile(std::string_view text, int nesting) {
    CheckDepth(nesting);
    std::vector<TToken> tokens;
    Tokenize(text, tokens);
    return Build(tokens, nesting);
  }

  // --- tokens ---------------------------------------------------------------

  void Tokenize(std::string_view text, std::vector<TToken>& out) {
    std::string_view s = Trim(text);
    bool operand = true;
    while (!s.empty()) {
      size_t used = 0;
      if (operand) {
        if (const size_t n = NotLength(s)) {
          out.emplace_back(tkNot, s.substr(0, n), xboNot, 6);
          s = TrimLeft(s.substr(n));
          continue;  // an operand still follows
        }
        used = ReadOperand(s, out);
      } else {
        used = ReadOperator(s, out);
      }
      if (!used) SyntaxError();
      operand = !operand;
      s = TrimLeft(s.substr(used));
    }
    // A text ending in an operator or a NOT lacks its last operand.
    if (operand && !out.empty()) SyntaxError();
  }

  size_t ReadOperator(std::string_view s, std::vector<TToken>& out) {
    for (const TSymbol& k : kSymbols)
      if (s.substr(0, k.Text.size()) == k.Text) {
        out.emplace_back(tkOperator, k.Text, k.Code, k.Level);
        return k.Text.size();
      }
    std::string_view word;
    size_t n = DottedWord(s, 0, word);
    if (!n) {
      n = NameEnd(s);
      word = s.substr(0, n);
    }
    for (const TSymbol& k : kWords)
      if (n && EqualsNoCase(word, k.Text)) {
        out.emplace_back(tkOperator, k.Text, k.Code, k.Level);
        return n;
      }
    return 0;
  }

  size_t ReadOperand(std::string_view s, std::vector<TToken>& out) {
    const char c = s[0];
    if (c == '(') {
      const size_t end = MatchingParen(s, 0);
      out.emplace_back(tkGroup, s.substr(1, end - 1));
      return end + 1;
    }
    if (c == '.') {
      if (s.size() < 2 || !(s[1] == 'T' || s[1] == 't' || s[1] == 'F' || s[1] == 'f')) Raise(xbmExpectingLogical);
      if (s.size() < 3 || s[2] != '.') Raise(xbmMissingPeriod);
      out.emplace_back(tkLogical, s.substr(1, 1));
      return 3;
    }
    if (c == '"' || c == '\'' || c == '[' || c == '{') {
      const size_t end = LiteralEnd(s, 0);
      out.emplace_back(c == '{' ? tkDate : tkText, s.substr(1, end - 1));
      return end + 1;
    }
    if (c == '+' || c == '-' || IsDigit(c)) {
      size_t i = 1;
      while (i < s.size() && (IsDigit(s[i]) || s[i] == '.')) ++i;
      // A point before a letter begins a dotted operator: "5.AND.".
      if (i > 1 && s[i - 1] == '.' && i < s.size() && IsNameStart(s[i])) --i;
      out.emplace_back(tkNumber, s.substr(0, i));
      return i;
    }
    if (IsNameStart(c)) return ReadName(s, out);
    return 0;
  }

  // A call, or a field or variable name (bound here), possibly qualified.
  size_t ReadName(std::string_view s, std::vector<TToken>& out) {
    size_t start = 0;
    size_t end = NameEnd(s);
    // The expression's own alias before a name is dropped.
    while (!Alias_.empty() && EqualsNoCase(s.substr(start, end - start), Alias_)) {
      const size_t sep = s.substr(end, 2) == "->" ? 2 : (end < s.size() && s[end] == '.') ? 1 : 0;
      if (!sep || end + sep >= s.size() || !IsNameStart(s[end + sep]) || IsDottedKeyword(s, end)) break;
      start = end + sep;
      end = NameEnd(s, start);
    }
    if (end < s.size() && s[end] == '(') {
      std::vector<size_t> commas;
      const size_t close = MatchingParen(s, end, &commas);
      TToken t{tkCall, s.substr(start, end - start)};
      if (!Trim(s.substr(end + 1, close - end - 1)).empty()) {
        size_t from = end + 1;
        for (size_t comma : commas) {
          t.Args.push_back(s.substr(from, comma - from));
          from = comma + 1;
        }
        t.Args.push_back(s.substr(from, close - from));
      }
      out.push_back(std::move(t));
      return close + 1;
    }

    AnsiString name = platform::AnsiUpperCase(s.substr(start, end - start));
    TxbUserDefFieldVar* var = LookupVar(name);
    if (!var && !Link_) Raise(xbmUnknownName, {name});
    for (;;) {
      // "NAME->PART" and "NAME.PART" are looked up whole while NAME alone is
      // unknown, and for a variable that has sub-names.
      if (var && !var->Descendents()) break;
      const size_t sep = s.substr(end, 2) == "->" && !var ? 2 : (end < s.size() && s[end] == '.') ? 1 : 0;
      if (!sep || end + sep >= s.size() || !IsNameStart(s[end + sep]) || IsDottedKeyword(s, end)) break;
      const size_t partEnd = NameEnd(s, end + sep);
      name += '.';
      name += platform::AnsiUpperCase(s.substr(end + sep, partEnd - end - sep));
      end = partEnd;
      var = LookupVar(name);
    }
    if (!var) Raise(xbmNoFunction, {name});
    TToken t{tkName, s.substr(start, end - start)};
    t.Var = var;
    out.push_back(std::move(t));
    return end;
  }

  TxbUserDefFieldVar* LookupVar(const AnsiString& name) const {
    if (TxbUserDefFieldVar* v = xbFieldVarRegistry().Find(name)) return v;
    return Link_ ? Link_->FindFieldVar(name) : nullptr;
  }

  TxbUserDefFunction* LookupFunction(std::string_view written) const {
    const AnsiString name = platform::AnsiUpperCase(written);
    TxbUserDefFunction* f = xbFunctionRegistry().Find(name);
    if (!f && Link_) {
      f = Link_->FindFunction(name);
      if (!f) Link_->OnNoFunction(name);
    }
    if (!f) Raise(xbmNoFunction, {name});
    return f;
  }

  // --- tree -----------------------------------------------------------------

  TPart Build(std::vector<TToken>& tokens, int nesting) {
    if (tokens.empty()) return {};
    std::vector<TPart> operands;
    std::vector<std::unique_ptr<TxbExpOperator>> operators;
    TPart whole;
    auto reduce = [&] {
      std::unique_ptr<TxbExpOperator> op = std::move(operators.back());
      operators.pop_back();
      const bool unary = op->Operator() == xboNot;
      if (operands.size() < (unary ? 1u : 2u)) Raise(xbmCannotEvaluate);
      TPart right = std::move(operands.back());
      operands.pop_back();
      TPart left;
      if (!unary) {
        left = std::move(operands.back());
        operands.pop_back();
      }
      TPart p;
      p.Depth = std::max(left.Depth, right.Depth) + 1;
      CheckDepth(p.Depth);
      op->SetOperands(std::move(left.Node), std::move(right.Node));
      p.Node = std::move(op);
      operands.push_back(std::move(p));
    };
    for (TToken& t : tokens) {
      if (t.Kind == tkNot || t.Kind == tkOperator) {
        while (t.Kind == tkOperator && !operators.empty() && operators.back()->Precedence() <= t.Level) reduce();
        // Word operators are written between points, so the rebuilt text
        // reads back whatever stands beside them.
        AnsiString text = t.Kind == tkNot ? AnsiString("NOT") : AnsiString(t.Text);
        if (IsAsciiLetter(text[0])) text = '.' + text + '.';
        auto op = std::make_unique<TxbExpOperator>(t.Code, t.Level, std::move(text));
        op->SetOptions(Options_.Insensitive, Options_.WildCards, Options_.WildCharAll, Options_.WildCharOne);
        operators.push_back(std::move(op));
        continue;
      }
      ++ArgCount_;
      TPart p = MakeOperand(t, nesting);
      whole.Len = std::max(whole.Len, p.Len);
      whole.Dec = std::max(whole.Dec, p.Dec);
      operands.push_back(std::move(p));
    }
    while (!operators.empty()) reduce();
    if (operands.size() != 1) Raise(xbmCannotEvaluate);
    whole.Node = std::move(operands.back().Node);
    whole.Depth = operands.back().Depth;
    return whole;
  }

  TPart MakeOperand(const TToken& t, int nesting) {
    TPart p;
    p.Depth = 1;
    switch (t.Kind) {
      case tkName:
        p.Len = t.Var->VarLen();
        p.Node = std::make_unique<TxbExpFieldvar>(Owner_, t.Var);
        break;
      case tkCall: {
        auto f = std::make_unique<TxbExpFunction>(Owner_, LookupFunction(t.Text));
        for (std::string_view arg : t.Args) {
          TPart a = Compile(arg, nesting + 1);
          p.Len = std::max(p.Len, a.Len);
          p.Dec = std::max(p.Dec, a.Dec);
          p.Depth = std::max(p.Depth, a.Depth + 2);
          f->AddArg(std::make_unique<TxbExpContainer>(std::move(a.Node), false, a.Len, a.Dec));
        }
        p.Node = std::move(f);
        break;
      }
      case tkGroup: {
        TPart a = Compile(t.Text, nesting + 1);
        p.Len = a.Len;
        p.Dec = a.Dec;
        p.Depth = a.Depth + 1;
        p.Node = std::make_unique<TxbExpContainer>(std::move(a.Node), true, a.Len, a.Dec);
        break;
      }
      case tkText:
        p.Node = std::make_unique<TxbExpTextLit>(t.Text);
        break;
      case tkDate:
        p.Node = std::make_unique<TxbExpDateLit>(xbDBFDate().CTOD(Trim(t.Text)));
        break;
      case tkNumber: {
        double v = 0;
        if (!platform::TryStrToFloat(t.Text, v)) v = 0;  // "-", "1.2.3": not a number
        const size_t point = t.Text.find('.');
        p.Len = static_cast<int>(t.Text.size());
        p.Dec = point == std::string_view::npos ? 0 : static_cast<int>(t.Text.size() - point - 1);
        p.Node = std::make_unique<TxbExpNumLit>(v, p.Len, p.Dec);
        break;
      }
      case tkLogical:
        p.Node = std::make_unique<TxbExpBlnLit>(t.Text[0] == 'T' || t.Text[0] == 't');
        break;
      default:
        Raise(xbmCannotEvaluate);
    }
    CheckDepth(p.Depth);
    return p;
  }

  TxbExpHandler* Owner_;
  TxbExpUserLink* Link_;
  std::string_view Whole_;
  std::string_view Alias_;
  TxbCompileOptions Options_;
  int ArgCount_ = 0;
};

}  // namespace

TxbCompiled xbCompileExpression(TxbExpHandler* owner, std::string_view text, std::string_view alias,
                                const TxbCompileOptions& options) {
  return TCompiler(owner, text, alias, options).Run();
}

}  // namespace xbase
