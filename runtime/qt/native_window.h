// The desktop form of one runtime window: a top-level Qt widget with a child
// widget per control, built from the window's model and kept in step with it.
//
// The model leads. Update applies what the runtime changed; what the user does
// becomes Input for the runtime and nothing else: a widget never decides what
// a key or click means. Qt still edits text, toggles check boxes and moves
// focus by itself, so the widget can run ahead of the model for a moment; two
// rules keep them together:
//   - while the user's input about a control (its text) or the window (its
//     size, place, state) waits in the backend's queue, the model's older value
//     is not applied over it;
//   - before the backend waits for input it puts Qt's focus back where the
//     model has it (a rejected entry keeps the focus that Qt had moved on).
// Tab, Enter, Escape and the window's alert keys never reach the widgets:
// they go to the runtime, which moves the focus in control-number order,
// accepts entries and presses buttons.
//
// Sizes: the model counts in dialog units of the window's font (dialog_units.h);
// the user's resizing and moving is reported in the same units.
#pragma once

#include <QFont>
#include <QPointer>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "runtime/qt/dialog_units.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/window.h"

class QEvent;
class QKeyEvent;
class QObject;
class QWidget;

namespace rt {

// What a native window needs from its backend.
class InputSink {
 public:
  virtual void Give(Input input) = 0;
  // True while input about the control's text waits for the runtime.
  virtual bool TextPending(const Window& window, int control) const = 0;
  // True while input about the window's size, place or state waits.
  virtual bool AreaPending(const Window& window) const = 0;

 protected:
  ~InputSink() = default;
};

class WindowWidget;

class NativeWindow {
 public:
  // Builds the widgets of an open runtime window; Show puts them on screen.
  // over: the native window this one opens over (kept under it and blocked
  // while it is open), or null. The model and the sink must outlive this.
  NativeWindow(const Window& model, QWidget* over, InputSink& sink);
  ~NativeWindow();
  NativeWindow(const NativeWindow&) = delete;
  NativeWindow& operator=(const NativeWindow&) = delete;

  const Window& Model() const { return model_; }
  QWidget* Widget() const;
  QWidget* ControlWidget(int number) const;

  // Shows the window once it is due: not at once when it opens, so the
  // program can place or hide it first without the user seeing it jump.
  void ShowIfDue();
  // The runtime changed a control (0: the window); property 0 means all of it.
  void Update(int control, int property);
  // Puts Qt's focus on the control the model has the focus on.
  void SyncFocus();

 private:
  friend class WindowWidget;

  struct Control {
    int Number = 0;
    ControlKind Kind = ControlKind::Text;
    QWidget* Widget = nullptr;  // owned by the window widget
    std::string Icon;           // as last applied, to skip reloading it
    std::optional<QFont> Font;
    int FontColor = -2;  // as last applied; -1 is the window's colour
  };

  void Build();
  void Connect(Control& control);
  void ApplyWindow(int property);
  void ApplyArea();
  void ApplyLimits();
  bool BringOnScreen();
  void ApplyControl(const ControlState& state, Control& control, int property);
  void ApplyText(const ControlState& state, Control& control);
  void ApplyList(const ControlState& state, Control& control, bool rows);
  void ApplyFont(const ControlState& state, Control& control);
  Control* Find(int number);
  Control* FindWidget(const QObject* widget);
  void Give(Input input);

  // From the window widget: the user's doing.
  void UserClosed();
  void UserResized();
  void UserMoved();
  void UserChangedState();
  bool UserKey(const QKeyEvent& event);
  void UserFocused(QObject* target, int reason);
  void UserReleasedPointer(QObject* target);

  const Window& model_;
  InputSink& sink_;
  QPointer<QWidget> over_;
  QPointer<QWidget> widget_;  // a WindowWidget
  QFont font_;
  DialogUnits units_;
  std::map<int, Control> controls_;  // by number
  bool shown_ = false;
  int applying_ = 0;  // > 0 while this code changes the widgets: nothing is reported
  Rect known_;        // the area the runtime has or will have after the queued input
  bool knownMaximized_ = false;
  bool knownMinimized_ = false;
  int pointerControl_ = 0;  // the control the pointer was last released over
};

}  // namespace rt
