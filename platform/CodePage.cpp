// Code pages and case tables: UTF-8 decoding and validation, the
// Windows-1251 ("ANSI") and 866 ("OEM") tables, Unicode simple case mapping
// and the one ANSI case table pair.
//
// Invariants: every byte of either code page decodes to one code point and
// each defined code point encodes back to the same byte (undefined 0x98 of
// 1251 is U+0098 both ways); a character the target lacks becomes '?'.
// Malformed UTF-8 is never copied blindly into another code page: it becomes
// '?' there, while case mapping leaves malformed bytes as they are.
#include "platform/CodePage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace platform {
namespace {

// Code points of bytes 0x80..0xFF (the lower half is ASCII in both pages).
constexpr char16_t kAnsiHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

constexpr char16_t kOemHigh[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

// Unicode simple case mapping as runs: code points first..last, every
// `step`-th one, map to cp + delta. Covered blocks: Basic Latin, Latin-1,
// Latin Extended-A/B, IPA Extensions, Greek and Coptic, Cyrillic with its
// Supplement and Extended-B/C, Armenian, Latin Extended Additional and the
// full-width Latin letters. Other code points map to themselves.
struct CaseRun {
  char32_t first, last;
  int step, delta;
};

constexpr CaseRun kUpperRuns[] = {
{0x0061, 0x007A, 1, -32}, {0x00B5, 0x00B5, 1, 743}, {0x00E0, 0x00F6, 1, -32}, {0x00F8, 0x00FE, 1, -32},
    {0x00FF, 0x00FF, 1, 121}, {0x0101, 0x012F, 2, -1}, {0x0131, 0x0131, 1, -232}, {0x0133, 0x0137, 2, -1},
    {0x013A, 0x0148, 2, -1}, {0x014B, 0x0177, 2, -1}, {0x017A, 0x017E, 2, -1}, {0x017F, 0x017F, 1, -300},
    {0x0180, 0x0180, 1, 195}, {0x0183, 0x0185, 2, -1}, {0x0188, 0x0188, 1, -1}, {0x018C, 0x018C, 1, -1},
    {0x0192, 0x0192, 1, -1}, {0x0195, 0x0195, 1, 97}, {0x0199, 0x0199, 1, -1}, {0x019A, 0x019A, 1, 163},
    {0x019E, 0x019E, 1, 130}, {0x01A1, 0x01A5, 2, -1}, {0x01A8, 0x01A8, 1, -1}, {0x01AD, 0x01AD, 1, -1},
    {0x01B0, 0x01B0, 1, -1}, {0x01B4, 0x01B6, 2, -1}, {0x01B9, 0x01B9, 1, -1}, {0x01BD, 0x01BD, 1, -1},
    {0x01BF, 0x01BF, 1, 56}, {0x01C5, 0x01C5, 1, -1}, {0x01C6, 0x01C6, 1, -2}, {0x01C8, 0x01C8, 1, -1},
    {0x01C9, 0x01C9, 1, -2}, {0x01CB, 0x01CB, 1, -1}, {0x01CC, 0x01CC, 1, -2}, {0x01CE, 0x01DC, 2, -1},
    {0x01DD, 0x01DD, 1, -79}, {0x01DF, 0x01EF, 2, -1}, {0x01F2, 0x01F2, 1, -1}, {0x01F3, 0x01F3, 1, -2},
    {0x01F5, 0x01F5, 1, -1}, {0x01F9, 0x021F, 2, -1}, {0x0223, 0x0233, 2, -1}, {0x023C, 0x023C, 1, -1},
    {0x023F, 0x0240, 1, 10815}, {0x0242, 0x0242, 1, -1}, {0x0247, 0x024F, 2, -1}, {0x0250, 0x0250, 1, 10783},
    {0x0251, 0x0251, 1, 10780}, {0x0252, 0x0252, 1, 10782}, {0x0253, 0x0253, 1, -210}, {0x0254, 0x0254, 1, -206},
    {0x0256, 0x0257, 1, -205}, {0x0259, 0x0259, 1, -202}, {0x025B, 0x025B, 1, -203}, {0x025C, 0x025C, 1, 42319},
    {0x0260, 0x0260, 1, -205}, {0x0261, 0x0261, 1, 42315}, {0x0263, 0x0263, 1, -207}, {0x0265, 0x0265, 1, 42280},
    {0x0266, 0x0266, 1, 42308}, {0x0268, 0x0268, 1, -209}, {0x0269, 0x0269, 1, -211}, {0x026A, 0x026A, 1, 42308},
    {0x026B, 0x026B, 1, 10743}, {0x026C, 0x026C, 1, 42305}, {0x026F, 0x026F, 1, -211}, {0x0271, 0x0271, 1, 10749},
    {0x0272, 0x0272, 1, -213}, {0x0275, 0x0275, 1, -214}, {0x027D, 0x027D, 1, 10727}, {0x0280, 0x0280, 1, -218},
    {0x0282, 0x0282, 1, 42307}, {0x0283, 0x0283, 1, -218}, {0x0287, 0x0287, 1, 42282}, {0x0288, 0x0288, 1, -218},
    {0x0289, 0x0289, 1, -69}, {0x028A, 0x028B, 1, -217}, {0x028C, 0x028C, 1, -71}, {0x0292, 0x0292, 1, -219},
    {0x029D, 0x029D, 1, 42261}, {0x029E, 0x029E, 1, 42258}, {0x0371, 0x0373, 2, -1}, {0x0377, 0x0377, 1, -1},
    {0x037B, 0x037D, 1, 130}, {0x03AC, 0x03AC, 1, -38}, {0x03AD, 0x03AF, 1, -37}, {0x03B1, 0x03C1, 1, -32},
    {0x03C2, 0x03C2, 1, -31}, {0x03C3, 0x03CB, 1, -32}, {0x03CC, 0x03CC, 1, -64}, {0x03CD, 0x03CE, 1, -63},
    {0x03D0, 0x03D0, 1, -62}, {0x03D1, 0x03D1, 1, -57}, {0x03D5, 0x03D5, 1, -47}, {0x03D6, 0x03D6, 1, -54},
    {0x03D7, 0x03D7, 1, -8}, {0x03D9, 0x03EF, 2, -1}, {0x03F0, 0x03F0, 1, -86}, {0x03F1, 0x03F1, 1, -80},
    {0x03F2, 0x03F2, 1, 7}, {0x03F3, 0x03F3, 1, -116}, {0x03F5, 0x03F5, 1, -96}, {0x03F8, 0x03F8, 1, -1},
    {0x03FB, 0x03FB, 1, -1}, {0x0430, 0x044F, 1, -32}, {0x0450, 0x045F, 1, -80}, {0x0461, 0x0481, 2, -1},
    {0x048B, 0x04BF, 2, -1}, {0x04C2, 0x04CE, 2, -1}, {0x04CF, 0x04CF, 1, -15}, {0x04D1, 0x052F, 2, -1},
    {0x0561, 0x0586, 1, -48}, {0x1C80, 0x1C80, 1, -6254}, {0x1C81, 0x1C81, 1, -6253}, {0x1C82, 0x1C82, 1, -6244},
    {0x1C83, 0x1C84, 1, -6242}, {0x1C85, 0x1C85, 1, -6243}, {0x1C86, 0x1C86, 1, -6236}, {0x1C87, 0x1C87, 1, -6181},
    {0x1C88, 0x1C88, 1, 35266}, {0x1E01, 0x1E95, 2, -1}, {0x1E9B, 0x1E9B, 1, -59}, {0x1EA1, 0x1EFF, 2, -1},
    {0xA641, 0xA66D, 2, -1}, {0xA681, 0xA69B, 2, -1}, {0xFF41, 0xFF5A, 1, -32}
};

constexpr CaseRun kLowerRuns[] = {
    {0x0041, 0x005A, 1, 32}, {0x00C0, 0x00D6, 1, 32}, {0x00D8, 0x00DE, 1, 32}, {0x0100, 0x012E, 2, 1},
    {0x0130, 0x0130, 1, -199}, {0x0132, 0x0136, 2, 1}, {0x0139, 0x0147, 2, 1}, {0x014A, 0x0176, 2, 1},
    {0x0178, 0x0178, 1, -121}, {0x0179, 0x017D, 2, 1}, {0x0181, 0x0181, 1, 210}, {0x0182, 0x0184, 2, 1},
    {0x0186, 0x0186, 1, 206}, {0x0187, 0x0187, 1, 1}, {0x0189, 0x018A, 1, 205}, {0x018B, 0x018B, 1, 1},
    {0x018E, 0x018E, 1, 79}, {0x018F, 0x018F, 1, 202}, {0x0190, 0x0190, 1, 203}, {0x0191, 0x0191, 1, 1},
    {0x0193, 0x0193, 1, 205}, {0x0194, 0x0194, 1, 207}, {0x0196, 0x0196, 1, 211}, {0x0197, 0x0197, 1, 209},
    {0x0198, 0x0198, 1, 1}, {0x019C, 0x019C, 1, 211}, {0x019D, 0x019D, 1, 213}, {0x019F, 0x019F, 1, 214},
    {0x01A0, 0x01A4, 2, 1}, {0x01A6, 0x01A6, 1, 218}, {0x01A7, 0x01A7, 1, 1}, {0x01A9, 0x01A9, 1, 218},
    {0x01AC, 0x01AC, 1, 1}, {0x01AE, 0x01AE, 1, 218}, {0x01AF, 0x01AF, 1, 1}, {0x01B1, 0x01B2, 1, 217},
    {0x01B3, 0x01B5, 2, 1}, {0x01B7, 0x01B7, 1, 219}, {0x01B8, 0x01B8, 1, 1}, {0x01BC, 0x01BC, 1, 1},
    {0x01C4, 0x01C4, 1, 2}, {0x01C5, 0x01C5, 1, 1}, {0x01C7, 0x01C7, 1, 2}, {0x01C8, 0x01C8, 1, 1},
    {0x01CA, 0x01CA, 1, 2}, {0x01CB, 0x01DB, 2, 1}, {0x01DE, 0x01EE, 2, 1}, {0x01F1, 0x01F1, 1, 2},
    {0x01F2, 0x01F4, 2, 1}, {0x01F6, 0x01F6, 1, -97}, {0x01F7, 0x01F7, 1, -56}, {0x01F8, 0x021E, 2, 1},
    {0x0220, 0x0220, 1, -130}, {0x0222, 0x0232, 2, 1}, {0x023A, 0x023A, 1, 10795}, {0x023B, 0x023B, 1, 1},
    {0x023D, 0x023D, 1, -163}, {0x023E, 0x023E, 1, 10792}, {0x0241, 0x0241, 1, 1}, {0x0243, 0x0243, 1, -195},
    {0x0244, 0x0244, 1, 69}, {0x0245, 0x0245, 1, 71}, {0x0246, 0x024E, 2, 1}, {0x0370, 0x0372, 2, 1},
    {0x0376, 0x0376, 1, 1}, {0x037F, 0x037F, 1, 116}, {0x0386, 0x0386, 1, 38}, {0x0388, 0x038A, 1, 37},
    {0x038C, 0x038C, 1, 64}, {0x038E, 0x038F, 1, 63}, {0x0391, 0x03A1, 1, 32}, {0x03A3, 0x03AB, 1, 32},
    {0x03CF, 0x03CF, 1, 8}, {0x03D8, 0x03EE, 2, 1}, {0x03F4, 0x03F4, 1, -60}, {0x03F7, 0x03F7, 1, 1},
    {0x03F9, 0x03F9, 1, -7}, {0x03FA, 0x03FA, 1, 1}, {0x03FD, 0x03FF, 1, -130}, {0x0400, 0x040F, 1, 80},
    {0x0410, 0x042F, 1, 32}, {0x0460, 0x0480, 2, 1}, {0x048A, 0x04BE, 2, 1}, {0x04C0, 0x04C0, 1, 15},
    {0x04C1, 0x04CD, 2, 1}, {0x04D0, 0x052E, 2, 1}, {0x0531, 0x0556, 1, 48}, {0x1E00, 0x1E94, 2, 1},
    {0x1E9E, 0x1E9E, 1, -7615}, {0x1EA0, 0x1EFE, 2, 1}, {0xA640, 0xA66C, 2, 1}, {0xA680, 0xA69A, 2, 1},
    {0xFF21, 0xFF3A, 1, 32}
};

template <size_t N>
char32_t MapCase(const CaseRun (&runs)[N], char32_t cp) {
  auto it = std::upper_bound(std::begin(runs), std::end(runs), cp,
                             [](char32_t c, const CaseRun& r) { return c < r.first; });
  if (it == std::begin(runs)) return cp;
  const CaseRun& r = *--it;
  if (cp > r.last || (cp - r.first) % r.step != 0) return cp;
  return static_cast<char32_t>(static_cast<int32_t>(cp) + r.delta);
}

// Decodes one well-formed sequence at p[0..n); returns its length, or 0 when
// the bytes there are not well-formed UTF-8.
size_t DecodeAt(const unsigned char* p, size_t n, char32_t& cp) {
  unsigned char b = p[0];
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t len;
  char32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, min = 0x80, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, min = 0x800, cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, min = 0x10000, cp = b & 0x07;
  } else {
    return 0;  // a continuation byte, C0/C1 (always overlong) or F5..FF
  }
  if (n < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// The length of the maximal subpart at p[0..n) where DecodeAt found no
// well-formed sequence: the longest start of a well-formed sequence there, at
// least one byte. Replacing each such subpart by one character is what
// Unicode recommends and what Python's decode(errors="replace") does, so a
// truncated sequence costs one '?' however many of its bytes are present.
size_t MaximalSubpart(const unsigned char* p, size_t n) {
  const unsigned char b = p[0];
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;  // no overlongs
    if (b == 0xED) hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;  // no overlongs
    if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 1;
  }
  if (n < 2 || p[1] < lo || p[1] > hi) return 1;
  size_t i = 2;
  while (i < len && i < n && (p[i] & 0xC0) == 0x80) ++i;
  return i;
}

// The reverse of a code page's upper half: byte by code point, looked up by
// the code point's high and low byte (every character of 1251 and 866 lies
// below U+10000). Where two bytes share a code point the lower one wins.
struct ReverseTable {
  std::array<int16_t, 256> page;  // index into pages, or -1
  std::vector<std::array<int16_t, 256>> pages;
  explicit ReverseTable(const char16_t (&high)[128]) {
    page.fill(-1);
    for (int i = 0; i < 128; ++i) {
      const char16_t cp = high[i];
      if (page[cp >> 8] < 0) {
        page[cp >> 8] = static_cast<int16_t>(pages.size());
        pages.emplace_back().fill(-1);
      }
      int16_t& slot = pages[static_cast<size_t>(page[cp >> 8])][cp & 0xFF];
      if (slot < 0) slot = static_cast<int16_t>(0x80 + i);
    }
  }
  int Find(char32_t cp) const {
    if (cp < 0x80) return static_cast<int>(cp);
    if (cp > 0xFFFF || page[cp >> 8] < 0) return -1;
    return pages[static_cast<size_t>(page[cp >> 8])][cp & 0xFF];
  }
};

const ReverseTable& AnsiReverse() {
  static const ReverseTable t(kAnsiHigh);
  return t;
}
const ReverseTable& OemReverse() {
  static const ReverseTable t(kOemHigh);
  return t;
}

// Maps every byte of `s` through `table` to UTF-8.
std::string SingleByteToUtf8(std::string_view s, const char16_t (&high)[128]) {
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char b : s) {
    if (b < 0x80)
      out += static_cast<char>(b);
    else
      AppendUtf8(out, high[b - 0x80]);
  }
  return out;
}

std::string Utf8ToSingleByte(std::string_view s, const ReverseTable& table, bool* lossless) {
  // At most one byte out per byte in: fill a buffer of that size, then cut.
  std::string out(s.size(), '\0');
  char* o = out.data();
  bool exact = true;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    if (p[i] < 0x80) {
      *o++ = static_cast<char>(p[i++]);
      continue;
    }
    char32_t cp;
    size_t len = DecodeAt(p + i, s.size() - i, cp);
    int b = len ? table.Find(cp) : -1;
    if (b < 0) {
      b = '?';
      exact = false;
    }
    *o++ = static_cast<char>(b);
    i += len ? len : MaximalSubpart(p + i, s.size() - i);
  }
  out.resize(static_cast<size_t>(o - out.data()));
  if (lossless) *lossless = exact;
  return out;
}

std::string Utf8MapCase(std::string_view s, char32_t (*map)(char32_t)) {
  std::string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t len = DecodeAt(p + i, s.size() - i, cp);
    if (len == 0) {
      out += s[i++];  // keep malformed bytes as they are
      continue;
    }
    AppendUtf8(out, map(cp));
    i += len;
  }
  return out;
}

// The ANSI case tables: a byte maps to the byte of its code point's simple
// case partner when 1251 has that partner, else to itself.
struct AnsiCaseTables {
  unsigned char upper[256], lower[256];
  AnsiCaseTables() {
    for (int b = 0; b < 256; ++b) {
      char32_t cp = AnsiToUnicode(static_cast<unsigned char>(b));
      int u = UnicodeToAnsi(UnicodeUpper(cp)), l = UnicodeToAnsi(UnicodeLower(cp));
      upper[b] = static_cast<unsigned char>(u >= 0 ? u : b);
      lower[b] = static_cast<unsigned char>(l >= 0 ? l : b);
    }
  }
};

const AnsiCaseTables& CaseTables() {
  static const AnsiCaseTables t;
  return t;
}

AnsiString MapBytes(std::string_view s, const unsigned char (&table)[256]) {
  AnsiString out(s);
  for (char& c : out) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
  return out;
}

}  // namespace

// --- UTF-8 -----------------------------------------------------------------

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t len = DecodeAt(p + i, s.size() - i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

bool HasNonAscii(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

char32_t DecodeUtf8(std::string_view s, size_t& pos) {
  if (pos >= s.size()) return 0xFFFD;
  char32_t cp;
  size_t len = DecodeAt(reinterpret_cast<const unsigned char*>(s.data()) + pos, s.size() - pos, cp);
  pos += len ? len : 1;
  return len ? cp : 0xFFFD;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++n) DecodeUtf8(s, i);
  return n;
}

char32_t UnicodeUpper(char32_t cp) { return MapCase(kUpperRuns, cp); }
char32_t UnicodeLower(char32_t cp) { return MapCase(kLowerRuns, cp); }
std::string Utf8Upper(std::string_view s) { return Utf8MapCase(s, UnicodeUpper); }
std::string Utf8Lower(std::string_view s) { return Utf8MapCase(s, UnicodeLower); }

// --- Windows-1251 and 866 ----------------------------------------------------

char32_t AnsiToUnicode(unsigned char b) { return b < 0x80 ? b : kAnsiHigh[b - 0x80]; }
char32_t OemToUnicode(unsigned char b) { return b < 0x80 ? b : kOemHigh[b - 0x80]; }
int UnicodeToAnsi(char32_t cp) { return AnsiReverse().Find(cp); }
int UnicodeToOem(char32_t cp) { return OemReverse().Find(cp); }

std::string AnsiToUtf8(std::string_view ansi) { return SingleByteToUtf8(ansi, kAnsiHigh); }
std::string OemToUtf8(std::string_view oem) { return SingleByteToUtf8(oem, kOemHigh); }
AnsiString Utf8ToAnsi(std::string_view utf8, bool* lossless) {
  return Utf8ToSingleByte(utf8, AnsiReverse(), lossless);
}
std::string Utf8ToOem(std::string_view utf8, bool* lossless) {
  return Utf8ToSingleByte(utf8, OemReverse(), lossless);
}

AnsiString OemToAnsi(std::string_view oem) {
  AnsiString out(oem);
  for (char& c : out) {
    int b = UnicodeToAnsi(OemToUnicode(static_cast<unsigned char>(c)));
    c = static_cast<char>(b >= 0 ? b : '?');
  }
  return out;
}

std::string AnsiToOem(std::string_view ansi) {
  std::string out(ansi);
  for (char& c : out) {
    int b = UnicodeToOem(AnsiToUnicode(static_cast<unsigned char>(c)));
    c = static_cast<char>(b >= 0 ? b : '?');
  }
  return out;
}

unsigned char AnsiUpperChar(unsigned char b) { return CaseTables().upper[b]; }
unsigned char AnsiLowerChar(unsigned char b) { return CaseTables().lower[b]; }
const unsigned char (&AnsiUpperTable())[256] { return CaseTables().upper; }
AnsiString AnsiUpperCase(std::string_view s) { return MapBytes(s, CaseTables().upper); }
AnsiString AnsiLowerCase(std::string_view s) { return MapBytes(s, CaseTables().lower); }

std::string PasswordBytes(std::string_view utf8Password) {
  bool lossless = true;
  std::string ansi = Utf8ToAnsi(utf8Password, &lossless);
  if (lossless && AnsiToUtf8(ansi) == utf8Password) return ansi;
  return std::string(utf8Password);
}

}  // namespace platform
