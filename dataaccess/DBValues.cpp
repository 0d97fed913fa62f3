#include "dataaccess/DBValues.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "dataaccess/DBError.h"

namespace dataaccess {

namespace {

constexpr int32_t kDateDelta = 693594;  // day number of 1899-12-30
constexpr int32_t kMaxDayNumber = 3652059;  // 9999-12-31
constexpr double kMSecsPerDay = 86400000.0;

// Days from 1970-01-01 in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr int64_t kDayNumberBias = 719163;  // day number = days from 1970 + bias

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

bool ValidParts(const TDateTimeParts& p) {
  return p.Year >= 1 && p.Year <= 9999 && p.Month >= 1 && p.Month <= 12 && p.Day >= 1 &&
         p.Day <= DaysInMonth(p.Year, p.Month) && p.Hour >= 0 && p.Hour < 24 && p.Minute >= 0 &&
         p.Minute < 60 && p.Second >= 0 && p.Second < 60 && p.MSec >= 0 && p.MSec < 1000;
}

// Day number and milliseconds of the day -> TDateTime.
TDateTime Compose(int64_t dayNumber, int64_t msOfDay) {
  const double offset = static_cast<double>(dayNumber - kDateDelta);
  const double time = static_cast<double>(msOfDay) / kMSecsPerDay;
  return offset >= 0 ? offset + time : offset - time;
}

// TDateTime -> day number and milliseconds of the day, or false outside
// the calendar.
bool Split(TDateTime value, int64_t& dayNumber, int64_t& msOfDay) {
  if (!std::isfinite(value) || std::fabs(value) > 4.0e6) return false;
  const double whole = std::trunc(value);
  msOfDay = std::llround(std::fabs(value - whole) * kMSecsPerDay);
  dayNumber = static_cast<int64_t>(whole) + kDateDelta;
  if (msOfDay >= static_cast<int64_t>(kMSecsPerDay)) {  // rounded up to midnight
    msOfDay = 0;
    ++dayNumber;
  }
  return dayNumber >= 1 && dayNumber <= kMaxDayNumber;
}

std::string Trimmed(const AnsiString& text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return text.substr(b, e - b);
}

// Reads 1..maxDigits decimal digits at `pos`.
bool Digits(const std::string& s, size_t& pos, size_t minDigits, size_t maxDigits, int& out) {
  size_t start = pos;
  out = 0;
  while (pos < s.size() && pos - start < maxDigits && s[pos] >= '0' && s[pos] <= '9')
    out = out * 10 + (s[pos++] - '0');
  return pos - start >= minDigits;
}

}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  if (!ValidParts(p)) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.MSec);
    DatabaseErrorFmt(SInvalidDate, {text});
  }
  const int64_t day = DaysFromCivil(p.Year, p.Month, p.Day) + kDayNumberBias;
  const int64_t ms = ((p.Hour * 60 + p.Minute) * 60 + p.Second) * 1000 + p.MSec;
  return Compose(day, ms);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  int64_t day, ms;
  if (!Split(value, day, ms)) DatabaseErrorFmt(SInvalidDateTime, {FloatToText(value)});
  TDateTimeParts p;
  CivilFromDays(day - kDayNumberBias, p.Year, p.Month, p.Day);
  p.MSec = static_cast<int>(ms % 1000);
  ms /= 1000;
  p.Second = static_cast<int>(ms % 60);
  ms /= 60;
  p.Minute = static_cast<int>(ms % 60);
  p.Hour = static_cast<int>(ms / 60);
  return p;
}

TDateTime DayNumberToDateTime(int32_t dayNumber) { return Compose(dayNumber, 0); }

int32_t DateTimeToDayNumber(TDateTime value) {
  int64_t day, ms;
  if (!Split(value, day, ms)) DatabaseErrorFmt(SInvalidDate, {FloatToText(value)});
  return static_cast<int32_t>(day);
}

TDateTime MSecsToDateTime(double msecs) {
  // A damaged field can hold any double: the day is checked against the
  // calendar while it is still one, as converting a huge one is undefined.
  const double day = std::floor(msecs / kMSecsPerDay);
  if (!std::isfinite(msecs) || !(day >= 1 && day <= kMaxDayNumber))
    DatabaseErrorFmt(SInvalidDateTime, {FloatToText(msecs)});
  return Compose(static_cast<int64_t>(day), std::llround(msecs - day * kMSecsPerDay));
}

double DateTimeToMSecs(TDateTime value) {
  int64_t day, ms;
  if (!Split(value, day, ms)) DatabaseErrorFmt(SInvalidDateTime, {FloatToText(value)});
  return static_cast<double>(day) * kMSecsPerDay + static_cast<double>(ms);
}

AnsiString IntToText(int64_t value) { return std::to_string(value); }

AnsiString FloatToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  return AnsiString(buf, r.ptr);
}

AnsiString BooleanToText(bool value) { return value ? "True" : "False"; }

AnsiString DateToText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  return buf;
}

AnsiString DateTimeToText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day,
                        p.Hour, p.Minute, p.Second);
  if (p.MSec != 0) std::snprintf(buf + n, sizeof buf - n, ".%03d", p.MSec);
  return buf;
}

int64_t TextToInt64(const AnsiString& text) {
  const std::string s = Trimmed(text);
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  int64_t v = 0;
  auto r = std::from_chars(b, e, v);
  if (b == e || r.ec != std::errc() || r.ptr != e) DatabaseErrorFmt(SInvalidInteger, {text});
  return v;
}

double TextToFloat(const AnsiString& text) {
  const std::string s = Trimmed(text);
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  double v = 0;
  auto r = std::from_chars(b, e, v, std::chars_format::general);
  if (b == e || r.ec != std::errc() || r.ptr != e || !std::isfinite(v))
    DatabaseErrorFmt(SInvalidFloat, {text});
  return v;
}

bool TextToBoolean(const AnsiString& text) {
  const std::string s = platform::AnsiUpperCase(Trimmed(text));
  if (!s.empty()) {
    if (std::string("TRUE").starts_with(s)) return true;
    if (std::string("FALSE").starts_with(s)) return false;
  }
  DatabaseErrorFmt(SInvalidBoolean, {text});
}

TDateTime TextToDateTime(const AnsiString& text) {
  const std::string s = Trimmed(text);
  TDateTimeParts p;
  size_t pos = 0;
  bool ok = Digits(s, pos, 4, 4, p.Year) && pos < s.size() && s[pos++] == '-' &&
            Digits(s, pos, 1, 2, p.Month) && pos < s.size() && s[pos++] == '-' &&
            Digits(s, pos, 1, 2, p.Day);
  if (ok && pos < s.size()) {
    ok = (s[pos] == ' ' || s[pos] == 'T') && Digits(s, ++pos, 1, 2, p.Hour) && pos < s.size() &&
         s[pos++] == ':' && Digits(s, pos, 2, 2, p.Minute);
    if (ok && pos < s.size()) ok = s[pos++] == ':' && Digits(s, pos, 2, 2, p.Second);
    if (ok && pos < s.size()) {
      size_t start = pos + 1;
      ok = s[pos++] == '.' && Digits(s, pos, 1, 3, p.MSec);
      for (size_t n = pos - start; ok && n < 3; ++n) p.MSec *= 10;  // ".5" is 500 ms
    }
    ok = ok && pos == s.size();
  }
  if (!ok || !ValidParts(p)) DatabaseErrorFmt(SInvalidDateTime, {text});
  return EncodeDateTime(p);
}

int64_t RoundToInt64(double value) {
  // -2^63 and 2^63 are exact doubles; below 2^63 the spacing of doubles is
  // far above 1, so rounding cannot carry a value out of the range.
  if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
    DatabaseErrorFmt(SInvalidInteger, {FloatToText(value)});
  return static_cast<int64_t>(std::nearbyint(value));  // the default mode rounds halves to even
}

TVariant TVariant::FromDate(TDateTime v) {
  TVariant r;
  r.type_ = varDate;
  r.double_ = v;
  return r;
}

bool TVariant::AsBoolean() const {
  switch (type_) {
    case varNull: return false;
    case varBoolean:
    case varInt64: return int_ != 0;
    case varDouble:
    case varDate: return double_ != 0;
    case varString: return TextToBoolean(text_);
  }
  return false;
}

int64_t TVariant::AsInt64() const {
  switch (type_) {
    case varNull: return 0;
    case varBoolean:
    case varInt64: return int_;
    case varDouble: return RoundToInt64(double_);
    case varDate: return RoundToInt64(std::trunc(double_));
    case varString: return TextToInt64(text_);
  }
  return 0;
}

double TVariant::AsDouble() const {
  switch (type_) {
    case varNull: return 0;
    case varBoolean:
    case varInt64: return static_cast<double>(int_);
    case varDouble:
    case varDate: return double_;
    case varString: return TextToFloat(text_);
  }
  return 0;
}

AnsiString TVariant::AsString() const {
  switch (type_) {
    case varNull: return {};
    case varBoolean: return BooleanToText(int_ != 0);
    case varInt64: return IntToText(int_);
    case varDouble: return FloatToText(double_);
    case varDate: return double_ == std::trunc(double_) ? DateToText(double_) : DateTimeToText(double_);
    case varString: return text_;
  }
  return {};
}

TDateTime TVariant::AsDateTime() const {
  return type_ == varString ? TextToDateTime(text_) : AsDouble();
}

bool TVariant::operator==(const TVariant& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case varNull: return true;
    case varBoolean:
    case varInt64: return int_ == o.int_;
    case varDouble:
    case varDate: return double_ == o.double_;
    case varString: return text_ == o.text_;
  }
  return false;
}

}  // namespace dataaccess
