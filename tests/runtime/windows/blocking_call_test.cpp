// Work that blocks inside an event handler: the window goes on taking input
// meanwhile, which waits queued and is served right after the handler.
#include "runtime/core/blocking_call.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/runtime/windows/headless_fixture.h"

namespace rt {
namespace {

using ::testing::ElementsAre;
using testing::HeadlessTest;

class BlockingCall : public HeadlessTest {
 protected:
  BlockingCall() {
    dialog.Name = "PROGRESS";
    dialog.Timer = 5;
    dialog.Controls = {MakeControl(1, "?CANCEL", ControlKind::Button, {}, "&Cancel")};
  }
  WindowResource dialog;
};

TEST_F(BlockingCall, InputDuringTheWorkIsTakenAndServedRightAfterIt) {
  Window window(dialog);
  OpenWindow(window);
  std::thread::id workThread;
  bool takenDuringWork = false;
  std::vector<std::string> after;
  bool worked = false;
  ServeEvents([&] {
    if (worked) after.push_back(testing::CurrentEventName());
    if (CurrentEvent() == EventTimer && !worked) {
      worked = true;
      RunBlocking([&] {
        workThread = std::this_thread::get_id();
        backend.Accept("?CANCEL");  // pressed while the work runs
        for (int i = 0; i < 500 && backend.PendingSteps() != 0; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        takenDuringWork = backend.PendingSteps() == 0;
      });
      SetProperty(0, PropTimer, 0);
    }
    if (AcceptedControl() == 1) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_NE(workThread, std::this_thread::get_id());
  EXPECT_TRUE(takenDuringWork);
  EXPECT_THAT(after, ElementsAre("Accepted 1", "CloseWindow"));
}

TEST_F(BlockingCall, WithoutAnOpenWindowTheWorkRunsInPlace) {
  std::thread::id workThread;
  RunBlocking([&] { workThread = std::this_thread::get_id(); });
  EXPECT_EQ(workThread, std::this_thread::get_id());
  // An open window is served even between its loops (a commit as it closes).
  Window window(dialog);
  OpenWindow(window);
  RunBlocking([&] { workThread = std::this_thread::get_id(); });
  EXPECT_NE(workThread, std::this_thread::get_id());
  CloseWindow(window);
}

// Serving the windows fails while the work runs: the work still runs to
// its end before the failure goes on to the caller (the process is not
// ended by a helper thread left running).
TEST(BlockingCallServer, AServerThatThrowsWaitsForTheWorkThenPassesItsFailureOn) {
  static int turns = 0;
  turns = 0;
  SetBlockedServer([] {
    if (++turns > 2) throw std::runtime_error("the backend failed");
    return true;
  });
  bool finished = false;
  try {
    RunBlocking([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(10 * kBlockedServeMs));
      finished = true;
    });
    ADD_FAILURE() << "the server's failure was lost";
  } catch (const std::runtime_error& failure) {
    EXPECT_STREQ(failure.what(), "the backend failed");
  }
  SetBlockedServer(nullptr);
  EXPECT_TRUE(finished);
  EXPECT_EQ(turns, 3) << "served no more after it failed";
}

}  // namespace
}  // namespace rt
