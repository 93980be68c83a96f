// Realistic punches for the Timecard file: several companies, a few thousand
// cards, an in and an out punch per card on each working day (Monday to
// Friday, a few cards absent each day), added in the order a time clock
// would add them (day by day, by punch time). About one punch in two hundred
// is swiped twice, so keys repeat as they do in real files. The same seed
// gives the same punches.
#pragma once

#include <cstdint>
#include <string>

namespace rt {
class File;
}

namespace veltrane_data {

class ProgressLine;

struct GeneratorOptions {
  std::int64_t Punches = 0;
  std::int32_t From = 0;  // first duty date; 0: early enough for Punches
  std::int32_t To = 0;    // last duty date; 0: 31 December 2023
  int Companies = 3;
  int Cards = 0;  // 0: 3000, or what the date range needs when From is given
  std::uint64_t Seed = 1;
};

// Adds the punches to `timecard` (open for writing), committing every 50000,
// and shows how far it has come on `progress`. Returns false with `error` set
// when the options cannot give that many punches or a write fails; what was
// committed before stays.
bool GeneratePunches(rt::File& timecard, GeneratorOptions options, ProgressLine& progress,
                     std::string& error);

}  // namespace veltrane_data
