// WindowController on real headless windows: the life cycle, buttons and the
// shared stepping request, resets, quiet events, the save button and history
// recall.
#include "ui/window_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/files/file.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"
#include "tests/support/declarations.h"
#include "tests/ui/ui_fixture.h"
#include "ui/toolbar_dispatcher.h"

namespace {

using errors::LevelBenign;
using errors::LevelNotify;
using ui::RequestCancelled;
using ui::RequestCompleted;
using namespace ui_test;

// A form procedure: its Init opens the form with OK and Cancel as buttons,
// after whatever the test adds.
class FormController : public ui::WindowController {
 public:
  explicit FormController(rt::Window& window) : window_(window) {}

  int Init() override {
    const int r = WindowController::Init();
    if (r != LevelBenign) return r;
    for (auto* component : Components) AddComponent(*component);
    if (FailInit) return LevelNotify;
    AddButton(kCancel, RequestCancelled);
    if (Setup) Setup(*this);
    Open(window_);
    SetAlerts();
    return LevelBenign;
  }

  int HandleEvent() override {
    Seen.emplace_back(rt::CurrentEvent(), IsQuietEvent());
    return WindowController::HandleEvent();
  }
  int HandleCompleted() override {
    const int r = WindowController::HandleCompleted();
    if (AfterCompleted) AfterCompleted();
    return r;
  }

  std::vector<RecordingComponent*> Components;
  std::function<void(FormController&)> Setup;
  std::function<void()> AfterCompleted;
  bool FailInit = false;
  std::vector<std::pair<int, bool>> Seen;  // event, quiet

 private:
  rt::Window& window_;
};

class WindowControllerTest : public UiFixture {
 protected:
  std::string name;
  rt::Window window{FormResource(&name)};
  FormController form{window};
  RecordingComponent component;
};

TEST_F(WindowControllerTest, FailedInitStillKillsOnceAndReportsCancelled) {
  form.Components = {&component};
  form.FailInit = true;
  EXPECT_EQ(form.Run(), RequestCancelled);
  EXPECT_EQ(form.Dead, 1);
  EXPECT_FALSE(window.IsOpen());
  EXPECT_EQ(form.Kill(), LevelNotify);
  EXPECT_EQ(component.Calls, std::vector<std::string>{"Kill"});
}

TEST_F(WindowControllerTest, CancelButtonClearsTheSharedRequestOnlyWithAToolbar) {
  for (bool withToolbar : {false, true}) {
    rt::Window w(FormResource(&name));
    FormController f(w);
    ui::ToolbarDispatcher toolbar;
    std::int32_t request = 7;
    f.VCRRequest = &request;
    f.Setup = [&](FormController& c) {
      if (withToolbar) c.AddToolbar(toolbar);
    };
    backend.Accept("?CANCEL");
    EXPECT_EQ(f.Run(), RequestCancelled);
    EXPECT_EQ(request, withToolbar ? 0 : 7) << "toolbar " << withToolbar;
    EXPECT_FALSE(toolbar.Targets.has_value()) << "the controller's Kill kills its toolbar";
  }
}

TEST_F(WindowControllerTest, ResetWaitsWhileNoResetIsSetAndKeepsTheForcedReset) {
  form.Components = {&component};
  ASSERT_EQ(form.Init(), LevelBenign);
  window.SetProperty(0, rt::PropNoReset, 1);
  form.ForcedReset = 1;
  form.Reset(0);
  EXPECT_EQ(component.Count("Reset(1)") + component.Count("Reset(0)"), 0);
  EXPECT_EQ(form.ForcedReset, 1);
  window.SetProperty(0, rt::PropNoReset, 0);
  form.Reset(0);
  EXPECT_EQ(component.Calls, (std::vector<std::string>{"SetAlerts", "Reset(1)", "UpdateWindow"}));
  EXPECT_EQ(form.ForcedReset, 0);
  EXPECT_EQ(form.Kill(), LevelBenign);
  EXPECT_EQ(form.Kill(), LevelNotify);
  EXPECT_EQ(component.Count("Kill"), 1);
}

TEST_F(WindowControllerTest, InitDiscardsOnlyAPendingClick) {
  for (auto [pending, left] :
       std::vector<std::pair<int, int>>{{2, 0}, {130, 0}, {13, 13}, {27, 27}}) {
    rt::SetKeyCode(pending);
    ui::WindowController controller;
    controller.Init();
    EXPECT_EQ(rt::KeyCode(), left) << "pending " << pending;
    controller.Kill();
  }
}

TEST_F(WindowControllerTest, QuietEventsAskNoComponentForAReset) {
  form.Components = {&component};
  component.WantsReset = 1;
  form.OkControl = kOk;
  backend.Type("?NAME", "Ada");
  backend.Accept("?OK");
  backend.Accept("?CANCEL");
  // Entry editing (event 5) is quiet on a control marked quiet, only there.
  ASSERT_EQ(form.Init(), LevelBenign);
  window.SetProperty(kNameEntry, rt::PropQuietField, 1);
  window.Post(5, kNameEntry);
  window.Post(5, kList);
  form.RunEventLoop();
  form.Kill();
  const std::vector<std::pair<int, bool>> expected = {
      {rt::EventOpenWindow, false},
      {rt::EventGainFocus, true},
      {rt::EventSized, false},
      {rt::EventLayoutRequest, false},
      {5, true},
      {5, false},
      {rt::EventAccepted, false},  // the entry, read as the focus leaves it
      {rt::EventSelected, false},
      {rt::EventAccepted, false},
      {rt::EventCompleted, false},
      {rt::EventAccepted, false},
      {rt::EventCloseWindow, false}};
  EXPECT_EQ(form.Seen, expected);
  // One reset after each of the nine events that are not quiet (the Cancel
  // button's is fully handled, LevelNotify), one from FirstActivate and one
  // from regaining the focus.
  EXPECT_EQ(component.Count("Reset(0)"), 11);
  EXPECT_EQ(name, "Ada");
  EXPECT_EQ(form.Response, RequestCancelled);
}

TEST_F(WindowControllerTest, SaveButtonIsIgnoredUnderViewAndSavesOtherwise) {
  for (std::uint8_t request : {ui::RequestView, ui::RequestChange}) {
    rt::Window w(FormResource(&name));
    FormController f(w);
    f.Request = request;
    f.SaveControl = kSave;
    backend.Accept("?SAVE");
    backend.Accept("?CANCEL");
    f.Run();
    const bool completed = std::find(f.Seen.begin(), f.Seen.end(),
                                     std::pair{rt::EventCompleted, false}) != f.Seen.end();
    EXPECT_EQ(completed, request != ui::RequestView) << int(request);
    EXPECT_EQ(f.Request, request == ui::RequestView ? ui::RequestView : ui::RequestSave);
    EXPECT_EQ(f.BeforeSaveRequest, request == ui::RequestView ? 0 : ui::RequestChange);
  }
}

TEST_F(WindowControllerTest, SizedEventLaysOutFirstAndResetsFromTheSecond) {
  form.Components = {&component};
  backend.Resize(300, 120);
  backend.Accept("?CANCEL");
  form.Run();
  std::vector<int> events;
  for (auto [event, quiet] : form.Seen) events.push_back(event);
  EXPECT_EQ(events,
            (std::vector<int>{rt::EventOpenWindow, rt::EventGainFocus, rt::EventSized,
                              rt::EventLayoutRequest, rt::EventSized, rt::EventLayoutRequest,
                              rt::EventAccepted, rt::EventCloseWindow}));
  EXPECT_EQ(form.Inited, ui::kInitedActivated | ui::kInitedSized);
  // FirstActivate, the gain of focus after it, and the second EventSized.
  EXPECT_EQ(component.Count("Reset(0)"), 3);
}

TEST_F(WindowControllerTest, HistoryKeyRecallsTheValueSavedAtCompletion) {
  auto decl = std::make_unique<rt::FileDeclaration>(
      "KEYED", "Note", "NOTE", "Note.DAT",
      std::vector<rt::FieldDeclaration>{FieldDecl(rt::FieldType::Text, "NOTE", "TEXT", 10)},
      std::vector<rt::KeyDeclaration>{}, 0);
  rt::File record(*decl);
  rt::FieldRef text = record.Field(1);
  text.SetString("Alpha");
  constexpr int kRecallKey = 113;
  form.HistoryKey = kRecallKey;
  form.OkControl = kOk;
  form.Setup = [&](FormController& c) { c.AddHistoryField(kNameEntry, text); };
  form.AfterCompleted = [&] { text.SetString("Beta"); };
  backend.Accept("?OK");           // completes: the history keeps "Alpha", then the field changes
  backend.Type("?NAME", "typed");  // focus back on the history control
  backend.Key(kRecallKey);
  backend.Accept("?CANCEL");
  form.Run();
  EXPECT_EQ(text.ToText(), "Alpha");
}

}  // namespace
