#include "runtime/postgres/page_cursor.h"

#include <algorithm>

#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/files/keyset_order.h"
#include "runtime/files/place_text.h"
#include "runtime/postgres/column_form.h"
#include "runtime/sqlite/record_codec.h"

namespace rt::postgres {
namespace {

constexpr int kFilterParams = -1;
constexpr char kNumber[] = "veltrane_record";

}  // namespace

std::string NumberPlaceholders(const std::string& sql) {
  std::string out;
  int next = 1;
  bool quoted = false;
  for (char c : sql) {
    if (c == '"') quoted = !quoted;
    if (c == '?' && !quoted) {
      out += '$';
      out += std::to_string(next++);
    } else {
      out += c;
    }
  }
  return out;
}

PageCursor::PageCursor(Connection& connection, const FileDeclaration& decl, PageQuery query)
    : connection_(connection), decl_(decl), query_(std::move(query)) {
  int columns = 1 + static_cast<int>(query_.Columns.size());
  for (const auto& term : query_.Terms) termColumn_.push_back(term.Upper ? columns++ : term.Field);
  connection_.Listen(query_.Table, this);
}

PageCursor::~PageCursor() { connection_.Unlisten(query_.Table, this); }

void PageCursor::DropPage() {
  rows_ = Result();
  served_ = 0;
  removed_.clear();
  rowOf_.clear();
  next_ = 0;
}

void PageCursor::ToEnds() {
  DropPage();
  place_ = Place::Ends;
  values_.clear();
}

void PageCursor::ToValues(std::vector<std::string> values) {
  DropPage();
  if (values.empty() || query_.Terms.empty()) return ToEnds();
  if (values.size() > query_.Terms.size()) values.resize(query_.Terms.size());
  place_ = Place::AtValues;
  values_ = std::move(values);
}

void PageCursor::ToRecord(std::vector<std::string> values, std::int64_t number, bool inclusive) {
  DropPage();
  place_ = inclusive ? Place::FromRecord : Place::AtRecord;
  values_ = std::move(values);
  values_.resize(query_.Terms.size());
  number_ = number;
}

void PageCursor::RecordDeleted(std::int64_t number) {
  // Rows already served are marked too: a fetch by key answered from the page
  // must not find a record deleted at once after the walk passed it.
  auto found = rowOf_.find(number);
  if (found != rowOf_.end()) removed_[found->second] = true;
}

void PageCursor::RecordsChanged() { DropPage(); }

bool PageCursor::FirstWithValues(const std::vector<int>& fields, const std::vector<bool>& upper,
                                 const std::vector<std::string>& values, std::uint8_t* record,
                                 std::int64_t& number) {
  if (!pageForward_ || served_ == 0 || !query_.Filter.empty() ||
      fields.size() != query_.Terms.size() || values.size() != query_.Terms.size())
    return false;
  for (std::size_t t = 0; t < fields.size(); ++t)
    if (query_.Terms[t].Field != fields[t] || query_.Terms[t].Upper != upper[t] ||
        query_.Terms[t].Descending)
      return false;
  auto matches = [&](int row) {
    for (std::size_t t = 0; t < termColumn_.size(); ++t)
      if (values[t] != std::string_view(rows_.Value(row, termColumn_[t]),
                                        rows_.Length(row, termColumn_[t])))
        return false;
    return true;
  };
  // Records of equal values stand together in the page; the walk usually asks
  // for the values of the row it served last, so look there first.
  int first = std::clamp(next_ - 1, 0, served_ - 1);
  if (matches(first)) {
    while (first > 0 && matches(first - 1)) --first;
  } else {
    first = 0;
    while (first < served_ && !matches(first)) ++first;
  }
  if (first == 0 || first == served_) return false;  // nothing shows what comes before
  for (int row = first; row < served_ && matches(row); ++row) {
    const std::int64_t candidate = std::atoll(rows_.Value(row, 0));
    if (removed_[row] || connection_.IsPending(query_.Table, candidate)) continue;
    scratch_.assign(decl_.RecordLength(), 0);
    for (int f = 1; f <= decl_.FieldCount(); ++f)
      if (!StoreText(rows_.Value(row, f), rows_.Length(row, f), scratch_.data(), decl_, f))
        return false;  // the server's read gives the refusal with its text
    std::copy(scratch_.begin(), scratch_.end(), record);
    number = candidate;
    return true;
  }
  return false;
}

std::vector<std::string> PageCursor::SortValuesOf(const std::uint8_t* record) const {
  std::vector<std::string> values;
  for (const auto& term : query_.Terms) {
    std::string value = FieldText(record, decl_, term.Field);
    values.push_back(term.Upper ? UpperCase(value) : value);
  }
  return values;
}

const std::string& PageCursor::StatementFor(bool forward, bool locked, std::vector<int>*& params) {
  const int valueCount = place_ == Place::AtValues ? static_cast<int>(values_.size()) : 0;
  const int id =
      (forward ? 1 : 0) | static_cast<int>(place_) << 1 | (locked ? 1 : 0) << 4 | valueCount << 5;
  auto found = statements_.find(id);
  if (found != statements_.end()) {
    params = &found->second.Params;
    return found->second.Sql;
  }
  std::vector<std::string> terms;
  std::vector<bool> up;
  for (const auto& term : query_.Terms) {
    std::string column = Quote(query_.Columns[term.Field - 1]);
    terms.push_back(term.Upper ? "upper(" + column + ")" : column);
    up.push_back(forward != term.Descending);
  }
  const int termCount = static_cast<int>(terms.size());
  std::string sql = "SELECT ";
  sql += kNumber;
  for (const auto& column : query_.Columns) {
    sql += ",";
    sql += Quote(column);
  }
  for (std::size_t i = 0; i < query_.Terms.size(); ++i)
    if (query_.Terms[i].Upper) sql += "," + terms[i];
  if (locked) sql += ",ctid AS veltrane_version";
  sql += " FROM " + query_.Table;
  Statement statement;
  std::vector<std::string> conditions;
  if (!query_.Filter.empty()) {
    conditions.push_back("(" + query_.Filter + ")");
    statement.Params.push_back(kFilterParams);
  }
  if (place_ == Place::AtValues) {
    conditions.push_back(KeysetBeyond(terms, up, valueCount, true, statement.Params));
  } else if ((place_ == Place::AtRecord || place_ == Place::FromRecord) && query_.Unique &&
             termCount > 0) {
    // At most one record holds the place's values: one after it in number
    // order can only be another that took those values since.
    conditions.push_back(KeysetBeyond(terms, up, termCount, true, statement.Params));
    std::string same;
    for (int i = 0; i < termCount; ++i) {
      same += (i ? " OR " : "") + terms[i] + " <> ?";
      statement.Params.push_back(i);
    }
    conditions.push_back("(" + same + " OR " + kNumber + (forward ? " >" : " <") +
                         (place_ == Place::FromRecord ? "= ?)" : " ?)"));
    statement.Params.push_back(termCount);
  } else if (place_ == Place::AtRecord || place_ == Place::FromRecord) {
    auto withNumber = terms;
    auto upWithNumber = up;
    withNumber.push_back(kNumber);
    upWithNumber.push_back(forward);
    conditions.push_back(KeysetBeyond(withNumber, upWithNumber, termCount + 1,
                                      place_ == Place::FromRecord, statement.Params));
  }
  for (std::size_t i = 0; i < conditions.size(); ++i)
    sql += (i ? " AND " : " WHERE ") + conditions[i];
  sql += " ORDER BY ";
  for (int i = 0; i < termCount; ++i) sql += terms[i] + (up[i] ? " ASC," : " DESC,");
  if (query_.Unique && termCount > 0)
    sql.pop_back();
  else
    sql += std::string(kNumber) + (forward ? " ASC" : " DESC");
  sql += " LIMIT ?";
  if (locked) {
    // Each row version the page read is locked where it stands (a TID scan,
    // no index): true when it is still the row's version, not true when
    // another transaction changed or deleted the row in between (a changed
    // row's new version may stand elsewhere in the order). A locking clause
    // on the page's own scan would serve a changed row's new values in its
    // old place, and the next page would start from there. The lateral join
    // is a nested loop over the page, so the rows keep the page's order.
    sql = "SELECT p.*, l.veltrane_version = p.veltrane_version FROM (" + sql +
          ") p LEFT JOIN LATERAL (SELECT ctid AS veltrane_version FROM " + query_.Table +
          " WHERE ctid = p.veltrane_version FOR SHARE) l ON true";
  }
  statement.Sql = NumberPlaceholders(sql);
  auto& made = statements_.emplace(id, std::move(statement)).first->second;
  params = &made.Params;
  return made.Sql;
}

int PageCursor::Fetch(bool forward) {
  DropPage();
  pageForward_ = forward;
  if ((place_ == Place::BeforeFirst && !forward) || (place_ == Place::AfterLast && forward))
    return kNoError;
  std::vector<int>* order = nullptr;
  const bool locked = query_.Locks && connection_.LocksReads();
  const std::string& sql = StatementFor(forward, locked, order);
  Params params;
  for (int which : *order) {
    if (which == kFilterParams) {
      params.insert(params.end(), query_.FilterParams.begin(), query_.FilterParams.end());
    } else if (which < static_cast<int>(values_.size())) {
      params.push_back(values_[which]);
    } else {
      params.push_back(std::to_string(number_));
    }
  }
  // A walk that reads page after page in one direction gets pages twice as
  // long each time, up to kMaxPage: a round trip per page costs far more
  // than a record, while a cursor just placed reads only what was asked.
  params.push_back(std::to_string(std::min(kMaxPage, page_ << std::min(run_, 16))));
  // Pending deletes stay pending: the rows they name are left out as they are served.
  int code = connection_.RunKeepingPending(sql, params, rows_);
  if (code != kNoError) {
    error_ = connection_.Error();
    DropPage();
    return code;
  }
  served_ = rows_.Rows();
  removed_.assign(served_, false);
  if (locked) {
    const int same = PQnfields(rows_.get()) - 1;
    for (int row = 0; row < served_; ++row) {
      if (rows_.Null(row, same) || rows_.Value(row, same)[0] != 't') {
        served_ = row;  // the next page reads it as it is now, or finds it gone
        break;
      }
    }
  }
  rowOf_.clear();
  rowOf_.reserve(served_);
  for (int row = 0; row < served_; ++row) rowOf_[std::atoll(rows_.Value(row, 0))] = row;
  return kNoError;
}

int PageCursor::Read(bool forward, std::uint8_t* record, std::int64_t& number) {
  for (;;) {
    if (pageForward_ != forward || next_ >= served_) {
      const bool onward = pageForward_ == forward && rows_.Rows() > 0;
      run_ = onward ? run_ + 1 : 0;
      if (int code = Fetch(forward)) return code;
      if (rows_.Rows() == 0) {
        place_ = forward ? Place::AfterLast : Place::BeforeFirst;
        return kRecordNotAvailable;
      }
      if (served_ == 0) continue;  // its first row changed under the lock: read it again
    }
    const int row = next_++;
    // The cursor moves onto every row it passes, served or not, so that the
    // next page starts after it (a page of rows deleted but still pending
    // would otherwise be read again and again).
    number_ = std::atoll(rows_.Value(row, 0));
    place_ = Place::AtRecord;
    values_.resize(termColumn_.size());
    for (std::size_t t = 0; t < termColumn_.size(); ++t)
      values_[t].assign(rows_.Value(row, termColumn_[t]), rows_.Length(row, termColumn_[t]));
    if (removed_[row] || connection_.IsPending(query_.Table, number_)) continue;
    scratch_.assign(decl_.RecordLength(), 0);
    for (int f = 1; f <= decl_.FieldCount(); ++f) {
      if (StoreText(rows_.Value(row, f), rows_.Length(row, f), scratch_.data(), decl_, f)) continue;
      const std::string label(decl_.Field(f).Label());
      error_ = "record " + std::to_string(number_) + ": column " + label + " holds '" +
               std::string(rows_.Value(row, f)).substr(0, 40) + "', which field " + label +
               " cannot hold";
      return kInvalidDeclaration;
    }
    std::copy(scratch_.begin(), scratch_.end(), record);
    number = number_;
    return kNoError;
  }
}

int PageCursor::Next(std::uint8_t* record, std::int64_t& number) {
  return Read(true, record, number);
}

int PageCursor::Previous(std::uint8_t* record, std::int64_t& number) {
  return Read(false, record, number);
}

std::string PageCursor::Save() const {
  return SavedPlaceText(static_cast<int>(place_), number_, EncodedTexts(values_));
}

bool PageCursor::Restore(std::string_view saved) {
  int place = 0;
  std::int64_t number = 0;
  std::vector<std::string_view> texts;
  std::vector<std::string> values;
  if (!ParseSavedPlace(saved, static_cast<int>(Place::FromRecord), place, number, texts) ||
      !DecodedTexts(texts, values) || values.size() > query_.Terms.size())
    return false;
  const auto at = static_cast<Place>(place);
  if ((at == Place::AtRecord || at == Place::FromRecord) && values.size() != query_.Terms.size())
    return false;
  DropPage();
  place_ = at;
  number_ = number;
  values_ = std::move(values);
  if (place_ == Place::AtValues && values_.empty()) place_ = Place::Ends;
  return true;
}

std::string EncodedTexts(const std::vector<std::string>& values) {
  std::string encoded;
  for (const auto& value : values) {
    sqlite::ColumnValue text;
    text.Kind = sqlite::ColumnKind::Text;
    text.Bytes = value;
    encoded += ";" + sqlite::EncodeValue(text);
  }
  return encoded;
}

bool DecodedTexts(const std::vector<std::string_view>& texts, std::vector<std::string>& values) {
  values.clear();
  for (std::string_view text : texts) {
    sqlite::ColumnValue value;
    if (!sqlite::DecodeValue(text, value) || value.Kind != sqlite::ColumnKind::Text) return false;
    values.push_back(std::move(value.Bytes));
  }
  return true;
}

}  // namespace rt::postgres
