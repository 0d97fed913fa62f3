// Dates of the engine: Julian day numbers.
//
// The engine stores and compares a date as its number in the Julian day
// count (1980-01-01 is 2444240; 1899-12-30, day 0 of the platform's date
// numbers, is 2415019). 0, or any value below 1, is the empty date. Dates
// run from 0001-01-01 (1721426) to 9999-12-31 (5373484); a number outside
// that range converts like the empty date.
//
// Text forms: DTOS "yyyymmdd", for keys and D fields; DTOC the engine-wide
// short date format (default "DD.MM.YYYY"), never the process locale. CTOD
// reads both.
//
// TxbDBFDate is not thread-safe; the engine's one instance (xbDBFDate) is
// used from the engine's thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/CodePage.h"

namespace xbase {

using platform::AnsiString;

class TxbDBFDate {
 public:
  TxbDBFDate() = default;

  // The Julian day number of the platform's day 0 (1899-12-30): 2415019.
  int32_t JulianOffset() const { return FJulOffset; }
  // DTOC widens a two-digit year part of the format to four digits.
  bool ForceCentury() const { return FForceCentury; }
  void SetForceCentury(bool v) { FForceCentury = v; }
  // Letters D, M and Y (case ignored) with separators, e.g. "DD.MM.YYYY",
  // "MM/DD/YY". Shared by DTOC, CTOD and the date literals of expressions.
  const std::string& ShortDateFormat() const { return FShortDateFormat; }
  void SetShortDateFormat(std::string format) { FShortDateFormat = std::move(format); }

  // The day number of a calendar date; 0 for an impossible one.
  int32_t MDY2Jul(int month, int day, int year) const;
  // The calendar date of a day number; all 0 for the empty date.
  void Jul2MDY(int32_t julian, int& month, int& day, int& year) const;
  // Today (local time).
  int32_t Date() const;
  // Day of the week, 1 = Sunday ... 7 = Saturday; 0 for the empty date.
  int DOW(int32_t julian) const;
  // "yyyymmdd"; 8 blanks for the empty date.
  AnsiString DTOS(int32_t julian) const;
  // The date in the short date format, upper-cased (widened with
  // ForceCentury); as many blanks as the format has characters for the
  // empty date.
  AnsiString DTOC(int32_t julian) const;
  // The day number of a text: trailing blanks removed, "" and "00000000"
  // give 0; eight digits are "yyyymmdd" (an impossible date gives 0); any
  // other text is read by the short date format (two numbers: this year;
  // a year of one or two digits: within 50 years back of this year and 49
  // ahead). Raises platform::EConvertError for a text that is not a date.
  int32_t CTOD(std::string_view text) const;

 private:
  std::string WidenedFormat() const;

  int32_t FJulOffset = 2415019;
  bool FForceCentury = true;
  std::string FShortDateFormat = "DD.MM.YYYY";
};

// The engine's one date object; every date conversion of the engine goes
// through it.
TxbDBFDate& xbDBFDate();

// The engine's wall clock in milliseconds since 1970-01-01 UTC, read by
// TxbDBFDate::Date and UniqueTempFileName. A test may put in another clock;
// nullptr puts back the platform's. Returns the clock it replaces.
using TxbClock = int64_t (*)();
TxbClock SetxbClock(TxbClock clock);
int64_t xbClockMs();

}  // namespace xbase
