// The whole program's purge against SQL, in one run on three copies of one
// generated Timecard file:
//   program    veltrane as a user runs it, in this process: the main routine
//              on the headless backend, the cut-off dialog answered with the
//              median duty date (so half the punches go) and OK, the progress
//              window's timer driving the walk, every trace line sent to a
//              debug-output name nobody listens on;
//   statement  DELETE FROM Timecard WHERE DUTYDATE <= cut-off, one SQLite
//              connection with the driver's journal, sync and cache settings;
//   floor      the same statement in one transaction that first drops the six
//              indexes other than KEYCOMPDATECARDPTIME and builds them again
//              after it, the same settings.
//
// The file: VELTRANE_BENCH_PUNCHES punches (default 1,000,000) made by
// veltrane-data generate (seed 1), kept where the other purge benchmarks keep
// it; the program's copy is the whole data folder. Each run starts from fresh
// copies after a sync.
// Counters: program_s, statement_s, floor_s (wall clock) and their ratios
// program/statement and program/floor; the same in processor time
// (*_cpu_s, cpu_program/statement, cpu_program/floor), which other work on
// the machine disturbs less; peak_MiB (the process's peak resident memory
// during the program's run, the benchmark's own included), batch (the
// progress window's batch size at the end), max_turn_s (the longest time the
// program went without asking for input) and slow_turns (how many went over
// 0.3 s; each is printed), removed.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/headless_run.h"
#include "app/main_routine.h"
#include "app/purge_process.h"
#include "bench/generated_punches.h"
#include "runtime/core/pictures.h"
#include "runtime/sqlite/keyed_driver.h"
#include "runtime/trace/debug_output.h"
#include "runtime/windows/backend.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Fail(const std::string& what) {
  std::cerr << "purge: " << what << "\n";
  std::exit(1);
}

using bench::Timed;
using bench::Timing;

// The unattended run's backend, also timing how long the program goes
// between two requests for input.
class TimedRun : public app::HeadlessRun {
 public:
  std::optional<rt::Input> WaitForInput(int timeoutMs) override {
    turns.Asking();
    auto input = HeadlessRun::WaitForInput(timeoutMs);
    turns.Answered();
    return input;
  }
  bench::TurnClock turns;
};

sqlite3* OpenLikeTheDriver(const fs::path& file, long cacheKiB) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    Fail("cannot open " + file.string());
  const std::string pragmas = "PRAGMA synchronous=FULL; PRAGMA journal_mode=DELETE; PRAGMA cache_size=-" +
                              std::to_string(cacheKiB);
  sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
  return db;
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
    Fail(sql.substr(0, 60) + ": " + (error ? error : "failed"));
}

// DELETE ... WHERE DUTYDATE <= cutOff; with `rebuild`, inside one transaction
// that drops the other indexes first and builds them again after.
long Delete(const fs::path& file, std::int32_t cutOff, long cacheKiB, bool rebuild) {
  sqlite3* db = OpenLikeTheDriver(file, cacheKiB);
  std::vector<std::string> drop, create;
  if (rebuild) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT name, sql FROM sqlite_master WHERE type = 'index' AND tbl_name = "
                       "'Timecard' AND name <> 'KEYCOMPDATECARDPTIME' AND sql IS NOT NULL",
                       -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      drop.push_back("DROP INDEX \"" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) + "\"");
      create.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
    }
    sqlite3_finalize(stmt);
    if (drop.size() != 6) Fail("the floor expects six other indexes, found " + std::to_string(drop.size()));
    Exec(db, "BEGIN");
    for (const auto& sql : drop) Exec(db, sql);
  }
  Exec(db, "DELETE FROM Timecard WHERE DUTYDATE <= " + std::to_string(cutOff));
  const long removed = sqlite3_changes(db);
  if (rebuild) {
    for (const auto& sql : create) Exec(db, sql);
    Exec(db, "COMMIT");
  }
  sqlite3_close(db);
  return removed;
}

void PurgeAgainstStatementAndFloor(benchmark::State& state) {
  const long punches = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  const long cacheKiB = rt::kKeyedCacheKiB;
  const fs::path master = bench::GeneratedPunches(punches);
  const std::int32_t cutOff = bench::MedianDutyDate(master, punches);
  const std::string through = rt::Format(cutOff, "D02");
  const fs::path home = fs::current_path();
  const fs::path work = master.parent_path().parent_path() / "purge-run";
  // Trace on, with nobody listening.
  rt::SetDebugChannelName("veltrane-bench-nobody-" + std::to_string(::getpid()));

  for (auto _ : state) {
    fs::remove_all(work);
    for (const char* copy : {"statement", "floor"}) {
      fs::create_directories(work / copy / "data");
      fs::copy_file(master, work / copy / "data" / "Timecard.DAT");
    }
    fs::create_directories(work / "program");
    fs::copy(master.parent_path(), work / "program" / "data", fs::copy_options::recursive);
    ::sync();

    TimedRun backend;
    backend.AnswerCutoff(through);
    rt::SetBackend(&backend);
    fs::current_path(work / "program");
    bench::ResetPeakMemory();
    int status = -1;
    const Timing program = Timed([&] { status = app::ProgramEntry(); });
    fs::current_path(home);
    backend.EndProgressLine();
    rt::SetBackend(nullptr);
    const double peak = bench::PeakMiB();
    const app::PurgeOutcome outcome = app::LastPurgeOutcome();
    if (status != 0) Fail("the program ended with " + std::to_string(status));

    long statementRemoved = 0, floorRemoved = 0;
    const Timing statement = Timed([&] {
      statementRemoved = Delete(work / "statement" / "data" / "Timecard.DAT", cutOff, cacheKiB, false);
    });
    const Timing floor = Timed([&] {
      floorRemoved = Delete(work / "floor" / "data" / "Timecard.DAT", cutOff, cacheKiB, true);
    });
    if (outcome.Removed != statementRemoved || statementRemoved != floorRemoved)
      Fail("removed: program " + std::to_string(outcome.Removed) + ", statement " +
           std::to_string(statementRemoved) + ", floor " + std::to_string(floorRemoved));

    std::cerr << "program   " << program.Wall << " s, processor " << program.Cpu << " s, batch "
              << outcome.RecordsPerCycle << ", longest turn " << backend.turns.Longest()
              << " s, peak " << peak << " MiB\n"
              << "turns over " << bench::TurnClock::kSlowTurn << " s:";
    for (double turn : backend.turns.SlowTurns()) std::cerr << " " << turn;
    std::cerr << "\n";
    std::cerr << "statement " << statement.Wall << " s, processor " << statement.Cpu << " s\n"
              << "floor     " << floor.Wall << " s, processor " << floor.Cpu << " s\n";
    state.SetIterationTime(program.Wall);
    state.counters["program_s"] = program.Wall;
    state.counters["statement_s"] = statement.Wall;
    state.counters["floor_s"] = floor.Wall;
    state.counters["program/statement"] = program.Wall / statement.Wall;
    state.counters["program/floor"] = program.Wall / floor.Wall;
    state.counters["program_cpu_s"] = program.Cpu;
    state.counters["statement_cpu_s"] = statement.Cpu;
    state.counters["floor_cpu_s"] = floor.Cpu;
    state.counters["cpu_program/statement"] = program.Cpu / statement.Cpu;
    state.counters["cpu_program/floor"] = program.Cpu / floor.Cpu;
    state.counters["peak_MiB"] = peak;
    state.counters["batch"] = outcome.RecordsPerCycle;
    state.counters["max_turn_s"] = backend.turns.Longest();
    state.counters["slow_turns"] = static_cast<double>(backend.turns.SlowTurns().size());
    state.counters["removed"] = static_cast<double>(outcome.Removed);
    state.counters["punches"] = static_cast<double>(punches);
  }
  fs::remove_all(work);
}

BENCHMARK(PurgeAgainstStatementAndFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
