// The windows the program will show (tests/support/window_layouts.h), driven
// only through the window runtime and an operator script: the purge's progress
// window (timer, thermometer, cancel), the cut-off dialog with its date entry
// and the calendar opened over it, and the error history window with its list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/core/dates.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "tests/runtime/windows/headless_fixture.h"
#include "tests/support/window_layouts.h"

namespace rt {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::HeadlessTest;
using namespace testing;  // the layouts and their procedures

TEST_F(HeadlessTest, ProgressWindowRunsToTheEndOnItsTimer) {
  EXPECT_EQ(RunProcess(200, 25), 200);
  const auto shown = backend.Shown("PROGRESSWINDOW");
  EXPECT_EQ(shown->Caption, "Processing Records");
  EXPECT_EQ(shown->Controls.at(1).Value, 100);
  EXPECT_EQ(shown->Controls.at(3).Text, "100% Complete");
  const auto transcript = backend.Transcript();
  EXPECT_THAT(transcript, Contains("hide PROGRESSWINDOW"));
  EXPECT_THAT(transcript, Contains("show PROGRESSWINDOW"));
  EXPECT_THAT(transcript, Contains("text PROGRESSWINDOW:3 \"50% Complete\""));
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

TEST_F(HeadlessTest, ProgressWindowCancelStopsBetweenTicks) {
  ASSERT_TRUE(backend.LoadScript("expect PROGRESSWINDOW\nwait 350\naccept ?PROGRESS:CANCEL\n"));
  const int taken = RunProcess(1000, 10);
  EXPECT_GE(taken, 20);
  EXPECT_LE(taken, 40);
  EXPECT_EQ(taken % 10, 0) << "a tick's batch is never cut in the middle";
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

TEST_F(HeadlessTest, CutoffDialogRefusesA2024DateAndTakesOneFromTheCalendar) {
  ASSERT_TRUE(backend.LoadScript(R"(expect QUICKWINDOW
type ?LASTDATE 1/1/2024
accept ?OK
answer Ok
accept ?CALENDAR
expect CALENDARSCREEN
accept 58
# December 2023 starts on a Friday: day 31 is button 12 + 5 + 30
accept 47
expect QUICKWINDOW
accept ?OK
)"));
  std::int32_t lastDate = 0;
  EXPECT_EQ(RunCutoffDialog(lastDate), 1);
  EXPECT_EQ(lastDate, Date(12, 31, 2023));
  EXPECT_THAT(backend.Problems(), IsEmpty());
  ASSERT_EQ(backend.MessageBoxes().size(), 1u);
  EXPECT_THAT(backend.MessageBoxes()[0].Lines, ElementsAre("Date Not acceptable. Pick a date prior 01/2024."));
  const auto transcript = backend.Transcript();
  EXPECT_THAT(transcript, Contains("text CALENDARSCREEN:3 \"December 2023\""));
  EXPECT_THAT(transcript, Contains("hide CALENDARSCREEN:16")) << "days before Friday the 1st are hidden";
  EXPECT_THAT(transcript, Contains("text QUICKWINDOW:5 \"12/31/2023\""));
  EXPECT_EQ(backend.ShownText("QUICKWINDOW", 5), "12/31/2023");
}

TEST_F(HeadlessTest, CalendarArrowKeysMoveTheDateAndEnterCloses) {
  ASSERT_TRUE(backend.LoadScript("type ?LASTDATE 2/27/2020\naccept ?CALENDAR\nkey Right\nkey Right\nkey Down\nkey Enter\naccept ?OK\n"));
  std::int32_t lastDate = 0;
  EXPECT_EQ(RunCutoffDialog(lastDate), 1);
  EXPECT_EQ(lastDate, Date(3, 7, 2020)) << "27 Feb 2020 + 2 days crosses the leap day, + 7";
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

// ---- Error history window ----------------------------------------------------

TEST_F(HeadlessTest, HistoryWindowListsEntriesAndAnswersWithTheButtonPressed) {
  Window window(HistoryWindow());
  const std::vector<std::pair<std::string, std::string>> history = {{"Disk full", "Tarvo"}, {"Record locked", "Tarvo"}};
  OpenWindow(window);
  SetProperty(0, PropText, "Errors History");
  SetListSource(2, [&](int row, int column) -> std::string {
    if (row == -1) return std::to_string(history.size());
    if (row == -2) return std::to_string(GetProperty(2, PropColumns).Number());
    if (row == -3) return "1";
    if (row < 1 || row > static_cast<int>(history.size())) return {};
    return column == 1 ? history[row - 1].first : column == 2 ? history[row - 1].second : "";
  });
  // Help at the right end, OK to its left as the default with the focus.
  const std::pair<int, const char*> buttons[] = {{128, "&Help"}, {1, "O&k"}};
  for (int i = 0; i < 2; ++i) {
    SetProperty(3 + i, PropText, buttons[i].second);
    Unhide(3 + i);
  }
  SetProperty(4, PropDefault, 1);
  Select(4);
  ASSERT_TRUE(backend.LoadScript("select ?LIST 2\nkey Enter\n"));
  int answer = 0;
  ServeEvents([&] {
    const int accepted = AcceptedControl();
    if (accepted >= 3 && accepted <= 4) {
      answer = buttons[accepted - 3].first;
      return -1;
    }
    return 0;
  });
  EXPECT_EQ(answer, 1) << "Enter on the list presses the default button";
  EXPECT_EQ(window.RowCount(2), 2);
  EXPECT_EQ(window.Cell(2, 2, 1), "Record locked");
  EXPECT_EQ(GetProperty(2, PropSelected).Number(), 2);
  const auto transcript = backend.Transcript();
  EXPECT_THAT(transcript, Contains("caption HISTORY \"Errors History\""));
  EXPECT_THAT(transcript, Contains("show HISTORY:4"));
  EXPECT_THAT(transcript, Contains("text HISTORY:4 \"O&k\""));
  EXPECT_TRUE(backend.Shown("HISTORY")->Controls.at(10).Hidden);
}

}  // namespace
}  // namespace rt
