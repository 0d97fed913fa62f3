// The engine's system layer: soundex, wildcards, the 1251 collation, and the
// table scrambler.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "xbase/base/scrambling.h"
#include "xbase/base/system.h"

using namespace xbase;

namespace {

AnsiString A(const char* utf8) { return platform::Utf8ToAnsi(utf8); }

}  // namespace

TEST(Soundex, CodesAndEdges) {
  EXPECT_EQ(SoundexCode("Robert"), "R163");
  EXPECT_EQ(SoundexCode("Euler"), "E460");
  EXPECT_EQ(SoundexCode("Pfister"), "P236");  // the first letter's digit suppresses F
  EXPECT_EQ(SoundexCode("  robert\t"), "R163");
  EXPECT_EQ(SoundexCode("Ashcraft"), "A226");  // H separates equal digits like a vowel
  EXPECT_EQ(SoundexCode("Q"), "Q000");
  EXPECT_EQ(SoundexCode(""), "");
  EXPECT_EQ(SoundexCode(" \t "), "");
  EXPECT_EQ(SoundexCode("Ro-bert"), "R163");  // non-letters are skipped
}

// A leading star finds the position of the rest; other patterns match at
// the start; stars do not count against the text's length.
TEST(Wildcard, PatternsAgainstTexts) {
  struct Case {
    const char* pattern;
    const char* text;
    int found;
  };
  const Case cases[] = {{"*BC", "ABCD", 2}, {"*BC*", "ABCD", 2}, {"*XY", "ABCD", 0},
                        {"*B?", "ABCD", 0},  // '?' is literal on this road
                        {"**", "ABCD", 1},   {"A?C", "ABCD", 1},  {"BC", "ABCD", 0},
                        {"AB", "ABCD", 1},   {"AB*", "ABCD", 1},  {"ABCDE", "ABCD", 0},
                        {"", "ABCD", 0},     {"SM*", "SM", 1},    {"*BC", "BC", 1},
                        {"*", "", 1},        {"**", "", 1},       {"S?*", "S", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.text);
    EXPECT_EQ(WildcardMatch(c.pattern, c.text), c.found);
  }
}

TEST(Collation, LettersInAlphabetOrderCaseBreaksTies) {
  const AnsiString ye = A("е"), yo = A("ё"), zhe = A("ж"), YO = A("Ё");
  EXPECT_LT(CompareTextCase(ye, yo), 0);
  EXPECT_LT(CompareTextCase(yo, zhe), 0);
  EXPECT_LT(CompareTextCase(YO, zhe), 0);  // by byte, 0xA8 would sort before every letter
  EXPECT_LT(CompareTextCase("a", "A"), 0);
  EXPECT_LT(CompareTextCase("A", "b"), 0);
  EXPECT_LT(CompareTextCase("Ab", "aC"), 0);   // case only breaks ties
  EXPECT_LT(CompareTextCase("ab", "Ab"), 0);
  EXPECT_LT(CompareTextCase("z", A("а")), 0);  // Latin before Cyrillic
  EXPECT_LT(CompareTextCase("9", "a"), 0);     // non-letters before letters
  EXPECT_LT(CompareTextCase(A("»"), "a"), 0);
  EXPECT_LT(CompareTextCase(A("г"), A("ґ")), 0);
  EXPECT_LT(CompareTextCase(A("ґ"), A("д")), 0);
  EXPECT_LT(CompareTextCase(A("и"), A("і")), 0);
  EXPECT_LT(CompareTextCase(A("і"), A("й")), 0);
  EXPECT_LT(CompareTextCase("ab", "abc"), 0);
  EXPECT_EQ(CompareTextCase(A("Ёж"), A("Ёж")), 0);
  EXPECT_NE(CompareTextCase(A("Ёж"), A("ёж")), 0);
  EXPECT_EQ(CompareTextNoCase(A("ЁЖ"), A("ёж")), 0);
  EXPECT_LT(CompareTextNoCase(A("ЁЖ"), A("ёз")), 0);
}

TEST(SystemLayer, TextServices) {
  EXPECT_EQ(TextPos("CD", "ABCD"), 3);
  EXPECT_EQ(TextPos("X", "ABCD"), 0);
  EXPECT_EQ(TextPos("", "ABCD"), 0);
  EXPECT_LT(CompareBuffers("A", A("Б")), 0);  // bytes compare unsigned
  EXPECT_LT(CompareBuffers("AB", "ABC"), 0);
  EXPECT_EQ(UpperCaseText(A("ёж abc")), A("ЁЖ ABC"));
  AnsiString text = A("Ёлка №1");
  CharToOemBuffer(text.data(), text.data(), text.size());
  EXPECT_EQ(text, platform::Utf8ToOem("Ёлка №1"));
  OemToCharBuffer(text.data(), text.data(), text.size());
  EXPECT_EQ(text, A("Ёлка №1"));
}

TEST(CryptBuffer, HandWorkedVector) {
  const uint8_t src[3] = {0x00, 0x10, 0xFF};
  uint8_t dst[3];
  EXPECT_EQ(CryptBuffer("AB", src, dst, 3, true), 1);
  // (i | password[k]) ^ src[i]: (0|41)^00, (1|42)^10, (2|41)^FF
  EXPECT_EQ(dst[0], 0x41);
  EXPECT_EQ(dst[1], 0x53);
  EXPECT_EQ(dst[2], 0xBC);
}

TEST(CryptBuffer, IsItsOwnInverseInPlaceAndAcrossBuffers) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::vector<uint8_t> data(1 + rng() % 1500);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    std::string pw(1 + rng() % 12, '\0');
    for (auto& c : pw) c = static_cast<char>(1 + rng() % 255);
    std::vector<uint8_t> out(data.size());
    ASSERT_EQ(CryptBuffer(pw, data.data(), out.data(), data.size(), true), 1);
    EXPECT_NE(out, data);
    ASSERT_EQ(CryptBuffer(pw, out.data(), out.data(), out.size(), false), -1);
    EXPECT_EQ(out, data);
  }
}

TEST(CryptBuffer, PositionsAndEmptyPassword) {
  std::vector<uint8_t> src(300, 0x5A), dst(300);
  CryptBuffer("\x01\x80", src.data(), dst.data(), src.size(), true);
  EXPECT_EQ(dst[0], 0x01 ^ 0x5A);       // position 0: the first password character alone
  EXPECT_EQ(dst[255], 0xFF ^ 0x5A);     // position 255: the source inverted
  EXPECT_EQ(dst[256], (0x00 | 0x01) ^ 0x5A);  // the position wraps at 256
  EXPECT_EQ(CryptBuffer("", src.data(), dst.data(), src.size(), true), 0);
  EXPECT_EQ(dst, src);
  EXPECT_EQ(CryptBuffer("", dst.data(), dst.data(), dst.size(), false), 0);
  EXPECT_EQ(dst, src);
}
