// ProcessWindow: a window controller that runs a batch process from its
// window timer. On every timer event it hands records to its RecordProcessor
// (record_processor.h) in a batch sized to fill about one time slice, so the
// window keeps answering its Cancel button without a second thread.
//
// A procedure derives its window from ProcessWindow and its processor from
// RecordProcessor (TakeRecord is the per-record work). Its Init: the base
// Init, its files, Open, the window timer (PropTimer), the processor's Init,
// the thermometer and text controls, InitProcess(processor), AddButton(cancel
// control, RequestCancelled), SetAlerts. Its Kill calls KillProcess first.
//
// The walk
//   EventOpenWindow   FirstActivate runs OpenProcess: the processor's Reset
//                     measures the data, the first record is read. No record:
//                     message 28, Response RequestCancelled, a close is posted
//                     and the next timer event ends the loop; with
//                     KeepVisible the window stays open and idle instead.
//   EventTimer        batches: TakeRecord on the current record, then
//                     NextRecord fetches (and counts) the next one.
//   end of data       Response RequestCompleted (RequestCancelled when no
//                     record was read), the timer stops, the window closes.
//   Cancel            the button's SetResponse posts the close, which is
//                     served between two timer events: a batch is never cut
//                     in the middle of a record.
//
// Batch sizes (RecordsPerCycle), with e the time spent in the current timer
// event and S the TimeSlice: the batch starts at 1; a timer event goes on
// taking batches while 2e < S; each batch that ends with 5e < 4S doubles the
// batch target (counted from the records processed when the event began, so
// only the difference is taken); an event that ran 2e > 3S halves the target
// for the next one. Records that become slower than the batch was sized for
// (another program takes the machine) could make one event run far longer;
// so the clock is also read 64 times a batch, and an event that has run past
// one and a half slices ends there, between two records, and halves the
// target. Targets stay powers of two (at most 2^30). The clock is
// the time of day, so e is taken across midnight by adding a day when the
// reading went backwards: a negative e would keep one event doubling its
// batch until the data ended, with the window deaf to Cancel all the while.
//
// The view's read-ahead is the view reader's to set (from its page size, at
// every open); the window leaves it alone.
//
// Report printing and preview are not part of this program; the fields and
// hooks that carry them stay idle without a Report, as here.
//
// Threading: everything runs on the window's thread inside its event loop.
// Ownership: the processor, the per-record processors and the report objects
// are not owned.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/window_controller.h"

namespace ui {

class RecordProcessor;

// A further per-record processor of a process window (Processors).
class RecordStep {
 public:
  // The current record; a level code judged like TakeRecord's.
  virtual int TakeRecord() = 0;
  // The window is closing; a nonzero level keeps it open.
  virtual int TakeClose() = 0;

 protected:
  ~RecordStep() = default;
};

// Report output, when a process prints. Only what the process window calls.
class ProcessReport {
 public:
  // The report's open property (0x7B2C): output has started.
  virtual bool IsOpen() = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;

 protected:
  ~ProcessReport() = default;
};

// The break levels of a printed report.
class ReportBreaks {
 public:
  virtual void Init() = 0;
  // Checks the record about to be taken for a break.
  virtual void CheckBreaks() = 0;

 protected:
  ~ReportBreaks() = default;
};

// Objects of report output that the window only carries (preview, targets,
// page parsing); never created or used in this program.
class ReportObject;

// Hundredths of a second in a day: the time-of-day clock wraps there.
inline constexpr std::int32_t kClockDay = 8640000;
// The largest batch target; doubling stops there.
inline constexpr std::int32_t kMaxRecordsPerCycle = 1 << 30;

class ProcessWindow : public WindowController {
 public:
  ProcessWindow() = default;
  ~ProcessWindow() override;

  // ---- Overrides of the window controller.

  // Hides the window while DeferWindow runs (busy cursor with WaitCursor).
  void RunEventLoop() override;
  // The base FirstActivate, then OpenProcess unless DeferOpenReport.
  void FirstActivate() override;
  // QueryControl runs the processor's query; then the base handling.
  int HandleAccepted() override;
  // Only EventCloseWindow: the per-record processors take the close.
  int HandleCloseEvent() override;
  // EventTimer runs the batches (see the top of the file).
  int HandleWindowEvent() override;

  // ---- Virtual operations, appended in their fixed order.

  virtual void SetOpenOutputWhenFinish(std::uint8_t value);
  virtual std::uint8_t GetOpenOutputWhenFinish();
  // Report completion; without a report it only empties PreviewQueue.
  virtual void EndReport();
  // Entry `index` (1-based) of PreviewQueue; empty when absent.
  virtual std::string OutputFileName(std::size_t index);
  virtual std::size_t OutputFileCount();
  virtual int EndPages();
  virtual void PrintOutput();
  virtual void CancelPrint();
  // Fetches the next record; at the end of the data ends the process.
  virtual int NextRecord();
  // Resets the processor and reads the first record; message 28 without one.
  virtual int OpenProcess();
  virtual std::uint8_t ConfirmOutput(std::vector<std::string>& outputs);
  virtual void AfterReportOpen();
  virtual void BeforeReportRecord();
  // Message 28 ("No Records") through the error manager.
  virtual void NoRecords();
  // One record of a batch: TakeRecord, the per-record processors, NextRecord.
  virtual int ProcessCycleRecord();

  // ---- Non-virtual operations.

  // Attaches the processor (not owned) and an optional report and preview;
  // called by the deriving Init after the base Init.
  void InitProcess(RecordProcessor& process, ProcessReport* report = nullptr,
                   ReportObject* preview = nullptr);
  // Kills the processor (once) and then runs the base Kill; called first by
  // the deriving Kill. LevelNotify on a dead window.
  int KillProcess();

  // ---- Fields, appended in their fixed order.
  std::int32_t DeferWindow = 0;
  std::optional<std::vector<RecordStep*>> Processors;  // entries not owned
  ReportObject* Preview = nullptr;
  std::optional<std::vector<std::string>> PreviewQueue;
  std::optional<std::vector<std::string>> OutputFileQueue;
  RecordProcessor* Process = nullptr;  // not owned
  ReportObject* Attribute = nullptr;
  ReportObject* ReportTarget = nullptr;
  ReportObject* DataOutputTarget = nullptr;
  ReportObject* TargetSelector = nullptr;
  ReportBreaks* BreakMan = nullptr;
  std::int32_t RecordsPerCycle = 1;
  std::int32_t QueryControl = 0;
  ProcessReport* Report = nullptr;
  std::int32_t StartTime = 0;
  std::int32_t TimeSlice = 100;
  ReportObject* WMFParser = nullptr;
  std::int32_t Zoom = 0;
  std::uint8_t DeferOpenReport = 0;
  std::uint8_t KeepVisible = 0;
  std::uint8_t OpenFailed = 0;
  std::uint8_t OpenOutputWhenFinish = 0;
  std::uint8_t TargetSelectorCreated = 0;
  std::uint8_t SkipPreview = 0;
  std::uint8_t ShowOutputProgress = 0;
  std::uint8_t WaitCursor = 0;
  // The time of day in hundredths of a second that batches are timed by:
  // rt::Clock unless a test gives another.
  std::function<std::int32_t()> Clock;

 private:
  // Hundredths of a second from `from` to `to` on the time-of-day clock.
  static std::int32_t Elapsed(std::int32_t from, std::int32_t to);
  std::int32_t Now();
  void StopTimer();
  // After OpenProcess, with a report whose output has started.
  void AfterOpen(int opened);
  // Kills the processor once (a halt cleanup calls it too).
  void KillProcessor();
  void RemoveHaltCleanup();
  int haltCleanup_ = 0;    // the halt cleanup that kills the processor; 0 = none
  bool keepOpen_ = false;  // skip the close a failed open posted (KeepVisible)
};

}  // namespace ui
