// Runs the built programs as a user does: real processes, their output
// captured, either off a terminal (streams in files) or on a pseudo-terminal.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ProgramRun {
  int Exit = -1;  // -1 when it did not end by itself
  std::string Out, Err;
  bool operator==(const ProgramRun&) const = default;
};

// The build folder the tests run from (tests/CMakeLists.txt sets it).
inline std::string BuildFolder() {
  const char* build = std::getenv("VELTRANE_TEST_BINARY_DIR");
  return build ? build : "";
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `command`, a shell command line, with no input, capturing standard
// output and standard error through files named after `scratch`.
inline ProgramRun RunCommand(const std::string& command, const std::string& scratch) {
  std::string out = scratch + ".out", err = scratch + ".err";
  int status = std::system((command + " </dev/null >" + out + " 2>" + err).c_str());
  ProgramRun run;
  run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out = ReadWholeFile(out);
  run.Err = ReadWholeFile(err);
  return run;
}

// Runs `argv` with its three standard streams on a new pseudo-terminal and
// returns everything it wrote there, in `Out`. Gives up after 120 s.
inline ProgramRun RunInTerminal(const std::vector<std::string>& argv) {
  ProgramRun run;
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
    int got = ::poll(&ready, 1, 100);
    if (got == 0) {
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
      run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return run;
    }
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return run;
}
