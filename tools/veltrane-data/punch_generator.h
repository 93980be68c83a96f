// Realistic punches for the Timecard file: several companies, a few thousand
// cards, an in and an out punch per card on each working day (Monday to
// Friday, a few cards absent each day), added in the order a time clock
// would add them (day by day, by punch time). About one punch in two hundred
// is swiped twice, so keys repeat as they do in real files. The same seed
// gives the same punches.
//
// Beside the punches, the records they belong to: a department per company
// and department code punched under, the pay types HR and SA per company, and
// an employee per card that punched, in the department of its punches, so
// every relation of the dictionary from a punch or an employee finds its
// record. They come from the cards' fixed traits, not from the random
// numbers, so the punches of a seed are the same with or without them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rt {
class File;
}

namespace veltrane_data {

class ProgressLine;

struct GeneratorOptions {
  std::int64_t Punches = 0;
  // The punches are dated on working days from From to To, the last on the
  // last working day through To; a range with days to spare leaves some out,
  // spread evenly. From 0: the working days just before To that the punches
  // fill. To 0: 31 December 2023.
  std::int32_t From = 0;
  std::int32_t To = 0;
  int Companies = 3;
  int Cards = 0;  // 0: 3000, or what the date range needs when From is given
  std::uint64_t Seed = 1;
};

// A card that punched, with what its employee record takes from its punches.
struct PunchedCard {
  int Company = 0;
  int Number = 0;
  int Location = 0;
  std::string Dept;
  std::string Job;
  std::int32_t First = 0;  // duty date of its first punch
  std::int32_t Last = 0;   // duty date of its last punch
};

// Adds the punches to `timecard` (open for writing), committing every 50000,
// and shows how far it has come on `progress`. `punched` receives the cards
// that punched, by company and number. Returns false with `error` set when
// the options cannot give that many punches or a write fails; what was
// committed before stays.
bool GeneratePunches(rt::File& timecard, GeneratorOptions options, ProgressLine& progress,
                     std::vector<PunchedCard>& punched, std::string& error);

// How many records AddRelatedRecords added to each file.
struct RelatedCounts {
  int Departments = 0;
  int PayTypes = 0;
  int Employees = 0;
};

// Adds to Dept, PayType and Employee (opened here) the records the punches of
// `punched` belong to, in one transaction, leaving alone those a file holds
// already (a second generate into the same folder adds only what is new).
// Returns false with `error` set, and nothing added, when a file cannot be
// opened or written.
bool AddRelatedRecords(const std::vector<PunchedCard>& punched, RelatedCounts& added,
                       std::string& error);

}  // namespace veltrane_data
