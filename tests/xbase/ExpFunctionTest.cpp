// The function library: one table of calls and what they give (values and
// errors), the case functions against the one ANSI case table, and UPPER
// against the sample collection's author order.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/xbase/ExpLink.h"
#include "tests/xbase/SampleCollection.h"
#include "xbase/base/dates.h"
#include "xbase/expr/functions.h"

using namespace xbase;
using namespace xbtest;

namespace {

std::string Number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

// A value as the table writes it: "text" in quotes, numbers, D<day>, .T./.F.,
// or E:<message> for an error of any kind.
std::string Show(TxbExpUserLink* link, std::string_view text) {
  try {
    const TEval r = Eval(link, text);
    switch (r.Type) {
      case rtText: return "\"" + std::string(r.Value.Text()) + "\"";
      case rtBoolean: return r.Value.Boolean() ? ".T." : ".F.";
      case rtDate: return "D" + Number(r.Value.Float());
      default: return Number(r.Value.Float());
    }
  } catch (const std::exception& e) {
    return std::string("E:") + e.what();
  }
}

class ExpFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    link.Text("NA", "SMITH     ");
    link.Number("N7", 42, 7);
    link.Logical("L1", true);
    link.Var("DT", 8, rtDate)->Value.PutFloat(2451545);  // 2000-01-01, a Saturday
    link.Var("DE", 8, rtDate)->Value.PutFloat(0);        // a blank D field
  }
  void Check(const std::vector<std::pair<std::string, std::string>>& table) {
    for (const auto& [text, expected] : table) EXPECT_EQ(Show(&link, text), expected) << text;
  }

  TTestLink link;
};

}  // namespace

TEST_F(ExpFunctions, ArgumentTypesAndCounts) {
  Check({
      {"UPPER(1)", "E:Text needed for Argument 1 of UPPER"},
      {"SUBSTR('abc', 1, .T.)", "E:Number needed for Argument 3 of SUBSTR"},
      {"DTOS('x')", "E:Date needed for Argument 1 of DTOS"},
      {"Round(2.5)", "3"},
      {"VAL('x')", "E:'x' is not a valid floating point value"},
      {"CTOD('31.02.1999')", "E:'31.02.1999' is not a valid date"},
  });
}

TEST_F(ExpFunctions, Texts) {
  Check({
      {"AT('b', 'abcabc')", "2"},
      {"AT('b', 'abcabc', 2)", "5"},
      {"AT('b', 'abcabc', 3)", "0"},
      {"AT('aa', 'aaaa', 2)", "2"},
      {"AT('', 'abc')", "0"},
      {"AT('B', 'abcabc')", "0"},
      {"ATC('B', 'abcabc', 2)", "5"},
      {"LEFT('AB', 4)", "\"AB  \""},
      {"LEFT('abc', 0)", "\"\""},
      {"LEFT('abc', -2)", "\"\""},
      {"RIGHT('abc', 2)", "\"bc\""},
      {"RIGHT('abc', 5)", "\"abc\""},
      {"RIGHT('abc', -1)", "\"\""},
      {"SUBSTR('abcdef', 3)", "\"cdef\""},
      {"SUBSTR('abcdef', 2, 3)", "\"bcd\""},
      {"SUBSTR('abcdef', 5, 10)", "\"ef\""},
      {"SUBSTR('abcdef', 0)", "\"\""},
      {"SUBSTR('abcdef', 7)", "\"\""},
      {"SUBSTR('abcdef', -1, 2)", "\"\""},
      {"SUBSTR('abcdef', 2, -1)", "\"\""},
      {"STRTRAN('aXbXcX', 'X', '-')", "\"a-b-c-\""},
      {"STRTRAN('aXbXcX', 'X', '-', 2)", "\"aXb-c-\""},
      {"STRTRAN('aXbXcX', 'X', '-', 2, 1)", "\"aXb-cX\""},
      {"STRTRAN('aXbX', 'X')", "\"ab\""},
      {"STRTRAN('aaa', 'a', 'aa')", "\"aaaaaa\""},
      {"STRTRAN('aXb', 'X', '-', 1, 0)", "\"aXb\""},
      {"STRTRAN('aXb', 'X', '-', 1, -3)", "\"aXb\""},
      {"STRTRAN('abc', '', '-')", "\"abc\""},
      {"STRTRAN('', 'a', 'b')", "\"\""},
      {"PROPER(\"hello wORLD-foo o'neil 2nd x_y `ab\")", "\"Hello World-Foo O'neil 2nd X_Y `ab\""},
      {platform::Utf8ToAnsi("PROPER('«иван» петров')"), platform::Utf8ToAnsi("\"«иван» Петров\"")},
      {"CHR(65)", "\"A\""},
      {"CHR(256)", "E:A Byte value is required but invalid"},
      {"CHR(-1)", "E:A Byte value is required but invalid"},
      {"ASC('')", "32"},
      {platform::Utf8ToAnsi("ASC('яблоко')"), "255"},
      {"LEN('abc') + LEN('')", "3"},
      {"SOUNDEX('Robert')", "\"R163\""},
      {"SPACE(3) + SPACE(-1)", "\"   \""},
      {"SPACE(2^31)", "E:Argument for SPACE must be within the 256 MiB result limit"},
      {"LEFT('a', 2^40)", "E:Argument for LEFT must be within the 256 MiB result limit"},
      {"ALLTRIM(CHR(9) + ' ab ' + CHR(13))", "\"ab\""},
      {"LTRIM(CHR(9) + ' ab ' + CHR(0))", std::string("\"ab ") + '\0' + "\""},
      {"TRIM(' ab ' + CHR(10))", "\" ab\""},
      {"RTRIM(' ab ' + CHR(10))", "\" ab\""},
      {"DESCEND('AB') = CHR(191) + CHR(190)", ".T."},
      {"INLIST('a  ', 'b', 'a')", ".T."},
      {"INLIST('a', 'b  ', 'a  ')", ".T."},
      {"INLIST(1, 2, 1)", ".T."},
      {"INLIST(1, '1')", ".F."},
      {"INLIST(1)", ".F."},
  });
  for (int c = 0; c < 256; ++c)
    EXPECT_EQ(Show(&link, "CHR(" + std::to_string(c) + ")"), "\"" + std::string(1, static_cast<char>(c)) + "\"");
}

TEST_F(ExpFunctions, PadRule) {
  Check({
      {"PADL('AB', 5)", "\"   AB\""},
      {"PADR('AB  ', 4, '*')", "\"AB**\""},
      {"PADC('AB', 7, '*')", "\"**AB***\""},
      {"PADR('AB', 5, 'xy')", "\"ABxyx\""},
      {"PADL('AB', 5, 'xy')", "\"xyxAB\""},
      {"PADC('AB', 7, 'xy')", "\"xyABxyx\""},
      {"PADL('ABCDEF', 3)", "\"ABCDEF\""},
      {"PADL('AB', -1)", "\"AB\""},
      {"PADL(5, 4)", "\"   5\""},
      {"PADR(DT, 12, '.')", "\"01.01.2000..\""},
      {"PADL(L1, 4)", "\" .T.\""},
      {"PADL('AB', 5, '')", "E:A Char value is required but invalid"},
      {"PADL('AB', 5, 1)", "E:A Char value is required but invalid"},
      {"PADL()", "E:Value needed for Argument 1 of Pad"},
      {"PADC('AB')", "E:Number needed for Argument 2 of PADC"},
  });
}

TEST_F(ExpFunctions, Numbers) {
  Check({
      {"STR(12345, 3)", "\"***\""},
      {"STR(-12.5, 8, 2)", "\"  -12.50\""},
      {"STR(3.14159, 6, 2)", "\"  3.14\""},
      {"STR(2.675, 5, 2)", "\" 2.68\""},
      {"STR(-0.001, 3)", "\"  0\""},
      {"STR(5)", "\"         5\""},
      {"STR(N7)", "\"        42\""},
      {"STR(2^10000, 5)", "\"*****\""},
      {"STR(2^10000 - 2^10000, 4)", "\"****\""},
      {"STRZERO(-5, 5)", "\"-0005\""},
      {"STRZERO(42, 6, 1)", "\"0042.0\""},
      {"STRZERO(5)", "\"0000000005\""},
      {"ROUND(2.46, 1)", "2.5"},
      {"ROUND(2.96, 1)", "3"},
      {"ROUND(-2.5)", "-3"},
      {"ROUND(1.005, 2)", "1.01"},
      {"ROUND(1234.5, -2)", "1200"},
      {"ROUND(1250, -2)", "1300"},
      {"ROUND(0.4)", "0"},
      {"ROUND(9.96, 1)", "10"},
      {"MOD(7, 0)", "E:Argument for MOD must be not 0"},
      {"MOD(7, 0.4)", "E:Argument for MOD must be not 0"},
      {"MOD(-7, 3)", "-1"},
      {"MOD(7, -3)", "1"},
      {"MOD(7.6, 3)", "2"},
      {"ACOS(2)", "E:Argument for ACOS must be -1 to +1"},
      {"ASIN(-1.5)", "E:Argument for ASIN must be -1 to +1"},
      {"LOG(0)", "E:Argument for LOG must be > 0"},
      {"LOG10(0)", "E:Argument for LOG10 must be > 0"},
      {"LOG10(100) + LOG(1) + ACOS(1) + ASIN(0)", "2"},
      {"ATN2(1, 1)", "0.785398163397448"},
      {"ATN2(1, -1)", "2.35619449019234"},
      {"ATN2(-1, -1)", "-2.35619449019234"},
      {"ATN2(-1, 1)", "-0.785398163397448"},
      {"FV(0.1, 2, -100)", "210"},
      {"FV(0.1, 2, 100, 0, 1)", "231"},
      {"FV(0, 10, 100)", "1000"},
      {"FV(0.05, 10, 0, 1000)", "1628.89462677744"},
      {"ROUND(PV(0.1, 2, 100), 6)", "173.553719"},
      {"PV(0, 10, 100, 50)", "1050"},
      {"FV(0.1, 2, 100, 0, 2)", "E:Argument for FV PaymentTime must be 0 or 1"},
      {"PV(0.1, 2, 100, 0, 2)", "E:Argument for FV PaymentTime must be 0 or 1"},
      {"CEILING(1.2) + FLOOR(-1.2) + INT(-1.7) + ABS(-3)", "2"},
      {"VAL(' 12.5 ') + VAL('') + VAL('  ')", "12.5"},
      {"ABS(DTOR(180) - PI()) < 0.000001 .AND. ABS(RTOD(PI) - 180) < 0.000001", ".T."},
      {"MAX(3, 7, 5)", "7"},
      {"MIN('b', 'a ', 'c')", "\"a \""},
      {"MAX({01.01.2000}, DT + 1)", "E:All arguments for Max() must be of the same type"},
      {"MAX(1, 'a')", "E:All arguments for Max() must be of the same type"},
      {"MIN(L1, 1)", "E:All arguments for Min() must be of the same type"},
      {"MAX()", "E:A value is required for Max()"},
      {"MIN()", "E:A value is required for Min()"},
      {"MAX(DT, {02.01.2000})", "D2451546"},
  });
  link.SetDefaultStrSize(4);
  EXPECT_EQ(Show(&link, "STR(5)"), "\"   5\"");
  link.SetDefaultStrSize(-1);
  EXPECT_EQ(Show(&link, "STR(N7)"), "\"     42\"") << "the argument's own length";
  EXPECT_EQ(Show(nullptr, "STR(5)"), "\"         5\"") << "10 without a user link";
}

TEST_F(ExpFunctions, DatesLogicalsAndAnyType) {
  Check({
      {"DTOS(DE)", "\"        \""},
      {"DTOS(CTOD(''))", "\"        \""},
      {"DTOS(CTOD('19990231'))", "\"        \""},
      {"DTOS(DESCEND(CTOD('19990231')))", "\"        \""},
      {"DESCEND(CTOD(''))", "D1e+100"},
      {"DESCEND(DE)", "D0"},
      {"DESCEND(DT)", "D2780263"},
      {"DESCEND(5)", "-5"},
      {"DESCEND(0)", "0"},
      {"DESCEND(L1)", ".F."},
      {"CTOD('20000101')", "D2451545"},
      {"CTOD('01.01.2000') = DT", ".T."},
      {"DE = CTOD('') .AND. CTOD('19990231') = DE .AND. CTOD('') = CTOD('')", ".T."},
      {"DT = CTOD('') .OR. DE # CTOD('')", ".F."},
      {"DTOS(DT)", "\"20000101\""},
      {"DTOC(DT)", "\"01.01.2000\""},
      {"DTOC(DT, 1)", "\"20000101\""},
      {"DTOC(DE)", "\"          \""},
      {"DOW(DT)", "7"},
      {"DOW(CTOD(''))", "0"},
      {"EMPTY('  ')", ".T."},
      {"EMPTY('')", ".T."},
      {"EMPTY(' a')", ".F."},
      {"EMPTY(0)", ".T."},
      {"EMPTY(0.5)", ".F."},
      {"EMPTY(DE)", ".T."},
      {"EMPTY(CTOD('19990231'))", ".T."},
      {"EMPTY(DT)", ".F."},
      {"EMPTY(.F.)", ".T."},
      {"EMPTY(L1)", ".F."},
      {"IIF(L1, 'x', 1)", "\"x\""},
      {"IIF(.F., 'x', 1)", "1"},
      {"IIF(L1, 1, 1 / 0)", "1"},
      {"IIF(1, 2, 3)", "E:Boolean needed for Argument 1 of IIF"},
      {"BETWEEN(5, 1, 10)", ".T."},
      {"BETWEEN(11, 1, 10)", ".F."},
      {"BETWEEN('b', 'a', 'c')", ".T."},
      {"BETWEEN(DT, {31.12.1999}, DT)", ".T."},
      {"BETWEEN(5, 'a', 'c')", "E:Number needed for Argument 2 of BETWEEN"},
  });
  EXPECT_EQ(Show(&link, "DATE()"), "D" + std::to_string(xbDBFDate().Date()));
}

TEST(ExpCase, UpperAndLowerFollowTheOneCaseTable) {
  TTestLink link;
  TTestVar* all = link.Var("ALL", 256, rtText);
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  all->Value.PutText(bytes);
  const std::string upper(Eval(&link, "UPPER(ALL)").Value.Text());
  const std::string lower(Eval(&link, "LOWER(ALL)").Value.Text());
  ASSERT_EQ(upper.size(), 255u);
  for (int c = 1; c < 256; ++c) {
    EXPECT_EQ(static_cast<unsigned char>(upper[c - 1]), platform::AnsiUpperChar(static_cast<unsigned char>(c))) << c;
    EXPECT_EQ(static_cast<unsigned char>(lower[c - 1]), platform::AnsiLowerChar(static_cast<unsigned char>(c))) << c;
  }
  EXPECT_EQ(Eval(&link, "UPPER(CHR(0))").Value.Text(), std::string(1, '\0'));
}

TEST(ExpCase, UpperKeepsTheSampleCollectionsAuthorOrder) {
  // The catalogue files authors under their upper-cased names: an index on
  // UPPER(NA) must order them as "a.txt" does, strictly ascending.
  for (const char* variant : {"small", "edge"}) {
    std::ifstream in(sample::Collection(variant) + "expected/a.txt", std::ios::binary);
    std::stringstream raw;
    raw << in.rdbuf();
    const std::string text = raw.str();
    ASSERT_FALSE(text.empty()) << variant;
    TTestLink link;
    TTestVar* na = link.Var("NA", 120, rtText);
    TxbExpHandler key(&link, "upper(NA)");
    TxbExpValue v;
    std::string previous;
    size_t lines = 0;
    for (size_t pos = 0; pos < text.size();) {
      const size_t end = text.find("\r\n", pos);
      ASSERT_NE(end, std::string::npos) << variant << ": every line ends in CR LF";
      na->Value.PutText(std::string_view(text).substr(pos, end - pos));
      key.ExpressionResult(v);
      const std::string current(v.Text());
      if (lines > 0) {
        EXPECT_LT(previous, current) << variant << " line " << lines;
      }
      previous = current;
      ++lines;
      pos = end + 2;
    }
    EXPECT_GT(lines, 10u) << variant;
  }
}
