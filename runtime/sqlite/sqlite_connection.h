// The calling thread's SQLite connection and the disk files attached to it
// (see keyed_driver.cpp for the model). Everything here belongs to one thread.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/files/pending_deletes.h"
#include "runtime/sqlite/scratch_files.h"
#include "runtime/sqlite/share_lock.h"

namespace rt::sqlite {

// Owns one prepared statement; finalized when destroyed.
class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Told about writes to an attached file made through any handle of this
// thread, so read-ahead never returns a stale or deleted record.
class ChangeListener {
 public:
  virtual ~ChangeListener() = default;
  virtual void RecordDeleted(std::int64_t rowid) = 0;
  // A record was added or rewritten: anything read ahead may be out of order.
  virtual void RecordsChanged() = 0;
};

// One disk file attached to the thread's connection, shared by every
// declaration of it that the thread has open.
struct AttachedFile {
  std::string Path;                        // as given to ATTACH
  std::string Schema;                      // "f1", "f2", ... (our own names, safe to quote)
  int Users = 0;                           // open handles using the attachment
  std::vector<ChangeListener*> Listeners;  // not owned; each removes itself
  SharePin Pin;                            // keeps the sharing descriptor open while attached
  Statement DataVersion;                   // PRAGMA data_version, prepared on first use
  std::uint64_t Adds = 0;                  // records added through this connection
  std::uint64_t HeldIn = 0;                // the last transaction seen holding the file
  // Deletes of the open transaction not yet applied (pending_deletes.h), the
  // statement that applies kApplyChunk of them (prepared by the first handle
  // that keeps one pending), and the deletes applied through this connection
  // so far.
  PendingDeletes Pending;
  Statement ApplyDelete;
  std::uint64_t Deletes = 0;
  // The last transaction a write to the file went through in; the last one
  // that looked at what pending deletes need, and what it found: whether a
  // trigger on the table may refuse a delete, and how many deletes the disk
  // has room to apply.
  std::uint64_t WrittenIn = 0;
  std::uint64_t CheckedIn = 0;
  bool Triggers = false;
  std::uint64_t PendRoom = 0;

  void NotifyDeleted(std::int64_t rowid) const {
    for (auto* l : Listeners) l->RecordDeleted(rowid);
  }
  void NotifyChanged() const {
    for (auto* l : Listeners) l->RecordsChanged();
  }
  void RemoveListener(ChangeListener* listener);
};

// What a batch read ahead from a file was read against (Connection::Version).
struct FileVersion {
  std::int64_t Others = -1;   // PRAGMA data_version: moves with other connections' commits
  std::uint32_t Pager = 0;    // the pager's count: moves with every change it learns of
  std::int64_t Counter = -1;  // the file's change counter: moves with every commit (-1 unread)
  std::uint64_t FreshIn = 0;  // a transaction holding the file that found it unchanged
};

class Connection {
 public:
  // The calling thread's connection, opened on first use with its main
  // database as a scratch file in `directory` (see keyed_driver.cpp). Handles
  // hold the shared pointer while open; the connection closes with the last.
  static std::shared_ptr<Connection> ForThread(const std::string& directory, int& code,
                                               std::string& error);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* Db() const { return db_; }

  // Attaches `path` (or finds it attached) and counts a user. Gives a runtime
  // error code; on failure `error` holds SQLite's message.
  // `held` is the opener's sharing lock on the file.
  int Attach(const std::string& path, const ShareLock& held, int cacheKiB, AttachedFile*& attached,
             std::string& error);
  // Counts a user off; the last one detaches (after the transaction, if one
  // is open).
  void Release(AttachedFile* attached);

  bool InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }
  int Begin(std::string& error);
  // Applies every file's pending deletes, then commits. Fails while the
  // transaction is lost (see TransactionLost); Rollback ends it.
  int Commit(std::string& error);
  // Forgets the pending deletes and rolls back.
  int Rollback(std::string& error);
  // Applies the file's pending deletes in their order; a runtime code, with
  // SQLite's message in `error` on failure (the rest then stay pending).
  int ApplyPending(AttachedFile& file, std::string& error);
  // SQLite rolls a whole transaction back by itself when a write fails on a
  // full disk or an I/O error, and then runs every later statement in a
  // transaction of its own. A transaction that began and went that way is
  // lost: a write then must fail rather than commit on its own, and so must
  // the commit, until Rollback ends it.
  bool TransactionLost() const { return began_ && sqlite3_get_autocommit(db_) != 0; }

  // Writes through other connections (threads, processes) are announced to
  // nobody: a reader takes the file's version before it reads ahead, and
  // before it serves each record read ahead asks whether the file is still
  // unchanged by others (refreshing `seen`). Asking costs no statement while
  // this connection holds the file in a transaction (nobody else can commit
  // to it then) and one read of the file's header otherwise; only once the
  // file has changed does it run PRAGMA data_version to tell another
  // connection's commit from this one's.
  FileVersion Version(AttachedFile& file);
  bool UnchangedByOthers(AttachedFile& file, FileVersion& seen);
  // Whether this connection holds the file in its open transaction, and so
  // at least its shared lock: then no other connection can commit to it
  // until the transaction ends. Costs a look-up only on the first call for
  // the file in each transaction.
  bool Holds(AttachedFile& file);
  // Counts the transactions this connection began or ended: within one
  // number, a file once held stays held.
  std::uint64_t Transaction() const { return transaction_; }

  // Milliseconds a statement waits for a lock another connection holds.
  void SetBusyTimeout(int milliseconds);

  // Runs SQL with no result rows; gives a runtime code.
  int Exec(const std::string& sql, std::string& error);
  // Prepares SQL for repeated use; null with `code`/`error` set on failure.
  Statement Prepare(const std::string& sql, int& code, std::string& error);

  // For diagnostics and benchmarks: every statement the calling thread's
  // connection holds prepared, each followed by its query plan (one
  // "  plan: ..." line per step). Empty when the thread has no connection.
  static std::vector<std::string> ThreadQueryPlans();

 private:
  Connection() = default;
  static int BusyWait(void* self, int count);
  void DetachUnused();
  std::uint32_t PagerVersion(const AttachedFile& file) const;
  std::int64_t ChangeCounter(const AttachedFile& file) const;

  sqlite3* db_ = nullptr;
  ScratchFile scratch_;  // the main database, when it is a file
  int nextSchema_ = 1;
  int busyMs_ = -1;
  bool committing_ = false;  // Commit is running: its lock waits may go to the limit
  bool began_ = false;  // Begin started a transaction that Commit or Rollback has not ended
  std::uint64_t transaction_ = 1;
  std::map<std::string, std::unique_ptr<AttachedFile>> attached_;  // by path
};

// Pending deletes go kApplyChunk to a statement, DELETE ... WHERE rowid IN
// (?, ...): one statement per delete costs about a third more than the
// delete itself. The statement takes the chunk in record order, but a chunk
// of the apply order stays on the same few index pages.
inline constexpr int kApplyChunk = 64;

// Why a write or commit fails while Connection::TransactionLost().
inline constexpr char kLostTransaction[] =
    "the transaction was rolled back after a write failed (disk full or I/O error); roll it "
    "back before writing again";

// A runtime error code for an SQLite result code (0 for OK, ROW and DONE).
int RuntimeCode(int sqliteCode);

// Quotes an identifier for SQL ("a""b").
std::string Quote(const std::string& identifier);

}  // namespace rt::sqlite
