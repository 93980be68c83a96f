// Which window backend the program shows its windows on.
//
// Given by name (--backend), or chosen: the desktop when a display is there
// and the desktop backend is built in and can reach it, else the terminal
// when standard input and output are both a terminal. The headless backend
// is not chosen here: the command line makes it for --script and --through.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/windows/backend.h"

namespace app {

// The names --backend takes, in the order they are tried when none is given,
// then "headless".
std::vector<std::string> BackendNames();

// The backend called `name` ("qt" or "terminal"); null with one line in
// `error` saying why it cannot run here.
std::unique_ptr<rt::Backend> MakeBackend(std::string_view name, std::string& error);

// The best backend this process can show windows on; null with one line in
// `error` when there is no display and no terminal.
std::unique_ptr<rt::Backend> ChooseBackend(std::string& error);

}  // namespace app
