#include "runtime/sqlite/sqlite_connection.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

#include "runtime/core/error_state.h"
#include "runtime/files/lock_wait.h"

namespace rt::sqlite {
namespace {

// Weak, so that a thread's connection closes once its last handle closes,
// whatever order thread-local objects are destroyed in at thread exit.
thread_local std::weak_ptr<Connection> threadConnection;

}  // namespace

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = other.stmt_;
    other.stmt_ = nullptr;
  }
  return *this;
}

void AttachedFile::RemoveListener(ChangeListener* listener) {
  Listeners.erase(std::remove(Listeners.begin(), Listeners.end(), listener), Listeners.end());
}

int RuntimeCode(int sqliteCode) {
  switch (sqliteCode & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return kNoError;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return kRecordHeld;
    case SQLITE_CONSTRAINT:
      return (sqliteCode == SQLITE_CONSTRAINT_UNIQUE || sqliteCode == SQLITE_CONSTRAINT_PRIMARYKEY)
                 ? kDuplicateKey
                 : kBadRequest;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA: return kInvalidDeclaration;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    // A file that is there (the driver looks before it opens) but cannot be
    // opened, or a journal that cannot be made beside it: a write to it fails
    // every time, as to a read-only file.
    case SQLITE_CANTOPEN: return kAccessDenied;
    default: return kBadRequest;
  }
}

std::string Quote(const std::string& identifier) {
  std::string quoted = "\"";
  for (char c : identifier) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::shared_ptr<Connection> Connection::ForThread(const std::string& directory, int& code,
                                                  std::string& error) {
  if (auto existing = threadConnection.lock()) {
    code = kNoError;
    return existing;
  }
  std::shared_ptr<Connection> connection(new Connection());
  // What killed runs left goes first: before this connection opens a data
  // file, a half-done commit over several files must be rolled back.
  RemoveLeftovers(directory);
  // The main database must be a real file for a commit over several attached
  // files to be atomic; it stays empty. Without a writable directory the
  // connection falls back to an in-memory main database, which keeps every
  // single-file commit atomic.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  int rc = SQLITE_CANTOPEN;
  if (connection->scratch_.Create(directory))
    rc = sqlite3_open_v2(connection->scratch_.Path().c_str(), &connection->db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(connection->db_);
    connection->db_ = nullptr;
    connection->scratch_.Remove();
    rc = sqlite3_open_v2(":memory:", &connection->db_, flags, nullptr);
  }
  if (rc != SQLITE_OK) {
    error = connection->db_ ? sqlite3_errmsg(connection->db_) : "cannot open SQLite";
    code = RuntimeCode(rc);
    return nullptr;
  }
  sqlite3_extended_result_codes(connection->db_, 1);
  connection->SetBusyTimeout(2000);
  threadConnection = connection;
  code = kNoError;
  return connection;
}

std::vector<std::string> Connection::ThreadQueryPlans() {
  std::vector<std::string> plans;
  auto connection = threadConnection.lock();
  if (!connection) return plans;
  for (sqlite3_stmt* stmt = sqlite3_next_stmt(connection->db_, nullptr); stmt;
       stmt = sqlite3_next_stmt(connection->db_, stmt)) {
    std::string text = sqlite3_sql(stmt);
    sqlite3_stmt* explain = nullptr;
    if (sqlite3_prepare_v2(connection->db_, ("EXPLAIN QUERY PLAN " + text).c_str(), -1, &explain,
                           nullptr) == SQLITE_OK) {
      while (sqlite3_step(explain) == SQLITE_ROW)
        text += "\n  plan: " +
                std::string(reinterpret_cast<const char*>(sqlite3_column_text(explain, 3)));
    }
    sqlite3_finalize(explain);
    plans.push_back(std::move(text));
  }
  return plans;
}

Connection::~Connection() {
  if (db_) {
    if (InTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  scratch_.Remove();
}

bool Connection::Holds(AttachedFile& file) {
  if (!InTransaction()) return false;
  if (file.HeldIn == transaction_) return true;
  if (sqlite3_txn_state(db_, file.Schema.c_str()) == SQLITE_TXN_NONE) return false;
  file.HeldIn = transaction_;
  return true;
}

std::uint32_t Connection::PagerVersion(const AttachedFile& file) const {
  unsigned int version = 0;
  sqlite3_file_control(db_, file.Schema.c_str(), SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

// Bytes 24 to 27 of the file's header, which every commit through a rollback
// journal changes; -1 when they cannot be read. Read without a lock: a read
// that meets a commit half done only makes the reader ask SQLite.
std::int64_t Connection::ChangeCounter(const AttachedFile& file) const {
  sqlite3_file* handle = nullptr;
  unsigned char bytes[4];
  if (sqlite3_file_control(db_, file.Schema.c_str(), SQLITE_FCNTL_FILE_POINTER, &handle) !=
          SQLITE_OK ||
      !handle || !handle->pMethods || handle->pMethods->xRead(handle, bytes, 4, 24) != SQLITE_OK)
    return -1;
  return std::int64_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

FileVersion Connection::Version(AttachedFile& file) {
  FileVersion version;
  version.Counter = ChangeCounter(file);
  if (!file.DataVersion) {
    int code;
    std::string error;
    file.DataVersion = Prepare("PRAGMA " + file.Schema + ".data_version", code, error);
  }
  // A failed step (the file locked past the busy wait) leaves -1, which no
  // later version equals: the reader reads again and meets the failure itself.
  if (file.DataVersion && sqlite3_step(file.DataVersion.get()) == SQLITE_ROW)
    version.Others = sqlite3_column_int64(file.DataVersion.get(), 0);
  if (file.DataVersion) sqlite3_reset(file.DataVersion.get());
  version.Pager = PagerVersion(file);
  return version;
}

bool Connection::UnchangedByOthers(AttachedFile& file, FileVersion& seen) {
  // Holding the file in a transaction means holding at least its shared lock,
  // and with a rollback journal no other connection commits past that. The
  // pager counts every change it learned of, this connection's own commits
  // too; while that count stands still nothing needs asking.
  if (Holds(file)) {
    if (seen.FreshIn == transaction_) return true;
    if (PagerVersion(file) == seen.Pager) {
      seen.FreshIn = transaction_;
      return true;
    }
  } else if (seen.Counter != -1 && ChangeCounter(file) == seen.Counter) {
    return true;  // nobody has committed to the file, this connection neither
  }
  FileVersion now = Version(file);
  bool unchanged = now.Others == seen.Others && now.Others != -1;
  seen = now;
  return unchanged;
}

// A busy wait of short steps (up to `busyMs_` for one statement), with every
// step noted as a wait for another program's lock (lock_wait.h), which may
// give the wait up. A commit under a lock-wait limit waits until the limit
// instead. The lock is free only for a moment between two commits when
// stations add one punch after another, and a waiter gets it only by
// trying in that moment: with SQLite's own steps (growing to 100 ms) the
// purge's TxBegin, which waits one second, lost every time to four such
// stations and the purge stopped before it began.
int Connection::BusyWait(void* self, int count) {
  static constexpr int kSteps[] = {1, 1, 2, 2, 5};
  constexpr int kLast = static_cast<int>(std::size(kSteps)) - 1;
  const Connection& connection = *static_cast<Connection*>(self);
  int step = kSteps[std::min(count, kLast)];
  if (!connection.committing_ || LockWaitLimit() <= 0) {
    int waited = 0;
    for (int i = 0; i < count; ++i) waited += kSteps[std::min(i, kLast)];
    step = std::min(step, connection.busyMs_ - waited);
  }
  if (step <= 0 || !NoteLockWait()) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(step));
  return 1;
}

void Connection::SetBusyTimeout(int milliseconds) {
  if (milliseconds == busyMs_) return;
  sqlite3_busy_handler(db_, milliseconds > 0 ? &Connection::BusyWait : nullptr, this);
  busyMs_ = milliseconds;
}

int Connection::Exec(const std::string& sql, std::string& error) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    error = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return RuntimeCode(sqlite3_extended_errcode(db_));
  }
  return kNoError;
}

Statement Connection::Prepare(const std::string& sql, int& code, std::string& error) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) {
    error = sqlite3_errmsg(db_);
    code = RuntimeCode(sqlite3_extended_errcode(db_));
    if (code == kNoError) code = kBadRequest;
    return Statement();
  }
  code = kNoError;
  return Statement(stmt);
}

int Connection::Attach(const std::string& path, const ShareLock& held, int cacheKiB,
                       AttachedFile*& attached, std::string& error) {
  auto it = attached_.find(path);
  if (it != attached_.end()) {
    ++it->second->Users;
    attached = it->second.get();
    return kNoError;
  }
  if (InTransaction()) {
    error = "a data file cannot be opened while a transaction is open on this thread";
    return kBadRequest;
  }
  auto file = std::make_unique<AttachedFile>();
  file->Path = path;
  // Built by appending: GCC 12 at -O2 takes `"f" + text` for an overlapping
  // copy (-Wrestrict).
  std::string schema(1, 'f');
  schema += std::to_string(nextSchema_++);
  file->Schema = std::move(schema);
  int code = kNoError;
  {
    Statement attach = Prepare("ATTACH DATABASE ?1 AS " + file->Schema, code, error);
    if (!attach) return code;
    sqlite3_bind_text(attach.get(), 1, path.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(attach.get());
    if (rc != SQLITE_DONE) {
      error = sqlite3_errmsg(db_);
      return RuntimeCode(sqlite3_extended_errcode(db_));
    }
  }
  // Durable commits through a rollback journal (never WAL: its commits over
  // several files are not atomic) and a bounded page cache per file.
  const std::string& s = file->Schema;
  code = Exec("PRAGMA " + s + ".synchronous=FULL; PRAGMA " + s + ".cache_size=-" +
                  std::to_string(cacheKiB) + "; PRAGMA " + s + ".journal_mode=DELETE",
              error);
  if (code != kNoError) {
    std::string ignored;
    Exec("DETACH DATABASE " + s, ignored);
    return code;
  }
  file->Users = 1;
  file->Pin.Pin(held);
  attached = file.get();
  attached_.emplace(path, std::move(file));
  return kNoError;
}

void Connection::Release(AttachedFile* attached) {
  if (!attached) return;
  if (attached->Users > 0) --attached->Users;
  DetachUnused();
}

void Connection::DetachUnused() {
  if (InTransaction()) return;  // a file cannot leave a transaction; detached after it
  for (auto it = attached_.begin(); it != attached_.end();) {
    if (it->second->Users > 0) {
      ++it;
      continue;
    }
    std::string ignored;
    Exec("DETACH DATABASE " + it->second->Schema, ignored);
    it = attached_.erase(it);
  }
}

int Connection::Begin(std::string& error) {
  if (began_ || InTransaction()) return kNoError;
  ++transaction_;
  int code = Exec("BEGIN", error);
  began_ = code == kNoError;
  return code;
}

int Connection::Commit(std::string& error) {
  if (TransactionLost()) {
    error = kLostTransaction;
    return kBadRequest;
  }
  if (!InTransaction()) {
    began_ = false;
    return kNoError;
  }
  ResetLockWait();
  committing_ = true;
  int code = kNoError;
  for (auto& [path, file] : attached_)
    if ((code = ApplyPending(*file, error)) != kNoError) break;
  if (code == kNoError) {
    ++transaction_;
    code = Exec("COMMIT", error);
  }
  committing_ = false;
  if (code == kNoError) {
    began_ = false;
    DetachUnused();
  }
  return code;
}

int Connection::ApplyPending(AttachedFile& file, std::string& error) {
  if (file.Pending.Empty()) return kNoError;
  sqlite3_stmt* stmt = file.ApplyDelete.get();
  if (!stmt) {
    error = "no statement to apply the pending deletes";
    return kBadRequest;
  }
  int code = file.Pending.Apply(kApplyChunk, [&](const std::int64_t* rowids, std::size_t count) {
    // A short last chunk repeats its first record, already gone by then.
    for (int i = 0; i < kApplyChunk; ++i)
      sqlite3_bind_int64(stmt, i + 1, rowids[static_cast<std::size_t>(i) < count ? i : 0]);
    int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    // A delete that met another program's lock and was given up leaves the
    // page it could not write in memory: the commit ends here instead.
    if (rc == SQLITE_DONE && LockWaitGivenUp()) {
      error = "database is locked: another program kept the file for too long";
      return kRecordHeld;
    }
    if (rc != SQLITE_DONE) {
      error = sqlite3_errmsg(db_);
      int failed = RuntimeCode(sqlite3_extended_errcode(db_));
      return failed == kNoError ? kBadRequest : failed;
    }
    file.Deletes += count;
    return kNoError;
  });
  return code;
}

int Connection::Rollback(std::string& error) {
  began_ = false;
  for (auto& [path, file] : attached_) file->Pending.Clear();
  ++transaction_;
  int code = InTransaction() ? Exec("ROLLBACK", error) : kNoError;
  // Whatever was read ahead may have come from the discarded changes.
  for (auto& [path, file] : attached_) file->NotifyChanged();
  DetachUnused();
  return code;
}

}  // namespace rt::sqlite
