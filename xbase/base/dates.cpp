#include "xbase/base/dates.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/Clock.h"
#include "platform/Numbers.h"

namespace xbase {

namespace {

using namespace std::chrono;

// Julian day number of 1970-01-01, where sys_days counts from.
constexpr int32_t kUnixEpochJulian = 2440588;
constexpr int32_t kFirstJulian = 1721426;  // 0001-01-01
constexpr int32_t kLastJulian = 5373484;   // 9999-12-31

TxbClock gClock = nullptr;

bool InRange(int32_t julian) { return julian >= kFirstJulian && julian <= kLastJulian; }

[[noreturn]] void NotADate(std::string_view text) {
  throw platform::EConvertError("'" + std::string(text) + "' is not a valid date");
}

// The current year by the engine's clock.
int ThisYear() { return platform::LocalTimeOf(xbClockMs()).year; }

}  // namespace

TxbClock SetxbClock(TxbClock clock) {
  const TxbClock old = gClock;
  gClock = clock;
  return old;
}

int64_t xbClockMs() { return gClock ? gClock() : platform::WallClockMs(); }

TxbDBFDate& xbDBFDate() {
  static TxbDBFDate date;
  return date;
}

int32_t TxbDBFDate::MDY2Jul(int month, int day, int year) const {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return 0;
  const year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                           std::chrono::day(static_cast<unsigned>(day))};
  if (!ymd.ok()) return 0;
  return static_cast<int32_t>(sys_days(ymd).time_since_epoch().count()) + kUnixEpochJulian;
}

void TxbDBFDate::Jul2MDY(int32_t julian, int& month, int& day, int& year) const {
  month = day = year = 0;
  if (!InRange(julian)) return;
  const year_month_day ymd{sys_days(days(julian - kUnixEpochJulian))};
  year = static_cast<int>(ymd.year());
  month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  day = static_cast<int>(static_cast<unsigned>(ymd.day()));
}

int32_t TxbDBFDate::Date() const {
  const platform::TSystemTime now = platform::LocalTimeOf(xbClockMs());
  return MDY2Jul(now.month, now.day, now.year);
}

int TxbDBFDate::DOW(int32_t julian) const {
  if (julian < 1) return 0;
  return static_cast<int>((julian + 1) % 7) + 1;  // Julian day 0 was a Monday
}

AnsiString TxbDBFDate::DTOS(int32_t julian) const {
  int m, d, y;
  Jul2MDY(julian, m, d, y);
  if (y == 0) return AnsiString(8, ' ');
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

std::string TxbDBFDate::WidenedFormat() const {
  std::string fmt = platform::AnsiUpperCase(FShortDateFormat);
  if (FForceCentury) {
    const size_t y = fmt.find('Y');
    if (y != std::string::npos)
      while (fmt.find("YYYY") == std::string::npos) fmt.insert(y, 1, 'Y');
  }
  return fmt;
}

AnsiString TxbDBFDate::DTOC(int32_t julian) const {
  const std::string fmt = WidenedFormat();
  int m, d, y;
  Jul2MDY(julian, m, d, y);
  if (y == 0) return AnsiString(fmt.size(), ' ');
  AnsiString out;
  for (size_t i = 0; i < fmt.size();) {
    const char c = fmt[i];
    size_t run = 1;
    while (i + run < fmt.size() && fmt[i + run] == c) ++run;
    char buf[16];
    if (c == 'D' || c == 'M') {
      std::snprintf(buf, sizeof buf, run >= 2 ? "%02d" : "%d", c == 'D' ? d : m);
      out += buf;
    } else if (c == 'Y') {
      std::snprintf(buf, sizeof buf, run >= 3 ? "%04d" : "%02d", run >= 3 ? y : y % 100);
      out += buf;
    } else {
      out.append(run, c);
    }
    i += run;
  }
  return out;
}

int32_t TxbDBFDate::CTOD(std::string_view text) const {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text == "00000000") return 0;
  bool allDigits = true;
  for (char c : text) allDigits = allDigits && c >= '0' && c <= '9';
  if (text.size() == 8 && allDigits) {
    const auto num = [&](size_t at, size_t n) {
      int v = 0;
      for (size_t i = at; i < at + n; ++i) v = v * 10 + (text[i] - '0');
      return v;
    };
    // A day that does not exist is the empty date, never some other day.
    return MDY2Jul(num(4, 2), num(6, 2), num(0, 4));
  }

  // The short date format: the order of D, M and Y, and its separator.
  const std::string fmt = WidenedFormat();
  std::string order;
  char sep = 0;
  for (char c : fmt) {
    if ((c == 'D' || c == 'M' || c == 'Y') && order.find(c) == std::string::npos) order += c;
    if (!sep && c != 'D' && c != 'M' && c != 'Y') sep = c;
  }
  if (order.size() != 3 || !sep) NotADate(text);

  std::string_view rest = text;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  std::vector<std::string_view> parts;
  while (true) {
    const size_t p = rest.find(sep);
    parts.push_back(rest.substr(0, p));
    if (p == std::string_view::npos) break;
    rest.remove_prefix(p + 1);
  }
  if (parts.size() < 2 || parts.size() > 3) NotADate(text);
  if (parts.size() == 2) order.erase(order.find('Y'), 1);

  int d = 0, m = 0, y = ThisYear();
  for (size_t i = 0; i < parts.size(); ++i) {
    int64_t v = 0;
    if (parts[i].empty() || parts[i].size() > 4 || platform::ScanDigits(parts[i], v) != parts[i].size())
      NotADate(text);
    if (order[i] == 'D') d = static_cast<int>(v);
    if (order[i] == 'M') m = static_cast<int>(v);
    if (order[i] == 'Y') {
      y = static_cast<int>(v);
      if (parts[i].size() <= 2) {
        // Two-digit years fall within the 100 years ending 49 years ahead.
        const int base = ThisYear() - 50;
        y += base / 100 * 100;
        if (y < base) y += 100;
      }
    }
  }
  const int32_t julian = MDY2Jul(m, d, y);
  if (julian == 0) NotADate(text);
  return julian;
}

}  // namespace xbase
