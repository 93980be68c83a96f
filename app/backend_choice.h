// Which window backend the program shows its windows on.
//
// Given by name (--backend), or chosen: the desktop when a display is there
// and the desktop backend can reach it, else the terminal when standard input
// and output are both a terminal. The headless backend is not chosen here:
// the command line makes it for --script and --through.
//
// The terminal backend is part of the library. The desktop backend is added
// by the veltrane program itself (AddBackend in its main), so the data tool
// and the test programs that link the library never load Qt.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/windows/backend.h"

namespace app {

struct BackendEntry {
  std::string Name;
  // True when the backend is worth trying without being asked for.
  std::function<bool()> Available;
  // The backend, or null with one line in `error` saying why it cannot run here.
  std::function<std::unique_ptr<rt::Backend>(std::string& error)> Make;
};

// Puts a backend in front of those already known; the choice tries it first.
void AddBackend(BackendEntry entry);

// True when DISPLAY or WAYLAND_DISPLAY names a display.
bool DisplaySet();

// The names --backend takes, in the order they are tried when none is given,
// then "headless".
std::vector<std::string> BackendNames();

// The backend called `name`; null with one line in `error` saying why it
// cannot run here.
std::unique_ptr<rt::Backend> MakeBackend(std::string_view name, std::string& error);

// The best backend this process can show windows on; null with one line in
// `error` when there is no display that can be used and no terminal.
std::unique_ptr<rt::Backend> ChooseBackend(std::string& error);

}  // namespace app
