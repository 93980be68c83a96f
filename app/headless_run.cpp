#include "app/headless_run.h"

#include <unistd.h>

#include <iostream>

#include "app/window_layouts.h"
#include "runtime/core/text.h"
#include "runtime/windows/window.h"

namespace app {
namespace {

// Window time a timer-driven window may run without input: far beyond any
// purge (the headless clock jumps a timer interval at every wait).
constexpr int kNoIdleLimit = 1 << 30;

}  // namespace

HeadlessRun::HeadlessRun() : stderrIsTerminal_(::isatty(STDERR_FILENO) == 1) {
  SetIdleLimit(kNoIdleLimit);
}

bool HeadlessRun::UseScript(const std::string& path, std::string& error) {
  script_ = true;
  return LoadScriptFile(path, &error);
}

void HeadlessRun::AnswerCutoff(std::string_view date) {
  unattended_ = true;
  SetUnattended(true);
  Expect("QUICKWINDOW");
  Type("?LASTDATE", date);
  Accept("?OK");
}

void HeadlessRun::PrintTranscript() {
  if (!script_ || transcriptPrinted_) return;
  transcriptPrinted_ = true;
  for (const std::string& line : Transcript()) std::cout << line << "\n";
  std::cout.flush();
}

void HeadlessRun::EndProgressLine() {
  if (!progressLineOpen_) return;
  std::cerr << std::endl;
  progressLineOpen_ = false;
}

void HeadlessRun::Update(const rt::Window& window, int control, int property) {
  HeadlessBackend::Update(window, control, property);
  if (!unattended_ || !rt::SameIgnoringCase(window.Name(), "PROGRESSWINDOW")) return;
  // The status line: a line of its own when it says something new.
  if (const rt::ControlState* status = window.Control(progress::kUserString);
      (control == 0 || control == progress::kUserString) && status &&
      status->Text != lastStatus_) {
    lastStatus_ = status->Text;
    if (!lastStatus_.empty()) {
      EndProgressLine();
      std::cerr << "veltrane: " << lastStatus_ << std::endl;
    }
  }
  if (control != 0 && control != progress::kPercentText) return;
  const rt::ControlState* percent = window.Control(progress::kPercentText);
  if (!percent || percent->Text.empty() || percent->Text == lastProgress_) return;
  lastProgress_ = percent->Text;
  if (stderrIsTerminal_) {
    std::cerr << "\r\x1b[K" << lastProgress_ << std::flush;
    progressLineOpen_ = true;
  } else {
    std::cerr << lastProgress_ << std::endl;
  }
}

void HeadlessRun::ShowHalt(const std::string& text) {
  HeadlessBackend::ShowHalt(text);
  EndProgressLine();
  std::cerr << "veltrane: " << text << std::endl;
  PrintTranscript();
}

}  // namespace app
