#include "catalogue/Func.h"

namespace catalogue {

AnsiString wordToChars(uint16_t v) {
  AnsiString s(2, '\0');
  s[0] = static_cast<char>(v >> 8);
  s[1] = static_cast<char>(v & 0xFF);
  return s;
}

uint16_t charsToWord(std::string_view s) {
  const unsigned hi = s.size() > 0 ? static_cast<unsigned char>(s[0]) : 0;
  const unsigned lo = s.size() > 1 ? static_cast<unsigned char>(s[1]) : 0;
  return static_cast<uint16_t>(hi * 256 + lo);
}

}  // namespace catalogue
