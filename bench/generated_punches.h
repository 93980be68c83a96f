// What the purge benchmarks share: their settings from the environment, the
// generated punch file they all walk, the program's objects as the main
// routine has them, and the process's processor time, peak memory and the
// turns of its event loop.
#pragma once

#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "access/file_registry.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"

namespace bench {

// A whole-number setting from the environment, or `fallback`.
inline long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atol(text) : fallback;
}

// data/Timecard.DAT of `punches` punches made by veltrane-data generate (seed
// 1), made on first use and kept for later runs.
inline std::filesystem::path GeneratedPunches(long punches) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("veltrane-driver-purge-" + std::to_string(punches));
  fs::path file = dir / "data" / "Timecard.DAT";
  if (fs::exists(file)) return file;
  fs::path tool =
      fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / "veltrane-data";
  fs::remove_all(dir);
  std::string command = tool.string() + " generate " + dir.string() + " --punches " +
                        std::to_string(punches) + " --seed 1 >/dev/null";
  if (std::system(command.c_str()) != 0 || !fs::exists(file)) {
    std::cerr << "cannot generate the punches with " << tool << "\n";
    std::exit(1);
  }
  return file;
}

// The duty date half of the punches in `file` are on or before.
inline std::int32_t MedianDutyDate(const std::filesystem::path& file, long punches) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  const std::string sql = "SELECT DUTYDATE FROM Timecard ORDER BY DUTYDATE LIMIT 1 OFFSET " +
                          std::to_string(punches / 2);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  const std::int32_t date = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return date;
}

// Processor time this process has used, in seconds.
inline double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall-clock and processor seconds of a piece of work.
struct Timing {
  double Wall = 0;
  double Cpu = 0;
};

template <class Work>
Timing Timed(Work work) {
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = CpuSeconds();
  work();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          CpuSeconds() - cpuStart};
}

// Starts this process's peak resident memory again from what it holds now, so
// that PeakMiB tells what the work after it took, not the setting up before
// (finding the median of 10^7 punches sorts them). Where the system does not
// allow it, PeakMiB stays the peak since the process began.
inline void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// This process's peak resident memory since it began or since the last
// ResetPeakMemory, in MiB.
inline double PeakMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// How long a program goes between two requests for input (each turn of an
// event loop asks): a backend calls Asking when a request comes and Answered
// when it returns one.
class TurnClock {
 public:
  void Asking() {
    const auto now = std::chrono::steady_clock::now();
    if (asked_) {
      const double turn = std::chrono::duration<double>(now - last_).count();
      longest_ = std::max(longest_, turn);
      if (turn > kSlowTurn) slow_.push_back(turn);
    }
    asked_ = true;
  }
  void Answered() { last_ = std::chrono::steady_clock::now(); }
  double Longest() const { return longest_; }
  // Turns longer than kSlowTurn seconds, in the order they came.
  const std::vector<double>& SlowTurns() const { return slow_; }

  static constexpr double kSlowTurn = 0.3;

 private:
  bool asked_ = false;
  std::chrono::steady_clock::time_point last_;
  double longest_ = 0;
  std::vector<double> slow_;
};

// The process-wide objects and the thread's files and registry, with the
// headless backend active, for the life of the object.
class ProgramObjects {
 public:
  ProgramObjects() {
    backend.SetIdleLimit(1 << 30);
    rt::SetBackend(&backend);
    app::BuildGlobals();
    app::MainRegisterFiles();
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    dataaccess::ThreadRegistry().Init();
  }
  ~ProgramObjects() {
    app::MainThreadEnd();
    dataaccess::ThreadRegistry().Kill();
    app::ReleaseGlobals();
    rt::SetBackend(nullptr);
  }
  ProgramObjects(const ProgramObjects&) = delete;
  ProgramObjects& operator=(const ProgramObjects&) = delete;

  rt::HeadlessBackend backend;
};

}  // namespace bench
