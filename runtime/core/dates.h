// Dates and clock times.
//
// A date is a day number: day 4 is 1 January 1801 (days since 28 December
// 1800), 0 means "no date". Valid dates run to 31 December 9999 (day 2994626).
// A clock time is hundredths of a second since local midnight.
#pragma once

#include <cstdint>

namespace rt {

inline constexpr std::int32_t kFirstDay = 4;       // 1 January 1801
inline constexpr std::int32_t kLastDay = 2994626;  // 31 December 9999

// The day number of month/day/year. A day past the month's end rolls into the
// following month (Date(2, 30, 2023) is 2 March 2023), day 0 is the last day of
// the month before (negative days count further back), a month past 12 rolls
// into the next year and a month below 1 into the year before (month 0 is
// December of year - 1). Returns 0 when the result falls outside
// 1 January 1801 .. 31 December 9999.
std::int32_t Date(int month, int day, int year);

// Parts of a day number; 0 for day numbers outside kFirstDay..kLastDay.
int Day(std::int32_t date);
int Month(std::int32_t date);
int Year(std::int32_t date);
// 0 Sunday .. 6 Saturday; 0 for an invalid day number.
int DayOfWeek(std::int32_t date);

bool IsLeapYear(int year);
int DaysInMonth(int month, int year);

// Today's local date; 0 if the system clock cannot be read.
std::int32_t Today();
// Hundredths of a second since local midnight (0 .. 8639999), read from the
// local wall clock.
std::int32_t Clock();

}  // namespace rt
