#include "app/command_line.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>

#include "app/backend_choice.h"
#include "app/database_choice.h"
#include "app/exit_status.h"
#include "app/headless_run.h"
#include "app/main_routine.h"
#include "app/purge_process.h"
#include "app/standard_output.h"
#include "app/string_utility.h"
#include "app/trace_file.h"
#include "app/version.h"
#include "runtime/core/pictures.h"
#include "runtime/core/text.h"
#include "runtime/postgres/server_connection.h"
#include "runtime/trace/trace_file.h"
#include "runtime/windows/backend.h"

namespace app {
namespace {

constexpr std::string_view kHeadless = "headless";

std::string JoinedBackendNames(std::string_view separator) {
  std::string text;
  for (const std::string& name : BackendNames()) {
    if (!text.empty()) text += separator;
    text += name;
  }
  return text;
}

constexpr const char* kSynopsis =
    "usage: veltrane [--backend NAME] [--script FILE] [--through MM/DD/YYYY]\n"
    "                [--database CONN]\n"
    "       veltrane --help | --version\n";

// An error on standard error. What it quotes from the command line (or a
// file it names) has its control characters shown escaped: an argument must
// not be able to drive the terminal.
void SayError(const std::string& error) {
  std::cerr << "veltrane: " << rt::PrintableText(error) << "\n";
}

int UsageError(const std::string& error) {
  SayError(error);
  std::cerr << kSynopsis << "Try 'veltrane --help' for more information.\n";
  return kExitUsage;
}

// The one-line summary of an unattended purge.
std::string Summary(const PurgeOutcome& outcome, const std::string& through, double seconds) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.1f s", seconds);
  std::string text = "veltrane: " + PurgeReport(outcome, through, elapsed);
  if (const std::string lost = rt::TraceFileLoss(); !lost.empty()) text += "; " + lost;
  return text;
}

// An argument as an error shows it: cut to kShownArgument characters, so a
// runaway value does not fill the screen.
constexpr std::size_t kShownArgument = 40;
std::string Shown(std::string_view argument) {
  if (argument.size() <= kShownArgument) return std::string(argument);
  return std::string(argument.substr(0, kShownArgument)) + "... (" +
         std::to_string(argument.size()) + " characters)";
}

// Standard output or error could not be written (a closed pipe, a full
// disk): the trace is the one place left to say so.
void NoteLostOutput() {
  std::string lost;
  if (std::cout.fail()) lost = "standard output";
  if (std::cerr.fail()) lost += (lost.empty() ? "" : " and ") + std::string("standard error");
  if (!lost.empty())
    StringUtility().TraceChannel("Output lost: " + lost + " could not be written", 0);
}

// What was written to standard output (help, the version, a script run's
// transcript) must have gone out: when it did not, that is said and the run
// counts as stopped by an error, unless it had failed already.
int CheckedOutput(int status) {
  const std::string why = StandardOutputFailure();
  if (why.empty()) return status;
  SayError("cannot write standard output: " + why);
  return status == kExitDone ? kExitError : status;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line,
                      std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const std::size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != name.npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      hasValue = true;
    }
    if (name == "--help" || name == "-h" || name == "--version") {
      if (hasValue) return error = Shown(name) + " takes no value", false;
      (name == "--version" ? line.Version : line.Help) = true;
      continue;
    }
    std::string* target = name == "--backend" ? &line.Backend
                          : name == "--script" ? &line.Script
                          : name == "--through" ? &line.Through
                          : name == "--database" ? &line.Database
                                                : nullptr;
    if (!target) return error = "unknown option '" + Shown(args[i]) + "'", false;
    if (!hasValue) {
      if (i + 1 >= args.size()) return error = name + " needs a value", false;
      value = args[++i];
    }
    // Blanks only are no value (a shell variable that held nothing).
    if (rt::IsBlank(value)) return error = name + " needs a value", false;
    if (!target->empty()) return error = name + " is given twice", false;
    *target = value;
  }
  if (line.Help || line.Version) return true;
  if (!line.Backend.empty()) {
    bool known = false;
    for (const std::string& name : BackendNames()) known = known || name == line.Backend;
    if (!known)
      return error = "unknown backend '" + Shown(line.Backend) + "' (one of: " +
                     JoinedBackendNames(", ") + ")",
             false;
  }
  const bool headless = !line.Script.empty() || !line.Through.empty();
  if (!line.Script.empty() && !line.Through.empty())
    return error = "--script and --through exclude each other", false;
  if (headless && !line.Backend.empty() && line.Backend != kHeadless)
    return error = std::string(line.Script.empty() ? "--through" : "--script") +
                   " runs on the headless backend, not on " + line.Backend,
           false;
  if (!line.Through.empty() && !rt::Deformat(line.Through, "D02"))
    return error = "--through needs a date MM/DD/YYYY, not '" + Shown(line.Through) + "'", false;
  return true;
}

std::string UsageText() {
  std::ostringstream text;
  text << kSynopsis
       << "\n"
          "Removes old punches from data/Timecard.DAT below the current folder: asks\n"
          "for the last duty date to purge, then removes every punch on or before it.\n"
          "Window placements are kept in Veltrane.INI in the current folder.\n"
          "\n"
          "  --backend NAME        show the windows on NAME ("
       << JoinedBackendNames(", ")
       << ")\n"
          "                        instead of the best screen there is\n"
          "  --script FILE         headless: the operator script FILE answers the\n"
          "                        windows; what they showed goes to standard output\n"
          "  --through MM/DD/YYYY  unattended purge through that date (dates from\n"
          "                        01/01/2024 on are refused); progress and a summary\n"
          "                        go to standard error\n"
          "  --database CONN       keep the data on a PostgreSQL server: CONN is a\n"
          "                        libpq connection string or URI; without it "
       << kDatabaseVariable
       << "\n"
          "                        or Server= in [Database] of Veltrane.INI, else\n"
          "                        the SQLite files in data/. An unreachable server\n"
          "                        stops the program (exit 3) within "
       << rt::postgres::kConnectTimeoutSeconds
       << " s a\n"
          "                        server address\n"
          "  --help                show this text\n"
          "  --version             show the version\n"
          "\n"
          "SIGTERM, SIGINT (Ctrl+C) or SIGHUP during the purge cancels it: what was\n"
          "removed is kept and counted. A second one ends the program at once; the\n"
          "punches of the batch not yet committed then stay in the file.\n"
          "\n"
          "Exit status: 0 done, 1 bad usage or no screen, 2 cancelled or refused,\n"
          "3 stopped by an error (also when a punch due for removal stayed).\n"
          "\n"
          "Every punch examined and removed is traced to the debug-output channel\n"
          "(watch it with veltrane-debugview). With "
       << kTraceFileVariable
       << "=FILE in the\n"
          "environment the trace is appended to FILE instead, every line of it.\n";
  return text.str();
}

int RunCommandLine(int argc, char** argv) {
  // A reader that goes away (veltrane --through D 2>&1 | head -1) must not
  // end the purge: writes to its pipe fail and are dropped instead.
  std::signal(SIGPIPE, SIG_IGN);
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), line,
                        error))
    return UsageError(error);
  if (line.Help) {
    std::cout << UsageText();
    return CheckedOutput(kExitDone);
  }
  if (line.Version) {
    std::cout << "veltrane " << kVersion << "\n";
    return CheckedOutput(kExitDone);
  }

  // Unattended, nobody is there to read a box: the summary says what happened.
  SetPurgeEndMessage(line.Through.empty());
  if (!UseDatabase(line.Database, error)) {
    SayError(error);
    return kExitError;
  }
  std::unique_ptr<rt::Backend> backend;
  HeadlessRun* headless = nullptr;
  if (!line.Script.empty() || !line.Through.empty() || line.Backend == kHeadless) {
    auto run = std::make_unique<HeadlessRun>();
    if (!line.Script.empty() && !run->UseScript(line.Script, error)) return UsageError(error);
    if (!line.Through.empty()) run->AnswerCutoff(line.Through);
    headless = run.get();
    backend = std::move(run);
  } else {
    backend = line.Backend.empty() ? ChooseBackend(error) : MakeBackend(line.Backend, error);
    if (!backend) {
      SayError(error);
      return kExitUsage;
    }
  }
  if (!TraceToFileFromEnvironment(error)) {
    SayError(error);
    return kExitUsage;
  }

  rt::SetBackend(backend.get());
  const auto start = std::chrono::steady_clock::now();
  const int status = ProgramEntry();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (headless) {
    headless->EndProgressLine();
    headless->PrintTranscript();
    if (!line.Through.empty())
      std::cerr << Summary(LastPurgeOutcome(), line.Through, seconds) << std::endl;
  }
  const int checked = CheckedOutput(status);
  NoteLostOutput();
  rt::SetBackend(nullptr);
  return checked;
}

}  // namespace app
