// A test fixture that makes a fresh headless backend the active one, turns
// halts into a catchable exception, and names events for readable
// expectations ("Accepted 2", "OpenWindow").
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/core/halt.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/event_loop.h"

namespace rt::testing {

struct Halted {
  int code;
  std::string text;
};

inline std::string EventName(int event, int control) {
  std::string name;
  switch (event) {
    case EventAccepted: name = "Accepted"; break;
    case EventNewSelection: name = "NewSelection"; break;
    case EventAlertKey: name = "AlertKey"; break;
    case EventRejected: name = "Rejected"; break;
    case EventSelected: name = "Selected"; break;
    case EventCloseWindow: name = "CloseWindow"; break;
    case EventCloseDown: name = "CloseDown"; break;
    case EventOpenWindow: name = "OpenWindow"; break;
    case EventLoseFocus: name = "LoseFocus"; break;
    case EventGainFocus: name = "GainFocus"; break;
    case EventNotify: name = "Notify"; break;
    case EventTimer: name = "Timer"; break;
    case EventCompleted: name = "Completed"; break;
    case EventSized: name = "Sized"; break;
    case EventMaximized: name = "Maximized"; break;
    case EventRestored: name = "Restored"; break;
    default: name = "Event" + std::to_string(event);
  }
  return control ? name + " " + std::to_string(control) : name;
}

inline std::string CurrentEventName() { return EventName(CurrentEvent(), EventControl()); }

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBackend(&backend);
    SetKeyCode(0);
    SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
  }
  void TearDown() override {
    SetHaltHandler({});
    SetBackend(nullptr);
  }

  // Runs a loop on the topmost window, logging every event; the handler
  // gives the pass's mode.
  std::vector<std::string> Serve(const std::function<int()>& handler = [] { return 0; }) {
    std::vector<std::string> seen;
    ServeEvents([&] {
      seen.push_back(CurrentEventName());
      return handler();
    });
    return seen;
  }

  HeadlessBackend backend;
};

}  // namespace rt::testing
