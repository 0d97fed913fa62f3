// Locale-free numbers: the general float format and strict reading.
#include "platform/Numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace platform;

TEST(Numbers, FloatToStrGeneralFormat) {
  EXPECT_EQ(FloatToStr(2.5), "2.5");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  EXPECT_EQ(FloatToStr(100), "100");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3") << "15 significant digits";
  EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
  EXPECT_EQ(FloatToStr(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(FloatToStr(0.00001), "0.00001");
  EXPECT_EQ(FloatToStr(0.000001), "1E-6");
  EXPECT_EQ(FloatToStr(-1.5e-7), "-1.5E-7");
  EXPECT_EQ(FloatToStr(1e300), "1E300");
  EXPECT_EQ(FloatToStr(NAN), "NAN");
  EXPECT_EQ(FloatToStr(-INFINITY), "-INF");
}

TEST(Numbers, StrToFloatTakesBlanksAndOnePlus) {
  EXPECT_EQ(StrToFloat(" +5 "), 5);
  EXPECT_EQ(StrToFloat("-2.25"), -2.25);
  EXPECT_EQ(StrToFloat("\t.5"), 0.5);
  EXPECT_EQ(StrToFloat("1e3"), 1000);
  for (const char* bad : {"+", "5x", "++5", "+-5", "", "  ", "inf", "nan", "0x10", "1,5", "- 5"})
    EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
  try {
    StrToFloat("5x");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'5x' is not a valid floating point value");
  }
}

TEST(Numbers, FifteenDigitsRoundTrip) {
  std::mt19937_64 rng(1);
  for (int i = 0; i < 2000; ++i) {
    const double v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 60) *
                     (i % 2 ? -1 : 1);
    const double back = StrToFloat(FloatToStr(v));
    ASSERT_NEAR(back, v, std::fabs(v) * 1e-14) << FloatToStr(v);
  }
}

TEST(Numbers, Integers) {
  int32_t i = 0;
  int64_t l = 0;
  EXPECT_TRUE(TryStrToInt(" +42 ", i));
  EXPECT_EQ(i, 42);
  EXPECT_FALSE(TryStrToInt("2147483648", i));
  EXPECT_TRUE(TryStrToInt("2147483648", l));
  EXPECT_FALSE(TryStrToInt("4.0", i));
  EXPECT_FALSE(TryStrToInt("+-1", i));
  EXPECT_EQ(ScanDigits("123.fb2", l), 3u);
  EXPECT_EQ(l, 123);
  EXPECT_EQ(ScanDigits("-1", l), 0u);
  EXPECT_EQ(ScanDigits("99999999999999999999", l), 0u);
}
