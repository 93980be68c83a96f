// The runtime window: the live model built from a WindowResource. It owns the
// state of every control (text, visibility, colours, bound variable, list
// rows), the window's event queue, its timer and its registered event
// handlers. Backends render it through the const accessors; program code
// changes it through the operations below or the rt:: functions of
// event_loop.h, which act on the calling thread's topmost window.
//
// Threading: a window belongs to the thread that opened it; only that thread
// may touch it. Other threads reach it through Post and Notify.
//
// Operations return 0 on success and set the runtime error state; a control
// number the window does not have gives kBadRequest and changes nothing.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/windows/backend.h"
#include "runtime/windows/bound_variable.h"
#include "runtime/windows/property_value.h"
#include "runtime/windows/window_resource.h"

namespace rt {

// Rows of a list control. The runtime asks row -1 for the number of rows,
// row -2 for the number of columns and row -3 whether the rows changed
// ("1" or "0"), each as decimal text; rows 1.. with columns 1.. give cells.
using ListSource = std::function<std::string(int row, int column)>;

// A handler registered with RegisterEvent. Returning nonzero consumes the
// event: the window's loop does not see it.
using EventHandler = std::function<int()>;

// "Leave this value as it is" for SetPosition.
inline constexpr int kKeepValue = static_cast<int>(0x80000000u);

struct ControlState {
  int Number = 0;
  std::string Label;
  ControlKind Kind = ControlKind::Text;
  Rect Position;
  std::string Text;
  std::string Picture;
  BoundVariable Use;
  bool Hidden = false;
  bool Disabled = false;
  bool Default = false;
  bool Immediate = false;
  int FontColor = -1;  // -1: the backend's normal colour
  int FontStyle = 0;
  std::string Font;
  std::string Icon;
  std::string Tip;
  std::string StatusText;
  int RangeLow = 0;
  int RangeHigh = 100;
  std::int64_t Value = 0;   // progress position
  std::string ListFormat;
  char Align = 'L';         // text alignment, as in the resource
  int Items = 0;            // list rows when no source tells
  int Selected = 0;         // list row, 1-based
  ListSource Source;
  std::set<int> AlertKeys;
  bool Edited = false;      // the user changed the text since it was last read or displayed
  // How to type the entry, while the text typed could not be read (the
  // entry keeps that text until it reads or is displayed afresh).
  std::string TypingHint;
  std::map<int, PropertyValue> Other;  // properties the runtime only stores

  bool Focusable() const;
};

// One event as the loop sees it.
struct Event {
  int Number = 0;
  int Control = 0;
  bool HasNotification = false;
  int NotifyCode = 0;
  int NotifyThread = 0;
  std::int64_t NotifyParameter = 0;
};

class Window {
 public:
  // Copies the resource; the window starts closed.
  explicit Window(const WindowResource& resource);
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  // Closes the window if it is still open.
  ~Window();

  // --- What backends and tests read -------------------------------------
  const std::string& Name() const { return name_; }
  const std::string& Caption() const { return caption_; }
  const FontResource& Font() const { return font_; }
  Rect Area() const { return area_; }  // position and inner size, dialog units
  bool IsOpen() const { return open_; }
  bool Hidden() const { return hidden_; }
  bool Iconized() const { return iconized_; }
  bool Maximized() const { return maximized_; }
  bool Resizable() const { return resizable_; }
  // Size limits of the inner area (PropMinWidth ...); 0 means no limit.
  int MinWidth() const { return minWidth_; }
  int MinHeight() const { return minHeight_; }
  int MaxWidth() const { return maxWidth_; }
  int MaxHeight() const { return maxHeight_; }
  const Window* Owner() const { return owner_; }
  int Thread() const { return thread_; }
  int Focus() const { return focus_; }
  const std::vector<ControlState>& Controls() const { return controls_; }
  // Keys that arrive as EventAlertKey whichever control has the focus.
  const std::set<int>& AlertKeys() const { return alertKeys_; }
  const ControlState* Control(int number) const;
  const ControlState* Control(std::string_view label) const;  // without regard to case
  // A list cell through the control's source ("" without one).
  std::string Cell(int control, int row, int column) const;
  // A list's row count: the source's answer to row -1, else PropItems.
  int RowCount(int control) const;
  // Whether any event, or an event for the control (0: the window), waits
  // in the queue, as input given while the thread was busy does until the
  // loop runs again.
  bool Queued() const { return !queue_.empty(); }
  bool Queued(int event, int control = 0) const;

  // --- Operations --------------------------------------------------------
  PropertyValue GetProperty(int control, int property, int index = 0) const;
  // A nonzero index is refused: only reading has indexed properties.
  int SetProperty(int control, int property, const PropertyValue& value, int index = 0);
  // Rebuilds control texts from their bound variables (0: every control) and
  // redraws them.
  int Display(int control = 0);
  // Moves the focus (EventSelected when it changes); 0 starts accepting every
  // entry in turn, ending in EventCompleted (see event_loop.h).
  int Select(int control);
  int Enable(int control);
  int Disable(int control);
  // Control 0 is the window itself.
  int Hide(int control);
  int Unhide(int control);
  Rect GetPosition(int control) const;
  int SetPosition(int control, int x, int y, int width, int height);
  // Highest control number; 0 without controls.
  int LastControl() const;
  // Adds a key to the window's alert keys (every control).
  int Alert(int key);
  int SetListSource(int control, ListSource source);
  // Queues an event at the back (front when urgent).
  int Post(int event, int control = 0, bool urgent = false);
  int RegisterEvent(int event, EventHandler handler, const void* object);
  int UnregisterEvent(int event, const void* object);

 private:
  friend class WindowDriver;  // event_loop.cpp: opening, closing, input, the queue

  ControlState* Find(int number);
  std::string NoControl(int control) const;
  void Notify(int control, int property);
  void Flush();
  bool ReadEntry(ControlState& c);
  // Sets the entry's typing hint, telling the backend when it changes.
  void SetTypingHint(ControlState& c, std::string hint);
  bool AcceptEntry(ControlState& c);
  bool MoveFocus(int control);
  void PressControl(ControlState& c);
  void ApplyKey(int key);
  void ApplyInput(const Input& input);
  bool TakeQueued(Event& event);
  void ClampSize();

  std::string problem_;  // what is wrong with the resource; OpenWindow refuses it
  std::string name_;
  std::string caption_;
  FontResource font_;
  Rect area_;
  Rect restoreArea_;  // area before maximising
  bool open_ = false;
  bool hidden_ = false;
  bool iconized_ = false;
  bool maximized_ = false;
  bool resizable_ = false;
  int minWidth_ = 0, minHeight_ = 0, maxWidth_ = 0, maxHeight_ = 0;
  int deferMoves_ = 0;
  std::set<int> deferred_;  // controls moved while deferMoves_ > 0
  const Window* owner_ = nullptr;
  int thread_ = 0;
  int focus_ = 0;
  std::vector<ControlState> controls_;
  std::set<int> alertKeys_;
  std::map<int, PropertyValue> other_;

  std::deque<Event> queue_;
  int timerInterval_ = 0;  // hundredths of a second
  std::int64_t nextTickMs_ = 0;
  struct Registration {
    int Event;
    EventHandler Handler;
    const void* Object;
  };
  std::vector<Registration> registrations_;
};

namespace detail {
// The calling thread's last key code (KeyCode, SetKeyCode).
int& ThreadKeyCode();
// Results of window operations: kBadRequest with the error state set (the
// reason as the driver text, which messages about code 90 show), or 0 with
// it cleared.
int Fail(std::string_view reason = "invalid request");
int Ok();
}  // namespace detail

}  // namespace rt
