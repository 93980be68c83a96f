#include "tools/veltrane-data/csv_table.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <iterator>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <ostream>

#include "runtime/core/decimal.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/core/text.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/text/latin1.h"
#include "tools/veltrane-data/progress_line.h"

namespace veltrane_data {
namespace {

std::string Quoted(const std::string& cell) {
  bool quote = !cell.empty() && (cell.front() == ' ' || cell.back() == ' ');
  quote = quote || cell.find_first_of(",\"\r\n") != std::string::npos;
  if (!quote) return cell;
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// How a column's values are written for people. Besides the date fields, the
// schema keeps day numbers in long fields whose label ends in DATE
// (TIM:DUTYDATE) and clock times, hundredths of a second since midnight, in
// long fields whose label ends in TIME (TIM:PUNCH_TIME).
enum class Shown { Plain, Date, Time };

struct Column {
  int Field;
  int Element;
  std::string Header;
  Shown As;
};

Shown ShownAs(const rt::FieldDeclaration& field) {
  if (field.Type == rt::FieldType::Date) return Shown::Date;
  if (field.Type != rt::FieldType::Long) return Shown::Plain;
  std::string_view label = field.Label();
  auto endsWith = [&](std::string_view end) {
    return label.size() >= end.size() && label.substr(label.size() - end.size()) == end;
  };
  return endsWith("DATE") ? Shown::Date : endsWith("TIME") ? Shown::Time : Shown::Plain;
}

constexpr std::int64_t kDayHundredths = 24 * 60 * 60 * 100;

// A date as MM/DD/YYYY, empty for 0; a value no date shows stays a number.
std::string DateText(std::int64_t day) {
  if (day == 0) return {};
  std::string text = rt::Format(day, "D02");
  auto back = rt::Deformat(text, "D02");
  return back && *back == day ? text : std::to_string(day);
}

// A clock time as HH:MM:SS.hh; a value outside one day stays a number.
std::string TimeText(std::int64_t time) {
  if (time < 0 || time >= kDayHundredths) return std::to_string(time);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%02d", static_cast<int>(time / 360000),
                static_cast<int>(time / 6000 % 60), static_cast<int>(time / 100 % 60),
                static_cast<int>(time % 100));
  return text;
}

// H:MM, H:MM:SS or H:MM:SS.hh (one or two digits each for the hour and the
// hundredths) as hundredths of a second since midnight.
std::optional<std::int64_t> ParseTime(std::string_view text) {
  std::int64_t parts[4] = {0, 0, 0, 0};
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t start = i;
    while (i < text.size() && i - start < 2 && std::isdigit(static_cast<unsigned char>(text[i])))
      parts[part] = parts[part] * 10 + (text[i++] - '0');
    std::size_t digits = i - start;
    if (digits == 0 || ((part == 1 || part == 2) && digits != 2)) return std::nullopt;
    if (part == 3 && digits == 1) parts[3] *= 10;  // ".5" is half a second
    if (i == text.size()) {
      if (part == 0) return std::nullopt;
      break;
    }
    if (text[i] != (part < 2 ? ':' : '.') || part == 3) return std::nullopt;
    ++i;
  }
  if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
  return ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 100 + parts[3];
}

std::vector<Column> Columns(const rt::FileDeclaration& decl) {
  std::vector<Column> columns;
  for (int f = 1; f <= decl.FieldCount(); ++f) {
    const auto& field = decl.Field(f);
    std::string label(field.Label());
    if (!field.IsArray()) {
      columns.push_back({f, 0, label, ShownAs(field)});
      continue;
    }
    for (int e = 0; e < field.Elements(); ++e)
      columns.push_back({f, e, label + "(" + std::to_string(e + 1) + ")", ShownAs(field)});
  }
  return columns;
}

// The cell of a column: exactly what Store reads back into the same bytes.
std::string Cell(rt::File& file, const Column& column) {
  rt::FieldRef ref = file.Field(column.Field, column.Element);
  if (column.As == Shown::Date) return DateText(ref.GetInt());
  if (column.As == Shown::Time) return TimeText(ref.GetInt());
  switch (ref.Type()) {
    // Trailing blanks of a text field are its padding; those of a ctext field
    // are characters of the value.
    case rt::FieldType::Text: return rt::Latin1ToUtf8(ref.ToText());
    case rt::FieldType::CText: return rt::Latin1ToUtf8(ref.GetString());
    default: return ref.ToText();
  }
}

// Stores one cell; an empty text when it fits, otherwise why not.
std::string Store(rt::File& file, const Column& column, const std::string& cell) {
  rt::FieldRef ref = file.Field(column.Field, column.Element);
  // Dates and times are read in the form export writes and, as files exported
  // before it still are, as plain numbers.
  if (column.As == Shown::Date && cell.find('/') != std::string::npos) {
    auto day = rt::Deformat(cell, "D02");
    if (!day) return "'" + cell + "' is not a date (MM/DD/YYYY)";
    ref.SetInt(*day);
    return {};
  }
  if (column.As == Shown::Time && cell.find(':') != std::string::npos) {
    auto time = ParseTime(rt::TrimBlanks(cell));
    if (!time) return "'" + cell + "' is not a time (HH:MM:SS.hh)";
    ref.SetInt(*time);
    return {};
  }
  if (column.As != Shown::Plain && rt::TrimBlanks(cell).empty()) {
    ref.SetInt(0);
    return {};
  }
  switch (ref.Type()) {
    case rt::FieldType::Text:
    case rt::FieldType::CText: {
      std::string latin1;
      if (!rt::Utf8ToLatin1Exact(cell, latin1)) return "text holds characters outside Latin-1";
      int room = ref.Type() == rt::FieldType::CText ? ref.Size() - 1 : ref.Size();
      if (static_cast<int>(latin1.size()) > room)
        return "text longer than " + std::to_string(room) + " characters";
      // A ctext ends at its first NUL; a text holds one as any other byte
      // (another tool may have stored it, and the export wrote it).
      if (ref.Type() == rt::FieldType::CText && latin1.find('\0') != std::string::npos)
        return "text holds a NUL";
      ref.SetString(latin1);
      return {};
    }
    case rt::FieldType::Decimal: {
      auto value = rt::Decimal::Parse(cell);
      if (!value) return "'" + cell + "' is not a number";
      if (value->Places > ref.Places()) {
        auto exact = value->Rescaled(ref.Places());
        if (!exact || rt::Compare(*exact, *value) != 0)
          return "'" + cell + "' has more than " + std::to_string(ref.Places()) + " places";
      }
      if (!ref.SetDecimal(*value)) return "'" + cell + "' does not fit";
      return {};
    }
    default: {
      auto value = rt::Decimal::Parse(cell);
      if (!value || value->Places != 0) return "'" + cell + "' is not a whole number";
      if (!ref.SetInt(value->Units)) return "'" + cell + "' is out of range";
      return {};
    }
  }
}

// One row of CSV text: its first line and its cells.
struct Row {
  int Line;
  std::vector<std::string> Cells;
};

// Reads CSV text a row at a time, counting lines, so that only the row being
// read is held, never the whole text.
class RowReader {
 public:
  explicit RowReader(std::istream& in) : in_(*in.rdbuf()) {
    // A spreadsheet saving UTF-8 text starts it with a byte order mark.
    static constexpr std::string_view kMark = "\xEF\xBB\xBF";
    for (const char expected : kMark) {
      if (in_.sgetc() != static_cast<unsigned char>(expected)) break;
      pending_ += static_cast<char>(in_.sbumpc());
    }
    if (pending_ == kMark) pending_.clear();
  }

  // The next row that is not blank, into `row`; false at the end of the text
  // (Unclosed then says whether it ended inside a quoted cell, of the row at
  // row.Line).
  bool Next(Row& row) {
    for (;;) {
      if (Peek() == kEnd) return false;
      row.Line = line_;
      row.Cells.clear();
      std::string cell;
      bool quoted = false, wasQuoted = false;
      for (;;) {
        const int next = Get();
        if (next == kEnd) {
          if (quoted) return unclosed_ = true, false;
          row.Cells.push_back(cell);
          break;
        }
        const char c = static_cast<char>(next);
        if (quoted) {
          if (c == '"' && Peek() == '"') {
            cell += '"';
            Get();
          } else if (c == '"') {
            quoted = false;
          } else {
            if (c == '\n') ++line_;
            cell += c;
          }
        } else if (c == '"' && cell.empty() && !wasQuoted) {
          quoted = wasQuoted = true;
        } else if (c == ',') {
          row.Cells.push_back(cell);
          cell.clear();
          wasQuoted = false;
        } else if (c == '\n' || c == '\r') {
          if (c == '\r' && Peek() == '\n') Get();
          ++line_;
          row.Cells.push_back(cell);
          break;
        } else {
          cell += c;
        }
      }
      const bool blank = row.Cells.size() == 1 && row.Cells[0].empty();
      if (!blank) return true;
    }
  }

  bool Unclosed() const { return unclosed_; }

 private:
  static constexpr int kEnd = std::char_traits<char>::eof();

  int Peek() {
    return !pending_.empty() ? static_cast<unsigned char>(pending_[0]) : in_.sgetc();
  }
  int Get() {
    if (pending_.empty()) return in_.sbumpc();
    const int c = static_cast<unsigned char>(pending_[0]);
    pending_.erase(0, 1);
    return c;
  }

  std::streambuf& in_;
  std::string pending_;  // read while looking for the byte order mark, not yet taken
  int line_ = 1;
  bool unclosed_ = false;
};

// Counts in `count` the records of `records` identical byte for byte (so in
// every field) to a record of `file`, the first at `first`: one read of the
// file against a hash set of the records, not a search of the file per
// record. False with a problem when the file cannot be read.
bool FindDuplicates(rt::File& file, const std::vector<std::vector<std::uint8_t>>& records,
                    ProgressLine& progress, std::int64_t& count, std::size_t& first,
                    std::vector<CsvProblem>& problems) {
  auto bytes = [](const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
  };
  std::unordered_set<std::string_view> imported, held;
  for (const auto& record : records) imported.insert(bytes(record.data(), record.size()));
  progress.Start("looking for duplicates", "records read", rt::FileRecords(file));
  rt::FileSetProperty(file, rt::kPropReadAhead, "500");
  rt::FileSetKey(file, 0);
  std::int64_t read = 0;
  for (;;) {
    rt::FileNext(file);
    if (rt::ErrorCode() == rt::kRecordNotAvailable) break;
    progress.Update(++read);
    // A record the fields cannot hold is no duplicate of a row that passed.
    if (rt::ErrorCode() == rt::kInvalidDeclaration) continue;
    if (rt::ErrorCode() != 0) {
      problems.push_back({0, "cannot read " + file.Declaration().Label() + ": " +
                                 rt::FileErrorText()});
      return false;
    }
    auto it = imported.find(bytes(file.Buffer(), file.RecordLength()));
    if (it != imported.end()) held.insert(*it);
  }
  count = 0;
  for (std::size_t i = records.size(); i-- > 0;) {
    if (!held.count(bytes(records[i].data(), records[i].size()))) continue;
    ++count;
    first = i;
  }
  return true;
}

}  // namespace

std::int64_t ExportCsv(rt::File& file, std::ostream& out, const RecordFilter& keep,
                       ProgressLine& progress, std::string& error) {
  // A write fails where the stream's buffer goes out: the reason is taken
  // there, before anything else can change errno, and the export stops.
  auto writeFailed = [&] {
    if (out.good()) return false;
    error = "cannot write the CSV: " + std::string(std::strerror(errno != 0 ? errno : EIO));
    return true;
  };
  errno = 0;
  auto columns = Columns(file.Declaration());
  for (std::size_t i = 0; i < columns.size(); ++i)
    out << (i ? "," : "") << Quoted(columns[i].Header);
  out << "\n";
  if (writeFailed()) return -1;
  progress.Start("exporting", "records read", rt::FileRecords(file));
  rt::FileSetProperty(file, rt::kPropReadAhead, "200");
  rt::FileSetKey(file, 0);
  std::int64_t read = 0, written = 0;
  for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) {
    progress.Update(++read);
    if (keep && !keep(file)) continue;
    for (std::size_t i = 0; i < columns.size(); ++i)
      out << (i ? "," : "") << Quoted(Cell(file, columns[i]));
    out << "\n";
    if (writeFailed()) return -1;
    ++written;
  }
  if (rt::ErrorCode() != rt::kRecordNotAvailable) return error = rt::FileErrorText(), -1;
  out.flush();
  if (writeFailed()) return -1;
  return written;
}

long ImportCsv(rt::File& file, std::istream& in, bool allowDuplicates, ProgressLine& progress,
               std::vector<CsvProblem>& problems, CsvDuplicates& duplicates) {
  RowReader reader(in);
  Row row;
  auto unclosed = [&] {
    // Nothing else is said: the rows after it cannot be told apart.
    problems.assign({{row.Line, "a quoted cell is never closed"}});
    return 0;
  };
  auto columns = Columns(file.Declaration());
  if (!reader.Next(row)) {
    if (reader.Unclosed()) return unclosed();
    problems.push_back({1, "no header row"});
    return 0;
  }
  const int headerLine = row.Line;
  bool headerOk = row.Cells.size() == columns.size();
  for (std::size_t i = 0; headerOk && i < columns.size(); ++i)
    headerOk = rt::SameIgnoringCase(row.Cells[i], columns[i].Header);
  if (!headerOk) {
    // A header cut by a quote that never closes is that quote's problem.
    while (reader.Next(row)) {
    }
    if (reader.Unclosed()) return unclosed();
    std::string expected;
    for (const auto& c : columns) expected += (expected.empty() ? "" : ",") + c.Header;
    problems.push_back({headerLine, "header must be " + expected});
    return 0;
  }
  // Every row is checked before anything is written; only the records the
  // rows make are kept (with their lines), not the text.
  std::vector<std::vector<std::uint8_t>> records;
  std::vector<int> lines;
  progress.Start("checking", "rows", 0);
  for (std::int64_t read = 1; reader.Next(row); ++read) {
    progress.Update(read);
    if (row.Cells.size() != columns.size()) {
      problems.push_back({row.Line, std::to_string(row.Cells.size()) + " cells, expected " +
                                        std::to_string(columns.size())});
      continue;
    }
    rt::FileClear(file);
    std::string why;
    for (std::size_t i = 0; i < columns.size() && why.empty(); ++i) {
      why = Store(file, columns[i], row.Cells[i]);
      if (!why.empty()) why = columns[i].Header + ": " + why;
    }
    if (!why.empty()) {
      problems.push_back({row.Line, why});
      continue;
    }
    if (!problems.empty()) continue;  // nothing will be imported: no need to keep it
    records.emplace_back(file.Buffer(), file.Buffer() + file.RecordLength());
    lines.push_back(row.Line);
  }
  if (reader.Unclosed()) return unclosed();
  if (!problems.empty()) return 0;
  rt::TxBegin(5, file);
  if (rt::ErrorCode() != 0) {
    problems.push_back({0, "cannot begin a transaction: " + rt::FileErrorText()});
    return 0;
  }
  if (!allowDuplicates) {
    // Under the transaction's write lock, so no record comes or goes before the adds.
    std::size_t first = 0;
    if (!FindDuplicates(file, records, progress, duplicates.Rows, first, problems))
      return rt::TxRollback(), 0;
    if (duplicates.Rows > 0) {
      duplicates.FirstLine = lines[first];
      rt::TxRollback();
      return 0;
    }
  }
  progress.Start("importing", "records", static_cast<std::int64_t>(records.size()));
  for (std::size_t i = 0; i < records.size(); ++i) {
    progress.Update(static_cast<std::int64_t>(i + 1));
    std::copy(records[i].begin(), records[i].end(), file.Buffer());
    rt::FileAdd(file);
    if (rt::ErrorCode() != 0) {
      problems.push_back(
          {lines[i], "cannot add: " + rt::ErrorText() + " " + rt::FileErrorText()});
      rt::TxRollback();
      return 0;
    }
  }
  rt::TxCommit();
  if (rt::ErrorCode() != 0) {
    problems.push_back({0, "cannot commit: " + rt::FileErrorText()});
    rt::TxRollback();
    return 0;
  }
  return static_cast<long>(records.size());
}

}  // namespace veltrane_data
