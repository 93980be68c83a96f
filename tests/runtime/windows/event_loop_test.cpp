// The event loop: what a window sees from opening to closing, how a pass ends,
// posted events, the accept-all walk, nested windows and the timer.
#include "runtime/windows/event_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/core/dates.h"
#include "runtime/core/error_state.h"
#include "runtime/core/program.h"
#include "tests/runtime/windows/headless_fixture.h"

namespace rt {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::HeadlessTest;


class EventLoopTest : public HeadlessTest {
 protected:
  EventLoopTest() {
    dialog.Name = "DIALOG";
    dialog.Caption = "Pick";
    dialog.Width = 200;
    dialog.Height = 80;
    ControlResource date = MakeControl(1, "?DATE", ControlKind::Entry);
    date.Picture = "D02B";
    date.Use = &lastDate;
    dialog.Controls = {date, MakeControl(2, "?NAME", ControlKind::Entry),
                       MakeControl(3, "?OK", ControlKind::Button, {}, "&OK"),
                       MakeControl(4, "?CANCEL", ControlKind::Button, {}, "&Cancel")};
    dialog.Controls[1].Use = &name;
  }

  // Closes the window when control closeOn is accepted.
  std::function<int()> CloseOn(int closeOn) {
    return [closeOn] {
      if (AcceptedControl() == closeOn) Post(EventCloseWindow);
      return 0;
    };
  }

  WindowResource dialog;
  std::int32_t lastDate = 0;
  std::string name;
};

TEST_F(EventLoopTest, WindowSeesOpeningInputAndClosingInOrder) {
  backend.Type("?DATE", "12/31/2023");
  backend.Accept("?OK");
  Window window(dialog);
  ASSERT_EQ(OpenWindow(window), 0);
  EXPECT_THAT(Serve(CloseOn(3)), ElementsAre("OpenWindow", "GainFocus", "Sized", "Accepted 1", "Selected 3",
                                             "Accepted 3", "CloseWindow"));
  EXPECT_EQ(lastDate, Date(12, 31, 2023));
  EXPECT_TRUE(window.IsOpen()) << "the loop ending leaves closing to the procedure";
  EXPECT_EQ(CloseWindow(window), 0);
  EXPECT_FALSE(window.IsOpen());
  EXPECT_THAT(backend.Transcript(), ::testing::Contains("close DIALOG"));
}

TEST_F(EventLoopTest, SkippingTheCloseKeepsTheLoopRunning) {
  backend.Close();
  backend.Close();
  Window window(dialog);
  OpenWindow(window);
  int closes = 0;
  const auto seen = Serve([&] {
    if (CurrentEvent() != EventCloseWindow) return 0;
    return ++closes == 1 ? 1 : 0;  // the first close is refused
  });
  EXPECT_THAT(seen, ElementsAre("OpenWindow", "GainFocus", "Sized", "CloseWindow", "CloseWindow"));
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

TEST_F(EventLoopTest, SessionEndClosesByDefault) {
  ASSERT_TRUE(backend.LoadScript("double ?OK\nclosedown\n"));
  Window window(dialog);
  OpenWindow(window);
  int keyAtOk = 0;
  EXPECT_THAT(Serve([&] {
                if (AcceptedControl() == 3) keyAtOk = KeyCode();
                return 0;
              }),
              ElementsAre("OpenWindow", "GainFocus", "Sized", "Selected 3", "Accepted 3", "CloseDown"));
  EXPECT_EQ(keyAtOk, KeyPointerDouble);
}

TEST_F(EventLoopTest, LeavingWithMinusOneEndsAtOnce) {
  Window window(dialog);
  OpenWindow(window);
  EXPECT_THAT(Serve([] { return -1; }), ElementsAre("OpenWindow"));
  EXPECT_EQ(CurrentEvent(), 0) << "no loop runs any more";
}

TEST_F(EventLoopTest, PostedEventArrivesAfterTheCurrentOneAndAfterWhatIsQueued) {
  Window window(dialog);
  OpenWindow(window);
  const auto seen = Serve([] {
    if (CurrentEvent() == EventOpenWindow) {
      Post(EventAccepted, 3);
      EXPECT_EQ(CurrentEvent(), EventOpenWindow) << "posting does not change the current event";
    }
    if (AcceptedControl() == 3) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_THAT(seen, ElementsAre("OpenWindow", "GainFocus", "Sized", "Accepted 3", "CloseWindow"));
}

TEST_F(EventLoopTest, UrgentPostGoesAheadOfQueuedEvents) {
  Window window(dialog);
  OpenWindow(window);
  const auto seen = Serve([] {
    if (CurrentEvent() == EventOpenWindow) Post(EventLayoutRequest, 0, 0, 1);
    if (CurrentEvent() == EventSized) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_THAT(seen, ElementsAre("OpenWindow", "Event1023", "GainFocus", "Sized", "CloseWindow"));
}

TEST_F(EventLoopTest, PostRejectsUnknownControlsAndThreads) {
  Window window(dialog);
  OpenWindow(window);
  EXPECT_EQ(Post(EventAccepted, 99), kBadRequest);
  EXPECT_EQ(Post(EventAccepted, 3, 424242), kBadRequest);
  EXPECT_EQ(Post(0), kBadRequest);
}

// Select(0): each entry is read in turn, its EventAccepted handled before the
// next entry is read; a rejected entry stops the walk.
struct AcceptAllCase {
  const char* date;
  const char* name;
  std::vector<std::string> expected;
  std::int32_t dateAfter;
};

void PrintTo(const AcceptAllCase& c, std::ostream* os) { *os << '"' << c.date << "\" \"" << c.name << '"'; }

class AcceptAllTest : public EventLoopTest, public ::testing::WithParamInterface<AcceptAllCase> {};

TEST_P(AcceptAllTest, AcceptsEveryEntryThenCompletes) {
  const AcceptAllCase& param = GetParam();
  lastDate = Date(1, 2, 2000);
  Window window(dialog);
  OpenWindow(window);
  window.SetProperty(1, PropText, param.date);
  window.SetProperty(2, PropText, param.name);
  window.Post(EventAccepted, 3);  // as if OK was pressed
  std::vector<std::string> seen;
  std::string nameWhenDateAccepted = "unread";
  ServeEvents([&] {
    const int event = CurrentEvent();
    if (event == EventOpenWindow || event == EventGainFocus || event == EventSized) return 0;
    seen.push_back(testing::CurrentEventName());
    if (AcceptedControl() == 3) Select(0);
    if (AcceptedControl() == 1) nameWhenDateAccepted = name;
    if (event == EventCompleted || event == EventRejected) Post(EventCloseWindow);
    if (event == EventCloseWindow) seen.pop_back();
    return 0;
  });
  EXPECT_EQ(seen, param.expected);
  EXPECT_EQ(lastDate, param.dateAfter);
  const bool completed = seen.back() == "Completed";
  EXPECT_EQ(nameWhenDateAccepted, completed ? "" : "unread")
      << "the second entry is read only after the first one's event was handled";
  EXPECT_EQ(name, completed ? param.name : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcceptAllTest,
    ::testing::Values(
        AcceptAllCase{"3/4/2021", "Ann", {"Accepted 3", "Accepted 1", "Accepted 2", "Completed"}, Date(3, 4, 2021)},
        AcceptAllCase{"", "", {"Accepted 3", "Accepted 1", "Accepted 2", "Completed"}, 0},
        AcceptAllCase{"13/45/2023", "Ann", {"Accepted 3", "Rejected 1"}, Date(1, 2, 2000)}));

TEST_F(EventLoopTest, AcceptAllSkipsHiddenAndDisabledEntries) {
  Window window(dialog);
  OpenWindow(window);
  window.SetProperty(1, PropText, "not a date");
  window.Disable(1);
  window.Hide(2);
  window.Select(0);
  std::vector<std::string> seen;
  ServeEvents([&] {
    if (CurrentEvent() == EventCompleted) Post(EventCloseWindow);
    if (CurrentEvent() == EventCompleted || CurrentEvent() == EventRejected) seen.push_back(testing::CurrentEventName());
    return 0;
  });
  EXPECT_THAT(seen, ElementsAre("Completed"));
}

TEST_F(EventLoopTest, NestedWindowRunsWhileTheOuterWaitsAndTheOuterResumes) {
  WindowResource inner;
  inner.Name = "INNER";
  inner.Width = 50;
  inner.Height = 50;
  inner.Controls = {MakeControl(1, "?DAY", ControlKind::Button, {}, "1")};
  backend.Accept("?OK");   // opens the inner window
  backend.Accept("?DAY");  // taken by the inner window
  backend.Accept("?CANCEL");
  std::vector<std::string> log;
  Window outer(dialog);
  OpenWindow(outer);
  ServeEvents([&] {
    log.push_back("outer " + testing::CurrentEventName());
    if (AcceptedControl() == 3) {
      Window calendar(inner);
      EXPECT_EQ(OpenOwnedWindow(calendar, outer), 0);
      EXPECT_EQ(CurrentWindow(), &calendar);
      ServeEvents([&] {
        log.push_back("inner " + testing::CurrentEventName());
        if (AcceptedControl() == 1) Post(EventCloseWindow);
        return 0;
      });
      CloseWindow(calendar);
      EXPECT_EQ(AcceptedControl(), 3) << "the outer pass's event is current again";
    }
    if (AcceptedControl() == 4) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_THAT(log, ElementsAre("outer OpenWindow", "outer GainFocus", "outer Sized", "outer Selected 3",
                               "outer Accepted 3", "inner OpenWindow", "inner GainFocus", "inner Sized",
                               "inner Accepted 1", "inner CloseWindow", "outer LoseFocus", "outer GainFocus",
                               "outer Selected 4", "outer Accepted 4", "outer CloseWindow"));
  EXPECT_THAT(backend.Problems(), IsEmpty());
}

TEST_F(EventLoopTest, InputGoesOnlyToTheTopmostWindow) {
  WindowResource inner;
  inner.Name = "INNER";
  inner.Controls = {MakeControl(1, "?DAY", ControlKind::Button, {}, "1")};
  backend.Accept("?OK");  // the outer's button, but the inner window is on top
  Window outer(dialog);
  OpenWindow(outer);
  Window over(inner);
  OpenWindow(over);
  std::vector<std::string> seen = Serve();
  EXPECT_THAT(seen, ElementsAre("OpenWindow", "GainFocus", "Sized", "CloseWindow"));
  ASSERT_FALSE(backend.Problems().empty());
  EXPECT_THAT(backend.Problems()[0], ::testing::HasSubstr("has no control ?OK"));
}

TEST_F(EventLoopTest, ClosingTheWindowEndsItsLoop) {
  Window window(dialog);
  OpenWindow(window);
  int passes = 0;
  ServeEvents([&] {
    ++passes;
    CloseWindow(window);
    return 0;
  });
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(CurrentWindow(), nullptr);
}

// The timer: a tick that comes late behind a slow handler fires once, and the
// next is a full interval after it; ticks never pile up.
TEST_F(EventLoopTest, LateTimerTickFiresOnceAndTicksNeverPileUp) {
  dialog.Timer = 10;  // a tenth of a second
  Window window(dialog);
  OpenWindow(window);
  std::vector<std::int64_t> ticks;
  ServeEvents([&] {
    if (CurrentEvent() != EventTimer) return 0;
    ticks.push_back(backend.NowMs());
    if (ticks.size() == 1) backend.AdvanceClock(350);  // this handler took three and a half intervals
    if (ticks.size() == 4) SetProperty(0, PropTimer, 0), Post(EventCloseWindow);
    return 0;
  });
  ASSERT_EQ(ticks.size(), 4u);
  EXPECT_GE(ticks[1] - ticks[0], 350);
  EXPECT_LT(ticks[1] - ticks[0], 400) << "the late tick comes at once";
  EXPECT_GE(ticks[2] - ticks[1], 100) << "no piled-up tick right behind the late one";
  EXPECT_GE(ticks[3] - ticks[2], 100);
}

TEST_F(EventLoopTest, CoveredWindowGetsOneLateTickWhenItResumes) {
  dialog.Timer = 10;
  WindowResource inner;
  inner.Name = "INNER";
  Window outer(dialog);
  OpenWindow(outer);
  std::vector<std::string> seen;
  ServeEvents([&] {
    const int event = CurrentEvent();
    if (event == EventTimer || event == EventGainFocus || event == EventLoseFocus) seen.push_back(testing::CurrentEventName());
    if (event == EventTimer && seen.size() == 2) {  // the first tick: cover the window for a second
      Window over(inner);
      OpenWindow(over);
      backend.Wait(1000);
      backend.Close();
      ServeEvents([] { return 0; });
    }
    if (event == EventTimer && seen.size() > 2) Post(EventCloseWindow);
    return 0;
  });
  EXPECT_THAT(seen, ElementsAre("GainFocus", "Timer", "LoseFocus", "GainFocus", "Timer"));
}

TEST_F(EventLoopTest, TimerTicksBetweenInputAndStopsAtZero) {
  dialog.Timer = 5;
  backend.Wait(120);
  backend.Accept("?OK");
  Window window(dialog);
  OpenWindow(window);
  int ticks = 0;
  int ticksBeforeOk = -1;
  ServeEvents([&] {
    if (CurrentEvent() == EventTimer) ++ticks;
    if (AcceptedControl() == 3) {
      ticksBeforeOk = ticks;
      SetProperty(0, PropTimer, 0);
      Post(EventCloseWindow);
    }
    return 0;
  });
  EXPECT_GE(ticksBeforeOk, 2);
  EXPECT_LE(ticksBeforeOk, 3);
  EXPECT_EQ(ticks, ticksBeforeOk);
}

TEST_F(EventLoopTest, RegisteredHandlerSeesTheEventFirstAndMayConsumeIt) {
  Window window(dialog);
  OpenWindow(window);
  const int owner = 0;
  int sized = 0;
  RegisterEvent(EventSized, [&] {
    ++sized;
    EXPECT_EQ(CurrentEvent(), EventSized);
    return 1;
  }, &owner);
  RegisterEvent(EventGainFocus, [] { return 0; }, &owner);
  backend.Close();
  EXPECT_THAT(Serve(), ElementsAre("OpenWindow", "GainFocus", "CloseWindow"));
  EXPECT_EQ(sized, 1);
  EXPECT_EQ(UnregisterEvent(EventSized, &owner), 0);
  EXPECT_EQ(UnregisterEvent(EventSized, &owner), kBadRequest) << "nothing left to remove";
}

TEST_F(EventLoopTest, NotifyCarriesItsValuesOnce) {
  Window window(dialog);
  OpenWindow(window);
  Notify(0x206, 0, 77);
  std::vector<std::int64_t> got;
  ServeEvents([&] {
    if (CurrentEvent() != EventNotify) return 0;
    int code = 0, thread = -1;
    std::int64_t parameter = 0;
    EXPECT_EQ(Notification(code, thread, parameter), 1);
    got = {code, thread, parameter};
    EXPECT_EQ(Notification(code, thread, parameter), 0) << "fetched once";
    Post(EventCloseWindow);
    return 0;
  });
  EXPECT_EQ(got, (std::vector<std::int64_t>{0x206, ThreadNumber(), 77}));
}

TEST_F(EventLoopTest, OpeningFailsWithoutBackendOrWithAFaultyResourceOrTwice) {
  Window window(dialog);
  ASSERT_EQ(OpenWindow(window), 0);
  EXPECT_EQ(OpenWindow(window), kBadRequest);
  dialog.Controls.push_back(MakeControl(2, "?AGAIN", ControlKind::Button));
  Window faulty(dialog);
  EXPECT_EQ(OpenWindow(faulty), kBadRequest);
  EXPECT_EQ(FileErrorText(), "window DIALOG control 2: number used twice") << "the reason is told";
  EXPECT_FALSE(faulty.IsOpen());
  CloseWindow(window);
  SetBackend(nullptr);
  Window unseen(dialog);
  EXPECT_EQ(OpenWindow(unseen), kBadRequest);
  EXPECT_FALSE(StartEventLoop());
}

}  // namespace
}  // namespace rt
