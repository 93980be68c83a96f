// A sequential reader over one table in a fixed order, by keyset pagination:
// it remembers the sort values and rowid of the last record it returned and
// reads the next batch with a comparison against them, so no write anywhere
// can make it skip or repeat a record (see keyed_driver.cpp).
//
// Batches read ahead are kept only while they are known to be current: the
// cursor listens to its attached file, drops a deleted record from the batch
// and discards the rest of the batch when a record is added or rewritten
// through this thread's connection; a commit through any other connection
// discards it too (Connection::UnchangedByOthers). A discarded batch is read
// again from the last record returned.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runtime/files/file_declaration.h"
#include "runtime/sqlite/record_codec.h"
#include "runtime/sqlite/sqlite_connection.h"

namespace rt::sqlite {

// One sort term: a field (1-based), by its upper-case text when `Upper`.
struct SortTerm {
  int Field = 0;
  bool Upper = false;
  bool Descending = false;
};

// What the cursor reads: `Table` in `Schema`, every declared column into the
// record, in `Terms` order then rowid, limited by `Filter` (SQL with `?`
// placeholders bound from `FilterParams`, or empty).
struct CursorQuery {
  std::string Schema;
  std::string Table;
  std::vector<std::string> Columns;  // column names, in field order
  std::vector<SortTerm> Terms;
  std::string Filter;
  std::vector<ColumnValue> FilterParams;
};

class KeysetCursor : public ChangeListener {
 public:
  // `connection` and `attached` must outlive the cursor; `decl` is static.
  KeysetCursor(Connection& connection, AttachedFile& attached, const FileDeclaration& decl,
               CursorQuery query);
  ~KeysetCursor() override;
  KeysetCursor(const KeysetCursor&) = delete;
  KeysetCursor& operator=(const KeysetCursor&) = delete;

  // Where the next read starts.
  void ToEnds();  // Next reads the first record, Previous the last
  // At the first `values.size()` sort values: Next reads the first record at
  // or after them, Previous the last at or before them.
  void ToValues(std::vector<ColumnValue> values);
  // At a record: Next and Previous read the records after and before it
  // (`inclusive`: Next reads the record itself when it still exists).
  void ToRecord(std::vector<ColumnValue> values, std::int64_t rowid, bool inclusive);

  // Reads the next or previous record into `record`; 33 at the end. On
  // success `rowid` is the record's rowid. 47 (LastError names the column)
  // for a record whose fields cannot hold what the file holds; `record` is
  // then untouched and the cursor stands on that record.
  int Next(std::uint8_t* record, std::int64_t& rowid);
  int Previous(std::uint8_t* record, std::int64_t& rowid);

  // Records read per batch, 1 to kMaxBatch: the cap keeps a cursor's memory
  // bounded (a few MiB) whatever read-ahead is asked for.
  static constexpr int kMaxBatch = 5000;
  void SetBatch(int records) {
    batch_ = records < 1 ? 1 : records > kMaxBatch ? kMaxBatch : records;
  }
  int Batch() const { return batch_; }

  // The sort values of the record in `record` (for positions).
  std::vector<ColumnValue> SortValuesOf(const std::uint8_t* record) const;

  // The place as text and back (for saved states).
  std::string Save() const;
  bool Restore(std::string_view saved);

  std::string LastError() const { return error_; }

  // Answers a read by key from the batch read ahead, when the batch shows the
  // answer for certain: the first record, by rowid, whose `terms` values
  // equal `values` and that is still in the file. That needs a batch read
  // forward with no filter, in exactly `terms` order, that is still current
  // (nobody else committed since), and in which those values begin after the
  // batch's first row, so nothing before the batch can hold them. On true the
  // record is in `record` (a record of this cursor's declaration) and its
  // rowid in `rowid`; on false the caller reads by statement.
  bool FirstWithValues(const std::vector<SortTerm>& terms, const std::vector<ColumnValue>& values,
                       std::uint8_t* record, std::int64_t& rowid);
  const FileDeclaration& Declaration() const { return decl_; }

  void RecordDeleted(std::int64_t rowid) override;
  void RecordsChanged() override;

 private:
  enum class Place { Ends, BeforeFirst, AfterLast, AtValues, AtRecord, FromRecord };
  // What one statement reads after a record: everything (Whole), or in two
  // steps the records with the same sort values and a later rowid
  // (GroupTail), then those with later sort values (PastGroup).
  enum class Part { Whole, GroupTail, PastGroup };
  int Read(bool forward, std::uint8_t* record, std::int64_t& rowid);
  int Fetch(bool forward);
  // Appends what `part` reads to the batch, up to the batch size.
  int FetchPart(bool forward, Part part);
  // Whether a read after the place goes in two steps (the sort terms all run
  // one way, so the group by rowid and then the later sort values are two
  // index ranges).
  bool SplitsAtRecord() const;
  int StatementId(bool forward, Part part) const;
  sqlite3_stmt* StatementFor(bool forward, Part part, int& code);
  void DropBatch();

  Connection& connection_;
  AttachedFile& attached_;
  const FileDeclaration& decl_;
  CursorQuery query_;
  int columns_ = 0;              // per row: rowid, the declared columns, the term values
  std::vector<int> termColumn_;  // result column of each term's value

  Place place_ = Place::Ends;
  std::vector<ColumnValue> values_;  // sort values of the place (terms only)
  std::int64_t rowid_ = 0;

  int batch_ = 1;
  std::vector<ColumnValue> rows_;  // the batch, row after row
  std::size_t next_ = 0;           // first unread row of the batch
  std::size_t rowCount_ = 0;
  bool batchForward_ = true;
  FileVersion batchVersion_;  // the file as the batch was read (batches of more than one)
  bool versioned_ = false;    // whether batchVersion_ belongs to the batch

  static constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);
  std::size_t decoded_ = kNoRow;  // the batch row whose record scratch_ holds

  std::vector<std::uint8_t> scratch_;           // a record read, before it goes to the buffer
  std::map<int, Statement> statements_;         // by StatementId
  std::map<int, std::vector<int>> paramOrder_;  // each statement's placeholder values
  std::string error_;
};

}  // namespace rt::sqlite
