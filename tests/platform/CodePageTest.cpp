#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace platform;

namespace {

std::string AllBytes() {
  std::string s;
  for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

// Each 1251 lower-case letter outside a-z and а-я, with its upper case.
const std::map<unsigned char, unsigned char> kAnsiExtraPairs = {
    {0xB8, 0xA8}, {0xB3, 0xB2}, {0xBF, 0xAF}, {0xBA, 0xAA}, {0xB4, 0xA5},
    {0xA2, 0xA1}, {0x90, 0x80}, {0x83, 0x81}, {0x9A, 0x8A}, {0x9C, 0x8C},
    {0x9D, 0x8D}, {0x9E, 0x8E}, {0x9F, 0x8F}, {0xBC, 0xA3}, {0xBE, 0xBD}};

}  // namespace

TEST(CodePage, EveryByteRoundTripsThroughUnicode) {
  const std::string all = AllBytes();
  bool lossless = false;
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all), &lossless), all);
  EXPECT_TRUE(lossless);
  lossless = false;
  EXPECT_EQ(Utf8ToOem(OemToUtf8(all), &lossless), all);
  EXPECT_TRUE(lossless);
  std::set<char32_t> ansi, oem;
  for (int b = 0; b < 256; ++b) {
    auto u = static_cast<unsigned char>(b);
    EXPECT_EQ(UnicodeToAnsi(AnsiToUnicode(u)), b);
    EXPECT_EQ(UnicodeToOem(OemToUnicode(u)), b);
    ansi.insert(AnsiToUnicode(u));
    oem.insert(OemToUnicode(u));
  }
  EXPECT_EQ(ansi.size(), 256u);
  EXPECT_EQ(oem.size(), 256u);
}

TEST(CodePage, TablesMatchTheStandardMappings) {
  // Spot checks against the published tables, written as UTF-8 literals.
  EXPECT_EQ(AnsiToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2, \xB8\xEB\xEA\xE0!"), "Привет, ёлка!");
  EXPECT_EQ(AnsiToUtf8("\x80\x88\xA5\xB4\xB9\xAA\xBA\xB2\xA1"), "Ђ€Ґґ№ЄєІЎ");
  EXPECT_EQ(AnsiToUtf8("\x84\x85\x96\x97\xAB\xBB\x99\xA0"), "„…–—«»™\u00A0");
  EXPECT_EQ(OemToUtf8("\x8F\xE0\xA8\xA2\xA5\xE2 \xF0\xF1 \xFC"), "Привет Ёё №");
  EXPECT_EQ(OemToUtf8("\xB0\xB3\xC4\xC5\xDB\xF8\xFA\xFB\xFD\xFE\xFF"), "░│─┼█°·√¤■\u00A0");
  EXPECT_EQ(Utf8ToAnsi("Щука — «Ёж»"), "\xD9\xF3\xEA\xE0 \x97 \xAB\xA8\xE6\xBB");
  EXPECT_EQ(Utf8ToOem("Щука Ёж"), "\x99\xE3\xAA\xA0 \xF0\xA6");
}

TEST(CodePage, UndefinedAnsiByteSurvives) {
  EXPECT_EQ(AnsiToUnicode(0x98), U'\u0098');
  EXPECT_EQ(AnsiToUtf8("a\x98z"), "a\xC2\x98z");
  bool lossless = false;
  EXPECT_EQ(Utf8ToAnsi("a\xC2\x98z", &lossless), "a\x98z");
  EXPECT_TRUE(lossless);
  EXPECT_EQ(AnsiUpperCase("\x98"), "\x98");
}

TEST(CodePage, MissingCharactersBecomeOneQuestionMarkEach) {
  bool lossless = true;
  // ł and ó are not in 1251; one '?' per character, not per byte.
  EXPECT_EQ(Utf8ToAnsi("Łódź", &lossless), "??d?");
  EXPECT_FALSE(lossless);
  EXPECT_EQ(Utf8ToAnsi("中文"), "??");
  EXPECT_EQ(Utf8ToAnsi("a😀b"), "a?b");
  EXPECT_EQ(Utf8ToOem("€ ђ"), "? ?");
  // Malformed UTF-8 never leaks raw bytes into the target.
  EXPECT_EQ(Utf8ToAnsi("x\xFF\xC3"), "x??");
  // Between the two single-byte pages: what the target lacks becomes '?'.
  EXPECT_EQ(OemToAnsi("\x80\xB0\xFC"), "\xC0?\xB9");
  EXPECT_EQ(AnsiToOem("\xC0\x98\x88\xB9"), "\x80??\xFC");
  lossless = false;
  Utf8ToAnsi("plain", &lossless);
  EXPECT_TRUE(lossless);
}

TEST(CodePage, AnsiCaseTablesChangeExactlyTheLetters) {
  std::map<int, int> upper;  // lower -> upper
  for (int c = 'a'; c <= 'z'; ++c) upper[c] = c - 32;
  for (int c = 0xE0; c <= 0xFF; ++c) upper[c] = c - 32;
  for (auto [l, u] : kAnsiExtraPairs) upper[l] = u;
  ASSERT_EQ(upper.size(), 73u);
  std::map<int, int> lower;
  for (auto [l, u] : upper) lower[u] = l;
  ASSERT_EQ(lower.size(), 73u);

  int changedUp = 0, changedLow = 0;
  for (int b = 0; b < 256; ++b) {
    auto c = static_cast<unsigned char>(b);
    EXPECT_EQ(AnsiUpperChar(c), upper.count(b) ? upper[b] : b) << "byte " << b;
    EXPECT_EQ(AnsiLowerChar(c), lower.count(b) ? lower[b] : b) << "byte " << b;
    changedUp += AnsiUpperChar(c) != c;
    changedLow += AnsiLowerChar(c) != c;
  }
  EXPECT_EQ(changedUp, 73);
  EXPECT_EQ(changedLow, 73);
  // µ's upper case (Greek Mu) is not in 1251, so it stays.
  EXPECT_EQ(AnsiUpperChar(0xB5), 0xB5);
  EXPECT_EQ(AnsiUpperCase(Utf8ToAnsi("ёлка, Їжак, ґанок, abc")), Utf8ToAnsi("ЁЛКА, ЇЖАК, ҐАНОК, ABC"));
  EXPECT_EQ(AnsiLowerCase(Utf8ToAnsi("ЁЛКА ЂЕРВ №5")), Utf8ToAnsi("ёлка ђерв №5"));
}

TEST(CodePage, Utf8Validation) {
  for (const char* ok : {"", "plain", "Привет", "😀", "\xF4\x8F\xBF\xBF" /* U+10FFFF */,
                         "\xED\x9F\xBF" /* U+D7FF */, "\xEE\x80\x80" /* U+E000 */, "\xC2\x80"})
    EXPECT_TRUE(IsValidUtf8(ok)) << ok;
  const char* bad[] = {
      "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
      "\xF0\x8F\xBF\xBF",                  // overlong forms
      "\xED\xA0\x80", "\xED\xBF\xBF",      // surrogates
      "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",  // past U+10FFFF
      "\xE2\x82", "\xF0\x9F\x98", "ab\xC3",  // truncated
      "\x80", "\xC3\x28", "\xE2\x28\xA1",  // stray or missing continuation bytes
  };
  for (const char* s : bad) EXPECT_FALSE(IsValidUtf8(s)) << testing::PrintToString(std::string(s));
  EXPECT_TRUE(IsValidUtf8(std::string_view("a\0b", 3)));
}

TEST(CodePage, Utf8DecodingAndEncoding) {
  std::string_view s = "a\xE2\x82" "b€";
  size_t pos = 0;
  EXPECT_EQ(DecodeUtf8(s, pos), U'a');
  EXPECT_EQ(DecodeUtf8(s, pos), U'\uFFFD');  // truncated sequence: one byte at a time
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(DecodeUtf8(s, pos), U'\uFFFD');
  EXPECT_EQ(DecodeUtf8(s, pos), U'b');
  EXPECT_EQ(DecodeUtf8(s, pos), U'€');
  EXPECT_EQ(pos, s.size());
  EXPECT_EQ(Utf8Length(s), 5u);
  EXPECT_EQ(Utf8Length("Ёж😀"), 3u);
  EXPECT_TRUE(HasNonAscii("ab\x80"));
  EXPECT_FALSE(HasNonAscii("ab~\x7F"));

  std::string out;
  for (char32_t cp : {U'\x7F', U'\x80', U'\u07FF', U'\u0800', U'\uFFFF', U'\U00010000', U'\U0010FFFF'})
    AppendUtf8(out, cp);
  EXPECT_EQ(out, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  out.clear();
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "\uFFFD\uFFFD");
}

TEST(CodePage, UnicodeSimpleCaseMapping) {
  EXPECT_EQ(Utf8Upper("abc ÿàþ āž ǆǅ ɓ ёђѣҗӑԯ ա ａ ệ ά ς µ"), "ABC ŸÀÞ ĀŽ ǄǄ Ɓ ЁЂѢҖӐԮ Ա Ａ Ệ Ά Σ Μ");
  EXPECT_EQ(Utf8Lower("ABC ŸÀÞ ĀŽ Ǆǅ Ɓ ЁЂѢҖӐԮ Ա Ａ Ệ Ά ΣΑΣ"), "abc ÿàþ āž ǆǆ ɓ ёђѣҗӑԯ ա ａ ệ ά σασ");
  // Simple mapping only: characters whose upper case is several characters stay.
  EXPECT_EQ(Utf8Upper("ß ŉ ǰ ΐ և"), "ß ŉ ǰ ΐ և");
  EXPECT_EQ(Utf8Lower("İ ẞ"), "i ß");
  EXPECT_EQ(Utf8Upper("ı ſ"), "I S");
  // Outside the covered scripts nothing changes, and bad bytes are kept.
  EXPECT_EQ(Utf8Upper("中文😀"), "中文😀");
  EXPECT_EQ(Utf8Upper("a\xFF\xE2\x82z"), "A\xFF\xE2\x82Z");
  EXPECT_EQ(UnicodeUpper(U'ᲀ'), U'В');  // Cyrillic Extended-C variant
  EXPECT_EQ(UnicodeLower(U'Ꙁ'), U'ꙁ');  // Cyrillic Extended-B
}
