#include "platform/Collation.h"

#include <array>
#include <cstdint>

namespace platform {

namespace {

// Letters in collation order as (upper, lower) pairs of 1251 bytes.
constexpr unsigned char kLetters[][2] = {
    // Latin
    {'A', 'a'}, {'B', 'b'}, {'C', 'c'}, {'D', 'd'}, {'E', 'e'}, {'F', 'f'}, {'G', 'g'},
    {'H', 'h'}, {'I', 'i'}, {'J', 'j'}, {'K', 'k'}, {'L', 'l'}, {'M', 'm'}, {'N', 'n'},
    {'O', 'o'}, {'P', 'p'}, {'Q', 'q'}, {'R', 'r'}, {'S', 's'}, {'T', 't'}, {'U', 'u'},
    {'V', 'v'}, {'W', 'w'}, {'X', 'x'}, {'Y', 'y'}, {'Z', 'z'},
    // Cyrillic: А Б В Г Ґ Ѓ Д Ђ Е Ё Є Ж З Ѕ И І Ї Й Ј К Ќ Л Љ М Н Њ О П Р С Т Ћ
    // У Ў Ф Х Ц Ч Џ Ш Щ Ъ Ы Ь Э Ю Я
    {0xC0, 0xE0}, {0xC1, 0xE1}, {0xC2, 0xE2}, {0xC3, 0xE3}, {0xA5, 0xB4}, {0x81, 0x83},
    {0xC4, 0xE4}, {0x80, 0x90}, {0xC5, 0xE5}, {0xA8, 0xB8}, {0xAA, 0xBA}, {0xC6, 0xE6},
    {0xC7, 0xE7}, {0xBD, 0xBE}, {0xC8, 0xE8}, {0xB2, 0xB3}, {0xAF, 0xBF}, {0xC9, 0xE9},
    {0xA3, 0xBC}, {0xCA, 0xEA}, {0x8D, 0x9D}, {0xCB, 0xEB}, {0x8A, 0x9A}, {0xCC, 0xEC},
    {0xCD, 0xED}, {0x8C, 0x9C}, {0xCE, 0xEE}, {0xCF, 0xEF}, {0xD0, 0xF0}, {0xD1, 0xF1},
    {0xD2, 0xF2}, {0x8E, 0x9E}, {0xD3, 0xF3}, {0xA1, 0xA2}, {0xD4, 0xF4}, {0xD5, 0xF5},
    {0xD6, 0xF6}, {0xD7, 0xF7}, {0x8F, 0x9F}, {0xD8, 0xF8}, {0xD9, 0xF9}, {0xDA, 0xFA},
    {0xDB, 0xFB}, {0xDC, 0xFC}, {0xDD, 0xFD}, {0xDE, 0xFE}, {0xDF, 0xFF},
};

struct TWeights {
  std::array<uint16_t, 256> primary{};  // non-letters 0..255 by byte, letters 256 + rank
  std::array<uint8_t, 256> upper{};     // 1 for an upper-case letter
};

const TWeights& Weights() {
  static const TWeights w = [] {
    TWeights t;
    for (int b = 0; b < 256; ++b) t.primary[b] = static_cast<uint16_t>(b);
    uint16_t rank = 256;
    for (const auto& pair : kLetters) {
      t.primary[pair[0]] = t.primary[pair[1]] = rank++;
      t.upper[pair[0]] = 1;
    }
    return t;
  }();
  return w;
}

int Compare(std::string_view a, std::string_view b, bool caseSensitive) {
  const TWeights& w = Weights();
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int d = w.primary[static_cast<unsigned char>(a[i])] - w.primary[static_cast<unsigned char>(b[i])];
    if (d != 0) return d;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (caseSensitive)
    for (size_t i = 0; i < n; ++i) {
      const int d = w.upper[static_cast<unsigned char>(a[i])] - w.upper[static_cast<unsigned char>(b[i])];
      if (d != 0) return d;
    }
  return 0;
}

}  // namespace

int AnsiCompareStr(std::string_view a, std::string_view b) { return Compare(a, b, true); }
int AnsiCompareText(std::string_view a, std::string_view b) { return Compare(a, b, false); }

}  // namespace platform
