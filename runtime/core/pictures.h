// Display pictures: how a value is shown as text and how entry text is read
// back. The pictures the program uses:
//   "D02"   MM/DD/YYYY; a value that is no valid day number (0 included) shows
//           as "00/00/0000", which entry never accepts back
//   "D02B"  MM/DD/YYYY, empty for 0 and for any other invalid day number
//   "D17"   the locale's short date (strftime "%x" under the C library's
//           current locale); empty for an invalid day number
//   "T8"    the locale's long time (strftime "%X"); the value is hundredths of
//           a second since midnight, empty outside 0 .. one day
//   "P##P"  a pattern: each '#' a digit, other characters kept; leading zeros
//           show as blanks, so "P##P" of 7 is " 7" (callers clip it) and of 0
//           is " 0". A negative value or one with more digits than there are
//           '#'s leaves the '#'s in place to show the overflow.
//   "nN"    a plain number, at most N characters wide ("n2" of 5 is "5"); a
//           wider number shows as N '#'s
// Pattern pictures start and end with 'P' or 'p'; the letters themselves are
// not shown. Picture names are matched without regard to case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rt {

// The value under the picture. An unknown picture gives the plain number.
std::string Format(std::int64_t value, std::string_view picture);

// Reads entry text under a picture. "D02" and "D02B" accept M/D/YYYY with one-
// or two-digit month and day and a four-digit year, surrounded by blanks at most,
// naming a real day (no 02/30) from 1 January 1801 to 31 December 9999; "D02B"
// also accepts an empty or blank text as 0. "nN" and unknown pictures accept an
// optional sign and digits (for "nN" no wider than N when shown); a pattern
// accepts its digits with its own literal characters and blanks between them.
// "D17" and "T8" are display-only. Anything else gives nullopt (the entry is
// rejected).
std::optional<std::int64_t> Deformat(std::string_view text, std::string_view picture);

}  // namespace rt
