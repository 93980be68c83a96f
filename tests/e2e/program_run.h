// Whole-program runs for the end-to-end tests: veltrane and veltrane-data
// started as child processes in a working folder, with their standard output
// and error captured, and the punch file read and written with plain SQL as
// any other tool would.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;

// A program of the build ("app/veltrane", "tools/veltrane-data").
inline fs::path BuiltProgram(const std::string& relative) {
  const char* dir = std::getenv("VELTRANE_TEST_BINARY_DIR");
  return fs::path(dir ? dir : ".") / relative;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Starts `program` with `args` in `folder`: standard input from /dev/null,
// output and error into `out` and `err`. The environment is this process's
// without a display (so no desktop is ever chosen) plus `extra` ("NAME=value").
inline pid_t Spawn(const fs::path& folder, const fs::path& program,
                   const std::vector<std::string>& args, const fs::path& out, const fs::path& err,
                   const std::vector<std::string>& extra = {}) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string_view entry(*e);
    if (entry.starts_with("DISPLAY=") || entry.starts_with("WAYLAND_DISPLAY=") ||
        entry.starts_with("VELTRANE_TRACE_FILE="))
      continue;
    env.emplace_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  std::vector<std::string> argv = {program.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // The child: nothing but system calls until exec.
  std::vector<char*> argp, envp;
  for (auto& a : argv) argp.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argp.push_back(nullptr);
  envp.push_back(nullptr);
  const int in = ::open("/dev/null", O_RDONLY);
  const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || o < 0 || e < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
  ::dup2(in, 0);
  ::dup2(o, 1);
  ::dup2(e, 2);
  ::execve(argp[0], argp.data(), envp.data());
  ::_exit(127);
}

// The exit status of a child, or 128 + the signal that ended it.
inline int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct RunResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs a program to its end. Output files go beside `folder`, not into it.
inline RunResult Run(const fs::path& folder, const fs::path& program,
                     const std::vector<std::string>& args,
                     const std::vector<std::string>& extra = {}) {
  const fs::path out = folder.string() + ".out", err = folder.string() + ".err";
  RunResult result;
  result.Status = WaitFor(Spawn(folder, program, args, out, err, extra));
  result.Out = ReadFile(out);
  result.Err = ReadFile(err);
  fs::remove(out);
  fs::remove(err);
  return result;
}

// A data file opened with plain SQLite, as another tool would.
class SqlFile {
 public:
  explicit SqlFile(const fs::path& path, bool create = false) {
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  }
  SqlFile(const SqlFile&) = delete;
  SqlFile& operator=(const SqlFile&) = delete;
  ~SqlFile() { sqlite3_close(db_); }

  // Runs statements; the error text, empty on success.
  std::string Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return {};
    std::string text = message ? message : "failed";
    sqlite3_free(message);
    return text;
  }
  // The first column of every row, as text.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> values;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return {"error: " + sql};
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    sqlite3_finalize(stmt);
    return values;
  }
  long long Number(const std::string& sql) {
    auto values = Column(sql);
    return values.empty() ? -1 : std::atoll(values[0].c_str());
  }

 private:
  sqlite3* db_ = nullptr;
};

// The statement that adds punches to Timecard: `rows` is a SELECT of
// (company, duty date, card, punch time); the other fields get plain values.
// Quoted names only, so that a SQLite file and a table on a PostgreSQL server
// both take it.
inline std::string AddPunchesSql(const std::string& rows) {
  return "WITH p(c, d, k, t) AS (" + rows +
         ") INSERT INTO \"Timecard\" (\"COMPANY\", \"DUTYDATE\", \"SHIFT\", \"PUNCH_TIME\", "
         "\"EMP_CARD\", \"PUNCHLOC\", \"PUNCHTYPE\", \"PUNCH_TIME_DEC\", \"ORIGIN\", \"EMPNO\", "
         "\"PUNCHDATE\", \"DEPT\", \"OTHERCODE\", \"JOBNO\", \"FUNCT\") "
         "SELECT c, d, 1, t, k, 1, 'I', 0.0, 'TEST', k, d, 'D1', '', 'J1', 0 FROM p";
}

inline std::string AddPunches(SqlFile& timecard, const std::string& rows) {
  // A cache that holds the indexes keeps a large insert from rereading them.
  return timecard.Exec("PRAGMA cache_size = -262144; " + AddPunchesSql(rows));
}

// Rows for AddPunches: `count` punches of three companies and 97 cards, on
// 150 duty dates seven days apart of which the last `later` fall after
// `cutOff`, at distinct punch times (so no two punches share a key).
inline std::string SpreadPunches(long count, std::int32_t cutOff, int later) {
  return "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(count - 1) + ") SELECT 1 + i % 3, " +
         std::to_string(cutOff - 7 * (149 - later)) +
         " + (i * 7) % 1050, i % 97, i * 37 % 8640000 FROM n";
}

}  // namespace e2e
