// The program on the headless backend, with nobody at a screen: an operator
// script answers the windows (--script), or the program answers the cut-off
// dialog itself (--through, the unattended purge for scheduled maintenance).
//
// What a person would have seen goes to the process's standard streams:
//   - a halt's text, as one line on standard error ("veltrane: Exiting
//     Application");
//   - unattended: each new percentage of the progress window on standard
//     error, one line per step, or one line rewritten in place when standard
//     error is a terminal; what the window's status line says, a line each
//     time it says something new; message boxes and their answers (the
//     headless backend writes those);
//   - with a script: the transcript of everything shown (headless_backend.h)
//     on standard output when the program ends.
//
// Threading: the user-interface thread makes and uses it, like any backend.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "runtime/headless/headless_backend.h"

namespace app {

class HeadlessRun : public rt::HeadlessBackend {
 public:
  // Windows with running timers (the progress window) are never closed for
  // lack of input: the purge runs to its end, however long it takes.
  HeadlessRun();

  // Loads an operator script; false with `error` naming the file and the
  // line that cannot be read.
  bool UseScript(const std::string& path, std::string& error);
  // Unattended: the cut-off dialog gets `date` (MM/DD/YYYY) and OK. When the
  // dialog refuses the date, nothing else is given, so it is closed for lack
  // of input and the program ends as cancelled.
  void AnswerCutoff(std::string_view date);

  // Writes the transcript to standard output, once (script runs only).
  void PrintTranscript();
  // Ends the live percentage line, if one is open on a terminal.
  void EndProgressLine();

  void Update(const rt::Window& window, int control, int property) override;
  void ShowHalt(const std::string& text) override;

 private:
  bool unattended_ = false;
  bool script_ = false;
  bool transcriptPrinted_ = false;
  bool progressLineOpen_ = false;
  bool stderrIsTerminal_ = false;
  std::string lastProgress_;
  std::string lastStatus_;
};

}  // namespace app
