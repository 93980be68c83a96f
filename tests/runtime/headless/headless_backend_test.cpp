// The headless backend: scripted input reaches the topmost window, steps that
// cannot be given are reported, time runs without waiting, the script's end
// never leaves a window hanging, and other threads can wake a waiting loop.
#include "runtime/headless/headless_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/blocking_call.h"
#include "runtime/core/program.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/event_loop.h"
#include "tests/runtime/windows/headless_fixture.h"
#include "tests/support/temp_folder.h"

namespace rt {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::HeadlessTest;

class HeadlessBackendTest : public HeadlessTest {
 protected:
  HeadlessBackendTest() {
    form.Name = "FORM";
    form.Caption = "Form";
    form.Controls = {MakeControl(1, "?NAME", ControlKind::Entry),
                     MakeControl(2, "?TITLE", ControlKind::Text),
                     MakeControl(3, "?OK", ControlKind::Button),
                     MakeControl(4, "?GONE", ControlKind::Button)};
    form.Controls[0].Use = &name;
    form.Controls[3].Disabled = true;
  }

  // Serves the form until it closes; OK closes it.
  std::vector<std::string> ServeForm() {
    return Serve([] {
      if (AcceptedControl() == 3) Post(EventCloseWindow);
      return 0;
    });
  }

  WindowResource form;
  std::string name;
};

TEST_F(HeadlessBackendTest, ScriptTypesAcceptsAndEverythingShownIsRecorded) {
  ASSERT_TRUE(backend.LoadScript("expect FORM\ntype ?NAME Ann Lee\naccept ?OK\n"));
  Window window(form);
  OpenWindow(window);
  SetProperty(2, PropText, "Who are you?");
  ServeForm();
  CloseWindow(window);
  EXPECT_EQ(name, "Ann Lee");
  EXPECT_THAT(backend.Transcript(),
              ElementsAre("open FORM \"Form\"", "text FORM:2 \"Who are you?\"", "input type ?NAME \"Ann Lee\"",
                          "text FORM:1 \"Ann Lee\"", "input accept ?OK", "close FORM"));
  EXPECT_THAT(backend.Problems(), IsEmpty());
  EXPECT_FALSE(backend.Shown("FORM")->Open);
  EXPECT_EQ(backend.ShownText("form", 2), "Who are you?");
}

TEST_F(HeadlessBackendTest, StepsThatCannotBeGivenAreReportedAndSkipped) {
  ASSERT_TRUE(backend.LoadScript(R"(expect OTHER
accept ?MISSING
accept ?GONE
type ?OK hello
answer Yes
accept ?OK)"));
  Window window(form);
  OpenWindow(window);
  EXPECT_THAT(ServeForm(), Contains("Accepted 3"));
  EXPECT_THAT(backend.Problems(),
              ElementsAre("line 1: expect OTHER: the topmost window is FORM",
                          "line 2: accept ?MISSING: window FORM has no control ?MISSING",
                          "line 3: accept ?GONE: control ?GONE is disabled",
                          "line 4: type ?OK \"hello\": control ?OK takes no typing",
                          "line 5: answer 2: no message box was shown"));
}

// Work that keeps the window waiting (a commit) serves its input meanwhile;
// the answer to the box shown after it must wait for that box.
TEST_F(HeadlessBackendTest, AnAnswerWaitsForItsBoxThroughABlockingCall) {
  ASSERT_TRUE(backend.LoadScript("accept ?OK\nanswer No"));
  Window window(form);
  OpenWindow(window);
  int answer = 0;
  Serve([&] {
    if (AcceptedControl() != 3) return 0;
    RunBlocking([] { std::this_thread::sleep_for(std::chrono::milliseconds(5 * kBlockedServeMs)); });
    answer = MessageBox("Go on?", "Form", {}, ButtonYes | ButtonNo);
    Post(EventCloseWindow);
    return 0;
  });
  EXPECT_EQ(answer, ButtonNo);
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

TEST_F(HeadlessBackendTest, EndOfScriptClosesTheWindowInsteadOfHanging) {
  Window window(form);
  OpenWindow(window);
  EXPECT_THAT(ServeForm(), ElementsAre("OpenWindow", "GainFocus", "Sized", "CloseWindow"));
  EXPECT_THAT(backend.Problems(), ElementsAre("no more input: closing FORM"));
}

TEST_F(HeadlessBackendTest, WindowThatNeverClosesHalts) {
  Window window(form);
  OpenWindow(window);
  backend.OnIdle([](HeadlessBackend&) {});  // gives nothing
  EXPECT_THROW(ServeEvents([] { return CurrentEvent() == EventCloseWindow ? 1 : 0; }), testing::Halted);
  ASSERT_EQ(backend.Halts().size(), 1u);
  EXPECT_THAT(backend.Halts()[0], HasSubstr("window FORM does not close"));
}

TEST_F(HeadlessBackendTest, WaitsCostNoRealTimeAndTimersTickThroughThem) {
  form.Timer = 10;
  backend.Wait(60 * 1000);  // a minute of window time
  backend.Accept("?OK");
  Window window(form);
  OpenWindow(window);
  int ticks = 0;
  const auto started = std::chrono::steady_clock::now();
  ServeEvents([&] {
    ticks += CurrentEvent() == EventTimer;
    if (AcceptedControl() == 3) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_GE(ticks, 590);
  EXPECT_LE(ticks, 600);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST_F(HeadlessBackendTest, IdleCallbackFeedsInputWhenTheScriptIsEmpty) {
  int calls = 0;
  backend.OnIdle([&](HeadlessBackend& b) {
    ++calls;
    if (calls == 1) b.Type("?NAME", "from the callback");
    if (calls == 2) b.Accept("?OK");
  });
  Window window(form);
  OpenWindow(window);
  ServeForm();
  EXPECT_EQ(name, "from the callback");
  EXPECT_EQ(calls, 2);
}

TEST_F(HeadlessBackendTest, ScriptFilesLoadOrSayWhyNot) {
  TempFolder folder("headless");
  ASSERT_FALSE(folder.Path().empty());
  const auto& dir = folder.Path();
  std::ofstream(dir / "good.txt") << "type ?NAME Bo\naccept ?OK\n";
  std::ofstream(dir / "bad.txt") << "type ?NAME Bo\npress ?OK\n";
  std::string error;
  EXPECT_FALSE(backend.LoadScriptFile((dir / "missing.txt").string(), &error));
  EXPECT_THAT(error, HasSubstr("cannot read operator script"));
  EXPECT_FALSE(backend.LoadScriptFile((dir / "bad.txt").string(), &error));
  EXPECT_THAT(error, HasSubstr("bad.txt: line 2: unknown step 'press ?OK'"));
  EXPECT_EQ(backend.PendingSteps(), 0u);
  ASSERT_TRUE(backend.LoadScriptFile((dir / "good.txt").string(), &error));
  Window window(form);
  OpenWindow(window);
  ServeForm();
  EXPECT_EQ(name, "Bo");
}

// With nobody to answer, a retry question that comes again is declined
// instead of asked forever; a question someone answered starts afresh.
TEST_F(HeadlessBackendTest, UnansweredRetryQuestionIsDeclinedWhenItComesAgain) {
  auto ask = [] { return MessageBox("Try again?", "Retry", {}, ButtonYes | ButtonNo, ButtonYes); };
  ::testing::internal::CaptureStderr();
  std::vector<int> answers;
  answers.push_back(ask());
  MessageBox("Something failed.", "Note");  // a notification in between
  answers.push_back(ask());
  answers.push_back(ask());
  answers.push_back(MessageBox("Stop?", "Retry", {}, ButtonRetry | ButtonCancel, ButtonRetry));
  answers.push_back(MessageBox("Stop?", "Retry", {}, ButtonRetry | ButtonCancel, ButtonRetry));
  answers.push_back(MessageBox("Drop it?", "Q", {}, ButtonYes | ButtonNo, ButtonNo));
  answers.push_back(MessageBox("Drop it?", "Q", {}, ButtonYes | ButtonNo, ButtonNo));
  backend.Answer(ButtonYes);
  answers.push_back(ask());
  answers.push_back(ask());
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(answers, ElementsAre(ButtonYes, ButtonNo, ButtonNo, ButtonRetry, ButtonCancel, ButtonNo,
                                   ButtonNo, ButtonYes, ButtonYes));
  EXPECT_THAT(errors, HasSubstr("Retry: the same question came again with nobody to answer it; "
                                "answered No instead of Yes\n"));
  EXPECT_THAT(errors, HasSubstr("answered Cancel instead of Retry"));
  EXPECT_THAT(errors, ::testing::Not(HasSubstr("Try again? ->"))) << "not unattended: boxes stay quiet";
}

TEST_F(HeadlessBackendTest, UnattendedModeWritesEveryBoxWithItsAnswer) {
  backend.SetUnattended(true);
  ::testing::internal::CaptureStderr();
  MessageBox("The file is locked.|Try again?", "Open", {}, ButtonYes | ButtonNo, ButtonYes);
  MessageBox("The file is locked.|Try again?", "Open", {}, ButtonYes | ButtonNo, ButtonYes);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Open: The file is locked. Try again? -> Yes\n"
            "Open: the same question came again with nobody to answer it; answered No instead of Yes\n"
            "Open: The file is locked. Try again? -> No\n");
}

// A loop waiting on the user interface thread wakes for a notification sent
// from another thread.
TEST(HeadlessThreadTest, NotificationFromAnotherThreadWakesTheWaitingLoop) {
  HeadlessBackend backend;
  std::mutex mutex;
  std::condition_variable changed;
  int uiThread = 0;
  bool sent = false;
  std::vector<std::int64_t> got;
  Thread ui = StartThread([&] {
    SetBackend(&backend);
    WindowResource resource;
    resource.Name = "WAITER";
    Window window(resource);
    OpenWindow(window);
    backend.OnIdle([&](HeadlessBackend&) {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(20), [&] { return sent; });
    });
    {
      std::lock_guard lock(mutex);
      uiThread = ThreadNumber();
    }
    changed.notify_all();
    ServeEvents([&] {
      if (CurrentEvent() == EventNotify) {
        int code = 0, thread = 0;
        std::int64_t parameter = 0;
        Notification(code, thread, parameter);
        got = {code, thread, parameter};
        Post(EventCloseWindow);
      }
      return 0;
    });
    CloseWindow(window);
    SetBackend(nullptr);
  });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return uiThread != 0; }));
  }
  EXPECT_EQ(Notify(0x206, uiThread, 42), 0);
  {
    std::lock_guard lock(mutex);
    sent = true;
  }
  changed.notify_all();
  ui.Join();
  EXPECT_EQ(got, (std::vector<std::int64_t>{0x206, ThreadNumber(), 42}));
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

}  // namespace
}  // namespace rt
