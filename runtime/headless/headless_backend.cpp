#include "runtime/headless/headless_backend.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

#include "runtime/core/halt.h"
#include "runtime/core/text.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window.h"

namespace rt {
namespace {

// How long a wait with nothing left to give listens for another thread's
// events before the window is closed for lack of input (the first time; a
// window that refused that close is asked again at once).
constexpr int kLastChanceMs = 50;
constexpr int kMaxClosesWithoutInput = 100;

std::string IconName(const std::string& icon) {
  switch (StockIconNumber(icon)) {
    case 0: return icon;
    case kStockExclamation: return "exclamation";
    case kStockInformation: return "information";
    default: return "stock-" + std::to_string(StockIconNumber(icon));
  }
}

const ControlState* FindControl(const Window& window, const std::string& name) {
  bool digits = !name.empty();
  for (char c : name) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  return digits ? window.Control(std::stoi(name)) : window.Control(std::string_view(name));
}

}  // namespace

HeadlessBackend::~HeadlessBackend() {
  if (ActiveBackend() == this) SetBackend(nullptr);
}

bool HeadlessBackend::LoadScript(std::string_view text, std::string* error) {
  std::vector<ScriptStep> steps;
  std::string message;
  if (!ParseOperatorScript(text, steps, message)) {
    if (error) *error = message;
    return false;
  }
  std::lock_guard lock(mutex_);
  for (auto& step : steps) steps_.push_back(std::move(step));
  return true;
}

bool HeadlessBackend::LoadScriptFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read operator script " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string message;
  if (!LoadScript(text.str(), &message)) {
    if (error) *error = path + ": " + message;
    return false;
  }
  return true;
}

void HeadlessBackend::Queue(ScriptStep step) {
  std::lock_guard lock(mutex_);
  steps_.push_back(std::move(step));
}

namespace {
ScriptStep Step(ScriptStep::Kind kind, std::string_view control = {}, std::string_view text = {}, int value = 0,
                int value2 = 0) {
  ScriptStep step;
  step.What = kind;
  step.Control = std::string(control);
  step.Text = std::string(text);
  step.Value = value;
  step.Value2 = value2;
  return step;
}
}  // namespace

void HeadlessBackend::Expect(std::string_view window) {
  Queue(Step(ScriptStep::Kind::Expect, {}, window));
}
void HeadlessBackend::Type(std::string_view control, std::string_view text) {
  Queue(Step(ScriptStep::Kind::Type, control, text));
}
void HeadlessBackend::Accept(std::string_view control) { Queue(Step(ScriptStep::Kind::Accept, control)); }
void HeadlessBackend::Key(int key) { Queue(Step(ScriptStep::Kind::Key, {}, {}, key)); }
void HeadlessBackend::SelectRow(std::string_view control, int row) {
  Queue(Step(ScriptStep::Kind::Select, control, {}, row));
}
void HeadlessBackend::Close() { Queue(Step(ScriptStep::Kind::Close)); }
void HeadlessBackend::Resize(int width, int height) { Queue(Step(ScriptStep::Kind::Resize, {}, {}, width, height)); }
void HeadlessBackend::Maximize() { Queue(Step(ScriptStep::Kind::Maximize)); }
void HeadlessBackend::Restore() { Queue(Step(ScriptStep::Kind::Restore)); }
void HeadlessBackend::Wait(int ms) { Queue(Step(ScriptStep::Kind::Wait, {}, {}, ms < 0 ? 0 : ms)); }
void HeadlessBackend::Answer(int button) { Queue(Step(ScriptStep::Kind::Answer, {}, {}, button)); }

void HeadlessBackend::OnIdle(std::function<void(HeadlessBackend&)> callback) {
  std::lock_guard lock(mutex_);
  idle_ = std::move(callback);
}

void HeadlessBackend::OnMessageBox(std::function<int(const MessageBoxRecord&)> callback) {
  std::lock_guard lock(mutex_);
  messageBoxAnswer_ = std::move(callback);
}

void HeadlessBackend::SetUnattended(bool on) {
  std::lock_guard lock(mutex_);
  unattended_ = on;
}

void HeadlessBackend::AdvanceClock(int ms) {
  if (ms > 0) offsetMs_ += ms;
}

void HeadlessBackend::SetIdleLimit(int ms) {
  std::lock_guard lock(mutex_);
  idleLimitMs_ = ms < 0 ? 0 : ms;
}

std::size_t HeadlessBackend::PendingSteps() const {
  std::lock_guard lock(mutex_);
  return steps_.size();
}

std::vector<std::string> HeadlessBackend::Transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_;
}

std::vector<HeadlessBackend::MessageBoxRecord> HeadlessBackend::MessageBoxes() const {
  std::lock_guard lock(mutex_);
  return messageBoxes_;
}

std::vector<std::string> HeadlessBackend::Halts() const {
  std::lock_guard lock(mutex_);
  return halts_;
}

std::vector<std::string> HeadlessBackend::Problems() const {
  std::lock_guard lock(mutex_);
  return problems_;
}

std::string HeadlessBackend::Cursor() const {
  std::lock_guard lock(mutex_);
  return cursor_;
}

std::optional<HeadlessBackend::ShownWindow> HeadlessBackend::Shown(std::string_view window) const {
  std::lock_guard lock(mutex_);
  auto it = shown_.find(UpperCase(window));
  if (it == shown_.end()) return std::nullopt;
  return it->second;
}

std::string HeadlessBackend::ShownText(std::string_view window, int control) const {
  std::lock_guard lock(mutex_);
  auto it = shown_.find(UpperCase(window));
  if (it == shown_.end()) return {};
  auto c = it->second.Controls.find(control);
  return c == it->second.Controls.end() ? std::string() : c->second.Text;
}

void HeadlessBackend::Record(std::string line) { transcript_.push_back(std::move(line)); }

void HeadlessBackend::Problem(const ScriptStep& step, const std::string& what) {
  std::string text = step.Line > 0 ? "line " + std::to_string(step.Line) + ": " : std::string();
  text += DescribeStep(step) + ": " + what;
  problems_.push_back(text);
  Record("problem " + text);
}

// Compares the model with what was last shown and records the differences.
void HeadlessBackend::Snapshot(const Window& window, int control) {
  ShownWindow& shown = shown_[UpperCase(window.Name())];
  const std::string name = window.Name();
  if (control == 0) {
    if (shown.Caption != window.Caption())
      Record("caption " + name + " " + InDoubleQuotes(window.Caption()));
    if (shown.Hidden != window.Hidden()) Record((window.Hidden() ? "hide " : "show ") + name);
    shown.Caption = window.Caption();
    shown.Hidden = window.Hidden();
    shown.Area = window.Area();
    shown.Focus = window.Focus();
    return;
  }
  const ControlState* c = window.Control(control);
  if (!c) return;
  ShownControl& s = shown.Controls[control];
  const std::string who = name + ":" + std::to_string(control);
  if (s.Text != c->Text) Record("text " + who + " " + InDoubleQuotes(c->Text));
  if (s.Hidden != c->Hidden) Record((c->Hidden ? "hide " : "show ") + who);
  if (s.Disabled != c->Disabled) Record((c->Disabled ? "disable " : "enable ") + who);
  if (s.FontColor != c->FontColor) Record("color " + who + " " + std::to_string(c->FontColor));
  if (s.FontStyle != c->FontStyle) Record("style " + who + " " + std::to_string(c->FontStyle));
  if (s.Value != c->Value) Record("value " + who + " " + std::to_string(c->Value));
  if (s.Selected != c->Selected) Record("row " + who + " " + std::to_string(c->Selected));
  if (s.Hint != c->TypingHint) Record("hint " + who + " " + InDoubleQuotes(c->TypingHint));
  s = {c->Text,     c->Hidden,  c->Disabled, c->FontColor, c->FontStyle,
       c->Value,    c->Selected, c->Default, c->Position,  c->TypingHint};
}

void HeadlessBackend::CreateNative(const Window& window) {
  std::lock_guard lock(mutex_);
  ShownWindow shown;
  shown.Caption = window.Caption();
  shown.Area = window.Area();
  shown.Hidden = window.Hidden();
  shown.Open = true;
  shown.Focus = window.Focus();
  for (const auto& c : window.Controls())
    shown.Controls[c.Number] = {c.Text,     c.Hidden,   c.Disabled, c.FontColor, c.FontStyle,
                                c.Value,    c.Selected, c.Default,  c.Position,  c.TypingHint};
  shown_[UpperCase(window.Name())] = std::move(shown);
  Record("open " + window.Name() + " " + InDoubleQuotes(window.Caption()));
}

void HeadlessBackend::DestroyNative(const Window& window) {
  std::lock_guard lock(mutex_);
  shown_[UpperCase(window.Name())].Open = false;
  Record("close " + window.Name());
}

void HeadlessBackend::Update(const Window& window, int control, int property) {
  std::lock_guard lock(mutex_);
  Snapshot(window, control);
  if (control == 0 && property == 0)
    for (const auto& c : window.Controls()) Snapshot(window, c.Number);
}

// Turns a step into input for the topmost window, or records why it cannot be given.
std::optional<Input> HeadlessBackend::StepInput(const ScriptStep& step) {
  const Window* top = CurrentWindow();
  if (!top) {
    Problem(step, "no window is open");
    return std::nullopt;
  }
  Input input;
  input.Target = top;
  const ControlState* c = nullptr;
  if (step.What == ScriptStep::Kind::Type || step.What == ScriptStep::Kind::Accept ||
      step.What == ScriptStep::Kind::DoubleClick || step.What == ScriptStep::Kind::Select) {
    c = FindControl(*top, step.Control);
    if (!c) {
      Problem(step, "window " + top->Name() + " has no control " + step.Control);
      return std::nullopt;
    }
    if (c->Hidden || c->Disabled) {
      Problem(step, "control " + step.Control + " is " + (c->Hidden ? "hidden" : "disabled"));
      return std::nullopt;
    }
    input.Control = c->Number;
  }
  switch (step.What) {
    case ScriptStep::Kind::Type:
      if (c->Kind != ControlKind::Entry && c->Kind != ControlKind::Combo) {
        Problem(step, "control " + step.Control + " takes no typing");
        return std::nullopt;
      }
      input.What = Input::Kind::Edit;
      input.Text = step.Text;
      break;
    case ScriptStep::Kind::Accept:
    case ScriptStep::Kind::DoubleClick:
      input.What = Input::Kind::Accept;
      input.Pointer = true;
      input.Value = step.What == ScriptStep::Kind::DoubleClick ? 2 : 1;
      break;
    case ScriptStep::Kind::Select:
      input.What = Input::Kind::SelectRow;
      input.Value = step.Value;
      break;
    case ScriptStep::Kind::Key:
      input.What = Input::Kind::Key;
      input.Value = step.Value;
      break;
    case ScriptStep::Kind::Close: input.What = Input::Kind::Close; break;
    case ScriptStep::Kind::CloseDown: input.What = Input::Kind::CloseDown; break;
    case ScriptStep::Kind::Resize:
      input.What = Input::Kind::Resize;
      input.Area = {0, 0, step.Value, step.Value2};
      break;
    case ScriptStep::Kind::Move:
      input.What = Input::Kind::Move;
      input.Area = {step.Value, step.Value2, 0, 0};
      break;
    case ScriptStep::Kind::Maximize: input.What = Input::Kind::Maximize; break;
    case ScriptStep::Kind::Minimize: input.What = Input::Kind::Minimize; break;
    case ScriptStep::Kind::Restore: input.What = Input::Kind::Restore; break;
    default: return std::nullopt;
  }
  Record("input " + DescribeStep(step));
  return input;
}

std::optional<Input> HeadlessBackend::WaitForInput(int timeoutMs) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (wake_) {
      wake_ = false;
      return std::nullopt;
    }
    if (!steps_.empty()) {
      idleSpentMs_ = 0;
      ScriptStep step = steps_.front();
      switch (step.What) {
        case ScriptStep::Kind::Wait: {
          const std::int64_t now = NowMs();
          if (!waitUntil_) waitUntil_ = now + step.Value;
          const std::int64_t remaining = *waitUntil_ - now;
          if (remaining <= 0 || timeoutMs < 0 || timeoutMs >= remaining) {
            if (remaining > 0) offsetMs_ += remaining;
            waitUntil_.reset();
            steps_.pop_front();
            continue;
          }
          offsetMs_ += timeoutMs;
          return std::nullopt;
        }
        case ScriptStep::Kind::Answer:
          // A look for input while the program is busy (a commit serving
          // the windows) leaves it for the box that may follow; only a
          // wait for input proves that no box is coming.
          if (timeoutMs == 0) return std::nullopt;
          steps_.pop_front();
          Problem(step, "no message box was shown");
          continue;
        case ScriptStep::Kind::Expect: {
          steps_.pop_front();
          const Window* top = CurrentWindow();
          if (!top || !SameIgnoringCase(top->Name(), step.Text))
            Problem(step, "the topmost window is " + (top ? top->Name() : std::string("none")));
          continue;
        }
        default: {
          steps_.pop_front();
          closesWithoutInput_ = 0;
          if (auto input = StepInput(step)) return input;
          continue;
        }
      }
    }
    if (timeoutMs == 0) return std::nullopt;
    if (idle_ && !inIdleCallback_) {
      auto callback = idle_;
      inIdleCallback_ = true;
      lock.unlock();
      callback(*this);
      lock.lock();
      inIdleCallback_ = false;
      if (!steps_.empty() || wake_) continue;
    }
    if (timeoutMs > 0 && idleSpentMs_ + timeoutMs <= idleLimitMs_) {
      idleSpentMs_ += timeoutMs;
      offsetMs_ += timeoutMs;
      return std::nullopt;
    }
    // Nothing will come from the script: give other threads a last chance,
    // then ask the window to close.
    if (closesWithoutInput_ == 0 &&
        woken_.wait_for(lock, std::chrono::milliseconds(kLastChanceMs), [&] { return wake_; }))
      continue;
    const Window* top = CurrentWindow();
    if (!top) return std::nullopt;
    idleSpentMs_ = 0;
    if (++closesWithoutInput_ > kMaxClosesWithoutInput) {
      lock.unlock();
      Halt(1, "The operator script ended and window " + top->Name() + " does not close.");
    }
    const std::string reason = timeoutMs > 0 ? "idle limit reached" : "no more input";
    problems_.push_back(reason + ": closing " + top->Name());
    Record("problem " + reason + ": closing " + top->Name());
    Input input;
    input.What = Input::Kind::Close;
    input.Target = top;
    return input;
  }
}

void HeadlessBackend::Wake() {
  {
    std::lock_guard lock(mutex_);
    wake_ = true;
  }
  woken_.notify_all();
}

int HeadlessBackend::ShowMessageBox(const MessageBoxRequest& request) {
  std::unique_lock lock(mutex_);
  MessageBoxRecord record{request.Caption, request.Lines, request.Icon, request.Buttons, request.DefaultButton,
                          request.Style, request.DefaultButton};
  std::string text;
  for (std::size_t i = 0; i < request.Lines.size(); ++i) text += (i ? "|" : "") + request.Lines[i];
  bool answered = false;
  if (!steps_.empty() && steps_.front().What == ScriptStep::Kind::Answer) {
    const ScriptStep step = steps_.front();
    steps_.pop_front();
    answered = true;
    if (step.Value == 0) {
      record.Answer = request.DefaultButton;
    } else if (step.Value & request.Buttons && (step.Value & (step.Value - 1)) == 0) {
      record.Answer = step.Value;
    } else {
      Problem(step, "the message box has no such button (buttons " + std::to_string(request.Buttons) + ")");
    }
  } else if (messageBoxAnswer_) {
    auto callback = messageBoxAnswer_;
    lock.unlock();
    const int answer = callback(record);
    lock.lock();
    if (answer > 0 && (answer & request.Buttons) && (answer & (answer - 1)) == 0) {
      record.Answer = answer;
      answered = true;
    }
  }
  if (answered) {
    if (request.Buttons & (request.Buttons - 1)) lastUnanswered_.clear();
  } else {
    record.Answer = UnansweredChoice(request, text);
  }
  std::string line = "messagebox " + InDoubleQuotes(request.Caption) + " " + InDoubleQuotes(text);
  if (!request.Icon.empty()) line += " icon=" + IconName(request.Icon);
  line += " buttons=" + std::to_string(request.Buttons) + " default=" + std::to_string(request.DefaultButton) +
          " -> " + std::to_string(record.Answer);
  Record(std::move(line));
  messageBoxes_.push_back(record);
  if (unattended_) {
    std::string shown = text;
    std::replace(shown.begin(), shown.end(), '|', ' ');
    std::cerr << (request.Caption.empty() ? std::string() : request.Caption + ": ") << shown << " -> "
              << ButtonName(record.Answer) << std::endl;
  }
  return record.Answer;
}

int HeadlessBackend::UnansweredChoice(const MessageBoxRequest& request, const std::string& text) {
  const int buttons = request.Buttons;
  // A box with one button asks nothing; it cannot loop on an answer.
  if ((buttons & (buttons - 1)) == 0) return request.DefaultButton;
  const std::string question = request.Caption + '\n' + text + '\n' + std::to_string(buttons);
  const bool again = question == lastUnanswered_;
  lastUnanswered_ = question;
  const bool retries = request.DefaultButton == ButtonYes || request.DefaultButton == ButtonRetry;
  if (!again || !retries) return request.DefaultButton;
  for (int declining : {ButtonNo, ButtonCancel, ButtonAbort, ButtonIgnore}) {
    if (!(buttons & declining)) continue;
    const std::string note = "the same question came again with nobody to answer it; answered " +
                             ButtonName(declining) + " instead of " + ButtonName(request.DefaultButton);
    Record("unattended " + InDoubleQuotes(request.Caption) + " " + note);
    std::cerr << (request.Caption.empty() ? std::string() : request.Caption + ": ") << note << std::endl;
    return declining;
  }
  return request.DefaultButton;
}

void HeadlessBackend::ShowHalt(const std::string& text) {
  std::lock_guard lock(mutex_);
  halts_.push_back(text);
  Record("halt " + InDoubleQuotes(text));
}

void HeadlessBackend::Beep(int frequency, int duration) {
  std::lock_guard lock(mutex_);
  Record("beep " + std::to_string(frequency) + " " + std::to_string(duration));
}

void HeadlessBackend::SetCursor(std::string_view cursor) {
  std::lock_guard lock(mutex_);
  cursor_ = cursor == CursorBusy ? "busy" : std::string(cursor);
  Record("cursor " + (cursor_.empty() ? std::string("normal") : cursor_));
}

std::int64_t HeadlessBackend::NowMs() const { return Backend::NowMs() + offsetMs_.load(); }

}  // namespace rt
