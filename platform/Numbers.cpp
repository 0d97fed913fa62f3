#include "platform/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The number proper: blanks around removed and one leading '+' dropped
// (std::from_chars takes no '+'). Empty when nothing of a number is left.
std::string_view NumberPart(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) return {};
  }
  return s;
}

template <class T>
bool ParseInt(std::string_view text, T& value) {
  const std::string_view s = NumberPart(text);
  if (s.empty()) return false;
  T v{};
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  value = v;
  return true;
}

}  // namespace

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  // 15 significant digits: d.dddddddddddddde[+-]x
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  const size_t e = sci.find('e');
  const int exp = std::atoi(std::string(sci.substr(e + 1)).c_str());
  const bool negative = sci.front() == '-';
  std::string digits;  // significant digits without trailing zeros
  for (char c : sci.substr(0, e))
    if (c >= '0' && c <= '9') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exp >= 15 || exp < -5) {
    out += digits[0];
    if (digits.size() > 1) out += '.' + digits.substr(1);
    out += 'E' + std::to_string(exp);
  } else if (exp < 0) {
    out += "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  } else {
    const size_t intDigits = static_cast<size_t>(exp) + 1;
    if (digits.size() <= intDigits) {
      out += digits + std::string(intDigits - digits.size(), '0');
    } else {
      out += digits.substr(0, intDigits) + '.' + digits.substr(intDigits);
    }
  }
  return out;
}

bool TryStrToFloat(std::string_view text, double& value) {
  const std::string_view s = NumberPart(text);
  // from_chars would also take "inf", "nan" and hexadecimal forms.
  if (s.empty()) return false;
  const size_t first = s.front() == '-' ? 1 : 0;
  if (first >= s.size() || !((s[first] >= '0' && s[first] <= '9') || s[first] == '.')) return false;
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  value = v;
  return true;
}

double StrToFloat(std::string_view text) {
  double v = 0;
  if (!TryStrToFloat(text, v))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

bool TryStrToInt(std::string_view text, int32_t& value) { return ParseInt(text, value); }
bool TryStrToInt(std::string_view text, int64_t& value) { return ParseInt(text, value); }

size_t ScanDigits(std::string_view text, int64_t& value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return 0;
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc()) return 0;
  value = v;
  return static_cast<size_t>(end - text.data());
}

}  // namespace platform
