// The whole program purging real punch files in a child process: unattended
// (--through) or with an operator script (--script) on the headless backend,
// the trace captured through VELTRANE_TRACE_FILE, the file inspected with
// plain SQL afterwards.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/schema.h"
#include "runtime/core/dates.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/postgres/server_connection.h"
#include "tests/e2e/program_run.h"
#include "tests/e2e/server_tables.h"
#include "tests/support/test_server.h"
#include "tests/support/sqlite_lock_holder.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const std::int32_t kCutOff = rt::Date(12, 31, 2022);
const std::string kThrough = "12/31/2022";

std::string Line(const std::string& message) { return "[qv][1] " + message; }
std::string DateLine(std::int32_t day) { return Line("TIM:DutyDate:" + rt::Format(day, "D02")); }
std::string RemovedLine(long count) { return Line("Removed:" + std::to_string(count)); }

// `count` punches of company 1 on or before the cut-off (one card, one a
// second from the first day on), then `later` punches after it.
std::string Numbered(long count, long later) {
  const std::string first = std::to_string(kCutOff - 3000);
  return "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(count + later - 1) + ") SELECT 1, CASE WHEN i < " + std::to_string(count) +
         " THEN " + first + " + i / 1000 ELSE " + std::to_string(kCutOff + 1) +
         " END, 7, i % 1000 FROM n";
}

// The purges about data run on both stores (PurgeData: .../Sqlite and
// .../Postgres, the program given the test server's schema through
// VELTRANE_DATABASE); the rest on SQLite files.
class Purge : public ::testing::Test {
 protected:
  virtual bool OnServer() const { return false; }
  // The server the tables go to: the test server unless a fixture has its own.
  virtual std::string Server() { return test_server::Connection(); }
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    if (OnServer()) {
      std::string why;
      if (Server().empty())
        why = test_server::Missing().empty() ? "no PostgreSQL server could be started for this test"
                                             : test_server::Missing();
      if (!why.empty()) {
        if (test_server::Required()) FAIL() << why << " (required under CI)";
        GTEST_SKIP() << why;
      }
      // The tables in the documented form, made by the runtime as the data
      // tool makes its files.
      schema_ = std::make_unique<test_server::Schema>(Server());
      fs::create_directory(Dir() / "data");
      ASSERT_EQ(e2e::MakeServerTables(schema_->Connection()), "");
      return;
    }
    const e2e::RunResult init = e2e::Run(Dir(), e2e::BuiltProgram("tools/veltrane-data"), {"init", "."});
    ASSERT_EQ(init.Status, 0) << init.Err;
  }
  // The trace, script and lock files live beside the folder (so the program
  // never sees them in its own) and go with it.
  void TearDown() override {
    for (const char* suffix : {".trace", ".script", ".lock", ".out", ".err", ".fifo"})
      fs::remove(Dir().string() + suffix);
  }

  const fs::path& Dir() const { return folder.Path(); }
  fs::path PunchFile() const { return Dir() / "data" / "Timecard.DAT"; }
  fs::path TraceFile() const { return Dir().string() + ".trace"; }
  std::vector<std::string> TraceEnv() const {
    std::vector<std::string> env = {"VELTRANE_TRACE_FILE=" + TraceFile().string()};
    if (schema_) env.push_back("VELTRANE_DATABASE=" + schema_->Connection());
    return env;
  }

  // Plain SQL on the punches, wherever they are.
  std::string Exec(const std::string& sql) {
    if (schema_) return test_server::Sql(schema_->Connection()).Exec(sql);
    return e2e::SqlFile(PunchFile()).Exec(sql);
  }
  std::vector<std::string> Column(const std::string& sql) {
    if (schema_) return test_server::Sql(schema_->Connection()).Column(sql);
    return e2e::SqlFile(PunchFile()).Column(sql);
  }
  void Add(const std::string& rows) {
    if (schema_) {
      ASSERT_EQ(Exec(e2e::AddPunchesSql(rows)), "");
      return;
    }
    e2e::SqlFile timecard(PunchFile());
    ASSERT_EQ(e2e::AddPunches(timecard, rows), "");
  }
  e2e::RunResult Veltrane(const std::vector<std::string>& args) {
    return e2e::Run(Dir(), e2e::BuiltProgram("app/veltrane"), args, TraceEnv());
  }
  e2e::RunResult WithScript(const std::string& script) {
    const fs::path file = Dir().string() + ".script";
    std::ofstream(file) << script;
    return Veltrane({"--script", file.string()});
  }
  std::vector<std::string> Trace() const { return e2e::ReadLines(TraceFile()); }
  // Waits (ten minutes at most) until the trace of a running program has the
  // line `line`; false when it never came.
  bool WaitForTrace(const std::string& line) const {
    const std::string mark = line + "\n";
    std::string window;
    std::ifstream trace;
    for (int i = 0; i < 60000; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!trace.is_open()) trace.open(TraceFile(), std::ios::binary);
      char chunk[65536];
      trace.clear();
      while (trace.read(chunk, sizeof chunk), trace.gcount() > 0) {
        window.append(chunk, static_cast<std::size_t>(trace.gcount()));
        if (window.find(mark) != std::string::npos) return true;
        window.erase(0, window.size() > mark.size() ? window.size() - mark.size() : 0);
      }
    }
    return false;
  }
  // Every punch left, as "company date card time", in key order.
  std::vector<std::string> Punches() {
    return Column(
        "SELECT \"COMPANY\" || ' ' || \"DUTYDATE\" || ' ' || \"EMP_CARD\" || ' ' || "
        "\"PUNCH_TIME\" FROM \"Timecard\" ORDER BY \"COMPANY\", \"DUTYDATE\", \"EMP_CARD\", "
        "\"PUNCH_TIME\"");
  }
  long long Count(const std::string& where = "1 = 1") {
    auto values = Column("SELECT count(*) FROM \"Timecard\" WHERE " + where);
    return values.empty() ? -1 : std::atoll(values[0].c_str());
  }

  std::unique_ptr<test_server::Schema> schema_;
  TempFolder folder{"veltrane-e2e"};
};

std::string Punch(int company, std::int32_t date, int card, int time) {
  return std::to_string(company) + " " + std::to_string(date) + " " + std::to_string(card) + " " +
         std::to_string(time);
}
std::string Values(const std::vector<std::string>& punches) {
  std::string sql;
  for (const auto& p : punches) {
    std::string row = p;
    for (char& c : row)
      if (c == ' ') c = ',';
    sql += (sql.empty() ? "VALUES (" : ", (") + row + ")";
  }
  return sql.empty() ? "SELECT 0, 0, 0, 0 WHERE 1 = 0" : sql;
}

struct SmallCase {
  const char* Name;
  std::vector<std::string> Before;
  std::vector<std::string> After;
  std::vector<std::string> TraceLines;
  std::string Says = "";  // on standard error besides the summary
};

class PurgeData : public Purge, public ::testing::WithParamInterface<bool> {
 protected:
  bool OnServer() const override { return GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(, PurgeData, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

TEST_P(PurgeData, RemovesEveryPunchOnOrBeforeTheCutOffInKeyOrderAndKeepsTheRest) {
  const std::int32_t d = kCutOff;
  const SmallCase cases[] = {
      {"empty file", {}, {}, {}, "No Records: There are no records available to process. -> Ok"},
      {"every punch later", {Punch(1, d + 1, 5, 100), Punch(2, d + 9, 1, 1)},
       {Punch(1, d + 1, 5, 100), Punch(2, d + 9, 1, 1)}, {}},
      // On the cut-off goes, a day later stays; duplicate keys both go; a
      // punch without a duty date counts as on or before.
      {"boundaries",
       {Punch(1, d + 1, 5, 100), Punch(1, d, 6, 50), Punch(2, 0, 1, 1), Punch(1, d, 5, 100),
        Punch(1, d, 6, 50), Punch(1, d - 400, 7, 200)},
       {Punch(1, d + 1, 5, 100)},
       {DateLine(d - 400), RemovedLine(1), DateLine(d), RemovedLine(2), DateLine(d), RemovedLine(3),
        DateLine(d), RemovedLine(4), Line("TIM:DutyDate:00/00/0000"), RemovedLine(5),
        Line("Committing 5")}},
  };
  for (const SmallCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(Exec("DELETE FROM \"Timecard\""), "");
    fs::remove(TraceFile());
    fs::remove(Dir() / "Veltrane.INI");
    Add(Values(c.Before));
    const e2e::RunResult run = Veltrane({"--through", kThrough});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Punches(), c.After);
    EXPECT_EQ(Trace(), c.TraceLines);
    EXPECT_NE(run.Err.find("veltrane: removed " + std::to_string(c.Before.size() - c.After.size()) +
                           " punches through " + kThrough),
              std::string::npos)
        << run.Err;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    const std::string ini = e2e::ReadFile(Dir() / "Veltrane.INI");
    for (const char* section : {"[Main]", "[SelectLastDate]", "[__Dont_Touch_Me__]"})
      EXPECT_NE(ini.find(section), std::string::npos) << section << " in\n" << ini;
  }
}

TEST_F(Purge, AFailedDeleteIsTracedAndTheRunGoesOn) {
  const std::int32_t d = kCutOff;
  Add(Values({Punch(1, d, 5, 100), Punch(1, d, 6, 50), Punch(1, d, 7, 10)}));
  {
    // The file refuses to give up one punch, as a damaged or guarded file would.
    e2e::SqlFile timecard(PunchFile());
    ASSERT_EQ(timecard.Exec("CREATE TRIGGER keep BEFORE DELETE ON Timecard WHEN old.EMP_CARD = 6 "
                            "BEGIN SELECT RAISE(ABORT, 'kept'); END"),
              "");
  }
  const e2e::RunResult run = Veltrane({"--through", kThrough});
  EXPECT_EQ(run.Status, 3) << "a punch due for removal stayed";
  EXPECT_EQ(Punches(), std::vector<std::string>{Punch(1, d, 6, 50)});
  const std::vector<std::string> trace = Trace();
  ASSERT_EQ(trace.size(), 7u);
  EXPECT_EQ(trace[3].rfind(Line("ErrorCode:"), 0), 0u) << trace[3];
  EXPECT_NE(trace[3], Line("ErrorCode:0"));
  EXPECT_EQ(trace[5], RemovedLine(2));
  EXPECT_EQ(trace[6], Line("Committing 2"));
  EXPECT_NE(run.Err.find("removed 2 punches through " + kThrough), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("1 due for removal could not be removed"), std::string::npos) << run.Err;
}

// 300000 removals: the second batch commit takes the last punch removed, and
// the final commit then has nothing left to write. (A final commit with
// removals pending after a batch commit is the second run of the kill test.)
TEST_P(PurgeData, CommitsEvery150000RemovalsAndOnceMoreAtTheEnd) {
  Add(Numbered(300000, 2));
  const e2e::RunResult run = Veltrane({"--through", kThrough});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Count("\"DUTYDATE\" <= " + std::to_string(kCutOff)), 0);
  EXPECT_NE(run.Err.find("veltrane: removed 300000 punches through " + kThrough), std::string::npos)
      << run.Err;
  const std::vector<std::string> trace = Trace();
  std::vector<std::size_t> commits;
  for (std::size_t i = 0; i < trace.size(); ++i)
    if (trace[i] == Line("Committing 150000")) commits.push_back(i);
  ASSERT_EQ(commits.size(), 2u);
  EXPECT_EQ(trace[commits[0] - 1], RemovedLine(150000));
  EXPECT_EQ(trace[commits[0] + 1].rfind(Line("TIM:DutyDate:"), 0), 0u)
      << "the walk goes on after the commit";
  // The punches after the cut-off are walked without a line of their own.
  EXPECT_EQ(commits[1], trace.size() - 1);
  EXPECT_EQ(trace[commits[1] - 1], RemovedLine(300000));
}

// The number of the last "Removed:" line, which the final commit's line
// must follow.
long RemovedBeforeFinalCommit(const std::vector<std::string>& trace) {
  if (trace.size() < 2 || trace[trace.size() - 2].rfind(Line("Removed:"), 0) != 0) return -1;
  const long removed = std::stol(trace[trace.size() - 2].substr(Line("Removed:").size()));
  return trace.back() == Line("Committing " + std::to_string(removed)) ? removed : -1;
}

TEST_P(PurgeData, CancelInTheMiddleKeepsWhatWasRemovedAndSaysSo) {
  Add(Numbered(200000, 0));
  const e2e::RunResult run = WithScript(
      "type ?LASTDATE " + kThrough + "\naccept ?OK\nexpect PROGRESSWINDOW\nwait 100\n"
      "accept ?PROGRESS:CANCEL\n");
  EXPECT_EQ(run.Status, 2) << run.Err;
  const long removed = RemovedBeforeFinalCommit(Trace());
  EXPECT_GT(removed, 0);
  EXPECT_LT(removed, 200000) << "cancelled before the end";
  EXPECT_EQ(Count(), 200000 - removed);
  EXPECT_NE(run.Out.find("messagebox \"Veltrane\" \"Cancelled after removing " +
                         std::to_string(removed) + " punches through " + kThrough + ".\""),
            std::string::npos)
      << run.Out;
}

// A stop signal is Cancel (what was removed is committed, and the summary
// names the signal), also one that comes while the last batch commits;
// another stop signal during that ends the process at once, the open batch
// rolled back.
TEST_F(Purge, AStopSignalCancelsAndASecondEndsAtOnce) {
  struct SignalCase {
    const char* Name;
    std::vector<int> Signals;
    int Status;  // 0: ended by the second signal, whichever came second
    bool AtTheLastCommit = false;  // sent once the trace says the last batch commits
  };
  const SignalCase cases[] = {{"SIGTERM", {SIGTERM}, 2},
                              {"SIGINT", {SIGINT}, 2},
                              {"SIGHUP", {SIGHUP}, 2},
                              {"SIGTERM and SIGINT", {SIGTERM, SIGINT}, 0},
                              {"SIGTERM", {SIGTERM}, 2, true}};
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + (c.AtTheLastCommit ? " at the last commit" : ""));
    {
      e2e::SqlFile timecard(PunchFile());
      ASSERT_EQ(timecard.Exec("DELETE FROM Timecard"), "");
    }
    fs::remove(TraceFile());
    Add(Numbered(100000, 0));
    const fs::path err = Dir().string() + ".err";
    const pid_t pid = e2e::Spawn(Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough},
                                 Dir().string() + ".out", err, TraceEnv());
    const std::string sendAt =
        c.AtTheLastCommit ? Line("Committing 100000") : RemovedLine(1000);
    for (int i = 0; i < 6000 && e2e::ReadFile(TraceFile()).find(sendAt + "\n") == std::string::npos;
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int signal : c.Signals) ::kill(pid, signal);
    const int status = e2e::WaitFor(pid);
    if (c.Status != 0)
      EXPECT_EQ(status, c.Status);
    else
      EXPECT_TRUE(status == 128 + SIGTERM || status == 128 + SIGINT) << status;
    e2e::SqlFile timecard(PunchFile());
    EXPECT_EQ(timecard.Column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    if (c.Signals.size() > 1) {
      EXPECT_EQ(Count(), 100000) << "the open batch was rolled back";
      continue;
    }
    const long removed = RemovedBeforeFinalCommit(Trace());
    EXPECT_GT(removed, 0);
    if (c.AtTheLastCommit)
      EXPECT_EQ(removed, 100000);
    else
      EXPECT_LT(removed, 100000) << "cancelled before the end";
    EXPECT_EQ(Count(), 100000 - removed);
    const std::string said = e2e::ReadFile(err);
    EXPECT_NE(said.find("veltrane: cancelled by " + std::string(c.Name) + " after removing " +
                        std::to_string(removed) + " punches through " + kThrough),
              std::string::npos)
        << said;
  }
}

// Another process reads the file and keeps its read lock, so the final
// commit cannot get the file to itself: the run says it is held up, and
// either finishes once the reader lets go, or is cancelled at once by a stop
// signal, or gives up after its 30 s with the busy-file message; the last
// two leave every punch of the batch there, and the summary counts none.
TEST_F(Purge, ACommitHeldUpByAReaderSaysSoAndGivesUpInTime) {
  const std::string heldUp = "veltrane: Waiting for another program";
  enum class Then { ReaderLetsGo, StopSignal, ReaderStays };
  struct HeldUpCase {
    const char* Name;
    Then What;
    int Status;
    std::string Says;  // also in standard error
  };
  const HeldUpCase cases[] = {
      {"the reader lets go", Then::ReaderLetsGo, 0, "veltrane: removed 20 punches"},
      {"a stop signal comes", Then::StopSignal, 2,
       "veltrane: cancelled by SIGTERM after removing 0 punches through " + kThrough},
      {"the reader stays", Then::ReaderStays, 3,
       "veltrane: stopped by an error after removing 0 punches through " + kThrough},
  };
  for (const HeldUpCase& c : cases) {
    SCOPED_TRACE(c.Name);
    {
      e2e::SqlFile timecard(PunchFile());
      ASSERT_EQ(timecard.Exec("DELETE FROM Timecard"), "");
    }
    fs::remove(TraceFile());
    Add(Numbered(20, 1));
    SqliteLockHolder reader(PunchFile().string(), "BEGIN; SELECT count(*) FROM Timecard;",
                            Dir().string() + ".lock");
    ASSERT_TRUE(reader.Ready());
    const fs::path err = Dir().string() + ".err";
    fs::remove(err);  // the wait below must not find what the case before said
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = e2e::Spawn(Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough},
                                 Dir().string() + ".out", err, TraceEnv());
    if (c.What != Then::ReaderStays) {
      for (int i = 0; i < 3000 && e2e::ReadFile(err).find(heldUp) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (c.What == Then::ReaderLetsGo) reader.Release();
      if (c.What == Then::StopSignal) ::kill(pid, SIGTERM);
    }
    const int status = e2e::WaitFor(pid);
    reader.Release();
    const std::string said = e2e::ReadFile(err);
    EXPECT_EQ(status, c.Status) << said;
    EXPECT_NE(said.find(heldUp + "\n"), std::string::npos) << said;
    EXPECT_NE(said.find(c.Says), std::string::npos) << said;
    if (c.What == Then::ReaderLetsGo) {
      EXPECT_EQ(Count(), 1);
      continue;
    }
    EXPECT_EQ(Count(), 21) << "every punch of the batch not committed is still there";
    EXPECT_EQ(said.find("Record was not updated") != std::string::npos,
              c.What == Then::ReaderStays)
        << said;
    if (c.What == Then::StopSignal)
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    else
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(45));
    const std::vector<std::string> trace = Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().rfind(Line("TxCommit failed ErrorCode:"), 0), 0u) << trace.back();
  }
}

// A punch the declarations cannot hold stops the walk; the batch removed
// before it is committed, and the summary counts it.
TEST_F(Purge, AReadErrorStopsTheWalkAndTheSummaryCountsWhatWasCommitted) {
  Add(Numbered(1500, 10));
  Add(Values({Punch(1, kCutOff, 7, 5), Punch(2, kCutOff, 7, 5)}));
  {
    e2e::SqlFile timecard(PunchFile());
    ASSERT_EQ(timecard.Exec("UPDATE Timecard SET DEPT = hex(zeroblob(50)) WHERE COMPANY = 1 AND "
                            "DUTYDATE = " + std::to_string(kCutOff)),
              "");
  }
  const e2e::RunResult run = Veltrane({"--through", kThrough});
  EXPECT_EQ(run.Status, 3) << run.Err;
  EXPECT_EQ(Count(), 12) << "the bad punch, the one behind it and the ten later ones";
  EXPECT_NE(run.Err.find("veltrane: stopped by an error after removing 1500 punches through " +
                         kThrough),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(RemovedBeforeFinalCommit(Trace()), 1500);
}

// Standard error that nobody reads any more (veltrane --through D 2>&1 |
// head -1): the purge finishes, and the trace says what was lost.
TEST_F(Purge, AClosedStandardErrorNeitherStopsNorSpoilsThePurge) {
  Add(Numbered(100000, 10));
  const fs::path fifo = Dir().string() + ".fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const pid_t pid = e2e::Spawn(Dir(), e2e::BuiltProgram("app/veltrane"), {"--through", kThrough},
                               Dir().string() + ".out", fifo, TraceEnv());
  // Like head -1: the first line is read, then the reader goes.
  char first[64];
  pollfd wait = {reader, POLLIN, 0};
  ASSERT_EQ(::poll(&wait, 1, 30000), 1);
  ASSERT_GT(::read(reader, first, sizeof first), 0);
  ::close(reader);
  EXPECT_EQ(e2e::WaitFor(pid), 0);
  EXPECT_EQ(Count(), 10);
  const std::vector<std::string> trace = Trace();
  ASSERT_FALSE(trace.empty());
  // Written after the program's thread ended, so without its thread number.
  EXPECT_TRUE(trace.back().ends_with("] Output lost: standard error could not be written"))
      << trace.back();
  for (const auto& entry : fs::directory_iterator(Dir() / "data"))
    EXPECT_NE(entry.path().extension(), ".tx") << "a scratch file stayed: " << entry.path();
}

// The thermometer follows the share of the file walked: on three companies
// it climbs a point or two at a time (by company number it went 1, 50, 100).
TEST_F(Purge, ProgressFollowsTheRecordsWalkedOnManyCompanies) {
  Add(e2e::SpreadPunches(30000, kCutOff, 40));
  const e2e::RunResult run = Veltrane({"--through", kThrough});
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::vector<int> shown;
  std::istringstream lines(run.Err);
  for (std::string line; std::getline(lines, line);)
    if (line.ends_with("% Complete")) shown.push_back(std::stoi(line));
  ASSERT_FALSE(shown.empty());
  EXPECT_LE(shown.front(), 2);
  EXPECT_EQ(shown.back(), 100);
  for (std::size_t i = 1; i < shown.size(); ++i)
    EXPECT_LE(shown[i] - shown[i - 1], 2) << "from " << shown[i - 1] << "% to " << shown[i] << "%";
}

TEST_F(Purge, TheDialogRefuses2024AndCancelNeverPurges) {
  Add(Values({Punch(1, rt::Date(12, 31, 2023), 5, 1), Punch(1, rt::Date(1, 1, 2024), 5, 1)}));
  const auto before = fs::last_write_time(PunchFile());
  // A date accepted in the entry (Tab), then Cancel.
  e2e::RunResult run = WithScript("type ?LASTDATE 12/31/2023\nkey Tab\naccept ?CANCEL\n");
  EXPECT_EQ(run.Status, 2);
  EXPECT_NE(run.Err.find("veltrane: Exiting Application"), std::string::npos) << run.Err;
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(fs::last_write_time(PunchFile()), before);
  EXPECT_TRUE(Trace().empty());

  run = WithScript(
      "type ?LASTDATE 1/1/2024\naccept ?OK\n"
      "expect QUICKWINDOW\ntype ?LASTDATE 12/31/2023\naccept ?OK\n");
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("messagebox \"\" \"Date Not acceptable. Pick a date prior 01/2024.\""),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(Punches(), std::vector<std::string>{Punch(1, rt::Date(1, 1, 2024), 5, 1)});
}

TEST_F(Purge, TheCalendarsChoiceShowsInTheEntryAtOnce) {
  Add(Values({Punch(1, rt::Date(6, 15, 2023), 5, 1), Punch(1, rt::Date(6, 16, 2023), 5, 1)}));
  // The calendar opens on the entry's date, June 2023; 1 June is a Thursday,
  // so with Sunday first the 15th is the 19th day button.
  const e2e::RunResult run = WithScript(
      "type ?LASTDATE 6/1/2023\nkey Tab\naccept ?CALENDAR\nexpect CALENDARSCREEN\n"
      "accept ?DAY19\nexpect QUICKWINDOW\naccept ?OK\n");
  EXPECT_EQ(run.Status, 0) << run.Err << run.Out;
  const std::string closed = "close CALENDARSCREEN\ntext QUICKWINDOW:5 \"06/15/2023\"\ninput accept ?OK";
  EXPECT_NE(run.Out.find(closed), std::string::npos) << run.Out;
  EXPECT_EQ(Punches(), std::vector<std::string>{Punch(1, rt::Date(6, 16, 2023), 5, 1)});
}

}  // namespace
