// The windows the program will show, and small window procedures that run
// them the way the program does: the purge's progress window (timer,
// thermometer, cancel), the cut-off dialog with its date entry and the
// calendar opened over it, and the error history window with its list. The
// calendar and the history window are the program's own (ui/); the others
// are declared here until the program has them. Every backend's tests drive
// these same windows.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "runtime/core/dates.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window_resource.h"
#include "ui/calendar_picker.h"
#include "ui/message_window.h"

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

// The calendar is the program's own: its resource and its picker (ui/).
inline const WindowResource& CalendarScreen() { return ui::CalendarScreen(); }

// The calendar as the dialog runs it: Close takes the date shown. Sets
// *completed when a date was chosen; else returns the start date.
inline std::int32_t PickDate(std::int32_t start, bool* completed) {
  ui::CalendarPicker picker;
  picker.SelectOnClose = 1;
  const std::int32_t picked = picker.SelectDate("Select a Date", start);
  *completed = picker.Response == ui::RequestCompleted;
  return picked;
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

// The error history window's resource (ui/); ui::ShowHistoryWindow runs it.
inline const WindowResource& HistoryWindow() { return ui::HistoryWindowResource(); }

}  // namespace rt::testing
