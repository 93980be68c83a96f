// Day numbers are converted to and from the proleptic Gregorian calendar with
// closed formulas over 400-year eras (146097 days each), so no conversion loops
// over years or months. The year is shifted to start on 1 March, which puts the
// leap day at the end of the shifted year and makes month lengths follow a
// linear formula.
#include "runtime/core/dates.h"

#include <ctime>

namespace rt {
namespace {

constexpr std::int64_t kDaysPerEra = 146097;

// Days from 1 January 1970 to year/month/day (month 1..12, any day).
constexpr std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;                        // 0..399
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;    // March = 0
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;  // 0..365
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * kDaysPerEra + dayOfEra - 719468;
}

struct Civil {
  int Year;
  int Month;
  int Day;
};

// The inverse of DaysFromCivil.
constexpr Civil CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - (kDaysPerEra - 1)) / kDaysPerEra;
  const std::int64_t dayOfEra = days - era * kDaysPerEra;  // 0..146096
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // 0..399
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March = 0
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

// Day number 0 is 28 December 1800.
constexpr std::int64_t kDayZero = DaysFromCivil(1800, 12, 28);

static_assert(DaysFromCivil(1801, 1, 1) - kDayZero == kFirstDay);
static_assert(DaysFromCivil(9999, 12, 31) - kDayZero == kLastDay);
static_assert(CivilFromDays(kDayZero + kLastDay).Year == 9999);

bool IsValidDay(std::int32_t date) { return date >= kFirstDay && date <= kLastDay; }

// Seconds and nanoseconds of the wall clock, broken down in local time.
bool LocalNow(std::tm& local, long& nanoseconds) {
  std::timespec now{};
  if (std::timespec_get(&now, TIME_UTC) != TIME_UTC) return false;
  nanoseconds = now.tv_nsec;
  return localtime_r(&now.tv_sec, &local) != nullptr;
}

}  // namespace

std::int32_t Date(int month, int day, int year) {
  // Fold the month into 1..12 first (month 13 is January of the next year,
  // month 0 December of the year before); the day then counts from the 1st,
  // so day 0 and days past the end land in the neighbouring months.
  const std::int64_t monthIndex = static_cast<std::int64_t>(month) - 1;
  const std::int64_t yearCarry = monthIndex >= 0 ? monthIndex / 12 : (monthIndex - 11) / 12;
  const std::int64_t foldedYear = static_cast<std::int64_t>(year) + yearCarry;
  const std::int64_t foldedMonth = monthIndex - yearCarry * 12 + 1;
  const std::int64_t dayNumber = DaysFromCivil(foldedYear, foldedMonth, 1) + day - 1 - kDayZero;
  if (dayNumber < kFirstDay || dayNumber > kLastDay) return 0;
  return static_cast<std::int32_t>(dayNumber);
}

int Day(std::int32_t date) { return IsValidDay(date) ? CivilFromDays(kDayZero + date).Day : 0; }

int Month(std::int32_t date) { return IsValidDay(date) ? CivilFromDays(kDayZero + date).Month : 0; }

int Year(std::int32_t date) { return IsValidDay(date) ? CivilFromDays(kDayZero + date).Year : 0; }

// Day 0 (28 December 1800) was a Sunday.
int DayOfWeek(std::int32_t date) { return IsValidDay(date) ? date % 7 : 0; }

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int month, int year) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::int32_t Today() {
  std::tm local{};
  long nanoseconds = 0;
  if (!LocalNow(local, nanoseconds)) return 0;
  return Date(local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
}

std::int32_t Clock() {
  // Taken from the broken-down local time rather than by subtracting midnight,
  // so a day with a daylight-saving change still reads as the wall clock does.
  std::tm local{};
  long nanoseconds = 0;
  if (!LocalNow(local, nanoseconds)) return 0;
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second holds at :59
  return ((local.tm_hour * 60 + local.tm_min) * 60 + second) * 100 +
         static_cast<std::int32_t>(nanoseconds / 10'000'000);
}

}  // namespace rt
