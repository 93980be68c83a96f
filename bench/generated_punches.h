// What the purge benchmarks share: their settings from the environment, the
// generated punch file they all walk, and the program's objects as the main
// routine has them.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

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
