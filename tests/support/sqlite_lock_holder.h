// Another process holding an SQLite lock on a data file: the sqlite3 shell
// runs the given statements (for example "BEGIN IMMEDIATE;" for a write lock,
// "BEGIN; SELECT count(*) FROM T;" for a read lock) and keeps the transaction
// open until Release or the end of the object.
#pragma once

#include <stdio.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

class SqliteLockHolder {
 public:
  // `scratch` is a file the shell's output goes to (it signals readiness there).
  SqliteLockHolder(const std::string& database, const std::string& statements,
                   const std::string& scratch)
      : scratch_(scratch) {
    const std::string command = "sqlite3 '" + database + "' > '" + scratch + "' 2>&1";
    pipe_ = ::popen(command.c_str(), "w");
    if (!pipe_) return;
    std::fprintf(pipe_, "%s\nSELECT 'lock-held';\n", statements.c_str());
    std::fflush(pipe_);
  }
  SqliteLockHolder(const SqliteLockHolder&) = delete;
  SqliteLockHolder& operator=(const SqliteLockHolder&) = delete;
  ~SqliteLockHolder() { Release(); }

  // Waits (up to ten seconds) until the other process holds its lock.
  bool Ready() const {
    if (!pipe_) return false;
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(scratch_);
      std::stringstream text;
      text << in.rdbuf();
      if (text.str().find("lock-held") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Ends the other process's transaction and waits for the process to exit.
  void Release() {
    if (!pipe_) return;
    std::fprintf(pipe_, "ROLLBACK;\n.quit\n");
    ::pclose(pipe_);
    pipe_ = nullptr;
  }

 private:
  FILE* pipe_ = nullptr;
  std::string scratch_;
};
