// The program's own windows (app/window_layouts.h, app/select_last_date.h), driven
// only through an operator script: the purge's progress window (timer,
// thermometer, cancel), and the cut-off dialog with its date entry and the
// calendar opened over it. The history window's tests are in tests/ui.
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

// The second Enter finds the focus on OK, not on the calendar button.
TEST_F(HeadlessTest, CalendarArrowKeysPickTheDateAndTheNextEnterIsOk) {
  ASSERT_TRUE(backend.LoadScript(
      "type ?LASTDATE 2/27/2020\naccept ?CALENDAR\nkey Right\nkey Right\nkey Down\nkey Enter\n"
      "expect QUICKWINDOW\nkey Enter\n"));
  std::int32_t lastDate = 0;
  EXPECT_EQ(RunCutoffDialog(lastDate), 1);
  EXPECT_EQ(lastDate, Date(3, 7, 2020)) << "27 Feb 2020 + 2 days crosses the leap day, + 7";
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

// A date the entry cannot read stays as typed, keeps the focus through Tab,
// and the entry says how to type one; the date the dialog holds is unchanged.
TEST_F(HeadlessTest, UnreadableDatesStayAsTypedAndSayHowToTypeOne) {
  for (const std::string typed : {"13/45/2021", "02/30/2021", "12/31/21", "2021-12-31", "abc"}) {
    ASSERT_TRUE(backend.LoadScript("type ?LASTDATE " + typed + "\nkey Tab\nkey Tab\naccept ?CANCEL\n"));
    std::int32_t lastDate = Date(6, 30, 2021);
    EXPECT_EQ(RunCutoffDialog(lastDate), 2);
    EXPECT_EQ(lastDate, Date(6, 30, 2021));
    const auto shown = backend.Shown("QUICKWINDOW");
    EXPECT_EQ(shown->Controls.at(5).Text, typed);
    EXPECT_EQ(shown->Controls.at(5).Hint, "Type a date as MM/DD/YYYY") << typed;
    EXPECT_EQ(shown->Focus, 5) << typed;
    EXPECT_THAT(backend.Problems(), IsEmpty());
  }
}

}  // namespace
}  // namespace rt
