// The calling thread's connection to the PostgreSQL server that holds the
// KEYED files when a server is chosen (see keyed_driver.cpp for the model).
// Everything here but the process-wide choice belongs to one thread.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "runtime/files/pending_deletes.h"
#include "runtime/sqlite/sqlite_connection.h"

namespace rt::postgres {

// Seconds a connection attempt waits for each server address before it gives
// up (libpq's connect_timeout, unless the connection string sets its own; a
// connection listing two hosts may wait twice as long).
inline constexpr int kConnectTimeoutSeconds = 10;

// Seconds the driver waits for the server's answer to a request, on top of
// the row-lock wait the request may make (SetLockTimeout). A server that
// stays silent longer (a stalled backend, a network cut that TCP does not
// see) has the request cancelled; one that does not answer the cancel
// either loses the connection (see keyed_driver.cpp, CONNECTIONS AND
// TRANSACTIONS). Long maintenance work waits without a bound (Patient).
inline constexpr int kReplyWaitSeconds = 60;
// For tests: the wait above in milliseconds (0 restores it).
void SetReplyWaitForTests(int milliseconds);

// Keepalive settings a connection gets unless its text sets its own: a
// dead peer is seen after about a minute of silence, and data the server
// has not acknowledged for a minute ends the connection.
inline constexpr char kKeepalivesIdle[] = "30", kKeepalivesInterval[] = "10",
                      kKeepalivesCount[] = "3", kTcpUserTimeoutMs[] = "60000";

// The server the KEYED files live on, process-wide: a libpq connection string
// or URI; empty (the default) keeps them in SQLite files.
void SetServer(std::string connection);
std::string Server();

// The connection as a message may show it: every setting it gives except the
// password, as "host=... dbname=...". A text libpq cannot parse shows as
// "(a connection string that does not parse)".
std::string Shown(const std::string& connection);

// Tries the connection once: empty when it answers, otherwise one line with the
// server's (or libpq's) text, the host and the database, never the password.
std::string CheckServer(const std::string& connection);

// Owns one PGresult.
class Result {
 public:
  Result() = default;
  explicit Result(PGresult* result) : result_(result) {}
  Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
  Result& operator=(Result&& other) noexcept;
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() { PQclear(result_); }

  PGresult* get() const { return result_; }
  int Rows() const { return result_ ? PQntuples(result_) : 0; }
  const char* Value(int row, int column) const { return PQgetvalue(result_, row, column); }
  int Length(int row, int column) const { return PQgetlength(result_, row, column); }
  bool Null(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }
  std::int64_t Affected() const;

 private:
  PGresult* result_ = nullptr;
};

// Told about writes to a table made through any handle of this thread, so
// pages read ahead never return a stale or deleted record.
class TableListener {
 public:
  virtual ~TableListener() = default;
  virtual void RecordDeleted(std::int64_t number) = 0;
  // A record was added or rewritten (anything read ahead may be out of
  // order), or a transaction began or ended (rows read ahead were read
  // outside the one now current).
  virtual void RecordsChanged() = 0;
  // Answers a read by key from a page read ahead, when the page shows the
  // answer for certain (see PageCursor::FirstWithValues); false otherwise.
  virtual bool FirstWithValues(const std::vector<int>& fields, const std::vector<bool>& upper,
                               const std::vector<std::string>& values, std::uint8_t* record,
                               std::int64_t& number) {
    (void)fields, (void)upper, (void)values, (void)record, (void)number;
    return false;
  }
};

// Statement parameters, in the text form the server reads ($1, $2, ...).
using Params = std::vector<std::string>;

class Connection {
 public:
  // The calling thread's connection, opened on first use. Handles hold the
  // shared pointer while open; the connection closes with the last.
  static std::shared_ptr<Connection> ForThread(int& code, std::string& error);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs `sql` (prepared on the server the first time this connection sees
  // the text) with `params`. Deletes still pending are applied first, so the
  // statement sees exactly what the handles have done. Gives a runtime code;
  // on failure Error() says why.
  int Run(const std::string& sql, const Params& params, Result& result);
  // The same without applying pending deletes first: for reads that leave out
  // the pending records themselves (IsPending).
  int RunKeepingPending(const std::string& sql, const Params& params, Result& result);
  // A statement without parameters or result rows, not prepared.
  int Exec(const std::string& sql);
  // Runs a write inside a transaction so that its failure (a duplicate key)
  // undoes only itself, as a failed write does in SQLite: the server would
  // otherwise refuse everything until the transaction ends. One round trip.
  int RunGuarded(const std::string& sql, const Params& params, Result& result);

  // Deletes by record number kept pending inside a transaction and sent in
  // bulk, under the rules of pending_deletes.h (see keyed_driver.cpp,
  // PENDING DELETES). `table` is quoted.
  void QueueDelete(const std::string& table, std::int64_t number);
  bool IsPending(const std::string& table, std::int64_t number) const;
  // Past the memory bound: the caller applies them now.
  bool PendingFull() const;
  int ApplyPending();

  // Cursors on a table (quoted name) and what they are told.
  void Listen(const std::string& table, TableListener* listener);
  void Unlisten(const std::string& table, TableListener* listener);
  void NotifyDeleted(const std::string& table, std::int64_t number);
  void NotifyChanged(const std::string& table);
  const std::vector<TableListener*>& Listeners(const std::string& table) {
    return listeners_[table];
  }

  bool InTransaction() const { return began_; }
  // Inside a writing transaction, rows read through a handle open for writing
  // are locked FOR SHARE until it ends (see keyed_driver.cpp, LOCKS); never
  // in a snapshot, where the server refuses locking clauses.
  bool LocksReads() const { return began_ && !snapshot_ && !lost_; }
  // Begins the transaction (nothing when one is open). A snapshot one is
  // REPEATABLE READ, READ ONLY: every read in it sees one state of every table.
  // Beginning and ending a transaction drop every cursor's page read ahead,
  // so no row served inside a transaction was read outside it.
  int Begin(bool snapshot = false);
  int Commit();
  int Rollback();
  // The server ended the transaction under the caller (the connection was
  // lost, or the server rolled it back): nothing more can be committed in it.
  bool TransactionLost() const { return began_ && lost_; }
  // The connection to the server is gone (until a statement connects again).
  bool Broken() const { return !conn_ || PQstatus(conn_) != CONNECTION_OK; }
  // Changes whenever a transaction begins or ends; never the same in two
  // connections of the process.
  std::uint64_t Transaction() const { return transaction_; }

  // Milliseconds a statement waits for a row lock (SET lock_timeout), sent
  // only when it changes.
  int SetLockTimeout(int milliseconds);
  // While set, requests wait for their answer without a bound (building
  // indexes, checking pages: work that may take the server minutes).
  void Patient(bool on) { patient_ = on; }

  // The transaction lock of table `name` (schema.table; see keyed_driver.cpp,
  // LOCKS), tried once: `taken` says whether this transaction holds it now.
  // The connection holds it at session level too, from the first
  // transaction that takes it until a rollback, a statement other than BEGIN
  // outside a transaction, or the end of the connection: a commit leaves it
  // held, so a transaction of another connection never slips in between one
  // transaction of a run (a purge's batch) and the next.
  int TryTableLock(const std::string& name, bool& taken);

  // The last failure: the server's text, then the host and database.
  const std::string& Error() const { return error_; }
  // " (host ..., database ...)", as messages end.
  const std::string& Where() const { return where_; }
  // The server's SQLSTATE of the last failure ("" for none or a client error).
  const std::string& State() const { return state_; }

 private:
  Connection() = default;
  // The session settings the driver relies on, sent once a connection is made.
  void Settle();
  int Prepared(const std::string& sql, std::string& name);
  int Lost(const std::string& why);
  int Apply(const std::string& table, std::vector<std::int64_t>& numbers);
  void DropPagesReadAhead();
  // Waiting for the answer to the request in flight (see kReplyWaitSeconds).
  struct Wait {
    std::chrono::steady_clock::time_point Deadline;
    int Ms = 0;              // how long it waited before the cancel
    bool Cancelled = false;  // the cancel was sent
    bool Commit = false;     // the request is the COMMIT
  };
  Wait StartWait(bool commit = false) const;
  // The next result of the request in flight, as PQgetResult gives it. When
  // the deadline passes the request is cancelled; when the cancel brings no
  // answer either the connection is closed (Abandon): then false, and
  // error_ says what is known of the request.
  bool NextResult(Wait& wait, PGresult*& result);
  // Every result of the request in flight: the last in `result`.
  bool TakeResults(Wait& wait, Result& result);
  int Abandon(const Wait& wait);
  // The failure of a request, from its result; `wait` the request's wait,
  // when its answer came after a cancel.
  int Failed(PGresult* result, const Wait* wait = nullptr);
  int Reconnect();
  void ReleaseBridged();

  PGconn* conn_ = nullptr;
  std::string where_;  // " (host ..., database ...)" for messages
  std::map<std::string, std::string> prepared_;  // statement text -> server name
  bool began_ = false;
  bool snapshot_ = false;
  bool lost_ = false;
  bool unknownCommit_ = false;  // the last COMMIT got no answer (Abandon)
  std::uint64_t transaction_ = 0;
  int lockTimeoutMs_ = -1;
  bool patient_ = false;
  std::vector<std::string> bridged_;  // table locks held at session level (TryTableLock)
  std::map<std::string, PendingDeletes> pending_;  // by quoted table
  std::size_t pendingCount_ = 0;
  std::map<std::string, std::vector<TableListener*>> listeners_;  // by quoted table; not owned
  std::string error_, state_;
};

// Deletes sent in one statement at most (an array parameter of this many numbers).
inline constexpr std::size_t kDeleteChunk = 10000;

// A runtime error code for a server SQLSTATE.
int RuntimeCode(const std::string& sqlState);

// Identifiers are quoted as for SQLite ("a""b"): both follow standard SQL.
using sqlite::Quote;

// Why a write or commit fails once the transaction is lost.
inline constexpr char kLostTransaction[] =
    "the server rolled the transaction back (the connection was lost or a statement failed in "
    "it); roll it back before writing again";

}  // namespace rt::postgres
