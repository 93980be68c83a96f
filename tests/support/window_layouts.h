// The windows the program will show, declared as resources, and small window
// procedures that run them the way the program does: the purge's progress
// window (timer, thermometer, cancel), the cut-off dialog with its date entry
// and the calendar opened over it, and the error history window with its
// list. Every backend's tests drive these same windows.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/core/dates.h"
#include "runtime/core/pictures.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window_resource.h"

namespace rt::testing {

inline ControlResource LayoutControl(int number, std::string label, ControlKind kind, Rect at,
                                     std::string text = {}) {
  ControlResource c;
  c.Number = number;
  c.Label = std::move(label);
  c.Kind = kind;
  c.Position = at;
  c.Text = std::move(text);
  return c;
}

// ---- Progress window -------------------------------------------------------

inline WindowResource ProgressWindow(std::uint8_t* thermometer) {
  WindowResource w;
  w.Name = "PROGRESSWINDOW";
  w.Caption = "Process Timecard";
  w.Font = {"Sans Serif", 8, 400};
  w.Width = 142;
  w.Height = 59;
  w.Controls = {LayoutControl(1, "?PROGRESS:THERMOMETER", ControlKind::Progress, {15, 15, 111, 12}),
                LayoutControl(2, "?PROGRESS:USERSTRING", ControlKind::Text, {0, 3, 141, 10}),
                LayoutControl(3, "?PROGRESS:PCTTEXT", ControlKind::Text, {0, 30, 141, 10}),
                LayoutControl(4, "?PROGRESS:CANCEL", ControlKind::Button, {46, 42, 49, 15}, "Cancel")};
  w.Controls[0].Use = thermometer;
  w.Controls[1].Align = w.Controls[2].Align = 'C';
  w.Controls[3].Icon = "CANCEL.ICO";
  w.Controls[3].Tip = w.Controls[3].StatusText = "Cancel Process";
  return w;
}

// A batch process as the purge runs it: hidden at first, then each timer
// tick takes a few records and moves the thermometer; Cancel ends it between
// ticks. Returns the number of records taken.
inline int RunProcess(int records, int perTick) {
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

// ---- Cut-off dialog and calendar -------------------------------------------

inline WindowResource CutoffDialog(std::int32_t* lastDate) {
  WindowResource w;
  w.Name = "QUICKWINDOW";
  w.Caption = "Purge Punches Through";
  w.Font = {"Sans Serif", 8, 400};
  w.Width = 260;
  w.Height = 94;
  w.Controls = {LayoutControl(1, "?OK", ControlKind::Button, {46, 63, 49, 14}, "&OK"),
                LayoutControl(2, "?CANCEL", ControlKind::Button, {99, 63, 49, 14}, "&Cancel"),
                LayoutControl(3, "?HELP", ControlKind::Button, {203, 63, 49, 14}, "&Help"),
                LayoutControl(4, "?LASTDATE:PROMPT", ControlKind::Prompt, {2, 23, 85, 10}, "Last Date Of A Period"),
                LayoutControl(5, "?LASTDATE", ControlKind::Entry, {92, 22, 60, 10}),
                LayoutControl(6, "?CALENDAR", ControlKind::Button, {157, 20, 12, 12}, "...")};
  const char* icons[] = {"OK.ICO", "CANCEL.ICO", "HELP.ICO"};
  const char* tips[] = {"Accept operation", "Cancel Operation", "See Help Window"};
  for (int i = 0; i < 3; ++i) {
    w.Controls[i].Icon = icons[i];
    w.Controls[i].Tip = tips[i];
  }
  w.Controls[1].Immediate = true;
  w.Controls[4].Picture = "D02B";
  w.Controls[4].Use = lastDate;
  return w;
}

inline constexpr int kDay1 = 12, kDay42 = 53, kToday = 55, kExit = 56, kPrevMonth = 58, kNextMonth = 61;
inline constexpr int kRed = 255;

inline WindowResource CalendarScreen() {
  WindowResource w;
  w.Name = "CALENDARSCREEN";
  w.Caption = "Calendar";
  w.Width = 150;
  w.Height = 140;
  w.Controls = {LayoutControl(1, "?TITLEBG", ControlKind::Panel, {0, 0, 150, 14}),
                LayoutControl(2, "?BODYBG", ControlKind::Panel, {0, 14, 150, 110}),
                LayoutControl(3, "?MONTHYEAR", ControlKind::Text, {30, 2, 90, 10})};
  w.Controls[2].Align = 'C';
  const char* names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (int i = 0; i < 7; ++i) {
    w.Controls.push_back(
        LayoutControl(4 + i, std::string("?") + names[i], ControlKind::Text, {6 + 20 * i, 16, 18, 8}, names[i]));
    w.Controls.back().Align = 'C';
  }
  w.Controls.push_back(LayoutControl(11, "?LINE1", ControlKind::Line, {0, 25, 150, 1}));
  for (int b = kDay1; b <= kDay42; ++b) {
    const int i = b - kDay1;
    w.Controls.push_back(LayoutControl(b, "?DAY" + std::to_string(i + 1), ControlKind::Button,
                                       {6 + 20 * (i % 7), 28 + 14 * (i / 7), 18, 12}));
  }
  w.Controls.push_back(LayoutControl(54, "?LINE2", ControlKind::Line, {0, 114, 150, 1}));
  w.Controls.push_back(LayoutControl(kToday, "?TODAY", ControlKind::Button, {4, 118, 40, 14}, "&Today"));
  w.Controls.push_back(LayoutControl(kExit, "?CLOSE", ControlKind::Button, {106, 118, 40, 14}, "&Close"));
  const char* tips[] = {"Previous Year", "Previous Month", "Previous Week", "Next Week", "Next Month", "Next Year"};
  const char* icons[] = {"PREVYEAR.ICO", "PREVMONTH.ICO", "PREVWEEK.ICO", "NEXTWEEK.ICO", "NEXTMONTH.ICO", "NEXTYEAR.ICO"};
  for (int i = 0; i < 6; ++i) {
    ControlResource c = LayoutControl(57 + i, "?NAV" + std::to_string(i + 1), ControlKind::Button, {46 + 10 * i, 118, 9, 14});
    c.Tip = tips[i];
    c.Icon = icons[i];
    w.Controls.push_back(c);
  }
  return w;
}

// A calendar as the picker runs it over the dialog: a 42-day grid starting on
// Sunday with red week-ends and the current day in bold, arrow keys as alert
// keys, a clicked day answers at once.
inline std::int32_t PickDate(std::int32_t start, bool* completed) {
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
      const int column = (b - kDay1) % 7;
      SetProperty(b, PropText, Format(n, "P##P"));
      SetProperty(b, PropFontColor, column == 0 || column == 6 ? kRed : 0);
      SetProperty(b, PropFontStyle, n == Day(current) ? 0x22BC : 400);
    }
  };
  auto dayOf = [&](int button) {
    return Date(Month(current), button - kDay1 - DayOfWeek(Date(Month(current), 1, Year(current))) + 1, Year(current));
  };
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
    if (EndEventLoop(mode)) break;
  } while (true);
  CloseWindow(window);
  return *completed ? result : start;
}

// The dialog: OK refuses dates from 2024 on with a message, the calendar
// button opens the calendar and shows its choice in the entry at once. A
// rejected entry beeps and keeps the focus. Returns 1 for OK, 2 for Cancel.
inline int RunCutoffDialog(std::int32_t& lastDate) {
  Window window(CutoffDialog(&lastDate));
  OpenWindow(window);
  int response = 2;
  ServeEvents([&] {
    switch (CurrentEvent()) {
      case EventOpenWindow: Select(1); break;
      case EventRejected:
        Beep(150, 16);
        Display(EventControl());
        Select(EventControl());
        break;
    }
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

// ---- Error history window --------------------------------------------------

inline WindowResource HistoryWindow() {
  WindowResource w;
  w.Name = "HISTORY";
  w.Caption = "Error";
  w.Width = 320;
  w.Height = 96;
  w.Controls = {LayoutControl(1, "?IMAGE", ControlKind::Image, {2, 4, 26, 28}),
                LayoutControl(2, "?LIST", ControlKind::List, {32, 4, 286, 71})};
  w.Controls[0].Icon = StockIcon(kStockInformation);
  w.Controls[1].ListFormat = "217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~L(1)@s255@";
  for (int i = 0; i < 8; ++i) {
    ControlResource button =
        LayoutControl(3 + i, "?BUTTON" + std::to_string(i + 1), ControlKind::Button, {284 - 40 * i, 80, 36, 14});
    button.Hidden = true;
    w.Controls.push_back(button);
  }
  return w;
}

}  // namespace rt::testing
