// ProcessWindow and RecordProcessor on a real data file and real headless
// windows: what the thermometer and the text show, the empty view, a step
// that never advances, the deferred window, batch sizes against an injected
// clock (also across midnight), and the processor's Kill running exactly once
// however the process ends.
#include "ui/process_window.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "access/relation_manager.h"
#include "runtime/core/halt.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/events.h"
#include "runtime/windows/window.h"
#include "tests/access/access_fixture.h"
#include "ui/record_processor.h"
#include "ui/step_manager.h"

namespace {

using access_test::Item;
using errors::LevelBenign;
using errors::LevelFatal;
using errors::LevelNotify;
using ui::RequestCancelled;
using ui::RequestCompleted;

constexpr int kThermometer = 1, kPercentText = 2, kCancel = 3;

rt::WindowResource ProgressResource(std::uint8_t* percent) {
  rt::WindowResource progress;
  progress.Name = "PROGRESS";
  progress.Caption = "Process Items";
  progress.Width = 142;
  progress.Height = 59;
  progress.Timer = 10;
  rt::ControlResource bar =
      rt::MakeControl(kThermometer, "?PROGRESS:THERMOMETER", rt::ControlKind::Progress);
  bar.Use = percent;
  progress.Controls = {
      bar, rt::MakeControl(kPercentText, "?PROGRESS:PCTTEXT", rt::ControlKind::Text),
      rt::MakeControl(kCancel, "?PROGRESS:CANCEL", rt::ControlKind::Button, {}, "Cancel")};
  return progress;
}

// The per-record work is the test's; Kill counts its calls, the way a
// procedure's Kill would commit after the base kill.
class ItemProcessor : public ui::RecordProcessor {
 public:
  ~ItemProcessor() override { Destroy(); }
  int TakeRecord() override {
    Taken.push_back(access_test::ItemText(View->Primary()));
    return Step ? Step() : LevelBenign;
  }
  void Kill() override {
    RecordProcessor::Kill();
    ++Kills;
    if (KillCounter) ++*KillCounter;
  }
  std::function<int()> Step;
  std::vector<std::string> Taken;
  int Kills = 0;
  int* KillCounter = nullptr;  // counts on after the processor is gone
};

// One timer event as measured by the injected clock.
struct TimerEvent {
  std::int32_t Took;
  std::int32_t RecordsPerCycle;
  bool Hidden;
};

class ItemWindow : public ui::ProcessWindow {
 public:
  ItemWindow(rt::Window& window, ItemProcessor& processor, rt::View& view,
             dataaccess::RelationManager& relations, errors::ErrorManager& errs)
      : window_(window), processor_(processor), view_(view), relations_(relations), errs_(errs) {}

  int Init() override {
    if (const int r = ProcessWindow::Init(); r != LevelBenign) return r;
    Errors = &errs_;
    Open(window_);
    processor_.Init(view_, relations_, PText, view_.Primary().Field(access_test::kGroup), Steps,
                    &Percent);
    processor_.AddSortOrder(access_test::kKeyGroup);
    InitProcess(processor_);
    AddButton(kCancel, RequestCancelled);
    if (Setup) Setup(*this);
    SetAlerts();
    return LevelBenign;
  }
  int Kill() override {
    if (const int r = KillProcess(); r != LevelBenign) return r;
    return LevelBenign;
  }
  int HandleWindowEvent() override {
    if (rt::CurrentEvent() != rt::EventTimer || !Clock) return ProcessWindow::HandleWindowEvent();
    const std::int32_t start = Clock();
    const int r = ProcessWindow::HandleWindowEvent();
    Timers.push_back(
        {(Clock() - start + ui::kClockDay) % ui::kClockDay, RecordsPerCycle, window_.Hidden()});
    return r;
  }

  std::uint8_t Percent = 0;
  std::int32_t PText = kPercentText;
  ui::StepManager* Steps = nullptr;
  std::function<void(ItemWindow&)> Setup;
  std::vector<TimerEvent> Timers;

 private:
  rt::Window& window_;
  ItemProcessor& processor_;
  rt::View& view_;
  dataaccess::RelationManager& relations_;
  errors::ErrorManager& errs_;
};

class ProcessWindowTest : public access_test::AccessFixture {
 protected:
  // The item file with `items` records (groups 1 to 3), added in one transaction.
  void Start(int items) {
    CreateWith({});
    rt::File& file = rt::FileOf(*decl_);
    rt::FileOpen(file);
    rt::TxBegin(1, file);
    for (int n = 1; n <= items; ++n) {
      access_test::SetItem(file, {1 + n % 3, n, "item" + std::to_string(n)});
      rt::FileAdd(file);
    }
    rt::TxCommit();
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileClose(file);
    manager = &Manager();
    relations.Init(*manager, 1);
    view = std::make_unique<rt::View>(rt::FileOf(*decl_));
  }
  void TearDown() override {
    view.reset();
    relations.Kill();
    AccessFixture::TearDown();
  }

  // A process over the item file: window, processor and controller.
  struct Process {
    rt::Window window;
    ItemProcessor processor;
    ItemWindow controller;
    Process(ProcessWindowTest& t)
        : window(ProgressResource(&controller.Percent)),
          controller(window, processor, *t.view, t.relations, t.errs_) {}
  };
  std::unique_ptr<Process> NewProcess() { return std::make_unique<Process>(*this); }

  access_test::ItemManager* manager = nullptr;
  dataaccess::RelationManager relations;
  std::unique_ptr<rt::View> view;
  std::int32_t now = 1000;  // the injected clock
};

TEST_F(ProcessWindowTest, OneRecordShowsFiftyByKeyAndHundredByCount) {
  Start(1);
  for (bool byKey : {true, false}) {
    ui::StepManager steps;
    auto p = NewProcess();
    if (byKey) p->controller.Steps = &steps;
    EXPECT_EQ(p->controller.Run(), RequestCompleted);
    EXPECT_EQ(p->processor.Taken, std::vector<std::string>{"2/1/item1"});
    EXPECT_EQ(p->controller.Percent, byKey ? 50 : 100);
    EXPECT_EQ(backend_.ShownText("PROGRESS", kPercentText),
              byKey ? "50% Complete" : "100% Complete");
    EXPECT_EQ(backend_.Shown("PROGRESS")->Controls[kThermometer].Value, byKey ? 50 : 100);
    EXPECT_EQ(p->processor.Kills, 1);
  }
  EXPECT_TRUE(Captions().empty());
}

TEST_F(ProcessWindowTest, EmptyViewShowsNoRecordsOnceAndCancels) {
  Start(0);
  for (std::uint8_t keepVisible : {0, 1}) {
    auto p = NewProcess();
    p->controller.KeepVisible = keepVisible;
    p->controller.Clock = [this] { return now; };
    if (keepVisible) {
      backend_.Wait(500);  // the window stays, idle, until the operator closes it
      backend_.Close();
    }
    EXPECT_EQ(p->controller.Run(), RequestCancelled);
    EXPECT_EQ(Captions(), std::vector<std::string>(keepVisible + 1, "No Records"));
    EXPECT_EQ(LastMessage(), "There are no records available to process.");
    EXPECT_TRUE(p->processor.Taken.empty());
    EXPECT_EQ(p->controller.OpenFailed, 1);
    EXPECT_EQ(p->controller.Timers.size(), keepVisible ? 5u : 0u) << int(keepVisible);
    EXPECT_EQ(p->processor.Kills, 1);
  }
}

TEST_F(ProcessWindowTest, StepThatNeverAdvancesStillCancels) {
  Start(5);
  auto p = NewProcess();
  p->processor.Step = [] { return LevelNotify; };
  backend_.Wait(1000);
  backend_.Accept("?PROGRESS:CANCEL");
  EXPECT_EQ(p->controller.Run(), RequestCancelled);
  ASSERT_GE(p->processor.Taken.size(), 5u);
  for (const auto& taken : p->processor.Taken)
    EXPECT_EQ(taken, "1/3/item3");  // the first in key order
  EXPECT_EQ(p->processor.RecordsProcessed, 1);
  EXPECT_EQ(p->controller.RecordsPerCycle, 1);
  EXPECT_EQ(p->processor.Kills, 1);
}

// Cancel pressed while a record held the thread (a commit serving the
// window) waits in the queue: the walk stops before the next record.
TEST_F(ProcessWindowTest, InputQueuedDuringARecordIsServedBeforeTheNext) {
  Start(200);
  auto p = NewProcess();
  p->processor.Step = [&] {
    if (p->processor.Taken.size() == 10) rt::Post(rt::EventAccepted, kCancel);
    return LevelBenign;
  };
  EXPECT_EQ(p->controller.Run(), RequestCancelled);
  EXPECT_EQ(p->processor.Taken.size(), 10u);
}

TEST_F(ProcessWindowTest, DeferredWindowShowsAtTheFirstTimerAfterTwoSeconds) {
  Start(3);
  auto p = NewProcess();
  p->controller.DeferWindow = 2;
  p->controller.Clock = [this] {
    return static_cast<std::int32_t>(backend_.NowMs() / 10 % ui::kClockDay);
  };
  // Nothing is taken while the window is hidden.
  p->processor.Step = [&] { return p->window.Hidden() ? LevelNotify : LevelBenign; };
  EXPECT_EQ(p->controller.Run(), RequestCompleted);
  ASSERT_FALSE(p->controller.Timers.empty());
  EXPECT_TRUE(p->controller.Timers.front().Hidden);
  EXPECT_FALSE(p->controller.Timers.back().Hidden);
  EXPECT_EQ(p->controller.DeferWindow, 0);
  // Ticks come every 10 hundredths: the one that showed it is the first
  // more than 200 hundredths after the loop started.
  std::size_t shownAt = 0;
  while (p->controller.Timers[shownAt].Hidden) ++shownAt;
  EXPECT_GE(shownAt, 19u);
  EXPECT_LE(shownAt, 21u);
  EXPECT_EQ(p->processor.Taken.size(), 3u + shownAt);
}

TEST_F(ProcessWindowTest, PercentTextGoesToItsControlTheTitleOrNowhere) {
  Start(1);
  for (int control : {-1, 0, kPercentText}) {
    auto p = NewProcess();
    p->controller.PText = control;
    p->controller.Run();
    EXPECT_EQ(p->controller.Percent, 100) << control;
    EXPECT_EQ(backend_.Shown("PROGRESS")->Caption, control == 0 ? "100% Complete" : "Process Items")
        << control;
    EXPECT_EQ(backend_.ShownText("PROGRESS", kPercentText),
              control == kPercentText ? "100% Complete" : "")
        << control;
  }
}

// Each record costs some hundredths on the injected clock: steady costs, and
// records that get twenty times slower in mid-walk (a busy machine).
TEST_F(ProcessWindowTest, BatchesStayPowersOfTwoAndEventsNearOneAndAHalfSlices) {
  Start(1500);
  struct CostCase {
    const char* What;
    std::function<int(std::size_t taken)> Cost;
    std::int32_t Longest;  // the longest event allowed after the first
  };
  const std::vector<CostCase> cases = {
      {"1", [](std::size_t) { return 1; }, 160},
      {"3", [](std::size_t) { return 3; }, 160},
      {"7", [](std::size_t) { return 7; }, 160},
      {"19", [](std::size_t) { return 19; }, 160},
      {"37", [](std::size_t) { return 37; }, 160},
      // Ends at the first clock reading past 150: two records (40) later at most.
      {"1 then 20", [](std::size_t taken) { return taken < 600 ? 1 : 20; }, 190},
  };
  for (const auto& c : cases) {
    auto p = NewProcess();
    p->controller.Clock = [this] { return now; };
    p->processor.Step = [this, &c, &p] {
      now += c.Cost(p->processor.Taken.size());
      return LevelBenign;
    };
    EXPECT_EQ(p->controller.Run(), RequestCompleted);
    EXPECT_EQ(p->processor.Taken.size(), 1500u);
    const auto& timers = p->controller.Timers;
    ASSERT_GT(timers.size(), 3u);
    for (std::size_t i = 0; i < timers.size(); ++i) {
      const int batch = timers[i].RecordsPerCycle;
      EXPECT_EQ(batch & (batch - 1), 0) << "cost " << c.What << " event " << i;
      // The first event only grows the batch; the last may end early.
      if (i > 0 && i + 1 < timers.size()) {
        EXPECT_LE(timers[i].Took, c.Longest) << "cost " << c.What << " event " << i;
      }
    }
  }
}

TEST_F(ProcessWindowTest, MidnightCrossingKeepsEventsShort) {
  Start(1500);
  auto p = NewProcess();
  now = ui::kClockDay - 700;  // the walk crosses midnight after a few events
  p->controller.Clock = [this] { return now; };
  p->processor.Step = [this] {
    now = (now + 1) % ui::kClockDay;
    return LevelBenign;
  };
  EXPECT_EQ(p->controller.Run(), RequestCompleted);
  EXPECT_EQ(p->processor.Taken.size(), 1500u);
  const auto& timers = p->controller.Timers;
  ASSERT_GT(timers.size(), 8u);
  for (std::size_t i = 1; i + 1 < timers.size(); ++i) {
    EXPECT_LE(timers[i].Took, 160) << "event " << i;
    EXPECT_LE(timers[i].RecordsPerCycle, 256) << "event " << i;
  }
}

TEST_F(ProcessWindowTest, ProcessorIsKilledExactlyOnceHoweverTheProcessEnds) {
  Start(20);
  enum class End { Data, Cancel, CloseBox, FatalStep, Halt };
  for (End end : {End::Data, End::Cancel, End::CloseBox, End::FatalStep, End::Halt}) {
    auto p = NewProcess();
    int kills = -1, total = 0;
    p->processor.KillCounter = &total;
    p->processor.Step = [&] {
      if (end == End::Cancel || end == End::CloseBox) return LevelNotify;
      if (p->processor.Taken.size() < 3) return LevelBenign;
      if (end == End::FatalStep) return LevelFatal;
      if (end == End::Halt) rt::Halt(3, "Stopped elsewhere");
      return LevelBenign;
    };
    if (end == End::Cancel) backend_.Accept("?PROGRESS:CANCEL");
    if (end == End::CloseBox) backend_.Close();
    std::uint8_t response = 0;
    try {
      response = p->controller.Run();
    } catch (const access_test::Halted&) {
      // The halt killed the processor before the files went.
      kills = p->processor.Kills;
    }
    const std::uint8_t expected = end == End::Data   ? RequestCompleted
                                  : end == End::Halt ? 0
                                                     : RequestCancelled;
    EXPECT_EQ(response, expected) << static_cast<int>(end);
    if (end == End::Halt) {
      EXPECT_EQ(kills, 1);
    }
    p.reset();  // destroying the processor does not kill it again
    EXPECT_EQ(total, 1) << static_cast<int>(end);
  }
}

TEST_F(ProcessWindowTest, ProcessorOutlivingItsRelationManagerLeavesItAlone) {
  Start(3);
  auto primary = std::make_unique<dataaccess::RelationManager>();
  primary->Init(*manager, 1);
  {
    ItemProcessor processor;
    std::uint8_t percent = 0;
    processor.Init(*view, *primary, -1, rt::FieldRef(), nullptr, &percent);
    processor.Reset();
    EXPECT_EQ(processor.FetchNext(1), LevelBenign);
    primary.reset();  // the manager goes first; the processor's Kill must not touch it
  }
  EXPECT_TRUE(Captions().empty());
}

}  // namespace
