#include "runtime/terminal/terminal_backend.h"

#define NCURSES_WIDECHAR 1
#define NCURSES_NOMACROS 1
#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "runtime/core/halt.h"
#include "runtime/terminal/screen_painter.h"
#include "runtime/terminal/terminal_guard.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/events.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window.h"

// Last: the terminal description's capability names are macros (buttons, lines...).
#include <term.h>

namespace rt {
namespace {

constexpr int kDoubleClickMs = 400;

std::atomic<bool> gInUse{false};

bool IsEntry(const ControlState& c) {
  return c.Kind == ControlKind::Entry || c.Kind == ControlKind::Combo;
}

// A key as the screen library reports it.
struct KeyPress {
  bool Function = false;  // Code is a KEY_ value
  wint_t Code = 0;
  bool Alt = false;  // came after Esc: Alt held
};

std::optional<KeyPress> ReadKey() {
  wint_t code = 0;
  const int kind = get_wch(&code);
  if (kind == ERR) return std::nullopt;
  if (kind == OK && code == 27) {
    // Alt+key arrives as Esc and the key together; Esc alone has nothing after it.
    wint_t next = 0;
    const int nextKind = get_wch(&next);
    if (nextKind == OK && next == '[') {
      // A sequence the terminal description does not name: Shift+Tab on a
      // terminal that lacks it, or one to ignore rather than read as Alt+[.
      std::wstring rest;
      wint_t ch = 0;
      while (get_wch(&ch) == OK) {
        rest += static_cast<wchar_t>(ch);
        if (ch >= 0x40 && ch <= 0x7E) break;
      }
      if (rest == L"Z") return KeyPress{true, KEY_BTAB, false};
      return KeyPress{true, 0, false};
    }
    if (nextKind == OK && next != 27) return KeyPress{false, next, true};
    if (nextKind == KEY_CODE_YES) return KeyPress{true, next, false};
  }
  return KeyPress{kind == KEY_CODE_YES, code, false};
}

// The terminal's sequences that leave full-screen mode, without padding marks.
std::string ResetSequence(bool mouse) {
  std::string sequence;
  auto add = [&](const char* name) {
    const char* value = tigetstr(name);
    if (!value || value == reinterpret_cast<const char*>(-1)) return;
    for (const char* p = value; *p; ++p) {
      if (p[0] == '$' && p[1] == '<') {
        while (*p && *p != '>') ++p;
        if (!*p) break;
        continue;
      }
      sequence += *p;
    }
  };
  add("sgr0");
  add("cnorm");
  add("rmkx");
  if (mouse) sequence += "\033[?1000l\033[?1002l\033[?1006l";
  add("rmcup");
  return sequence;
}

void ResetAtExit() { ResetTerminalNow(); }

class TerminalBackend final : public Backend {
 public:
  TerminalBackend(SCREEN* screen, int wakeRead, int wakeWrite);
  ~TerminalBackend() override;

  void CreateNative(const Window& window) override;
  void DestroyNative(const Window& window) override;
  void Update(const Window& window, int control, int property) override;
  std::optional<Input> WaitForInput(int timeoutMs) override;
  void Wake() override;
  int ShowMessageBox(const MessageBoxRequest& request) override;
  void ShowHalt(const std::string& text) override;
  void Beep(int frequency, int duration) override;
  void SetCursor(std::string_view cursor) override;
  Rect ScreenArea() const override;

 private:
  enum class Wait { Key, Timeout, Woken, HungUp };
  Wait WaitForKey(int timeoutMs);
  void Paint(const MessageBoxRequest* box = nullptr, MessageBoxView* boxView = nullptr);
  WindowView* ViewOf(const Window* window);
  WindowView* InputView();
  void SyncFocus(WindowView& view);
  std::optional<Input> Translate(WindowView& view, const KeyPress& key);
  std::optional<Input> EditEntry(WindowView& view, const ControlState& entry, const KeyPress& key);
  std::optional<Input> Activate(const Window& window, const ControlState& c);
  std::optional<Input> Click(WindowView& view);
  std::optional<Input> ResizeInput();
  std::optional<Input> BringOnScreen();
  int RunMessageBox(const MessageBoxRequest& request);
  void Shutdown();

  SCREEN* screen_;
  int wakeRead_, wakeWrite_;
  std::atomic<bool> woken_{false};
  bool ended_ = false;
  bool dirty_ = true;
  bool hungUp_ = false;
  int haltCleanup_ = 0;
  ScreenPainter painter_;
  std::vector<std::unique_ptr<WindowView>> views_;  // in opening order, the topmost last
  int lastClickControl_ = 0;
  std::int64_t lastClickMs_ = 0;
};

TerminalBackend::TerminalBackend(SCREEN* screen, int wakeRead, int wakeWrite)
    : screen_(screen), wakeRead_(wakeRead), wakeWrite_(wakeWrite) {
  cbreak();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, TRUE);
  meta(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  // Long enough for a key's sequence to arrive whole over a slow link, short
  // enough that Esc alone still feels immediate.
  set_escdelay(100);
  const bool mouse = mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED, nullptr) != 0;
  mouseinterval(0);
  painter_.Start();
  SetTerminalResetSequence(ResetSequence(mouse));
  haltCleanup_ = AddHaltCleanup([] { ResetTerminalNow(); });
  static const bool atExit = std::atexit(ResetAtExit) == 0;
  (void)atExit;
  Paint();
}

TerminalBackend::~TerminalBackend() {
  if (ActiveBackend() == this) SetBackend(nullptr);
  Shutdown();
  close(wakeRead_);
  close(wakeWrite_);
  gInUse = false;
}

void TerminalBackend::Shutdown() {
  if (ended_) return;
  ended_ = true;
  RemoveHaltCleanup(haltCleanup_);
  mousemask(0, nullptr);
  endwin();
  delscreen(screen_);
  UnguardTerminal();
}

WindowView* TerminalBackend::ViewOf(const Window* window) {
  for (auto& view : views_)
    if (view->Model == window) return view.get();
  return nullptr;
}

// The view of the window that takes input: the thread's topmost, when shown.
WindowView* TerminalBackend::InputView() {
  const Window* top = CurrentWindow();
  WindowView* view = ViewOf(top);
  if (!view || top->Hidden() || top->Iconized()) return nullptr;
  // A window the terminal is too small for shows only a notice: keys typed
  // at the notice must not reach the window nobody can see.
  if (!PlaceWindow(top->Area().Width, top->Area().Height, LINES, COLS).Fits) return nullptr;
  return view;
}

// A focus that moved (by the program or the user) starts a fresh edit.
void TerminalBackend::SyncFocus(WindowView& view) {
  const int focus = view.Model->Focus();
  if (focus == view.LastFocus) return;
  view.LastFocus = focus;
  if (const ControlState* c = view.Model->Control(focus); c && IsEntry(*c))
    view.Entries[focus] = {static_cast<int>(c->Text.size()), true};
}

void TerminalBackend::CreateNative(const Window& window) {
  if (ended_) return;
  auto view = std::make_unique<WindowView>();
  view->Model = &window;
  views_.push_back(std::move(view));
  Paint();
}

void TerminalBackend::DestroyNative(const Window& window) {
  std::erase_if(views_, [&](const auto& view) { return view->Model == &window; });
  if (!ended_) Paint();
}

void TerminalBackend::Update(const Window&, int, int) { dirty_ = true; }

void TerminalBackend::Paint(const MessageBoxRequest* box, MessageBoxView* boxView) {
  if (ended_) return;
  dirty_ = false;
  painter_.Clear();
  const Window* top = CurrentWindow();
  for (auto& view : views_) {
    SyncFocus(*view);
    const Window& w = *view->Model;
    view->Hits.clear();
    if (w.Hidden() || w.Iconized()) continue;
    const Placement place = PlaceWindow(w.Area().Width, w.Area().Height, LINES, COLS);
    if (!place.Fits && &w == top && !box) {
      painter_.PaintTooSmall(place.WantRows, place.WantCols);
      break;
    }
    painter_.PaintWindow(*view, &w == top && !box);
  }
  if (box && !painter_.PaintMessageBox(*box, *boxView)) {
    boxView->Cells.clear();
    painter_.PaintTooSmall(boxView->WantRows, boxView->WantCols);
  }
  painter_.Finish();
}

TerminalBackend::Wait TerminalBackend::WaitForKey(int timeoutMs) {
  if (hungUp_) return Wait::HungUp;
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
  const int ready = poll(fds, 2, timeoutMs);
  if (ready <= 0)
    return ready == 0 ? Wait::Timeout : Wait::Key;  // a signal (a resize) lets getch tell
  if (fds[1].revents) {
    char drain[64];
    while (read(wakeRead_, drain, sizeof drain) > 0) {
    }
  }
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
    hungUp_ = true;
    return Wait::HungUp;
  }
  return fds[0].revents ? Wait::Key : Wait::Woken;
}

std::optional<Input> TerminalBackend::WaitForInput(int timeoutMs) {
  if (ended_) return std::nullopt;
  const std::int64_t deadline = NowMs() + std::max(0, timeoutMs);
  for (;;) {
    if (woken_.exchange(false)) return std::nullopt;
    if (auto input = BringOnScreen()) return input;
    if (dirty_) Paint();
    if (auto key = ReadKey()) {
      if (key->Function && key->Code == KEY_RESIZE) {
        Paint();
        if (auto input = ResizeInput()) return input;
        continue;
      }
      WindowView* view = InputView();
      if (!view) continue;
      SyncFocus(*view);
      if (auto input = Translate(*view, *key)) return input;
      continue;
    }
    const int remaining =
        timeoutMs < 0 ? -1 : static_cast<int>(std::max<std::int64_t>(0, deadline - NowMs()));
    if (remaining == 0) return std::nullopt;
    switch (WaitForKey(remaining)) {
      case Wait::HungUp: {
        // The terminal is gone: every window is asked to end, once a wait.
        Input input;
        input.What = Input::Kind::CloseDown;
        return input;
      }
      case Wait::Timeout: return std::nullopt;
      case Wait::Woken:
      case Wait::Key: break;
    }
  }
}

// A terminal has no task bar to bring a minimised window back from, and a
// window is only resized here by the program: a saved placement from a
// desktop could leave the window waiting for input minimised (a blank
// screen) or larger than the terminal ("Terminal too small"). The topmost
// window is therefore restored as the operator would restore it, and a
// resizable one is fitted to the screen once.
std::optional<Input> TerminalBackend::BringOnScreen() {
  const Window* top = CurrentWindow();
  WindowView* view = ViewOf(top);
  if (!view || top->Hidden()) return std::nullopt;
  Input input;
  input.Target = top;
  if (top->Iconized()) {
    input.What = Input::Kind::Restore;
    return input;
  }
  if (top->Maximized() || !top->Resizable()) return std::nullopt;
  const Rect screen = ScreenArea();
  const Rect area = top->Area();
  const Rect fitted{0, 0, std::min(area.Width, screen.Width), std::min(area.Height, screen.Height)};
  // The window's minimum size may keep it larger than the screen: asked once.
  if (fitted.Width == area.Width && fitted.Height == area.Height) return std::nullopt;
  if (view->FitAsked && view->FitAsked->Width == fitted.Width &&
      view->FitAsked->Height == fitted.Height)
    return std::nullopt;
  view->FitAsked = fitted;
  input.What = Input::Kind::Resize;
  input.Area = fitted;
  return input;
}

std::optional<Input> TerminalBackend::ResizeInput() {
  const Window* top = CurrentWindow();
  if (!ViewOf(top)) return std::nullopt;
  Input input;
  input.What = Input::Kind::Resize;
  input.Target = top;
  input.Area = top->Maximized() ? ScreenArea() : Rect{0, 0, top->Area().Width, top->Area().Height};
  return input;
}

// Focus moves in control order over the controls that can take it.
int NextFocus(const Window& w, int step) {
  const auto& controls = w.Controls();
  const int count = static_cast<int>(controls.size());
  int at = 0;
  for (int i = 0; i < count; ++i)
    if (controls[i].Number == w.Focus()) at = i;
  for (int i = 1; i <= count; ++i) {
    const ControlState& c = controls[((at + step * i) % count + count) % count];
    if (c.Focusable()) return c.Number;
  }
  return 0;
}

std::optional<Input> FocusInput(const Window& w, int control) {
  if (control == 0 || control == w.Focus()) return std::nullopt;
  Input input;
  input.What = Input::Kind::Focus;
  input.Target = &w;
  input.Control = control;
  return input;
}

Input KeyInput(const Window& w, int key) {
  Input input;
  input.What = Input::Kind::Key;
  input.Target = &w;
  input.Value = key;
  return input;
}

std::optional<Input> TerminalBackend::Activate(const Window& w, const ControlState& c) {
  switch (c.Kind) {
    case ControlKind::Button:
    case ControlKind::Check: {
      Input input;
      input.What = Input::Kind::Accept;
      input.Target = &w;
      input.Control = c.Number;
      input.Value = 1;
      return input;
    }
    case ControlKind::Text:
    case ControlKind::Prompt:
    case ControlKind::Group:
      // A label hands its letter to the control after it.
      for (const ControlState& next : w.Controls())
        if (next.Number > c.Number && next.Focusable()) return FocusInput(w, next.Number);
      return std::nullopt;
    default: return FocusInput(w, c.Number);
  }
}

std::optional<Input> TerminalBackend::EditEntry(WindowView& view, const ControlState& entry,
                                                const KeyPress& key) {
  WindowView::EntryEdit& edit = view.Entries[entry.Number];
  std::string text = entry.Text;
  int cursor = std::clamp(edit.Cursor, 0, static_cast<int>(text.size()));
  const bool fresh = edit.Fresh;
  edit.Fresh = false;
  dirty_ = true;
  if (key.Function) {
    switch (key.Code) {
      case KEY_LEFT: edit.Cursor = std::max(0, cursor - 1); return std::nullopt;
      case KEY_RIGHT:
        edit.Cursor = std::min(static_cast<int>(text.size()), cursor + 1);
        return std::nullopt;
      case KEY_HOME: edit.Cursor = 0; return std::nullopt;
      case KEY_END: edit.Cursor = static_cast<int>(text.size()); return std::nullopt;
      case KEY_BACKSPACE:
        if (fresh)
          text.clear(), cursor = 0;
        else if (cursor > 0)
          text.erase(--cursor, 1);
        break;
      case KEY_DC:
        if (fresh)
          text.clear(), cursor = 0;
        else if (cursor < static_cast<int>(text.size()))
          text.erase(cursor, 1);
        break;
      default: return std::nullopt;
    }
  } else if (key.Code == 127 || key.Code == 8) {
    if (fresh)
      text.clear(), cursor = 0;
    else if (cursor > 0)
      text.erase(--cursor, 1);
  } else if (key.Code >= 0x20 && key.Code <= 0xFF) {
    if (fresh) text.clear(), cursor = 0;
    text.insert(static_cast<std::size_t>(cursor++), 1, static_cast<char>(key.Code));
  } else {
    beep();  // a character the entry's Latin-1 text cannot hold
    return std::nullopt;
  }
  edit.Cursor = cursor;
  if (text == entry.Text) return std::nullopt;
  Input input;
  input.What = Input::Kind::Edit;
  input.Target = view.Model;
  input.Control = entry.Number;
  input.Text = text;
  return input;
}

std::optional<Input> TerminalBackend::Translate(WindowView& view, const KeyPress& key) {
  const Window& w = *view.Model;
  const ControlState* focused = w.Control(w.Focus());
  const bool inEntry = focused && IsEntry(*focused) && focused->Focusable();
  const bool inList = focused && focused->Kind == ControlKind::List && focused->Focusable();
  if (key.Function) {
    int arrow = 0;
    switch (key.Code) {
      case KEY_BTAB: return KeyInput(w, KeyShiftTab);
      case KEY_ENTER: return KeyInput(w, KeyEnter);
      case KEY_MOUSE: return Click(view);
      case KEY_LEFT: arrow = KeyLeft; break;
      case KEY_RIGHT: arrow = KeyRight; break;
      case KEY_UP: arrow = KeyUp; break;
      case KEY_DOWN: arrow = KeyDown; break;
      case KEY_PPAGE:
      case KEY_NPAGE:
      case KEY_HOME:
      case KEY_END: {
        const int code = key.Code == KEY_PPAGE   ? KeyPageUp
                         : key.Code == KEY_NPAGE ? KeyPageDown
                         : key.Code == KEY_HOME  ? KeyHome
                                                 : KeyEnd;
        if (w.AlertKeys().count(code) || (focused && focused->AlertKeys.count(code)))
          return KeyInput(w, code);
        if (inList) {
          const int rows = w.RowCount(focused->Number);
          const int page = std::max(1, focused->Position.Height / 8 - 2);
          int row = focused->Selected;
          row = key.Code == KEY_HOME  ? 1
                : key.Code == KEY_END ? rows
                                      : row + (key.Code == KEY_NPAGE ? page : -page);
          Input input;
          input.What = Input::Kind::SelectRow;
          input.Target = &w;
          input.Control = focused->Number;
          input.Value = std::clamp(row, std::min(1, rows), rows);
          return input;
        }
        return inEntry ? EditEntry(view, *focused, key) : std::nullopt;
      }
      default: return inEntry ? EditEntry(view, *focused, key) : std::nullopt;
    }
    const bool alert = w.AlertKeys().count(arrow) || (focused && focused->AlertKeys.count(arrow));
    if (alert) return KeyInput(w, arrow);
    if (inEntry && (arrow == KeyLeft || arrow == KeyRight)) return EditEntry(view, *focused, key);
    if (inList && (arrow == KeyUp || arrow == KeyDown)) {
      const int rows = w.RowCount(focused->Number);
      if (rows == 0) return std::nullopt;
      Input input;
      input.What = Input::Kind::SelectRow;
      input.Target = &w;
      input.Control = focused->Number;
      input.Value = std::clamp(focused->Selected + (arrow == KeyDown ? 1 : -1), 1, rows);
      return input;
    }
    return FocusInput(w, NextFocus(w, arrow == KeyLeft || arrow == KeyUp ? -1 : 1));
  }
  switch (key.Code) {
    case 9: return KeyInput(w, KeyTab);
    case 13:
    case 10: return KeyInput(w, KeyEnter);
    case 27: return KeyInput(w, KeyEscape);
    case 12:
      clearok(curscr, TRUE);
      dirty_ = true;
      return std::nullopt;
    default: break;
  }
  if (key.Alt || !inEntry) {
    const char letter =
        static_cast<char>(key.Code < 0x80 ? std::toupper(static_cast<int>(key.Code)) : 0);
    if (letter > ' ')
      for (const ControlState& c : w.Controls())
        if (!c.Hidden && !c.Disabled && Accelerator(c.Text) == letter) return Activate(w, c);
    if (key.Alt) return std::nullopt;
  }
  if (inEntry) return EditEntry(view, *focused, key);
  if (key.Code == ' ' && focused && focused->Focusable()) return Activate(w, *focused);
  return std::nullopt;
}

std::optional<Input> TerminalBackend::Click(WindowView& view) {
  MEVENT event;
  if (getmouse(&event) != OK || !(event.bstate & (BUTTON1_RELEASED | BUTTON1_CLICKED)))
    return std::nullopt;
  const Window& w = *view.Model;
  const ControlState* c = nullptr;
  CellRect cells;
  for (auto hit = view.Hits.rbegin(); hit != view.Hits.rend(); ++hit) {
    const ControlState* candidate = w.Control(hit->Control);
    if (candidate && hit->Cells.Contains(event.y, event.x) && candidate->Focusable()) {
      c = candidate;
      cells = hit->Cells;
      break;
    }
  }
  if (!c) return std::nullopt;
  const std::int64_t now = NowMs();
  const bool twice = lastClickControl_ == c->Number && now - lastClickMs_ < kDoubleClickMs;
  lastClickControl_ = twice ? 0 : c->Number;
  lastClickMs_ = now;
  Input input;
  input.Target = &w;
  input.Control = c->Number;
  input.Pointer = true;
  switch (c->Kind) {
    case ControlKind::Entry:
    case ControlKind::Combo: {
      SyncFocus(view);
      view.Entries[c->Number] = {std::min(static_cast<int>(c->Text.size()), event.x - cells.Col),
                                 false};
      dirty_ = true;
      return FocusInput(w, c->Number);
    }
    case ControlKind::List: {
      const int row = view.ListRowAt(c->Number, event.y);
      if (row == 0) return FocusInput(w, c->Number);
      input.What = twice && row == c->Selected ? Input::Kind::Accept : Input::Kind::SelectRow;
      input.Value = input.What == Input::Kind::Accept ? 2 : row;
      return input;
    }
    default:
      input.What = Input::Kind::Accept;
      input.Value = 1;
      return input;
  }
}

int TerminalBackend::RunMessageBox(const MessageBoxRequest& request) {
  MessageBoxView view;
  for (int bit = 1, i = 0; bit <= ButtonHelp; bit <<= 1)
    if (request.Buttons & bit) {
      if (bit == request.DefaultButton) view.Focus = i;
      ++i;
    }
  auto index = [&](int button) {
    for (std::size_t i = 0; i < view.Buttons.size(); ++i)
      if (view.Buttons[i] == button) return static_cast<int>(i);
    return -1;
  };
  for (;;) {
    Paint(&request, &view);
    const int count = static_cast<int>(view.Buttons.size());
    std::optional<KeyPress> key;
    while (!(key = ReadKey()))
      if (WaitForKey(-1) == Wait::HungUp) return request.DefaultButton;
    if (key->Function) {
      switch (key->Code) {
        case KEY_RIGHT:
        case KEY_DOWN: view.Focus = (view.Focus + 1) % count; continue;
        case KEY_LEFT:
        case KEY_UP:
        case KEY_BTAB: view.Focus = (view.Focus + count - 1) % count; continue;
        case KEY_ENTER: return view.Buttons[view.Focus];
        case KEY_MOUSE: {
          MEVENT event;
          if (getmouse(&event) != OK || !(event.bstate & (BUTTON1_RELEASED | BUTTON1_CLICKED)))
            continue;
          for (std::size_t i = 0; i < view.Cells.size(); ++i)
            if (view.Cells[i].Contains(event.y, event.x)) return view.Buttons[i];
          continue;
        }
        default: continue;  // a resize: the next paint re-centres the box
      }
    }
    switch (key->Code) {
      case 9: view.Focus = (view.Focus + 1) % count; continue;
      case 13:
      case 10:
      case ' ': return view.Buttons[view.Focus];
      case 27:
        if (index(ButtonCancel) >= 0) return ButtonCancel;
        if (count == 1) return view.Buttons[0];
        continue;
      default: break;
    }
    const char letter =
        static_cast<char>(key->Code < 0x80 ? std::toupper(static_cast<int>(key->Code)) : 0);
    for (int button : view.Buttons)
      if (Accelerator(ScreenPainter::ButtonName(button)) == letter) return button;
  }
}

int TerminalBackend::ShowMessageBox(const MessageBoxRequest& request) {
  if (ended_) return request.DefaultButton;
  const int answer = RunMessageBox(request);
  dirty_ = true;
  return answer;
}

void TerminalBackend::ShowHalt(const std::string& text) {
  if (!ended_ && OnBackendThread()) {
    MessageBoxRequest request;
    std::size_t start = 0;
    for (std::size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
      request.Lines.push_back(text.substr(start, bar - start));
    request.Lines.push_back(text.substr(start));
    request.Icon = StockIcon(kStockExclamation);
    RunMessageBox(request);
    Shutdown();
  } else {
    ResetTerminalNow();
  }
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

void TerminalBackend::Wake() {
  woken_ = true;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(wakeWrite_, &byte, 1);
}

void TerminalBackend::Beep(int, int) {
  if (!ended_) beep();
}

// A terminal has no pointer to change.
void TerminalBackend::SetCursor(std::string_view) {}

// What a window may fill: the screen less its frame (PlaceWindow).
Rect TerminalBackend::ScreenArea() const {
  return {0, 0, std::max(0, COLS - 4) * 4, std::max(0, LINES - 2) * 8};
}

}  // namespace

std::unique_ptr<Backend> MakeTerminalBackend(std::string& error) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    error = "the terminal backend needs a terminal, and standard input or output is not one";
    return nullptr;
  }
  const char* term = std::getenv("TERM");
  if (!term || !*term) {
    error = "the terminal backend needs TERM to name the terminal type, and it is not set";
    return nullptr;
  }
  int status = 0;
  if (setupterm(term, STDOUT_FILENO, &status) != OK) {
    error = std::string("the terminal type \"") + term + "\" is not known on this machine";
    return nullptr;
  }
  const char* cup = tigetstr("cup");
  const bool addressable = cup && cup != reinterpret_cast<const char*>(-1);
  del_curterm(cur_term);
  if (!addressable) {
    error = std::string("the terminal type \"") + term +
            "\" cannot place the cursor, so it cannot show windows";
    return nullptr;
  }
  if (gInUse.exchange(true)) {
    error = "a terminal backend is already running";
    return nullptr;
  }
  int wake[2];
  if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    gInUse = false;
    error = "the terminal backend cannot make its wake-up pipe";
    return nullptr;
  }
  // Texts are Latin-1 bytes; the character type follows the user's locale so
  // that a UTF-8 terminal gets its characters. Numbers and dates keep theirs.
  std::setlocale(LC_CTYPE, "");
  GuardTerminal(STDIN_FILENO);
  SCREEN* screen = newterm(term, stdout, stdin);
  if (!screen) {
    UnguardTerminal();
    close(wake[0]);
    close(wake[1]);
    gInUse = false;
    error = std::string("the terminal \"") + term + "\" could not be started";
    return nullptr;
  }
  set_term(screen);
  return std::make_unique<TerminalBackend>(screen, wake[0], wake[1]);
}

}  // namespace rt
