// WindowComponent: what a window controller (window_controller.h) asks of each
// entry of its component list: a resizer-like helper, a toolbar target, a
// list that follows the primary record. Every event the controller does not
// fully handle itself is offered to its components in list order; after the
// event the controller asks whether any needs a reset, and its Reset, Update
// and UpdateWindow reach every component.
//
// A record-synchronised component (added with kind 1) also takes part in
// keeping the form's primary record buffer: before its reset the controller
// asks whether the buffer must be restored, and after it whether the
// component changed the buffer (see WindowController::Reset).
//
// Ownership: the controller does not own its components; Kill is its last
// call to each.
#pragma once

#include <cstdint>

namespace ui {

class WindowComponent {
 public:
  virtual ~WindowComponent() = default;

  // ---- Virtual operations, in their fixed order.

  // The controller is done with the component.
  virtual void Kill() = 0;
  // Bring what the component shows up to date; nonzero `force` even when
  // nothing seems to have changed.
  virtual void Reset(std::uint8_t force) = 0;
  // Nonzero when the last event left the component needing a Reset.
  virtual std::uint8_t ResetRequired() = 0;
  // Register the alert keys the component handles.
  virtual void SetAlerts() = 0;
  // Offered every event in list order; a nonzero level ends the event's handling.
  virtual int HandleEvent() = 0;
  virtual void Update() = 0;
  // Redisplay what the component owns in the window.
  virtual void UpdateWindow() = 0;

  // Record-synchronised components only.
  virtual std::uint8_t PrimaryBufferChanged() { return 0; }
  virtual std::uint8_t PrimaryBufferRestoreNeeded() { return 0; }
  virtual void AfterPrimarySaved() {}
  virtual void AfterPrimaryRestored() {}
};

}  // namespace ui
