#include "app/window_layouts.h"

#include <string>
#include <utility>

namespace app {
namespace {

const rt::FontResource kDialogFont{"Sans Serif", 8, 400};

// A button with its icon, tip and status-bar text.
rt::ControlResource Button(int number, std::string label, rt::Rect at, std::string text,
                           std::string icon, std::string tip, std::string status) {
  rt::ControlResource c = rt::MakeControl(number, std::move(label), rt::ControlKind::Button, at, std::move(text));
  c.Icon = std::move(icon);
  c.Tip = std::move(tip);
  c.StatusText = std::move(status);
  return c;
}

}  // namespace

rt::WindowResource ProgressWindowResource(std::uint8_t* thermometer) {
  using namespace progress;
  rt::WindowResource w;
  w.Name = "PROGRESSWINDOW";
  w.Caption = "Process Timecard";
  w.Font = kDialogFont;
  w.Width = 142;
  w.Height = 59;
  rt::ControlResource bar =
      rt::MakeControl(kThermometer, "?PROGRESS:THERMOMETER", rt::ControlKind::Progress, {15, 15, 111, 12});
  bar.RangeLow = 0;
  bar.RangeHigh = 100;
  bar.Use = thermometer;
  rt::ControlResource user =
      rt::MakeControl(kUserString, "?PROGRESS:USERSTRING", rt::ControlKind::Text, {0, 3, 141, 10});
  rt::ControlResource percent =
      rt::MakeControl(kPercentText, "?PROGRESS:PCTTEXT", rt::ControlKind::Text, {0, 30, 141, 10});
  // The texts span the window; centred they sit under the bar.
  user.Align = percent.Align = 'C';
  w.Controls = {bar, user, percent,
                Button(kCancel, "?PROGRESS:CANCEL", {46, 42, 49, 15}, "Cancel", "CANCEL.ICO",
                       "Cancel Process", "Cancel Process")};
  return w;
}

rt::WindowResource CutoffDialogResource(std::int32_t* lastDate) {
  using namespace cutoff;
  rt::WindowResource w;
  w.Name = "QUICKWINDOW";
  w.Caption = "Purge Punches Through";
  w.Font = kDialogFont;
  w.Width = 260;
  w.Height = 94;
  w.Resizable = true;
  rt::ControlResource entry = rt::MakeControl(kLastDate, "?LASTDATE", rt::ControlKind::Entry, {92, 22, 60, 10});
  entry.Picture = "D02B";
  entry.Use = lastDate;
  w.Controls = {
      Button(kOk, "?OK", {46, 63, 49, 14}, "&OK", "OK.ICO", "Accept operation", "Accept Operation"),
      Button(kCancel, "?CANCEL", {99, 63, 49, 14}, "&Cancel", "CANCEL.ICO", "Cancel Operation",
             "Cancel Operation"),
      Button(kHelp, "?HELP", {203, 63, 49, 14}, "&Help", "HELP.ICO", "See Help Window",
             "See Help Window"),
      rt::MakeControl(kLastDatePrompt, "?LASTDATE:PROMPT", rt::ControlKind::Prompt, {2, 23, 85, 10},
              "Last Date Of A Period"),
      entry,
      rt::MakeControl(kCalendar, "?CALENDAR", rt::ControlKind::Button, {157, 20, 12, 12}, "..."),
  };
  // OK is what Enter presses in the entry. Cancel leaves without reading
  // what was typed, so a half-typed date never becomes the cut-off.
  w.Controls[0].Default = true;
  w.Controls[1].Immediate = true;
  return w;
}

}  // namespace app
