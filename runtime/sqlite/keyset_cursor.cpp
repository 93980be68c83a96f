#include "runtime/sqlite/keyset_cursor.h"

#include <climits>

#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/files/keyset_order.h"
#include "runtime/files/place_text.h"

namespace rt::sqlite {
namespace {

constexpr std::int64_t kRemoved = LLONG_MIN;  // rowid of a row dropped from a batch
constexpr int kFilterParams = -1;               // a statement's placeholders for the filter

}  // namespace

KeysetCursor::KeysetCursor(Connection& connection, AttachedFile& attached,
                           const FileDeclaration& decl, CursorQuery query)
    : connection_(connection), attached_(attached), decl_(decl), query_(std::move(query)) {
  columns_ = 1 + static_cast<int>(query_.Columns.size());
  for (const auto& term : query_.Terms) {
    if (term.Upper) {
      termColumn_.push_back(columns_++);
    } else {
      termColumn_.push_back(term.Field);  // result column 0 is the rowid
    }
  }
  attached_.Listeners.push_back(this);
}

KeysetCursor::~KeysetCursor() { attached_.RemoveListener(this); }

void KeysetCursor::DropBatch() {
  rows_.clear();
  next_ = rowCount_ = 0;
  versioned_ = false;
  decoded_ = kNoRow;
}

void KeysetCursor::ToEnds() {
  DropBatch();
  place_ = Place::Ends;
  values_.clear();
}

void KeysetCursor::ToValues(std::vector<ColumnValue> values) {
  DropBatch();
  if (values.empty() || query_.Terms.empty()) return ToEnds();
  if (values.size() > query_.Terms.size()) values.resize(query_.Terms.size());
  place_ = Place::AtValues;
  values_ = std::move(values);
}

void KeysetCursor::ToRecord(std::vector<ColumnValue> values, std::int64_t rowid, bool inclusive) {
  DropBatch();
  place_ = inclusive ? Place::FromRecord : Place::AtRecord;
  values_ = std::move(values);
  values_.resize(query_.Terms.size());
  rowid_ = rowid;
}

// Rows already served are marked too: FirstWithValues looks back at them. A
// rowid stands once in a batch, and the record deleted is most often the one
// just served.
void KeysetCursor::RecordDeleted(std::int64_t rowid) {
  if (next_ > 0 && rows_[(next_ - 1) * columns_].Int == rowid) {
    rows_[(next_ - 1) * columns_].Int = kRemoved;
    return;
  }
  for (std::size_t i = 0; i < rowCount_; ++i) {
    auto& id = rows_[i * columns_].Int;
    if (id == rowid) {
      id = kRemoved;
      return;
    }
  }
}

void KeysetCursor::RecordsChanged() { DropBatch(); }

std::vector<ColumnValue> KeysetCursor::SortValuesOf(const std::uint8_t* record) const {
  std::vector<ColumnValue> values;
  for (const auto& term : query_.Terms) {
    ColumnValue value = LoadField(record, decl_, term.Field);
    if (term.Upper) value.Bytes = UpperCase(value.Bytes);
    values.push_back(std::move(value));
  }
  return values;
}

int KeysetCursor::StatementId(bool forward, Part part) const {
  const int valueCount = place_ == Place::AtValues ? static_cast<int>(values_.size()) : 0;
  return (forward ? 1 : 0) | static_cast<int>(place_) << 1 | valueCount << 4 |
         static_cast<int>(part) << 12;
}

sqlite3_stmt* KeysetCursor::StatementFor(bool forward, Part part, int& code) {
  const int id = StatementId(forward, part);
  auto found = statements_.find(id);
  if (found != statements_.end()) {
    code = kNoError;
    return found->second.get();
  }
  std::vector<std::string> terms;
  std::vector<bool> up;
  for (const auto& term : query_.Terms) {
    std::string column = Quote(query_.Columns[term.Field - 1]);
    terms.push_back(term.Upper ? "UPPER(" + column + ")" : column);
    up.push_back(forward != term.Descending);
  }
  const int termCount = static_cast<int>(terms.size());
  std::string sql = "SELECT rowid";
  for (const auto& column : query_.Columns) {
    sql += ",";  // appended: GCC 12 at -O2 warns on `"," + text` (-Wrestrict)
    sql += Quote(column);
  }
  for (std::size_t i = 0; i < query_.Terms.size(); ++i)
    if (query_.Terms[i].Upper) sql += "," + terms[i];
  sql += " FROM " + Quote(query_.Schema) + "." + Quote(query_.Table);
  // Placeholders: kFilterParams stands for the filter's own values, an index
  // below the number of sort values for that value, any other for the rowid.
  std::vector<int> params;
  std::vector<std::string> conditions;
  if (!query_.Filter.empty()) {
    conditions.push_back("(" + query_.Filter + ")");
    params.push_back(kFilterParams);
  }
  const bool atRecord = place_ == Place::AtRecord || place_ == Place::FromRecord;
  const bool inclusive = place_ == Place::FromRecord;
  const std::string rowidOp = forward ? (inclusive ? ">=" : ">") : (inclusive ? "<=" : "<");
  if (place_ == Place::AtValues) {
    conditions.push_back(KeysetBeyond(terms, up, static_cast<int>(values_.size()), true, params));
  } else if (atRecord && part == Part::GroupTail) {
    for (int i = 0; i < termCount; ++i) {
      conditions.push_back(terms[i] + " = ?");
      params.push_back(i);
    }
    conditions.push_back("rowid " + rowidOp + " ?");
    params.push_back(termCount);
  } else if (atRecord && part == Part::PastGroup) {
    conditions.push_back(KeysetBeyond(terms, up, termCount, false, params));
  } else if (atRecord) {
    auto withRowid = terms;
    auto upWithRowid = up;
    withRowid.push_back("rowid");
    upWithRowid.push_back(forward);
    conditions.push_back(KeysetBeyond(withRowid, upWithRowid, termCount + 1, inclusive, params));
  }
  for (std::size_t i = 0; i < conditions.size(); ++i)
    sql += (i ? " AND " : " WHERE ") + conditions[i];
  sql += " ORDER BY ";
  if (part != Part::GroupTail)
    for (int i = 0; i < termCount; ++i) sql += terms[i] + (up[i] ? " ASC," : " DESC,");
  sql += forward ? "rowid ASC" : "rowid DESC";
  sql += " LIMIT ?";
  Statement stmt = connection_.Prepare(sql, code, error_);
  if (!stmt) return nullptr;
  // The placeholders' value order is fixed by the statement; keep it with it.
  paramOrder_[id] = std::move(params);
  return statements_.emplace(id, std::move(stmt)).first->second.get();
}

bool KeysetCursor::SplitsAtRecord() const {
  if (place_ != Place::AtRecord && place_ != Place::FromRecord) return false;
  if (query_.Terms.empty()) return false;
  for (const auto& term : query_.Terms)
    if (term.Descending != query_.Terms.front().Descending) return false;
  return true;
}

int KeysetCursor::Fetch(bool forward) {
  DropBatch();
  batchForward_ = forward;
  if ((place_ == Place::BeforeFirst && !forward) || (place_ == Place::AfterLast && forward))
    return kNoError;
  // Taken before reading: a commit in between only costs a second read.
  if (batch_ > 1) batchVersion_ = connection_.Version(attached_);
  versioned_ = batch_ > 1;
  if (!SplitsAtRecord()) return FetchPart(forward, Part::Whole);
  // One comparison over the sort values and the rowid would make SQLite seek
  // by the sort values alone and step over every record of the group before
  // the cursor's: a walk through many records with equal sort values would
  // take quadratic time. So the rest of the group is read by rowid first.
  if (int code = FetchPart(forward, Part::GroupTail); code != kNoError) return code;
  if (rowCount_ >= static_cast<std::size_t>(batch_)) return kNoError;
  return FetchPart(forward, Part::PastGroup);
}

int KeysetCursor::FetchPart(bool forward, Part part) {
  int code = kNoError;
  sqlite3_stmt* stmt = StatementFor(forward, part, code);
  if (!stmt) return code;
  int index = 1;
  for (int which : paramOrder_[StatementId(forward, part)]) {
    if (which == kFilterParams) {
      for (const auto& param : query_.FilterParams) BindValue(stmt, index++, param);
    } else if (which < static_cast<int>(values_.size())) {
      BindValue(stmt, index++, values_[which]);
    } else {
      sqlite3_bind_int64(stmt, index++, rowid_);
    }
  }
  sqlite3_bind_int(stmt, index, batch_ - static_cast<int>(rowCount_));
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    for (int c = 0; c < columns_; ++c) rows_.push_back(ReadColumn(stmt, c));
    ++rowCount_;
  }
  if (rc != SQLITE_DONE) {
    error_ = sqlite3_errmsg(connection_.Db());
    code = RuntimeCode(sqlite3_extended_errcode(connection_.Db()));
    sqlite3_reset(stmt);
    DropBatch();
    return code == kNoError ? kBadRequest : code;
  }
  sqlite3_reset(stmt);
  return kNoError;
}

int KeysetCursor::Read(bool forward, std::uint8_t* record, std::int64_t& rowid) {
  for (;;) {
    bool fetch = batchForward_ != forward || next_ >= rowCount_;
    // Rows read ahead are served only while no other connection has committed
    // to the file since (a batch just read needs no asking).
    if (!fetch && next_ > 0) fetch = !connection_.UnchangedByOthers(attached_, batchVersion_);
    if (fetch) {
      int code = Fetch(forward);
      if (code != kNoError) return code;
      if (rowCount_ == 0) {
        place_ = forward ? Place::AfterLast : Place::BeforeFirst;
        return kRecordNotAvailable;
      }
    }
    const ColumnValue* row = &rows_[next_ * columns_];
    ++next_;
    if (row[0].Int == kRemoved) continue;
    // The cursor moves onto the record even when its fields cannot hold what
    // the file holds: the next read goes on after it instead of failing on it
    // again, and the buffer is left as it was. It moves onto a record whose
    // delete is pending too, and on past it: the file still holds it, so the
    // next batch would otherwise begin with it again.
    rowid_ = row[0].Int;
    place_ = Place::AtRecord;
    values_.resize(termColumn_.size());
    for (std::size_t t = 0; t < termColumn_.size(); ++t) values_[t] = row[termColumn_[t]];
    if (attached_.Pending.Contains(rowid_)) continue;
    decoded_ = kNoRow;
    scratch_.assign(decl_.RecordLength(), 0);
    std::string why;
    if (!StoreRecord(row + 1, scratch_.data(), decl_, why)) {
      error_ = UnreadableRecord(rowid_, row + 1, decl_, why);
      return kInvalidDeclaration;
    }
    decoded_ = next_ - 1;
    std::copy(scratch_.begin(), scratch_.end(), record);
    rowid = rowid_;
    return kNoError;
  }
}

namespace {

enum class Match { Equal, Different, Unsure };

// Whether a value read compares equal in SQL to a value looked for. Values of
// different kinds may still compare equal in SQL (5.0 and 5): unsure.
Match Compare(const ColumnValue& read, const ColumnValue& sought) {
  if (read.Kind != sought.Kind) return Match::Unsure;
  return read == sought ? Match::Equal : Match::Different;
}

}  // namespace

bool KeysetCursor::FirstWithValues(const std::vector<SortTerm>& terms,
                                   const std::vector<ColumnValue>& values, std::uint8_t* record,
                                   std::int64_t& rowid) {
  if (!batchForward_ || rowCount_ < 2 || !versioned_ || !query_.Filter.empty() ||
      terms.size() != query_.Terms.size() || values.size() != terms.size())
    return false;
  for (std::size_t t = 0; t < terms.size(); ++t) {
    const auto& mine = query_.Terms[t];
    if (mine.Field != terms[t].Field || mine.Upper || terms[t].Upper || mine.Descending ||
        terms[t].Descending)
      return false;
  }
  // Each row: does it hold the values? Unsure ends the search.
  auto matches = [&](std::size_t row, bool& unsure) {
    const ColumnValue* read = &rows_[row * columns_];
    bool all = true;
    for (std::size_t t = 0; t < termColumn_.size(); ++t) {
      Match m = Compare(read[termColumn_[t]], values[t]);
      if (m == Match::Unsure) unsure = true;
      all = all && m == Match::Equal;
    }
    return all;
  };
  // The batch is one stretch of the order as it was read; the records holding
  // the values are one run in it, by rowid, unless that run starts the batch.
  // Most often the record sought is the one just served: look back from it.
  bool unsure = false;
  std::size_t first = 0;
  if (next_ > 0 && matches(next_ - 1, unsure)) {
    first = next_ - 1;
    while (first > 0 && matches(first - 1, unsure)) --first;
  } else {
    while (first < rowCount_ && !unsure && !matches(first, unsure)) ++first;
  }
  if (unsure || first == 0 || first == rowCount_) return false;
  FileVersion seen = batchVersion_;
  if (!connection_.UnchangedByOthers(attached_, seen)) {
    DropBatch();  // stale for every reader: the next read goes to the file
    return false;
  }
  batchVersion_ = seen;
  for (std::size_t row = first; row < rowCount_ && matches(row, unsure) && !unsure; ++row) {
    const ColumnValue* found = &rows_[row * columns_];
    if (found[0].Int == kRemoved || attached_.Pending.Contains(found[0].Int)) continue;
    if (row != decoded_) {
      // A record its fields cannot hold: the statement gives the refusal.
      std::vector<std::uint8_t> decoded(decl_.RecordLength(), 0);
      std::string why;
      if (!StoreRecord(found + 1, decoded.data(), decl_, why)) return false;
      std::copy(decoded.begin(), decoded.end(), record);
    } else {
      std::copy(scratch_.begin(), scratch_.end(), record);
    }
    rowid = found[0].Int;
    return true;
  }
  return false;
}

int KeysetCursor::Next(std::uint8_t* record, std::int64_t& rowid) {
  return Read(true, record, rowid);
}

int KeysetCursor::Previous(std::uint8_t* record, std::int64_t& rowid) {
  return Read(false, record, rowid);
}

std::string KeysetCursor::Save() const {
  return SavedPlaceText(static_cast<int>(place_), rowid_, EncodeValues(values_));
}

bool KeysetCursor::Restore(std::string_view saved) {
  int place = 0;
  std::int64_t rowid = 0;
  std::vector<std::string_view> texts;
  if (!ParseSavedPlace(saved, static_cast<int>(Place::FromRecord), place, rowid, texts) ||
      texts.size() > query_.Terms.size())
    return false;
  std::vector<ColumnValue> values;
  for (std::string_view text : texts) {
    ColumnValue value;
    if (!DecodeValue(text, value)) return false;
    values.push_back(std::move(value));
  }
  const auto at = static_cast<Place>(place);
  if ((at == Place::AtRecord || at == Place::FromRecord) && values.size() != query_.Terms.size())
    return false;
  DropBatch();
  place_ = at;
  rowid_ = rowid;
  values_ = std::move(values);
  if (place_ == Place::AtValues && values_.empty()) place_ = Place::Ends;
  return true;
}

}  // namespace rt::sqlite
