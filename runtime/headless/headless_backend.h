// The headless backend: windows without a screen. Input comes from an
// operator script (operator_script.h) or from test code queuing the same
// steps; everything a user would have seen (windows opening and closing,
// captions, control texts and states, message boxes, halts, beeps, the
// cursor) is recorded so tests and automated runs can check it.
//
// Time: window timers run on this backend's clock, which is the steady clock
// plus an offset. When the runtime waits and no input is due, the offset
// jumps ahead instead of sleeping, so timer-driven windows run at full speed
// and "wait" steps cost nothing. AdvanceClock lets a test pretend a handler
// took long.
//
// When the steps run out: the idle callback (if any) may queue more; else a
// loop with a running timer keeps going for up to the idle limit of window
// time (10 minutes unless changed) and a loop with nothing to wait for gets
// its window closed (EventCloseWindow), recorded as a problem. A window that
// refuses 100 such closes in a row halts the program, so an automated run
// never hangs.
//
// Message boxes take the answer step in front of the script, else the
// OnMessageBox callback's answer, else their default button. With no person
// to answer, a retry question whose default is to try again (Yes, Retry)
// could ask forever; so a question answered by default that comes again with
// the same caption, text and buttons (notifications in between do not count)
// is answered with its declining choice instead (No, else Cancel, Abort,
// Ignore), and a line on standard error says so.
//
// Unattended runs (the command line's scheduled purge) call SetUnattended(true)
// before any window opens: every message box is then also written to standard
// error with the answer it got, since nobody sees it.
//
// Threading: every member may be called from any thread; the runtime calls
// WaitForInput and MessageBox from its user interface thread. Callbacks run
// without the backend's lock held.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/headless/operator_script.h"
#include "runtime/windows/backend.h"

namespace rt {

class HeadlessBackend : public Backend {
 public:
  struct MessageBoxRecord {
    std::string Caption;
    std::vector<std::string> Lines;
    std::string Icon;
    int Buttons = 0;
    int DefaultButton = 0;
    int Style = 0;
    int Answer = 0;
  };
  // A control as last shown.
  struct ShownControl {
    std::string Text;
    bool Hidden = false;
    bool Disabled = false;
    int FontColor = -1;
    int FontStyle = 0;
    std::int64_t Value = 0;
    int Selected = 0;
    bool Default = false;
    Rect Position;  // applied, not transcribed
    std::string Hint;  // an entry's typing hint ("hint" in the transcript)
  };
  struct ShownWindow {
    std::string Caption;
    Rect Area;
    bool Hidden = false;
    bool Open = false;
    int Focus = 0;
    std::map<int, ShownControl> Controls;
  };

  HeadlessBackend() = default;
  // Stops being the active backend if it still is.
  ~HeadlessBackend() override;

  // Appends a script's steps; false (nothing appended) with the bad line in error.
  bool LoadScript(std::string_view text, std::string* error = nullptr);
  bool LoadScriptFile(const std::string& path, std::string* error = nullptr);

  // Queue steps from code; controls by label ("?OK") or number ("4").
  void Expect(std::string_view window);
  void Type(std::string_view control, std::string_view text);
  void Accept(std::string_view control);
  void Key(int key);
  void SelectRow(std::string_view control, int row);
  void Close();
  void Resize(int width, int height);
  void Maximize();
  void Restore();
  void Wait(int ms);
  // The answer to the next message box (0: its default button).
  void Answer(int button);

  // Called when the runtime waits and no step is queued; may queue steps.
  void OnIdle(std::function<void(HeadlessBackend&)> callback);
  // Answers message boxes that no Answer step covers (else the default button).
  void OnMessageBox(std::function<int(const MessageBoxRecord&)> callback);
  // Unattended mode (see the top of the file); off by default. The command
  // line's `--through` run switches it on right after making this backend the
  // active one; operator scripts (`--script`) leave it off.
  void SetUnattended(bool on);
  void AdvanceClock(int ms);
  void SetIdleLimit(int ms);
  std::size_t PendingSteps() const;

  // What was shown. Transcript lines look like
  //   open QUICKWINDOW "Purge Punches Through"
  //   input type ?LASTDATE "12/31/2023"
  //   text QUICKWINDOW:5 "12/31/2023"
  //   messagebox "Caption" "line 1|line 2" buttons=1 default=1 -> 1
  //   halt "Exiting Application"
  //   close QUICKWINDOW
  std::vector<std::string> Transcript() const;
  std::vector<MessageBoxRecord> MessageBoxes() const;
  std::vector<std::string> Halts() const;
  // Steps that could not be given (unknown control, disabled control, wrong
  // window, answer without a message box) and closes for lack of input.
  std::vector<std::string> Problems() const;
  std::string Cursor() const;
  // The last state shown of a window (by resource name; the latest opened).
  std::optional<ShownWindow> Shown(std::string_view window) const;
  // Text of a control as last shown; "" when never shown.
  std::string ShownText(std::string_view window, int control) const;

  // Backend
  void CreateNative(const Window& window) override;
  void DestroyNative(const Window& window) override;
  void Update(const Window& window, int control, int property) override;
  std::optional<Input> WaitForInput(int timeoutMs) override;
  void Wake() override;
  int ShowMessageBox(const MessageBoxRequest& request) override;
  void ShowHalt(const std::string& text) override;
  void Beep(int frequency, int duration) override;
  void SetCursor(std::string_view cursor) override;
  std::int64_t NowMs() const override;

 private:
  void Queue(ScriptStep step);
  void Record(std::string line);
  void Problem(const ScriptStep& step, const std::string& what);
  void Snapshot(const Window& window, int control);
  std::optional<Input> StepInput(const ScriptStep& step);
  // The answer to a box nobody answered: its default, or its declining choice
  // when the same question was just answered by default. Caller holds mutex_.
  int UnansweredChoice(const MessageBoxRequest& request, const std::string& text);

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable woken_;
  bool wake_ = false;
  std::deque<ScriptStep> steps_;
  std::optional<std::int64_t> waitUntil_;  // end of the Wait step in front
  std::function<void(HeadlessBackend&)> idle_;
  std::function<int(const MessageBoxRecord&)> messageBoxAnswer_;
  std::atomic<std::int64_t> offsetMs_{0};
  std::int64_t idleLimitMs_ = 10 * 60 * 1000;
  std::int64_t idleSpentMs_ = 0;
  int closesWithoutInput_ = 0;
  bool inIdleCallback_ = false;
  bool unattended_ = false;
  // Caption, text and buttons of the last question answered by default.
  std::string lastUnanswered_;
  std::vector<std::string> transcript_;
  std::vector<MessageBoxRecord> messageBoxes_;
  std::vector<std::string> halts_;
  std::vector<std::string> problems_;
  std::string cursor_;
  std::map<std::string, ShownWindow> shown_;  // by upper-cased window name
};

}  // namespace rt
