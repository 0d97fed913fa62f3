// Values of the data-access layer: option sets, dates and times, the small
// variant that carries key, locate and field values, and the locale-free
// text forms every field uses.
//
// Text is ANSI (Windows-1251) throughout; only the user interface converts
// to UTF-8. Number and date texts never depend on the process locale:
// integers are plain decimal, floating point uses "." and at most 15
// significant digits, dates are "yyyy-mm-dd" and date-times
// "yyyy-mm-dd hh:nn:ss" (".zzz" added when there are milliseconds).
// Every function here is pure and thread-safe.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>

#include "platform/CodePage.h"

namespace dataaccess {

using platform::AnsiString;

// A set of the members of a small enumeration (values 0..31), as the
// framework's options are passed.
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  constexpr bool Contains(E m) const { return (bits_ >> static_cast<unsigned>(m)) & 1u; }
  constexpr TSet& Include(E m) {
    bits_ |= 1u << static_cast<unsigned>(m);
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    bits_ &= ~(1u << static_cast<unsigned>(m));
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  uint32_t bits_ = 0;
};

// --- Dates and times ----------------------------------------------------------

// A point in time as days since 1899-12-30 00:00; the fraction is the time
// of day. Before that day the whole part counts back and the fraction still
// counts forward from midnight of that day, so -1.25 is 1899-12-29 06:00.
using TDateTime = double;

struct TDateTimeParts {
  int Year = 1, Month = 1, Day = 1;  // 0001-01-01 .. 9999-12-31
  int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

// Raises EDatabaseError (SInvalidDate) for parts outside the calendar.
TDateTime EncodeDateTime(const TDateTimeParts& parts);
// The parts of `value`, the time rounded to the millisecond; raises
// EDatabaseError (SInvalidDateTime) outside 0001-01-01 .. 9999-12-31.
TDateTimeParts DecodeDateTime(TDateTime value);

// The native forms of date and date-time fields: the day number counts days
// with 0001-01-01 as 1 (so 1899-12-30 is 693594); the date-time is that day
// number times 86,400,000 plus the milliseconds of the day.
TDateTime DayNumberToDateTime(int32_t dayNumber);
// The day of `value`, its time dropped.
int32_t DateTimeToDayNumber(TDateTime value);
TDateTime MSecsToDateTime(double msecs);
double DateTimeToMSecs(TDateTime value);

// --- Text forms ---------------------------------------------------------------

AnsiString IntToText(int64_t value);
AnsiString FloatToText(double value);
AnsiString BooleanToText(bool value);  // "True" / "False"
AnsiString DateToText(TDateTime value);
AnsiString DateTimeToText(TDateTime value);

// Each parser ignores blanks around the text and raises EDatabaseError with
// the text quoted when it does not hold a value of its kind.
int64_t TextToInt64(const AnsiString& text);
double TextToFloat(const AnsiString& text);
// "True" or "False" or a beginning of either, in any letter case.
bool TextToBoolean(const AnsiString& text);
// A date, optionally followed by a blank or "T" and "hh:nn", "hh:nn:ss" or
// "hh:nn:ss.zzz".
TDateTime TextToDateTime(const AnsiString& text);

// `value` rounded to the nearest integer, halves to the even neighbour;
// raises EDatabaseError when it is not a number or out of the 64-bit range.
int64_t RoundToInt64(double value);

// --- Variant ------------------------------------------------------------------

enum TVarType { varNull, varBoolean, varInt64, varDouble, varString, varDate };

// A small typed value: null, boolean, 64-bit integer, double, ANSI text or
// date. The As... readers convert between the kinds (null reads as false,
// 0 or empty text); a text that does not hold the kind asked for raises
// EDatabaseError.
class TVariant {
 public:
  TVariant() = default;
  TVariant(bool v) : type_(varBoolean), int_(v) {}
  template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
  TVariant(T v) : type_(varInt64), int_(static_cast<int64_t>(v)) {}
  TVariant(double v) : type_(varDouble), double_(v) {}
  TVariant(const char* v) : type_(varString), text_(v) {}
  TVariant(AnsiString v) : type_(varString), text_(std::move(v)) {}
  static TVariant FromDate(TDateTime v);

  TVarType VarType() const { return type_; }
  bool IsNull() const { return type_ == varNull; }

  bool AsBoolean() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  AnsiString AsString() const;
  TDateTime AsDateTime() const;

  // Same kind and same value.
  bool operator==(const TVariant& other) const;

 private:
  TVarType type_ = varNull;
  int64_t int_ = 0;
  double double_ = 0;
  AnsiString text_;
};

}  // namespace dataaccess
