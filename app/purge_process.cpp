#include "app/purge_process.h"

#include <cctype>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "access/file_manager.h"
#include "access/relation_manager.h"
#include "app/dictionary.h"
#include "app/exit_status.h"
#include "app/globals.h"
#include "app/purge_variables.h"
#include "app/schema.h"
#include "app/select_last_date.h"
#include "app/stop_signals.h"
#include "app/string_utility.h"
#include "app/version.h"
#include "app/window_layouts.h"
#include "errors/default_errors.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/core/blocking_call.h"
#include "runtime/core/halt.h"
#include "runtime/core/pictures.h"
#include "runtime/core/text.h"
#include "runtime/core/thread_instance.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/lock_wait.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "runtime/postgres/keyed_driver.h"
#include "runtime/postgres/server_connection.h"
#include "runtime/windows/events.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"
#include "ui/process_window.h"
#include "ui/record_processor.h"
#include "ui/step_manager.h"
#include "ui/window_controller.h"

namespace app {
namespace {

using errors::LevelBenign;
using errors::LevelFatal;
using errors::LevelNotify;

constexpr std::int32_t kCommitEvery = 150000;
// Removals a batch commits: kCommitEvery unless a test lowered it.
std::int32_t commitEvery = kCommitEvery;
// Seconds TxBegin may wait for a file.
constexpr int kTxTimeout = 1;
// Hundredths of a second a timer event aims to fill (see PurgeWindow::Init).
constexpr std::int32_t kTimeSlice = 18;
// A commit held up by another program's read transaction: the status line
// says so after kHeldUpShownMs, and the commit gives up after kHeldUpLimitMs.
constexpr std::int64_t kHeldUpShownMs = 1000;
constexpr std::int64_t kHeldUpLimitMs = 30000;
// A commit that takes longer than this says so on the status line, so that a
// thermometer standing still for seconds does not look like a hung program.
constexpr std::int64_t kCommitShownMs = 500;

// The procedure's view over Timecard, bound on first use in a thread.
struct ProcedureView {
  std::unique_ptr<rt::View> View;
  bool Opened = false;
};
const rt::ThreadVar<ProcedureView> PurgeView;

PurgeOutcome lastOutcome;
bool endMessage = true;

class PurgeProcessor : public ui::RecordProcessor {
 public:
  explicit PurgeProcessor(const StringUtility& trace) : trace_(trace) {}
  // Runs Kill, and so the final commit, when Init ran and Kill did not.
  ~PurgeProcessor() override { Destroy(); }

  int TakeRecord() override;
  // The base Kill, then the final commit.
  void Kill() override;
  // The base read; notes whether the walk reached the end of the punches or
  // a read failed.
  int FetchNext(std::uint8_t count) override;

  bool ReachedEnd() const { return reachedEnd_; }
  bool Failed() const { return failed_; }
  std::int32_t Committed() const { return committed_; }
  std::int32_t NotRemoved() const { return notRemoved_; }
  // The removals the commit under way holds, and how long it has run in
  // milliseconds; 0 and 0 while none runs. Read between turns of the commit.
  std::int32_t Committing() const { return committing_; }
  std::int64_t CommitMs() const;

 private:
  void Trace(std::string_view message) const { trace_.TraceChannel(message, 0); }
  // Begins the transaction over Timecard, then AliasTimeCard.
  bool Begin();
  bool Commit();
  // A stop signal gave up the commit's wait for another program's reader:
  // that is Cancel, not a failure. Rolls the batch back, which that commit
  // could not write; true when so.
  bool CancelledBySignal();
  // The run cannot go on (a transaction could not begin or commit, or a
  // delete failed in a way every later one would): traces `what` with the
  // runtime's code and text unless it is empty, rolls back what the
  // transaction holds and reports message `messageId` with the runtime's text.
  void Stop(int messageId, std::string_view what);

  const StringUtility& trace_;
  bool reachedEnd_ = false;
  bool failed_ = false;
  // The open batch was rolled back: its removals are not in the file.
  bool rolledBack_ = false;
  std::int32_t committed_ = 0;
  std::int32_t notRemoved_ = 0;
  std::int32_t committing_ = 0;
  std::chrono::steady_clock::time_point commitStart_;
};

std::int64_t PurgeProcessor::CommitMs() const {
  if (committing_ == 0) return 0;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               commitStart_)
      .count();
}

bool PurgeProcessor::Begin() {
  rt::TxBegin(kTxTimeout, rt::FileOf(TimecardFile()));
  if (rt::ErrorCode() == rt::kNoError) rt::TxBegin(kTxTimeout, rt::FileOf(AliasTimeCardFile()));
  if (rt::ErrorCode() == rt::kNoError) return true;
  Stop(errors::ErrTransactionStart, "TxBegin failed ErrorCode:");
  return false;
}

bool PurgeProcessor::Commit() {
  committing_ = rolledBack_ ? 0 : RemovedCount - committed_;
  commitStart_ = std::chrono::steady_clock::now();
  rt::TxCommit();
  committing_ = 0;
  if (rt::ErrorCode() == rt::kNoError) {
    // After a rollback nothing more was removed; otherwise (a read error
    // too) the batch just committed is in the count.
    if (!rolledBack_) committed_ = RemovedCount;
    return true;
  }
  if (!CancelledBySignal()) Stop(errors::ErrUpdateFailed, "TxCommit failed ErrorCode:");
  return false;
}

bool PurgeProcessor::CancelledBySignal() {
  if (StopSignalReceived() == 0 || !rt::LockWaitGivenUp()) return false;
  rolledBack_ = true;
  Trace("TxCommit failed ErrorCode:" + std::to_string(rt::ErrorCode()) + " " + rt::ErrorText());
  rt::TxRollback();
  return true;
}

void PurgeProcessor::Stop(int messageId, std::string_view what) {
  failed_ = true;
  rolledBack_ = true;
  if (!what.empty())
    Trace(std::string(what) + std::to_string(rt::ErrorCode()) + " " + rt::ErrorText());
  dataaccess::FileManager* timecard = FileManagerOf(TimecardFile());
  if (timecard) timecard->SetError(messageId);  // keeps the runtime's text for the message
  // Nothing of the failed batch may reach the file later (the final commit
  // would otherwise try it again), and no lock is held while the message shows.
  rt::TxRollback();
  if (timecard) timecard->ThrowLastError();
}

int PurgeProcessor::TakeRecord() {
  const int result = RecordProcessor::TakeRecord();
  // A stop signal is Cancel: the walk ends before this punch, and the
  // window closes with no response (read as cancelled), committing at kill.
  if (StopSignalReceived() != 0) return LevelFatal;
  rt::File& timecard = rt::FileOf(TimecardFile());
  if (FirstRecord == 1) {
    FirstRecord = 0;
    RemovedCount = 0;
    if (!Begin()) return LevelFatal;
  }
  const std::int64_t dutyDate = timecard.Field(tim::kDutyDate).GetInt();
  if (dutyDate > LastDate) return result;
  Trace("TIM:DutyDate:" + rt::Format(dutyDate, "D02"));
  rt::File& alias = rt::FileOf(AliasTimeCardFile());
  for (int field : {tim::kCompany, tim::kDutyDate, tim::kEmpCard, tim::kPunchTime})
    alias.Field(field).SetFrom(timecard.Field(field));
  dataaccess::FileManager* aliasManager = FileManagerOf(AliasTimeCardFile());
  if (!aliasManager || aliasManager->Fetch(tim::kKeyCompDateCardPtime) != LevelBenign) {
    ++notRemoved_;
    return result;
  }
  rt::FileDelete(alias);
  if (const int code = rt::ErrorCode(); code != rt::kNoError) {
    Trace("ErrorCode:" + std::to_string(code));
    ++notRemoved_;
    // A file that refuses every write, or a transaction its driver already
    // undid (disk full, I/O error), fails every later delete too: the run
    // stops and says why rather than walk on without removing anything.
    if (code == rt::kAccessDenied || rt::TxLost()) {
      Stop(errors::ErrDeleteFailed, "");
      return LevelFatal;
    }
    return result;
  }
  ++RemovedCount;
  Trace("Removed:" + std::to_string(RemovedCount));
  if (RemovedCount % commitEvery == 0) {
    Trace("Committing 150000");
    if (!Commit() || !Begin()) return LevelFatal;
  }
  return result;
}

void PurgeProcessor::Kill() {
  if (!Inited || Killed) {
    RecordProcessor::Kill();
    return;
  }
  RecordProcessor::Kill();
  // Also after Cancel, a halt or a walk that read nothing; without a
  // transaction (none begun, or one rolled back) it does nothing. Traced
  // like a batch commit when it holds removals.
  if (!rolledBack_ && RemovedCount > committed_)
    Trace("Committing " + std::to_string(RemovedCount - committed_));
  Commit();
}

int PurgeProcessor::FetchNext(std::uint8_t count) {
  const int result = RecordProcessor::FetchNext(count);
  if (count && ChildRead == 0) {
    if (result == LevelNotify) reachedEnd_ = true;
    if (result == LevelFatal) failed_ = true;
  }
  return result;
}

class PurgeWindow : public ui::ProcessWindow {
 public:
  PurgeWindow(rt::Window& window, PurgeProcessor& processor, ui::StepManager& steps,
              rt::View& view, std::uint8_t& thermometer)
      : window_(window), processor_(processor), steps_(steps), view_(view),
        thermometer_(thermometer) {}

  int Init() override;
  int Kill() override;
  // Clears the status line once the commit it spoke of is over.
  int HandleWindowEvent() override;

 private:
  rt::Window& window_;
  PurgeProcessor& processor_;
  ui::StepManager& steps_;
  rt::View& view_;
  std::uint8_t& thermometer_;
  // From the start of the walk to its end (see stop_signals.h).
  std::optional<StopSignals> stopSignals_;
  // While a commit runs, the status line says what holds the window still.
  void ShowCommit();
  std::string status_;  // what the status line says now
};

int PurgeWindow::HandleWindowEvent() {
  if (!status_.empty()) ShowCommit();
  return ProcessWindow::HandleWindowEvent();
}

void PurgeWindow::ShowCommit() {
  // A stop signal must not wait for the reader either.
  if (StopSignalReceived() != 0) rt::GiveUpLockWait();
  // Short enough for the status line on every screen (35 terminal cells).
  // Cancel pressed meanwhile is served once the commit ends: it is answered
  // at once, so that the button does not seem dead for up to kHeldUpLimitMs.
  std::string text;
  if (rt::LockWaitMs() >= kHeldUpShownMs)
    text = window_.Queued(rt::EventAccepted, progress::kCancel) ||
                   window_.Queued(rt::EventCloseWindow)
               ? "Stopping once the file is free"
               : "Waiting for another program";
  else if (processor_.CommitMs() >= kCommitShownMs)
    text = "Committing " + std::to_string(processor_.Committing()) + " removals";
  if (text == status_) return;
  status_ = text;
  window_.SetProperty(progress::kUserString, rt::PropText, text);
}

int PurgeWindow::Init() {
  LastDate = 0;
  RemovedCount = 0;
  FirstRecord = 1;
  rt::File& timecard = rt::FileOf(TimecardFile());
  const std::string diskName(rt::TrimBlanks(rt::FileGetProperty(timecard, rt::kPropName)));
  if (!rt::FileExists(diskName)) {
    // On a server no folder is missing: the text says which table, schema or
    // privilege is, and on which server.
    const std::string why =
        rt::postgres::Server().empty() ? "" : rt::postgres::MissingTable(diskName);
    rt::Halt(kExitError,
             why.empty() ? "Place this program above: " + diskName : diskName + ": " + why);
  }
  GlobalErrors()->PushProcedureName("Main");
  Request = rt::ThreadInstance(GlobalRequest);
  if (const int r = ProcessWindow::Init(); r != LevelBenign) return r;
  FirstField = progress::kThermometer;
  VCRRequest = &rt::ThreadInstance(app::VCRRequest);
  Errors = GlobalErrors();
  rt::ThreadInstance(GlobalRequest) = 0;
  rt::ThreadInstance(GlobalResponse) = 0;

  SelectLastDate();
  // Only OK with a date goes on: a date accepted in the entry before Cancel
  // must not purge.
  if (LastDate == 0 || rt::ThreadInstance(GlobalResponse) != ui::RequestCompleted)
    rt::Halt(kExitCancelled, "Exiting Application");

  dataaccess::RelationManager* aliasRelations = RelationManagerOf(AliasTimeCardFile());
  dataaccess::RelationManager* timecardRelations = RelationManagerOf(TimecardFile());
  aliasRelations->Open();
  timecardRelations->Open();
  FilesOpened = 1;
  stopSignals_.emplace();
  rt::SetLockWaitLimit(kHeldUpLimitMs);
  rt::SetBlockedTurn([this] { ShowCommit(); });
  Open(window_);
  GlobalSettings()->RestoreWindow("Main", window_);
  window_.SetProperty(0, rt::PropTimer, 10);
  steps_.Init(4);
  // No step manager for the processor: it then measures the walk by records
  // read against the file's record count, which follows the work whatever
  // the companies (by company number it showed 1% over a whole company).
  processor_.Init(view_, *timecardRelations, progress::kPercentText,
                  timecard.Field(tim::kCompany), nullptr, &thermometer_);
  processor_.AddSortOrder(tim::kKeyCompDateCardPtime);
  window_.SetProperty(0, rt::PropText, "Processing Records");
  window_.SetProperty(progress::kPercentText, rt::PropText, "0% Completed");
  window_.SetProperty(progress::kUserString, rt::PropText, "");
  InitProcess(processor_);
  // A timer event runs batches for about half a slice and at most one and a
  // half; 18 hundredths keeps the window answering within 0.3 s (100, the
  // process window's own, would leave Cancel waiting up to 1.5 s).
  TimeSlice = kTimeSlice;
  AddButton(progress::kCancel, ui::RequestCancelled);
  rt::FileSend(timecard, "QUICKSCAN=on");
  SetAlerts();
  return LevelBenign;
}

int PurgeWindow::Kill() {
  if (const int r = KillProcess(); r != LevelBenign) return r;
  if (FilesOpened) {
    RelationManagerOf(AliasTimeCardFile())->Close();
    RelationManagerOf(TimecardFile())->Close();
  }
  if (Opened) GlobalSettings()->SaveWindow("Main", window_);
  steps_.Kill();
  stopSignals_.reset();
  rt::SetBlockedTurn({});
  rt::SetLockWaitLimit(0);
  GlobalErrors()->PopProcedureName();
  return LevelBenign;
}

void PurgeThreadEnd() {
  ProcedureView& bound = rt::ThreadInstance(PurgeView);
  if (bound.Opened && bound.View) rt::FileClose(*bound.View);
  PurgeView.Destroy();
}

}  // namespace

void PurgeProcess() {
  ProcedureView& bound = rt::ThreadInstance(PurgeView);
  if (!bound.View) {
    bound.View = std::make_unique<rt::View>(rt::FileOf(TimecardFile()));
    bound.Opened = true;
  }
  lastOutcome = {};
  std::uint8_t thermometer = 0;
  auto window = std::make_unique<rt::Window>(ProgressWindowResource(&thermometer));
  auto steps = std::make_unique<ui::StepManager>();
  auto trace = std::make_unique<StringUtility>();
  auto processor = std::make_unique<PurgeProcessor>(*trace);
  auto controller =
      std::make_unique<PurgeWindow>(*window, *processor, *steps, *bound.View, thermometer);
  const std::uint8_t response = controller->Run();
  rt::ThreadInstance(GlobalResponse) = response;

  // A stop signal at any moment of the walk cancels it, also one that came
  // while the last batch was being committed: the run did not end as asked
  // for, whatever it managed to commit meanwhile (the count says what).
  const int signal = processor->Inited ? StopSignalReceived() : 0;
  lastOutcome.End = !processor->Inited      ? PurgeEnd::NotRun
                    : processor->Failed()     ? PurgeEnd::Failed
                    : signal != 0             ? PurgeEnd::Cancelled
                    : processor->ReachedEnd() ? PurgeEnd::Finished
                                              : PurgeEnd::Cancelled;
  lastOutcome.Removed = processor->Committed();
  lastOutcome.NotRemoved = processor->NotRemoved();
  lastOutcome.RecordsPerCycle = controller->RecordsPerCycle;
  lastOutcome.Signal = lastOutcome.End == PurgeEnd::Cancelled ? signal : 0;
  const bool walked = processor->Inited;
  // The processor goes before the trace it writes to, in case its
  // destruction still has to commit.
  processor.reset();
  trace.reset();
  controller.reset();
  window.reset();
  // Once the progress window is gone, the operator is told what was done.
  if (endMessage && walked) {
    std::string text = PurgeReport(lastOutcome, rt::Format(LastDate, "D02"));
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    const bool clean = lastOutcome.End == PurgeEnd::Finished && lastOutcome.NotRemoved == 0;
    rt::MessageBox(text + ".", kProgramName,
                   rt::StockIcon(clean ? rt::kStockInformation : rt::kStockExclamation));
  }
}

PurgeOutcome LastPurgeOutcome() { return lastOutcome; }

std::string PurgeReport(const PurgeOutcome& outcome, std::string_view through,
                        std::string_view elapsed) {
  const std::string removed =
      std::to_string(outcome.Removed) + " punches through " + std::string(through);
  // "in 1.5 s" after a finished run, "(1.5 s)" after the others.
  const std::string time(elapsed);
  std::string text;
  switch (outcome.End) {
    case PurgeEnd::Finished:
      text = "removed " + removed + (time.empty() ? "" : " in " + time);
      break;
    case PurgeEnd::Cancelled:
      text = "cancelled" + (outcome.Signal ? " by " + SignalName(outcome.Signal) : "") +
             " after removing " + removed + (time.empty() ? "" : " (" + time + ")");
      break;
    case PurgeEnd::Failed:
    case PurgeEnd::NotRun:
      text = "stopped by an error after removing " + removed + (time.empty() ? "" : " (" + time + ")");
      break;
  }
  if (outcome.NotRemoved > 0)
    text += "; " + std::to_string(outcome.NotRemoved) +
            " due for removal could not be removed and are still in the file (see the trace)";
  return text;
}

void SetPurgeEndMessage(bool show) { endMessage = show; }

void SetCommitEveryForTests(std::int32_t removals) {
  commitEvery = removals > 0 ? removals : kCommitEvery;
}

rt::Module PurgeModule() { return rt::Module{"PurgeProcess", {}, {}, {}, PurgeThreadEnd, {}}; }

}  // namespace app
