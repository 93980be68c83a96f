#include "errors/error_manager.h"

#include <algorithm>
#include <mutex>

#include "errors/default_errors.h"
#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"
#include "runtime/core/program.h"
#include "runtime/core/text.h"
#include "runtime/windows/message_box.h"

namespace errors {
namespace {

constexpr std::size_t kRuntimeTextCapacity = ErrorStatus::kSavedCapacity;

// Replaces every occurrence of `placeholder` (any case) by `value`. The search
// resumes after each inserted value, so a value that holds the placeholder
// itself is not expanded again and the substitution always ends. The text
// never grows past `capacity`.
void Substitute(std::string& text, std::string_view placeholder, std::string_view value,
                std::size_t capacity) {
  if (rt::SameIgnoringCase(placeholder, value)) return;
  std::size_t at = 0;
  while ((at = rt::FindIgnoringCase(text, placeholder, at)) != std::string::npos) {
    text.replace(at, placeholder.size(), value);
    at += value.size();
    if (text.size() > capacity) text.resize(capacity);
    if (at >= text.size()) break;
  }
}

// A thread's status when the manager has none bound yet.
ErrorStatus& UnboundStatus() {
  thread_local ErrorStatus status;
  return status;
}

}  // namespace

ErrorManager::ErrorManager() : critSect_(rt::NewCriticalSection()) {}

ErrorManager::~ErrorManager() = default;

void ErrorManager::Kill() {
  if (killed_ || !critSect_) return;
  {
    std::scoped_lock lock(*critSect_);
    errors_.clear();
    history_.clear();
    procNames_.clear();
    errorLog_ = nullptr;
    // Destroying the log closes its file, forced.
    stdErrorLog_.reset();
    defaultsAdded_ = false;
    initialised_ = false;
    killed_ = true;
  }
  critSect_->Kill();
}

void ErrorManager::AddEntry(int id, std::string_view message, std::string_view title, int level,
                            std::string_view category) {
  std::scoped_lock lock(*critSect_);
  errors_.push_back(ErrorEntry{id, std::string(message), std::string(title),
                               static_cast<std::uint8_t>(level), std::string(category)});
}

void ErrorManager::AddTable(std::span<const std::uint8_t> table) {
  std::scoped_lock lock(*critSect_);
  if (table.size() < 2) return;
  std::size_t count = table[0] | (table[1] << 8);
  std::size_t at = 2;
  auto text = [&](std::string& out) {
    if (at >= table.size()) return false;
    std::size_t length = table[at++];
    if (at + length > table.size()) return false;
    out.assign(reinterpret_cast<const char*>(table.data() + at), length);
    at += length;
    return true;
  };
  for (std::size_t row = 0; row < count; ++row) {
    if (at + 3 > table.size()) return;
    ErrorEntry entry;
    entry.Id = table[at] | (table[at + 1] << 8);
    entry.Fatality = table[at + 2];
    at += 3;
    if (!text(entry.Title) || !text(entry.Message)) return;
    errors_.push_back(std::move(entry));
  }
}

void ErrorManager::AddHistoryEntry() {
  std::scoped_lock lock(*critSect_);
  history_.push_back(pendingHistory_);
}

int ErrorManager::ShowHistoryWindow(std::string_view caption, int icon, int buttons,
                                    int defaultButton) {
  HistoryWindowFunction show;
  {
    std::scoped_lock lock(*critSect_);
    show = historyWindow_;
  }
  // The window copies the history under the lock itself and runs without it.
  if (show) return show(*this, caption, icon, buttons, defaultButton);
  // Without a history window the recorded messages are listed in one message
  // box, newest last.
  std::string text;
  for (const auto& entry : HistorySnapshot()) {
    if (!text.empty()) text += '|';
    text += entry.Txt;
  }
  return ShowBox(CurrentLevel(), text, caption,
                 icon ? rt::StockIcon(icon) : rt::StockIcon(rt::kStockInformation), buttons,
                 defaultButton, MsgStyle);
}

int ErrorManager::Show(std::string_view text, std::string_view caption, std::string_view icon,
                       int buttons, int defaultButton, int style) {
  int result = defaultButton;
  bool silent, historyMode, showHistory = false, resetOnView;
  {
    std::scoped_lock lock(*critSect_);
    if (logErrors_ && errorLog_) {
      // Failures are swallowed: the report goes on whatever the log does, and
      // the runtime error the report is about stays as it was.
      rt::PushErrors();
      errorLog_->Open(false);
      errorLog_->Append(ErrorLogLine(text));
      errorLog_->Close(false);
      rt::PopErrors();
    }
    historyMode = historyThreshold_ != 0;
    if (historyMode) {
      if (historyThreshold_ > 0)
        while (!history_.empty() && history_.size() >= static_cast<std::size_t>(historyThreshold_))
          history_.erase(history_.begin());
      pendingHistory_.Txt = std::string(text.substr(0, kHistoryTextCapacity));
      pendingHistory_.Id = static_cast<std::int16_t>(CurrentId());
      pendingHistory_.Category = CategoryOf(CurrentId());
      AddHistoryEntry();
      showHistory = CurrentLevel() == historyViewLevel_;
    }
    silent = silent_;
    resetOnView = historyResetOnView_;
  }
  if (silent) return result;
  if (historyMode) {
    if (showHistory) {
      result = ShowHistoryWindow(caption, 0, buttons, defaultButton);
      if (resetOnView) ClearHistory();
    }
    return result;
  }
  return ShowBox(CurrentLevel(), text, caption, icon, buttons, defaultButton, style);
}

int ErrorManager::ShowBox(int /*level*/, std::string_view text, std::string_view caption,
                          std::string_view icon, int buttons, int defaultButton, int style) {
  return rt::MessageBox(text, caption, icon, buttons, defaultButton, style);
}

void ErrorManager::RemoveEntry(int id) {
  std::scoped_lock lock(*critSect_);
  int at = LastIndexOf(id);
  if (at >= 0) errors_.erase(errors_.begin() + at);
}

void ErrorManager::Init(ErrorLog* log) {
  std::scoped_lock lock(*critSect_);
  errorLog_ = log;
  if (defaultsAdded_) return;
  defaultsAdded_ = true;
  // Entries added before Init must still override the defaults, and lookups
  // take the last entry of an id: the default rows go in front of them.
  const std::size_t added = errors_.size();
  AddTable(DefaultErrors());
  std::rotate(errors_.begin(), errors_.begin() + static_cast<std::ptrdiff_t>(added),
              errors_.end());
}

std::string ErrorManager::ExpandText() {
  const ErrorStatus status = Status();  // a consistent snapshot
  std::string text = status.ErrorBuffer.Message.substr(0, kExpandedCapacity);
  std::string errorText =
      (status.SaveErrorCode == 90 || status.SaveErrorCode == 100 || status.SaveErrorCode == 47)
          ? status.SaveFileError + " (" + status.SaveFileErrorCode + ")"
          : status.SaveError + " (" + std::to_string(status.SaveErrorCode) + ")";
  const std::pair<std::string_view, std::string> values[] = {
      {"%ErrorFile", status.SaveErrorFile},
      {"%FileErrorCode", status.SaveFileErrorCode},
      {"%FileError", status.SaveFileError},
      {"%File", status.FileName},
      {"%Key", status.KeyName},
      {"%ErrorCode", std::to_string(status.SaveErrorCode)},
      {"%ErrorText", errorText},
      {"%Error", status.SaveError},
      {"%Message", status.MessageText},
      {"%Field", status.FieldName},
      {"%Procedure", CurrentProcedureName()},
      {"%Category", status.ErrorBuffer.Category},
  };
  for (const auto& [placeholder, value] : values)
    Substitute(text, placeholder, value, kExpandedCapacity);
  if (rt::FindIgnoringCase(text, "%Previous") != std::string::npos) {
    ErrorEntry previous;
    std::string value;
    if (LookupEntry(status.PrevErrorId, previous) == LevelBenign) value = previous.Message;
    Substitute(text, "%Previous", value, kExpandedCapacity);
  }
  return text;
}

int ErrorManager::OnBenign() { return LevelBenign; }

int ErrorManager::OnFatal() {
  Show(ExpandText() + kFatalSuffix, CurrentTitle(), rt::StockIcon(rt::kStockInformation),
       rt::ButtonOk, rt::ButtonOk, MsgStyle);
  // A fatal message ends the program with a failure status, so a script that
  // runs it can tell the run did not complete.
  rt::Halt(kFatalExitCode, CurrentTitle());
}

void ErrorManager::OnNotify() {
  Show(ExpandText(), CurrentTitle(), rt::StockIcon(rt::kStockInformation), rt::ButtonOk,
       rt::ButtonOk, MsgStyle);
}

int ErrorManager::OnOther() { return OnProgram(); }

int ErrorManager::OnProgram() { return OnFatal(); }

int ErrorManager::OnUser() {
  int answer = Show(ExpandText(), CurrentTitle(), rt::StockIcon(rt::kStockExclamation),
                    rt::ButtonYes | rt::ButtonNo, rt::ButtonYes, MsgStyle);
  return answer == rt::ButtonYes ? LevelBenign : LevelCancel;
}

void ErrorManager::ReviewHistory() {
  ShowHistoryWindow("Errors History", 0, rt::ButtonOk | rt::ButtonHelp, rt::ButtonOk);
}

void ErrorManager::Init(const rt::ThreadVar<ErrorStatus>& status) {
  status_ = &status;
  std::scoped_lock lock(*critSect_);
  if (initialised_) return;
  initialised_ = true;
  killed_ = false;
  AssignCategory(-1, "Tarvo");
  historyThreshold_ = 0;
  historyViewLevel_ = LevelFatal;
  historyResetOnView_ = false;
  stdErrorLog_ = std::make_unique<StandardErrorLog>();
  Init(stdErrorLog_.get());
}

int ErrorManager::Raise(int id) {
  CaptureRuntimeError();
  return Dispatch(id);
}

int ErrorManager::RaiseWithText(int id, std::string_view text) {
  SetMessageText(text);
  return Raise(id);
}

int ErrorManager::Dispatch(int id) {
  SelectEntry(id);
  switch (CurrentLevel()) {
    case LevelBenign: return OnBenign();
    case LevelUser:
    case LevelCancel: return OnUser();
    case LevelProgram: return OnProgram();
    case LevelFatal: return OnFatal();
    case LevelNotify: OnNotify(); return LevelNotify;
    default: return OnOther();
  }
}

int ErrorManager::Ask(int id, int buttons, int defaultButton) {
  if (GetSilent()) return defaultButton;
  SelectEntry(id);
  return ShowBox(LevelBenign, ExpandText(), CurrentTitle(), rt::StockIcon(rt::kStockExclamation),
                 buttons, defaultButton, MsgStyle);
}

void ErrorManager::CaptureRuntimeError() {
  if (!status_) return;
  ErrorStatus& s = Status();
  s.SaveErrorFile = FitText(rt::ErrorFile(), kRuntimeTextCapacity);
  s.SaveErrorCode = rt::ErrorCode();
  s.SaveError = FitText(rt::ErrorText(), kRuntimeTextCapacity);
  s.SaveFileErrorCode = FitText(rt::FileErrorCode(), kRuntimeTextCapacity);
  s.SaveFileError = FitText(rt::FileErrorText(), kRuntimeTextCapacity);
}

void ErrorManager::SetFieldName(std::string_view text) {
  Status().FieldName = FitText(text, ErrorStatus::kContextCapacity);
}
void ErrorManager::SetFileName(std::string_view text) {
  Status().FileName = FitText(text, ErrorStatus::kContextCapacity);
}
void ErrorManager::SetKeyName(std::string_view text) {
  Status().KeyName = FitText(text, ErrorStatus::kContextCapacity);
}
void ErrorManager::SetMessageText(std::string_view text) {
  Status().MessageText = FitText(text, ErrorStatus::kContextCapacity);
}

void ErrorManager::SelectEntry(int id) {
  ErrorStatus& s = Status();
  s.PrevErrorId = s.ErrorBuffer.Id;
  ErrorEntry entry;
  LookupEntry(id, entry);
  s.ErrorBuffer = std::move(entry);
}

int ErrorManager::LookupEntry(int id, ErrorEntry& entry) {
  std::scoped_lock lock(*critSect_);
  int at = LastIndexOf(id);
  if (at < 0) return LevelNotify;
  entry = errors_[at];
  return LevelBenign;
}

std::string ErrorManager::CurrentTitle() { return Status().ErrorBuffer.Title; }
int ErrorManager::CurrentLevel() { return Status().ErrorBuffer.Fatality; }
int ErrorManager::CurrentId() { return Status().ErrorBuffer.Id; }

void ErrorManager::AssignCategory(int id, std::string_view category) {
  std::scoped_lock lock(*critSect_);
  if (id == -1) {
    defaultCategory_ = category;
    return;
  }
  int at = LastIndexOf(id);
  if (at >= 0) errors_[at].Category = category;
}

std::string ErrorManager::CategoryOf(int id) {
  std::scoped_lock lock(*critSect_);
  if (id == -1) return defaultCategory_;
  int at = LastIndexOf(id);
  if (at >= 0 && !errors_[at].Category.empty()) return errors_[at].Category;
  return defaultCategory_;
}

void ErrorManager::PushProcedureName(std::string_view name) {
  std::scoped_lock lock(*critSect_);
  procNames_.emplace_back(rt::ThreadNumber(), FitText(name, std::string::npos));
}

void ErrorManager::PopProcedureName() {
  std::scoped_lock lock(*critSect_);
  int thread = rt::ThreadNumber();
  for (auto it = procNames_.rbegin(); it != procNames_.rend(); ++it) {
    if (it->first != thread) continue;
    if (!it->second.empty()) procNames_.erase(std::next(it).base());
    return;
  }
}

std::string ErrorManager::CurrentProcedureName() {
  std::scoped_lock lock(*critSect_);
  int thread = rt::ThreadNumber();
  for (auto it = procNames_.rbegin(); it != procNames_.rend(); ++it)
    if (it->first == thread) return it->second;
  return {};
}

int ErrorManager::GetHistoryThreshold() {
  std::scoped_lock lock(*critSect_);
  return historyThreshold_;
}
void ErrorManager::SetHistoryThreshold(int value) {
  std::scoped_lock lock(*critSect_);
  historyThreshold_ = value;
}
int ErrorManager::GetHistoryViewLevel() {
  std::scoped_lock lock(*critSect_);
  return historyViewLevel_;
}
void ErrorManager::SetHistoryViewLevel(int value) {
  std::scoped_lock lock(*critSect_);
  historyViewLevel_ = value;
}
bool ErrorManager::GetHistoryResetOnView() {
  std::scoped_lock lock(*critSect_);
  return historyResetOnView_;
}
void ErrorManager::SetHistoryResetOnView(bool value) {
  std::scoped_lock lock(*critSect_);
  historyResetOnView_ = value;
}
std::string ErrorManager::GetDefaultCategory() { return CategoryOf(-1); }
void ErrorManager::SetDefaultCategory(std::string_view value) { AssignCategory(-1, value); }
bool ErrorManager::GetLogErrors() {
  std::scoped_lock lock(*critSect_);
  return logErrors_;
}
void ErrorManager::SetLogErrors(bool value) {
  std::scoped_lock lock(*critSect_);
  logErrors_ = value;
}
bool ErrorManager::GetSilent() {
  std::scoped_lock lock(*critSect_);
  return silent_;
}
void ErrorManager::SetSilent(bool value) {
  std::scoped_lock lock(*critSect_);
  silent_ = value;
}

void ErrorManager::ClearHistory() {
  std::scoped_lock lock(*critSect_);
  history_.clear();
}

std::vector<HistoryEntry> ErrorManager::HistorySnapshot() {
  std::scoped_lock lock(*critSect_);
  return history_;
}

void ErrorManager::SetHistoryWindow(HistoryWindowFunction show) {
  std::scoped_lock lock(*critSect_);
  historyWindow_ = show;
}

int ErrorManager::EntryCount() {
  std::scoped_lock lock(*critSect_);
  return static_cast<int>(errors_.size());
}

ErrorStatus& ErrorManager::Status() {
  return status_ ? rt::ThreadInstance(*status_) : UnboundStatus();
}

int ErrorManager::LastIndexOf(int id) const {
  // Ids are 16-bit; lookups compare the low 16 bits of the requested id.
  int wanted = id & 0xFFFF;
  for (int i = static_cast<int>(errors_.size()) - 1; i >= 0; --i)
    if ((errors_[i].Id & 0xFFFF) == wanted) return i;
  return -1;
}

}  // namespace errors
