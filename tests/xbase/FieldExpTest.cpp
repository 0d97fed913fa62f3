// Expressions on a table: field variables of every type, the table-bound
// functions, qualified names, and the keys of search records.
#include <gtest/gtest.h>

#include <string>

#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/ExpLink.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/dates.h"
#include "xbase/base/variant.h"
#include "xbase/table/fields.h"
#include "xbase/table/table_builders.h"

using namespace xbase;
using xbtest::Eval;

namespace {

// AUTHORS.DBF: NAME C 10, QTY N 6.2, BORN D, OK L, NOTE M; three records,
// the second deleted.
std::string Authors(const TempDir& dir, const std::string& file = "authors.dbf") {
  XBO_DBFBuild b(dir / file);
  b.InsertField("NAME", "C", 10, 0);
  b.InsertField("QTY", "N", 6, 2);
  b.InsertField("BORN", "D", 8, 0);
  b.InsertField("OK", "L", 1, 0);
  b.InsertField("NOTE", "M", 10, 0);
  b.Complete();
  XBO_dBaseFld t(b.FileName(), "", true, false);
  for (const char* name : {"AB", "Deleted", "Cd"}) {
    t.xbBlank();
    t.xbStringPut("NAME", name);
    t.xbStringPut("QTY", "-3.5");
    t.xbDatePut("BORN", xbDBFDate().MDY2Jul(1, 15, 2024));
    t.xbLogicPut("OK", true);
    t.xbStringPut("NOTE", std::string("memo of ") + name);
    t.xbAppend();
  }
  t.xbGetRec(2);
  t.xbDeleteRec();
  return b.FileName();
}

std::string TextOf(XBO_dBaseFld& t, std::string_view expr) {
  const auto r = Eval(t.DBFExpLink(), expr);
  EXPECT_EQ(r.Type, rtText) << expr;
  return std::string(r.Value.Text());
}

}  // namespace

TEST(FieldExp, TableFunctionsFollowTheRecord) {
  TempDir dir;
  XBO_dBaseFld t(Authors(dir), "", false, false);
  TxbExpUserLink* link = t.DBFExpLink();
  EXPECT_EQ(Eval(link, "RECNO()").Value.Float(), 0) << "before the first read";
  t.CurRecord()[0] = '*';  // the buffer's own mark answers, read or not
  EXPECT_TRUE(Eval(link, "DELETED()").Value.Boolean());
  EXPECT_TRUE(t.xbDelFlag());
  t.CurRecord()[0] = ' ';
  t.xbGetRec(xbRecTop);
  EXPECT_EQ(Eval(link, "RECNO()").Value.Float(), 1);
  EXPECT_FALSE(Eval(link, "DELETED() .OR. BOF() .OR. EOF()").Value.Boolean());
  t.xbGetRec(xbRecNext);
  EXPECT_TRUE(Eval(link, "DELETED()").Value.Boolean());
  t.xbGetRec(1);
  t.xbGetRec(xbRecPrior);
  EXPECT_TRUE(Eval(link, "BOF()").Value.Boolean());
  EXPECT_FALSE(Eval(link, "EOF()").Value.Boolean());
  t.xbGetRec(4);
  EXPECT_TRUE(Eval(link, "EOF()").Value.Boolean());
  EXPECT_EQ(Eval(link, "RECNO()").Value.Float(), 1) << "the end moves no record";

  EXPECT_EQ(TextOf(t, "TYPE('name')"), "C");
  EXPECT_EQ(TextOf(t, "TYPE(\"BORN\") + TYPE('qty')"), "DN");
  EXPECT_EQ(ErrorOf([&] { Eval(link, "TYPE('XX')"); }), "There is no field name XX->" + t.FileName());
  EXPECT_EQ(Eval(link, "FIELDNO('note')").Value.Float(), 5);
  EXPECT_EQ(Eval(link, "FIELDNO('XX')").Value.Float(), 0);
  // The library's LEN binds before the table's: the length of the value.
  EXPECT_EQ(Eval(link, "LEN(NAME)").Value.Float(), 10);
  EXPECT_EQ(Eval(link, "LEN('QTY')").Value.Float(), 3);
}

TEST(FieldExp, FieldVariablesByType) {
  TempDir dir;
  XBO_dBaseFld t(Authors(dir), "", false, false);
  TxbExpUserLink* link = t.DBFExpLink();
  t.xbGetRec(1);
  EXPECT_EQ(TextOf(t, "NAME"), "AB" + std::string(8, ' '));
  EXPECT_EQ(TextOf(t, "NOTE"), "memo of AB");
  const auto qty = Eval(link, "QTY * 2");
  EXPECT_EQ(qty.Type, rtFloat);
  EXPECT_EQ(qty.Value.Float(), -7);
  const auto born = Eval(link, "BORN");
  EXPECT_EQ(born.Type, rtDate);
  EXPECT_EQ(born.Value.Float(), xbDBFDate().MDY2Jul(1, 15, 2024));
  EXPECT_EQ(TextOf(t, "DTOS(BORN + 1)"), "20240116");
  EXPECT_TRUE(Eval(link, "OK .AND. QTY < 0 .AND. NAME = 'AB'").Value.Boolean());
  TxbExpHandler h(link, "NAME + QTY");
  EXPECT_EQ(ErrorOf<EXBaseExpression>([&] {
              TxbExpValue v;
              h.ExpressionResult(v);
            }),
            "The two sides of an operation do not match");
  TxbExpHandler fields(link, "upper(NAME) + DTOS(BORN) + STR(QTY)");
  EXPECT_EQ(fields.EnumerateType(etDataField), "NAME;BORN;QTY;");
  EXPECT_EQ(fields.NumberLength(), 10);
}

// Names qualified by the table's alias bind without the alias being removed.
TEST(FieldExp, AliasQualifiedNames) {
  TempDir dir;
  XBO_dBaseFld t(Authors(dir), "", false, false);
  t.xbGetRec(3);
  EXPECT_EQ(TextOf(t, "AUTHORS.NAME"), "Cd" + std::string(8, ' '));
  EXPECT_EQ(TextOf(t, "authors->name + NAME"), "Cd" + std::string(8, ' ') + "Cd" + std::string(8, ' '));
  EXPECT_EQ(ErrorOf<EXBaseExpression>([&] { Eval(t.DBFExpLink(), "OTHER.NAME"); }),
            "There is no function for OTHER.NAME");

  XBO_dBaseFld longer(Authors(dir, "bibliography.dbf"), "", false, false);
  longer.xbGetRec(1);
  EXPECT_EQ(TextOf(longer, "BIBLIOGRAPHY->NAME"), "AB" + std::string(8, ' '));
}

// The key of a search record equals the key of a record holding the same
// values, as the index's find needs.
TEST(FieldExp, SearchRecordKeys) {
  TempDir dir;
  XBO_DBFBuild b(dir / "au.dbf");
  b.InsertField("ID", "N", 10, 0);
  b.InsertField("NA", "C", 120, 0);
  b.Complete();
  XBO_dBaseFld t(b.FileName(), "", true, false);
  TxbExpHandler key(t.DBFExpLink(), "upper(NA)");
  const auto keyOf = [&](const char* value) {
    std::vector<uint8_t> scratch(static_cast<size_t>(t.RecLen()) + 1);
    const dataaccess::TVariant values[] = {value};
    t.xbStuffABuffer(scratch.data(), "NA", values);
    t.SetCurRecord(scratch.data());
    TxbVariant k;
    key.ExpressionAsVariant(k);
    t.SetCurRecord(nullptr);
    return std::string(reinterpret_cast<const char*>(k.VarBuf()), static_cast<size_t>(k.SizeVar()));
  };
  EXPECT_EQ(keyOf("Smith"), "SMITH" + std::string(115, ' '));
  EXPECT_NE(keyOf("Smith"), keyOf("Smithson"));
  t.xbBlank();
  t.xbStringPut("NA", platform::Utf8ToAnsi("Ёлкин"));
  TxbVariant stored;
  key.ExpressionAsVariant(stored);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored.VarBuf()), 5), platform::Utf8ToAnsi("ЁЛКИН"));
  EXPECT_EQ(keyOf(platform::Utf8ToAnsi("Ёлкин").c_str()),
            std::string(reinterpret_cast<const char*>(stored.VarBuf()), static_cast<size_t>(stored.SizeVar())));
}
