#include "runtime/windows/window.h"

#include <algorithm>

#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"

namespace rt {
namespace {

// Queue marker of a running Select(0) walk; Control is the last entry read.
constexpr int kAcceptWalk = -1;

using detail::Fail;
using detail::Ok;

bool IsEntry(const ControlState& c) { return c.Kind == ControlKind::Entry || c.Kind == ControlKind::Combo; }

}  // namespace

namespace detail {
int Fail(std::string_view reason) {
  SetError(kBadRequest, {}, std::to_string(kBadRequest), reason);
  return kBadRequest;
}

int Ok() {
  ClearError();
  return 0;
}

int& ThreadKeyCode() {
  thread_local int keyCode = 0;
  return keyCode;
}
}  // namespace detail

bool ControlState::Focusable() const { return !Hidden && !Disabled && TakesFocus(Kind); }

Window::Window(const WindowResource& resource)
    : problem_(resource.Check()),
      name_(resource.Name),
      caption_(resource.Caption),
      font_(resource.Font),
      area_{resource.X, resource.Y, resource.Width, resource.Height},
      resizable_(resource.Resizable),
      timerInterval_(std::max(0, resource.Timer)) {
  for (const auto& r : resource.Controls) {
    ControlState c;
    c.Number = r.Number;
    c.Label = r.Label;
    c.Kind = r.Kind;
    c.Position = r.Position;
    c.Text = r.Text;
    c.Picture = r.Picture;
    c.Use = r.Use;
    c.Hidden = r.Hidden;
    c.Disabled = r.Disabled;
    c.Default = r.Default;
    c.Immediate = r.Immediate;
    c.Icon = r.Icon;
    c.Tip = r.Tip;
    c.StatusText = r.StatusText;
    c.RangeLow = r.RangeLow;
    c.RangeHigh = r.RangeHigh;
    c.ListFormat = r.ListFormat;
    c.Align = r.Align;
    controls_.push_back(std::move(c));
  }
  std::stable_sort(controls_.begin(), controls_.end(),
                   [](const ControlState& a, const ControlState& b) { return a.Number < b.Number; });
  for (const auto& c : controls_)
    if (c.Focusable()) {
      focus_ = c.Number;
      break;
    }
}

Window::~Window() {
  if (open_) CloseWindow(*this);
}

const ControlState* Window::Control(int number) const {
  for (const auto& c : controls_)
    if (c.Number == number) return &c;
  return nullptr;
}

const ControlState* Window::Control(std::string_view label) const {
  for (const auto& c : controls_)
    if (SameIgnoringCase(c.Label, label)) return &c;
  return nullptr;
}

std::string Window::NoControl(int control) const {
  return "window " + name_ + " has no control " + std::to_string(control);
}

ControlState* Window::Find(int number) {
  return const_cast<ControlState*>(static_cast<const Window*>(this)->Control(number));
}

std::string Window::Cell(int control, int row, int column) const {
  const ControlState* c = Control(control);
  if (!c || !c->Source) return {};
  return c->Source(row, column);
}

int Window::RowCount(int control) const {
  const ControlState* c = Control(control);
  if (!c) return 0;
  if (c->Source) return static_cast<int>(PropertyValue(c->Source(-1, 0)).Number());
  return c->Items;
}

void Window::Notify(int control, int property) {
  if (!open_) return;
  Backend* backend = ActiveBackend();
  if (!backend || !OnBackendThread()) return;
  const bool isMove = property == PropXPos || property == PropYPos || property == PropWidth ||
                      property == PropHeight;
  if (isMove && control != 0 && deferMoves_ > 0) {
    deferred_.insert(control);
    return;
  }
  backend->Update(*this, control, property);
}

void Window::Flush() {
  std::set<int> moved;
  moved.swap(deferred_);
  for (int control : moved) Notify(control, PropXPos);
}

void Window::ClampSize() {
  if (minWidth_ > 0) area_.Width = std::max(area_.Width, minWidth_);
  if (minHeight_ > 0) area_.Height = std::max(area_.Height, minHeight_);
  if (maxWidth_ > 0) area_.Width = std::min(area_.Width, maxWidth_);
  if (maxHeight_ > 0) area_.Height = std::min(area_.Height, maxHeight_);
}

PropertyValue Window::GetProperty(int control, int property, int index) const {
  ClearError();
  if (control == 0) {
    switch (property) {
      case PropText: return caption_;
      case PropXPos: return area_.X;
      case PropYPos: return area_.Y;
      case PropWidth:
      case PropClientWidth: return area_.Width;
      case PropHeight:
      case PropClientHeight: return area_.Height;
      case PropHide: return hidden_;
      case PropIconized: return iconized_;
      case PropMaximized: return maximized_;
      case PropTimer: return timerInterval_;
      case PropThread: return thread_;
      case PropMinWidth: return minWidth_;
      case PropMinHeight: return minHeight_;
      case PropMaxWidth: return maxWidth_;
      case PropMaxHeight: return maxHeight_;
      case PropDeferMoves: return deferMoves_;
      case PropResizable: return resizable_;
      case PropFont: return font_.Face + "," + std::to_string(font_.Size);
      case PropFocus: return focus_;
      case PropNextControl:
        for (const auto& c : controls_)
          if (c.Number > index) return c.Number;
        return 0;
      default: {
        auto it = other_.find(property);
        return it == other_.end() ? PropertyValue() : it->second;
      }
    }
  }
  const ControlState* c = Control(control);
  if (!c) {
    Fail(NoControl(control));
    return {};
  }
  switch (property) {
    case PropText: return c->Text;
    case PropType: return static_cast<int>(c->Kind);
    case PropXPos: return c->Position.X;
    case PropYPos: return c->Position.Y;
    case PropWidth: return c->Position.Width;
    case PropHeight: return c->Position.Height;
    case PropFontColor: return c->FontColor;
    case PropFontStyle: return c->FontStyle;
    case PropHide: return c->Hidden;
    case PropDisable: return c->Disabled;
    case PropUse: return c->Use;
    case PropPicture: return c->Picture;
    case PropFont: return c->Font;
    case PropIcon: return c->Icon;
    case PropTip: return c->Tip;
    case PropStatusText: return c->StatusText;
    case PropDefault: return c->Default;
    case PropItems: return RowCount(control);
    case PropFormat: return c->ListFormat;
    case PropSelected: return c->Selected;
    case PropColumns:
      if (c->Source) return PropertyValue(c->Source(-2, 0)).Number();
      return static_cast<int>(ListColumns(c->ListFormat).size());
    case PropCell: return Cell(control, index / 256, index % 256);
    case PropRangeLow: return c->RangeLow;
    case PropRangeHigh: return c->RangeHigh;
    case PropValue: return c->Value;
    default: {
      auto it = c->Other.find(property);
      return it == c->Other.end() ? PropertyValue() : it->second;
    }
  }
}

int Window::SetProperty(int control, int property, const PropertyValue& value, int index) {
  // Only reading has indexed properties (PropNextControl, PropCell).
  if (index != 0) return Fail("property " + std::to_string(property) + " takes no index when set");
  const auto n = value.Number();
  const int number = static_cast<int>(std::clamp<std::int64_t>(n, INT32_MIN, INT32_MAX));
  if (control == 0) {
    switch (property) {
      case PropText: caption_ = value.Text(); break;
      case PropXPos: area_.X = number; break;
      case PropYPos: area_.Y = number; break;
      case PropWidth:
      case PropClientWidth: area_.Width = std::max(0, number); ClampSize(); break;
      case PropHeight:
      case PropClientHeight: area_.Height = std::max(0, number); ClampSize(); break;
      case PropHide: hidden_ = n != 0; break;
      case PropIconized: iconized_ = n != 0; break;
      case PropMaximized:
        if (n != 0 && !maximized_) {
          restoreArea_ = area_;
          Backend* backend = ActiveBackend();
          area_ = backend ? backend->ScreenArea() : Rect{0, 0, area_.Width, area_.Height};
          maximized_ = true;
        } else if (n == 0 && maximized_) {
          area_ = restoreArea_;
          maximized_ = false;
        }
        break;
      case PropTimer:
        timerInterval_ = std::max(0, number);
        nextTickMs_ = WindowClockMs() + std::int64_t{timerInterval_} * 10;
        return Ok();
      case PropMinWidth: minWidth_ = std::max(0, number); ClampSize(); break;
      case PropMinHeight: minHeight_ = std::max(0, number); ClampSize(); break;
      case PropMaxWidth: maxWidth_ = std::max(0, number); ClampSize(); break;
      case PropMaxHeight: maxHeight_ = std::max(0, number); ClampSize(); break;
      case PropDeferMoves:
        deferMoves_ = number;
        if (deferMoves_ <= 0) Flush();
        return Ok();
      case PropResizable: resizable_ = n != 0; break;
      case PropFont: {
        const std::string text = value.Text();
        const auto comma = text.find(',');
        font_.Face = text.substr(0, comma);
        if (comma != std::string::npos) font_.Size = static_cast<int>(PropertyValue(text.substr(comma + 1)).Number());
        break;
      }
      case PropFocus: return Select(number);
      case PropAlertKey: alertKeys_.insert(number); return Ok();
      case PropThread:
      case PropType:
      case PropNextControl: return Fail("property " + std::to_string(property) + " can only be read");
      default: other_[property] = value; return Ok();
    }
    const bool isMove = property == PropXPos || property == PropYPos || property == PropWidth ||
                        property == PropHeight || property == PropClientWidth ||
                        property == PropClientHeight || property == PropMaximized;
    Notify(0, isMove ? PropXPos : property);
    return Ok();
  }
  ControlState* c = Find(control);
  if (!c) return Fail(NoControl(control));
  int notice = property;
  switch (property) {
    case PropText: c->Text = value.Text(); c->Edited = false; break;
    case PropXPos: c->Position.X = number; notice = PropXPos; break;
    case PropYPos: c->Position.Y = number; notice = PropXPos; break;
    case PropWidth: c->Position.Width = std::max(0, number); notice = PropXPos; break;
    case PropHeight: c->Position.Height = std::max(0, number); notice = PropXPos; break;
    case PropFontColor: c->FontColor = number; break;
    case PropFontStyle: c->FontStyle = number; break;
    case PropHide: c->Hidden = n != 0; break;
    case PropDisable: c->Disabled = n != 0; break;
    case PropUse:
      if (!value.IsVariable() && !(value.IsNumber() && n == 0))
        return Fail("a control can only be bound to a variable (or to 0 to unbind it)");
      c->Use = value.Variable();
      return Ok();
    case PropPicture: c->Picture = value.Text(); break;
    case PropFont: c->Font = value.Text(); break;
    case PropIcon: c->Icon = value.Text(); break;
    case PropTip: c->Tip = value.Text(); break;
    case PropStatusText: c->StatusText = value.Text(); break;
    case PropDefault:
      if (n != 0)
        for (auto& other : controls_)
          if (other.Default && other.Number != control) {
            other.Default = false;
            Notify(other.Number, PropDefault);
          }
      c->Default = n != 0;
      break;
    case PropItems: c->Items = std::max(0, number); break;
    case PropFormat: c->ListFormat = value.Text(); break;
    case PropSelected: c->Selected = std::max(0, number); break;
    case PropRangeLow: c->RangeLow = number; break;
    case PropRangeHigh: c->RangeHigh = number; break;
    case PropValue: c->Value = n; break;
    case PropAlertKey: c->AlertKeys.insert(number); return Ok();
    case PropType:
    case PropColumns:
    case PropCell: return Fail("property " + std::to_string(property) + " can only be read");
    default: c->Other[property] = value; return Ok();
  }
  Notify(control, notice);
  return Ok();
}

int Window::Display(int control) {
  if (control != 0 && !Find(control)) return Fail(NoControl(control));
  for (auto& c : controls_) {
    if (control != 0 && c.Number != control) continue;
    // Redrawing the whole window keeps what the operator typed into an
    // entry that could not read it; only the entry's own Display replaces it.
    if (control == 0 && !c.TypingHint.empty()) continue;
    SetTypingHint(c, {});
    if (IsBound(c.Use)) {
      if (c.Kind == ControlKind::Progress || c.Kind == ControlKind::Check)
        c.Value = VariableNumber(c.Use);
      else
        c.Text = FormatVariable(c.Use, c.Picture);
    }
    c.Edited = false;
    if (control != 0) Notify(c.Number, 0);
  }
  if (control == 0) Notify(0, 0);
  return Ok();
}

int Window::Select(int control) {
  if (control == 0) {
    queue_.push_back({kAcceptWalk, 0});
    return Ok();
  }
  ControlState* c = Find(control);
  if (!c) return Fail(NoControl(control));
  if (!c->Focusable()) return Fail("control " + std::to_string(control) + " cannot take the focus");
  if (focus_ != control) {
    focus_ = control;
    queue_.push_back({EventSelected, control});
    Notify(0, PropFocus);
  }
  return Ok();
}

int Window::Enable(int control) { return control == 0 ? Fail(NoControl(0)) : SetProperty(control, PropDisable, 0); }
int Window::Disable(int control) { return control == 0 ? Fail(NoControl(0)) : SetProperty(control, PropDisable, 1); }
int Window::Hide(int control) { return SetProperty(control, PropHide, 1); }
int Window::Unhide(int control) { return SetProperty(control, PropHide, 0); }

Rect Window::GetPosition(int control) const {
  ClearError();
  if (control == 0) return area_;
  const ControlState* c = Control(control);
  if (!c) {
    Fail(NoControl(control));
    return {};
  }
  return c->Position;
}

int Window::SetPosition(int control, int x, int y, int width, int height) {
  Rect* r = nullptr;
  ControlState* c = nullptr;
  if (control == 0) {
    r = &area_;
  } else {
    c = Find(control);
    if (!c) return Fail(NoControl(control));
    r = &c->Position;
  }
  if (x != kKeepValue) r->X = x;
  if (y != kKeepValue) r->Y = y;
  if (width != kKeepValue) r->Width = std::max(0, width);
  if (height != kKeepValue) r->Height = std::max(0, height);
  if (control == 0) ClampSize();
  Notify(control, PropXPos);
  return Ok();
}

int Window::LastControl() const { return controls_.empty() ? 0 : controls_.back().Number; }

int Window::Alert(int key) {
  alertKeys_.insert(key);
  return Ok();
}

int Window::SetListSource(int control, ListSource source) {
  ControlState* c = Find(control);
  if (!c) return Fail(NoControl(control));
  c->Source = std::move(source);
  Notify(control, PropItems);
  return Ok();
}

int Window::Post(int event, int control, bool urgent) {
  if (event <= 0) return Fail("event numbers start at 1");
  if (control != 0 && !Find(control)) return Fail(NoControl(control));
  if (urgent)
    queue_.push_front({event, control});
  else
    queue_.push_back({event, control});
  return Ok();
}

bool Window::Queued(int event, int control) const {
  return std::any_of(queue_.begin(), queue_.end(), [&](const Event& queued) {
    return queued.Number == event && queued.Control == control;
  });
}

int Window::RegisterEvent(int event, EventHandler handler, const void* object) {
  if (!handler) return Fail("no handler given");
  registrations_.push_back({event, std::move(handler), object});
  return Ok();
}

int Window::UnregisterEvent(int event, const void* object) {
  const auto before = registrations_.size();
  std::erase_if(registrations_, [&](const Registration& r) { return r.Event == event && r.Object == object; });
  return registrations_.size() == before ? Fail("no handler was registered for that event and object") : Ok();
}

// Reads an entry's text into its variable. A text the picture cannot read
// leaves the variable alone and the entry marked edited, so leaving it again
// reads it again until it is fixed or redisplayed.
bool Window::ReadEntry(ControlState& c) {
  if (!StoreVariable(c.Use, c.Text, c.Picture)) {
    c.Edited = true;
    SetTypingHint(c, EntryTypingHint(c.Picture));
    return false;
  }
  c.Edited = false;
  SetTypingHint(c, {});
  if (IsBound(c.Use)) {
    c.Text = FormatVariable(c.Use, c.Picture);
    Notify(c.Number, PropText);
  }
  return true;
}

void Window::SetTypingHint(ControlState& c, std::string hint) {
  if (c.TypingHint == hint) return;
  c.TypingHint = std::move(hint);
  Notify(c.Number, PropStatusText);
}

bool Window::AcceptEntry(ControlState& c) {
  const bool ok = ReadEntry(c);
  queue_.push_back({ok ? EventAccepted : EventRejected, c.Number});
  return ok;
}

// Focus moves off an edited entry only after it was read: a rejected entry
// keeps the focus and the move does not happen.
bool Window::MoveFocus(int control) {
  if (focus_ == control) return true;
  if (ControlState* from = Find(focus_); from && IsEntry(*from) && from->Edited)
    if (!AcceptEntry(*from)) return false;
  focus_ = control;
  queue_.push_back({EventSelected, control});
  Notify(0, PropFocus);
  return true;
}

void Window::PressControl(ControlState& c) {
  switch (c.Kind) {
    case ControlKind::Entry:
    case ControlKind::Combo: AcceptEntry(c); break;
    case ControlKind::Check:
      if (IsBound(c.Use)) StoreVariable(c.Use, VariableNumber(c.Use) ? "0" : "1", "");
      c.Value = IsBound(c.Use) ? VariableNumber(c.Use) : !c.Value;
      Notify(c.Number, PropValue);
      queue_.push_back({EventAccepted, c.Number});
      break;
    case ControlKind::Button:
    case ControlKind::List: queue_.push_back({EventAccepted, c.Number}); break;
    default: break;
  }
}

// Keys: an alert key of the focused control or the window becomes
// EventAlertKey; otherwise Tab moves to the next control (Shift+Tab to the
// one before), Enter accepts the
// focused control (and then presses the default button when the focus is not
// on a button), Escape asks the window to close.
void Window::ApplyKey(int key) {
  detail::ThreadKeyCode() = key;
  ControlState* focused = Find(focus_);
  if ((focused && focused->AlertKeys.count(key)) || alertKeys_.count(key)) {
    queue_.push_back({EventAlertKey, focus_});
    return;
  }
  switch (key) {
    case KeyTab:
    case KeyShiftTab: {
      if (controls_.empty()) return;
      const std::size_t count = controls_.size();
      auto start = std::find_if(controls_.begin(), controls_.end(),
                                [&](const ControlState& c) { return c.Number == focus_; });
      // Without a focused control, Tab starts at the first and Shift+Tab at the last.
      const std::size_t at = start == controls_.end() ? (key == KeyTab ? count - 1 : 0)
                                                      : static_cast<std::size_t>(start - controls_.begin());
      const std::size_t step = key == KeyTab ? 1 : count - 1;
      for (std::size_t i = 1; i <= count; ++i) {
        const ControlState& next = controls_[(at + step * i) % count];
        if (next.Focusable()) {
          MoveFocus(next.Number);
          return;
        }
      }
      return;
    }
    case KeyEnter:
      if (!focused || !focused->Focusable()) return;
      if (focused->Kind == ControlKind::Button) {
        PressControl(*focused);
        return;
      }
      if (IsEntry(*focused) && !AcceptEntry(*focused)) return;
      for (auto& c : controls_)
        if (c.Default && c.Kind == ControlKind::Button && c.Focusable()) {
          queue_.push_back({EventAccepted, c.Number});
          return;
        }
      return;
    case KeyEscape: queue_.push_back({EventCloseWindow, 0}); return;
    default: return;
  }
}

void Window::ApplyInput(const Input& input) {
  ControlState* c = input.Control ? Find(input.Control) : nullptr;
  switch (input.What) {
    case Input::Kind::Edit:
      if (!c || !c->Focusable() || !IsEntry(*c) || !MoveFocus(c->Number)) return;
      c->Text = input.Text;
      c->Edited = true;
      Notify(c->Number, PropText);
      return;
    case Input::Kind::Accept:
      if (!c || !c->Focusable()) return;
      if (input.Pointer) detail::ThreadKeyCode() = input.Value == 2 ? KeyPointerDouble : KeyPointer;
      // An immediate button leaves the focus, and an edited entry, as they are.
      if (c->Kind == ControlKind::Button && c->Immediate) {
        PressControl(*c);
        return;
      }
      if (!MoveFocus(c->Number)) return;
      PressControl(*c);
      return;
    case Input::Kind::Focus:
      if (c && c->Focusable()) MoveFocus(c->Number);
      return;
    case Input::Kind::Key: ApplyKey(input.Value); return;
    case Input::Kind::Close: queue_.push_back({EventCloseWindow, 0}); return;
    case Input::Kind::CloseDown: queue_.push_back({EventCloseDown, 0}); return;
    case Input::Kind::SelectRow:
      if (!c || !c->Focusable() || c->Kind != ControlKind::List || !MoveFocus(c->Number)) return;
      c->Selected = std::max(0, input.Value);
      Notify(c->Number, PropSelected);
      queue_.push_back({EventNewSelection, c->Number});
      return;
    case Input::Kind::Resize:
      area_.Width = std::max(0, input.Area.Width);
      area_.Height = std::max(0, input.Area.Height);
      ClampSize();
      Notify(0, PropXPos);
      queue_.push_back({EventSized, 0});
      return;
    case Input::Kind::Move:
      area_.X = input.Area.X;
      area_.Y = input.Area.Y;
      Notify(0, PropXPos);
      return;
    case Input::Kind::Maximize:
      if (maximized_) return;
      SetProperty(0, PropMaximized, 1);
      iconized_ = false;
      queue_.push_back({EventMaximized, 0});
      queue_.push_back({EventSized, 0});
      return;
    case Input::Kind::Minimize:
      iconized_ = true;
      Notify(0, PropIconized);
      return;
    case Input::Kind::Restore:
      if (!maximized_ && !iconized_) return;
      iconized_ = false;
      SetProperty(0, PropMaximized, 0);
      queue_.push_back({EventRestored, 0});
      queue_.push_back({EventSized, 0});
      return;
  }
}

// The next queued event. A Select(0) walk reads one entry per call and puts
// itself back in front, so handlers see each entry's EventAccepted before the
// next entry is read; a rejected entry ends the walk without EventCompleted.
bool Window::TakeQueued(Event& event) {
  if (queue_.empty()) return false;
  event = queue_.front();
  queue_.pop_front();
  if (event.Number != kAcceptWalk) return true;
  const int after = event.Control;
  for (auto& c : controls_) {
    if (c.Number <= after || !IsEntry(c) || c.Hidden || c.Disabled) continue;
    if (ReadEntry(c)) {
      queue_.push_front({kAcceptWalk, c.Number});
      event = {EventAccepted, c.Number};
    } else {
      event = {EventRejected, c.Number};
      if (focus_ != c.Number) {
        focus_ = c.Number;
        Notify(0, PropFocus);
      }
    }
    return true;
  }
  event = {EventCompleted, 0};
  return true;
}

}  // namespace rt
