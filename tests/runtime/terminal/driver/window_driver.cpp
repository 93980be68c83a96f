// Shows the program's windows on the terminal backend so the terminal tests
// can drive them from outside, in a pseudo-terminal:
//   window_driver SCENARIO RESULTS
// writes "pid N" to RESULTS at once, then what the windows gave once they
// closed. Scenarios:
//   dialog           the cut-off dialog (with its calendar and refusal)
//   progress N STEP  the progress window over N records, STEP a tick
//   history          the error history window over 30 rows
//   halt             the cut-off dialog; OK halts with "Exiting Application"
//   crash            the cut-off dialog; OK crashes with SIGSEGV
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "runtime/core/dates.h"
#include "runtime/core/halt.h"
#include "runtime/core/pictures.h"
#include "runtime/terminal/terminal_backend.h"
#include "runtime/windows/event_loop.h"
#include "tests/support/window_layouts.h"

namespace {

using namespace rt;

// The events of a loop, by name and control, one line each.
std::string Log(int event, int control) {
  return std::to_string(event) + " " + std::to_string(control);
}

int History(std::ofstream& out) {
  Window window(testing::HistoryWindow());
  OpenWindow(window);
  SetProperty(0, PropText, "Errors History");
  SetListSource(2, [](int row, int column) -> std::string {
    if (row == -1) return "30";
    if (row == -2) return "2";
    if (row == -3) return "1";
    return column == 1 ? "Message number " + std::to_string(row) : "Cat " + std::to_string(row);
  });
  const std::pair<int, const char*> buttons[] = {{ButtonHelp, "&Help"}, {ButtonOk, "O&k"}};
  for (int i = 0; i < 2; ++i) {
    SetProperty(3 + i, PropText, buttons[i].second);
    Unhide(3 + i);
  }
  SetProperty(4, PropDefault, 1);
  Select(2);
  int answer = 0;
  ServeEvents([&] {
    out << Log(CurrentEvent(), EventControl()) << "\n";
    if (const int accepted = AcceptedControl(); accepted == 3 || accepted == 4) {
      answer = buttons[accepted - 3].first;
      return -1;
    }
    return 0;
  });
  out << "answer " << answer << "\nselected " << window.Control(2)->Selected << "\n";
  return 0;
}

int Dialog(std::ofstream& out, const std::string& onOk) {
  std::int32_t lastDate = 0;
  if (onOk.empty()) {
    const int response = testing::RunCutoffDialog(lastDate);
    out << "response " << response << "\nlastDate " << Format(lastDate, "D02B") << "\n";
    return 0;
  }
  Window window(testing::CutoffDialog(&lastDate));
  OpenWindow(window);
  ServeEvents([&] {
    if (AcceptedControl() == 1) {
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
