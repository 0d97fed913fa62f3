#include <gtest/gtest.h>

#include <cmath>

#include "ToyDataSet.h"

using namespace dataaccess;
using toy::Column;
using toy::TToyDataSet;

namespace {

std::unique_ptr<TToyDataSet> EveryType() {
  auto ds = std::make_unique<TToyDataSet>(std::vector<Column>{
      {"S", ftString, 5}, {"SI", ftSmallint}, {"I", ftInteger}, {"L", ftLargeint}, {"F", ftFloat},
      {"Y", ftCurrency}, {"B", ftBoolean}, {"D", ftDate}, {"T", ftDateTime}, {"M", ftMemo},
      {"BL", ftBlob}});
  ds->Open();
  ds->Append();
  return ds;
}

struct TextCase {
  const char* field;
  const char* in;   // set through AsString
  const char* out;  // read back through AsString
};

}  // namespace

TEST(Fields, EveryClassConvertsTextBothWaysAndClears) {
  auto ds = EveryType();
  const TextCase cases[] = {
      {"S", "hello world", "hello"},  // cut to the field's width
      {"SI", "-123", "-123"},
      {"I", " +2147483647 ", "2147483647"},
      {"L", "-9000000000", "-9000000000"},
      {"F", "0.1", "0.1"},
      {"Y", "12.34", "12.34"},
      {"B", "t", "True"},
      {"D", "2024-02-29", "2024-02-29"},
      {"T", "2024-02-29 13:45:10.25", "2024-02-29 13:45:10.250"},
      {"M", "memo text", "memo text"},
      {"BL", "bytes", "bytes"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.field);
    TField& f = ds->FieldByName(c.field);
    EXPECT_TRUE(f.IsNull());
    EXPECT_EQ(f.AsString(), "");
    f.SetAsString(c.in);
    EXPECT_FALSE(f.IsNull());
    EXPECT_EQ(f.AsString(), c.out);
    EXPECT_EQ(f.Value().AsString(), c.out);
    f.Clear();
    EXPECT_TRUE(f.IsNull());
    EXPECT_TRUE(f.Value().IsNull());
    f.SetAsString(c.in);
  }
  ds->Post();  // the values survive the record's round trip through storage
  for (const TextCase& c : cases) EXPECT_EQ(ds->FieldByName(c.field).AsString(), c.out) << c.field;
}

TEST(Fields, NumbersConvertBetweenKindsAndRefuseWhatDoesNotFit) {
  auto ds = EveryType();
  TField& si = ds->FieldByName("SI");
  si.SetAsFloat(2.5);  // halves round to the even neighbour
  EXPECT_EQ(si.AsInteger(), 2);
  si.SetAsFloat(3.5);
  EXPECT_EQ(si.AsLargeInt(), 4);
  EXPECT_DOUBLE_EQ(si.AsFloat(), 4.0);
  try {
    si.SetAsInteger(40000);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "40000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767");
  }
  EXPECT_EQ(si.AsInteger(), 4);  // the refused value changed nothing
  EXPECT_THROW(si.AsBoolean(), EDatabaseError);

  TField& l = ds->FieldByName("L");
  l.SetAsLargeInt(9000000000);
  EXPECT_THROW(l.AsInteger(), EDatabaseError);
  EXPECT_DOUBLE_EQ(l.AsFloat(), 9e9);
  EXPECT_THROW(ds->FieldByName("I").SetAsLargeInt(int64_t(1) << 40), EDatabaseError);

  TField& f = ds->FieldByName("F");
  f.SetAsFloat(-2.5);
  EXPECT_EQ(f.AsInteger(), -2);
  EXPECT_THROW(f.SetAsString("1,5"), EDatabaseError);  // the decimal point is always "."
  EXPECT_THROW(f.SetAsFloat(NAN), EDatabaseError);
  f.SetAsFloat(1e300);
  EXPECT_THROW(f.AsLargeInt(), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("I").SetAsString("12abc"), EDatabaseError);

  TField& s = ds->FieldByName("S");
  s.SetAsInteger(42);
  EXPECT_EQ(s.AsLargeInt(), 42);
  s.SetAsBoolean(true);
  EXPECT_EQ(s.AsString(), "T");
  EXPECT_TRUE(s.AsBoolean());
  EXPECT_THROW(ds->FieldByName("B").SetAsString("maybe"), EDatabaseError);
}

TEST(Fields, NativeBuffersHoldTheAgreedForms) {
  auto ds = EveryType();
  ds->FieldByName("B").SetAsBoolean(true);
  int16_t b = 0;
  ASSERT_TRUE(ds->FieldByName("B").GetData(&b));
  EXPECT_EQ(b, -1);

  // Day numbers count 0001-01-01 as 1; 2000-01-01 is Julian day 2451545,
  // so the Visual FoxPro form (day - 1721425) gives the same number.
  TField& d = ds->FieldByName("D");
  d.SetAsDateTime(EncodeDateTime({2000, 1, 1, 18, 30}));  // the time is dropped
  int32_t day = 0;
  ASSERT_TRUE(d.GetData(&day));
  EXPECT_EQ(day, 2451545 - 1721425);
  EXPECT_EQ(d.AsString(), "2000-01-01");
  d.SetAsString("0001-01-01");
  ASSERT_TRUE(d.GetData(&day));
  EXPECT_EQ(day, 1);
  EXPECT_THROW(d.SetAsString("2023-02-29"), EDatabaseError);

  TField& t = ds->FieldByName("T");
  t.SetAsString("2000-01-01 12:00:00.001");
  double ms = 0;
  ASSERT_TRUE(t.GetData(&ms));
  EXPECT_EQ(ms, (2451545.0 - 1721425) * 86400000 + 43200001);
  const double raw = (2460000.0 - 1721425) * 86400000 + 3723004;  // 2023-02-24 01:02:03.004
  t.SetData(&raw);
  EXPECT_EQ(t.AsString(), "2023-02-24 01:02:03.004");
  EXPECT_DOUBLE_EQ(t.AsFloat(), t.AsDateTime());

  char text[6];
  ds->FieldByName("S").SetAsString("abc");
  ASSERT_TRUE(ds->FieldByName("S").GetData(text));
  EXPECT_STREQ(text, "abc");
}

TEST(Fields, VariantsReachFieldsThroughTheirKinds) {
  auto ds = EveryType();
  ds->SetFieldValues("I", TVariant("15"));
  EXPECT_EQ(ds->FieldValues("I"), TVariant(15));
  ds->SetFieldValues("F", 7);
  EXPECT_EQ(ds->FieldValues("F"), TVariant(7.0));
  ds->SetFieldValues("S", 2.5);
  EXPECT_EQ(ds->FieldValues("S"), TVariant("2.5"));
  ds->SetFieldValues("T", TVariant::FromDate(EncodeDateTime({1999, 12, 31, 23, 59, 59})));
  EXPECT_EQ(ds->FieldValues("T").AsString(), "1999-12-31 23:59:59");
  ds->SetFieldValues("D", TVariant());
  EXPECT_TRUE(ds->FieldValues("D").IsNull());
  EXPECT_THROW(ds->SetFieldValues("B", 1.5), EDatabaseError);
  EXPECT_THROW(ds->FieldValues("nope"), EDatabaseError);
}

TEST(Fields, BlobStreamsNeedAnEditAndFlagTheField) {
  auto ds = EveryType();
  auto& bl = static_cast<TBlobField&>(ds->FieldByName("BL"));
  const std::string bytes("a\0b\xff", 4);
  bl.SetAsString(bytes);
  EXPECT_TRUE(bl.Modified());
  EXPECT_EQ(bl.AsString(), bytes);
  ds->Post();
  EXPECT_FALSE(bl.Modified());
  EXPECT_EQ(bl.AsString(), bytes);
  EXPECT_THROW(bl.SetAsString("x"), EDatabaseError);  // browse state
  EXPECT_THROW(ds->FieldByName("I").SetAsInteger(1), EDatabaseError);
}

TEST(Fields, ValidateSeesTheNewValueAndMayRefuseIt) {
  auto ds = EveryType();
  TField& i = ds->FieldByName("I");
  i.SetAsInteger(1);
  std::vector<std::string> seen;
  i.OnValidate = [&seen](TField& f) {
    seen.push_back(f.IsNull() ? "null" : f.AsString());
    if (!f.IsNull() && f.AsInteger() < 0) throw EDatabaseError("negative");
  };
  i.SetAsInteger(5);
  EXPECT_THROW(i.SetAsInteger(-5), EDatabaseError);
  i.Clear();
  EXPECT_EQ(seen, (std::vector<std::string>{"5", "-5", "null"}));
  i.OnValidate = nullptr;
  i.SetReadOnly(true);
  EXPECT_THROW(i.SetAsInteger(3), EDatabaseError);
}

namespace {

// Storage text is upper-case; callers see it lower-cased.
class TCaseShifting : public TToyDataSet {
 public:
  using TToyDataSet::TToyDataSet;
  int Translate(const char* src, char* dest, bool toOem) override {
    const int n = TToyDataSet::Translate(src, dest, toOem);
    for (int i = 0; i < n; ++i) dest[i] = toOem ? std::toupper(dest[i]) : std::tolower(dest[i]);
    return n;
  }
};

}  // namespace

TEST(Fields, TransliterateRunsTheDataSetsTranslate) {
  TCaseShifting ds({{"A", ftString, 10}, {"B", ftString, 10}});
  ds.Open();
  ds.FieldByName("B").SetTransliterate(false);
  ds.Append();
  ds.FieldByName("A").SetAsString("Mixed");
  ds.FieldByName("B").SetAsString("Mixed");
  char raw[11];
  ASSERT_TRUE(ds.FieldByName("A").GetData(raw));
  EXPECT_STREQ(raw, "MIXED");
  EXPECT_EQ(ds.FieldByName("A").AsString(), "mixed");
  EXPECT_EQ(ds.FieldByName("B").AsString(), "Mixed");
}

TEST(Fields, CalculatedFieldsFollowTheRecord) {
  TToyDataSet ds({{"ID", ftInteger}, {"NAME", ftString, 20}});
  ds.Fields().Add(std::make_unique<TIntegerField>("ID"));
  ds.Fields().Add(std::make_unique<TStringField>("NAME", 3));  // takes the column's width
  auto len = std::make_unique<TSmallintField>("LEN");
  len->SetFieldKind(fkCalculated);
  auto tag = std::make_unique<TStringField>("TAG", 25);
  tag->SetFieldKind(fkLookup);
  TField& lenField = ds.Fields().Add(std::move(len));
  TField& tagField = ds.Fields().Add(std::move(tag));
  int calcs = 0;
  ds.OnCalcFields = [&](TDataSet& d) {
    ++calcs;
    EXPECT_EQ(d.State(), dsCalcFields);
    const AnsiString name = d.FieldByName("NAME").AsString();
    lenField.SetAsInteger(static_cast<int32_t>(name.size()));
    if (!name.empty()) tagField.SetAsString("<" + name + ">");
  };
  ds.Open();
  EXPECT_EQ(ds.FieldByName("NAME").Size(), 20);
  EXPECT_LT(lenField.FieldNo(), 1);
  EXPECT_EQ(ds.CalcFieldsSize(), (2 + 1) + (26 + 1));
  EXPECT_EQ(tagField.Offset(), 3);

  ds.AppendRecord({1, "abc"});
  ds.AppendRecord({2, "defgh"});
  ds.First();
  EXPECT_EQ(lenField.AsInteger(), 3);
  EXPECT_EQ(tagField.AsString(), "<abc>");
  ds.Next();
  EXPECT_EQ(lenField.AsInteger(), 5);

  ds.Edit();
  ds.FieldByName("NAME").SetAsString("xy");  // recalculated at once
  EXPECT_EQ(lenField.AsInteger(), 2);
  ds.Cancel();
  EXPECT_EQ(lenField.AsInteger(), 5);
  ds.SetAutoCalcFields(false);
  ds.Edit();
  ds.FieldByName("NAME").SetAsString("x");
  EXPECT_EQ(lenField.AsInteger(), 5);  // not until the record is read again
  ds.Post();
  EXPECT_EQ(lenField.AsInteger(), 1);
  EXPECT_THROW(lenField.SetAsInteger(9), EDatabaseError);  // only OnCalcFields writes it in browse
  EXPECT_GT(calcs, 0);
  EXPECT_THROW(lenField.SetFieldName("L"), EDatabaseError);  // while open
  ds.Close();
  EXPECT_EQ(ds.Fields().Count(), 4);  // persistent fields stay after close
}

TEST(Values, TextFormsAreLocaleFreeAndExact) {
  EXPECT_EQ(DateTimeToText(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(DateTimeToText(EncodeDateTime({1899, 12, 29, 6})), "1899-12-29 06:00:00");
  EXPECT_EQ(DateToText(TextToDateTime("2024-1-5T7:05")), "2024-01-05");
  EXPECT_EQ(DateTimeToText(TextToDateTime("2024-01-05 07:05:09.9")), "2024-01-05 07:05:09.900");
  EXPECT_EQ(DateTimeToText(MSecsToDateTime(DateTimeToMSecs(TextToDateTime("0001-01-01 00:00:00.001")))),
            "0001-01-01 00:00:00.001");
  EXPECT_EQ(DateTimeToText(TextToDateTime("9999-12-31 23:59:59.999")), "9999-12-31 23:59:59.999");
  EXPECT_EQ(DateTimeToText(MSecsToDateTime(DateTimeToMSecs(TextToDateTime("9999-12-31 23:59:59.999")))),
            "9999-12-31 23:59:59.999");
  // Milliseconds of a damaged datetime field: outside the calendar, however far.
  for (double ms : {2.0e272, -2.0e272, 3652060.0 * 86400000, 86399999.0, -1.0, double(NAN), double(INFINITY)})
    EXPECT_THROW(MSecsToDateTime(ms), EDatabaseError) << ms;
  for (const char* bad : {"2024-13-01", "2024-01-01 24:00", "24-01-01", "2024-01-01x", "10000-01-01", ""})
    EXPECT_THROW(TextToDateTime(bad), EDatabaseError) << bad;
  EXPECT_THROW(DateToText(1e7), EDatabaseError);

  EXPECT_EQ(FloatToText(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToText(1e20), "1e+20");
  EXPECT_EQ(TextToInt64(" +12 "), 12);
  EXPECT_THROW(TextToInt64("99999999999999999999"), EDatabaseError);
  EXPECT_EQ(RoundToInt64(-2.5), -2);
  EXPECT_EQ(RoundToInt64(-9223372036854775808.0), INT64_MIN);
  EXPECT_THROW(RoundToInt64(9223372036854775808.0), EDatabaseError);
  EXPECT_THROW(RoundToInt64(NAN), EDatabaseError);
}
