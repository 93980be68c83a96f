// The KEYED driver: every data file is one SQLite database.
//
// ON DISK (users and other tools rely on this form; keep it stable)
//   data/Timecard.DAT is an SQLite database holding
//     one table named after the disk file's stem          Timecard
//     one column per field, named without the prefix      DUTYDATE INTEGER NOT NULL
//       byte, short, long, date, decimal(d,0)  INTEGER  (a date is its day number)
//       decimal(d,p), p > 0, d <= 15           REAL, rounded back to p places on read
//       decimal(d,p), p > 0, d 16 to 18        INTEGER, the count of units of the
//                                              last place (12.34 in decimal(17,2) is 1234)
//       text / ctext                           TEXT, UTF-8; trailing blanks (text) or the
//                                              NUL and what follows (ctext) removed
//       arrays                                 BLOB of the element bytes
//     one index per key, named after the key label without the prefix,
//       UNIQUE unless the key allows duplicates, over the key's columns in
//       key order (UPPER(column) for a case-insensitive text component).
//   A double holds 15 decimal digits exactly, so wider decimals are counted in
//   units instead; a decimal of more than 18 digits fits neither and its
//   declaration is refused at create and open (47).
//   Every column is NOT NULL: a record holds no nulls, and keyset reads would
//   skip null keys. The driver keeps nothing else in the file, so a file that
//   another tool made in exactly this form opens and reads normally; its
//   columns may stand in any order, since every statement names them.
//   Opening checks the form and gives 47, naming what is wrong, for no such
//   table, a table WITHOUT ROWID, a column missing, extra, of another type,
//   allowing NULL or with a collation other than BINARY, a file that is not
//   a database (random bytes, a truncated copy), or no file at all (a folder,
//   a FIFO, a device); a declared key whose index is
//   missing, partial (WHERE), of the wrong uniqueness, built over other
//   columns, descending or with another collation gives 46, and FileBuildKeys
//   rebuilds every index. A record whose stored values its fields cannot hold
//   (a number out of range, a text too long or with a character Latin-1 has
//   not) is refused when read (47).
//
// CONNECTIONS AND TRANSACTIONS
//   Each thread has one SQLite connection (sqlite_connection.h). Each disk
//   file the thread opens is ATTACHed to it once and shared by every
//   declaration of that file (Timecard and AliasTimeCard are two handles on
//   one attachment). The connection's main database is an empty scratch file
//   beside the first data file opened: SQLite commits a transaction over
//   several attached files atomically (through a super-journal) only when the
//   main database is a real file. Journals are rollback journals with
//   synchronous=FULL, never WAL, whose commits over several files are not
//   atomic. So a crash at any moment leaves every file as of the last commit.
//   A transaction therefore covers every KEYED file of the thread; enlisting
//   a second declaration of a file already enlisted changes nothing. Outside
//   a transaction each write commits on its own. A file cannot be attached
//   while a transaction is open (SQLite refuses), and a file closed inside
//   one stays attached until the transaction ends. When a write fails on a
//   full disk or an I/O error SQLite rolls the whole transaction back by
//   itself; from then on every write and the commit fail (90) until the
//   transaction is rolled back, so nothing commits on its own in its place.
//   What killed runs leave beside the data (scratch files, the super-journal
//   of a commit cut short) is cleared when a thread's connection opens,
//   half-done commits rolled back first (scratch_files.h).
//
// LOCKS
//   The sharing bits of the open mode are kept by share_lock.h (5 when another
//   handle or process holds the file in a mode that denies this one); a file
//   without write permission opened for writing also gives 5. SQLite's own
//   locks guard the data: a write that cannot get its lock within "Recover="
//   seconds (2 until an option says otherwise) gives 43; waiting for a
//   sharing lock lasts "Recover=" seconds too (none until an option is sent).
//   A transaction takes the write lock of each file it begins on at once,
//   waiting the begin's timeout (43 when another connection keeps it); on a
//   file open for reading it takes the read lock instead, so nobody else
//   commits to the file and its reads see one state until it ends.
//   "CACHE=" sets the page cache of the file's attachment in KiB (the first
//   handle to attach a file decides; a later "CACHE=" changes it).
//
// THE CURSOR RULE
//   Sequential reads, by a handle or by a view, are keyset-paginated
//   (keyset_cursor.h): the cursor remembers the sort values and rowid of the
//   last record it returned and reads the next batch in two index ranges,
//       WHERE k1 = ? AND k2 = ? ... AND rowid > ? ORDER BY rowid LIMIT n
//       WHERE (k1,k2,...) > (?,?,...) ORDER BY k1,k2,...,rowid LIMIT n - read
//   so it continues after that record whatever happened to it, and in time
//   that does not grow with the number of records sharing its key (a single
//   comparison over (k1,k2,...,rowid) seeks by the keys alone). A delete, add
//   or put through any handle of the thread is announced to every cursor on
//   the same attachment: a deleted record is dropped from batches read ahead,
//   and an add or put discards the rest of the batch, which is then read
//   again from the last record returned. A view and an alias on one file
//   therefore never make each other skip or repeat a record. Other
//   connections (threads, processes) announce nothing: before a cursor serves
//   a record read ahead it checks that nobody else committed to the file
//   since the batch was read (PRAGMA data_version), and otherwise reads again
//   from the last record returned. The batch size is the read-ahead
//   (property 29525, "QUICKSCAN", the view's buffering; a view of a file
//   with quick-scan on reads at least the quick-scan batch). A read by key
//   that a walk in the same key's order has just read ahead is answered from
//   that batch when it shows the answer for certain (the purge fetches every
//   punch its view reads through the alias): the first record with the key
//   by rowid, not deleted, read since nobody else committed.
//
// PENDING DELETES
//   Inside a transaction, the delete of a record the handle read in that
//   transaction (and that nothing added or deleted through the connection
//   since could have moved), after the transaction's first write to the
//   file, on a table without triggers and while the disk has room to apply
//   it (MayPend), is not applied at once but kept pending on the
//   file's attachment (pending_deletes.h has the rules): every read through
//   any handle steps over it, and the set is applied in the order of the key
//   that leads most indexes (ApplyOrderKey) before a commit, before any add,
//   put or other delete on the file, and when it passes its memory bound. One
//   delete by rowid touches the table and every index; in key order the index
//   pages each batch touches are mostly in the cache already, where the walk's
//   own order, or rowid order, scatters them. A rollback forgets the set.
//
// RECORD NUMBERS
//   A record's pointer is its rowid. SQLite numbers a new record one past the
//   highest, so the number of a deleted last record comes back for the next
//   add. A Put or Delete of the current record and a re-get by record
//   position therefore check that the number still holds the record the
//   handle read, by its identity (its key fields, compared exactly in SQL),
//   and give 33 when it holds another.
//
// Threading: a handle, its cursors and its connection belong to one thread;
// TxCommit lends them to a helper thread for the commit while that thread
// waits inside it (blocking_call.h).
#include "runtime/sqlite/keyed_driver.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>

#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/files/cursor_view.h"
#include "runtime/files/file.h"
#include "runtime/files/place_text.h"
#include "runtime/files/pending_deletes.h"
#include "runtime/sqlite/filter_sql.h"
#include "runtime/sqlite/keyset_cursor.h"
#include "runtime/sqlite/record_codec.h"
#include "runtime/sqlite/share_lock.h"
#include "runtime/sqlite/sqlite_connection.h"

namespace rt {
namespace {

using sqlite::AttachedFile;
using sqlite::ColumnKind;
using sqlite::ColumnValue;
using sqlite::Connection;
using sqlite::KeysetCursor;
using sqlite::Quote;
using sqlite::RuntimeCode;
using sqlite::SortTerm;
using sqlite::Statement;

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// What stands at an existing path that is no file, ("" for a file): a data
// file must be one, and opening a FIFO would wait for a writer for ever.
std::string NotAFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return "";
  return S_ISDIR(st.st_mode) ? "a folder" : S_ISFIFO(st.st_mode) ? "a FIFO" : "a device or socket";
}

// A file nobody may write to: no write permission for anyone, or none for us.
bool ReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

std::string DirectoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The table's name: the disk file's stem ("Timecard" for data/Timecard.DAT).
std::string StemOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  auto dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool KeyPartIsUpper(const KeyDeclaration& key, const FieldDeclaration& field) {
  return key.IgnoresCase() && (field.Type == FieldType::Text || field.Type == FieldType::CText);
}

// "part=? AND part=? ...": every part of the key equal to a bound value, both
// sides upper-cased where the key ignores case.
std::string KeyEqualsValues(const FileDeclaration& decl, const KeyDeclaration& key) {
  std::string sql;
  for (std::size_t i = 0; i < key.Components.size(); ++i) {
    const auto& field = decl.Field(key.Components[i]);
    std::string column = Quote(std::string(field.Label()));
    sql += (i ? " AND " : "") +
           (KeyPartIsUpper(key, field) ? "UPPER(" + column + ")=UPPER(?)" : column + "=?");
  }
  return sql;
}

std::uint32_t BigEndian(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

// The key whose order pending deletes are applied in: the one that shares
// the most leading parts with the other keys, so that deleting in its order
// walks most indexes nearly in their own order too (company and card lead
// five of Timecard's seven keys). A delete touches the table and every index
// at once, so no order suits all; record order, the table's own, suits the
// indexes worst. 0 (record order) for a file without keys.
int ApplyOrderKey(const FileDeclaration& decl) {
  int best = decl.KeyCount() > 0 ? 1 : 0;
  std::size_t bestShared = 0;
  for (int k = 1; k <= decl.KeyCount(); ++k) {
    const auto& mine = decl.Key(k).Components;
    std::size_t shared = 0;
    for (int other = 1; other <= decl.KeyCount(); ++other) {
      if (other == k) continue;
      const auto& theirs = decl.Key(other).Components;
      for (std::size_t i = 0; i < mine.size() && i < theirs.size() && mine[i] == theirs[i]; ++i)
        ++shared;
    }
    if (shared > bestShared) {
      best = k;
      bestShared = shared;
    }
  }
  return best;
}

// The DDL of a declaration's table and of one key's index.
std::string CreateTableSql(const FileDeclaration& decl, const std::string& table) {
  std::string sql = "CREATE TABLE " + Quote(table) + " (";
  for (int f = 1; f <= decl.FieldCount(); ++f) {
    const auto& field = decl.Field(f);
    sql += (f > 1 ? ", " : "") + Quote(std::string(field.Label())) + " " +
           sqlite::SqlType(sqlite::KindOf(field)) + " NOT NULL";
  }
  return sql + ")";
}

std::string CreateIndexSql(const FileDeclaration& decl, const KeyDeclaration& key,
                           const std::string& table) {
  std::string sql = std::string(key.AllowsDuplicates() ? "CREATE INDEX " : "CREATE UNIQUE INDEX ") +
                    Quote(std::string(key.Label())) + " ON " + Quote(table) + " (";
  for (std::size_t i = 0; i < key.Components.size(); ++i) {
    const auto& field = decl.Field(key.Components[i]);
    std::string column = Quote(std::string(field.Label()));
    sql += (i ? ", " : "") + (KeyPartIsUpper(key, field) ? "UPPER(" + column + ")" : column);
  }
  return sql + ")";
}

// A short-lived connection of its own, for creating and rebuilding files.
class OwnConnection {
 public:
  int Open(const std::string& path, bool create, std::string& error) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      error = db_ ? sqlite3_errmsg(db_) : "cannot open";
      return RuntimeCode(rc);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 2000);
    return kNoError;
  }
  int Exec(const std::string& sql, std::string& error) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return kNoError;
    error = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return RuntimeCode(sqlite3_extended_errcode(db_));
  }
  sqlite3* Db() const { return db_; }
  ~OwnConnection() { sqlite3_close_v2(db_); }

 private:
  sqlite3* db_ = nullptr;
};

class KeyedFile;

using KeyedView = CursorView<KeyedFile, KeysetCursor>;

class KeyedFile final : public Driver {
 public:
  explicit KeyedFile(File& file)
      : file_(file),
        decl_(file.Declaration()),
        path_(decl_.Path()),
        table_(StemOf(path_)),
        readRecord_(decl_.RecordLength()) {
    for (int f = 1; f <= decl_.FieldCount(); ++f) columns_.emplace_back(decl_.Field(f).Label());
    // A record's identity: the key fields compared exactly in SQL (REAL
    // columns round, arrays hold no keys).
    for (int f = 1; f <= decl_.FieldCount(); ++f) {
      auto kind = sqlite::KindOf(decl_.Field(f));
      bool inKey = false;
      for (int k = 1; k <= decl_.KeyCount(); ++k)
        for (int c : decl_.Key(k).Components) inKey = inKey || c == f;
      if (inKey && (kind == ColumnKind::Integer || kind == ColumnKind::Text))
        identity_.push_back(f);
    }
    applyOrder_ = KeyTerms(ApplyOrderKey(decl_));
    keyTerms_.resize(static_cast<std::size_t>(decl_.KeyCount()) + 1);
    for (int k = 1; k <= decl_.KeyCount(); ++k) keyTerms_[static_cast<std::size_t>(k)] = KeyTerms(k);
  }
  ~KeyedFile() override { Close(); }

  int Create() override;
  int Open(int mode) override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  int BuildKeys() override;
  int Send(std::string_view option) override;

  int GetByKey(int key) override;
  int GetByPointer(std::int64_t pointer) override;
  std::int64_t Pointer() const override { return current_; }
  int SetKey(int key) override;
  int SetKeyValue(int key) override;
  int Next() override { return Sequential(true); }
  int Previous() override { return Sequential(false); }
  int Add() override;
  int Put() override;
  int Delete() override;
  int Duplicate(int key, bool& duplicate) override;
  void Watch() override { watchArmed_ = true; }

  int Position(int key, std::string& position) override;
  int Reget(int key, std::string_view position) override;
  int Reset(int key, std::string_view position) override;
  std::string SaveCursor() const override;
  int RestoreCursor(std::string_view saved) override;

  int Records(std::int64_t& count) override;
  int Bytes(std::int64_t& bytes) override;
  int CheckIntegrity(std::vector<std::string>& problems) override;
  int ReadAhead() const override { return readAhead_; }
  void SetReadAhead(int records) override;

  bool SupportsTransactions() const override { return true; }
  int BeginTransaction(int timeoutSeconds) override;
  int CommitTransaction() override;
  int RollbackTransaction() override;
  bool TransactionLost() const override { return open_ && conn_->TransactionLost(); }

  std::unique_ptr<ViewCursor> OpenView(ViewQuery query, int& code) override;

  std::string LastDriverCode() const override { return lastCode_; }
  std::string LastDriverText() const override { return lastText_; }

  // For views: a record the view read into the buffer is the current record.
  void Became(std::int64_t rowid) { Became(rowid, true); }
  void Forget(KeyedView* view) {
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
  }
  File& TheFile() { return file_; }
  int Fail(int code, std::string text) {
    lastText_ = std::move(text);
    lastCode_ = code == kNoError ? "" : std::to_string(code);
    return code;
  }

 private:
  int CheckDeclaration();
  int Verify();
  int CheckLength();
  int FailSqlite(int fallback = kBadRequest);
  int Ready();         // open, with the busy wait set
  int ReadyToWrite();  // Ready, open for writing, and not in a lost transaction
  bool Writable() const { return (mode_ & 0x03) != kAccessRead; }
  KeysetCursor& CursorFor(int key);
  sqlite3_stmt* Prepared(Statement& slot, const std::function<std::string()>& sql, int& code);
  sqlite3_stmt* RowidStatement(int& code);  // the record's columns by rowid
  int RowWritten(int rc);                   // the result of an UPDATE or DELETE of one row
  int LoadRow(std::int64_t rowid, std::vector<ColumnValue>& stored,
              std::vector<std::uint8_t>& record);
  int ReadByRowid(std::int64_t rowid, const std::vector<ColumnValue>* identity);
  std::string SameRecordSql() const;
  std::vector<ColumnValue> IdentityOf(const std::uint8_t* record) const;
  int WriteCurrent(sqlite3_stmt* stmt, int identityFirst, bool checked);
  void RememberRecord();
  bool NumberMayHaveMoved() const;
  bool KnownPresent() const;
  bool MayPend();
  int Pend();
  int ApplyPending();
  std::string ApplyOrderOf(const std::uint8_t* record) const;
  int Sequential(bool forward);
  void Became(std::int64_t rowid, bool read);
  std::vector<SortTerm> KeyTerms(int key) const;
  int BusyMs() const { return recover_ < 0 ? 2000 : recover_ * 1000; }
  int ReadRow(sqlite3_stmt* stmt);
  bool ReadAheadAnswers(int key);
  int StoreRow(std::int64_t rowid, const std::vector<ColumnValue>& values,
               std::vector<std::uint8_t>& record);
  int BindRecord(sqlite3_stmt* stmt, int first);
  bool ValidKey(int key) const { return key >= 1 && key <= decl_.KeyCount(); }

  File& file_;
  const FileDeclaration& decl_;
  std::string path_;
  std::string table_;                 // as the file names it once open
  std::vector<std::string> columns_;  // field labels in field order

  std::shared_ptr<Connection> conn_;
  AttachedFile* attached_ = nullptr;  // owned by conn_
  sqlite::ShareLock share_;
  bool open_ = false;
  int mode_ = 0;
  int recover_ = -1;               // seconds; -1 until "Recover=" was sent
  int cacheKiB_ = kKeyedCacheKiB;  // page cache of the attachment, set by "CACHE="
  int readAhead_ = 0;

  std::int64_t current_ = 0;  // rowid of the current record
  // The current record as this handle read, added or wrote it: a write or
  // re-get by record number checks that the number still holds a record with
  // its identity (the key fields in `identity_`), since SQLite gives a new
  // record the number of a deleted last one.
  std::vector<std::uint8_t> readRecord_;
  std::vector<int> identity_;
  // Whether this connection held the file in a transaction when the record
  // was read, which transaction, and the adds through the connection then:
  // while that transaction holds on and nothing was added, the number cannot
  // have moved and a write skips the identity check.
  bool heldAtRead_ = false;
  std::uint64_t transactionAtRead_ = 0;
  std::uint64_t addsAtRead_ = 0;
  std::uint64_t deletesAtRead_ = 0;  // deletes applied through the connection then
  // The order pending deletes are applied in (ApplyOrderKey).
  std::vector<SortTerm> applyOrder_;
  std::vector<ColumnValue> row_;          // a row read by key, and
  std::vector<std::uint8_t> rowRecord_;   // the record it makes
  int sequenceKey_ = 0;
  std::map<int, std::unique_ptr<KeysetCursor>> cursors_;  // by key
  std::vector<KeyedView*> views_;                         // not owned

  bool watchArmed_ = false;
  std::int64_t watchedRowid_ = 0;
  std::vector<std::uint8_t> watchedRecord_;

  std::vector<std::vector<SortTerm>> keyTerms_;  // KeyTerms of each key, by key number
  const FileDeclaration* sameLayout_ = nullptr;   // another declaration found laid out as decl_
  std::vector<ColumnValue> sought_;               // the key values a read by key looks for

  std::vector<Statement> getByKey_, getByKeyAfter_;
  std::vector<Statement> duplicate_;
  // Where the last read by key stopped stepping over records whose deletes
  // are pending: every record of `Values` in `Key` up to rowid `After` was
  // pending, and stays so while the transaction and the set's departures
  // have not moved (adds, puts and other deletes apply the set first). The
  // purge deletes each of a run of punches sharing a key as it reaches it,
  // so without this each read would step over all the run's earlier ones.
  struct PendingRun {
    int Key = 0;
    std::vector<ColumnValue> Values;
    std::int64_t After = 0;
    std::uint64_t Transaction = 0, Departures = 0;
  } pendingRun_;
  Statement getByRowid_, insert_, update_, updateChecked_, delete_, deleteChecked_, count_;

  std::string lastCode_, lastText_;
};

// ---------------------------------------------------------------------------

int KeyedFile::FailSqlite(int fallback) {
  sqlite3* db = conn_ ? conn_->Db() : nullptr;
  if (!db) return Fail(fallback, "no connection");
  int code = RuntimeCode(sqlite3_extended_errcode(db));
  lastText_ = sqlite3_errmsg(db);
  lastCode_ = std::to_string(sqlite3_extended_errcode(db));
  return code == kNoError ? fallback : code;
}

int KeyedFile::Ready() {
  if (!open_) return Fail(kBadRequest, "file not open");
  conn_->SetBusyTimeout(BusyMs());
  lastCode_.clear();
  lastText_.clear();
  return kNoError;
}

int KeyedFile::ReadyToWrite() {
  if (int code = Ready()) return code;
  if (!Writable()) return Fail(kAccessDenied, "file is open read-only");
  if (conn_->TransactionLost()) return Fail(kBadRequest, sqlite::kLostTransaction);
  return kNoError;
}

sqlite3_stmt* KeyedFile::Prepared(Statement& slot, const std::function<std::string()>& sql,
                                  int& code) {
  if (!slot) {
    std::string error;
    slot = conn_->Prepare(sql(), code, error);
    if (!slot) {
      Fail(code, error);
      return nullptr;
    }
  }
  code = kNoError;
  return slot.get();
}

std::string SelectColumns(const std::vector<std::string>& columns) {
  std::string sql = "SELECT rowid";
  // Built by appending: GCC 12 at -O2 takes `"," + text` for an overlapping
  // copy (-Wrestrict).
  for (const auto& c : columns) {
    sql += ",";
    sql += Quote(c);
  }
  return sql;
}

sqlite3_stmt* KeyedFile::RowidStatement(int& code) {
  return Prepared(
      getByRowid_,
      [&] {
        return SelectColumns(columns_) + " FROM " + attached_->Schema + "." + Quote(table_) +
               " WHERE rowid=?";
      },
      code);
}

// An UPDATE or DELETE by rowid that changed nothing found the record gone.
int KeyedFile::RowWritten(int rc) {
  if (rc != SQLITE_DONE) return FailSqlite();
  return sqlite3_changes(conn_->Db()) == 0 ? Fail(kRecordNotAvailable, "record is gone") : kNoError;
}

// The row at `rowid`: its column values as stored, in field order, and as a
// record. 33 when there is none.
int KeyedFile::LoadRow(std::int64_t rowid, std::vector<ColumnValue>& stored,
                       std::vector<std::uint8_t>& record) {
  if (attached_->Pending.Contains(rowid))
    return Fail(kRecordNotAvailable, "no record at that pointer");
  int code;
  sqlite3_stmt* stmt = RowidStatement(code);
  if (!stmt) return code;
  sqlite3_bind_int64(stmt, 1, rowid);
  int rc = sqlite3_step(stmt);
  code = rc == SQLITE_ROW    ? kNoError
         : rc == SQLITE_DONE ? Fail(kRecordNotAvailable, "no record at that pointer")
                             : FailSqlite();
  if (rc == SQLITE_ROW) {
    stored.clear();
    for (int f = 1; f <= decl_.FieldCount(); ++f) stored.push_back(sqlite::ReadColumn(stmt, f));
    code = StoreRow(rowid, stored, record);
  }
  sqlite3_reset(stmt);
  return code;
}

// The record a row's values make; 47 naming the column when a field cannot
// hold its value as stored.
int KeyedFile::StoreRow(std::int64_t rowid, const std::vector<ColumnValue>& values,
                        std::vector<std::uint8_t>& record) {
  record.assign(decl_.RecordLength(), 0);
  std::string why;
  if (sqlite::StoreRecord(values.data(), record.data(), decl_, why)) return kNoError;
  return Fail(kInvalidDeclaration, sqlite::UnreadableRecord(rowid, values.data(), decl_, why));
}

// Reads the record at `rowid` into the buffer, provided it still has
// `identity` when one is given. A number that names no such record leaves the
// buffer alone and the handle without a current record.
int KeyedFile::ReadByRowid(std::int64_t rowid, const std::vector<ColumnValue>* identity) {
  std::vector<ColumnValue> stored;
  std::vector<std::uint8_t> record;
  int code = LoadRow(rowid, stored, record);
  if (code == kNoError && identity && IdentityOf(record.data()) != *identity)
    code = Fail(kRecordNotAvailable, "the record number now holds another record");
  if (code == kRecordNotAvailable) current_ = 0;
  if (code != kNoError) return code;
  std::copy(record.begin(), record.end(), file_.Buffer());
  Became(rowid, true);
  return kNoError;
}

// " AND k1=? AND k2=? ...": the identity fields equal to bound values.
std::string KeyedFile::SameRecordSql() const {
  std::string sql;
  for (int f : identity_) sql += " AND " + Quote(columns_[f - 1]) + "=?";
  return sql;
}

std::vector<ColumnValue> KeyedFile::IdentityOf(const std::uint8_t* record) const {
  std::vector<ColumnValue> values;
  for (int f : identity_) values.push_back(sqlite::LoadField(record, decl_, f));
  return values;
}

// Keeps the record in the buffer as the one the handle now holds.
void KeyedFile::RememberRecord() {
  std::copy(file_.Buffer(), file_.Buffer() + file_.RecordLength(), readRecord_.begin());
  heldAtRead_ = conn_->Holds(*attached_);
  transactionAtRead_ = conn_->Transaction();
  addsAtRead_ = attached_->Adds;
  deletesAtRead_ = attached_->Deletes;
}

// Whether the current record's number may since have been given to another
// record: only an add can do that, by this connection or, once the file's
// lock was let go, by another.
bool KeyedFile::NumberMayHaveMoved() const {
  return !heldAtRead_ || attached_->Adds != addsAtRead_ ||
         conn_->Transaction() != transactionAtRead_ || !conn_->InTransaction();
}

// Whether the current record is certainly still in the file as it was read:
// read in this transaction while it held the file, and nothing added or
// deleted through the connection since (no other connection can write the
// file meanwhile). Only such a record's delete may be kept pending.
bool KeyedFile::KnownPresent() const {
  return !NumberMayHaveMoved() && attached_->Deletes == deletesAtRead_;
}

// Whether a delete may be kept pending: only once a write to the file went
// through in this transaction, only when no trigger can refuse a delete, and
// only while the disk has room for what applying the pending deletes writes
// (the journal keeps a copy of every page a delete changes in the table and
// each index). So a delete that a trigger refuses fails on its own, leaving
// the others, and a disk that is full or fills up refuses the delete that met
// it, as without pending deletes. No other connection can add a trigger
// while the transaction holds the file.
bool KeyedFile::MayPend() {
  const std::uint64_t transaction = conn_->Transaction();
  if (attached_->WrittenIn != transaction) return false;
  if (attached_->CheckedIn != transaction) {
    int code;
    Statement find = conn_->Prepare("SELECT 1 FROM " + attached_->Schema +
                                        ".sqlite_master WHERE type='trigger' AND tbl_name=?1 "
                                        "COLLATE NOCASE",
                                    code, lastText_);
    Statement pageSize = conn_->Prepare("PRAGMA " + attached_->Schema + ".page_size", code, lastText_);
    if (!find || !pageSize) return false;
    sqlite3_bind_text(find.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT);
    attached_->Triggers = sqlite3_step(find.get()) != SQLITE_DONE;
    std::uint64_t page = sqlite3_step(pageSize.get()) == SQLITE_ROW
                             ? static_cast<std::uint64_t>(sqlite3_column_int64(pageSize.get(), 0))
                             : 65536;
    struct statvfs disk {};
    attached_->PendRoom =
        ::statvfs(path_.c_str(), &disk) == 0
            ? static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize /
                  (2 * std::max<std::uint64_t>(page, 512) * (decl_.KeyCount() + 1))
            : 0;
    attached_->CheckedIn = transaction;
  }
  return !attached_->Triggers && attached_->Pending.Count() < attached_->PendRoom;
}

// Keeps the current record's delete pending (pending_deletes.h): every
// cursor on the file drops it now, every read steps over it, and it reaches
// the file with the others, in index order, before anything else could tell.
int KeyedFile::Pend() {
  int code;
  if (!Prepared(
          attached_->ApplyDelete,
          [&] {
            std::string marks = "?";
            for (int i = 1; i < sqlite::kApplyChunk; ++i) marks += ",?";
            return "DELETE FROM " + attached_->Schema + "." + Quote(table_) + " WHERE rowid IN (" +
                   marks + ")";
          },
          code))
    return code;
  attached_->Pending.Add(current_, ApplyOrderOf(readRecord_.data()));
  attached_->NotifyDeleted(current_);
  current_ = 0;
  return attached_->Pending.Full() ? ApplyPending() : kNoError;
}

// A failure is told as a failed delete is: SQLite's code and message.
int KeyedFile::ApplyPending() {
  std::string error;
  int code = conn_->ApplyPending(*attached_, error);
  return code == kNoError ? kNoError : FailSqlite(code);
}

std::string KeyedFile::ApplyOrderOf(const std::uint8_t* record) const {
  OrderKey key;
  for (const auto& term : applyOrder_) {
    ColumnValue value = sqlite::LoadField(record, decl_, term.Field);
    switch (value.Kind) {
      case ColumnKind::Integer: key.Int(value.Int); break;
      case ColumnKind::Real: key.Real(value.Real); break;
      default: key.Bytes(term.Upper ? UpperCase(value.Bytes) : value.Bytes);
    }
  }
  return key.Take();
}

// Runs a prepared UPDATE or DELETE of the current record. When `checked`, its
// placeholders from `identityFirst` on take the identity of the record the
// handle read.
int KeyedFile::WriteCurrent(sqlite3_stmt* stmt, int identityFirst, bool checked) {
  if (!checked) {
    int code = RowWritten(sqlite3_step(stmt));
    sqlite3_reset(stmt);
    return code;
  }
  int index = identityFirst;
  for (int f : identity_)
    sqlite::BindValue(stmt, index++, sqlite::LoadField(readRecord_.data(), decl_, f));
  int rc = sqlite3_step(stmt);
  bool none = rc == SQLITE_DONE && sqlite3_changes(conn_->Db()) == 0;
  sqlite3_reset(stmt);
  if (!none) return rc == SQLITE_DONE ? kNoError : FailSqlite();
  // Nothing matched: the record is gone, its number now holds another record,
  // or another tool stored its identity in another form (trailing blanks);
  // only the last is written, against the values as they are stored.
  std::vector<ColumnValue> stored;
  std::vector<std::uint8_t> now;
  if (int code = LoadRow(current_, stored, now))
    return code == kRecordNotAvailable ? Fail(code, "record is gone") : code;
  if (IdentityOf(now.data()) != IdentityOf(readRecord_.data()))
    return Fail(kRecordNotAvailable, "the record number now holds another record");
  index = identityFirst;
  for (int f : identity_) sqlite::BindValue(stmt, index++, stored[f - 1]);
  int code = RowWritten(sqlite3_step(stmt));
  sqlite3_reset(stmt);
  return code;
}

// A decimal wider than the columns hold exactly is refused before anything is
// read or written, so that no value changes silently.
int KeyedFile::CheckDeclaration() {
  int f = sqlite::UnstorableField(decl_);
  if (f == 0) return kNoError;
  return Fail(kInvalidDeclaration, "field " + columns_[f - 1] + " is a decimal of " +
                                       std::to_string(decl_.Field(f).Digits()) +
                                       " digits; a KEYED file holds at most 18");
}

int KeyedFile::Create() {
  if (open_) return Fail(kFileAlreadyOpen, "file is open");
  if (int code = CheckDeclaration()) return code;
  if (PathExists(path_)) return Fail(kBadRequest, "file already exists: " + path_);
  if (!PathExists(DirectoryOf(path_)))
    return Fail(kFileNotFound, "no folder " + DirectoryOf(path_));
  std::string error;
  int code;
  {
    OwnConnection own;
    code = own.Open(path_, true, error);
    if (code == kNoError) {
      std::string sql = "PRAGMA journal_mode=DELETE; BEGIN; " + CreateTableSql(decl_, table_) + ";";
      for (int k = 1; k <= decl_.KeyCount(); ++k)
        sql += CreateIndexSql(decl_, decl_.Key(k), table_) + ";";
      sql += "COMMIT;";
      code = own.Exec(sql, error);
    }
  }
  if (code != kNoError) {
    ::unlink(path_.c_str());
    return Fail(code, error);
  }
  return Fail(kNoError, "");
}

int KeyedFile::Open(int mode) {
  if (open_) return Fail(kFileAlreadyOpen, "file already open");
  if (int code = CheckDeclaration()) return code;
  if (!PathExists(path_)) return Fail(kFileNotFound, "no file " + path_);
  if (std::string what = NotAFile(path_); !what.empty())
    return Fail(kInvalidDeclaration, path_ + " is " + what + ", not a data file");
  if ((mode & 0x03) != kAccessRead && ReadOnlyFile(path_))
    return Fail(kAccessDenied, "file is read-only: " + path_);
  int code = share_.Acquire(path_, mode, recover_ < 0 ? 0 : recover_);
  if (code != kNoError) return Fail(code, "file is held in a mode that denies this one: " + path_);
  std::string error;
  conn_ = Connection::ForThread(DirectoryOf(path_), code, error);
  if (!conn_) {
    share_.Release();
    return Fail(code, error);
  }
  conn_->SetBusyTimeout(BusyMs());
  // One attachment per disk file however its declarations spell the path.
  char* resolved = ::realpath(path_.c_str(), nullptr);
  std::string canonical = resolved ? resolved : path_;
  std::free(resolved);
  code = conn_->Attach(canonical, share_, cacheKiB_, attached_, error);
  if (code != kNoError) {
    attached_ = nullptr;
    conn_.reset();
    share_.Release();
    return Fail(code, error);
  }
  open_ = true;
  mode_ = mode;
  code = Verify();
  if (code == kNoError) code = CheckLength();
  if (code != kNoError) {
    std::string text = lastText_;
    Close();
    return Fail(code, text);
  }
  current_ = 0;
  sequenceKey_ = 0;
  watchArmed_ = false;
  watchedRowid_ = 0;
  getByKey_.resize(decl_.KeyCount() + 1);
  getByKeyAfter_.resize(decl_.KeyCount() + 1);
  duplicate_.resize(decl_.KeyCount() + 1);
  pendingRun_ = PendingRun();
  return Fail(kNoError, "");
}

// The table and indexes against the declaration (see the top of this file).
int KeyedFile::Verify() {
  int code;
  std::string error;
  const std::string& schema = attached_->Schema;
  {
    Statement find = conn_->Prepare("SELECT name FROM " + schema +
                                        ".sqlite_master WHERE type='table' AND name=?1 "
                                        "COLLATE NOCASE",
                                    code, error);
    if (!find) return Fail(code == kNoError ? kInvalidDeclaration : code, error);
    sqlite3_bind_text(find.get(), 1, StemOf(path_).c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(find.get());
    if (rc != SQLITE_ROW) {
      if (rc != SQLITE_DONE) return FailSqlite(kInvalidDeclaration);
      return Fail(kInvalidDeclaration, "no table " + StemOf(path_) + " in " + path_);
    }
    table_ = reinterpret_cast<const char*>(sqlite3_column_text(find.get(), 0));
  }
  {
    // A table without rowids cannot be read by record or walked by keyset.
    Statement list =
        conn_->Prepare("SELECT wr FROM pragma_table_list(?1) WHERE schema=?2", code, error);
    if (!list) return Fail(kInvalidDeclaration, error);
    sqlite3_bind_text(list.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(list.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(list.get()) == SQLITE_ROW && sqlite3_column_int(list.get(), 0) != 0)
      return Fail(kInvalidDeclaration, "table " + table_ + " has no rowids (WITHOUT ROWID)");
  }
  {
    // Columns by upper-case name, in any order: every statement names them.
    struct Column {
      std::string Name, Type;
      bool NotNull;
    };
    std::map<std::string, Column> found;
    Statement info = conn_->Prepare("SELECT name, type, \"notnull\" FROM pragma_table_info(?1, ?2)",
                                    code, error);
    if (!info) return Fail(kInvalidDeclaration, error);
    sqlite3_bind_text(info.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
      std::string name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0));
      const unsigned char* type = sqlite3_column_text(info.get(), 1);
      found[UpperCase(name)] = {name, type ? reinterpret_cast<const char*>(type) : "",
                                sqlite3_column_int(info.get(), 2) != 0};
    }
    if (rc != SQLITE_DONE) return FailSqlite(kInvalidDeclaration);
    for (int f = 1; f <= decl_.FieldCount(); ++f) {
      auto it = found.find(UpperCase(columns_[f - 1]));
      if (it == found.end()) return Fail(kInvalidDeclaration, "no column " + columns_[f - 1]);
      const Column& column = it->second;
      bool numeric = false;
      auto kind = sqlite::KindOfDeclaredType(column.Type, numeric);
      auto wanted = sqlite::KindOf(decl_.Field(f));
      bool fits = kind == wanted ||
                  (numeric && (wanted == ColumnKind::Integer || wanted == ColumnKind::Real));
      if (!fits)
        return Fail(kInvalidDeclaration, "column " + column.Name + " has type " + column.Type +
                                             ", declared " + sqlite::SqlType(wanted));
      // A NULL would read as a cleared field, and keyset reads skip null keys.
      if (!column.NotNull)
        return Fail(kInvalidDeclaration, "column " + column.Name + " allows NULL");
      // Another collation changes what equal means and the order no rebuilt
      // index could then serve (its indexes take the column's collation).
      const char* collation = nullptr;
      if (sqlite3_table_column_metadata(conn_->Db(), schema.c_str(), table_.c_str(),
                                        column.Name.c_str(), nullptr, &collation, nullptr, nullptr,
                                        nullptr) == SQLITE_OK &&
          collation && !SameIgnoringCase(collation, "BINARY"))
        return Fail(kInvalidDeclaration,
                    "column " + column.Name + " has the collation " + collation);
      found.erase(it);
    }
    if (!found.empty())
      return Fail(kInvalidDeclaration, "column " + found.begin()->second.Name + " is not declared");
  }
  // Indexes by upper-case name.
  struct Index {
    std::string Name;
    bool Unique, Partial;
  };
  std::map<std::string, Index> indexes;
  {
    Statement list = conn_->Prepare(
        "SELECT name, \"unique\", partial FROM pragma_index_list(?1, ?2)", code, error);
    if (!list) return Fail(kInvalidDeclaration, error);
    sqlite3_bind_text(list.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(list.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
      std::string name = reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0));
      indexes[UpperCase(name)] = {name, sqlite3_column_int(list.get(), 1) != 0,
                                  sqlite3_column_int(list.get(), 2) != 0};
    }
    // A list cut short (another program kept the file locked past the busy
    // wait: 43) must not read as missing indexes, which would send the file
    // manager to rebuild them.
    if (rc != SQLITE_DONE) return FailSqlite(kInvalidDeclaration);
  }
  Statement columns = conn_->Prepare(
      "SELECT cid, name, \"desc\", coll FROM pragma_index_xinfo(?1, ?2) WHERE key=1 ORDER BY seqno",
      code, error);
  if (!columns) return Fail(kInvalidDeclaration, error);
  for (int k = 1; k <= decl_.KeyCount(); ++k) {
    const auto& key = decl_.Key(k);
    std::string label(key.Label());
    auto found = indexes.find(UpperCase(label));
    if (found == indexes.end()) return Fail(kKeysMustBeRebuilt, "no index " + label);
    if (found->second.Unique == key.AllowsDuplicates())
      return Fail(kKeysMustBeRebuilt, "index " + label + " has the wrong uniqueness");
    // A partial index holds only some records: a fetch by key would miss the others.
    if (found->second.Partial)
      return Fail(kKeysMustBeRebuilt, "index " + label + " is partial (it has a WHERE clause)");
    sqlite3_reset(columns.get());
    sqlite3_bind_text(columns.get(), 1, found->second.Name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(columns.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    // Each part ascending and compared as bytes: a walk in key order or a
    // fetch by key could not use the index otherwise (each batch would sort
    // the whole table).
    std::size_t part = 0;
    bool matches = true;
    std::string how;
    int rc;
    while ((rc = sqlite3_step(columns.get())) == SQLITE_ROW) {
      if (part >= key.Components.size()) {
        matches = false;
        break;
      }
      const auto& field = decl_.Field(key.Components[part]);
      int cid = sqlite3_column_int(columns.get(), 0);
      const unsigned char* name = sqlite3_column_text(columns.get(), 1);
      bool upper = KeyPartIsUpper(key, field);
      if (upper ? cid != -2
                : (!name || !SameIgnoringCase(reinterpret_cast<const char*>(name), field.Label())))
        matches = false;
      const unsigned char* coll = sqlite3_column_text(columns.get(), 3);
      std::string collation = coll ? reinterpret_cast<const char*>(coll) : "BINARY";
      if (sqlite3_column_int(columns.get(), 2) != 0 && how.empty())
        how = " (" + std::string(field.Label()) + " descending)";
      if (!SameIgnoringCase(collation, "BINARY") && how.empty())
        how = " (" + std::string(field.Label()) + " with the collation " + collation + ")";
      ++part;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return FailSqlite(kInvalidDeclaration);
    if (!matches || part != key.Components.size() || !how.empty())
      return Fail(kKeysMustBeRebuilt, "index " + label + " does not match its key" + how);
  }
  return kNoError;
}

// A copy cut short still says in its header how long it was.
int KeyedFile::CheckLength() {
  int fd = share_.Descriptor();
  unsigned char header[100];
  if (fd < 0 || ::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
    return kNoError;  // an empty new database has no header yet
  std::uint32_t pageSize = BigEndian(header + 16, 2);
  if (pageSize == 1) pageSize = 65536;
  std::uint32_t changeCounter = BigEndian(header + 24, 4);
  std::uint32_t pages = BigEndian(header + 28, 4);
  std::uint32_t validFor = BigEndian(header + 92, 4);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return kNoError;
  if (pages != 0 && changeCounter == validFor &&
      static_cast<std::uint64_t>(st.st_size) < static_cast<std::uint64_t>(pages) * pageSize)
    return Fail(kInvalidDeclaration, "file is shorter than its header says: " + path_);
  return kNoError;
}

void KeyedFile::Close() {
  if (!open_ && !conn_) return;
  for (auto* view : views_) view->Orphan();
  views_.clear();
  cursors_.clear();
  getByKey_.clear();
  getByKeyAfter_.clear();
  duplicate_.clear();
  getByRowid_ = Statement();
  insert_ = Statement();
  update_ = Statement();
  updateChecked_ = Statement();
  delete_ = Statement();
  deleteChecked_ = Statement();
  count_ = Statement();
  if (conn_ && attached_) conn_->Release(attached_);
  attached_ = nullptr;
  conn_.reset();
  share_.Release();
  open_ = false;
  current_ = 0;
}

int KeyedFile::BuildKeys() {
  if (open_) return Fail(kFileAlreadyOpen, "close the file before rebuilding its keys");
  if (!PathExists(path_)) return Fail(kFileNotFound, "no file " + path_);
  if (ReadOnlyFile(path_)) return Fail(kAccessDenied, "file is read-only: " + path_);
  sqlite::ShareLock exclusive;
  int code =
      exclusive.Acquire(path_, kAccessReadWrite | kShareDenyAll, recover_ < 0 ? 0 : recover_);
  if (code != kNoError) return Fail(code, "file is in use: " + path_);
  std::string error;
  OwnConnection own;
  code = own.Open(path_, false, error);
  if (code != kNoError) return Fail(code, error);
  code = own.Exec("BEGIN IMMEDIATE", error);
  if (code != kNoError) return Fail(code, error);
  std::string table;
  std::vector<std::string> existing;
  {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(
        own.Db(), "SELECT name FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE",
        -1, &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, StemOf(path_).c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) table = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) {
      own.Exec("ROLLBACK", error);
      return Fail(rc == SQLITE_DONE ? kInvalidDeclaration : RuntimeCode(rc),
                  "no table " + StemOf(path_) + " in " + path_);
    }
    sqlite3_prepare_v2(
        own.Db(),
        "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name=?1 AND sql IS NOT NULL", -1,
        &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(stmt) == SQLITE_ROW)
      existing.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
  }
  std::string sql;
  for (int k = 1; k <= decl_.KeyCount(); ++k) {
    const auto& key = decl_.Key(k);
    for (const auto& name : existing)
      if (SameIgnoringCase(name, key.Label())) sql += "DROP INDEX " + Quote(name) + ";";
    sql += CreateIndexSql(decl_, key, table) + ";";
  }
  code = own.Exec(sql, error);
  if (code != kNoError) {
    std::string ignored;
    own.Exec("ROLLBACK", ignored);
    return Fail(code, error);
  }
  code = own.Exec("COMMIT", error);
  return Fail(code, code == kNoError ? "" : error);
}

int KeyedFile::Send(std::string_view option) {
  auto equals = option.find('=');
  const std::string name(TrimBlanks(UpperCase(option.substr(0, equals))));
  const std::string value(
      equals == std::string_view::npos ? "" : TrimBlanks(UpperCase(option.substr(equals + 1))));
  if (name == "RECOVER") {
    if (value.empty() || value.size() > 6 || !std::all_of(value.begin(), value.end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c));
        }))
      return Fail(kBadRequest, "Recover= needs a number of seconds");
    recover_ = std::stoi(value);
    return Fail(kNoError, "");
  }
  if (name == "CACHE") {
    if (value.empty() || value.size() > 7 || !std::all_of(value.begin(), value.end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c));
        }))
      return Fail(kBadRequest, "CACHE= needs a size in KiB");
    cacheKiB_ = std::max(64, std::stoi(value));
    if (open_) {
      std::string error;
      if (int code = conn_->Exec(
              "PRAGMA " + attached_->Schema + ".cache_size=-" + std::to_string(cacheKiB_), error))
        return Fail(code, error);
    }
    return Fail(kNoError, "");
  }
  if (name == "QUICKSCAN") {
    if (value != "ON" && value != "OFF" && value != "1" && value != "0")
      return Fail(kBadRequest, "QUICKSCAN= needs on or off");
    SetReadAhead(value == "ON" || value == "1" ? kQuickScanRecords : 0);
    return Fail(kNoError, "");
  }
  return Fail(kBadRequest, "unknown driver option " + std::string(option));
}

std::vector<SortTerm> KeyedFile::KeyTerms(int key) const {
  std::vector<SortTerm> terms;
  if (key == 0) return terms;
  const auto& k = decl_.Key(key);
  for (int field : k.Components)
    terms.push_back({field, KeyPartIsUpper(k, decl_.Field(field)), false});
  return terms;
}

KeysetCursor& KeyedFile::CursorFor(int key) {
  auto& slot = cursors_[key];
  if (!slot) {
    sqlite::CursorQuery query;
    query.Schema = attached_->Schema;
    query.Table = table_;
    query.Columns = columns_;
    query.Terms = KeyTerms(key);
    slot = std::make_unique<KeysetCursor>(*conn_, *attached_, decl_, std::move(query));
    slot->SetBatch(readAhead_);
  }
  return *slot;
}

void KeyedFile::SetReadAhead(int records) {
  readAhead_ = std::max(0, records);
  for (auto& [key, cursor] : cursors_) cursor->SetBatch(readAhead_);
  for (KeyedView* view : views_) view->ApplyBatch();
}

void KeyedFile::Became(std::int64_t rowid, bool read) {
  current_ = rowid;
  RememberRecord();
  if (read) {
    file_.SetLastRecordSize(file_.RecordLength());
    if (watchArmed_) {
      watchArmed_ = false;
      watchedRowid_ = rowid;
      watchedRecord_.assign(file_.Buffer(), file_.Buffer() + file_.RecordLength());
    }
  }
}

// Reads the row a statement stands on (rowid, then the columns) into the
// buffer; the buffer stays as it was when a field cannot hold its value.
int KeyedFile::ReadRow(sqlite3_stmt* stmt) {
  row_.clear();
  for (int f = 1; f <= decl_.FieldCount(); ++f) row_.push_back(sqlite::ReadColumn(stmt, f));
  std::int64_t rowid = sqlite3_column_int64(stmt, 0);
  if (int code = StoreRow(rowid, row_, rowRecord_)) return code;
  std::copy(rowRecord_.begin(), rowRecord_.end(), file_.Buffer());
  Became(rowid, true);
  return kNoError;
}

int KeyedFile::BindRecord(sqlite3_stmt* stmt, int first) {
  for (int f = 1; f <= decl_.FieldCount(); ++f)
    sqlite::BindValue(stmt, first + f - 1, sqlite::LoadField(file_.Buffer(), decl_, f));
  return first + decl_.FieldCount();
}

// Whether two declarations lay their records out alike, field by field, so
// that a record of one is a record of the other (a file and its alias).
bool SameLayout(const FileDeclaration& a, const FileDeclaration& b) {
  if (&a == &b) return true;
  if (a.FieldCount() != b.FieldCount() || a.RecordLength() != b.RecordLength()) return false;
  for (int f = 1; f <= a.FieldCount(); ++f) {
    const FieldLayout& x = *a.Layout(f);
    const FieldLayout& y = *b.Layout(f);
    if (x.Offset != y.Offset || x.ElementSize != y.ElementSize || x.Elements != y.Elements ||
        x.Type != y.Type || x.Places != y.Places || a.Field(f).Label() != b.Field(f).Label())
      return false;
  }
  return true;
}

// A walk in this key's order through a handle of the same file has usually
// just read the record sought (the purge fetches each punch its view reads
// through the alias): the walk's batch answers without a statement when it
// can tell the answer for certain (KeysetCursor::FirstWithValues).
bool KeyedFile::ReadAheadAnswers(int key) {
  const auto& terms = keyTerms_[static_cast<std::size_t>(key)];
  sought_.clear();
  for (const auto& term : terms) {
    if (term.Upper) return false;  // UPPER() in SQL is not our upper case
    sought_.push_back(sqlite::LoadField(file_.Buffer(), decl_, term.Field));
  }
  for (sqlite::ChangeListener* listener : attached_->Listeners) {
    auto* cursor = dynamic_cast<KeysetCursor*>(listener);
    if (!cursor) continue;
    if (sameLayout_ != &cursor->Declaration()) {
      if (!SameLayout(decl_, cursor->Declaration())) continue;
      sameLayout_ = &cursor->Declaration();
    }
    std::int64_t rowid = 0;
    if (cursor->FirstWithValues(terms, sought_, file_.Buffer(), rowid)) {
      Became(rowid, true);
      return true;
    }
  }
  return false;
}

int KeyedFile::GetByKey(int key) {
  if (int code = Ready()) return code;
  if (!ValidKey(key)) return Fail(kBadRequest, "no key " + std::to_string(key));
  if (ReadAheadAnswers(key)) return kNoError;
  const auto& k = decl_.Key(key);
  sought_.clear();
  for (int field : k.Components) sought_.push_back(sqlite::LoadField(file_.Buffer(), decl_, field));
  const bool resume = pendingRun_.After != 0 && pendingRun_.Key == key &&
                      pendingRun_.Transaction == conn_->Transaction() &&
                      pendingRun_.Departures == attached_->Pending.Departures() &&
                      pendingRun_.Values == sought_;
  int code;
  sqlite3_stmt* stmt = Prepared(
      resume ? getByKeyAfter_[key] : getByKey_[key],
      [&] {
        // The key's own index: it gives the first record in key order, and a walk
        // in that order finds its pages already in the cache.
        return SelectColumns(columns_) + " FROM " + attached_->Schema + "." + Quote(table_) +
               " INDEXED BY " + Quote(std::string(k.Label())) + " WHERE " +
               KeyEqualsValues(decl_, k) + (resume ? " AND rowid>?" : "") + " ORDER BY rowid";
      },
      code);
  if (!stmt) return code;
  int index = 1;
  for (const ColumnValue& value : sought_) sqlite::BindValue(stmt, index++, value);
  if (resume) sqlite3_bind_int64(stmt, index, pendingRun_.After);
  int rc;
  std::int64_t stepped = 0;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW &&
         attached_->Pending.Contains(sqlite3_column_int64(stmt, 0)))
    stepped = sqlite3_column_int64(stmt, 0);
  if (stepped != 0)
    pendingRun_ = {key, sought_, stepped, conn_->Transaction(), attached_->Pending.Departures()};
  code = rc == SQLITE_ROW    ? ReadRow(stmt)
         : rc == SQLITE_DONE ? Fail(kRecordNotAvailable, "no record with that key")
                             : FailSqlite();
  sqlite3_reset(stmt);
  return code;
}

int KeyedFile::GetByPointer(std::int64_t pointer) {
  if (int code = Ready()) return code;
  if (pointer <= 0) {
    current_ = 0;
    return Fail(kRecordNotAvailable, "no record at pointer " + std::to_string(pointer));
  }
  return ReadByRowid(pointer, nullptr);
}

int KeyedFile::SetKey(int key) {
  if (int code = Ready()) return code;
  if (key != 0 && !ValidKey(key)) return Fail(kBadRequest, "no key " + std::to_string(key));
  sequenceKey_ = key;
  CursorFor(key).ToEnds();
  return kNoError;
}

int KeyedFile::SetKeyValue(int key) {
  if (int code = Ready()) return code;
  if (!ValidKey(key)) return Fail(kBadRequest, "no key " + std::to_string(key));
  sequenceKey_ = key;
  auto& cursor = CursorFor(key);
  cursor.ToValues(cursor.SortValuesOf(file_.Buffer()));
  return kNoError;
}

int KeyedFile::Sequential(bool forward) {
  if (int code = Ready()) return code;
  auto& cursor = CursorFor(sequenceKey_);
  std::int64_t rowid = 0;
  int code = forward ? cursor.Next(file_.Buffer(), rowid) : cursor.Previous(file_.Buffer(), rowid);
  if (code == kNoError) {
    Became(rowid, true);
    return kNoError;
  }
  if (code == kRecordNotAvailable) return Fail(code, "end of file");
  return Fail(code, cursor.LastError());
}

int KeyedFile::Add() {
  if (int code = ReadyToWrite()) return code;
  if (int code = ApplyPending()) return code;
  int code;
  sqlite3_stmt* stmt = Prepared(
      insert_,
      [&] {
        std::string names, marks;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
          names += i ? "," : "";
          names += Quote(columns_[i]);
          marks += i ? ",?" : "?";
        }
        return "INSERT INTO " + attached_->Schema + "." + Quote(table_) + " (" + names +
               ") VALUES (" + marks + ")";
      },
      code);
  if (!stmt) return code;
  BindRecord(stmt, 1);
  int rc = sqlite3_step(stmt);
  code = rc == SQLITE_DONE ? kNoError : FailSqlite();
  sqlite3_reset(stmt);
  if (code != kNoError) return code;
  ++attached_->Adds;
  attached_->WrittenIn = conn_->Transaction();
  Became(sqlite3_last_insert_rowid(conn_->Db()), false);
  attached_->NotifyChanged();
  return kNoError;
}

int KeyedFile::Put() {
  if (int code = ReadyToWrite()) return code;
  if (current_ == 0) return Fail(kRecordNotAvailable, "no current record");
  if (int code = ApplyPending()) return code;
  bool watched = watchedRowid_ == current_ && !watchedRecord_.empty();
  std::string error;
  if (watched) {
    // Compare what the file holds now with what was read, and write only when
    // they agree, inside one savepoint so nobody can slip in between.
    if (int code = conn_->Exec("SAVEPOINT watched_put", error)) return Fail(code, error);
    std::vector<ColumnValue> stored;
    std::vector<std::uint8_t> now;
    int verdict = LoadRow(current_, stored, now);
    if (verdict == kRecordNotAvailable) verdict = Fail(verdict, "record is gone");
    if (verdict == kNoError && now != watchedRecord_)
      verdict = Fail(kRecordChanged, "record changed since it was read");
    if (verdict != kNoError) {
      std::string ignored;
      conn_->Exec("ROLLBACK TO watched_put; RELEASE watched_put", ignored);
      return verdict;
    }
  }
  int code;
  bool checked = NumberMayHaveMoved();
  sqlite3_stmt* stmt = Prepared(
      checked ? updateChecked_ : update_,
      [&] {
        std::string sets;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
          sets += i ? "," : "";
          sets += Quote(columns_[i]);
          sets += "=?";
        }
        return "UPDATE " + attached_->Schema + "." + Quote(table_) + " SET " + sets +
               " WHERE rowid=?" + (checked ? SameRecordSql() : "");
      },
      code);
  if (stmt) {
    int next = BindRecord(stmt, 1);
    sqlite3_bind_int64(stmt, next, current_);
    code = WriteCurrent(stmt, next + 1, checked);
  }
  if (watched) {
    std::string ignored;
    conn_->Exec(
        code == kNoError ? "RELEASE watched_put" : "ROLLBACK TO watched_put; RELEASE watched_put",
        ignored);
    watchedRowid_ = 0;
  }
  if (code == kNoError) {
    attached_->WrittenIn = conn_->Transaction();
    RememberRecord();
    attached_->NotifyChanged();
  }
  return code;
}

int KeyedFile::Delete() {
  if (int code = ReadyToWrite()) return code;
  if (current_ == 0) return Fail(kRecordNotAvailable, "no current record");
  if (attached_->Pending.Contains(current_)) return Fail(kRecordNotAvailable, "record is gone");
  if (KnownPresent() && MayPend()) return Pend();
  if (int code = ApplyPending()) return code;
  int code;
  bool checked = NumberMayHaveMoved();
  sqlite3_stmt* stmt = Prepared(
      checked ? deleteChecked_ : delete_,
      [&] {
        return "DELETE FROM " + attached_->Schema + "." + Quote(table_) + " WHERE rowid=?" +
               (checked ? SameRecordSql() : "");
      },
      code);
  if (!stmt) return code;
  sqlite3_bind_int64(stmt, 1, current_);
  code = WriteCurrent(stmt, 2, checked);
  if (code == kNoError) {
    ++attached_->Deletes;
    attached_->WrittenIn = conn_->Transaction();
    attached_->NotifyDeleted(current_);
    current_ = 0;
  }
  return code;
}

int KeyedFile::Duplicate(int key, bool& duplicate) {
  duplicate = false;
  if (int code = Ready()) return code;
  if (!ValidKey(key)) return Fail(kBadRequest, "no key " + std::to_string(key));
  const auto& k = decl_.Key(key);
  if (k.AllowsDuplicates()) return kNoError;
  int code;
  sqlite3_stmt* stmt = Prepared(
      duplicate_[key],
      [&] {
        std::string match = KeyEqualsValues(decl_, k);
        if (!match.empty()) match += " AND ";
        return "SELECT rowid FROM " + attached_->Schema + "." + Quote(table_) + " WHERE " + match +
               "rowid<>?";
      },
      code);
  if (!stmt) return code;
  int index = 1;
  for (int field : k.Components)
    sqlite::BindValue(stmt, index++, sqlite::LoadField(file_.Buffer(), decl_, field));
  sqlite3_bind_int64(stmt, index, current_);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW &&
         attached_->Pending.Contains(sqlite3_column_int64(stmt, 0))) {
  }
  duplicate = rc == SQLITE_ROW;
  code = rc == SQLITE_ROW || rc == SQLITE_DONE ? kNoError : FailSqlite();
  sqlite3_reset(stmt);
  return code;
}

// Positions: "R<rowid>;<identity value>;..." by record, the values letting a
// re-get refuse a number that now holds another record; "K<key>;<rowid>;
// <value>;..." by key, the values letting a reset find the place again after
// the record is gone. Values drop out of a position that would pass 1024
// characters.
int KeyedFile::Position(int key, std::string& position) {
  if (int code = Ready()) return code;
  if (key != 0 && !ValidKey(key)) return Fail(kBadRequest, "no key " + std::to_string(key));
  if (current_ == 0) return Fail(kRecordNotAvailable, "no current record");
  position = PositionText(key, current_,
                          sqlite::EncodeValues(key == 0 ? IdentityOf(readRecord_.data())
                                                        : CursorFor(key).SortValuesOf(file_.Buffer())));
  return kNoError;
}

namespace {
// A position by `key` with its values decoded.
bool ParseKeyedPosition(std::string_view text, int key, std::int64_t& rowid,
                        std::vector<ColumnValue>& values) {
  std::vector<std::string_view> parts;
  if (!ParsePosition(text, key, rowid, parts)) return false;
  for (std::string_view part : parts) {
    ColumnValue value;
    if (!sqlite::DecodeValue(part, value)) return false;
    values.push_back(std::move(value));
  }
  return true;
}
}  // namespace

int KeyedFile::Reget(int key, std::string_view position) {
  if (int code = Ready()) return code;
  std::int64_t rowid = 0;
  std::vector<ColumnValue> values;
  if ((key != 0 && !ValidKey(key)) || !ParseKeyedPosition(position, key, rowid, values))
    return Fail(kBadRequest, "not a position: " + std::string(position));
  if (key == 0 && !values.empty() && values.size() != identity_.size())
    return Fail(kBadRequest, "not a position: " + std::string(position));
  if (rowid <= 0) return GetByPointer(rowid);
  return ReadByRowid(rowid, key == 0 && !values.empty() ? &values : nullptr);
}

int KeyedFile::Reset(int key, std::string_view position) {
  if (int code = Ready()) return code;
  std::int64_t rowid = 0;
  std::vector<ColumnValue> values;
  if ((key != 0 && !ValidKey(key)) || !ParseKeyedPosition(position, key, rowid, values))
    return Fail(kBadRequest, "not a position: " + std::string(position));
  auto& cursor = CursorFor(key);
  if (key != 0 && values.size() != decl_.Key(key).Components.size())
    return Fail(kBadRequest, "position lacks its key values");
  sequenceKey_ = key;
  cursor.ToRecord(std::move(values), rowid, true);
  return kNoError;
}

// "<key>|<current rowid>|<its identity>|<cursor>".
std::string KeyedFile::SaveCursor() const {
  std::string saved = std::to_string(sequenceKey_) + "|" + std::to_string(current_) + "|" +
                      sqlite::EncodeValues(IdentityOf(readRecord_.data())) + "|";
  auto it = cursors_.find(sequenceKey_);
  if (it != cursors_.end()) saved += it->second->Save();
  return saved;
}

int KeyedFile::RestoreCursor(std::string_view saved) {
  if (int code = Ready()) return code;
  auto bar1 = saved.find('|');
  auto bar2 = bar1 == std::string_view::npos ? bar1 : saved.find('|', bar1 + 1);
  auto bar3 = bar2 == std::string_view::npos ? bar2 : saved.find('|', bar2 + 1);
  std::vector<ColumnValue> identity;
  if (bar3 == std::string_view::npos ||
      !sqlite::DecodeValues(saved.substr(bar2 + 1, bar3 - bar2 - 1), identity) ||
      identity.size() != identity_.size())
    return Fail(kBadRequest, "not a saved state");
  int key = 0;
  std::int64_t current = 0;
  try {
    key = std::stoi(std::string(saved.substr(0, bar1)));
    current = std::stoll(std::string(saved.substr(bar1 + 1, bar2 - bar1 - 1)));
  } catch (...) {
    return Fail(kBadRequest, "not a saved state");
  }
  if (key != 0 && !ValidKey(key)) return Fail(kBadRequest, "not a saved state");
  auto rest = saved.substr(bar3 + 1);
  if (!rest.empty() && !CursorFor(key).Restore(rest)) return Fail(kBadRequest, "not a saved state");
  if (rest.empty()) CursorFor(key).ToEnds();
  sequenceKey_ = key;
  current_ = current;
  std::fill(readRecord_.begin(), readRecord_.end(), 0);
  for (std::size_t i = 0; i < identity_.size(); ++i)
    sqlite::StoreField(identity[i], readRecord_.data(), decl_, identity_[i]);
  heldAtRead_ = false;
  return kNoError;
}

int KeyedFile::Records(std::int64_t& count) {
  count = 0;
  if (int code = Ready()) return code;
  int code;
  sqlite3_stmt* stmt = Prepared(
      count_, [&] { return "SELECT count(*) FROM " + attached_->Schema + "." + Quote(table_); },
      code);
  if (!stmt) return code;
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW)
    count = sqlite3_column_int64(stmt, 0) - static_cast<std::int64_t>(attached_->Pending.Count());
  code = rc == SQLITE_ROW ? kNoError : FailSqlite();
  sqlite3_reset(stmt);
  return code;
}

// SQLite's integrity check of the whole attached file: pages, records and
// every index against its table. It reports "ok" alone when all is sound.
int KeyedFile::CheckIntegrity(std::vector<std::string>& problems) {
  if (int code = Ready()) return code;
  std::string error;
  int code;
  Statement check =
      conn_->Prepare("PRAGMA " + attached_->Schema + ".integrity_check(100)", code, error);
  if (!check) return Fail(code, error);
  int rc;
  while ((rc = sqlite3_step(check.get())) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(check.get(), 0);
    std::string line = text ? reinterpret_cast<const char*>(text) : "";
    if (line != "ok") problems.push_back(std::move(line));
  }
  return rc == SQLITE_DONE ? kNoError : FailSqlite();
}

int KeyedFile::Bytes(std::int64_t& bytes) {
  struct stat st {};
  bytes = 0;
  if (::stat(path_.c_str(), &st) != 0) return Fail(kFileNotFound, "no file " + path_);
  bytes = st.st_size;
  return kNoError;
}

// Beginning, or joining the transaction begun on another file, takes this
// file's write lock at once, waiting up to `timeoutSeconds` for a writer in
// another connection (a process) to finish, so a file that someone else is
// changing refuses the transaction at its start. Left to the first write, the
// lock would not be waited for at all: SQLite refuses a write lock at once to
// a transaction that already read the file while another connection holds
// it, so every write would fail and the reads in between would keep that
// writer from committing. A file the transaction already read, files
// enlisted later, and a file open read-only take their lock at their first
// write, so a read-only file in the connection does not stop a transaction.
int KeyedFile::BeginTransaction(int timeoutSeconds) {
  if (int code = Ready()) return code;
  std::string error;
  const bool starts = !conn_->InTransaction();
  int code = conn_->Begin(error);
  if (code == kNoError && conn_->InTransaction() && !conn_->Holds(*attached_)) {
    // A write that changes nothing takes the write lock on this file alone;
    // on a file open for reading, a read takes the read lock, which keeps
    // every other connection from committing to it until the transaction
    // ends, so the transaction reads one state of the file throughout. Either
    // must come before any other read of the file in the transaction for
    // SQLite to wait.
    conn_->SetBusyTimeout(timeoutSeconds > 0 ? timeoutSeconds * 1000 : BusyMs());
    const std::string table = attached_->Schema + "." + Quote(table_);
    code = conn_->Exec(Writable() ? "DELETE FROM " + table + " WHERE 0"
                                  : "SELECT 1 FROM " + table + " LIMIT 1",
                       error);
    conn_->SetBusyTimeout(BusyMs());
    std::string ignored;
    if (code != kNoError && starts) conn_->Rollback(ignored);
  }
  return code == kNoError ? kNoError : Fail(code, error);
}

int KeyedFile::CommitTransaction() {
  if (int code = Ready()) return code;
  std::string error;
  int code = conn_->Commit(error);
  return code == kNoError ? kNoError : Fail(code, error);
}

int KeyedFile::RollbackTransaction() {
  if (int code = Ready()) return code;
  std::string error;
  int code = conn_->Rollback(error);
  return code == kNoError ? kNoError : Fail(code, error);
}

std::unique_ptr<ViewCursor> KeyedFile::OpenView(ViewQuery query, int& code) {
  code = Ready();
  if (code != kNoError) return nullptr;
  sqlite::CursorQuery cursorQuery;
  cursorQuery.Schema = attached_->Schema;
  cursorQuery.Table = table_;
  cursorQuery.Columns = columns_;
  for (const auto& term : query.Order) {
    if (term.Field < 1 || term.Field > decl_.FieldCount()) {
      code = Fail(kFilterSyntax, "order names no field of " + decl_.Label());
      return nullptr;
    }
    cursorQuery.Terms.push_back({term.Field, term.Upper, term.Descending});
  }
  if (query.Filter)
    cursorQuery.Filter =
        sqlite::FilterSql(*query.Filter, decl_, columns_, cursorQuery.FilterParams);
  auto cursor = std::make_unique<KeysetCursor>(*conn_, *attached_, decl_, std::move(cursorQuery));
  auto view = std::make_unique<KeyedView>(*this, std::move(cursor));
  view->ApplyBatch();
  views_.push_back(view.get());
  code = kNoError;
  return view;
}

}  // namespace

std::unique_ptr<Driver> MakeKeyedDriver(File& file) { return std::make_unique<KeyedFile>(file); }

}  // namespace rt
