// The windows the program will show, declared as resources and driven only
// through the window runtime and an operator script: the purge's progress
// window (timer, thermometer, cancel), the cut-off dialog with its date entry
// and the calendar opened over it, and the error history window with its list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/core/dates.h"
#include "runtime/core/pictures.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "tests/runtime/windows/headless_fixture.h"

namespace rt {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::HeadlessTest;

ControlResource Control(int number, std::string label, ControlKind kind, Rect at, std::string text = {}) {
  return testing::MakeControl(number, std::move(label), kind, at, std::move(text));
}

// ---- Progress window -------------------------------------------------------

WindowResource ProgressWindow(std::uint8_t* thermometer) {
  WindowResource w;
  w.Name = "PROGRESSWINDOW";
  w.Caption = "Process Timecard";
  w.Font = {"Sans Serif", 8, 400};
  w.Width = 142;
  w.Height = 59;
  w.Controls = {Control(1, "?PROGRESS:THERMOMETER", ControlKind::Progress, {15, 15, 111, 12}),
                Control(2, "?PROGRESS:USERSTRING", ControlKind::Text, {0, 3, 141, 10}),
                Control(3, "?PROGRESS:PCTTEXT", ControlKind::Text, {0, 30, 141, 10}),
                Control(4, "?PROGRESS:CANCEL", ControlKind::Button, {46, 42, 49, 15}, "Cancel")};
  w.Controls[0].Use = thermometer;
  w.Controls[3].Icon = "CANCEL.ICO";
  w.Controls[3].Tip = w.Controls[3].StatusText = "Cancel Process";
  return w;
}

// A batch process as the purge runs it: hidden at first, then each timer
// tick takes a few records and moves the thermometer; Cancel ends it between
// ticks. Returns the number of records taken.
int RunProcess(int records, int perTick) {
  std::uint8_t thermometer = 0;
  Window window(ProgressWindow(&thermometer));
  OpenWindow(window);
  SetProperty(0, PropText, "Processing Records");
  SetProperty(3, PropText, "0% Completed");
  SetProperty(2, PropText, "");
  SetProperty(0, PropTimer, 10);
  Hide(0);
  int taken = 0;
  ServeEvents([&] {
    switch (CurrentEvent()) {
      case EventTimer:
        Unhide(0);
        for (int i = 0; i < perTick && taken < records; ++i) ++taken;
        if (const int p = taken * 100 / records; p != thermometer) {
          thermometer = static_cast<std::uint8_t>(p);
          SetProperty(3, PropText, std::to_string(p) + "% Complete");
          Display();
        }
        if (taken == records) {
          SetProperty(0, PropTimer, 0);
          Post(EventCloseWindow);
        }
        break;
      case EventAccepted:
        if (AcceptedControl() == 4) Post(EventCloseWindow);
        break;
    }
    return 0;
  });
  return taken;
}

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

// ---- Cut-off dialog and calendar -----------------------------------------------

WindowResource CutoffDialog(std::int32_t* lastDate) {
  WindowResource w;
  w.Name = "QUICKWINDOW";
  w.Caption = "Purge Punches Through";
  w.Font = {"Sans Serif", 8, 400};
  w.Width = 260;
  w.Height = 94;
  w.Controls = {Control(1, "?OK", ControlKind::Button, {46, 63, 49, 14}, "&OK"),
                Control(2, "?CANCEL", ControlKind::Button, {99, 63, 49, 14}, "&Cancel"),
                Control(3, "?HELP", ControlKind::Button, {203, 63, 49, 14}, "&Help"),
                Control(4, "?LASTDATE:PROMPT", ControlKind::Prompt, {2, 23, 85, 10}, "Last Date Of A Period"),
                Control(5, "?LASTDATE", ControlKind::Entry, {92, 22, 60, 10}),
                Control(6, "?CALENDAR", ControlKind::Button, {157, 20, 12, 12}, "...")};
  w.Controls[1].Immediate = true;
  w.Controls[4].Picture = "D02B";
  w.Controls[4].Use = lastDate;
  return w;
}

constexpr int kDay1 = 12, kDay42 = 53, kToday = 55, kExit = 56, kPrevMonth = 58, kNextMonth = 61;

WindowResource CalendarScreen() {
  WindowResource w;
  w.Name = "CALENDARSCREEN";
  w.Caption = "Calendar";
  w.Width = 150;
  w.Height = 140;
  w.Controls = {Control(1, "?TITLEBG", ControlKind::Panel, {0, 0, 150, 14}),
                Control(2, "?BODYBG", ControlKind::Panel, {0, 14, 150, 110}),
                Control(3, "?MONTHYEAR", ControlKind::Text, {30, 2, 90, 10})};
  const char* names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (int i = 0; i < 7; ++i) w.Controls.push_back(Control(4 + i, std::string("?") + names[i], ControlKind::Text, {4 + 20 * i, 16, 18, 8}, names[i]));
  w.Controls.push_back(Control(11, "?LINE1", ControlKind::Line, {0, 25, 150, 1}));
  for (int b = kDay1; b <= kDay42; ++b) {
    const int i = b - kDay1;
    w.Controls.push_back(Control(b, "?DAY" + std::to_string(i + 1), ControlKind::Button, {4 + 20 * (i % 7), 28 + 14 * (i / 7), 18, 12}));
  }
  w.Controls.push_back(Control(54, "?LINE2", ControlKind::Line, {0, 114, 150, 1}));
  w.Controls.push_back(Control(kToday, "?TODAY", ControlKind::Button, {4, 118, 40, 14}, "&Today"));
  w.Controls.push_back(Control(kExit, "?CLOSE", ControlKind::Button, {106, 118, 40, 14}, "&Close"));
  const char* tips[] = {"Previous Year", "Previous Month", "Previous Week", "Next Week", "Next Month", "Next Year"};
  for (int i = 0; i < 6; ++i) {
    ControlResource c = Control(57 + i, "?NAV" + std::to_string(i + 1), ControlKind::Button, {46 + 10 * i, 118, 9, 14});
    c.Tip = tips[i];
    w.Controls.push_back(c);
  }
  return w;
}

// A calendar as the picker runs it over the dialog: a 42-day grid starting on
// Sunday, arrow keys as alert keys, a clicked day answers at once.
std::int32_t PickDate(std::int32_t start, bool* completed) {
  Window window(CalendarScreen());
  OpenWindow(window);
  std::int32_t current = start;
  std::int32_t result = start;
  *completed = false;
  auto redraw = [&] {
    const int month = Month(current), year = Year(current);
    const std::int32_t first = Date(month, 1, year);
    const int offset = DayOfWeek(first);
    const int days = Day(Date(month + 1, 1, year) - 1);
    const char* monthNames[] = {"January", "February", "March", "April", "May", "June", "July",
                                "August", "September", "October", "November", "December"};
    SetProperty(3, PropText, std::string(monthNames[month - 1]) + " " + std::to_string(year));
    for (int b = kDay1; b <= kDay42; ++b) {
      const int n = b - kDay1 - offset + 1;
      if (n < 1 || n > days) {
        Hide(b);
        continue;
      }
      Unhide(b);
      SetProperty(b, PropText, Format(n, "P##P"));
      SetProperty(b, PropFontStyle, n == Day(current) ? 0x22BC : 400);
    }
  };
  auto dayOf = [&](int button) { return Date(Month(current), button - kDay1 - DayOfWeek(Date(Month(current), 1, Year(current))) + 1, Year(current)); };
  for (int key : {KeyEnter, KeyDown, KeyRight, KeyUp, KeyLeft}) Alert(key);
  redraw();
  StartEventLoop();
  do {
    int mode = 0;
    const int control = EventControl();
    switch (CurrentEvent()) {
      case EventOpenWindow: Select(kExit); break;
      case EventAlertKey:
        if (KeyCode() == KeyRight) current += 1;
        if (KeyCode() == KeyLeft) current -= 1;
        if (KeyCode() == KeyDown) current += 7;
        if (KeyCode() == KeyUp) current -= 7;
        if (KeyCode() == KeyEnter) {
          if (FocusedControl() == kExit) Post(EventAccepted, kExit); else PressKey(KeyTab);
          mode = 1;
          break;
        }
        result = current;
        redraw();
        Select(kExit);
        break;
      case EventAccepted:
        if (control >= kDay1 && control <= kDay42) {
          current = result = dayOf(control);
          redraw();
          *completed = true;
          Post(EventAccepted, kExit);
          mode = 1;
        } else if (control == kPrevMonth || control == kNextMonth) {
          current = Date(Month(current) + (control == kNextMonth ? 1 : -1), 1, Year(current));
          result = current;
          redraw();
        } else if (control == kExit) {
          *completed = true;  // the dialog asks for the current date on close
          Post(EventCloseWindow);
        }
        break;
    }
    (void)mode;
    if (EndEventLoop(mode)) break;
  } while (true);
  CloseWindow(window);
  return *completed ? result : start;
}

// The dialog: OK refuses dates from 2024 on with a message, the calendar
// button opens the calendar and shows its choice in the entry at once.
int RunCutoffDialog(std::int32_t& lastDate) {
  Window window(CutoffDialog(&lastDate));
  OpenWindow(window);
  int response = 2;
  ServeEvents([&] {
    if (CurrentEvent() == EventOpenWindow) Select(1);
    switch (AcceptedControl()) {
      case 1:
        if (Year(lastDate) > 2023 && Month(lastDate) >= 1) {
          MessageBox("Date Not acceptable. Pick a date prior 01/2024.", "", {}, ButtonOk);
          Select(5);
          return 1;
        }
        response = 1;
        Post(EventCloseWindow);
        break;
      case 2: Post(EventCloseWindow); break;
      case 6: {
        bool completed = false;
        const std::int32_t picked = PickDate(lastDate, &completed);
        if (completed) {
          lastDate = picked;
          Display(5);
        }
        break;
      }
    }
    return 0;
  });
  return response;
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
  WindowResource w;
  w.Name = "HISTORY";
  w.Caption = "Error";
  w.Width = 320;
  w.Height = 96;
  w.Controls = {Control(1, "?IMAGE", ControlKind::Image, {2, 4, 26, 28}),
                Control(2, "?LIST", ControlKind::List, {32, 4, 286, 71})};
  w.Controls[1].ListFormat = "217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~L(1)@s255@";
  for (int i = 0; i < 8; ++i) {
    ControlResource button = Control(3 + i, "?BUTTON" + std::to_string(i + 1), ControlKind::Button, {284 - 40 * i, 80, 36, 14});
    button.Hidden = true;
    w.Controls.push_back(button);
  }
  const std::vector<std::pair<std::string, std::string>> history = {{"Disk full", "Tarvo"}, {"Record locked", "Tarvo"}};
  Window window(w);
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
