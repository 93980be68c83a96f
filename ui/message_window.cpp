#include "ui/message_window.h"

#include "errors/level.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window.h"

namespace ui {
namespace {

using errors::LevelBenign;
using errors::LevelFatal;
using errors::LevelNotify;

// The buttons in the order they are placed, from the right end leftwards,
// with their captions.
struct ButtonCaption {
  int Value;
  const char* Text;
};
constexpr ButtonCaption kButtonOrder[] = {
    {rt::ButtonHelp, "&Help"},   {rt::ButtonCancel, "&Cancel"}, {rt::ButtonIgnore, "&Ignore"},
    {rt::ButtonRetry, "&Retry"}, {rt::ButtonAbort, "&Abort"},   {rt::ButtonNo, "&No"},
    {rt::ButtonYes, "&Yes"},     {rt::ButtonOk, "O&k"},
};

rt::WindowResource MakeHistoryWindow() {
  rt::WindowResource w;
  w.Name = "HISTORY";
  w.Caption = "Error";
  w.Font = {"Sans Serif", 8, 400};
  w.Width = 320;
  w.Height = 96;
  rt::ControlResource& icon =
      w.Controls.emplace_back(rt::MakeControl(kHistoryIcon, "?IMAGE", rt::ControlKind::Image, {2, 4, 26, 28}));
  icon.Icon = rt::StockIcon(rt::kStockInformation);
  rt::ControlResource& list =
      w.Controls.emplace_back(rt::MakeControl(kHistoryList, "?LIST", rt::ControlKind::List, {32, 4, 286, 71}));
  list.ListFormat = "217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~L(1)@s255@";
  for (int i = 0; i < kHistoryButtonCount; ++i) {
    rt::ControlResource& button = w.Controls.emplace_back(
        rt::MakeControl(kHistoryFirstButton + i, "?BUTTON" + std::to_string(i + 1),
                        rt::ControlKind::Button, {284 - 40 * i, 80, 36, 14}));
    button.Hidden = true;
  }
  return w;
}

}  // namespace

const rt::WindowResource& HistoryWindowResource() {
  static const rt::WindowResource resource = MakeHistoryWindow();
  return resource;
}

// ---- HistoryList

int HistoryList::HandleEvent() {
  if (rt::CurrentEvent() != rt::EventOpenWindow) return LevelBenign;
  Win->SetProperty(kHistoryList, rt::PropItems, static_cast<int>(History->size()));
  LBColumns = static_cast<std::int16_t>(Win->GetProperty(kHistoryList, rt::PropColumns).Number());
  Win->SetListSource(kHistoryList, [this](int row, int column) { return Cell(row, column); });
  return LevelBenign;
}

void HistoryList::UpdateWindow() { Win->Display(kHistoryList); }

std::string HistoryList::Cell(int row, int column) const {
  switch (row) {
    case -1: return std::to_string(History->size());
    case -2: return std::to_string(LBColumns);
    case -3: return "1";
    default: break;
  }
  if (row < 1 || row > static_cast<int>(History->size())) return {};
  const errors::HistoryEntry& entry = (*History)[row - 1];
  return column == 1 ? entry.Txt : column == 2 ? entry.Category : std::string();
}

// ---- MessageWindow

int MessageWindow::Init() {
  if (const int r = WindowController::Init(); r != LevelBenign) return r;
  if (HistoryHandler) AddComponent(*HistoryHandler);
  if (!Win) return LevelNotify;
  Open(*Win, rt::CurrentWindow());
  // A window that did not open must not run a loop: it would serve the
  // window below it.
  if (!Opened) return LevelNotify;
  if (!Caption.empty()) Win->SetProperty(0, rt::PropText, Caption);
  MsgButtons = 0;
  for (const ButtonCaption& button : kButtonOrder) {
    if (!(ButtonTypes & button.Value)) continue;
    const int control = kHistoryFirstButton + MsgButtons;
    MsgButtonID[MsgButtons++] = button.Value;
    Win->SetProperty(control, rt::PropText, button.Text);
    Win->Unhide(control);
    if (button.Value == MsgRVal) {
      Win->SetProperty(control, rt::PropDefault, 1);
      Win->Select(control);
    }
  }
  ApplyIcon();
  return LevelBenign;
}

void MessageWindow::ApplyIcon() {
  Win->SetProperty(kHistoryIcon, rt::PropIcon, rt::StockIcon(Icon ? Icon : rt::kStockInformation));
}

int MessageWindow::HandleAccepted() {
  if (const int r = WindowController::HandleAccepted(); r != LevelBenign) return r;
  const int button = rt::AcceptedControl() - kHistoryFirstButton;
  if (button < 0 || button >= MsgButtons) return LevelBenign;
  MsgRVal = MsgButtonID[button];
  return LevelFatal;
}

int MessageWindow::Kill() {
  if (const int r = WindowController::Kill(); r != LevelBenign) return r;
  Caption.clear();
  if (Win && Win->IsOpen()) rt::CloseWindow(*Win);
  Opened = 0;
  return LevelBenign;
}

// ---- Showing the history

int ShowHistoryWindow(MessageWindow& window) {
  if (!window.Err || !window.Win) return window.MsgRVal;
  const std::vector<errors::HistoryEntry> copy = window.Err->HistorySnapshot();
  HistoryList list(*window.Win, *window.Err, copy);
  window.HistoryHandler = &list;
  window.Run();
  window.HistoryHandler = nullptr;
  return window.MsgRVal;
}

int ShowHistoryWindow(errors::ErrorManager& err, std::string_view caption, int icon, int buttons,
                      int defaultButton) {
  rt::Window win(HistoryWindowResource());
  MessageWindow window;
  window.Caption = caption;
  window.Err = &err;
  window.Icon = icon;
  window.ButtonTypes = buttons;
  window.MsgRVal = defaultButton;
  window.Style = 0;
  window.Win = &win;
  return ShowHistoryWindow(window);
}

void UseHistoryWindow(errors::ErrorManager& err) {
  const errors::HistoryWindowFunction show = &ShowHistoryWindow;
  err.SetHistoryWindow(show);
}

}  // namespace ui
