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

struct PurgeOutcome;

// The exit status a run that was not halted ends with (exit_status.h): done
// when the purge reached the end of the punches and removed every one due,
// cancelled when the operator cancelled it, an error otherwise.
int ExitStatus(const PurgeOutcome& outcome);

// Program entry: resets the floating-point environment, hands the module
// table to the runtime, runs the main routine and returns the exit status.
// A halt ends the process inside, with the halt's code.
int ProgramEntry();

}  // namespace app
