// The program's start-up: the main module's hooks, the module table handed to
// the runtime, the main routine and the program entry.
#pragma once

#include <vector>

#include "runtime/core/program.h"

namespace app {

// The module table in the order the runtime runs its hooks.
std::vector<rt::Module> ModuleTable();

// The main module's hooks.
void MainConstruct();
void MainDestruct();
void MainThreadStart();
void MainThreadEnd();
void MainRegisterFiles();

// The main routine run by RuntimeStart on thread 1.
void MainRoutine();

// Program entry: resets the floating-point environment, hands the module
// table to the runtime, runs the main routine and returns the exit code.
int ProgramEntry();

}  // namespace app
