#include "runtime/core/dates.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>

namespace rt {
namespace {

// Walks the calendar a day at a time with its own month lengths and weekday
// counter, independent of the closed formulas under test.
TEST(DatesTest, EveryDayFrom1801To9999RoundTrips) {
  int year = 1801, month = 1, day = 1, weekday = 4;  // 1 January 1801 was a Thursday
  std::int32_t number = kFirstDay;
  int mismatches = 0;
  for (;; ++number) {
    if (Date(month, day, year) != number || Year(number) != year || Month(number) != month ||
        Day(number) != day || DayOfWeek(number) != weekday) {
      if (++mismatches <= 5)
        ADD_FAILURE() << month << '/' << day << '/' << year << " is " << number;
    }
    if (year == 9999 && month == 12 && day == 31) break;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const bool shortMonth = month == 4 || month == 6 || month == 9 || month == 11;
    const int length = month == 2 ? (leap ? 29 : 28) : (shortMonth ? 30 : 31);
    weekday = (weekday + 1) % 7;
    if (++day > length) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(number, kLastDay);
  EXPECT_EQ(Date(3, 7, 2022), 80788);
  EXPECT_EQ(DayOfWeek(Date(1, 3, 1993)), 0);  // a Sunday
}

TEST(DatesTest, LeapYears) {
  for (auto [year, leap] : {std::pair{1900, false},
                            {2000, true},
                            {2024, true},
                            {2023, false},
                            {1804, true},
                            {2100, false}}) {
    SCOPED_TRACE(year);
    EXPECT_EQ(IsLeapYear(year), leap);
    EXPECT_EQ(DaysInMonth(2, year), leap ? 29 : 28);
    EXPECT_EQ(Month(Date(2, 29, year)), leap ? 2 : 3);  // else it rolls to 1 March
  }
  EXPECT_EQ(DaysInMonth(13, 2024), 0);
}

TEST(DatesTest, OutOfRangePartsRollIntoNeighbouringMonthsAndYears) {
  struct Case {
    int Month, Day, Year, WantMonth, WantDay, WantYear;
  };
  const Case cases[] = {
      {2, 30, 2023, 3, 2, 2023},   {3, 0, 2024, 2, 29, 2024},    {1, 0, 2022, 12, 31, 2021},
      {1, -1, 2022, 12, 30, 2021}, {12, 32, 2022, 1, 1, 2023},   {13, 1, 2022, 1, 1, 2023},
      {25, 1, 2022, 1, 1, 2024},   {0, 1, 2022, 12, 1, 2021},    {-10, 1, 2022, 2, 1, 2021},
      {-12, 1, 2022, 12, 1, 2020}, {1, 366, 2024, 12, 31, 2024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Month << '/' << c.Day << '/' << c.Year);
    const std::int32_t date = Date(c.Month, c.Day, c.Year);
    EXPECT_EQ(Month(date), c.WantMonth);
    EXPECT_EQ(Day(date), c.WantDay);
    EXPECT_EQ(Year(date), c.WantYear);
  }
}

TEST(DatesTest, DatesOutsideTheRangeAreZero) {
  EXPECT_EQ(Date(12, 31, 1800), 0);
  EXPECT_EQ(Date(1, 1, 10000), 0);
  EXPECT_EQ(Date(INT_MAX, INT_MAX, INT_MAX), 0);
  EXPECT_EQ(Date(INT_MIN, INT_MIN, INT_MIN), 0);
  for (std::int32_t invalid : {0, 3, -1, kLastDay + 1, INT_MIN}) {
    SCOPED_TRACE(invalid);
    EXPECT_EQ(Year(invalid) + Month(invalid) + Day(invalid) + DayOfWeek(invalid), 0);
  }
}

// Read from the clock the runtime uses: std::time may lag it by a tick.
std::time_t WallSeconds() {
  std::timespec now{};
  std::timespec_get(&now, TIME_UTC);
  return now.tv_sec;
}

TEST(DatesTest, TodayAndClockFollowTheLocalWallClock) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::time_t before = WallSeconds();
    const std::int32_t today = Today();
    const std::int32_t clock = Clock();
    const std::time_t after = WallSeconds();
    std::tm b{}, a{};
    localtime_r(&before, &b);
    localtime_r(&after, &a);
    if (b.tm_mday != a.tm_mday) continue;  // ran across midnight; try again
    EXPECT_EQ(today, Date(b.tm_mon + 1, b.tm_mday, b.tm_year + 1900));
    EXPECT_GE(clock, ((b.tm_hour * 60 + b.tm_min) * 60 + b.tm_sec) * 100);
    EXPECT_LT(clock, ((a.tm_hour * 60 + a.tm_min) * 60 + a.tm_sec + 1) * 100);
    return;
  }
  FAIL() << "the day kept changing";
}

TEST(DatesTest, ClockCountsHundredths) {
  const std::int32_t start = Clock();
  std::timespec now{}, until{};
  std::timespec_get(&until, TIME_UTC);
  until.tv_nsec += 30'000'000;
  do std::timespec_get(&now, TIME_UTC);
  while (now.tv_sec * 1'000'000'000LL + now.tv_nsec <
         until.tv_sec * 1'000'000'000LL + until.tv_nsec);
  const std::int32_t elapsed = Clock() - start;
  EXPECT_GE(elapsed, 2);
  EXPECT_NE(elapsed % 100, 0);  // not whole seconds only
}

}  // namespace
}  // namespace rt
