// Stations while the program purges, at scale: the set-up of the stations
// test (tests/e2e/stations_test.cpp) with VELTRANE_BENCH_PUNCHES due punches
// (default 1,000,000) and one in 24 as many dated after the cut-off, time
// clocks adding punches dated today at VELTRANE_BENCH_RATE a second each
// (default 200), one at a time as a clock sends them, and one reader walking
// employees' punches in key order, each a process of the station program
// (tests/support/station.cpp), while `veltrane --through` removes the due
// punches; with 4 and with 16 clocks, on SQLite files and on a PostgreSQL
// server. Afterwards what was kept and lost is checked as the test checks
// it; a run that lost anything fails.
//
// The server: VELTRANE_BENCH_DATABASE, a libpq connection string, e.g.
//   c=$(scripts/pg-test-server start)
//   VELTRANE_BENCH_DATABASE="$c" build/release/bench/stations_bench
//   scripts/pg-test-server stop "$c"
// Without it the server's runs are skipped with a line saying so.
// Counters: purge_s (wall clock of the program's run), adds_per_s (punches
// the clocks added while it ran, a second), longest_wait_ms (the longest
// any clock waited for one punch to go in), refused (adds refused as busy
// and tried again), reader_passes, reader_wait_ms.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "bench/generated_punches.h"
#include "runtime/core/dates.h"
#include "runtime/core/pictures.h"
#include "tests/support/stations.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::int32_t kCutOff = rt::Date(12, 31, 2022);

fs::path BuiltProgram(const std::string& relative) {
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / relative;
}

std::int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

void StationsWhileAPurgeRuns(benchmark::State& state) {
  const bool onServer = state.range(0) == 1;
  const int clocks = static_cast<int>(state.range(1));
  const char* server = std::getenv("VELTRANE_BENCH_DATABASE");
  if (onServer && (!server || !*server)) {
    state.SkipWithError("set VELTRANE_BENCH_DATABASE to a server's connection (scripts/pg-test-server start)");
    return;
  }
  const long due = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  const int rate = static_cast<int>(bench::EnvNumber("VELTRANE_BENCH_RATE", 200));

  for (auto _ : state) {
    TempFolder folder("veltrane-stations-bench");
    std::unique_ptr<test_server::Schema> schema;
    if (onServer) schema = std::make_unique<test_server::Schema>(server);
    stations::Store store(folder.Path(), schema ? schema->Connection() : "");
    std::string error = store.Create(BuiltProgram("tools/veltrane-data"));
    if (error.empty()) error = store.Add(stations::DueAndLaterPunches(due, due / 24, kCutOff));
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
    const std::vector<stations::Punch> before = store.Punches();
    ::sync();

    stations::Stations others(folder.Path(), VELTRANE_STATION, store, clocks, rate);
    if (!others.Started()) {
      state.SkipWithError(("the stations did not start: " + others.Stop()).c_str());
      return;
    }
    const auto start = Clock::now();
    const e2e::RunResult purge = e2e::Run(folder.Path(), BuiltProgram("app/veltrane"),
                                          {"--through", rt::Format(kCutOff, "D02")},
                                          store.Environment());
    const auto end = Clock::now();
    const std::string stopped = others.Stop();
    const std::string problems =
        stopped + stations::CheckKeptAndLost(before, store.Punches(), kCutOff, others);
    if (purge.Status != 0 || !problems.empty()) {
      std::cerr << "purge ended with " << purge.Status << ":\n" << purge.Err << problems;
      state.SkipWithError("the purge failed or lost punches (see above)");
      return;
    }

    const double seconds = std::chrono::duration<double>(end - start).count();
    long addedDuring = 0, refused = 0;
    double longest = 0;
    for (const stations::ClockReport& clock : others.Clocks) {
      for (const auto& [punch, at] : clock.Log)
        if (at >= Nanoseconds(start) && at <= Nanoseconds(end)) ++addedDuring;
      longest = std::max(longest, clock.LongestWaitMs);
      refused += clock.Refused;
    }
    std::cerr << (onServer ? "server" : "SQLite") << ", " << clocks << " clocks: purge of " << due
              << " punches " << seconds << " s, " << addedDuring / seconds
              << " punches added a second meanwhile, longest wait " << longest << " ms\n";
    state.SetIterationTime(seconds);
    state.counters["purge_s"] = seconds;
    state.counters["adds_per_s"] = addedDuring / seconds;
    state.counters["longest_wait_ms"] = longest;
    state.counters["refused"] = static_cast<double>(refused);
    state.counters["reader_passes"] = static_cast<double>(others.Reader.Passes);
    state.counters["reader_wait_ms"] = others.Reader.LongestWaitMs;
  }
}

// {0 SQLite | 1 server, clocks}
BENCHMARK(StationsWhileAPurgeRuns)
    ->ArgNames({"server", "clocks"})
    ->Args({0, 4})
    ->Args({0, 16})
    ->Args({1, 4})
    ->Args({1, 16})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
