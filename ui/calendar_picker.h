// CalendarPicker: a month shown as 42 day buttons (six weeks of seven days),
// with buttons and arrow keys to move by days, weeks, months and years. It
// runs its own event loop over the caller's window and returns the chosen
// date; the caller's loop waits meanwhile.
//
//   ui::CalendarPicker picker;
//   picker.SelectOnClose = 1;                      // Close accepts the shown date
//   const std::int32_t date = picker.SelectDate("Select a Date", start);
//   if (picker.Response == ui::RequestCompleted) use(date);
//
// What the operator can do
//   a day button        clicked: that date, completed at once (whatever
//                       SelectOnClose says); focused (Tab): it becomes the
//                       current date
//   arrow keys          a day (Left, Right) or a week (Up, Down) back or
//                       forward; the focus goes to Close
//   Enter               on Close: Close; elsewhere: the next control
//   Today, the six      today; a year, a month or a week back or forward. A
//   navigation buttons  month step keeps the day when the new month has it,
//                       else goes to the 1st (31 January + 1 month = 1 February)
//   Close               completed with the current date when SelectOnClose is
//                       set; otherwise the start date, cancelled
//   Escape, close box   the start date, cancelled
// Steps that would leave the dates the runtime knows (1 January 1801 to
// 31 December 9999) do nothing.
//
// Threading: runs on the calling thread, which must be the user interface
// thread with a backend active.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/windows/window_resource.h"
#include "ui/window_controller.h"  // RequestCompleted, RequestCancelled

namespace ui {

// The picker's window, "CALENDARSCREEN". Control numbers, in the order the
// picker relies on: 1 title background, 2 body background, 3 month and year,
// 4-10 weekday headers (Sun .. Sat), 11 a line, 12-53 the day buttons in
// row order, 54 a line, 55 Today, 56 Close, 57-62 previous year, previous
// month, previous week, next week, next month, next year.
const rt::WindowResource& CalendarScreen();

// Text colours, 0x00BBGGRR; -1 is the backend's normal colour.
inline constexpr std::int32_t kColorRed = 0x0000FF;
inline constexpr std::int32_t kColorGreen = 0x008000;
inline constexpr std::int32_t kColorNormal = -1;

// Font styles of the day buttons: normal, and bold underlined for the
// current day.
inline constexpr int kDayStyle = 400;
inline constexpr int kCurrentDayStyle = 0x22BC;

class CalendarPicker {
 public:
  CalendarPicker() = default;
  virtual ~CalendarPicker() = default;
  CalendarPicker(const CalendarPicker&) = delete;
  CalendarPicker& operator=(const CalendarPicker&) = delete;

  // ---- Virtual operations, in their fixed order.

  // Opens the calendar on `date` (today when it is 0 or outside 1 January
  // 1801 .. 31 December 2099) with `title` as the window title, runs it until
  // it closes and returns the chosen date: the date picked when Response is
  // RequestCompleted, the start date when it is RequestCancelled.
  virtual std::int32_t SelectDate(std::string_view title, std::int32_t date);
  // Called before the first drawing, after FirstWeekday was set to 7 (Sunday);
  // a derived picker may change FirstWeekday or the colours here.
  virtual void Customize();
  // Nonzero when day/month/year is a holiday (shown in ColorHoliday).
  virtual std::uint8_t IsHoliday(int day, int month, int year, std::uint8_t dayAgain);

  // ---- Fields, in their fixed order. Control numbers of the window; 0: no
  // such control. SelectDate sets them for CALENDARSCREEN.
  std::int16_t CtrlCancel = 0;
  std::int16_t CtrlExit = 0;
  std::int16_t CtrlToday = 0;
  std::int16_t CtrlDay1 = 0;
  std::int16_t CtrlDay42 = 0;
  std::int16_t CtrlPrevMonth = 0;
  std::int16_t CtrlNextMonth = 0;
  std::int16_t CtrlPrevYear = 0;
  std::int16_t CtrlNextYear = 0;
  std::int16_t CtrlMore1 = 0;
  std::int16_t CtrlLess1 = 0;
  std::int16_t CtrlMore7 = 0;
  std::int16_t CtrlLess7 = 0;
  std::int16_t CtrlMore15 = 0;
  std::int16_t CtrlLess15 = 0;
  std::int16_t CtrlCurrTime = 0;
  std::int16_t CtrlMonthYear = 0;
  std::int16_t CtrlTheDate = 0;
  std::int16_t CtrlTitleBG = 0;
  std::int16_t CtrlBodyBG = 0;
  std::int16_t CtrlSun = 0;  // the first of seven weekday headers
  std::int16_t CtrlDowText = 0;
  std::int16_t CtrlMonthText = 0;
  std::int16_t CtrlYearText = 0;
  std::int16_t CtrlDayText = 0;

  std::int32_t XPos = 0;  // window x for the next call only; 0: where it opens by itself
  std::int32_t YPos = 0;  // window y for the next call only; 0: where it opens by itself
  std::uint8_t Response = 0;      // RequestCompleted or RequestCancelled after a call
  std::uint8_t FirstWeekday = 7;  // weekday of the first column: 1 Monday .. 7 Sunday
  std::int32_t SelectedDate = 0;  // the date the last call returned
  std::int32_t ColorSunday = kColorRed;
  std::int32_t ColorSaturday = kColorRed;
  std::int32_t ColorOther = kColorNormal;
  std::int32_t ColorHoliday = kColorGreen;
  std::uint8_t SelectOnClose = 0;   // Close accepts the current date
  std::uint8_t RightAlignment = 0;  // XPos is the window's right edge

 private:
  class Session;
};

}  // namespace ui
