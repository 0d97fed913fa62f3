// Compiling expressions: operator levels and NOT, literals, names and
// aliases, calls, the errors of bad texts, the texts a tree gives back, and
// the limits that keep hostile texts from exhausting the stack.
#include <gtest/gtest.h>

#include <string>

#include "platform/CodePage.h"
#include "tests/xbase/ExpLink.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/expr/expression.h"

using namespace xbase;
using namespace xbtest;

namespace {

class ExpParse : public ::testing::Test {
 protected:
  void SetUp() override {
    link.Text("NA", "SMITH               ");
    link.Number("AU", 5);
    for (const char* n : {"A", "B", "C"}) link.Number(n, 1, 4);
    for (const char* n : {"L1", "L2", "L3"}) link.Logical(n, true);
    // All arguments as one text, each between bars: shows how a call was split.
    link.Function("CAT", [](TxbExpFunction& f, TxbExpValue& v, TxbExpResultType& t) {
      std::string s;
      for (int i = 0; i < f.ArgCount(); ++i) {
        TxbExpResultType at;
        f.FetchArg(i, f.ArgValue(i), rtText, at);
        s += "|" + std::string(f.ArgValue(i).Text());
      }
      v.PutText(s);
      t = rtText;
    });
  }

  TTestLink link;
};

}  // namespace

TEST_F(ExpParse, CallsGroupsAndOperatorLevels) {
  EXPECT_EQ(ShapeOf(&link, "A = 1 .AND. B = 2"), "((A=1).AND.(B=2))");
  EXPECT_EQ(ShapeOf(&link, "1 + 2 * 3"), "(1+(2*3))");
  EXPECT_EQ(ShapeOf(&link, "2 ** 3 ^ 2"), "((2**3)^2)");
  EXPECT_EQ(ShapeOf(&link, "10 - 4 - 3"), "((10-4)-3)");
  EXPECT_EQ(ShapeOf(&link, "(1 + 2) * 3"), "([(1+2)]*3)");
  EXPECT_EQ(ShapeOf(&link, "A=1 or B=2 and C=3"), "((A=1).OR.((B=2).AND.(C=3)))");
  EXPECT_EQ(ShapeOf(&link, "A=>1 .and. A=<2 .or. A<>3"), "(((A=>1).AND.(A=<2)).OR.(A<>3))");
  EXPECT_EQ(ShapeOf(&link, "A eq 1 .AND. A.NE.2"), "((A.EQ.1).AND.(A.NE.2))");
  EXPECT_EQ(ShapeOf(&link, "A = 5.AND.L1"), "((A=5).AND.L1)") << "5.AND. is 5 followed by .AND.";
  EXPECT_EQ(ShapeOf(&link, "A = 5."), "(A=5)");
  EXPECT_EQ(ShapeOf(&link, "A=-1"), "(A=-1)");
  EXPECT_EQ(ShapeOf(&link, "()"), "[]");
}

TEST_F(ExpParse, NotTakesEverythingUpToTheNextAndOrOr) {
  EXPECT_EQ(ShapeOf(&link, "NOT A = 1 .AND. B = 2"), "((.NOT.(A=1)).AND.(B=2))");
  EXPECT_EQ(ShapeOf(&link, "A = 1 .AND. NOT B = 2 .OR. C = 3"), "(((A=1).AND.(.NOT.(B=2))).OR.(C=3))");
  EXPECT_EQ(ShapeOf(&link, "L1 = !L2"), "(L1=(.NOT.L2))");
  EXPECT_EQ(ShapeOf(&link, "L1 .OR. NOT L2 .AND. L3"), "(L1.OR.((.NOT.L2).AND.L3))");
  EXPECT_EQ(ShapeOf(&link, "NOT NOT L1"), "(.NOT.(.NOT.L1))");
  EXPECT_EQ(ShapeOf(&link, "L1 .AND. .not. (L2 .OR. L3)"), "(L1.AND.(.NOT.[(L2.OR.L3)]))");
  EXPECT_EQ(ShapeOf(&link, "A * NOT L1 + B"), "(A*(.NOT.(L1+B)))");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "NOTE = 1"); }), "There is no function for NOTE")
      << "a name that begins with NOT";
}

TEST_F(ExpParse, LiteralsAndTheirErrors) {
  EXPECT_EQ(ShapeOf(&link, ".T. .AND. .f."), "(.T..AND..F.)");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, ".X."); }), "Expecting \".T.\" or \".F.\"");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "L1 = .T"); }), "Missing closing period");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "L1 = .TR."); }), "Missing closing period");
  for (const char* q : {"\"", "'", "["})
    EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, std::string("NA = ") + q + "SMITH"); }),
              std::string("Missing closing \"") + q + "\" on literal");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "{01.02.2003"); }), "Missing closing \"{\" on literal");

  EXPECT_EQ(Eval(&link, "[it's \"so\"]").Value.Text(), "it's \"so\"");
  const TEval d = Eval(&link, "{01.02.2003}");
  EXPECT_EQ(d.Type, rtDate);
  EXPECT_EQ(d.Value.Float(), xbDBFDate().MDY2Jul(2, 1, 2003));
  EXPECT_EQ(Eval(&link, "+5").Value.Float(), 5);
  EXPECT_EQ(Eval(&link, "-2.50").Value.Float(), -2.5);
  EXPECT_EQ(Eval(&link, "1.2.3").Value.Float(), 0) << "digits and points that are no number read as 0";
}

TEST_F(ExpParse, CallArgumentsHonourQuotesBracketsAndParentheses) {
  EXPECT_EQ(Eval(&link, "CAT(NA, ',)(', CAT('a,b', [x)y]), '{', \"(\")").Value.Text(),
            "|SMITH               |,)(||a,b|x)y|{|(");
  EXPECT_EQ(Eval(&link, "CAT()").Value.Text(), "");
  EXPECT_EQ(Eval(&link, "CAT( 'a' ,( 'b' ))").Value.Text(), "|a|b");
}

TEST_F(ExpParse, StructuralErrors) {
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "(1 + 2"); }), "Missing closing parentheses");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "upper(NA"); }), "Missing closing parentheses");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "(NA = ')')"); }), "") << "a quoted ')' closes nothing";
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "(NA = ')"); }), "Missing closing \"'\" on literal");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "A B"); }), "Syntax Error in expression \"A B\"");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "A ="); }), "Syntax Error in expression \"A =\"");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "NOT"); }), "Syntax Error in expression \"NOT\"");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "A ANDY B"); }), "Syntax Error in expression \"A ANDY B\"");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "A = @"); }), "Syntax Error in expression \"A = @\"");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "UNKNOWN(1)"); }), "There is no function for UNKNOWN");
}

TEST_F(ExpParse, NamesAliasesAndQualifiedNames) {
  link.Text("NAME;AUTHORS.NAME", "X");
  link.Text("VERYLONGNA", "L");
  link.Text(platform::Utf8ToAnsi("ИМЯ"), "I");
  EXPECT_EQ(ShapeOf(&link, "BOOKS->NA", "BOOKS"), "NA");
  EXPECT_EQ(ShapeOf(&link, "books.na + Books->upper(NA)", "books"), "(NA+UPPER(NA))");
  EXPECT_EQ(ShapeOf(&link, "AUTHORS.NAME"), "NAME");
  EXPECT_EQ(ShapeOf(&link, "authors->name"), "NAME");
  EXPECT_EQ(ShapeOf(&link, "VeryLongName1"), "VERYLONGNA") << "a name is cut to the 10 characters of a field";
  EXPECT_EQ(ShapeOf(&link, platform::Utf8ToAnsi("имя")), platform::Utf8ToAnsi("ИМЯ"));
  // The alias goes only before a name and outside literals.
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "ABO.NA", "BO"); }), "There is no function for ABO.NA");
  EXPECT_EQ(Eval(&link, "'BO.TXT' + BO.NA", "BO").Value.Text(), "BO.TXTSMITH               ");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "NOSUCH"); }), "There is no function for NOSUCH");
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, "X.AND.L1"); }), "There is no function for X")
      << "a dotted operator never continues a qualified name";
}

TEST_F(ExpParse, TreeTextsAndNameLists) {
  TxbExpHandler h(&link, "upper(NA) + 'x' = \"SMITH\" .AND. AU * 2.50 > PI .OR. {01.02.2003} = {03.04.2005} .AND. !L1");
  EXPECT_EQ(h.EnumerateType(etDataField), "NA;AU;L1;");
  EXPECT_EQ(h.EnumerateType(etVariable), "PI;");
  EXPECT_EQ(h.EnumerateType(etFunction), "");
  EXPECT_EQ(h.Expression(),
            "UPPER(NA)+\"x\"=\"SMITH\".AND.AU*2.50>PI.OR.{01.02.2003}={03.04.2005}.AND..NOT.L1");
  // The rebuilt text compiles to the same tree.
  TxbExpHandler again(&link, h.Expression());
  EXPECT_EQ(Shape(again.ObjExpression()), Shape(h.ObjExpression()));
  EXPECT_EQ(TxbExpHandler(&link, "CAT('a\"b', [it's])").Expression(), "CAT('a\"b',\"it's\")");
  // Texts and numbers that no single form writes back.
  const TxbExpTextLit all("\"it's\" [x]");
  EXPECT_EQ(all.ExpObjectContains(), "('\"'+\"it's\"+'\"'+\" [x]\")");
  EXPECT_EQ(Eval(&link, all.ExpObjectContains()).Value.Text(), all.Value());
  const std::string tiny = "0." + std::string(500, '0') + "1";
  EXPECT_EQ(TxbExpHandler(&link, tiny).Expression(), "0." + std::string(501, '0'));

  EXPECT_EQ(h.NumberLength(), 20) << "NA's length";
  EXPECT_EQ(h.DecimalCount(), 2);
  EXPECT_EQ(h.ArgCount(), 10);

  TxbExpHandler empty(&link, "  ");
  EXPECT_EQ(empty.ObjExpression(), nullptr);
  EXPECT_EQ(empty.Expression(), "");
  EXPECT_EQ(empty.EnumerateType(etDataField), "");
}

TEST_F(ExpParse, ReplacingTheTextAndFailures) {
  TxbExpHandler h(&link, "AU + 1");
  h.SetExpression("NA");
  EXPECT_EQ(h.Expression(), "NA");
  EXPECT_EQ(h.NumberLength(), 20);
  EXPECT_THROW(h.SetExpression("NA ="), EXBaseExpression);
  EXPECT_EQ(h.ObjExpression(), nullptr) << "a text that does not compile leaves no tree behind";
  EXPECT_EQ(h.ArgCount(), 0);
}

TEST_F(ExpParse, HostileNestingIsRefusedNotOverflowed) {
  const std::string deep = std::string(5000, '(') + "1" + std::string(5000, ')');
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, deep); }), "Expression cannot be evaluated");
  std::string chain = "1";
  for (int i = 0; i < 100000; ++i) chain += "+1";
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, chain); }), "Expression cannot be evaluated");
  std::string calls = "1";
  for (int i = 0; i < 5000; ++i) calls = "UPPER(" + calls + ")";
  EXPECT_EQ(ExpError([&] { TxbExpHandler(&link, calls); }), "Expression cannot be evaluated");

  // Long but sane texts compile.
  std::string ors = "AU = 0";
  for (int i = 1; i < 500; ++i) ors += " .OR. AU = " + std::to_string(i);
  TEval r = Eval(&link, ors);
  EXPECT_TRUE(r.Value.Boolean());
  EXPECT_EQ(Eval(&link, std::string(200, '(') + "7" + std::string(200, ')')).Value.Float(), 7);
}
