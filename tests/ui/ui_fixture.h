// What the window framework's tests share besides the access fixture: the
// headless backend, halts turned into exceptions, an error manager whose
// messages the backend answers, a small form window, and a component that
// records what the controller asks of it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/error_manager.h"
#include "errors/level.h"
#include "runtime/core/halt.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/window_resource.h"
#include "tests/access/access_fixture.h"
#include "ui/window_component.h"

namespace ui_test {

using access_test::Halted;
using access_test::StatusVar;

// Controls of the form window.
inline constexpr int kNameEntry = 1, kOk = 2, kCancel = 3, kList = 4, kSave = 5;

// A form: a text entry bound to `name`, OK, Cancel (immediate), a list, Save.
inline rt::WindowResource FormResource(std::string* name) {
  rt::WindowResource form;
  form.Name = "FORM";
  form.Caption = "Form";
  form.Width = 200;
  form.Height = 80;
  auto control = [&](int number, const char* label, rt::ControlKind kind, const char* text = "") {
    return &form.Controls.emplace_back(
        rt::MakeControl(number, label, kind, {4, 4 + 12 * number, 60, 10}, text));
  };
  control(kNameEntry, "?NAME", rt::ControlKind::Entry)->Use = name;
  control(kOk, "?OK", rt::ControlKind::Button, "OK");
  control(kCancel, "?CANCEL", rt::ControlKind::Button, "Cancel")->Immediate = true;
  control(kList, "?LIST", rt::ControlKind::List);
  control(kSave, "?SAVE", rt::ControlKind::Button, "Save");
  return form;
}

// Records every call the controller makes, as "Name" or "Name(arg)".
class RecordingComponent : public ui::WindowComponent {
 public:
  void Kill() override { Calls.push_back("Kill"); }
  void Reset(std::uint8_t force) override {
    Calls.push_back("Reset(" + std::to_string(force) + ")");
  }
  std::uint8_t ResetRequired() override { return WantsReset; }
  void SetAlerts() override { Calls.push_back("SetAlerts"); }
  int HandleEvent() override { return Answer; }
  void Update() override { Calls.push_back("Update"); }
  void UpdateWindow() override { Calls.push_back("UpdateWindow"); }

  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : Calls) n += c == call;
    return n;
  }

  std::vector<std::string> Calls;
  std::uint8_t WantsReset = 0;
  int Answer = errors::LevelBenign;
};

class UiFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetBackend(&backend);
    rt::SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
    errs.Init(StatusVar());
  }
  void TearDown() override {
    rt::SetHaltHandler({});
    rt::SetBackend(nullptr);
  }

  rt::HeadlessBackend backend;
  errors::ErrorManager errs;
};

}  // namespace ui_test
