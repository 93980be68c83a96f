// The whole program's purge on a PostgreSQL server against the server's own
// statement and against the same program on SQLite, in one run:
//   program    veltrane as a user runs it with --database, in this process:
//              the main routine on the headless backend, the cut-off dialog
//              answered with the median duty date and OK, the progress
//              window's timer driving the walk, every trace line sent to a
//              debug-output name nobody listens on; the data in schema
//              veltrane_bench_program of the server;
//   statement  DELETE FROM "Timecard" WHERE "DUTYDATE" <= cut-off, one
//              statement (its own transaction) on a fresh copy of the same
//              table, indexes and all, in schema veltrane_bench_statement;
//   sqlite     the same program on a copy of the SQLite files.
// The data: the generated punch folder the other purge benchmarks use
// (VELTRANE_BENCH_PUNCHES punches, default 1,000,000), every file copied to
// the server in the documented form (the tables made by the runtime, the
// rows sent with COPY), then vacuumed and analysed, and a checkpoint taken.
//
// The server: VELTRANE_BENCH_DATABASE, a libpq connection string, e.g.
//   c=$(scripts/pg-test-server start)
//   VELTRANE_BENCH_DATABASE="$c" build/release/bench/server_purge_bench
//   scripts/pg-test-server stop "$c"
// Counters: program_s, statement_s, sqlite_s (wall clock: the server's work
// is in its own processes), program/statement, program/sqlite,
// program_cpu_s (this process: the client's own work), peak_MiB (the
// client's peak resident memory during the program's run on the server),
// removed.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/headless_run.h"
#include "app/main_routine.h"
#include "app/purge_process.h"
#include "app/schema.h"
#include "bench/generated_punches.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/postgres/server_connection.h"
#include "runtime/trace/debug_output.h"
#include "runtime/windows/backend.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kProgramSchema[] = "veltrane_bench_program";
constexpr char kStatementSchema[] = "veltrane_bench_statement";

void Fail(const std::string& what) {
  std::cerr << "server purge: " << what << "\n";
  std::exit(1);
}

PGconn* Connect(const std::string& connection) {
  PGconn* conn = PQconnectdb(connection.c_str());
  if (PQstatus(conn) != CONNECTION_OK) Fail(PQerrorMessage(conn));
  return conn;
}

void Exec(PGconn* conn, const std::string& sql) {
  PGresult* result = PQexec(conn, sql.c_str());
  auto status = PQresultStatus(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
    Fail(sql.substr(0, 80) + ": " + PQresultErrorMessage(result));
  PQclear(result);
}

std::string InSchema(const std::string& connection, const std::string& schema) {
  return connection + " options='-c search_path=" + schema + "'";
}

// One COPY text-format field: backslash escapes for the bytes COPY reads specially.
void AppendCopyField(std::string& line, const unsigned char* text, int length, bool blob) {
  static const char kHex[] = "0123456789abcdef";
  if (blob) {
    line += "\\\\x";
    for (int i = 0; i < length; ++i) {
      line += kHex[text[i] >> 4];
      line += kHex[text[i] & 15];
    }
    return;
  }
  for (int i = 0; i < length; ++i) {
    char c = static_cast<char>(text[i]);
    if (c == '\\') line += "\\\\";
    else if (c == '\t') line += "\\t";
    else if (c == '\n') line += "\\n";
    else if (c == '\r') line += "\\r";
    else line += c;
  }
}

// Every file of the generated folder as a table on the server, in `schema`.
void LoadSchema(const std::string& connection, const fs::path& folder) {
  PGconn* conn = Connect(connection);
  Exec(conn, std::string("DROP SCHEMA IF EXISTS ") + kProgramSchema + " CASCADE; CREATE SCHEMA " +
                 kProgramSchema);
  rt::postgres::SetServer(InSchema(connection, kProgramSchema));
  for (const rt::FileDeclaration* decl : app::AllFiles()) {
    if (decl == &app::AliasTimeCardFile()) continue;
    {
      rt::File file(*decl);
      rt::FileCreate(file);
      if (rt::ErrorCode() != 0) Fail(decl->Label() + ": " + rt::FileErrorText());
    }
    const std::string path = decl->Path();
    const std::string stem = fs::path(path).stem().string();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((folder / fs::path(path).filename()).c_str(), &db, SQLITE_OPEN_READONLY,
                        nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      continue;  // a file the generator does not make stays empty
    }
    std::string columns;
    for (int f = 1; f <= decl->FieldCount(); ++f)
      columns += (f > 1 ? ",\"" : "\"") + std::string(decl->Field(f).Label()) + "\"";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT " + columns + " FROM \"" + stem + "\"").c_str(), -1, &stmt,
                           nullptr) != SQLITE_OK)
      Fail(stem + ": " + sqlite3_errmsg(db));
    Exec(conn, "SET search_path = " + std::string(kProgramSchema));
    PGresult* copy = PQexec(conn, ("COPY \"" + stem + "\" (" + columns + ") FROM STDIN").c_str());
    if (PQresultStatus(copy) != PGRES_COPY_IN) Fail(stem + ": " + PQresultErrorMessage(copy));
    PQclear(copy);
    std::string chunk;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      for (int c = 0; c < decl->FieldCount(); ++c) {
        if (c) chunk += '\t';
        const bool blob = sqlite3_column_type(stmt, c) == SQLITE_BLOB;
        const auto* text = static_cast<const unsigned char*>(
            blob ? sqlite3_column_blob(stmt, c) : sqlite3_column_text(stmt, c));
        AppendCopyField(chunk, text, sqlite3_column_bytes(stmt, c), blob);
      }
      chunk += '\n';
      if (chunk.size() > (1 << 20)) {
        PQputCopyData(conn, chunk.data(), static_cast<int>(chunk.size()));
        chunk.clear();
      }
    }
    PQputCopyData(conn, chunk.data(), static_cast<int>(chunk.size()));
    PQputCopyEnd(conn, nullptr);
    PGresult* done = PQgetResult(conn);
    if (PQresultStatus(done) != PGRES_COMMAND_OK) Fail(stem + ": " + PQresultErrorMessage(done));
    PQclear(done);
    while (PGresult* rest = PQgetResult(conn)) PQclear(rest);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }
  rt::postgres::SetServer("");
  // The statement's fresh copy of the punches: the same table, indexes and rows.
  Exec(conn, std::string("DROP SCHEMA IF EXISTS ") + kStatementSchema + " CASCADE; CREATE SCHEMA " +
                 kStatementSchema + "; CREATE TABLE " + kStatementSchema +
                 ".\"Timecard\" (LIKE " + kProgramSchema + ".\"Timecard\" INCLUDING ALL); INSERT INTO " +
                 kStatementSchema + ".\"Timecard\" SELECT * FROM " + kProgramSchema + ".\"Timecard\"");
  Exec(conn, "VACUUM ANALYZE");
  Exec(conn, "CHECKPOINT");
  PQfinish(conn);
}

using bench::Timed;
using bench::Timing;

// What a run of the program in a child process reports to the benchmark.
struct ProgramRun {
  int Status = -1;
  std::int32_t Removed = 0;
  double Cpu = 0;
  double PeakMiB = 0;
};

// The unattended purge in `folder` (its own data/, or the server `server`
// when given), in a child process of its own so that each run starts the
// program afresh and its peak memory is its own.
ProgramRun RunProgram(const fs::path& folder, const std::string& through, const std::string& server) {
  int fds[2];
  if (::pipe(fds) != 0) Fail("no pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    rt::postgres::SetServer(server);
    app::HeadlessRun backend;
    backend.AnswerCutoff(through);
    rt::SetBackend(&backend);
    fs::current_path(folder);
    bench::ResetPeakMemory();
    const double cpu = bench::CpuSeconds();
    ProgramRun run;
    run.Status = app::ProgramEntry();
    run.Cpu = bench::CpuSeconds() - cpu;
    run.PeakMiB = bench::PeakMiB();
    run.Removed = app::LastPurgeOutcome().Removed;
    backend.EndProgressLine();
    rt::SetBackend(nullptr);
    if (::write(fds[1], &run, sizeof run) != sizeof run) ::_exit(2);
    ::_exit(0);
  }
  ::close(fds[1]);
  ProgramRun run;
  if (::read(fds[0], &run, sizeof run) != sizeof run) Fail("the program's run reported nothing");
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (run.Status != 0) Fail("the program ended with " + std::to_string(run.Status));
  return run;
}

void PurgeOnServerAgainstStatementAndSqlite(benchmark::State& state) {
  const char* server = std::getenv("VELTRANE_BENCH_DATABASE");
  if (!server || !*server) {
    state.SkipWithError("set VELTRANE_BENCH_DATABASE to a server's connection (scripts/pg-test-server start)");
    return;
  }
  const std::string connection = server;
  const long punches = bench::EnvNumber("VELTRANE_BENCH_PUNCHES", 1000000);
  const fs::path master = bench::GeneratedPunches(punches);
  const std::int32_t cutOff = bench::MedianDutyDate(master, punches);
  const std::string through = rt::Format(cutOff, "D02");
  const fs::path work = master.parent_path().parent_path() / "server-purge-run";
  rt::SetDebugChannelName("veltrane-bench-nobody-" + std::to_string(::getpid()));

  for (auto _ : state) {
    fs::remove_all(work);
    fs::create_directories(work / "server" / "data");
    fs::create_directories(work / "sqlite");
    fs::copy(master.parent_path(), work / "sqlite" / "data", fs::copy_options::recursive);
    LoadSchema(connection, master.parent_path());
    ::sync();

    ProgramRun onServer;
    const Timing program = Timed(
        [&] { onServer = RunProgram(work / "server", through, InSchema(connection, kProgramSchema)); });

    PGconn* conn = Connect(InSchema(connection, kStatementSchema));
    long statementRemoved = 0;
    const Timing statement = Timed([&] {
      PGresult* result = PQexec(conn, ("DELETE FROM \"Timecard\" WHERE \"DUTYDATE\" <= " +
                                       std::to_string(cutOff)).c_str());
      if (PQresultStatus(result) != PGRES_COMMAND_OK) Fail(PQresultErrorMessage(result));
      statementRemoved = std::atol(PQcmdTuples(result));
      PQclear(result);
    });
    PQfinish(conn);

    ProgramRun onSqlite;
    const Timing sqlite = Timed([&] { onSqlite = RunProgram(work / "sqlite", through, ""); });
    if (onServer.Removed != statementRemoved || onSqlite.Removed != statementRemoved)
      Fail("removed: program " + std::to_string(onServer.Removed) + ", statement " +
           std::to_string(statementRemoved) + ", on SQLite " + std::to_string(onSqlite.Removed));

    std::cerr << "program on the server " << program.Wall << " s (client processor "
              << onServer.Cpu << " s), peak " << onServer.PeakMiB << " MiB\n"
              << "statement             " << statement.Wall << " s\n"
              << "program on SQLite     " << sqlite.Wall << " s\n";
    state.SetIterationTime(program.Wall);
    state.counters["program_s"] = program.Wall;
    state.counters["statement_s"] = statement.Wall;
    state.counters["sqlite_s"] = sqlite.Wall;
    state.counters["program/statement"] = program.Wall / statement.Wall;
    state.counters["program/sqlite"] = program.Wall / sqlite.Wall;
    state.counters["program_cpu_s"] = onServer.Cpu;
    state.counters["peak_MiB"] = onServer.PeakMiB;
    state.counters["removed"] = static_cast<double>(onServer.Removed);
    state.counters["punches"] = static_cast<double>(punches);
  }
  fs::remove_all(work);
  PGconn* conn = Connect(connection);
  Exec(conn, std::string("DROP SCHEMA IF EXISTS ") + kProgramSchema + " CASCADE; DROP SCHEMA IF EXISTS " +
                 kStatementSchema + " CASCADE");
  PQfinish(conn);
}

BENCHMARK(PurgeOnServerAgainstStatementAndSqlite)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
