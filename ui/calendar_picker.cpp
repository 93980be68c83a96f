#include "ui/calendar_picker.h"

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/core/dates.h"
#include "runtime/core/pictures.h"
#include "runtime/core/text.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/bind_scope.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/window.h"

namespace ui {
namespace {

// CALENDARSCREEN's controls.
constexpr int kTitleBg = 1, kBodyBg = 2, kMonthYear = 3, kSun = 4, kDay1 = 12, kDay42 = 53,
              kToday = 55, kClose = 56, kPrevYear = 57, kPrevMonth = 58, kPrevWeek = 59,
              kNextWeek = 60, kNextMonth = 61, kNextYear = 62;

// Weekdays are numbered 1 Monday .. 7 Sunday.
constexpr int kSaturday = 6, kSunday = 7;
constexpr const char* kWeekdayAbbreviations[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* kWeekdayNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                         "Friday", "Saturday", "Sunday"};
constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};

rt::WindowResource MakeCalendarScreen() {
  using Kind = rt::ControlKind;
  rt::WindowResource w;
  w.Name = "CALENDARSCREEN";
  w.Caption = "Calendar";
  w.Font = {"Sans Serif", 8, 400};
  w.Width = 154;
  w.Height = 138;
  auto add = [&w](int number, std::string label, Kind kind, rt::Rect at, std::string text = {},
                  char align = 'L') -> rt::ControlResource& {
    rt::ControlResource& c =
        w.Controls.emplace_back(rt::MakeControl(number, std::move(label), kind, at, std::move(text)));
    c.Align = align;
    return c;
  };
  // The title band: the month's name between the steps by month and year.
  add(kTitleBg, "?TITLEBG", Kind::Panel, {0, 0, 154, 18});
  add(kBodyBg, "?BODYBG", Kind::Panel, {0, 18, 154, 120});
  add(kMonthYear, "?MONTHYEAR", Kind::Text, {36, 4, 82, 10}, {}, 'C');
  const char* headers[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (int i = 0; i < 7; ++i)
    add(kSun + i, std::string("?") + headers[i], Kind::Text, {7 + 20 * i, 21, 20, 9}, headers[i],
        'C');
  add(11, "?LINE1", Kind::Line, {4, 31, 146, 1});
  for (int b = kDay1; b <= kDay42; ++b) {
    const int i = b - kDay1;
    add(b, "?DAY" + std::to_string(i + 1), Kind::Button,
        {8 + 20 * (i % 7), 34 + 13 * (i / 7), 18, 12});
  }
  add(54, "?LINE2", Kind::Line, {4, 114, 146, 1});
  add(kToday, "?TODAY", Kind::Button, {4, 119, 40, 14}, "&Today");
  add(kClose, "?CLOSE", Kind::Button, {110, 119, 40, 14}, "&Close");
  struct Navigation {
    int Number;
    const char* Label;
    rt::Rect At;
    const char* Icon;
    const char* Tip;
  };
  const Navigation navigation[] = {
      {kPrevYear, "?PREVYEAR", {4, 3, 14, 12}, "PREVYEAR.ICO", "Previous Year"},
      {kPrevMonth, "?PREVMONTH", {20, 3, 14, 12}, "PREVMONTH.ICO", "Previous Month"},
      {kPrevWeek, "?PREVWEEK", {56, 119, 18, 14}, "PREVWEEK.ICO", "Previous Week"},
      {kNextWeek, "?NEXTWEEK", {80, 119, 18, 14}, "NEXTWEEK.ICO", "Next Week"},
      {kNextMonth, "?NEXTMONTH", {120, 3, 14, 12}, "NEXTMONTH.ICO", "Next Month"},
      {kNextYear, "?NEXTYEAR", {136, 3, 14, 12}, "NEXTYEAR.ICO", "Next Year"},
  };
  for (const auto& n : navigation) {
    auto& c = add(n.Number, n.Label, Kind::Button, n.At);
    c.Icon = n.Icon;
    c.Tip = n.Tip;
  }
  return w;
}

// A day or month number as the day buttons show it: " 7", "31".
std::string DayText(int n) { return std::string(rt::TrimRight(rt::Format(n, "P##P"))); }

bool Known(std::int32_t date) { return date >= rt::kFirstDay && date <= rt::kLastDay; }

}  // namespace

const rt::WindowResource& CalendarScreen() {
  static const rt::WindowResource resource = MakeCalendarScreen();
  return resource;
}

// One call of SelectDate: the window and what the loop keeps between events.
class CalendarPicker::Session {
 public:
  Session(CalendarPicker& picker, rt::Window& window) : p_(picker), w_(window) {}

  std::int32_t Run(std::string_view title, std::int32_t date);

 private:
  int HandleEvent();
  int HandleControlEvent(int event, int control);
  void Redraw();
  // Moves the current date (a day step): the result follows it.
  void StepTo(std::int32_t date);
  // Moves by whole months, keeping the day where the new month has it.
  void StepMonths(int months);
  // Moves the focus to the next (1) or previous (-1) stop of the Tab order.
  void TabTo(int step);
  // The day and date a day button stands for in the month shown.
  int ButtonDay(int button) const { return button - p_.CtrlDay1 - offset_ + 1; }
  std::int32_t ButtonDate(int button) const {
    return rt::Date(drawnMonth_, ButtonDay(button), drawnYear_);
  }
  int DayButton(int day) const { return p_.CtrlDay1 + offset_ + day - 1; }
  bool IsDayButton(int control) const {
    return p_.CtrlDay1 != 0 && control >= p_.CtrlDay1 && control <= p_.CtrlDay42;
  }
  void PaintDay(int button, int day, int column);
  bool Is(int control, std::int16_t field) const { return field != 0 && control == field; }

  CalendarPicker& p_;
  rt::Window& w_;
  std::int32_t current_ = 0;   // the date the grid shows in bold
  std::int32_t previous_ = 0;  // the current date when the grid was last brought up to date
  std::int32_t result_ = 0;    // what a completed call returns
  std::int32_t start_ = 0;     // what a cancelled call returns
  std::int32_t time_ = 0;      // shown by CtrlCurrTime
  std::string monthYear_;      // shown by CtrlMonthYear
  int drawnMonth_ = 0, drawnYear_ = 0;
  int offset_ = 0;  // grid column of the 1st of the month shown, 0..6
  int saturdayColumn_ = 0, sundayColumn_ = 0;  // 1..7
  bool opened_ = false;
};

std::int32_t CalendarPicker::Session::Run(std::string_view title, std::int32_t date) {
  rt::PushBind(1);
  if (p_.CtrlCurrTime) w_.SetProperty(p_.CtrlCurrTime, rt::PropUse, &time_);
  if (p_.CtrlMonthYear) w_.SetProperty(p_.CtrlMonthYear, rt::PropUse, &monthYear_);
  if (p_.CtrlTheDate) w_.SetProperty(p_.CtrlTheDate, rt::PropUse, &current_);

  p_.FirstWeekday = kSunday;
  p_.Customize();
  if (p_.FirstWeekday == 0 || p_.FirstWeekday > 7) p_.FirstWeekday = kSunday;
  for (int column = 1; column <= 7; ++column) {
    const int weekday = (p_.FirstWeekday - 1 + column - 1) % 7 + 1;
    if (p_.CtrlSun)
      w_.SetProperty(p_.CtrlSun + column - 1, rt::PropText, kWeekdayAbbreviations[weekday - 1]);
    if (weekday == kSaturday) saturdayColumn_ = column;
    if (weekday == kSunday) sundayColumn_ = column;
  }

  p_.SelectedDate = 0;
  p_.Response = RequestCancelled;
  if (date == 0 || date < rt::Date(1, 1, 1801) || date > rt::Date(12, 31, 2099)) date = rt::Today();
  current_ = previous_ = result_ = start_ = date;
  if (rt::KeyCode() == rt::KeyPointer) rt::SetKeyCode(0);

  if (p_.XPos != 0)
    w_.SetProperty(0, rt::PropXPos,
                   p_.RightAlignment ? p_.XPos - w_.GetProperty(0, rt::PropWidth).Number()
                                     : p_.XPos);
  if (p_.YPos != 0) w_.SetProperty(0, rt::PropYPos, p_.YPos);

  // Enter and Space are left to the runtime: they press the focused button.
  for (int key : {rt::KeyDown, rt::KeyRight, rt::KeyUp, rt::KeyLeft, rt::KeyPageUp,
                  rt::KeyPageDown, rt::KeyHome, rt::KeyEnd, rt::KeyTab, rt::KeyShiftTab})
    w_.Alert(key);
  time_ = rt::Clock();
  Redraw();

  // A title must not change the height the window was laid out for.
  const auto height = w_.GetProperty(0, rt::PropHeight).Number();
  w_.SetProperty(0, rt::PropText, rt::TrimBlanks(title).empty() ? std::string_view() : title);
  w_.Display();
  if (const auto now = w_.GetProperty(0, rt::PropHeight).Number(); now != height)
    w_.SetProperty(0, rt::PropHeight, height);

  p_.Response = RequestCancelled;
  rt::ServeEvents([this] { return HandleEvent(); });

  const std::int32_t chosen = p_.Response == RequestCancelled ? start_ : result_;
  p_.SelectedDate = chosen;
  p_.XPos = p_.YPos = 0;
  rt::PopBind();
  return chosen;
}

int CalendarPicker::Session::HandleEvent() {
  const int event = rt::CurrentEvent();
  const int control = rt::EventControl();
  switch (event) {
    case rt::EventAlertKey: {
      const int month = rt::Month(current_), year = rt::Year(current_);
      switch (rt::KeyCode()) {
        case rt::KeyUp: StepTo(current_ - 7); break;
        case rt::KeyDown: StepTo(current_ + 7); break;
        case rt::KeyLeft: StepTo(current_ - 1); break;
        case rt::KeyRight: StepTo(current_ + 1); break;
        case rt::KeyPageUp: StepMonths(-1); break;
        case rt::KeyPageDown: StepMonths(1); break;
        case rt::KeyHome: StepTo(rt::Date(month, 1, year)); break;
        case rt::KeyEnd: StepTo(rt::Date(month, rt::DaysInMonth(month, year), year)); break;
        case rt::KeyTab: TabTo(1); return 0;
        case rt::KeyShiftTab: TabTo(-1); return 0;
        default: return 0;
      }
      // The focus follows the date onto its day, where Enter picks it.
      if (p_.CtrlDay1) w_.Select(DayButton(rt::Day(current_)));
      return 0;
    }
    case rt::EventOpenWindow:
      if (!opened_) {
        opened_ = true;
        w_.Display();
      }
      if (p_.CtrlExit) w_.Select(p_.CtrlExit);
      break;
    case rt::EventGainFocus: w_.Display(); break;
    case rt::EventTimer:
      time_ = rt::Clock();
      if (p_.CtrlCurrTime) w_.Display(p_.CtrlCurrTime);
      break;
    case rt::EventRejected:
      rt::Beep(150, 16);
      w_.Display(control);
      w_.Select(control);
      break;
    default: break;
  }
  return control != 0 ? HandleControlEvent(event, control) : 0;
}

int CalendarPicker::Session::HandleControlEvent(int event, int control) {
  if (IsDayButton(control)) {
    if (event != rt::EventAccepted && event != rt::EventSelected) return 0;
    const std::int32_t date = ButtonDate(control);
    if (!Known(date)) return 0;
    // The clicked or focused day is the one a completed call returns.
    current_ = result_ = date;
    Redraw();
    previous_ = current_;
    if (event == rt::EventSelected) return 0;
    p_.Response = RequestCompleted;
    if (p_.CtrlExit)
      w_.Post(rt::EventAccepted, p_.CtrlExit);
    else
      w_.Post(rt::EventCloseWindow);
    return 1;
  }
  if (event != rt::EventAccepted) return 0;
  if (Is(control, p_.CtrlToday)) StepTo(rt::Today());
  else if (Is(control, p_.CtrlPrevMonth)) StepMonths(-1);
  else if (Is(control, p_.CtrlNextMonth)) StepMonths(1);
  else if (Is(control, p_.CtrlPrevYear)) StepMonths(-12);
  else if (Is(control, p_.CtrlNextYear)) StepMonths(12);
  else if (Is(control, p_.CtrlLess1)) StepTo(current_ - 1);
  else if (Is(control, p_.CtrlMore1)) StepTo(current_ + 1);
  else if (Is(control, p_.CtrlLess7)) StepTo(current_ - 7);
  else if (Is(control, p_.CtrlMore7)) StepTo(current_ + 7);
  else if (Is(control, p_.CtrlLess15)) StepTo(current_ - 15);
  else if (Is(control, p_.CtrlMore15)) StepTo(current_ + 15);
  else if (Is(control, p_.CtrlCancel)) {
    p_.Response = RequestCancelled;
    w_.Post(rt::EventCloseWindow);
  } else if (Is(control, p_.CtrlExit)) {
    if (p_.SelectOnClose) p_.Response = RequestCompleted;
    w_.Post(rt::EventCloseWindow);
  }
  return 0;
}

// The grid is one stop of the Tab order, its current day's button: Tab and
// Shift+Tab go through the grid and the buttons around it in control order
// instead of through all forty-two days.
void CalendarPicker::Session::TabTo(int step) {
  const int focus = rt::FocusedControl();
  const int current = p_.CtrlDay1 ? DayButton(rt::Day(current_)) : 0;
  const bool inGrid = IsDayButton(focus);
  std::vector<int> stops;
  for (const rt::ControlState& c : w_.Controls())
    if (c.Focusable() && (!IsDayButton(c.Number) || c.Number == current)) stops.push_back(c.Number);
  if (stops.empty()) return;
  const auto at = std::find(stops.begin(), stops.end(), inGrid ? current : focus);
  const int count = static_cast<int>(stops.size());
  const int from = at == stops.end() ? (step > 0 ? count - 1 : 0) : static_cast<int>(at - stops.begin());
  w_.Select(stops[static_cast<std::size_t>(((from + step) % count + count) % count)]);
}

void CalendarPicker::Session::StepTo(std::int32_t date) {
  if (!Known(date)) return;
  current_ = result_ = date;
  Redraw();
  previous_ = current_;
}

void CalendarPicker::Session::StepMonths(int months) {
  int month = rt::Month(current_) + months % 12;
  int year = rt::Year(current_) + months / 12;
  if (month < 1) {
    month += 12;
    --year;
  } else if (month > 12) {
    month -= 12;
    ++year;
  }
  if (year < 1801 || year > 9999) return;
  const int day = rt::Day(current_);
  const std::int32_t date =
      rt::Date(month, day <= rt::DaysInMonth(month, year) ? day : 1, year);
  previous_ = date;
  StepTo(date);
}

void CalendarPicker::Session::Redraw() {
  const int month = rt::Month(current_), day = rt::Day(current_), year = rt::Year(current_);
  if (p_.CtrlMonthText) w_.SetProperty(p_.CtrlMonthText, rt::PropText, DayText(month));
  if (p_.CtrlDayText) w_.SetProperty(p_.CtrlDayText, rt::PropText, DayText(day));
  if (p_.CtrlYearText) w_.SetProperty(p_.CtrlYearText, rt::PropText, std::to_string(year));
  if (p_.CtrlDowText) {
    // DayOfWeek counts from Sunday = 0; the name table from Monday.
    const int weekday = (rt::DayOfWeek(current_) + 6) % 7;
    w_.SetProperty(p_.CtrlDowText, rt::PropText, kWeekdayNames[weekday]);
  }
  if (p_.CtrlTheDate) w_.Display(p_.CtrlTheDate);
  if (p_.CtrlDay1 == 0) return;

  if (month != drawnMonth_ || year != drawnYear_) {
    monthYear_ = std::string(kMonthNames[month - 1]) + " " + std::to_string(year);
    if (p_.CtrlMonthYear) w_.Display(p_.CtrlMonthYear);
    // Day numbers count from 3 January 1993, a Sunday.
    const std::int32_t first = rt::Date(month, 1, year);
    offset_ = static_cast<int>(((first - rt::Date(1, 3, 1993) - p_.FirstWeekday + 7) % 7 + 7) % 7);
    const int days = rt::DaysInMonth(month, year);
    drawnMonth_ = month;
    drawnYear_ = year;
    for (int b = p_.CtrlDay1; b <= p_.CtrlDay42; ++b) {
      const int n = ButtonDay(b);
      if (n < 1 || n > days) {
        w_.Hide(b);
        continue;
      }
      w_.Unhide(b);
      PaintDay(b, n, (b - p_.CtrlDay1) % 7 + 1);
    }
  } else if (current_ != previous_) {
    const int before = DayButton(rt::Day(previous_));
    w_.SetProperty(before, rt::PropText, DayText(rt::Day(previous_)));
    w_.SetProperty(before, rt::PropFontStyle, kDayStyle);
    w_.SetProperty(DayButton(day), rt::PropFontStyle, kCurrentDayStyle);
  }
}

void CalendarPicker::Session::PaintDay(int button, int day, int column) {
  w_.SetProperty(button, rt::PropText, DayText(day));
  const std::int32_t color = column == sundayColumn_     ? p_.ColorSunday
                             : column == saturdayColumn_ ? p_.ColorSaturday
                                                         : p_.ColorOther;
  w_.SetProperty(button, rt::PropFontColor, color);
  w_.SetProperty(button, rt::PropFontStyle, kDayStyle);
  if (p_.IsHoliday(day, drawnMonth_, drawnYear_, static_cast<std::uint8_t>(day)))
    w_.SetProperty(button, rt::PropFontColor, p_.ColorHoliday);
  if (day == rt::Day(current_)) w_.SetProperty(button, rt::PropFontStyle, kCurrentDayStyle);
}

std::int32_t CalendarPicker::SelectDate(std::string_view title, std::int32_t date) {
  rt::Window window(CalendarScreen());
  rt::Window* owner = rt::CurrentWindow();
  const int opened = owner ? rt::OpenOwnedWindow(window, *owner) : rt::OpenWindow(window);
  CtrlTitleBG = kTitleBg;
  CtrlBodyBG = kBodyBg;
  CtrlMonthYear = kMonthYear;
  CtrlSun = kSun;
  CtrlDay1 = kDay1;
  CtrlDay42 = kDay42;
  CtrlToday = kToday;
  CtrlExit = kClose;
  CtrlPrevYear = kPrevYear;
  CtrlPrevMonth = kPrevMonth;
  CtrlLess7 = kPrevWeek;
  CtrlMore7 = kNextWeek;
  CtrlNextMonth = kNextMonth;
  CtrlNextYear = kNextYear;
  CtrlMore15 = CtrlLess15 = CtrlCurrTime = CtrlTheDate = 0;
  if (opened != 0) {
    // Nothing can be shown: the caller keeps the date it had.
    Response = RequestCancelled;
    SelectedDate = date;
    XPos = YPos = 0;
    return date;
  }
  const std::int32_t chosen = Session(*this, window).Run(title, date);
  rt::CloseWindow(window);
  return chosen;
}

void CalendarPicker::Customize() {}

std::uint8_t CalendarPicker::IsHoliday(int, int, int, std::uint8_t) { return 0; }

}  // namespace ui
