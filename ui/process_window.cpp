#include "ui/process_window.h"

#include <algorithm>
#include <thread>

#include "errors/default_errors.h"
#include "errors/level.h"
#include "runtime/core/dates.h"
#include "runtime/core/halt.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"
#include "ui/record_processor.h"

namespace ui {
namespace {

using errors::LevelBenign;
using errors::LevelFatal;
using errors::LevelNotify;

// How often within a batch the clock is read to catch an overrun.
constexpr std::int32_t kOverrunChecks = 64;

}  // namespace

ProcessWindow::~ProcessWindow() { RemoveHaltCleanup(); }

// ---- Attaching and releasing the process

void ProcessWindow::InitProcess(RecordProcessor& process, ProcessReport* report,
                                ReportObject* preview) {
  Process = &process;
  Report = report;
  Preview = preview;
  RecordsPerCycle = 1;
  TimeSlice = 100;
  Processors.emplace();
  PreviewQueue.emplace();
  OutputFileQueue.emplace();
  // Report output is not part of this program: no selector is made here.
  TargetSelectorCreated = 0;
  if (BreakMan) BreakMan->Init();
  // A halt while the process is attached still kills the processor (which
  // may commit its work) before the file layer closes the files. Only on
  // this thread: the processor and its files belong to it.
  RemoveHaltCleanup();
  const std::thread::id owner = std::this_thread::get_id();
  haltCleanup_ = rt::AddHaltCleanup([this, owner] {
    if (std::this_thread::get_id() == owner) KillProcessor();
  });
}

void ProcessWindow::RemoveHaltCleanup() {
  if (haltCleanup_ == 0) return;
  rt::RemoveHaltCleanup(haltCleanup_);
  haltCleanup_ = 0;
}

void ProcessWindow::KillProcessor() {
  if (Process && !Process->Killed) Process->Kill();
}

int ProcessWindow::KillProcess() {
  if (Dead || !Process) {
    WindowController::Kill();
    return LevelNotify;
  }
  PreviewQueue.reset();
  Preview = nullptr;
  OutputFileQueue.reset();
  KillProcessor();
  RemoveHaltCleanup();
  Processors.reset();
  WMFParser = nullptr;
  Attribute = nullptr;
  if (TargetSelectorCreated) TargetSelector = nullptr;
  return WindowController::Kill();
}

// ---- The clock

std::int32_t ProcessWindow::Now() { return Clock ? Clock() : rt::Clock(); }

std::int32_t ProcessWindow::Elapsed(std::int32_t from, std::int32_t to) {
  const std::int32_t elapsed = to - from;
  return elapsed < 0 ? elapsed + kClockDay : elapsed;
}

void ProcessWindow::StopTimer() {
  if (MyWindow)
    MyWindow->SetProperty(0, rt::PropTimer, 0);
  else
    rt::SetProperty(0, rt::PropTimer, 0);
}

// ---- Events

void ProcessWindow::RunEventLoop() {
  if (DeferWindow != 0 && !Dead) {
    if (WaitCursor) rt::SetCursor(rt::CursorBusy);
    StartTime = Now();
    if (MyWindow) MyWindow->Hide(0);
  }
  WindowController::RunEventLoop();
}

void ProcessWindow::FirstActivate() {
  WindowController::FirstActivate();
  if (!DeferOpenReport) AfterOpen(OpenProcess());
}

void ProcessWindow::AfterOpen(int opened) {
  if (opened == LevelBenign && Report && Report->IsOpen()) AfterReportOpen();
}

int ProcessWindow::HandleAccepted() {
  if (QueryControl != 0 && rt::AcceptedControl() == QueryControl && Process) Process->ApplyQuery();
  return WindowController::HandleAccepted();
}

int ProcessWindow::HandleCloseEvent() {
  if (rt::CurrentEvent() != rt::EventCloseWindow) return LevelBenign;
  if (keepOpen_) {
    keepOpen_ = false;
    return LevelNotify;
  }
  if (WaitCursor) rt::SetCursor();
  int kept = LevelBenign;
  if (Processors)
    for (RecordStep* step : *Processors)
      if (const int answer = step->TakeClose(); answer != LevelBenign) kept = answer;
  if (kept == LevelBenign && !OpenFailed) EndReport();
  if (Report) Report->Close();
  return kept;
}

int ProcessWindow::HandleWindowEvent() {
  if (rt::CurrentEvent() != rt::EventTimer) return WindowController::HandleWindowEvent();
  if (DeferOpenReport) AfterOpen(OpenProcess());
  if (OpenFailed) return KeepVisible ? LevelBenign : LevelFatal;
  if (Process) {
    const std::int32_t start = Process->RecordsProcessed;
    const std::int32_t t0 = Now();
    if (DeferWindow != 0 && Elapsed(StartTime, t0) > std::int64_t{DeferWindow} * 100) {
      if (MyWindow) MyWindow->SetProperty(0, rt::PropHide, 0);
      DeferWindow = 0;
    }
    std::int64_t e = 0;
    bool cut = false;
    do {
      // Records that got slower than the batch was sized for (the machine is
      // busy) must not hold the loop: the clock is read every 1/64 of a
      // batch, and an event that overran one and a half slices ends there.
      // Input taken while a record held the thread (a commit serves the
      // windows meanwhile, blocking_call.h) ends it at once, so that Cancel
      // stops the walk where it was pressed.
      const std::int32_t checkEvery = std::max(1, RecordsPerCycle / kOverrunChecks);
      std::int32_t sinceCheck = 0;
      while (Process->RecordsProcessed - start < RecordsPerCycle) {
        if (const int r = ProcessCycleRecord(); r != LevelBenign) return r;
        if (MyWindow && MyWindow->Queued()) {
          cut = true;
          break;
        }
        if (++sinceCheck < checkEvery) continue;
        sinceCheck = 0;
        if (2 * std::int64_t{Elapsed(t0, Now())} > 3 * std::int64_t{TimeSlice}) {
          cut = true;
          break;
        }
      }
      e = Elapsed(t0, Now());
      if (cut) break;
      if (5 * e < 4 * std::int64_t{TimeSlice} && RecordsPerCycle < kMaxRecordsPerCycle)
        RecordsPerCycle *= 2;
    } while (2 * e < TimeSlice);
    if (2 * e > 3 * std::int64_t{TimeSlice} && RecordsPerCycle > 1) RecordsPerCycle /= 2;
  }
  return WindowController::HandleWindowEvent();
}

// ---- The walk

int ProcessWindow::OpenProcess() {
  if (!Process) return LevelFatal;
  Process->Reset();
  const int r = NextRecord();
  DeferOpenReport = 0;
  if (r != LevelBenign) {
    OpenFailed = 1;
    // NextRecord has posted the close; a window kept visible stays open
    // and idle until the operator closes it.
    if (KeepVisible) keepOpen_ = true;
    NoRecords();
    return r;
  }
  OpenFailed = 0;
  if (Report) Report->Open();
  return r;
}

int ProcessWindow::NextRecord() {
  const int r = Process->FetchNext(1);
  if (r == LevelNotify) {
    const bool any = Process->RecordsProcessed != 0;
    Response = any ? RequestCompleted : RequestCancelled;
    PostEvent(rt::EventCloseWindow);
    return any ? LevelNotify : LevelFatal;
  }
  if (r == LevelFatal) {
    Response = RequestCancelled;
    PostEvent(rt::EventCloseWindow);
    return LevelFatal;
  }
  return LevelBenign;
}

int ProcessWindow::ProcessCycleRecord() {
  if (BreakMan) BreakMan->CheckBreaks();
  if (Report && Report->IsOpen()) BeforeReportRecord();
  // A step's result: LevelFatal ends the process, LevelNotify this event.
  auto judge = [this](int r) {
    if (r == LevelFatal) {
      StopTimer();
      PostEvent(rt::EventCloseWindow);
      return LevelNotify;
    }
    return r == LevelNotify ? LevelNotify : LevelBenign;
  };
  int r = Process->TakeRecord();
  if (judge(r) != LevelBenign) return LevelNotify;
  if (Processors)
    for (RecordStep* step : *Processors) {
      r = step->TakeRecord();
      if (judge(r) != LevelBenign) return LevelNotify;
    }
  if (NextRecord() != LevelBenign) {
    StopTimer();
    return LevelNotify;
  }
  return r;
}

void ProcessWindow::NoRecords() { Throw(errors::ErrNothingToProcess); }

// ---- Options and report output (idle without a report)

void ProcessWindow::SetOpenOutputWhenFinish(std::uint8_t value) { OpenOutputWhenFinish = value; }
std::uint8_t ProcessWindow::GetOpenOutputWhenFinish() { return OpenOutputWhenFinish; }

void ProcessWindow::EndReport() {
  if (PreviewQueue) PreviewQueue->clear();
}

std::string ProcessWindow::OutputFileName(std::size_t index) {
  if (!PreviewQueue || index == 0 || index > PreviewQueue->size()) return {};
  return (*PreviewQueue)[index - 1];
}

std::size_t ProcessWindow::OutputFileCount() { return PreviewQueue ? PreviewQueue->size() : 0; }

int ProcessWindow::EndPages() { return LevelBenign; }
void ProcessWindow::PrintOutput() {}
void ProcessWindow::CancelPrint() {}
std::uint8_t ProcessWindow::ConfirmOutput(std::vector<std::string>&) { return 0; }
void ProcessWindow::AfterReportOpen() {}
void ProcessWindow::BeforeReportRecord() {}

}  // namespace ui
