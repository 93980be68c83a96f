// The command line of veltrane:
//
//   veltrane [--backend NAME] [--script FILE] [--through MM/DD/YYYY] [--database CONN]
//   veltrane --help | --version
//
// Without options the cut-off dialog shows on the best screen there is
// (backend_choice.h). --script runs on the headless backend with an operator
// script answering the windows; --through is the unattended purge: the
// dialog gets that date and OK (so the same rules refuse a date in 2024 or
// later), progress and a one-line summary go to standard error. --database
// keeps the data on a PostgreSQL server (database_choice.h). Options take
// their value as the next argument or after "=".
//
// Exit status (exit_status.h): 0 done, 1 bad usage (also: no screen to show
// the dialog on), 2 cancelled or refused, 3 stopped by an error (also:
// standard output that could not be written, when nothing else failed).
#pragma once

#include <string>
#include <vector>

namespace app {

struct CommandLine {
  bool Help = false;
  bool Version = false;
  std::string Backend;  // empty: chosen
  std::string Script;   // operator script; empty for none
  std::string Through;  // the cut-off as given; empty for none
  std::string Database;  // a server's connection; empty: as database_choice.h finds
};

// Reads the arguments after the program name. False with one line in `error`
// for a line that cannot be used (unknown option, missing value, a date that
// is not MM/DD/YYYY, options that exclude each other).
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line,
                      std::string& error);

// The text --help prints.
std::string UsageText();

// Runs the program as `argv` asks and returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace app
