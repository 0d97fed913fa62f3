// TxbVariant: the comparison behind every index key, appends, and reading a
// value as another type.
#include <gtest/gtest.h>

#include <string>

#include "platform/CodePage.h"
#include "platform/Numbers.h"
#include "tests/xbase/ErrorOf.h"
#include "xbase/base/errors.h"
#include "xbase/base/variant.h"

using namespace xbase;

namespace {

int Cmp(const TxbVariant& a, const TxbVariant& b, int ifPartial = -1, int* endPos = nullptr) {
  int pos = -7;
  const int r = a.Compare(&b, pos, ifPartial);
  if (endPos) *endPos = pos;
  return r;
}

struct V : TxbVariant {
  V() = default;
  explicit V(const std::string& s) { PutString(s); }
  static V F(double x) { V v; v.PutFloat(x); return v; }
  static V D(int32_t d) { V v; v.PutDate(d); return v; }
  static V B(bool b) { V v; v.PutBoolean(b); return v; }
  static V Bin(const std::string& s) { V v; v.PutBinary(s.data(), s.size()); return v; }
  V(V&& o) noexcept { Assign(&o); }
};

}  // namespace

TEST(VariantCompare, TextIsBlankPaddedAndPrefixesAskTheCaller) {
  int end = 0;
  EXPECT_EQ(Cmp(V("AB"), V("AB  ")), 0);
  EXPECT_EQ(Cmp(V("AB  "), V("AB")), 0);
  EXPECT_EQ(Cmp(V("AB"), V("ABC"), -1, &end), -1);
  EXPECT_EQ(end, 3) << "the whole value matched: its length + 1";
  EXPECT_EQ(Cmp(V("AB"), V("ABC"), 0), 0);
  EXPECT_EQ(Cmp(V("ABC"), V("AB"), -1, &end), 1);
  EXPECT_EQ(end, 3);
  EXPECT_EQ(Cmp(V("AXC"), V("ABC"), -1, &end), 1);
  EXPECT_EQ(end, 2) << "positions compared up to the first difference";
  EXPECT_EQ(Cmp(V("A"), V(platform::Utf8ToAnsi("Б"))), -1) << "bytes >= 0x80 sort above ASCII";
  EXPECT_EQ(Cmp(V(platform::Utf8ToAnsi("я")), V("z")), 1);
}

TEST(VariantCompare, TypesEmptySidesAndUnknowns) {
  int pos;
  EXPECT_THROW(Cmp(V("1"), V::F(1)), EXBaseError);
  EXPECT_EQ(ErrorOf([] { Cmp(V::D(1), V("x")); }), "Variant types mismatch for compare");
  EXPECT_EQ(Cmp(V::Bin("AB"), V("AB  ")), 0) << "binary against text compares as text";
  EXPECT_EQ(Cmp(V("AB"), V::Bin("AC")), -1);
  EXPECT_EQ(Cmp(V::Bin("AB"), V::Bin("AB ")), -1) << "binary: the shorter is smaller";
  EXPECT_EQ(Cmp(V(""), V("")), 0);
  EXPECT_EQ(Cmp(V(""), V("A")), -1);
  EXPECT_EQ(Cmp(V("A"), V("")), 1);
  // Text is blank-padded: a blank key, stored empty, is " "; "" begins
  // every key.
  EXPECT_EQ(Cmp(V(" "), V("")), 0);
  EXPECT_EQ(Cmp(V(""), V("  ")), 0);
  EXPECT_EQ(Cmp(V(""), V("A"), 0), 0);
  EXPECT_EQ(Cmp(V("\x01"), V("")), -1);
  EXPECT_EQ(Cmp(V::Bin(""), V::Bin("A")), -1);
  EXPECT_EQ(V("A").Compare(nullptr, pos, 0), 1);
  V unknown;
  EXPECT_EQ(unknown.Compare(nullptr, pos, 0), 0);
  EXPECT_EQ(Cmp(unknown, V("")), 0);
  EXPECT_EQ(Cmp(unknown, V("A")), -1);
  EXPECT_EQ(Cmp(V("A"), unknown), 1);
}

TEST(VariantCompare, NumbersDatesBooleans) {
  EXPECT_EQ(Cmp(V::F(-1.5), V::F(2)), -1);
  EXPECT_EQ(Cmp(V::F(2), V::F(2)), 0);
  EXPECT_EQ(Cmp(V::D(2451544), V::D(2451545)), -1);
  EXPECT_EQ(Cmp(V::B(true), V::B(false)), 1);
  EXPECT_EQ(Cmp(V::B(false), V::B(false)), 0);
  int pos;
  // CompareBin takes a float by its bytes: -1.5 is 0xBFF8... above 2.0 (0x4000...).
  const V two = V::F(2);
  EXPECT_EQ(V::F(-1.5).CompareBin(&two, pos, 0), 1);
  const uint8_t fold[256] = {};  // every byte the same
  const V xyz("XYZ");
  EXPECT_EQ(V("ABC").Compare(&xyz, pos, -1, fold), 0);
}

TEST(Variant, Appends) {
  TxbVariant v;
  v.PutBinary("ab", 2);
  v.AppendString("cd");
  EXPECT_EQ(v.TypeVar(), xbvtText);
  EXPECT_EQ(v.GetString(), "abcd");
  v.AppendBinary("\0e", 2);
  EXPECT_EQ(v.TypeVar(), xbvtBinary);
  EXPECT_EQ(v.GetString(), std::string("abcd\0e", 6));
  v.AppendBinary(nullptr, 3);
  EXPECT_EQ(v.SizeVar(), 6);
  v.PutFloat(1);
  v.AppendString("");  // nothing to append: no complaint
  EXPECT_EQ(ErrorOf([&] { v.AppendString("x"); }), "Variant type is not valid for append");
}

TEST(Variant, ReadingAsAnotherType) {
  EXPECT_EQ(V::F(2.5).GetString(), "2.5");
  EXPECT_EQ(V::D(2451544).GetString(), "31.12.1999");
  EXPECT_EQ(V::B(true).GetString(), "T");
  EXPECT_EQ(V::B(false).GetString(), "F");
  EXPECT_EQ(V(" +5 ").GetFloat(), 5);
  EXPECT_THROW(V("5x").GetFloat(), platform::EConvertError);
  EXPECT_EQ(V::D(2451544).GetFloat(), 2451544);
  EXPECT_EQ(V::B(true).GetFloat(), 1);
  EXPECT_EQ(V("19991231").GetDate(), 2451544);
  EXPECT_EQ(V::F(2451544.4).GetDate(), 2451544);
  EXPECT_EQ(V::F(1e12).GetDate(), 0) << "no such day";
  EXPECT_EQ(V::F(-3).GetDate(), 0);
  EXPECT_EQ(V::B(true).GetDate(), 0);
  EXPECT_TRUE(V("y").GetBoolean());
  EXPECT_TRUE(V("J").GetBoolean());
  EXPECT_FALSE(V("x").GetBoolean());
  EXPECT_TRUE(V::F(0.6).GetBoolean());
  EXPECT_FALSE(V::F(0.4).GetBoolean());
  EXPECT_FALSE(V::D(2451544).GetBoolean());
  const int32_t day = 2451544;
  EXPECT_EQ(V::Bin(std::string(reinterpret_cast<const char*>(&day), 4)).GetDate(), day);
  EXPECT_EQ(V::Bin("\x01").GetBoolean(), true);
  EXPECT_EQ(V::Bin("\x01").GetFloat(), V::Bin(std::string("\x01\0\0\0\0\0\0\0", 8)).GetFloat())
      << "a short value reads as if padded with zeros";
  TxbVariant empty;
  empty.PutString("");
  EXPECT_EQ(empty.GetFloat(), 0);
  EXPECT_EQ(empty.GetDate(), 0);
  EXPECT_FALSE(empty.GetBoolean());
  char buf[4] = {'-', '-', '-', '-'};
  EXPECT_EQ(empty.GetBinary(buf, 4), nullptr);
  EXPECT_EQ(V("abcdef").GetBinary(buf, 4), buf);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(V("AZ\xff").GetHex(), "41 5A FF");
}
