// The purge's data work through the KEYED driver against one SQL statement.
//
// A Timecard file of VELTRANE_BENCH_PUNCHES punches (default 1,000,000) is
// made by veltrane-data generate (seed 1) and copied twice. On one copy the
// walk: a view over Timecard in TIM:KEYCOMPDATECARDPTIME order, and for each
// punch on or before the cut-off (the median duty date, so about half go)
// the four key fields copied to AliasTimeCard, rt::FileGetByKey and
// rt::FileDelete there, committing every 150000 removals and at the end. On
// the other copy, in the same process, the statement
//     DELETE FROM Timecard WHERE DUTYDATE <= cut-off
// on an SQLite connection with the driver's settings (rollback journal,
// synchronous=FULL, the same page cache).
//
// Counters: walk_s, statement_s, ratio (walk / statement), walk_cpu_s (the
// walk's user and system time: steadier than walk_s on a busy machine),
// peak_MiB (maxrss of the process after both), walk_peak_MiB (after the walk
// alone), removed.
// The prepared statements' query plans go to standard error.
// Settings by environment: VELTRANE_BENCH_READAHEAD (view batch, default
// 100), VELTRANE_BENCH_CACHE_KIB (page cache, default the driver's own).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/schema.h"
#include "bench/generated_punches.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "runtime/sqlite/keyed_driver.h"
#include "runtime/sqlite/sqlite_connection.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::int64_t QueryNumber(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  std::int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  return value;
}

void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::cerr << "driver_purge: " << what << ": " << rt::ErrorCode() << " " << rt::FileErrorText()
            << "\n";
  std::exit(1);
}

// The walk, in `folder` (holding data/Timecard.DAT). Returns punches removed.
long Walk(const fs::path& folder, std::int32_t cutOff, long readAhead, long cacheKiB) {
  fs::path home = fs::current_path();
  fs::current_path(folder);
  using namespace app::tim;
  rt::File timecard(app::TimecardFile()), alias(app::AliasTimeCardFile());
  for (rt::File* file : {&timecard, &alias}) {
    if (cacheKiB > 0) rt::FileSend(*file, "CACHE=" + std::to_string(cacheKiB));
    rt::FileOpen(*file);
    Check(rt::ErrorCode() == 0, "open");
  }
  rt::View view(timecard);
  rt::ViewSetProperty(view, rt::kPropOrder, "TIM:COMPANY,TIM:DUTYDATE,TIM:EMP_CARD,TIM:PUNCH_TIME");
  rt::FileOpen(view);
  rt::FileBuffer(view, static_cast<int>(readAhead), 2, 0, 60);
  rt::ViewSetStart(view, 0);
  Check(rt::ErrorCode() == 0, "view");
  auto begin = [&] {
    rt::TxBegin(2, timecard);
    rt::TxBegin(2, alias);
    Check(rt::ErrorCode() == 0, "begin");
  };
  begin();
  long removed = 0;
  const int keyFields[] = {kCompany, kDutyDate, kEmpCard, kPunchTime};
  for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view)) {
    if (timecard.Field(kDutyDate).GetInt() > cutOff) continue;
    for (int f : keyFields) alias.Field(f).SetFrom(timecard.Field(f));
    rt::FileGetByKey(alias, kKeyCompDateCardPtime);
    Check(rt::ErrorCode() == 0, "fetch");
    rt::FileDelete(alias);
    Check(rt::ErrorCode() == 0, "delete");
    if (++removed % 150000 == 0) {
      rt::TxCommit();
      Check(rt::ErrorCode() == 0, "commit");
      begin();
    }
  }
  Check(rt::ErrorCode() == rt::kRecordNotAvailable, "walk");
  rt::TxCommit();
  Check(rt::ErrorCode() == 0, "commit");
  static bool shown = false;
  if (!shown) {
    shown = true;
    std::cerr << "Prepared statements of the walk and their query plans:\n";
    for (const auto& plan : rt::sqlite::Connection::ThreadQueryPlans()) std::cerr << plan << "\n";
  }
  rt::FileClose(view);
  rt::FileClose(alias);
  rt::FileClose(timecard);
  fs::current_path(home);
  return removed;
}

long Statement(const fs::path& file, std::int32_t cutOff, long cacheKiB) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  std::string pragmas = "PRAGMA synchronous=FULL; PRAGMA journal_mode=DELETE; PRAGMA cache_size=-" +
                        std::to_string(cacheKiB);
  sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "DELETE FROM Timecard WHERE DUTYDATE <= ?", -1, &stmt, nullptr);
  sqlite3_bind_int(stmt, 1, cutOff);
  int rc = sqlite3_step(stmt);
  long removed = sqlite3_changes(db);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (rc != SQLITE_DONE) {
    std::cerr << "driver_purge: the statement failed: " << rc << "\n";
    std::exit(1);
  }
  return removed;
}

void DriverPurgeVersusStatement(benchmark::State& state) {
  long punches = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  long readAhead = bench::EnvNumber("VELTRANE_BENCH_READAHEAD", 100);
  long cacheKiB = bench::EnvNumber("VELTRANE_BENCH_CACHE_KIB", rt::kKeyedCacheKiB);
  fs::path master = bench::GeneratedPunches(punches);
  std::int32_t cutOff = 0;
  {
    sqlite3* db = nullptr;
    sqlite3_open_v2(master.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    cutOff = static_cast<std::int32_t>(
        QueryNumber(db, "SELECT DUTYDATE FROM Timecard ORDER BY DUTYDATE LIMIT 1 OFFSET " +
                            std::to_string(punches / 2)));
    sqlite3_close(db);
  }
  fs::path work = master.parent_path().parent_path() / "run";
  for (auto _ : state) {
    fs::remove_all(work);
    fs::create_directories(work / "walk" / "data");
    fs::create_directories(work / "statement" / "data");
    fs::copy_file(master, work / "walk" / "data" / "Timecard.DAT");
    fs::copy_file(master, work / "statement" / "data" / "Timecard.DAT");
    ::sync();

    auto start = Clock::now();
    const std::clock_t cpu = std::clock();
    long walked = Walk(work / "walk", cutOff, readAhead, cacheKiB);
    double walkSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    double walkCpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    double walkPeak = bench::PeakMiB();

    start = Clock::now();
    long deleted = Statement(work / "statement" / "data" / "Timecard.DAT", cutOff, cacheKiB);
    double statementSeconds = std::chrono::duration<double>(Clock::now() - start).count();

    if (walked != deleted) {
      std::cerr << "driver_purge: the walk removed " << walked << ", the statement " << deleted
                << "\n";
      std::exit(1);
    }
    state.SetIterationTime(walkSeconds);
    state.counters["walk_s"] = walkSeconds;
    state.counters["walk_cpu_s"] = walkCpu;
    state.counters["statement_s"] = statementSeconds;
    state.counters["ratio"] = walkSeconds / statementSeconds;
    state.counters["walk_peak_MiB"] = walkPeak;
    state.counters["peak_MiB"] = bench::PeakMiB();
    state.counters["removed"] = static_cast<double>(walked);
    state.counters["punches"] = static_cast<double>(punches);
    state.counters["read_ahead"] = static_cast<double>(readAhead);
    state.counters["cache_KiB"] = static_cast<double>(cacheKiB);
  }
  fs::remove_all(work);
}

BENCHMARK(DriverPurgeVersusStatement)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
