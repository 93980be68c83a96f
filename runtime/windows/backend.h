// The window backend: how runtime windows reach a screen and how the user's
// input comes back. The runtime owns every window, control, bound variable
// and event queue (window.h); a backend only renders that model and reports
// input, so the desktop, terminal and headless backends share all behaviour.
//
// Calls into a backend come from the thread that activated it (the user
// interface thread), except Wake, which any thread may call, and ShowHalt,
// which comes from whichever thread halts. The runtime calls, per window:
//   CreateNative once when the window opens (after the model is complete),
//   Update whenever a property changes or a control is redisplayed,
//   DestroyNative once when it closes.
// WaitForInput is called only while an event loop waits; it returns one piece
// of input, or nothing when the timeout passed or Wake was called. The
// runtime turns input into events (focus moves, entry reading, alert keys),
// so a backend never decides what an input means.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/windows/window_resource.h"

namespace rt {

class Window;

// One piece of user input. Target null means the topmost window; input for
// a window that is not the topmost is dropped, because a window only gets
// input while nothing is opened over it.
struct Input {
  enum class Kind {
    Edit,      // the user changed a control's text to Text (no event until the entry is left or accepted)
    Accept,    // the user pressed a button or confirmed a control; Value 2 for a double click
    Focus,     // the user moved the focus onto a control (a click into it, an accelerator)
    Key,       // a key, Value = key code
    Close,     // the window's close box
    CloseDown, // the session is ending (logout, terminal hang-up)
    SelectRow, // a list row was chosen, Value = row (1-based)
    Resize,    // the window's inner size became Area.Width x Area.Height
    Move,      // the window moved to Area.X, Area.Y
    Maximize,
    Minimize,
    Restore,
  };
  Kind What = Kind::Accept;
  const Window* Target = nullptr;
  int Control = 0;
  std::string Text;
  int Value = 0;
  Rect Area;
  bool Pointer = false;  // came from a pointer click (KeyCode becomes KeyPointer)
};

// What MessageBox asks a backend to show. Lines are the text split at "|".
struct MessageBoxRequest {
  std::string Caption;
  std::vector<std::string> Lines;
  std::string Icon;      // icon name or stock icon code (message_box.h)
  int Buttons = 1;       // set of Button* values, never empty
  int DefaultButton = 1; // one of Buttons
  int Style = 0;         // passed through unchanged
};

class Backend {
 public:
  virtual ~Backend() = default;

  virtual void CreateNative(const Window& window) = 0;
  virtual void DestroyNative(const Window& window) = 0;
  // Something about a control (control 0: the window) changed. property is the
  // property number that changed, or 0 when the whole control (or the whole
  // window, for control 0) should be drawn again from the model.
  virtual void Update(const Window& window, int control, int property) = 0;

  // timeoutMs < 0 waits until there is input or Wake is called.
  virtual std::optional<Input> WaitForInput(int timeoutMs) = 0;
  // Makes a waiting WaitForInput return. Any thread.
  virtual void Wake() = 0;

  // Modal; returns the pressed button's value (one of request.Buttons).
  virtual int ShowMessageBox(const MessageBoxRequest& request) = 0;
  // Shows the text of a halt; the process ends right after.
  virtual void ShowHalt(const std::string& text) = 0;
  virtual void Beep(int frequency, int duration) = 0;
  // Empty cursor: the normal pointer again.
  virtual void SetCursor(std::string_view cursor) = 0;

  // Milliseconds of a monotonic clock; window timers run on it.
  virtual std::int64_t NowMs() const;
  // The area a maximised window takes, in dialog units.
  virtual Rect ScreenArea() const { return {0, 0, 640, 400}; }
};

// Makes backend the active one (not owned; nullptr removes it) and routes
// Halt's text through it. The calling thread becomes the user interface
// thread. Windows must not be open while the backend changes.
void SetBackend(Backend* backend);
Backend* ActiveBackend();
// True on the thread that activated the backend.
bool OnBackendThread();

// The window clock: the active backend's NowMs, else a steady clock.
std::int64_t WindowClockMs();

// Sound and pointer, through the active backend (nothing without one).
void Beep(int frequency = 0, int duration = 0);
// A cursor name or stock cursor code (CursorBusy); empty restores the pointer.
void SetCursor(std::string_view cursor = {});

// The busy cursor's stock code.
inline constexpr std::string_view CursorBusy{"\xFF\x01\x03\x7F", 4};

}  // namespace rt
