// TxbDBFDate: day numbers against Python's calendar for every day of years
// 1-9999, the text forms and their edges.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "platform/Clock.h"
#include "platform/Numbers.h"
#include "tests/xbase/CommandOutput.h"
#include "xbase/base/dates.h"

using namespace xbase;

namespace {

// Runs a Python program and returns what it printed.
std::string Python(const std::string& program) {
  return CommandOutput("/usr/bin/python3 -c '" + program + "'");
}

// The engine's clock stopped at a given moment for one test.
class FixedClock {
 public:
  explicit FixedClock(int64_t ms) {
    now_ = ms;
    old_ = SetxbClock([] { return now_; });
  }
  ~FixedClock() { SetxbClock(old_); }

 private:
  static inline int64_t now_ = 0;
  TxbClock old_;
};

constexpr int64_t k2026 = 1781006400000;  // 2026-06-09 12:00 UTC

}  // namespace

TEST(Date, EveryDayOfYears1To9999MatchesPythonsCalendar) {
  // Python gives the first day of each month as Julian day number
  // (toordinal() + 1721425) and the month's length.
  const std::string table = Python(
      "import calendar, datetime\n"
      "for y in range(1, 10000):\n"
      "  for m in range(1, 13):\n"
      "    print(y, m, datetime.date(y, m, 1).toordinal() + 1721425, calendar.monthrange(y, m)[1])\n");
  std::istringstream in(table);
  TxbDBFDate dates;
  int y, m, first, days, months = 0;
  int32_t expected = 1721426;
  while (in >> y >> m >> first >> days) {
    ++months;
    ASSERT_EQ(first, expected) << "months follow each other without gaps";
    for (int d = 1; d <= days; ++d, ++expected) {
      ASSERT_EQ(dates.MDY2Jul(m, d, y), expected) << y << "-" << m << "-" << d;
      int mm, dd, yy;
      dates.Jul2MDY(expected, mm, dd, yy);
      ASSERT_TRUE(mm == m && dd == d && yy == y) << expected;
    }
    ASSERT_EQ(dates.MDY2Jul(m, days + 1, y), 0) << "no such day";
  }
  EXPECT_EQ(months, 9999 * 12);
  EXPECT_EQ(expected - 1, 5373484);
}

TEST(Date, EdgesOfTheDayCount) {
  TxbDBFDate dates;
  EXPECT_EQ(dates.MDY2Jul(13, 1, 2000), 0);
  int m, d, y;
  dates.Jul2MDY(0, m, d, y);
  EXPECT_EQ(m + d + y, 0);
  dates.Jul2MDY(5373485, m, d, y);
  EXPECT_EQ(y, 0) << "beyond 9999-12-31 is no date";
  EXPECT_EQ(dates.DOW(2444240), 3) << "1980-01-01 was a Tuesday";
  EXPECT_EQ(dates.DOW(2451544 + 2), 1) << "2000-01-02 was a Sunday";
  EXPECT_EQ(dates.DOW(0), 0);
  FixedClock clock(k2026);
  const platform::TSystemTime now = platform::LocalTimeOf(k2026);
  EXPECT_EQ(dates.Date(), dates.MDY2Jul(now.month, now.day, now.year));
}

TEST(Date, DtosAndCtodOfEightDigits) {
  TxbDBFDate dates;
  EXPECT_EQ(dates.DTOS(2451544), "19991231");
  EXPECT_EQ(dates.DTOS(1721426), "00010101");
  EXPECT_EQ(dates.DTOS(0), "        ");
  EXPECT_EQ(dates.DTOS(-5), "        ");
  EXPECT_EQ(dates.CTOD("19991231"), 2451544);
  EXPECT_EQ(dates.CTOD("19991231   "), 2451544);
  EXPECT_EQ(dates.CTOD("19990231"), 0) << "a day that does not exist is empty, not 1899-12-30";
  EXPECT_EQ(dates.CTOD("00000000"), 0);
  EXPECT_EQ(dates.CTOD("        "), 0);
  EXPECT_EQ(dates.CTOD(dates.DTOS(0)), 0);
}

TEST(Date, ShortDateFormatBothWays) {
  FixedClock clock(k2026);
  TxbDBFDate dates;
  EXPECT_EQ(dates.DTOC(2451544), "31.12.1999");
  EXPECT_EQ(dates.DTOC(0), "          ");
  EXPECT_EQ(dates.CTOD("31.12.1999"), 2451544);
  EXPECT_EQ(dates.CTOD(" 1.2.2003"), dates.MDY2Jul(2, 1, 2003));
  EXPECT_EQ(dates.CTOD("5.7"), dates.MDY2Jul(7, 5, 2026)) << "no year: this year";

  dates.SetShortDateFormat("mm/dd/yy");
  EXPECT_EQ(dates.DTOC(2451544), "12/31/1999") << "the century is forced in";
  EXPECT_EQ(dates.CTOD(dates.DTOC(2451544)), 2451544);
  dates.SetForceCentury(false);
  EXPECT_EQ(dates.DTOC(2451544), "12/31/99");
  EXPECT_EQ(dates.DTOC(0), "        ");
  EXPECT_EQ(dates.CTOD("12/31/99"), 2451544);
  EXPECT_EQ(dates.CTOD("01/01/75"), dates.MDY2Jul(1, 1, 2075)) << "49 years ahead at most";
  EXPECT_EQ(dates.CTOD("01/01/76"), dates.MDY2Jul(1, 1, 1976)) << "50 years back";
  EXPECT_EQ(dates.CTOD("1/2/0003"), dates.MDY2Jul(1, 2, 3)) << "a year of 3 or 4 digits is taken as it is";

  for (const char* bad : {"31.12.1999", "02/30/1999", "12-31-1999", "ab/cd/efgh", "1/2/3/4", "/1/2", "12345/1/1"})
    EXPECT_THROW(dates.CTOD(bad), platform::EConvertError) << bad;
}
