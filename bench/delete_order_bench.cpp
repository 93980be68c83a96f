// How a batch of deletes by record number is best applied to Timecard: the
// choices a driver has for the deletes it keeps pending (pending_deletes.h).
//
// The punches on or before the median duty date of the generated file of
// VELTRANE_BENCH_PUNCHES punches (default 1,000,000) are deleted from a fresh
// copy in batches of 150000, each committed, with the driver's settings
// (rollback journal, synchronous=FULL, its page cache), one way per run:
//   walk        one DELETE ... WHERE rowid=? per punch in the walk's order
//               (COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME)
//   rowid       the same in record-number order (the statement's order)
//   key         the same in the order the driver applies in: the key that
//               leads most indexes (COMPANY, EMP_CARD, DUTYDATE, PUNCH_TIME)
//   key_in      in key order into a temporary table, then one
//               DELETE ... WHERE rowid IN (SELECT ...) per batch
//   key_mmap    key order with the file's pages read through a memory map
//   key_cache16 key order with half the page cache
//   key_chunks  key order, 64 punches to a DELETE ... WHERE rowid IN (?, ...)
// Counters: seconds, cpu_s (user and system time), peak_MiB, deleted.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include "bench/generated_punches.h"
#include "runtime/sqlite/keyed_driver.h"

namespace {

namespace fs = std::filesystem;

struct Punch {
  std::int64_t Rowid, Company, Card, Duty, Time;
};

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::cerr << "delete_order: " << sql << ": " << (error ? error : "") << "\n";
    std::exit(1);
  }
}

// The punches due, in the walk's order.
std::vector<Punch> DuePunches(const fs::path& file, std::int32_t cutOff) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT rowid, COMPANY, EMP_CARD, DUTYDATE, PUNCH_TIME FROM Timecard WHERE "
                     "DUTYDATE <= ? ORDER BY COMPANY, DUTYDATE, EMP_CARD, PUNCH_TIME, rowid",
                     -1, &stmt, nullptr);
  sqlite3_bind_int(stmt, 1, cutOff);
  std::vector<Punch> due;
  while (sqlite3_step(stmt) == SQLITE_ROW)
    due.push_back({sqlite3_column_int64(stmt, 0), sqlite3_column_int64(stmt, 1),
                   sqlite3_column_int64(stmt, 2), sqlite3_column_int64(stmt, 3),
                   sqlite3_column_int64(stmt, 4)});
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return due;
}

enum Way { kWalk, kRowid, kKey, kKeyIn, kKeyMmap, kKeyCache16, kKeyChunks };
constexpr int kChunk = 64;

void DeleteInBatches(sqlite3* db, std::vector<Punch> due, Way way) {
  constexpr std::size_t kBatch = 150000;
  for (std::size_t from = 0; from < due.size(); from += kBatch) {
    auto first = due.begin() + static_cast<std::ptrdiff_t>(from);
    auto last = due.begin() + static_cast<std::ptrdiff_t>(std::min(due.size(), from + kBatch));
    if (way == kRowid)
      std::sort(first, last, [](const Punch& a, const Punch& b) { return a.Rowid < b.Rowid; });
    else if (way != kWalk)
      std::sort(first, last, [](const Punch& a, const Punch& b) {
        return std::tie(a.Company, a.Card, a.Duty, a.Time, a.Rowid) <
               std::tie(b.Company, b.Card, b.Duty, b.Time, b.Rowid);
      });
    Exec(db, "BEGIN");
    sqlite3_stmt* stmt = nullptr;
    if (way == kKeyIn) {
      Exec(db, "CREATE TEMP TABLE IF NOT EXISTS gone(n INTEGER PRIMARY KEY, r INTEGER)");
      sqlite3_prepare_v2(db, "INSERT INTO gone(r) VALUES (?)", -1, &stmt, nullptr);
    } else if (way == kKeyChunks) {
      std::string marks = "?";
      for (int i = 1; i < kChunk; ++i) marks += ",?";
      sqlite3_prepare_v2(db, ("DELETE FROM Timecard WHERE rowid IN (" + marks + ")").c_str(), -1,
                         &stmt, nullptr);
    } else {
      sqlite3_prepare_v2(db, "DELETE FROM Timecard WHERE rowid=?", -1, &stmt, nullptr);
    }
    const int each = way == kKeyChunks ? kChunk : 1;
    for (auto p = first; p < last; p += std::min<std::ptrdiff_t>(each, last - p)) {
      for (int i = 0; i < each; ++i) sqlite3_bind_int64(stmt, i + 1, (p + (p + i < last ? i : 0))->Rowid);
      sqlite3_step(stmt);
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    if (way == kKeyIn) {
      Exec(db, "DELETE FROM Timecard WHERE rowid IN (SELECT r FROM gone ORDER BY n)");
      Exec(db, "DELETE FROM gone");
    }
    Exec(db, "COMMIT");
  }
}

void DeleteOrder(benchmark::State& state) {
  const long punches = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  const Way way = static_cast<Way>(state.range(0));
  const fs::path master = bench::GeneratedPunches(punches);
  const std::int32_t cutOff = bench::MedianDutyDate(master, punches);
  const std::vector<Punch> due = DuePunches(master, cutOff);
  const fs::path copy = master.parent_path().parent_path() / "delete-order.DAT";
  for (auto _ : state) {
    fs::remove(copy);
    fs::copy_file(master, copy);
    ::sync();
    sqlite3* db = nullptr;
    sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const int cacheKiB = way == kKeyCache16 ? rt::kKeyedCacheKiB / 2 : rt::kKeyedCacheKiB;
    Exec(db, "PRAGMA synchronous=FULL; PRAGMA journal_mode=DELETE; PRAGMA cache_size=-" +
                 std::to_string(cacheKiB));
    if (way == kKeyMmap) Exec(db, "PRAGMA mmap_size=" + std::to_string(1L << 34));
    bench::ResetPeakMemory();
    const auto start = std::chrono::steady_clock::now();
    const double cpu = bench::CpuSeconds();
    DeleteInBatches(db, due, way);
    state.counters["seconds"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["cpu_s"] = bench::CpuSeconds() - cpu;
    state.counters["peak_MiB"] = bench::PeakMiB();
    state.counters["deleted"] = static_cast<double>(due.size());
    sqlite3_close(db);
  }
  fs::remove(copy);
}

BENCHMARK(DeleteOrder)
    ->ArgName("way")
    ->DenseRange(kWalk, kKeyChunks)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
