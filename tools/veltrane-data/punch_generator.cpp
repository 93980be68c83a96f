#include "tools/veltrane-data/punch_generator.h"

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "app/schema.h"
#include "runtime/core/dates.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/core/text.h"
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

// Adds the record in `file`'s buffer and counts it in `added`, unless a
// record of the file holds the same value of a unique key already.
bool AddUnlessHeld(rt::File& file, int& added, std::string& error) {
  const rt::FileDeclaration& decl = file.Declaration();
  for (int key = 1; key <= decl.KeyCount(); ++key) {
    if (decl.Key(key).AllowsDuplicates()) continue;
    const bool held = rt::FileDuplicate(file, key);
    if (rt::ErrorCode() != 0)
      return error = "cannot read " + decl.Label() + ": " + rt::FileErrorText(), false;
    if (held) return true;
  }
  rt::FileAdd(file);
  if (rt::ErrorCode() != 0)
    return error = "cannot add to " + decl.Label() + ": " + rt::FileErrorText(), false;
  ++added;
  return true;
}

struct PayTypeRow {
  const char* Code;
  const char* Description;
  int PayAs;
};
constexpr PayTypeRow kPayTypes[] = {{"HR", "Hourly", 1}, {"SA", "Salaried", 2}};

// The amounts every department and every employee starts with, in hundredths.
struct Amount {
  const char* Field;
  std::int64_t Hundredths;
};
constexpr Amount kDeptAmounts[] = {
    {"DEP:TYPICALDUTYHRS", 800}, {"DEP:MAXDUTYHOURSPERDAY", 1200}, {"DEP:MINDUTYHOURSOFF", 1000},
    {"DEP:MAXLUNCHTIME", 100},   {"DEP:MAXDINNERTIME", 100},       {"DEP:MAXBREAKTIME", 50}};
constexpr Amount kEmployeeAmounts[] = {
    {"EMP:OTRATE", 2325},        {"EMP:DTRATE", 3100},          {"EMP:HOLIDAYRATE", 3100},
    {"EMP:TOTALLEAVEHRS", 8000}, {"EMP:TOTALSICKALLOWED", 4000}};

void SetAmounts(rt::File& file, std::span<const Amount> amounts) {
  for (const Amount& amount : amounts)
    file.Field(amount.Field).SetDecimal(rt::Decimal{amount.Hundredths, 2});
}

constexpr const char* kLastNames[] = {
    "Adams", "Baker", "Clark", "Davis", "Evans", "Fisher", "Garcia", "Hughes",
    "Irwin", "Jones", "King",  "Lopez", "Moore", "Nolan",  "Owens",  "Price",
    "Quinn", "Reed",  "Scott", "Turner", "Walsh", "Young", "Zimmer"};
constexpr const char* kFirstNames[] = {"Ann", "Ben",  "Cora", "Dan", "Eve", "Finn", "Gail",
                                       "Hugo", "Iris", "Jack", "Kim", "Leo", "Mia",  "Ned",
                                       "Olga", "Paul", "Rita", "Sam", "Tess"};

struct DayPunch {
  int Card;           // 0-based card index
  std::int32_t Time;  // hundredths of a second since midnight
  bool In;
  bool Edited = false;    // ORIGIN EDIT rather than CLOCK
  bool Vacation = false;  // OTHERCODE VAC
};

// The card traits the punches draw on.
struct Card {
  int Company, Number, Start, Location, Dept, Job;
};

// Draws the punches of one working day into `day`, in the order they are
// added (by punch time; a double swipe repeats its punch), at most `room`.
// The draws depend on nothing but the generator's state and the cards, so a
// copy of the generator tells ahead how many days the punches take.
void DrawDay(std::mt19937_64& random, const std::vector<Card>& cards, std::int64_t room,
             std::vector<DayPunch>& day) {
  std::vector<DayPunch> swiped;
  for (int c = 0; c < static_cast<int>(cards.size()); ++c) {
    if (Below(random, 100) < 3) continue;  // absent
    std::int32_t in = cards[c].Start + static_cast<std::int32_t>(Below(random, 60000)) - 30000;
    std::int32_t out = in + 8 * 360000 + static_cast<std::int32_t>(Below(random, 180000));
    swiped.push_back({c, in, true});
    swiped.push_back({c, out, false});
  }
  std::stable_sort(swiped.begin(), swiped.end(),
                   [](const DayPunch& a, const DayPunch& b) { return a.Time < b.Time; });
  day.clear();
  auto draw = [&](DayPunch p) {
    p.Edited = Below(random, 50) == 0;
    p.Vacation = Below(random, 100) == 0;
    day.push_back(p);
  };
  for (const auto& p : swiped) {
    if (static_cast<std::int64_t>(day.size()) >= room) break;
    draw(p);
    // A double swipe: the same punch again, a duplicate of every key.
    if (static_cast<std::int64_t>(day.size()) < room && Below(random, 200) == 0) draw(p);
  }
}

// The working days from `from` to `to`.
std::vector<std::int32_t> WorkingDates(std::int32_t from, std::int32_t to) {
  std::vector<std::int32_t> dates;
  for (std::int32_t d = from; d <= to; ++d)
    if (WorkingDay(d)) dates.push_back(d);
  return dates;
}

}  // namespace

bool GeneratePunches(rt::File& timecard, GeneratorOptions o, ProgressLine& progress,
                     std::vector<PunchedCard>& punched, std::string& error) {
  if (o.Punches <= 0) return error = "--punches must be above 0", false;
  if (o.Companies < 1) return error = "--companies must be at least 1", false;
  if (o.To == 0) o.To = rt::Date(12, 31, 2023);
  const bool fromGiven = o.From != 0;
  if (fromGiven) {
    // --to is named with its date: it may be the default the user never typed.
    const std::string range =
        "--from " + rt::Format(o.From, "D02") + " --to " + rt::Format(o.To, "D02");
    if (o.From > o.To) return error = range + ": --from is after --to", false;
    std::int64_t days = WorkingDays(o.From, o.To);
    if (days == 0)
      return error = range + ": the range holds no working day (Monday to Friday)", false;
    // Enough cards to fill the range, allowing for absences.
    if (o.Cards == 0)
      o.Cards =
          static_cast<int>(std::min<std::int64_t>(o.Punches * 100 / (2 * days * 96) + 2, 9999999));
  } else if (o.Cards == 0) {
    o.Cards = 3000;
  }
  if (o.Cards < 1) return error = "--cards must be at least 1", false;
  if (o.Cards < o.Companies) o.Companies = o.Cards;

  std::mt19937_64 random(o.Seed);
  // Each card's fixed traits: company, shift start, location, department, job.
  std::vector<Card> cards;
  for (int c = 0; c < o.Cards; ++c)
    cards.push_back(
        {1 + c % o.Companies, 1000 + c, static_cast<int>(6 * 360000 + Below(random, 4) * 90000),
         1 + static_cast<int>(Below(random, 4)), 100 + static_cast<int>(Below(random, 12)),
         static_cast<int>(Below(random, 40))});

  // How many working days the punches take, drawn ahead on a copy of the
  // generator.
  std::vector<DayPunch> day;
  std::int64_t needed = 0;
  {
    std::mt19937_64 ahead = random;
    for (std::int64_t drawn = 0; drawn < o.Punches; ++needed) {
      DrawDay(ahead, cards, o.Punches - drawn, day);
      drawn += static_cast<std::int64_t>(day.size());
    }
  }
  // The dates those days fall on: the last is the last working day through
  // --to. Without --from they are the working days just before it; with
  // --from, a range with days to spare leaves some out, spread evenly (as
  // holidays are), so the punches still run from its first day to its last.
  if (!fromGiven) {
    constexpr std::int32_t kEarliest = 4;  // 1 January 1801
    o.From = o.To;
    for (std::int64_t days = WorkingDay(o.From) ? 1 : 0; days < needed;
         days += WorkingDay(o.From) ? 1 : 0)
      if (--o.From < kEarliest)
        return error = "the punches need dates before 1801; give more cards", false;
  }
  const std::vector<std::int32_t> range = WorkingDates(o.From, o.To);
  if (static_cast<std::int64_t>(range.size()) < needed)
    return error = "the date range and cards cannot hold " + std::to_string(o.Punches) +
                   " punches; give more cards or a wider range",
           false;
  auto dateOf = [&](std::int64_t k) {
    if (needed == 1) return range.back();
    return range[static_cast<std::size_t>(
        (k * static_cast<std::int64_t>(range.size() - 1) + (needed - 1) / 2) / (needed - 1))];
  };

  using namespace app::tim;
  progress.Start("generating", "punches", o.Punches);
  std::int64_t written = 0;
  int sinceCommit = 0;
  rt::TxBegin(5, timecard);
  if (rt::ErrorCode() != 0)
    return error = "cannot begin a transaction: " + rt::FileErrorText(), false;
  // The duty dates of each card's first and last punch; 0 for a card that never punched.
  std::vector<std::int32_t> first(cards.size(), 0), last(cards.size(), 0);
  auto add = [&](std::int32_t date, const DayPunch& p) -> bool {
    const int c = p.Card;
    const Card& card = cards[c];
    if (first[c] == 0) first[c] = date;
    last[c] = date;
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
    timecard.Field(kOrigin).SetString(p.Edited ? "EDIT" : "CLOCK");
    timecard.Field(kEmpNo).SetInt(card.Number);
    timecard.Field(kPunchDate).SetInt(date);
    timecard.Field(kDept).SetString(Code('D', card.Dept));
    timecard.Field(kOtherCode).SetString(p.Vacation ? "VAC" : "");
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
      if (rt::ErrorCode() != 0)
        return error = "cannot begin a transaction: " + rt::FileErrorText(), false;
    }
    return true;
  };

  for (std::int64_t k = 0; k < needed; ++k) {
    DrawDay(random, cards, o.Punches - written, day);
    const std::int32_t date = dateOf(k);
    for (const auto& p : day)
      if (!add(date, p)) return rt::TxRollback(), false;
  }
  rt::TxCommit();
  if (rt::ErrorCode() != 0) return error = "cannot commit: " + rt::FileErrorText(), false;
  if (written < o.Punches)
    return error = "the date range and cards held only " + std::to_string(written) + " punches",
           false;
  punched.clear();
  for (std::size_t c = 0; c < cards.size(); ++c)
    if (first[c] != 0)
      punched.push_back({cards[c].Company, cards[c].Number, cards[c].Location,
                         Code('D', cards[c].Dept), Code('J', cards[c].Job), first[c], last[c]});
  std::sort(punched.begin(), punched.end(), [](const PunchedCard& a, const PunchedCard& b) {
    return std::tie(a.Company, a.Number) < std::tie(b.Company, b.Number);
  });
  return true;
}

bool AddRelatedRecords(const std::vector<PunchedCard>& punched, RelatedCounts& added,
                       std::string& error) {
  added = {};
  rt::File dept(app::DeptFile()), payType(app::PayTypeFile()), employee(app::EmployeeFile());
  for (rt::File* file : {&dept, &payType, &employee}) {
    rt::FileOpen(*file, 0x12);
    if (rt::ErrorCode() != 0)
      return error = "cannot open " + file->Declaration().Label() + ": " + rt::FileErrorText(),
             false;
  }
  // The three files share the thread's connection, so one transaction holds
  // them all; each joins at the begin, waiting for a writer to finish.
  for (rt::File* file : {&dept, &payType, &employee}) {
    rt::TxBegin(5, *file);
    if (rt::ErrorCode() == 0) continue;
    error = "cannot begin a transaction: " + rt::FileErrorText();
    rt::TxRollback();
    return false;
  }
  auto failed = [&] {
    rt::TxRollback();
    added = {};
    return false;
  };

  std::set<std::pair<int, std::string>> departments;
  std::set<int> companies;
  for (const PunchedCard& card : punched) {
    departments.insert({card.Company, card.Dept});
    companies.insert(card.Company);
  }
  for (const auto& [company, code] : departments) {
    rt::FileClear(dept);
    dept.Field(app::dep::kCompany).SetInt(company);
    dept.Field(app::dep::kDept).SetString(code);
    std::string description = "Department ";  // appended: see Code
    description += code.substr(1);
    dept.Field("DEP:DESCRIPTION").SetString(description);
    SetAmounts(dept, kDeptAmounts);
    dept.Field("DEP:REG_MISCCODE").SetString("REG");
    dept.Field("DEP:OT_MISCCODE").SetString("OT");
    dept.Field("DEP:DT_MISCCODE").SetString("DT");
    if (!AddUnlessHeld(dept, added.Departments, error)) return failed();
  }
  for (int company : companies)
    for (const PayTypeRow& row : kPayTypes) {
      rt::FileClear(payType);
      payType.Field(app::pay::kCompany).SetInt(company);
      payType.Field(app::pay::kCode).SetString(row.Code);
      payType.Field("PAY:DESCRIPTION").SetString(row.Description);
      payType.Field(app::pay::kPayAs).SetInt(row.PayAs);
      if (!AddUnlessHeld(payType, added.PayTypes, error)) return failed();
    }
  for (const PunchedCard& card : punched) {
    using namespace app::emp;
    const std::string lastName = kLastNames[card.Number % std::size(kLastNames)];
    const std::string firstName = kFirstNames[card.Number % std::size(kFirstNames)];
    rt::FileClear(employee);
    employee.Field(kCompany).SetInt(card.Company);
    employee.Field(kLastName).SetString(lastName);
    employee.Field(kFirstName).SetString(firstName);
    employee.Field(kCardNo).SetInt(card.Number);
    employee.Field(kDept).SetString(card.Dept);
    // One employee in five is salaried.
    employee.Field(kPayType).SetString(kPayTypes[card.Number % 5 == 0 ? 1 : 0].Code);
    employee.Field("EMP:HIREDATE").SetInt(card.First);
    employee.Field("EMP:REGRATE").SetDecimal(rt::Decimal{1550 + card.Number % 10 * 100, 2});
    SetAmounts(employee, kEmployeeAmounts);
    employee.Field("EMP:ACTIVEINACTIVE").SetString("A");
    employee.Field("EMP:LOCATION").SetInt(card.Location);
    employee.Field(kName).SetString(rt::UpperCase(lastName) + ", " + rt::UpperCase(firstName));
    employee.Field(kEmployeeNo).SetString(std::to_string(card.Number));
    employee.Field("EMP:LASTWORKDATE").SetInt(card.Last);
    employee.Field(kJobNo).SetString(card.Job);
    if (!AddUnlessHeld(employee, added.Employees, error)) return failed();
  }
  rt::TxCommit();
  if (rt::ErrorCode() != 0) return error = "cannot commit: " + rt::FileErrorText(), failed();
  return true;
}

}  // namespace veltrane_data
