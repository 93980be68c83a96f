#include "runtime/windows/event_loop.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/core/blocking_call.h"
#include "runtime/core/error_state.h"
#include "runtime/core/program.h"
#include "runtime/core/thread_instance.h"

namespace rt {
namespace {

using detail::Fail;
using detail::Ok;

constexpr std::string_view kNoWindow = "no window is open on this thread";

std::string NoThread(int thread) { return "thread " + std::to_string(thread) + " has no windows"; }

// Events sent from other threads wait here until the owning thread drains
// them into its topmost window. Guarded by mutex.
struct Inbox {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::pair<Event, bool>> events;  // event, urgent
};

std::mutex gRegistryMutex;
std::map<int, std::weak_ptr<Inbox>> gInboxes;  // by thread number; guarded by gRegistryMutex

struct LoopState {
  Window* window = nullptr;
  Event current;
  bool hasCurrent = false;
  bool ended = false;
};

struct ThreadWindows {
  ThreadWindows() : inbox(std::make_shared<Inbox>()) { Register(); }
  ~ThreadWindows() { Unregister(); }
  // Keeps the inbox reachable under the thread's current number (a thread
  // gets its number when the runtime starts it and may hand it back).
  void Register() {
    if (number == ThreadNumber()) return;
    Unregister();
    number = ThreadNumber();
    if (number > 0) {
      std::lock_guard lock(gRegistryMutex);
      gInboxes[number] = inbox;
    }
  }
  void Unregister() {
    if (number <= 0) return;
    std::lock_guard lock(gRegistryMutex);
    auto it = gInboxes.find(number);
    if (it != gInboxes.end() && it->second.lock() == inbox) gInboxes.erase(it);
  }
  std::vector<Window*> stack;   // open windows, topmost last
  std::vector<LoopState> loops; // running loops, innermost last
  std::shared_ptr<Inbox> inbox;
  int number = -1;  // the number the inbox is registered under
};

ThreadVar<ThreadWindows> gThreadWindows;

ThreadWindows& Windows() {
  ThreadWindows& tw = ThreadInstance(gThreadWindows);
  tw.Register();
  return tw;
}

std::shared_ptr<Inbox> InboxOf(int thread) {
  std::lock_guard lock(gRegistryMutex);
  auto it = gInboxes.find(thread);
  return it == gInboxes.end() ? nullptr : it->second.lock();
}

}  // namespace

// The part of the runtime that may touch a window's private state: opening,
// closing, input, the queue and the timer.
class WindowDriver {
 public:
  static int Open(Window& window, const Window* owner) {
    if (window.open_) return Fail("window " + window.name_ + " is already open");
    if (!window.problem_.empty()) return Fail(window.problem_);
    Backend* backend = ActiveBackend();
    const bool shown = backend && OnBackendThread();
    // Nothing could ever show the window or give it input.
    if (!backend) return Fail("no window backend is active");
    ThreadWindows& tw = Windows();
    if (owner && std::find(tw.stack.begin(), tw.stack.end(), owner) == tw.stack.end())
      return Fail("the owner of window " + window.name_ + " is not open on this thread");
    if (!tw.stack.empty()) tw.stack.back()->queue_.push_back({EventLoseFocus, 0});
    window.open_ = true;
    window.owner_ = owner;
    window.thread_ = ThreadNumber();
    window.queue_.clear();
    for (auto& c : window.controls_) {
      if (!IsBound(c.Use)) continue;
      if (c.Kind == ControlKind::Progress || c.Kind == ControlKind::Check)
        c.Value = VariableNumber(c.Use);
      else
        c.Text = FormatVariable(c.Use, c.Picture);
    }
    tw.stack.push_back(&window);
    if (window.timerInterval_ > 0) window.nextTickMs_ = WindowClockMs() + std::int64_t{window.timerInterval_} * 10;
    window.queue_.push_back({EventOpenWindow, 0});
    window.queue_.push_back({EventGainFocus, 0});
    window.queue_.push_back({EventSized, 0});
    if (shown) backend->CreateNative(window);
    SetBlockedServer(&WindowDriver::ServeBlocked);
    return Ok();
  }

  // RunBlocking's server (blocking_call.h): the input waiting now becomes
  // queued events, and the backend repaints; no handler runs.
  static bool ServeBlocked() {
    Backend* backend = ActiveBackend();
    ThreadWindows& tw = Windows();
    if (!backend || !OnBackendThread() || tw.stack.empty()) return false;
    for (int taken = 0; taken < 16; ++taken) {
      auto input = backend->WaitForInput(0);
      if (!input) break;
      Deliver(tw, *input);
    }
    return true;
  }

  static int Close(Window& window) {
    if (!window.open_) return Fail("window " + window.name_ + " is not open");
    ThreadWindows& tw = Windows();
    const bool wasTop = !tw.stack.empty() && tw.stack.back() == &window;
    std::erase(tw.stack, &window);
    for (auto& loop : tw.loops)
      if (loop.window == &window) {
        loop.ended = true;
        loop.hasCurrent = false;
      }
    if (Backend* backend = ActiveBackend(); backend && OnBackendThread()) backend->DestroyNative(window);
    window.open_ = false;
    window.queue_.clear();
    window.registrations_.clear();
    window.deferred_.clear();
    window.owner_ = nullptr;
    if (wasTop && !tw.stack.empty()) tw.stack.back()->queue_.push_back({EventGainFocus, 0});
    return Ok();
  }

  // Moves events other threads sent into the topmost window's queue.
  static void DrainInbox(ThreadWindows& tw) {
    std::vector<std::pair<Event, bool>> events;
    {
      std::lock_guard lock(tw.inbox->mutex);
      events.swap(tw.inbox->events);
    }
    if (tw.stack.empty()) return;
    Window& top = *tw.stack.back();
    for (auto& [event, urgent] : events) {
      if (event.Control != 0 && !top.Control(event.Control)) continue;
      if (urgent)
        top.queue_.push_front(event);
      else
        top.queue_.push_back(event);
    }
  }

  static void Deliver(ThreadWindows& tw, const Input& input) {
    if (tw.stack.empty()) return;
    Window& top = *tw.stack.back();
    if (input.Target && input.Target != &top) return;  // only the topmost window takes input
    top.ApplyInput(input);
  }

  // Registered handlers see the event first; true when one consumed it. A
  // handler may run a nested loop, so the loop is looked up by depth each time.
  static bool Consumed(ThreadWindows& tw, std::size_t depth, const Event& event) {
    std::vector<EventHandler> handlers;
    for (const auto& r : tw.loops[depth].window->registrations_)
      if (r.Event == event.Number) handlers.push_back(r.Handler);
    if (handlers.empty()) return false;
    for (auto& handler : handlers) {
      tw.loops[depth].current = event;
      tw.loops[depth].hasCurrent = true;
      const int result = handler();
      if (result != 0 || tw.loops[depth].ended) {
        tw.loops[depth].hasCurrent = false;
        return true;
      }
    }
    return false;
  }

  // Makes the loop's next event current; false when the loop has ended.
  static bool Fetch(ThreadWindows& tw, std::size_t depth) {
    for (;;) {
      LoopState& loop = tw.loops[depth];
      Window* window = loop.window;
      if (loop.ended || !window || !window->open_) {
        loop.ended = true;
        return false;
      }
      DrainInbox(tw);
      Event event;
      if (window->TakeQueued(event)) {
        if (Consumed(tw, depth, event)) continue;
        tw.loops[depth].current = event;
        tw.loops[depth].hasCurrent = true;
        return true;
      }
      Backend* backend = ActiveBackend();
      const bool ui = backend && OnBackendThread();
      if (ui) {
        if (auto input = backend->WaitForInput(0)) {
          Deliver(tw, *input);
          continue;
        }
      }
      const std::int64_t now = WindowClockMs();
      if (window->timerInterval_ > 0 && now >= window->nextTickMs_) {
        window->nextTickMs_ = now + std::int64_t{window->timerInterval_} * 10;
        event = {EventTimer, 0};
        if (Consumed(tw, depth, event)) continue;
        tw.loops[depth].current = event;
        tw.loops[depth].hasCurrent = true;
        return true;
      }
      const int timeout = window->timerInterval_ > 0
                              ? static_cast<int>(std::clamp<std::int64_t>(window->nextTickMs_ - now, 0, 1 << 30))
                              : -1;
      if (ui) {
        if (auto input = backend->WaitForInput(timeout)) Deliver(tw, *input);
        continue;
      }
      // A window that is not shown only gets ticks and events from other
      // threads; without either nothing could ever arrive.
      if (timeout < 0 && tw.number <= 0) {
        tw.loops[depth].ended = true;
        Fail("window " + window->name_ + " can get no events: it is not shown and has no timer");
        return false;
      }
      std::unique_lock lock(tw.inbox->mutex);
      auto ready = [&] { return !tw.inbox->events.empty(); };
      if (timeout < 0)
        tw.inbox->arrived.wait(lock, ready);
      else
        tw.inbox->arrived.wait_for(lock, std::chrono::milliseconds(timeout), ready);
    }
  }

  static LoopState* Current() {
    ThreadWindows& tw = Windows();
    if (tw.loops.empty()) return nullptr;
    const std::size_t depth = tw.loops.size() - 1;
    if (!tw.loops[depth].hasCurrent && !tw.loops[depth].ended) Fetch(tw, depth);
    return &tw.loops[depth];
  }

  static void QueueFromThread(int thread, const Event& event, bool urgent) {
    if (auto inbox = InboxOf(thread)) {
      {
        std::lock_guard lock(inbox->mutex);
        inbox->events.emplace_back(event, urgent);
      }
      inbox->arrived.notify_all();
      if (Backend* backend = ActiveBackend()) backend->Wake();
    }
  }

  static void QueueHere(const Event& event, bool urgent) {
    Window* top = CurrentWindow();
    if (urgent)
      top->queue_.push_front(event);
    else
      top->queue_.push_back(event);
  }

  static void PressKey(Window& window, int key) { window.ApplyKey(key); }
};

int OpenWindow(Window& window) { return WindowDriver::Open(window, nullptr); }
int OpenOwnedWindow(Window& window, Window& owner) {
  if (!owner.IsOpen() || &owner == &window) return Fail("a window's owner must be another open window");
  return WindowDriver::Open(window, &owner);
}
int CloseWindow(Window& window) { return WindowDriver::Close(window); }

Window* CurrentWindow() {
  ThreadWindows& tw = Windows();
  return tw.stack.empty() ? nullptr : tw.stack.back();
}

bool StartEventLoop() {
  Window* top = CurrentWindow();
  if (!top) {
    Fail(kNoWindow);
    return false;
  }
  Windows().loops.push_back({top, {}, false, false});
  ClearError();
  return true;
}

int CurrentEvent() {
  LoopState* loop = WindowDriver::Current();
  return loop && loop->hasCurrent ? loop->current.Number : 0;
}

int EventControl() {
  LoopState* loop = WindowDriver::Current();
  return loop && loop->hasCurrent ? loop->current.Control : 0;
}

int AcceptedControl() {
  LoopState* loop = WindowDriver::Current();
  return loop && loop->hasCurrent && loop->current.Number == EventAccepted ? loop->current.Control : 0;
}

int FocusedControl() {
  Window* top = CurrentWindow();
  return top ? top->Focus() : 0;
}

int EndEventLoop(int mode) {
  ThreadWindows& tw = Windows();
  if (tw.loops.empty()) {
    Fail("no event loop is running");
    return 1;
  }
  // A pass always concerns one event, even when its handler never asked which.
  WindowDriver::Current();
  LoopState& loop = tw.loops.back();
  bool badMode = mode < -1 || mode > 1;
  if (badMode) mode = 0;
  const int event = loop.hasCurrent ? loop.current.Number : 0;
  const bool ended =
      loop.ended || mode == -1 || (mode == 0 && (event == EventCloseWindow || event == EventCloseDown));
  loop.hasCurrent = false;
  if (ended) tw.loops.pop_back();
  if (badMode)
    Fail("an event loop pass ends with -1, 0 or 1");
  else
    ClearError();
  return ended ? 1 : 0;
}

int ServeEvents(const std::function<int()>& handler) {
  if (!StartEventLoop()) return kBadRequest;
  ThreadWindows& tw = Windows();
  const std::size_t depth = tw.loops.size();
  // Leaves no loop behind when a handler throws (a test's halt handler does).
  struct Unwind {
    ThreadWindows& tw;
    std::size_t depth;
    ~Unwind() {
      while (tw.loops.size() >= depth) tw.loops.pop_back();
    }
  } unwind{tw, depth};
  int mode = 0;
  do {
    mode = handler();
  } while (!EndEventLoop(mode));
  return Ok();
}

int Post(int event, int control, int thread, int flag) {
  if (event <= 0) return Fail("event numbers start at 1");
  if (thread != 0 && thread != ThreadNumber()) {
    if (!InboxOf(thread)) return Fail(NoThread(thread));
    WindowDriver::QueueFromThread(thread, {event, control}, flag != 0);
    return Ok();
  }
  Window* top = CurrentWindow();
  return top ? top->Post(event, control, flag != 0) : Fail(kNoWindow);
}

int Notify(int code, int thread, std::int64_t parameter) {
  Event event{EventNotify, 0, true, code, ThreadNumber(), parameter};
  if (thread != 0 && thread != ThreadNumber()) {
    if (!InboxOf(thread)) return Fail(NoThread(thread));
    WindowDriver::QueueFromThread(thread, event, false);
    return Ok();
  }
  if (!CurrentWindow()) return Fail(kNoWindow);
  WindowDriver::QueueHere(event, false);
  return Ok();
}

int Notification(int& code, int& thread, std::int64_t& parameter) {
  LoopState* loop = WindowDriver::Current();
  if (!loop || !loop->hasCurrent || !loop->current.HasNotification) return 0;
  code = loop->current.NotifyCode;
  thread = loop->current.NotifyThread;
  parameter = loop->current.NotifyParameter;
  loop->current.HasNotification = false;
  return 1;
}

#define RT_ON_TOP(call)                 \
  Window* top = CurrentWindow();        \
  if (!top) return Fail(kNoWindow);     \
  return top->call

int Select(int control) { RT_ON_TOP(Select(control)); }
int Display(int control) { RT_ON_TOP(Display(control)); }
int Enable(int control) { RT_ON_TOP(Enable(control)); }
int Disable(int control) { RT_ON_TOP(Disable(control)); }
int Hide(int control) { RT_ON_TOP(Hide(control)); }
int Unhide(int control) { RT_ON_TOP(Unhide(control)); }
int SetProperty(int control, int property, const PropertyValue& value) {
  RT_ON_TOP(SetProperty(control, property, value));
}
int SetPropertyValue(int control, int property, int index, const PropertyValue& value) {
  RT_ON_TOP(SetProperty(control, property, value, index));
}
int SetPosition(int control, int x, int y, int width, int height) {
  RT_ON_TOP(SetPosition(control, x, y, width, height));
}
int SetListSource(int control, ListSource source) { RT_ON_TOP(SetListSource(control, std::move(source))); }
int Alert(int key) { RT_ON_TOP(Alert(key)); }
int RegisterEvent(int event, EventHandler handler, const void* object) {
  RT_ON_TOP(RegisterEvent(event, std::move(handler), object));
}

#undef RT_ON_TOP

PropertyValue GetProperty(int control, int property, int index) {
  Window* top = CurrentWindow();
  if (!top) {
    Fail(kNoWindow);
    return {};
  }
  return top->GetProperty(control, property, index);
}

Rect GetPosition(int control) {
  Window* top = CurrentWindow();
  if (!top) {
    Fail(kNoWindow);
    return {};
  }
  return top->GetPosition(control);
}

int LastControl() {
  Window* top = CurrentWindow();
  return top ? top->LastControl() : 0;
}

int KeyCode() { return detail::ThreadKeyCode(); }
void SetKeyCode(int key) { detail::ThreadKeyCode() = key; }

int PressKey(int key) {
  Window* top = CurrentWindow();
  if (!top) return Fail(kNoWindow);
  WindowDriver::PressKey(*top, key);
  return Ok();
}

int UnregisterEvent(int event, const void* object) {
  int result = kBadRequest;
  for (Window* window : Windows().stack)
    if (window->UnregisterEvent(event, object) == 0) result = 0;
  return result == 0 ? Ok() : Fail("no handler was registered for that event and object");
}

void Yield() { std::this_thread::yield(); }

}  // namespace rt
