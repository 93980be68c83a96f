// Stop signals during a purge: SIGTERM (a service manager stopping the job),
// SIGINT (Ctrl+C) and SIGHUP (the terminal went away) ask the walk to stop
// as Cancel would, instead of ending the process with its batch unsaved.
//
// While a StopSignals object lives, the first of these signals is only
// noted (StopSignalReceived) and the former course of all three is put back
// at once, so a second one does what it did before: ends the process, or
// runs the terminal's own handler that gives the screen back and ends it.
// The handler makes async-signal-safe calls only (sigaction and an atomic
// store). Signals the process ignores (started under nohup) stay ignored.
//
// Threading: made and destroyed on the user-interface thread; one at a time.
#pragma once

#include <string>

namespace app {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
};

// The stop signal received while a StopSignals lived, or 0.
int StopSignalReceived();

// "SIGTERM", "SIGINT", "SIGHUP"; the number for any other signal.
std::string SignalName(int number);

}  // namespace app
