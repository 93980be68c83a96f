// The error history window: the messages the error manager recorded, in a
// two-column list (message, category) above the buttons of the message being
// reported. The error manager reaches it through the function it is given
// with SetHistoryWindow; UseHistoryWindow installs ShowHistoryWindow there.
//
//   MessageWindow   the window procedure (a WindowController). Its Init shows
//                   the requested buttons from the right end leftwards, in
//                   the order Help, Cancel, Ignore, Retry, Abort, No, Yes, OK
//                   (so Yes+No puts No at the right end), makes the default
//                   one the default button with the focus, and shows the
//                   icon. Pressing a button ends the window with that button
//                   in MsgRVal; any other way out leaves the default there.
//   HistoryList     the list's row source: a private copy of the history,
//                   taken under the manager's lock before the window opens,
//                   so reports made while it is open do not change it.
//
// Threading: the window runs on the calling thread (the user interface
// thread); the manager's lock is held only while the history is copied.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "errors/error_manager.h"
#include "runtime/windows/window_resource.h"
#include "ui/window_component.h"
#include "ui/window_controller.h"

namespace ui {

// The history window, "HISTORY": 1 the icon, 2 the list, 3-10 the buttons,
// hidden until used, 3 at the right end and each next one left of it.
const rt::WindowResource& HistoryWindowResource();
inline constexpr int kHistoryIcon = 1;
inline constexpr int kHistoryList = 2;
inline constexpr int kHistoryFirstButton = 3;
inline constexpr int kHistoryButtonCount = 8;

// The list of the history window: rows are the copied entries, column 1 the
// message text, column 2 its category.
class HistoryList : public WindowComponent {
 public:
  // `window`, `err` and `history` are not owned and must outlive the list.
  HistoryList(rt::Window& window, errors::ErrorManager& err,
              const std::vector<errors::HistoryEntry>& history)
      : Err(&err), History(&history), Win(&window) {}

  // WindowComponent: on EventOpenWindow the list gets its row count and
  // this list as its row source; UpdateWindow redisplays it.
  void Kill() override {}
  void Reset(std::uint8_t) override {}
  std::uint8_t ResetRequired() override { return 0; }
  void SetAlerts() override {}
  int HandleEvent() override;
  void Update() override {}
  void UpdateWindow() override;

  // The row source: row -1 the number of rows, -2 of columns, -3 whether the
  // rows changed (always "1"); rows from 1 give their cells.
  std::string Cell(int row, int column) const;

  // ---- Fields, in their fixed order.
  errors::ErrorManager* Err;                        // not owned
  const std::vector<errors::HistoryEntry>* History;  // the window's copy; not owned
  std::int16_t LBColumns = 0;                       // the list's columns, read when it opens
  rt::Window* Win;                                  // not owned
};

class MessageWindow : public WindowController {
 public:
  // Fields must be set first (Win at least); Init opens Win over the window
  // that is topmost on this thread, if any. LevelNotify when it cannot open.
  int Init() override;
  int Kill() override;
  int HandleAccepted() override;
  // Shows Icon, or the information icon when Icon is 0.
  virtual void ApplyIcon();

  // ---- Fields, in their fixed order.
  std::int32_t ButtonTypes = 0;  // the buttons to show (rt::Button* values)
  std::string Caption;           // the window title when not empty
  errors::ErrorManager* Err = nullptr;     // not owned
  std::int32_t Icon = 0;                   // stock icon number; 0: information
  HistoryList* HistoryHandler = nullptr;   // not owned
  std::int32_t MsgButtons = 0;             // number of buttons shown
  std::array<std::int32_t, kHistoryButtonCount> MsgButtonID{};  // value of each, rightmost first
  std::int32_t MsgRVal = 0;  // the default button on entry, the one pressed on exit
  std::int32_t Style = 0;
  rt::Window* Win = nullptr;  // not owned
};

// Runs `window` (its fields set, Err and Win included) over a copy of its
// manager's history and returns the button pressed (MsgRVal).
int ShowHistoryWindow(MessageWindow& window);
// The history window of `err` in the program's own layout; the function the
// error manager is given.
int ShowHistoryWindow(errors::ErrorManager& err, std::string_view caption, int icon, int buttons,
                      int defaultButton);
// Makes `err` show its history in the history window.
void UseHistoryWindow(errors::ErrorManager& err);

}  // namespace ui
