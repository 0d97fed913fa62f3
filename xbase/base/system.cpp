#include "xbase/base/system.h"

#include <cstring>

#include "platform/Clock.h"
#include "platform/Collation.h"
#include "platform/Files.h"

namespace xbase {

namespace {

// Soundex digit of an upper-case ASCII letter; -1 for any other byte.
int SoundexDigit(unsigned char c) {
  static constexpr char kDigits[] = "01230120022455012623010202";  // A..Z
  return c >= 'A' && c <= 'Z' ? kDigits[c - 'A'] - '0' : -1;
}

}  // namespace

AnsiString SoundexCode(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  if (b == e) return {};
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  AnsiString code(1, upper(text[b]));
  int prev = SoundexDigit(static_cast<unsigned char>(code[0]));
  for (size_t i = b + 1; i < e && code.size() < 4; ++i) {
    const int d = SoundexDigit(static_cast<unsigned char>(upper(text[i])));
    if (d < 0) continue;  // not a letter: neither coded nor a separator
    if (d != 0 && d != prev) code += static_cast<char>('0' + d);
    prev = d;
  }
  code.append("0000");
  code.resize(4);
  return code;
}

int CompareTextCase(std::string_view a, std::string_view b) { return platform::AnsiCompareStr(a, b); }
int CompareTextNoCase(std::string_view a, std::string_view b) { return platform::AnsiCompareText(a, b); }

int TextPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  const size_t p = text.find(sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

int WildcardMatch(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return 0;
  // The stars stand for any text, possibly none: they do not count against
  // the length of the text.
  size_t literal = 0;
  for (char c : pattern)
    if (c != '*') ++literal;
  if (literal > text.size()) return 0;
  if (pattern == "*") return 1;
  if (pattern.front() == '*') {
    pattern.remove_prefix(1);
    if (pattern == "*") return 1;
    if (pattern.back() == '*') pattern.remove_suffix(1);
    return TextPos(pattern, text);
  }
  if (pattern.back() == '*') pattern.remove_suffix(1);
  if (pattern.size() > text.size()) return 0;
  for (size_t i = 0; i < pattern.size(); ++i)
    if (pattern[i] != '?' && pattern[i] != text[i]) return 0;
  return 1;
}

int CompareBuffers(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  if (n) {
    const int c = std::memcmp(a.data(), b.data(), n);  // memcmp compares unsigned bytes
    if (c != 0) return c;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

void CharToOemBuffer(const char* src, char* dst, size_t len) {
  if (!len) return;
  const std::string oem = platform::AnsiToOem(std::string_view(src, len));
  std::memcpy(dst, oem.data(), len);
}

void OemToCharBuffer(const char* src, char* dst, size_t len) {
  if (!len) return;
  const AnsiString ansi = platform::OemToAnsi(std::string_view(src, len));
  std::memcpy(dst, ansi.data(), len);
}

void SleepMs(unsigned ms) { platform::Sleep(ms); }

std::string WindowsDirectory() { return platform::UserConfigDir(); }

}  // namespace xbase
