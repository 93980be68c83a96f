// A sequential reader over one table on the server in a fixed order, by
// keyset pages: it remembers the sort values and record number of the last
// record it returned and reads the next page with one statement comparing
// against them, so no write anywhere makes it skip or repeat a record.
//
// A page read ahead is served while it is known to be current for this
// thread: a record deleted through any handle (at once or pending) is left
// out, and an add or put through any handle discards the rest of the page,
// which is then read again after the last record returned; so do the begin
// and end of a transaction. Commits of other connections reach the cursor
// with its next page (see keyed_driver.cpp). Inside a writing transaction a
// cursor that may lock reads its pages FOR SHARE: a row another transaction
// changed after the page found it and before the lock is not served from
// the page; the page ends before it and is read again from there.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/files/file_declaration.h"
#include "runtime/postgres/server_connection.h"

namespace rt::postgres {

// One sort term: a field (1-based), by its upper-case text when `Upper`.
struct SortTerm {
  int Field = 0;
  bool Upper = false;
  bool Descending = false;
};

// What the cursor reads: every declared column of `Table` (quoted) into the
// record, in `Terms` order then record number, limited by `Filter` (SQL with
// `?` placeholders bound from `FilterParams`, or empty).
struct PageQuery {
  std::string Table;
  std::vector<std::string> Columns;  // column names, in field order
  std::vector<SortTerm> Terms;
  std::string Filter;
  Params FilterParams;
  // The terms are a unique key's: no two records share their values, so the
  // pages are ordered by the terms alone, which the key's index serves as
  // it stands (the record number still decides where a page starts).
  bool Unique = false;
  // The rows read inside a writing transaction are locked (the handle is
  // open for writing: a locking clause needs the UPDATE privilege).
  bool Locks = false;
};

class PageCursor : public TableListener {
 public:
  // `connection` must outlive the cursor; `decl` is static.
  PageCursor(Connection& connection, const FileDeclaration& decl, PageQuery query);
  ~PageCursor() override;
  PageCursor(const PageCursor&) = delete;
  PageCursor& operator=(const PageCursor&) = delete;

  void ToEnds();  // Next reads the first record, Previous the last
  // At the first `values.size()` sort values: Next reads the first record at
  // or after them, Previous the last at or before them.
  void ToValues(std::vector<std::string> values);
  // At a record: Next and Previous read the records after and before it
  // (`inclusive`: Next reads the record itself when it still exists).
  void ToRecord(std::vector<std::string> values, std::int64_t number, bool inclusive);

  // Reads the next or previous record into `record`; 33 at the end; 47
  // (LastError names the column) for a record its fields cannot hold, with
  // `record` untouched and the cursor on that record.
  int Next(std::uint8_t* record, std::int64_t& number);
  int Previous(std::uint8_t* record, std::int64_t& number);

  // Records of the first page after the cursor is placed, 1 to kMaxPage (the
  // cap bounds the cursor's memory); each page read on from the end of the
  // last is twice as long, up to kMaxPage.
  static constexpr int kMaxPage = 5000;
  void SetBatch(int records) { page_ = records < 1 ? 1 : records > kMaxPage ? kMaxPage : records; }

  // The sort values of the record in `record`, as the server compares them.
  std::vector<std::string> SortValuesOf(const std::uint8_t* record) const;

  std::string Save() const;
  bool Restore(std::string_view saved);
  std::string LastError() const { return error_; }

  void RecordDeleted(std::int64_t number) override;
  void RecordsChanged() override;
  // The first record, in record-number order, whose sort values are `values`
  // for the ascending terms `fields` (by upper-case text where `upper`), when
  // this cursor's page shows it for certain: the cursor reads in exactly that
  // order without a filter, and the page holds a record with lesser values
  // before it, so no record of those values comes before the page. Records
  // deleted since the page was read (at once or pending) are passed over. The
  // answer is the page as read, as a sequential read would serve it. Writes
  // the record into `record` and gives true; false when the page cannot tell.
  bool FirstWithValues(const std::vector<int>& fields, const std::vector<bool>& upper,
                       const std::vector<std::string>& values, std::uint8_t* record,
                       std::int64_t& number) override;

 private:
  enum class Place { Ends, BeforeFirst, AfterLast, AtValues, AtRecord, FromRecord };
  int Read(bool forward, std::uint8_t* record, std::int64_t& number);
  int Fetch(bool forward);
  const std::string& StatementFor(bool forward, bool locked, std::vector<int>*& params);
  void DropPage();

  Connection& connection_;
  const FileDeclaration& decl_;
  PageQuery query_;
  std::vector<int> termColumn_;  // result column of each term's value

  Place place_ = Place::Ends;
  std::vector<std::string> values_;  // sort values of the place (terms only)
  std::int64_t number_ = 0;

  int page_ = 1;
  int run_ = 0;  // pages read one after another in one direction, less one
  Result rows_;
  int served_ = 0;  // rows of the page that may be served: a locked page ends before a changed row
  std::vector<bool> removed_;  // rows of the page deleted since it was read
  std::unordered_map<std::int64_t, int> rowOf_;  // record number -> row of the page
  int next_ = 0;               // first unread row of the page
  bool pageForward_ = true;

  std::vector<std::uint8_t> scratch_;
  struct Statement {
    std::string Sql;
    std::vector<int> Params;  // each placeholder's value: -1 the filter's, a term, or the number
  };
  std::map<int, Statement> statements_;
  std::string error_;
};

// Sort values as positions and saved places hold them (place_text.h): each
// encoded with its ';' before it. Decoding fails on anything but texts.
std::string EncodedTexts(const std::vector<std::string>& values);
bool DecodedTexts(const std::vector<std::string_view>& texts, std::vector<std::string>& values);

// Rewrites `?` placeholders as $1, $2, ... (none inside quoted names).
std::string NumberPlaceholders(const std::string& sql);

}  // namespace rt::postgres
