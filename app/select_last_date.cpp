#include "app/select_last_date.h"

#include <cstdint>

#include "app/globals.h"
#include "app/purge_variables.h"
#include "app/window_layouts.h"
#include "errors/level.h"
#include "runtime/core/dates.h"
#include "runtime/core/thread_instance.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window.h"
#include "ui/calendar_picker.h"
#include "ui/toolbar_dispatcher.h"
#include "ui/window_controller.h"
#include "ui/window_resizer.h"

namespace app {
namespace {

using errors::LevelBenign;
using errors::LevelNotify;

// The last year a cut-off may lie in.
constexpr int kLastYearAllowed = 2023;
// A request under which OK closes the dialog as cancelled.
constexpr std::uint8_t kRequestOkCancels = 4;
// The resizer's application strategy: controls keep to the top and to the
// nearer side, entries and lists stretch.
constexpr std::uint8_t kResizeStrategy = 2;

class CutoffWindow : public ui::WindowController {
 public:
  explicit CutoffWindow(rt::Window& window) : window_(window), resizer_(window) {
    calendar_.FirstWeekday = 7;
    calendar_.ColorSunday = 255;  // red
    calendar_.ColorSaturday = 255;
    calendar_.ColorOther = 0;  // black
    calendar_.ColorHoliday = 0x8000;  // green
    calendar_.SelectOnClose = 0;
    calendar_.RightAlignment = 0;
  }

  int Init() override;
  int Kill() override;
  int HandleAccepted() override;

 private:
  rt::Window& window_;
  ui::ToolbarDispatcher toolbar_;
  ui::WindowResizer resizer_;
  ui::CalendarPicker calendar_;
};

int CutoffWindow::Init() {
  GlobalErrors()->PushProcedureName("SelectLastDate");
  Request = rt::ThreadInstance(GlobalRequest);
  if (const int r = WindowController::Init(); r != LevelBenign) return r;
  FirstField = cutoff::kOk;
  VCRRequest = &rt::ThreadInstance(app::VCRRequest);
  Errors = GlobalErrors();
  AddToolbar(toolbar_);
  rt::ThreadInstance(GlobalRequest) = 0;
  rt::ThreadInstance(GlobalResponse) = 0;
  AddButton(cutoff::kOk,
            Request == kRequestOkCancels ? ui::RequestCancelled : ui::RequestCompleted);
  AddButton(cutoff::kCancel, ui::RequestCancelled);
  Open(window_);
  // The window cannot be made smaller than laid out.
  resizer_.Init(kResizeStrategy, true, false);
  resizer_.SetParentDefaults();
  SetResizer(resizer_);
  GlobalSettings()->RestoreWindow("SelectLastDate", window_);
  resizer_.ResizeWindow();
  SetAlerts();
  return LevelBenign;
}

int CutoffWindow::HandleAccepted() {
  const int accepted = rt::AcceptedControl();
  if (accepted == cutoff::kOk && rt::Year(LastDate) > kLastYearAllowed && rt::Month(LastDate) >= 1) {
    rt::MessageBox("Date Not acceptable. Pick a date prior 01/2024.", {}, {}, rt::ButtonOk);
    rt::Select(cutoff::kLastDate);
    return LevelNotify;
  }
  const int result = WindowController::HandleAccepted();
  if (accepted == cutoff::kCalendar) {
    Update();
    calendar_.SelectOnClose = 1;
    calendar_.SelectDate("Select a Date", LastDate);
    // The choice shows in the entry at once; the 2024 rule waits for OK,
    // which takes the focus: the next Enter accepts the date picked.
    if (calendar_.Response == ui::RequestCompleted) {
      LastDate = calendar_.SelectedDate;
      rt::Display(cutoff::kLastDate);
    }
    Reset(1);
    if (calendar_.Response == ui::RequestCompleted) rt::Select(cutoff::kOk);
  }
  return result;
}

int CutoffWindow::Kill() {
  if (const int r = WindowController::Kill(); r != LevelBenign) return r;
  if (Opened) GlobalSettings()->SaveWindow("SelectLastDate", window_);
  GlobalErrors()->PopProcedureName();
  return LevelBenign;
}

}  // namespace

void SelectLastDate() {
  rt::Window window(CutoffDialogResource(&LastDate));
  CutoffWindow dialog(window);
  rt::ThreadInstance(GlobalResponse) = dialog.Run();
}

}  // namespace app
