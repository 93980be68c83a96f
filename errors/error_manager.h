// The one place through which every component reports a condition. A caller
// names a message id, optionally sets context values (field, file, key, free
// text), and reports; the manager looks the id up in its table, substitutes
// placeholders and acts on the entry's level: nothing, an OK message, a yes/no
// question, or a message followed by the end of the program. The result is a
// level code.
//
// Threading: the table, history, procedure names, log and history settings
// are shared and guarded by the manager's re-entrant lock, which is never held
// while a message box is on screen. Each thread's current entry and context
// values live in its own ErrorStatus (a per-thread variable bound by Init).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "errors/error_log.h"
#include "errors/error_status.h"
#include "errors/level.h"
#include "errors/standard_error_log.h"
#include "runtime/core/critical_section.h"
#include "runtime/core/thread_instance.h"

namespace errors {

// One recorded message of the history.
struct HistoryEntry {
  std::string Category;
  std::string Txt;  // the displayed text, at most 1023 characters
  std::int16_t Id = 0;
};

class ErrorManager;

// Shows `manager`'s history in a window with the given caption, icon number
// (0: the information icon), button set and default button, and returns the
// button pressed (the default when the window was closed otherwise).
using HistoryWindowFunction = int (*)(ErrorManager& manager, std::string_view caption, int icon,
                                      int buttons, int defaultButton);

class ErrorManager {
 public:
  static constexpr std::size_t kExpandedCapacity = 1999;
  static constexpr std::size_t kHistoryTextCapacity = 1023;
  inline static const std::string kFatalSuffix = "  Press OK to end this application";
  // Exit status of a program ended by a fatal message.
  static constexpr int kFatalExitCode = 3;

  ErrorManager();
  virtual ~ErrorManager();
  ErrorManager(const ErrorManager&) = delete;
  ErrorManager& operator=(const ErrorManager&) = delete;

  // Virtual operations, in their fixed order.
  virtual void Kill();
  virtual void AddEntry(int id, std::string_view message, std::string_view title, int level,
                        std::string_view category = {});
  // Appends every row of a packed table (see default_errors.h for the format).
  // A table whose rows run past its end is read up to the last whole row.
  virtual void AddTable(std::span<const std::uint8_t> table);
  virtual void AddHistoryEntry();
  virtual int ShowHistoryWindow(std::string_view caption, int icon, int buttons, int defaultButton);
  virtual int Show(std::string_view text, std::string_view caption, std::string_view icon,
                   int buttons, int defaultButton, int style);
  // The display hook: the runtime message box with everything but the level.
  virtual int ShowBox(int level, std::string_view text, std::string_view caption,
                      std::string_view icon, int buttons, int defaultButton, int style);
  virtual void RemoveEntry(int id);
  // Uses `log` (not owned; null for none) and adds the default table the first
  // time, in front of any entries added before, so those still override it.
  virtual void Init(ErrorLog* log);
  virtual std::string ExpandText();
  virtual int OnBenign();
  virtual int OnFatal();
  virtual void OnNotify();
  virtual int OnOther();
  virtual int OnProgram();
  virtual int OnUser();
  virtual void ReviewHistory();

  // Binds the per-thread status variable (not owned; must outlive the
  // manager) and initialises the manager the first time, with its own
  // StandardErrorLog on "TarvoError.Log" as the log (used once logging is on).
  void Init(const rt::ThreadVar<ErrorStatus>& status);

  int Raise(int id);
  int RaiseWithText(int id, std::string_view text);
  int Dispatch(int id);
  int Ask(int id, int buttons, int defaultButton);
  void CaptureRuntimeError();
  void SetFieldName(std::string_view text);
  void SetFileName(std::string_view text);
  void SetKeyName(std::string_view text);
  void SetMessageText(std::string_view text);
  void SelectEntry(int id);
  // Copies the last-added entry with this id into `entry`: LevelBenign when
  // found, LevelNotify (entry untouched) when not.
  int LookupEntry(int id, ErrorEntry& entry);
  std::string CurrentTitle();
  int CurrentLevel();
  int CurrentId();
  void AssignCategory(int id, std::string_view category);
  std::string CategoryOf(int id);
  void PushProcedureName(std::string_view name);
  void PopProcedureName();
  std::string CurrentProcedureName();

  int GetHistoryThreshold();
  void SetHistoryThreshold(int value);
  int GetHistoryViewLevel();
  void SetHistoryViewLevel(int value);
  bool GetHistoryResetOnView();
  void SetHistoryResetOnView(bool value);
  std::string GetDefaultCategory();
  void SetDefaultCategory(std::string_view value);
  bool GetLogErrors();
  void SetLogErrors(bool value);
  bool GetSilent();
  void SetSilent(bool value);
  void ClearHistory();
  // A copy of the history, oldest first.
  std::vector<HistoryEntry> HistorySnapshot();
  // Number of entries in the table.
  int EntryCount();
  // Where ShowHistoryWindow shows the history. The history window belongs to
  // the window layer, which sits above this one, so the program installs it
  // at start; without one (null) the history is listed in one message box.
  void SetHistoryWindow(HistoryWindowFunction show);

  // The style passed unchanged to the message box.
  std::int16_t MsgStyle = 0;

 protected:
  // The calling thread's status; a thread-local default when none is bound.
  ErrorStatus& Status();

  // The history entry Show prepares and AddHistoryEntry appends.
  HistoryEntry pendingHistory_;

 private:
  int LastIndexOf(int id) const;  // caller holds the lock

  std::unique_ptr<rt::CriticalSection> critSect_;
  const rt::ThreadVar<ErrorStatus>* status_ = nullptr;  // not owned
  std::string defaultCategory_;                          // guarded by critSect_
  std::vector<ErrorEntry> errors_;                       // guarded by critSect_
  ErrorLog* errorLog_ = nullptr;                         // not owned; guarded by critSect_
  std::unique_ptr<StandardErrorLog> stdErrorLog_;        // the default log; guarded by critSect_
  std::vector<HistoryEntry> history_;                    // guarded by critSect_
  HistoryWindowFunction historyWindow_ = nullptr;        // guarded by critSect_
  std::vector<std::pair<int, std::string>> procNames_;   // guarded by critSect_
  bool silent_ = false;
  bool logErrors_ = false;
  int historyThreshold_ = 0;
  int historyViewLevel_ = LevelFatal;
  bool historyResetOnView_ = false;
  bool defaultsAdded_ = false;  // guarded by critSect_
  bool initialised_ = false;
  bool killed_ = false;
};

}  // namespace errors
