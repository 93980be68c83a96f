// Opening windows and running their event loops.
//
// How events flow. Each thread keeps a stack of its open windows; the last
// opened is the topmost and is the only one that receives user input. A
// window's events wait in its own queue:
//   OpenWindow queues EventOpenWindow, EventGainFocus and EventSized, and
//     queues EventLoseFocus for the window that was topmost before;
//   CloseWindow queues EventGainFocus for the window that becomes topmost;
//   user input (from the active backend) is turned into events on the
//     topmost window: focus moves (EventSelected), entries read under their
//     pictures (EventAccepted or EventRejected), buttons (EventAccepted),
//     alert keys, list rows (EventNewSelection), the close box
//     (EventCloseWindow), size changes (EventSized);
//   Post, Select, PressKey and Notify queue events from the program.
// A loop (StartEventLoop) serves the topmost window. CurrentEvent takes the
// next event when none is current: first the queue, then pending input, then
// a due timer tick, else it waits for input or the next tick. A tick that is
// late fires once and the next one is due a full interval later, so ticks
// never pile up behind a slow handler. Handlers registered with RegisterEvent
// see an event before the loop does and may consume it.
// Each pass ends with EndEventLoop(mode): -1 ends the loop now; 0 applies the
// default handling (a close event ends the loop); 1 skips it. The loop ending
// does not close the window: the procedure closes it (CloseWindow or the
// Window's destructor) when it is done with it.
// Nested loops: a handler that opens another window and runs its loop
// (a calendar over a dialog) blocks the outer loop; the outer window keeps its
// queued events and resumes with EventLoseFocus ... EventGainFocus once the
// inner window closes. CurrentEvent and friends always refer to the innermost
// running loop.
//
// A window procedure:
//
//   rt::Window window(kDialogResource);
//   rt::OpenWindow(window);
//   rt::StartEventLoop();
//   do {
//     int mode = 0;
//     switch (rt::CurrentEvent()) {
//       case rt::EventAccepted:
//         if (rt::AcceptedControl() == kOk) rt::Post(rt::EventCloseWindow);
//         break;
//     }
//   } while (!rt::EndEventLoop(mode));
//   rt::CloseWindow(window);
//
// or rt::ServeEvents(handler) for the same loop around a handler.
//
// The rt:: operations below that take a control act on the calling thread's
// topmost window (control 0 is the window itself); with no open window they
// fail with kBadRequest. Window (window.h) has the same operations for a
// particular window.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"

namespace rt {

// Opens the window on the calling thread and makes it the topmost. Fails
// (kBadRequest, nothing opened) when the window is already open, its resource
// is faulty (see WindowResource::Check), or no backend is active on the
// user interface thread.
int OpenWindow(Window& window);
// As OpenWindow; the owner (an open window of the same thread) is told to
// the backend so the new window stays over it.
int OpenOwnedWindow(Window& window, Window& owner);
// Destroys the native window and removes it from the stack. A loop still
// running on it ends.
int CloseWindow(Window& window);
// The calling thread's topmost open window, or nullptr.
Window* CurrentWindow();

// Starts a loop on the topmost window. False (kBadRequest) when none is open.
bool StartEventLoop();
// The current event of the innermost loop; waits for the next one when the
// previous pass has ended. 0 when the loop has ended or none runs.
int CurrentEvent();
// The control the current event concerns, 0 for window events.
int EventControl();
// The control of the current EventAccepted, else 0.
int AcceptedControl();
// The topmost window's focused control.
int FocusedControl();
// Ends the current pass (mode -1, 0 or 1, see above); nonzero when the loop
// has ended. A pass whose event nobody asked for takes the next event first,
// so a loop always moves on. Any other mode counts as 0 and sets kBadRequest.
int EndEventLoop(int mode);
// StartEventLoop, then handler() for every event, its result being the pass's
// mode, until the loop ends. Returns 0, or kBadRequest when no window is open.
int ServeEvents(const std::function<int()>& handler);

// Queues an event for the topmost window of a thread (0: the calling thread)
// for control 0 (the window) or a control. flag nonzero puts it ahead of the
// events already queued.
int Post(int event, int control = 0, int thread = 0, int flag = 0);
// Sends EventNotify to a thread's topmost window (0: the calling thread),
// carrying code, the sender's thread number and parameter.
int Notify(int code, int thread, std::int64_t parameter = 0);
// The notification carried by the current EventNotify, once: 1 and the values
// filled in, or 0 when there is none (any more).
int Notification(int& code, int& thread, std::int64_t& parameter);

int Select(int control);
int Display(int control = 0);
int Enable(int control);
int Disable(int control);
int Hide(int control);
int Unhide(int control);
PropertyValue GetProperty(int control, int property, int index = 0);
int SetProperty(int control, int property, const PropertyValue& value);
// SetProperty with an index. No property of this runtime takes an index when
// it is set, so a nonzero index is refused (kBadRequest); index 0 is SetProperty.
int SetPropertyValue(int control, int property, int index, const PropertyValue& value);
Rect GetPosition(int control);
// kKeepValue leaves a coordinate as it is.
int SetPosition(int control, int x, int y, int width, int height);
int LastControl();
int SetListSource(int control, ListSource source);

// Alert keys: the key then arrives as EventAlertKey instead of its default use.
int Alert(int key);
// The last key code of the calling thread, and its reset.
int KeyCode();
void SetKeyCode(int key);
// Acts as if the user pressed the key on the topmost window.
int PressKey(int key);

// Handlers for an event of the topmost window, identified by object for
// UnregisterEvent (which looks through every open window of the thread).
int RegisterEvent(int event, EventHandler handler, const void* object);
int UnregisterEvent(int event, const void* object);

// Lets other threads run.
void Yield();

}  // namespace rt
