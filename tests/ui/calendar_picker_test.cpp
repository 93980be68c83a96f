// CalendarPicker on the headless backend, driven by operator scripts: what a
// call returns for each way through the calendar, how a month is laid out on
// the grid, one-call placement and the customising hooks.
#include "ui/calendar_picker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "runtime/core/dates.h"
#include "tests/ui/ui_fixture.h"

namespace {

using rt::Date;
using ui::RequestCancelled;
using ui::RequestCompleted;
using namespace ui_test;

constexpr int kDay1 = 12, kDay42 = 53;
constexpr std::int32_t kToday = -1;  // the expected result is today

struct PickCase {
  const char* Name;
  std::int32_t Start;
  bool SelectOnClose;
  const char* Script;
  std::int32_t Expected;
  std::uint8_t Response;
};
void PrintTo(const PickCase& c, std::ostream* os) { *os << c.Name; }

const PickCase kPickCases[] = {
    {"NoStartDateOpensOnToday", 0, true, "accept ?CLOSE", kToday, RequestCompleted},
    {"StartBefore1801OpensOnTodayAndCancelGivesToday", 3, false, "key Escape", kToday,
     RequestCancelled},
    {"StartAfter2099OpensOnToday", Date(1, 1, 2100), true, "accept ?CLOSE", kToday,
     RequestCompleted},
    {"ClickedDayAnswersAtOnceWithoutSelectOnClose", Date(3, 15, 2024), false,
     "accept ?DAY10",  // March 2024 starts on a Friday: the tenth button is the 5th
     Date(3, 5, 2024), RequestCompleted},
    {"CloseWithoutSelectOnCloseGivesTheStartAfterNavigating", Date(3, 15, 2024), false,
     "accept ?NEXTMONTH\naccept ?NEXTYEAR\naccept ?CLOSE", Date(3, 15, 2024), RequestCancelled},
    {"January31PlusAMonthIsFebruary1", Date(1, 31, 2024), true, "accept ?NEXTMONTH\naccept ?CLOSE",
     Date(2, 1, 2024), RequestCompleted},
    {"DecemberPlusAMonthIsJanuaryOfTheNextYear", Date(12, 10, 2023), true,
     "accept ?NEXTMONTH\naccept ?CLOSE", Date(1, 10, 2024), RequestCompleted},
    {"JanuaryMinusAMonthIsDecemberOfTheYearBefore", Date(1, 10, 2024), true,
     "accept ?PREVMONTH\naccept ?CLOSE", Date(12, 10, 2023), RequestCompleted},
    {"LeapDayMinusAYearIsFebruary1", Date(2, 29, 2024), true, "accept ?PREVYEAR\naccept ?CLOSE",
     Date(2, 1, 2023), RequestCompleted},
    // The keys: the focus follows the date onto its day, where Enter picks it
    // (even without SelectOnClose); Enter presses any focused button; the
    // grid is one stop of the Tab order.
    {"ArrowsMoveByDaysAndWeeksAndEnterPicksTheDay", Date(2, 27, 2020), false,
     "key Right\nkey Right\nkey Down\nkey Enter", Date(3, 7, 2020), RequestCompleted},
    {"UpAndLeftMoveBackOverTheLeapDay", Date(3, 7, 2020), false, "key Up\nkey Left\nkey Enter",
     Date(2, 28, 2020), RequestCompleted},
    {"PageDownAndEndGoToTheLastDayOfTheNextMonth", Date(1, 31, 2024), false,
     "key PageDown\nkey End\nkey Enter", Date(2, 29, 2024), RequestCompleted},
    {"PageUpAndHomeGoToTheFirstDayOfTheMonthBefore", Date(3, 15, 2024), false,
     "key PageUp\nkey PageUp\nkey Home\nkey Enter", Date(1, 1, 2024), RequestCompleted},
    {"EnterPressesTheFocusedButton", Date(3, 15, 2024), true, "key Tab\nkey Enter\naccept ?CLOSE",
     Date(3, 15, 2023), RequestCompleted},  // from Close to Previous Year
    {"TabLeavesTheGridForTheButtonAfterIt", Date(3, 15, 2024), true,
     "key Right\nkey Tab\nkey Enter\naccept ?CLOSE", kToday, RequestCompleted},  // Today
    {"ShiftTabLeavesTheGridForTheButtonBeforeIt", Date(3, 15, 2024), true,
     "key Right\nkey ShiftTab\nkey Enter\naccept ?CLOSE", Date(3, 16, 2025),
     RequestCompleted},  // round to Next Year
    {"WeekButtons", Date(3, 15, 2024), true,
     "accept ?PREVWEEK\naccept ?PREVWEEK\naccept ?NEXTWEEK\naccept ?CLOSE", Date(3, 8, 2024),
     RequestCompleted},
    {"TodayButton", Date(3, 15, 2024), true, "accept ?TODAY\naccept ?CLOSE", kToday,
     RequestCompleted},
    {"NoStepBeforeTheFirstKnownDay", Date(1, 1, 1801), true,
     "key Left\naccept ?PREVYEAR\naccept ?PREVMONTH\naccept ?CLOSE", Date(1, 1, 1801),
     RequestCompleted},
};

using CalendarTest = UiFixture;

class PickTest : public UiFixture, public ::testing::WithParamInterface<PickCase> {};

TEST_P(PickTest, ReturnsTheChosenDate) {
  const PickCase& c = GetParam();
  ASSERT_TRUE(backend.LoadScript(std::string("expect CALENDARSCREEN\n") + c.Script));
  ui::CalendarPicker picker;
  picker.SelectOnClose = c.SelectOnClose;
  const std::int32_t expected = c.Expected == kToday ? rt::Today() : c.Expected;
  EXPECT_EQ(picker.SelectDate("Select a Date", c.Start), expected);
  EXPECT_EQ(picker.SelectedDate, expected);
  EXPECT_EQ(picker.Response, c.Response);
  EXPECT_TRUE(backend.Problems().empty()) << backend.Problems().front();
  EXPECT_EQ(backend.PendingSteps(), 0u);
  EXPECT_EQ(backend.Shown("CALENDARSCREEN")->Caption, "Select a Date");
  EXPECT_FALSE(backend.Shown("CALENDARSCREEN")->Open);
}

INSTANTIATE_TEST_SUITE_P(Calendar, PickTest, ::testing::ValuesIn(kPickCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- The grid

struct GridCase {
  std::int32_t Start;
  const char* MonthYear;
  int FirstButton;  // the button of the 1st
  int Days;
};
void PrintTo(const GridCase& c, std::ostream* os) { *os << c.MonthYear; }

class GridTest : public UiFixture, public ::testing::WithParamInterface<GridCase> {};

// The month of the start date, after one step right: the days in their
// columns, the rest hidden, week-ends red, the current day alone in bold.
TEST_P(GridTest, LaysTheMonthOut) {
  const GridCase& c = GetParam();
  ASSERT_TRUE(backend.LoadScript("key Right\nkey Escape"));
  ui::CalendarPicker picker;
  picker.SelectDate("", c.Start);
  const auto shown = backend.Shown("CALENDARSCREEN");
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->Controls.at(3).Text, c.MonthYear);
  EXPECT_EQ(shown->Controls.at(4).Text, "Sun");
  EXPECT_EQ(shown->Controls.at(10).Text, "Sat");
  const int current = rt::Day(c.Start) + 1;
  for (int b = kDay1; b <= kDay42; ++b) {
    const auto& day = shown->Controls.at(b);
    const int n = b - c.FirstButton + 1;
    SCOPED_TRACE("button " + std::to_string(b));
    ASSERT_EQ(day.Hidden, n < 1 || n > c.Days);
    if (day.Hidden) continue;
    EXPECT_EQ(day.Text, (n < 10 ? " " : "") + std::to_string(n));
    const int column = (b - kDay1) % 7;
    EXPECT_EQ(day.FontColor, column == 0 || column == 6 ? ui::kColorRed : ui::kColorNormal);
    EXPECT_EQ(day.FontStyle, n == current ? ui::kCurrentDayStyle : ui::kDayStyle);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Calendar, GridTest,
    ::testing::Values(GridCase{Date(9, 10, 2024), "September 2024", 12, 30},  // 1st a Sunday
                      GridCase{Date(2, 10, 2024), "February 2024", 16, 29},   // leap year
                      GridCase{Date(2, 10, 2023), "February 2023", 15, 28},
                      GridCase{Date(8, 10, 2026), "August 2026", 18, 31}));   // six rows

// ---- Placement and hooks

TEST_F(CalendarTest, PlacementAppliesToOneCall) {
  ui::CalendarPicker picker;
  ASSERT_TRUE(backend.LoadScript("key Escape"));
  picker.XPos = 100;
  picker.YPos = 40;
  picker.SelectDate("", Date(3, 15, 2024));
  EXPECT_EQ(backend.Shown("CALENDARSCREEN")->Area, (rt::Rect{100, 40, 154, 138}));
  EXPECT_EQ(picker.XPos, 0);
  EXPECT_EQ(picker.YPos, 0);

  ASSERT_TRUE(backend.LoadScript("key Escape"));
  picker.SelectDate("", Date(3, 15, 2024));
  EXPECT_EQ(backend.Shown("CALENDARSCREEN")->Area, (rt::Rect{0, 0, 154, 138}));

  ASSERT_TRUE(backend.LoadScript("key Escape"));
  picker.XPos = 300;
  picker.RightAlignment = 1;
  picker.SelectDate("", Date(3, 15, 2024));
  EXPECT_EQ(backend.Shown("CALENDARSCREEN")->Area.X, 300 - 154) << "XPos is the right edge";
}

// Weeks from Monday, Christmas as a holiday.
class MondayCalendar : public ui::CalendarPicker {
 public:
  void Customize() override { FirstWeekday = 1; }
  std::uint8_t IsHoliday(int day, int month, int, std::uint8_t) override {
    return day == 25 && month == 12;
  }
};

TEST_F(CalendarTest, CustomizedPickerStartsWeeksOnMondayAndMarksHolidays) {
  // 1 December 2024 is a Sunday: the last column of the first row.
  ASSERT_TRUE(backend.LoadScript("accept ?DAY7\n"));
  MondayCalendar picker;
  EXPECT_EQ(picker.SelectDate("", Date(12, 10, 2024)), Date(12, 1, 2024));
  const auto shown = backend.Shown("CALENDARSCREEN");
  EXPECT_EQ(shown->Controls.at(4).Text, "Mon");
  EXPECT_EQ(shown->Controls.at(10).Text, "Sun");
  EXPECT_TRUE(shown->Controls.at(17).Hidden);
  const auto colorOf = [&](int day) { return shown->Controls.at(17 + day).FontColor; };
  EXPECT_EQ(colorOf(1), ui::kColorRed) << "Sunday the 1st";
  EXPECT_EQ(colorOf(21), ui::kColorRed) << "Saturday the 21st";
  EXPECT_EQ(colorOf(24), ui::kColorNormal) << "Tuesday the 24th";
  EXPECT_EQ(colorOf(25), ui::kColorGreen) << "the holiday";
}

}  // namespace
