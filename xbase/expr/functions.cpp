#include "xbase/expr/functions.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>

#include "platform/Collation.h"
#include "platform/Numbers.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/base/system.h"
#include "xbase/base/utilities.h"

namespace xbase {

namespace {

[[noreturn]] void Raise(int number, std::initializer_list<platform::TFormatArg> args = {}) {
  XBRaise<EXBaseExpression>(number, args);
}

bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The case table pair, copied once from the platform's for a lookup per byte.
struct TCaseTables {
  std::array<unsigned char, 256> upper{}, lower{};
};
const TCaseTables& Case() {
  static const TCaseTables t = [] {
    TCaseTables c;
    for (int b = 0; b < 256; ++b) {
      c.upper[b] = platform::AnsiUpperChar(static_cast<unsigned char>(b));
      c.lower[b] = platform::AnsiLowerChar(static_cast<unsigned char>(b));
    }
    return c;
  }();
  return t;
}

void MapInPlace(AnsiString& s, const std::array<unsigned char, 256>& table) {
  for (char& c : s) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
}

// A count given as a number: whole part, below 0 as 0, no number as 0, very
// large ones held at a value no result can reach.
int64_t CountOf(double v) {
  if (!(v > 0)) return 0;
  return v >= 1e15 ? int64_t{1000000000000000} : static_cast<int64_t>(v);
}

// A whole number given as a number (occurrences, widths): toward zero,
// within +-1e15.
int64_t WholeOf(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int64_t>(std::fmax(-1e15, std::fmin(1e15, v)));
}

void CheckResultLength(const TxbExpFunction& Caller, int64_t length) {
  if (length > static_cast<int64_t>(xbMaxTextValue))
    Raise(xbmArgumentMustBe, {Caller.FunctionName(), "within the 256 MiB result limit"});
}

// Argument Index as a number into the call's buffer for it.
double NumberArg(TxbExpFunction& Caller, int Index) {
  TxbExpResultType t;
  TxbExpValue& v = Caller.ArgValue(Index);
  Caller.FetchArg(Index, v, rtFloat, t);
  return v.Float();
}

std::string_view TextArg(TxbExpFunction& Caller, int Index) {
  TxbExpResultType t;
  TxbExpValue& v = Caller.ArgValue(Index);
  Caller.FetchArg(Index, v, rtText, t);
  return v.Text();
}

// An optional number: false when the argument is not there; another type
// raises 65177 as a required one does.
bool OptionalNumber(TxbExpFunction& Caller, int Index, double& value) {
  if (Index >= Caller.ArgCount()) return false;
  TxbExpResultType t;
  TxbExpValue& v = Caller.ArgValue(Index);
  Caller.FetchArg(Index, v, rtAny, t);
  if (t == rtEmpty) return false;
  if (!IsNumericResult(t)) Raise(xbmArgumentNeeded, {ExpResultTypeWord(rtFloat), Index + 1, Caller.FunctionName()});
  value = v.Float();
  return true;
}

// The day number of a date value; 0 for the empty date.
int32_t DayOf(double julian) {
  if (xbIsEmptyDate(julian) || julian > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(std::round(julian));
}

// `v` rounded half away from zero at `dec` decimals (tens, hundreds for
// negative ones), on the decimal digits the number shows: 1.005 rounds to
// 1.01 although its binary value lies just below.
double RoundDecimal(double v, int64_t dec) {
  if (!std::isfinite(v) || v == 0) return v;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);  // shortest
  const std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  const size_t e = sci.find('e');
  int exp = 0;
  std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+'), sci.data() + sci.size(), exp);
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c >= '0' && c <= '9') digits += c;
  // The value is 0.<digits> * 10^(exp + 1); keep the digits before decimal `dec`.
  const int64_t keep = exp + 1 + dec;
  if (keep >= static_cast<int64_t>(digits.size())) return v;
  if (keep < 0) return 0;
  std::string kept = digits.substr(0, static_cast<size_t>(keep));
  // `kept` read as a whole number times 10^(exp + 1 - keep); rounding up
  // adds 1 to that number.
  if (digits[static_cast<size_t>(keep)] >= '5') {
    int i = static_cast<int>(kept.size()) - 1;
    for (; i >= 0 && kept[static_cast<size_t>(i)] == '9'; --i) kept[static_cast<size_t>(i)] = '0';
    if (i >= 0) {
      ++kept[static_cast<size_t>(i)];
    } else {
      kept.insert(kept.begin(), '1');
    }
  }
  if (kept.empty()) return 0;
  const std::string text = (v < 0 ? "-" : "") + kept + "e" + std::to_string(exp + 1 - keep);
  double out = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), out).ec == std::errc::result_out_of_range)
    return std::copysign(HUGE_VAL, v);  // the largest numbers rounded up at a negative decimal
  return out;
}

// The text of a value for the pad functions.
void ValueText(const TxbExpValue& v, TxbExpResultType type, AnsiString& out) {
  switch (type) {
    case rtText:
    case rtMemo: out.assign(v.Text()); break;
    case rtDate: out = xbDBFDate().DTOC(DayOf(v.Float())); break;
    case rtBoolean: out = v.Boolean() ? ".T." : ".F."; break;
    default: out = IsNumericResult(type) ? platform::FloatToStr(v.Float()) : AnsiString(v.Text());
  }
}

// -1, 0 or 1 between two values of one type: texts by the collation of the
// comparison operators (trailing blanks ignored), numbers and dates by
// value, false below true.
int CompareValues(const TxbExpValue& a, const TxbExpValue& b, TxbExpResultType type) {
  if (type == rtText || type == rtMemo) {
    const int c = platform::AnsiCompareStr(TrimBlanksRight(a.Text()), TrimBlanksRight(b.Text()));
    return c < 0 ? -1 : c > 0;
  }
  if (type == rtBoolean) return static_cast<int>(a.Boolean()) - static_cast<int>(b.Boolean());
  const double x = a.Float(), y = b.Float();
  return x < y ? -1 : x > y;
}

#define XB_FUNCTION(Class, Name)                                                                     \
  class Class : public TxbUserDefFunction {                                                          \
   public:                                                                                           \
    AnsiString FunctionName() const override { return Name; }                                       \
    void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override; \
  };

// --- numbers ---------------------------------------------------------------------

// The one-number functions: f of the argument.
#define XB_NUMBER_FUNCTION(Class, Name, expression)                                                   \
  XB_FUNCTION(Class, Name)                                                                           \
  void Class::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) { \
    Caller.FetchArg(0, BufVar, rtFloat, ExpResult);                                                  \
    const double x = BufVar.Float();                                                                 \
    BufVar.PutFloat(expression);                                                                     \
    ExpResult = rtFloat;                                                                             \
  }

XB_NUMBER_FUNCTION(TxbUDFAbsolute, "ABS", std::fabs(x))
XB_NUMBER_FUNCTION(TxbUDFArcTan, "ATAN", std::atan(x))
XB_NUMBER_FUNCTION(TxbUDFCeiling, "CEILING", std::ceil(x))
XB_NUMBER_FUNCTION(TxbUDFCosine, "COS", std::cos(x))
XB_NUMBER_FUNCTION(TxbUDFDegToRad, "DTOR", x * std::numbers::pi / 180)
XB_NUMBER_FUNCTION(TxbUDFFloor, "FLOOR", std::floor(x))
XB_NUMBER_FUNCTION(TxbUDFInt, "INT", std::trunc(x))
XB_NUMBER_FUNCTION(TxbUDFRadToDeg, "RTOD", x * 180 / std::numbers::pi)
XB_NUMBER_FUNCTION(TxbUDFSin, "SIN", std::sin(x))
XB_NUMBER_FUNCTION(TxbUDFTan, "TAN", std::tan(x))

// One number within a domain, else 65178 with the name and the condition.
#define XB_CHECKED_FUNCTION(Class, Name, valid, condition, expression)                                \
  XB_FUNCTION(Class, Name)                                                                           \
  void Class::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) { \
    Caller.FetchArg(0, BufVar, rtFloat, ExpResult);                                                  \
    const double x = BufVar.Float();                                                                 \
    if (!(valid)) Raise(xbmArgumentMustBe, {Name, condition});                                       \
    BufVar.PutFloat(expression);                                                                     \
    ExpResult = rtFloat;                                                                             \
  }

XB_CHECKED_FUNCTION(TxbUDFArcCos, "ACOS", x >= -1 && x <= 1, "-1 to +1", std::acos(x))
XB_CHECKED_FUNCTION(TxbUDFArcSin, "ASIN", x >= -1 && x <= 1, "-1 to +1", std::asin(x))
XB_CHECKED_FUNCTION(TxbUDFLog, "LOG", x > 0, "> 0", std::log(x))
XB_CHECKED_FUNCTION(TxbUDFLog10, "LOG10", x > 0, "> 0", std::log10(x))

XB_FUNCTION(TxbUDFArcTan2, "ATN2")
void TxbUDFArcTan2::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtFloat, ExpResult);
  const double y = BufVar.Float();
  BufVar.PutFloat(std::atan2(y, NumberArg(Caller, 1)));
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFPi, "PI")
void TxbUDFPi::FunctionResult(TxbExpFunction&, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.PutFloat(std::numbers::pi);
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFMod, "MOD")
void TxbUDFMod::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtFloat, ExpResult);
  const double a = std::round(BufVar.Float());
  const double b = std::round(NumberArg(Caller, 1));
  if (b == 0 || std::isnan(b)) Raise(xbmArgumentMustBe, {"MOD", "not 0"});
  BufVar.PutFloat(std::fmod(a, b));  // the sign of the dividend
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFRound, "ROUND")
void TxbUDFRound::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtFloat, ExpResult);
  const double v = BufVar.Float();
  double dec = 0;
  OptionalNumber(Caller, 1, dec);
  BufVar.PutFloat(RoundDecimal(v, WholeOf(dec)));
  ExpResult = rtFloat;
}

// FV and PV: the annuity formulas, as money paid out is negative; the
// library gives their absolute value.
double AnnuityArgs(TxbExpFunction& Caller, TxbExpValue& BufVar, double& periods, double& payment, double& other) {
  TxbExpResultType t;
  Caller.FetchArg(0, BufVar, rtFloat, t);
  const double rate = BufVar.Float();
  periods = NumberArg(Caller, 1);
  payment = NumberArg(Caller, 2);
  other = 0;
  OptionalNumber(Caller, 3, other);
  double when = 0;
  OptionalNumber(Caller, 4, when);
  if (when != 0 && when != 1) Raise(xbmArgumentMustBe, {"FV PaymentTime", "0 or 1"});
  payment *= 1 + rate * when;
  return rate;
}

XB_FUNCTION(TxbUDFFutureValue, "FV")
void TxbUDFFutureValue::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  double n, pmt, pv;
  const double rate = AnnuityArgs(Caller, BufVar, n, pmt, pv);
  double fv;
  if (rate == 0) {
    fv = -(pv + pmt * n);
  } else {
    const double growth = std::pow(1 + rate, n);
    fv = -(pv * growth + pmt * (growth - 1) / rate);
  }
  BufVar.PutFloat(std::fabs(fv));
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFPresentValue, "PV")
void TxbUDFPresentValue::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  double n, pmt, fv;
  const double rate = AnnuityArgs(Caller, BufVar, n, pmt, fv);
  double pv;
  if (rate == 0) {
    pv = -(fv + pmt * n);
  } else {
    const double growth = std::pow(1 + rate, n);
    pv = -(fv + pmt * (growth - 1) / rate) / growth;
  }
  BufVar.PutFloat(std::fabs(pv));
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFVal, "VAL")
void TxbUDFVal::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  const std::string_view text = BufVar.Text();
  double v = 0;
  bool blank = true;
  for (char c : text) blank = blank && c == ' ';
  if (!blank) v = platform::StrToFloat(text);  // a text that is no number raises EConvertError
  BufVar.PutFloat(v);
  ExpResult = rtFloat;
}

// --- texts -----------------------------------------------------------------------

XB_FUNCTION(TxbUDFUpper, "UPPER")
void TxbUDFUpper::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  MapInPlace(BufVar.TextBuf(), Case().upper);
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFLower, "LOWER")
void TxbUDFLower::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  MapInPlace(BufVar.TextBuf(), Case().lower);
  ExpResult = rtText;
}

// PROPER's word separators: NUL, blank, DEL and ASCII punctuation except the
// apostrophe and the backquote (so "o'neil" stays one word).
bool IsWordSeparator(unsigned char c) {
  if (c == 0 || c == ' ' || c == 0x7F) return true;
  if (c == '\'' || c == '`') return false;
  return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

XB_FUNCTION(TxbUDFProper, "PROPER")
void TxbUDFProper::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  AnsiString& s = BufVar.TextBuf();
  bool start = true;
  for (char& ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    ch = static_cast<char>(start ? Case().upper[c] : Case().lower[c]);
    start = IsWordSeparator(c);
  }
  ExpResult = rtText;
}

// Blanks and control characters removed from the chosen ends.
void TrimEnds(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult, bool left, bool right) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  AnsiString& s = BufVar.TextBuf();
  size_t end = s.size();
  while (right && end > 0 && IsControlOrBlank(s[end - 1])) --end;
  size_t begin = 0;
  while (left && begin < end && IsControlOrBlank(s[begin])) ++begin;
  s.resize(end);
  s.erase(0, begin);
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFAllTrim, "ALLTRIM")
void TxbUDFAllTrim::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  TrimEnds(Caller, BufVar, ExpResult, true, true);
}

XB_FUNCTION(TxbUDFLTrim, "LTRIM")
void TxbUDFLTrim::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  TrimEnds(Caller, BufVar, ExpResult, true, false);
}

class TxbUDFTrim : public TxbUserDefFunction {
 public:
  AnsiString FunctionName() const override { return "TRIM"; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    TrimEnds(Caller, BufVar, ExpResult, false, true);
  }
};

class TxbUDFRTrim : public TxbUDFTrim {
 public:
  AnsiString FunctionName() const override { return "RTRIM"; }
};

XB_FUNCTION(TxbUDFLen, "LEN")
void TxbUDFLen::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  BufVar.PutFloat(static_cast<double>(BufVar.Text().size()));
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFAsc, "ASC")
void TxbUDFAsc::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  const std::string_view s = BufVar.Text();
  BufVar.PutFloat(s.empty() ? 32 : static_cast<unsigned char>(s[0]));
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFChr, "CHR")
void TxbUDFChr::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtFloat, ExpResult);
  const double code = std::trunc(BufVar.Float());
  if (!(code >= 0 && code <= 255)) Raise(xbmValueInvalid, {"Byte"});
  BufVar.TextBuf().assign(1, static_cast<char>(static_cast<unsigned char>(code)));
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFSoundex, "SOUNDEX")
void TxbUDFSoundex::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  BufVar.PutText(SoundexCode(BufVar.Text()));
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFSpace, "SPACE")
void TxbUDFSpace::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtFloat, ExpResult);
  const int64_t n = CountOf(BufVar.Float());
  CheckResultLength(Caller, n);
  BufVar.TextBuf().assign(static_cast<size_t>(n), ' ');
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFLeft, "LEFT")
void TxbUDFLeft::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  const int64_t n = CountOf(NumberArg(Caller, 1));
  CheckResultLength(Caller, n);
  BufVar.TextBuf().resize(static_cast<size_t>(n), ' ');
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFRight, "RIGHT")
void TxbUDFRight::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  const int64_t n = CountOf(NumberArg(Caller, 1));
  AnsiString& s = BufVar.TextBuf();
  if (n < static_cast<int64_t>(s.size())) s.erase(0, s.size() - static_cast<size_t>(n));
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFSubStr, "SUBSTR")
void TxbUDFSubStr::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  const int64_t start = WholeOf(NumberArg(Caller, 1));
  double count = 0;
  const bool counted = OptionalNumber(Caller, 2, count);
  AnsiString& s = BufVar.TextBuf();
  if (start < 1 || start > static_cast<int64_t>(s.size())) {
    s.clear();
  } else {
    s.erase(0, static_cast<size_t>(start - 1));
    if (counted && CountOf(count) < static_cast<int64_t>(s.size())) s.resize(static_cast<size_t>(CountOf(count)));
  }
  ExpResult = rtText;
}

// The 1-based position of occurrence `occurrence` of `search` in `text`;
// 0 when there are fewer (or the search text is empty).
int64_t Occurrence(std::string_view search, std::string_view text, int64_t occurrence) {
  if (search.empty() || occurrence < 1) return 0;
  size_t from = 0;
  for (int64_t k = 1;; ++k) {
    const size_t p = text.find(search, from);
    if (p == std::string_view::npos) return 0;
    if (k == occurrence) return static_cast<int64_t>(p) + 1;
    from = p + 1;
  }
}

// AT and ATC: ATC compares with ASCII letters upper-cased.
class TxbUDFAt : public TxbUserDefFunction {
 public:
  AnsiString FunctionName() const override { return "AT"; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    Caller.FetchArg(0, BufVar, rtText, ExpResult);
    TxbExpValue& text = Caller.ArgValue(1);
    Caller.FetchArg(1, text, rtText, ExpResult);
    double occurrence = 1;
    OptionalNumber(Caller, 2, occurrence);
    if (IgnoreCase()) {
      AsciiUpper(BufVar.TextBuf());
      AsciiUpper(text.TextBuf());
    }
    const int64_t at = Occurrence(BufVar.Text(), text.Text(), WholeOf(occurrence));
    BufVar.PutFloat(static_cast<double>(at));
    ExpResult = rtFloat;
  }

 protected:
  virtual bool IgnoreCase() const { return false; }

 private:
  static void AsciiUpper(AnsiString& s) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
};

class TxbUDFAtC : public TxbUDFAt {
 public:
  AnsiString FunctionName() const override { return "ATC"; }

 protected:
  bool IgnoreCase() const override { return true; }
};

XB_FUNCTION(TxbUDFStrTran, "STRTRAN")
void TxbUDFStrTran::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  const std::string_view search = TextArg(Caller, 1);
  std::string_view replacement;
  if (Caller.ArgCount() > 2) {
    TxbExpResultType t;
    TxbExpValue& r = Caller.ArgValue(2);
    Caller.FetchArg(2, r, rtAny, t);
    if (t != rtEmpty && t != rtText) Raise(xbmArgumentNeeded, {ExpResultTypeWord(rtText), 3, Caller.FunctionName()});
    replacement = r.Text();
  }
  double start = 1, count = -1;
  OptionalNumber(Caller, 3, start);
  const bool counted = OptionalNumber(Caller, 4, count);
  const std::string_view text = BufVar.Text();
  if (text.empty() || search.empty()) {
    ExpResult = rtText;
    return;
  }
  // Built beside the text, then swapped in: the text buffer keeps its size.
  AnsiString& out = Caller.ArgValue(Caller.ArgCount() + 1).TextBuf();
  out.clear();
  const int64_t first = WholeOf(start) < 1 ? 1 : WholeOf(start);
  int64_t left = counted ? CountOf(count) : std::numeric_limits<int64_t>::max();
  size_t from = 0;
  for (int64_t k = 1; left > 0; ++k) {
    const size_t p = text.find(search, from);
    if (p == std::string_view::npos) break;
    out.append(text.substr(from, p - from));
    if (k >= first) {
      out.append(replacement);
      --left;
    } else {
      out.append(search);
    }
    from = p + search.size();
    CheckResultLength(Caller, static_cast<int64_t>(out.size()));
  }
  out.append(text.substr(from));
  CheckResultLength(Caller, static_cast<int64_t>(out.size()));
  BufVar.TextBuf().swap(out);
  ExpResult = rtText;
}

// STR and STRZERO: the number right-aligned in the width, '*'s when it does
// not fit (or is no finite number).
class TxbUDFStr : public TxbUserDefFunction {
 public:
  AnsiString FunctionName() const override { return "STR"; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    Caller.FetchArg(0, BufVar, rtFloat, ExpResult);
    const double v = BufVar.Float();
    double w = 0, d = 0;
    int64_t width;
    if (OptionalNumber(Caller, 1, w)) {
      width = CountOf(w);
    } else {
      const TxbExpUserLink* link = Caller.FetchUser();
      width = link ? link->DefaultStrSize() : 10;
      if (width < 0) width = Caller.FetchArgLen(0);
    }
    OptionalNumber(Caller, 2, d);
    // Decimals beyond what a double holds only add zeros; past the width
    // they give '*'s anyway.
    const int dec = static_cast<int>(std::fmin(std::fmax(WholeOf(d), 0), 400));
    CheckResultLength(Caller, width);
    AnsiString& s = BufVar.TextBuf();
    if (xbStrNumber(v, width, dec, s)) Shape(s);
    ExpResult = rtText;
  }

 protected:
  virtual void Shape(AnsiString&) const {}
};

class TxbUDFStrZero : public TxbUDFStr {
 public:
  AnsiString FunctionName() const override { return "STRZERO"; }

 protected:
  // The leading blanks become zeros, after the sign: "-0012".
  void Shape(AnsiString& s) const override {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') s[i++] = '0';
    if (i > 0 && i < s.size() && s[i] == '-') {
      s[i] = '0';
      s[0] = '-';
    }
  }
};

// PADL, PADR and PADC: the value's text without trailing blanks aligned in
// the length, the fill text repeated around it.
class TxbUDFPadMain : public TxbUserDefFunction {
 public:
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    TxbExpResultType type;
    Caller.FetchArg(0, BufVar, rtAny, type);
    if (type == rtEmpty) Raise(xbmArgumentNeeded, {"Value", 1, "Pad"});
    const int64_t length = CountOf(NumberArg(Caller, 1));
    CheckResultLength(Caller, length);
    std::string_view fill = " ";
    if (Caller.ArgCount() > 2) {
      TxbExpResultType t;
      TxbExpValue& f = Caller.ArgValue(2);
      Caller.FetchArg(2, f, rtAny, t);
      if (t != rtText || f.Text().empty()) Raise(xbmValueInvalid, {"Char"});
      fill = f.Text();
    }
    AnsiString& value = Caller.ArgValue(0).TextBuf();
    ValueText(BufVar, type, value);
    value.resize(TrimBlanksRight(value).size());
    AnsiString& s = BufVar.TextBuf();
    if (static_cast<int64_t>(value.size()) >= length) {
      s.swap(value);
    } else {
      const size_t gap = static_cast<size_t>(length) - value.size();
      const size_t before = LeftFill(gap);
      s.clear();
      for (size_t i = 0; i < before; ++i) s += fill[i % fill.size()];
      s += value;
      for (size_t i = before; i < gap; ++i) s += fill[i % fill.size()];
    }
    ExpResult = rtText;
  }

 protected:
  // How many of `gap` fill characters go before the value.
  virtual size_t LeftFill(size_t gap) const = 0;
};

class TxbUDFPadL : public TxbUDFPadMain {
 public:
  AnsiString FunctionName() const override { return "PADL"; }

 protected:
  size_t LeftFill(size_t gap) const override { return gap; }
};

class TxbUDFPadR : public TxbUDFPadMain {
 public:
  AnsiString FunctionName() const override { return "PADR"; }

 protected:
  size_t LeftFill(size_t) const override { return 0; }
};

class TxbUDFPadC : public TxbUDFPadMain {
 public:
  AnsiString FunctionName() const override { return "PADC"; }

 protected:
  size_t LeftFill(size_t gap) const override { return gap / 2; }
};

// --- dates -----------------------------------------------------------------------

XB_FUNCTION(TxbUDFCTOD, "CTOD")
void TxbUDFCTOD::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtText, ExpResult);
  // An empty or impossible date (the date layer's 0) is the library's empty date.
  const int32_t day = xbDBFDate().CTOD(BufVar.Text());
  BufVar.PutFloat(day > 0 ? day : xbEmptyDate);
  ExpResult = rtDate;
}

XB_FUNCTION(TxbUDFDate, "DATE")
void TxbUDFDate::FunctionResult(TxbExpFunction&, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  BufVar.PutFloat(xbDBFDate().Date());
  ExpResult = rtDate;
}

XB_FUNCTION(TxbUDFDOW, "DOW")
void TxbUDFDOW::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtDate, ExpResult);
  BufVar.PutFloat(xbDBFDate().DOW(DayOf(BufVar.Float())));
  ExpResult = rtFloat;
}

XB_FUNCTION(TxbUDFDTOS, "DTOS")
void TxbUDFDTOS::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtDate, ExpResult);
  BufVar.PutText(xbDBFDate().DTOS(DayOf(BufVar.Float())));
  ExpResult = rtText;
}

XB_FUNCTION(TxbUDFDTOC, "DTOC")
void TxbUDFDTOC::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtDate, ExpResult);
  const int32_t day = DayOf(BufVar.Float());
  double mode = 0;
  OptionalNumber(Caller, 1, mode);
  BufVar.PutText(mode == 1 ? xbDBFDate().DTOS(day) : xbDBFDate().DTOC(day));
  ExpResult = rtText;
}

// --- any type --------------------------------------------------------------------

XB_FUNCTION(TxbUDFDescend, "DESCEND")
void TxbUDFDescend::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtAny, ExpResult);
  if (ExpResult == rtText || ExpResult == rtMemo) {
    for (char& c : BufVar.TextBuf()) c = static_cast<char>(256 - static_cast<unsigned char>(c));
  } else if (ExpResult == rtBoolean) {
    BufVar.PutBoolean(!BufVar.Boolean());
  } else if (ExpResult == rtDate) {
    // 5231808 - day turns the dates of years 1-9999 around; the empty date stays.
    if (!xbIsEmptyDate(BufVar.Float())) BufVar.PutFloat(5231808 - BufVar.Float());
  } else if (IsNumericResult(ExpResult)) {
    BufVar.PutFloat(BufVar.Float() == 0 ? 0.0 : -BufVar.Float());
  }
}

XB_FUNCTION(TxbUDFEmpty, "EMPTY")
void TxbUDFEmpty::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtAny, ExpResult);
  bool empty = true;
  if (ExpResult == rtText || ExpResult == rtMemo) {
    for (char c : BufVar.Text()) empty = empty && c == ' ';
  } else if (ExpResult == rtBoolean) {
    empty = !BufVar.Boolean();
  } else if (ExpResult == rtDate) {
    empty = xbIsEmptyDate(BufVar.Float());
  } else if (IsNumericResult(ExpResult)) {
    empty = BufVar.Float() == 0;
  }
  BufVar.PutBoolean(empty);
  ExpResult = rtBoolean;
}

XB_FUNCTION(TxbUDFIIF, "IIF")
void TxbUDFIIF::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  Caller.FetchArg(0, BufVar, rtBoolean, ExpResult);
  // Only the chosen value is evaluated.
  Caller.FetchArg(BufVar.Boolean() ? 1 : 2, BufVar, rtAny, ExpResult);
}

XB_FUNCTION(TxbUDFBetween, "BETWEEN")
void TxbUDFBetween::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  TxbExpResultType type, t;
  Caller.FetchArg(0, BufVar, rtAny, type);
  TxbExpValue& low = Caller.ArgValue(1);
  TxbExpValue& high = Caller.ArgValue(2);
  Caller.FetchArg(1, low, type, t);
  Caller.FetchArg(2, high, type, t);
  const bool in = CompareValues(low, BufVar, type) <= 0 && CompareValues(BufVar, high, type) <= 0;
  BufVar.PutBoolean(in);
  ExpResult = rtBoolean;
}

XB_FUNCTION(TxbUDFInlist, "INLIST")
void TxbUDFInlist::FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) {
  TxbExpResultType type;
  Caller.FetchArg(0, BufVar, rtAny, type);
  const bool text = type == rtText || type == rtMemo;
  bool found = false;
  for (int i = 1; i < Caller.ArgCount() && !found; ++i) {
    TxbExpResultType t;
    TxbExpValue& v = Caller.ArgValue(i);
    Caller.FetchArg(i, v, rtAny, t);
    if (text && (t == rtText || t == rtMemo)) {
      found = TrimBlanksRight(v.Text()) == TrimBlanksRight(BufVar.Text());
    } else if (t == type || (IsNumericResult(t) && IsNumericResult(type))) {
      found = !text && CompareValues(v, BufVar, type) == 0;
    }
  }
  BufVar.PutBoolean(found);
  ExpResult = rtBoolean;
}

// MAX and MIN: the largest or smallest of arguments of one type.
class TxbUDFMax : public TxbUserDefFunction {
 public:
  AnsiString FunctionName() const override { return "MAX"; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    if (Caller.ArgCount() == 0) Raise(xbmValueRequired, {Label()});
    Caller.FetchArg(0, BufVar, rtAny, ExpResult);
    for (int i = 1; i < Caller.ArgCount(); ++i) {
      TxbExpResultType t;
      TxbExpValue& v = Caller.ArgValue(i);
      Caller.FetchArg(i, v, rtAny, t);
      if (t != ExpResult) Raise(xbmArgumentsSameType, {Label()});
      if (CompareValues(v, BufVar, t) * Direction() > 0) std::swap(BufVar, v);
    }
  }

 protected:
  virtual const char* Label() const { return "Max()"; }
  virtual int Direction() const { return 1; }
};

class TxbUDFMin : public TxbUDFMax {
 public:
  AnsiString FunctionName() const override { return "MIN"; }

 protected:
  const char* Label() const override { return "Min()"; }
  int Direction() const override { return -1; }
};

}  // namespace

bool xbStrNumber(double v, int64_t width, int dec, AnsiString& out) {
  out.clear();
  char buf[1024];
  const double r = RoundDecimal(v, dec);
  const auto res = std::isfinite(v) ? std::to_chars(buf, buf + sizeof buf, r == 0 ? 0.0 : r, std::chars_format::fixed, dec)
                                    : std::to_chars_result{buf, std::errc::value_too_large};
  const size_t len = static_cast<size_t>(res.ptr - buf);
  if (res.ec != std::errc() || len > static_cast<size_t>(width)) {
    out.assign(static_cast<size_t>(width), '*');
    return false;
  }
  out.assign(static_cast<size_t>(width) - len, ' ');
  out.append(buf, len);
  return true;
}

bool xbIsEmptyDate(double julian) { return !(julian >= 1 && julian < xbEmptyDate); }

void xbRegisterFunctionLibrary(TxbFunctionReg& reg) {
  reg.RegisterFunction(std::make_unique<TxbUDFAbsolute>());
  reg.RegisterFunction(std::make_unique<TxbUDFAllTrim>());
  reg.RegisterFunction(std::make_unique<TxbUDFArcCos>());
  reg.RegisterFunction(std::make_unique<TxbUDFArcSin>());
  reg.RegisterFunction(std::make_unique<TxbUDFArcTan>());
  reg.RegisterFunction(std::make_unique<TxbUDFArcTan2>());
  reg.RegisterFunction(std::make_unique<TxbUDFAsc>());
  reg.RegisterFunction(std::make_unique<TxbUDFAt>());
  reg.RegisterFunction(std::make_unique<TxbUDFAtC>());
  reg.RegisterFunction(std::make_unique<TxbUDFBetween>());
  reg.RegisterFunction(std::make_unique<TxbUDFCeiling>());
  reg.RegisterFunction(std::make_unique<TxbUDFChr>());
  reg.RegisterFunction(std::make_unique<TxbUDFCosine>());
  reg.RegisterFunction(std::make_unique<TxbUDFCTOD>());
  reg.RegisterFunction(std::make_unique<TxbUDFDate>());
  reg.RegisterFunction(std::make_unique<TxbUDFDescend>());
  reg.RegisterFunction(std::make_unique<TxbUDFDOW>());
  reg.RegisterFunction(std::make_unique<TxbUDFDTOC>());
  reg.RegisterFunction(std::make_unique<TxbUDFDegToRad>());
  reg.RegisterFunction(std::make_unique<TxbUDFDTOS>());
  reg.RegisterFunction(std::make_unique<TxbUDFEmpty>());
  reg.RegisterFunction(std::make_unique<TxbUDFFloor>());
  reg.RegisterFunction(std::make_unique<TxbUDFFutureValue>());
  reg.RegisterFunction(std::make_unique<TxbUDFIIF>());
  reg.RegisterFunction(std::make_unique<TxbUDFInlist>());
  reg.RegisterFunction(std::make_unique<TxbUDFInt>());
  reg.RegisterFunction(std::make_unique<TxbUDFLeft>());
  reg.RegisterFunction(std::make_unique<TxbUDFLen>());
  reg.RegisterFunction(std::make_unique<TxbUDFLog>());
  reg.RegisterFunction(std::make_unique<TxbUDFLog10>());
  reg.RegisterFunction(std::make_unique<TxbUDFLower>());
  reg.RegisterFunction(std::make_unique<TxbUDFLTrim>());
  reg.RegisterFunction(std::make_unique<TxbUDFMax>());
  reg.RegisterFunction(std::make_unique<TxbUDFMin>());
  reg.RegisterFunction(std::make_unique<TxbUDFMod>());
  reg.RegisterFunction(std::make_unique<TxbUDFPadC>());
  reg.RegisterFunction(std::make_unique<TxbUDFPadL>());
  reg.RegisterFunction(std::make_unique<TxbUDFPadR>());
  reg.RegisterFunction(std::make_unique<TxbUDFPi>());
  reg.RegisterFunction(std::make_unique<TxbUDFPresentValue>());
  reg.RegisterFunction(std::make_unique<TxbUDFProper>());
  reg.RegisterFunction(std::make_unique<TxbUDFRight>());
  reg.RegisterFunction(std::make_unique<TxbUDFRadToDeg>());
  reg.RegisterFunction(std::make_unique<TxbUDFRound>());
  reg.RegisterFunction(std::make_unique<TxbUDFRTrim>());
  reg.RegisterFunction(std::make_unique<TxbUDFSin>());
  reg.RegisterFunction(std::make_unique<TxbUDFSoundex>());
  reg.RegisterFunction(std::make_unique<TxbUDFSpace>());
  reg.RegisterFunction(std::make_unique<TxbUDFStr>());
  reg.RegisterFunction(std::make_unique<TxbUDFStrTran>());
  reg.RegisterFunction(std::make_unique<TxbUDFStrZero>());
  reg.RegisterFunction(std::make_unique<TxbUDFSubStr>());
  reg.RegisterFunction(std::make_unique<TxbUDFTan>());
  reg.RegisterFunction(std::make_unique<TxbUDFTrim>());
  reg.RegisterFunction(std::make_unique<TxbUDFUpper>());
  reg.RegisterFunction(std::make_unique<TxbUDFVal>());
}

}  // namespace xbase
