// The programs run as a user runs them, beside what tests/e2e/program_run.h
// offers: a shell command line with its streams captured, and a program on a
// pseudo-terminal.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/program_run.h"

// Runs `command`, a shell command line, with no input, capturing standard
// output and standard error through files named after `scratch`.
inline e2e::RunResult RunCommand(const std::string& command, const std::string& scratch) {
  std::string out = scratch + ".out", err = scratch + ".err";
  int status = std::system((command + " </dev/null >" + out + " 2>" + err).c_str());
  e2e::RunResult run;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out = e2e::ReadFile(out);
  run.Err = e2e::ReadFile(err);
  return run;
}

// Runs `argv` with its three standard streams on a new pseudo-terminal and
// returns everything it wrote there, in `Out`. Gives up after 120 s (status -1).
inline e2e::RunResult RunInTerminal(const std::vector<std::string>& argv) {
  e2e::RunResult run;
  winsize size{};
  size.ws_row = 30;
  size.ws_col = 100;
  int terminal = -1;
  pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
  if (pid < 0) return run;
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  for (int waited = 0; waited < 120000;) {
    pollfd ready{terminal, POLLIN, 0};
    if (::poll(&ready, 1, 100) == 0) {
      waited += 100;
      continue;
    }
    char chunk[4096];
    ssize_t n = ::read(terminal, chunk, sizeof chunk);
    if (n <= 0) break;  // the program has gone and closed its side
    run.Out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(terminal);
  int status = 0;
  for (int i = 0; i < 500; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return run;
    }
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return run;
}
