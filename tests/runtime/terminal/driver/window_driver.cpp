// Shows the program's windows on the terminal backend so the terminal tests
// can drive them from outside, in a pseudo-terminal:
//   window_driver SCENARIO RESULTS
// writes "pid N" to RESULTS at once, then what the windows gave once they
// closed. Scenarios:
//   dialog           the cut-off dialog (with its calendar and refusal)
//   progress N STEP  the progress window over N records, STEP a tick
//   history          the error history window over 30 recorded messages
//   halt             the cut-off dialog; OK halts with "Exiting Application"
//   crash            the cut-off dialog; OK crashes with SIGSEGV
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "errors/error_manager.h"
#include "errors/level.h"
#include "runtime/core/dates.h"
#include "runtime/core/halt.h"
#include "runtime/core/pictures.h"
#include "runtime/terminal/terminal_backend.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "tests/support/window_layouts.h"
#include "ui/message_window.h"

namespace {

using namespace rt;

// The events of a loop, by name and control, one line each.
std::string Log(int event, int control) {
  return std::to_string(event) + " " + std::to_string(control);
}

// The program's history window, logging its events and, as it closes, the
// list's selected row.
class LoggedHistoryWindow : public ui::MessageWindow {
 public:
  explicit LoggedHistoryWindow(std::ofstream& out) : out_(out) {}
  int HandleEvent() override {
    out_ << Log(CurrentEvent(), EventControl()) << "\n";
    return MessageWindow::HandleEvent();
  }
  int Kill() override {
    if (Win && Win->IsOpen()) out_ << "selected " << Win->Control(ui::kHistoryList)->Selected << "\n";
    return MessageWindow::Kill();
  }

 private:
  std::ofstream& out_;
};

std::ofstream* gHistoryLog = nullptr;

int ShowLoggedHistory(errors::ErrorManager& err, std::string_view caption, int icon, int buttons,
                      int defaultButton) {
  Window win(ui::HistoryWindowResource());
  LoggedHistoryWindow window(*gHistoryLog);
  window.Caption = caption;
  window.Err = &err;
  window.Icon = icon;
  window.ButtonTypes = buttons;
  window.MsgRVal = defaultButton;
  window.Win = &win;
  return ui::ShowHistoryWindow(window);
}

// 30 recorded messages, reviewed the way the program reviews its history.
int History(std::ofstream& out) {
  static const ThreadVar<errors::ErrorStatus> status;
  errors::ErrorManager errs;
  errs.Init(status);
  gHistoryLog = &out;
  errs.SetHistoryWindow(ShowLoggedHistory);
  errs.SetHistoryThreshold(-1);
  for (int i = 1; i <= 30; ++i) {
    errs.AddEntry(1000 + i, "Message number " + std::to_string(i), "Title", errors::LevelNotify,
                  "Cat " + std::to_string(i));
    errs.Raise(1000 + i);
  }
  // What ReviewHistory shows, with the answer kept.
  const int answer = errs.ShowHistoryWindow("Errors History", 0, ButtonOk | ButtonHelp, ButtonOk);
  out << "answer " << answer << "\n";
  errs.Kill();
  return 0;
}

int Dialog(std::ofstream& out, const std::string& onOk) {
  std::int32_t lastDate = 0;
  if (onOk.empty()) {
    const int response = testing::RunCutoffDialog(lastDate);
    out << "response " << response << "\nlastDate " << Format(lastDate, "D02B") << "\n";
    return 0;
  }
  Window window(app::CutoffDialogResource(&lastDate));
  OpenWindow(window);
  ServeEvents([&] {
    if (AcceptedControl() == app::cutoff::kOk) {
      out << "lastDate " << Format(lastDate, "D02B") << std::endl;
      if (onOk == "halt") Halt(3, "Exiting Application");
      raise(SIGSEGV);
    }
    return 0;
  });
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_driver SCENARIO RESULTS [ARGS]\n");
    return 1;
  }
  const std::string scenario = argv[1];
  std::ofstream out(argv[2]);
  out << "pid " << getpid() << std::endl;
  std::string error;
  auto backend = MakeTerminalBackend(error);
  if (!backend) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  SetBackend(backend.get());
  int code = 0;
  if (scenario == "dialog") {
    code = Dialog(out, "");
  } else if (scenario == "halt" || scenario == "crash") {
    code = Dialog(out, scenario);
  } else if (scenario == "progress" && argc >= 5) {
    const int taken = testing::RunProcess(std::stoi(argv[3]), std::stoi(argv[4]));
    out << "taken " << taken << "\n";
  } else if (scenario == "history") {
    code = History(out);
  } else {
    out << "unknown scenario " << scenario << "\n";
    code = 1;
  }
  SetBackend(nullptr);
  backend.reset();
  out << "end\n";
  return code;
}
