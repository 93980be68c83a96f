// Stations on the punch data while a purge runs, for the end-to-end test
// (tests/e2e/stations_test.cpp) and the benchmark (bench/stations_bench.cpp):
// the punch data of a working folder on either store, seen with plain SQL as
// any other tool would see it; time clocks and a reader, each a process of
// the station program (tests/support/station.cpp); and what must hold of the
// punches afterwards.
//
// What "kept and lost" means here, with B the punches before the clocks and
// the purge began and A those after everything ended, both read with SQL:
//   - every punch a clock added (its log) is in A;
//   - every punch of B dated after the cut-off is in A, and no punch of A is
//     dated on or before it;
//   - A holds nothing but punches of B and punches the clocks added.
// The reader walks by key while deletes commit and clocks add, so which of
// the removed and the added punches a pass meets depends on timing. What it
// must meet is every punch that stayed through the pass: one of A that was
// in B or whose add had returned before the pass began (nothing puts a
// removed punch back, so such a punch was there from the pass's first read
// to its last). Every pass reads in strictly rising key order (no punch
// twice), reads only punches of B or added ones, and reads every punch that
// stayed through it; a pass stopped part way, every one up to its last read.
#pragma once

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/schema.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/postgres/server_connection.h"
#include "tests/e2e/program_run.h"
#include "tests/support/test_server.h"

namespace stations {

namespace fs = std::filesystem;

// A punch as the station program writes it: one number that sorts as the
// key by company, card, duty date and punch time does.
using Punch = std::uint64_t;
inline std::int32_t DutyDateOf(Punch punch) { return static_cast<std::int32_t>(punch >> 24 & 0xFFFFF); }
// The same number in SQL, for both stores.
inline constexpr char kPunchSql[] =
    "((CAST(\"COMPANY\" AS BIGINT) * 65536 + \"EMP_CARD\") * 1048576 + \"DUTYDATE\") * 16777216 + "
    "\"PUNCH_TIME\"";

// Rows for e2e::AddPunchesSql: `due` punches dated on the 150 days through
// `cutOff`, then `later` dated on the 30 days after it, of three companies
// and 97 cards, at distinct punch times (so no two share a key): by the
// reader's key the due and the later punches interleave, so the purge
// removes punches all along the reader's way.
inline std::string DueAndLaterPunches(long due, long later, std::int32_t cutOff) {
  return "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(due + later - 1) + ") SELECT 1 + i % 3, CASE WHEN i < " +
         std::to_string(due) + " THEN " + std::to_string(cutOff) + " - i % 150 ELSE " +
         std::to_string(cutOff + 1) + " + i % 30 END, i % 97, i * 37 % 8640000 FROM n";
}

// The punch data of a working folder: the SQLite files in its data/, or the
// tables of a schema on a server.
class Store {
 public:
  // `connection` empty: the folder's own files; else the server (its search
  // path naming the schema the tables go to).
  Store(fs::path folder, std::string connection)
      : folder_(std::move(folder)), connection_(std::move(connection)) {}

  bool OnServer() const { return !connection_.empty(); }
  // What the programs need in their environment to find the data.
  std::vector<std::string> Environment() const {
    if (!OnServer()) return {};
    return {"VELTRANE_DATABASE=" + connection_};
  }

  // Makes the eleven files, empty, as the data tool would: on SQLite by
  // running it, on the server through the runtime in this process. The
  // error, empty on success.
  std::string Create(const fs::path& dataTool) {
    if (!OnServer()) {
      const e2e::RunResult init = e2e::Run(folder_, dataTool, {"init", "."});
      return init.Status == 0 ? "" : "veltrane-data init: " + init.Err;
    }
    fs::create_directories(folder_ / "data");
    rt::postgres::SetServer(connection_);
    std::string error;
    for (const rt::FileDeclaration* decl : app::AllFiles()) {
      if (decl == &app::AliasTimeCardFile()) continue;
      rt::File file(*decl);
      rt::FileCreate(file);
      if (rt::ErrorCode() != 0) error = decl->Label() + ": " + rt::FileErrorText();
      if (!error.empty()) break;
    }
    rt::postgres::SetServer("");
    return error;
  }

  // Adds the rows of a SELECT of (company, duty date, card, punch time), and
  // lets the store's planner know the table. The error, empty on success.
  std::string Add(const std::string& rows) {
    if (!OnServer()) {
      e2e::SqlFile timecard(folder_ / "data" / "Timecard.DAT");
      std::string error = e2e::AddPunches(timecard, rows);
      return error.empty() ? timecard.Exec("ANALYZE") : error;
    }
    test_server::Sql server(connection_);
    std::string error = server.Exec(e2e::AddPunchesSql(rows));
    return error.empty() ? server.Exec("ANALYZE \"Timecard\"") : error;
  }

  // Every punch, in key order.
  std::vector<Punch> Punches() {
    const std::string sql = std::string("SELECT ") + kPunchSql + " FROM \"Timecard\"";
    std::vector<std::string> rows;
    if (OnServer()) {
      rows = test_server::Sql(connection_).Column(sql);
    } else {
      rows = e2e::SqlFile(folder_ / "data" / "Timecard.DAT").Column(sql);
    }
    std::vector<Punch> punches;
    punches.reserve(rows.size());
    for (const std::string& row : rows) punches.push_back(std::stoull(row));
    std::sort(punches.begin(), punches.end());
    return punches;
  }

 private:
  fs::path folder_;
  std::string connection_;
};

// What a clock reported: its punches with the moment each add returned
// (steady clock, ns), and its waits.
struct ClockReport {
  long Added = 0;
  double LongestWaitMs = 0;
  long Refused = 0;
  std::vector<std::pair<Punch, std::int64_t>> Log;
};

struct ReaderPass {
  std::int64_t Start = 0;  // steady clock, ns, before its first read
  bool ReadToTheEnd = false;
  std::vector<Punch> Read;
};

struct ReaderReport {
  long Passes = 0;
  double LongestWaitMs = 0;
  long Refused = 0;
  std::vector<ReaderPass> Log;
};

// The station processes: `clocks` time clocks at `rate` punches a second
// each, and one reader, started in `folder` (the data of `store`).
class Stations {
 public:
  Stations(const fs::path& folder, const fs::path& program, const Store& store, int clocks, int rate)
      : folder_(folder) {
    for (int i = 0; i < clocks; ++i)
      pids_.push_back(e2e::Spawn(folder_, program,
                                 {"clock", std::to_string(i), std::to_string(rate), File(i, ".log")},
                                 File(i, ".out"), File(i, ".err"), store.Environment()));
    pids_.push_back(e2e::Spawn(folder_, program, {"reader", File(clocks, ".log")},
                               File(clocks, ".out"), File(clocks, ".err"), store.Environment()));
  }
  Stations(const Stations&) = delete;
  Stations& operator=(const Stations&) = delete;
  ~Stations() {
    Stop();
    for (std::size_t i = 0; i < pids_.size(); ++i)
      for (const char* suffix : {".log", ".out", ".err"}) fs::remove(File(static_cast<int>(i), suffix));
  }

  // Waits (a minute at most) until every clock has added a punch and the
  // reader has read one; false when one never did.
  bool Started() const {
    for (int tries = 0; tries < 6000; ++tries) {
      bool all = true;
      for (std::size_t i = 0; i + 1 < pids_.size() && all; ++i)
        all = e2e::ReadFile(File(static_cast<int>(i), ".log")).find('\n') != std::string::npos;
      const std::string reader = e2e::ReadFile(File(static_cast<int>(pids_.size()) - 1, ".log"));
      if (all && std::count(reader.begin(), reader.end(), '\n') >= 2) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Stops every station and reads what each reported. The problems (a
  // station that failed or reported nothing), one a line; empty when none.
  std::string Stop() {
    if (stopped_) return problems_;
    stopped_ = true;
    for (pid_t pid : pids_) ::kill(pid, SIGTERM);
    const int clocks = static_cast<int>(pids_.size()) - 1;
    for (int i = 0; i <= clocks; ++i) {
      const int status = e2e::WaitFor(pids_[static_cast<std::size_t>(i)]);
      const std::string name = i < clocks ? "clock " + std::to_string(i) : "reader";
      std::istringstream out(e2e::ReadFile(File(i, ".out")));
      std::string word;
      out >> word;
      bool read = false;
      if (i < clocks) {
        ClockReport clock;
        read = word == "clock:" && Expect(out, "added") >> clock.Added &&
               Expect(out, "longest_wait_ms") >> clock.LongestWaitMs &&
               Expect(out, "refused") >> clock.Refused;
        std::istringstream log(e2e::ReadFile(File(i, ".log")));
        Punch punch;
        std::int64_t at;
        while (log >> punch >> at) clock.Log.emplace_back(punch, at);
        Clocks.push_back(std::move(clock));
      } else {
        read = word == "reader:" && Expect(out, "passes") >> Reader.Passes &&
               Expect(out, "read") >> word && Expect(out, "longest_wait_ms") >> Reader.LongestWaitMs &&
               Expect(out, "refused") >> Reader.Refused;
        ReadPasses(File(i, ".log"));
      }
      if (status != 0 || !read)
        problems_ += name + " ended with " + std::to_string(status) + ": " +
                     e2e::ReadFile(File(i, ".err")) + "\n";
    }
    return problems_;
  }

  std::vector<ClockReport> Clocks;
  ReaderReport Reader;

 private:
  std::string File(int station, const char* suffix) const {
    return folder_.string() + ".station" + std::to_string(station) + suffix;
  }
  // Reads `word` from `in` (failing the stream when another word stands there).
  static std::istream& Expect(std::istream& in, const char* word) {
    std::string got;
    if (in >> got && got != word) in.setstate(std::ios::failbit);
    return in;
  }
  void ReadPasses(const std::string& path) {
    std::ifstream log(path);
    for (std::string line; std::getline(log, line);) {
      if (line.rfind("pass ", 0) == 0) {
        Reader.Log.push_back({std::stoll(line.substr(5)), false, {}});
      } else if (line.rfind("end ", 0) == 0 && !Reader.Log.empty()) {
        Reader.Log.back().ReadToTheEnd = true;
      } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) &&
                 !Reader.Log.empty()) {
        Reader.Log.back().Read.push_back(std::stoull(line));
      }
    }
  }

  fs::path folder_;
  std::vector<pid_t> pids_;
  bool stopped_ = false;
  std::string problems_;
};

// What was kept and lost (see the top of this file), from the punches
// `before` and `after` (each in key order) and what the stations reported.
// The problems, one a line, with a few of the punches each concerns; empty
// when everything holds.
inline std::string CheckKeptAndLost(const std::vector<Punch>& before, const std::vector<Punch>& after,
                                    std::int32_t cutOff, const Stations& stations) {
  std::string problems;
  auto report = [&](const std::string& what, const std::vector<Punch>& punches) {
    if (punches.empty()) return;
    problems += std::to_string(punches.size()) + " " + what + ":";
    // Appended piece by piece: GCC 12 takes `" " + text` for an overlapping copy (-Wrestrict).
    for (std::size_t i = 0; i < punches.size() && i < 5; ++i) {
      problems += ' ';
      problems += std::to_string(punches[i]);
    }
    problems += "\n";
  };
  auto in = [](const std::vector<Punch>& sorted, Punch p) {
    return std::binary_search(sorted.begin(), sorted.end(), p);
  };
  // Every added punch with the moment its add returned, in key order.
  std::vector<std::pair<Punch, std::int64_t>> added;
  for (const ClockReport& clock : stations.Clocks) added.insert(added.end(), clock.Log.begin(), clock.Log.end());
  std::sort(added.begin(), added.end());
  std::vector<Punch> addedPunches;
  for (const auto& a : added) addedPunches.push_back(a.first);

  std::vector<Punch> lostAdds, lostLater, dueLeft, fromNowhere;
  for (Punch p : addedPunches)
    if (!in(after, p)) lostAdds.push_back(p);
  for (Punch p : before)
    if (DutyDateOf(p) > cutOff && !in(after, p)) lostLater.push_back(p);
  for (Punch p : after) {
    if (DutyDateOf(p) <= cutOff) dueLeft.push_back(p);
    if (!in(before, p) && !in(addedPunches, p)) fromNowhere.push_back(p);
  }
  report("punches the clocks added are missing", lostAdds);
  report("punches dated after the cut-off were removed", lostLater);
  report("punches due for removal are still there", dueLeft);
  report("punches are there that nobody added", fromNowhere);

  for (std::size_t n = 0; n < stations.Reader.Log.size(); ++n) {
    const ReaderPass& pass = stations.Reader.Log[n];
    const std::string name = "in the reader's pass " + std::to_string(n + 1);
    std::vector<Punch> outOfOrder, unknown, skipped;
    for (std::size_t i = 0; i < pass.Read.size(); ++i) {
      if (i > 0 && pass.Read[i] <= pass.Read[i - 1]) outOfOrder.push_back(pass.Read[i]);
      if (!in(before, pass.Read[i]) && !in(addedPunches, pass.Read[i])) unknown.push_back(pass.Read[i]);
    }
    // Those that stayed through the pass: the punches of B and those added
    // before it began that are still there, up to its last read when it
    // stopped part way.
    std::vector<Punch> readSorted = pass.Read;
    std::sort(readSorted.begin(), readSorted.end());
    for (Punch p : after) {
      if (!pass.ReadToTheEnd && (pass.Read.empty() || p > pass.Read.back())) break;
      const auto a = std::lower_bound(added.begin(), added.end(), std::make_pair(p, std::int64_t{0}));
      const bool addedDuring = a != added.end() && a->first == p && a->second >= pass.Start;
      if (!addedDuring && !in(readSorted, p)) skipped.push_back(p);
    }
    report("punches read twice or out of key order " + name, outOfOrder);
    report("punches read that were never there " + name, unknown);
    report("punches that stayed were skipped " + name, skipped);
  }
  return problems;
}

}  // namespace stations
