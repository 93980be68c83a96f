#include "tools/veltrane-data/punch_generator.h"

#include <algorithm>
#include <random>
#include <vector>

#include "app/schema.h"
#include "runtime/core/dates.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "tools/veltrane-data/progress_line.h"

namespace veltrane_data {
namespace {

constexpr int kCommitEvery = 50000;

bool WorkingDay(std::int32_t date) {
  int weekday = rt::DayOfWeek(date);
  return weekday >= 1 && weekday <= 5;
}

std::int64_t WorkingDays(std::int32_t from, std::int32_t to) {
  std::int64_t days = 0;
  for (std::int32_t d = from; d <= to; ++d) days += WorkingDay(d) ? 1 : 0;
  return days;
}

// Uniform in [0, n) from the generator's raw bits, the same on every platform.
std::uint64_t Below(std::mt19937_64& random, std::uint64_t n) { return random() % n; }

// A code letter followed by a number ("D12"). Built by appending: GCC 12 at
// -O2 takes `"D" + std::to_string(n)` for an overlapping copy (-Wrestrict).
std::string Code(char letter, int number) {
  std::string code(1, letter);
  code += std::to_string(number);
  return code;
}

struct DayPunch {
  int Card;           // 0-based card index
  std::int32_t Time;  // hundredths of a second since midnight
  bool In;
};

}  // namespace

bool GeneratePunches(rt::File& timecard, GeneratorOptions o, ProgressLine& progress,
                     std::string& error) {
  if (o.Punches <= 0) return error = "--punches must be above 0", false;
  if (o.Companies < 1) return error = "--companies must be at least 1", false;
  if (o.To == 0) o.To = rt::Date(12, 31, 2023);
  if (o.From == 0) {
    if (o.Cards == 0) o.Cards = 3000;
    // Go back far enough: every card punches twice a working day, ~3% absent.
    std::int64_t needed = o.Punches / (2 * o.Cards) + 1;
    needed += needed / 25 + 1;
    o.From = o.To;
    while (WorkingDays(o.From, o.To) < needed) o.From -= 7;
  }
  if (o.From > o.To) return error = "--from is after --to", false;
  std::int64_t days = WorkingDays(o.From, o.To);
  if (days == 0) return error = "the date range holds no working day", false;
  // Enough cards to fill the range, allowing for absences.
  if (o.Cards == 0)
    o.Cards =
        static_cast<int>(std::min<std::int64_t>(o.Punches * 100 / (2 * days * 96) + 2, 9999999));
  if (o.Cards < 1) return error = "--cards must be at least 1", false;
  if (o.Cards < o.Companies) o.Companies = o.Cards;
  if (static_cast<double>(days) * o.Cards * 2 * 0.96 < static_cast<double>(o.Punches))
    return error = "the date range and cards cannot hold " + std::to_string(o.Punches) +
                   " punches; give more cards or a wider range",
           false;

  std::mt19937_64 random(o.Seed);
  // Each card's fixed traits: company, shift start, location, department, job.
  struct Card {
    int Company, Number, Start, Location, Dept, Job;
  };
  std::vector<Card> cards;
  for (int c = 0; c < o.Cards; ++c)
    cards.push_back(
        {1 + c % o.Companies, 1000 + c, static_cast<int>(6 * 360000 + Below(random, 4) * 90000),
         1 + static_cast<int>(Below(random, 4)), 100 + static_cast<int>(Below(random, 12)),
         static_cast<int>(Below(random, 40))});

  using namespace app::tim;
  progress.Start("generating", "punches", o.Punches);
  std::int64_t written = 0;
  int sinceCommit = 0;
  rt::TxBegin(5, timecard);
  if (rt::ErrorCode() != 0)
    return error = "cannot begin a transaction: " + rt::FileErrorText(), false;
  auto add = [&](const Card& card, std::int32_t date, const DayPunch& p) -> bool {
    rt::FileClear(timecard);
    std::int32_t time = std::min<std::int32_t>(p.Time, 8639999);
    timecard.Field(kCompany).SetInt(card.Company);
    timecard.Field(kDutyDate).SetInt(date);
    timecard.Field(kShift).SetInt(card.Start < 7 * 360000 ? 1 : 2);
    timecard.Field(kPunchTime).SetInt(time);
    timecard.Field(kEmpCard).SetInt(card.Number);
    timecard.Field(kPunchLoc).SetInt(card.Location);
    timecard.Field(kPunchType).SetString(p.In ? "I" : "O");
    // Hours as a decimal with two places (8:15 is 8.25).
    timecard.Field(kPunchTimeDec).SetDecimal(rt::Decimal{time / 3600, 2});
    timecard.Field(kOrigin).SetString(Below(random, 50) == 0 ? "EDIT" : "CLOCK");
    timecard.Field(kEmpNo).SetInt(card.Number);
    timecard.Field(kPunchDate).SetInt(date);
    timecard.Field(kDept).SetString(Code('D', card.Dept));
    timecard.Field(kOtherCode).SetString(Below(random, 100) == 0 ? "VAC" : "");
    timecard.Field(kJobNo).SetString(Code('J', card.Job));
    timecard.Field(kFunct).SetInt(0);
    rt::FileAdd(timecard);
    if (rt::ErrorCode() != 0) return error = "cannot add a punch: " + rt::FileErrorText(), false;
    progress.Update(++written);
    if (++sinceCommit == kCommitEvery) {
      sinceCommit = 0;
      rt::TxCommit();
      if (rt::ErrorCode() != 0) return error = "cannot commit: " + rt::FileErrorText(), false;
      rt::TxBegin(5, timecard);
    }
    return true;
  };

  std::vector<DayPunch> day;
  for (std::int32_t date = o.From; date <= o.To && written < o.Punches; ++date) {
    if (!WorkingDay(date)) continue;
    day.clear();
    for (int c = 0; c < o.Cards; ++c) {
      if (Below(random, 100) < 3) continue;  // absent
      std::int32_t in = cards[c].Start + static_cast<std::int32_t>(Below(random, 60000)) - 30000;
      std::int32_t out = in + 8 * 360000 + static_cast<std::int32_t>(Below(random, 180000));
      day.push_back({c, in, true});
      day.push_back({c, out, false});
    }
    std::stable_sort(day.begin(), day.end(),
                     [](const DayPunch& a, const DayPunch& b) { return a.Time < b.Time; });
    for (const auto& p : day) {
      if (written >= o.Punches) break;
      if (!add(cards[p.Card], date, p)) return rt::TxRollback(), false;
      // A double swipe: the same punch again, a duplicate of every key.
      if (written < o.Punches && Below(random, 200) == 0 && !add(cards[p.Card], date, p))
        return rt::TxRollback(), false;
    }
  }
  rt::TxCommit();
  if (rt::ErrorCode() != 0) return error = "cannot commit: " + rt::FileErrorText(), false;
  if (written < o.Punches)
    return error = "the date range and cards held only " + std::to_string(written) + " punches",
           false;
  return true;
}

}  // namespace veltrane_data
