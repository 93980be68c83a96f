#include "runtime/sqlite/record_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "runtime/core/decimal.h"
#include "runtime/core/text.h"
#include "runtime/files/field_ref.h"
#include "runtime/text/latin1.h"

namespace rt::sqlite {
namespace {

bool Contains(std::string_view text, std::string_view part) {
  return FindIgnoringCase(text, part) != std::string_view::npos;
}

const char kHex[] = "0123456789abcdef";

// A double holds every decimal of 15 digits exactly; an int64 every one of 18.
constexpr int kRealDigits = 15;
constexpr int kMaxDigits = 18;

// A REAL read where a whole number is wanted: its integer part, or nothing
// when it lies beyond 64 bits.
std::optional<std::int64_t> WholePart(double real) {
  if (!(real > -9.2e18 && real < 9.2e18)) return std::nullopt;
  return static_cast<std::int64_t>(real);
}

// A whole number read from an INTEGER column, or a REAL one without places.
std::optional<std::int64_t> WholeNumber(const ColumnValue& value) {
  if (value.Kind == ColumnKind::Integer) return value.Int;
  if (value.Kind != ColumnKind::Real) return std::nullopt;
  auto whole = WholePart(value.Real);
  if (whole && static_cast<double>(*whole) != value.Real) return std::nullopt;
  return whole;
}

// A column value as a message shows it: 12, 8.257, 'text', a blob of 4 bytes.
std::string Shown(const ColumnValue& value) {
  switch (value.Kind) {
    case ColumnKind::Integer: return std::to_string(value.Int);
    case ColumnKind::Real: {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", value.Real);
      return text;
    }
    case ColumnKind::Text:
      return "'" + (value.Bytes.size() > 40 ? value.Bytes.substr(0, 40) + "..." : value.Bytes) +
             "'";
    case ColumnKind::Blob: return "a blob of " + std::to_string(value.Bytes.size()) + " bytes";
  }
  return {};
}

// What is wrong with a value StoreField refused for `f`, after "column X ".
std::string Misfit(const ColumnValue& value, const FieldDeclaration& f) {
  const std::string field = "field " + std::string(f.Label());
  const std::string holds = "holds " + Shown(value);
  if (f.IsArray())
    return holds + ", but " + field + " is an array of " +
           std::to_string(f.ElementSize() * f.Elements()) + " bytes";
  const bool text = value.Kind == ColumnKind::Text || value.Kind == ColumnKind::Blob;
  if (f.Type == FieldType::Text || f.Type == FieldType::CText) {
    if (!text) return holds + ", but " + field + " is a text";
    std::string latin1;
    if (!Utf8ToLatin1Exact(value.Bytes, latin1))
      return holds + ", but " + field + " holds Latin-1 characters only";
    if (f.Type == FieldType::CText && latin1.find('\0') != std::string::npos)
      return "holds a text with a NUL character, which " + field + " cannot hold";
    const std::size_t length =
        f.Type == FieldType::Text ? TrimRight(latin1).size() : latin1.size();
    const int room = f.Type == FieldType::CText ? f.Size - 1 : f.Size;
    return "holds a text of " + std::to_string(length) + " characters (" + Shown(value) +
           "), but " + field + " holds at most " + std::to_string(room);
  }
  if (text) return holds + ", but " + field + " is a number";
  if (f.Type == FieldType::Decimal)
    return holds + ", but " + field + " is a decimal of " + std::to_string(f.Digits()) +
           " digits with " + std::to_string(f.Places) + " places";
  // 1e+20 is whole, only too large: that is said by the range below.
  if (value.Kind == ColumnKind::Real && std::trunc(value.Real) != value.Real)
    return holds + ", but " + field + " holds whole numbers";
  const char* range = f.Type == FieldType::Byte    ? "0 to 255"
                      : f.Type == FieldType::Short ? "-32768 to 32767"
                                                   : "-2147483648 to 2147483647";
  return holds + ", but " + field + " holds " + range;
}

}  // namespace

bool ColumnValue::operator==(const ColumnValue& other) const {
  if (Kind != other.Kind) return false;
  switch (Kind) {
    case ColumnKind::Integer: return Int == other.Int;
    case ColumnKind::Real: return Real == other.Real;
    default: return Bytes == other.Bytes;
  }
}

int ColumnValue::Compare(const ColumnValue& other) const {
  switch (Kind) {
    case ColumnKind::Integer: return Int < other.Int ? -1 : (Int > other.Int ? 1 : 0);
    case ColumnKind::Real: return Real < other.Real ? -1 : (Real > other.Real ? 1 : 0);
    default: return Bytes.compare(other.Bytes) < 0 ? -1 : (Bytes == other.Bytes ? 0 : 1);
  }
}

ColumnKind KindOf(const FieldDeclaration& field) {
  if (field.IsArray()) return ColumnKind::Blob;
  switch (field.Type) {
    case FieldType::Text:
    case FieldType::CText: return ColumnKind::Text;
    case FieldType::Decimal:
      return field.Places > 0 && field.Digits() <= kRealDigits ? ColumnKind::Real
                                                               : ColumnKind::Integer;
    default: return ColumnKind::Integer;
  }
}

int UnitPlaces(const FieldDeclaration& field) {
  return field.Type == FieldType::Decimal && KindOf(field) == ColumnKind::Integer ? field.Places
                                                                                  : 0;
}

int UnstorableField(const FileDeclaration& decl) {
  for (int f = 1; f <= decl.FieldCount(); ++f) {
    const auto& field = decl.Field(f);
    if (field.Type == FieldType::Decimal && field.Digits() > kMaxDigits) return f;
  }
  return 0;
}

const char* SqlType(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Integer: return "INTEGER";
    case ColumnKind::Real: return "REAL";
    case ColumnKind::Text: return "TEXT";
    case ColumnKind::Blob: return "BLOB";
  }
  return "BLOB";
}

ColumnKind KindOfDeclaredType(std::string_view declared, bool& numeric) {
  numeric = false;
  if (Contains(declared, "INT")) return ColumnKind::Integer;
  if (Contains(declared, "CHAR") || Contains(declared, "CLOB") || Contains(declared, "TEXT"))
    return ColumnKind::Text;
  if (declared.empty() || Contains(declared, "BLOB")) return ColumnKind::Blob;
  if (Contains(declared, "REAL") || Contains(declared, "FLOA") || Contains(declared, "DOUB"))
    return ColumnKind::Real;
  numeric = true;
  return ColumnKind::Real;
}

ColumnValue LoadField(const std::uint8_t* record, const FileDeclaration& decl, int field) {
  const auto& f = decl.Field(field);
  ColumnValue value;
  value.Kind = KindOf(f);
  if (value.Kind == ColumnKind::Blob) {
    const auto* start = record + decl.Offset(field);
    value.Bytes.assign(reinterpret_cast<const char*>(start), f.ElementSize() * f.Elements());
    return value;
  }
  FieldRef ref(const_cast<std::uint8_t*>(record), decl, field);
  switch (value.Kind) {
    case ColumnKind::Integer:
      value.Int = f.Type == FieldType::Decimal ? ref.GetDecimal().Units : ref.GetInt();
      break;
    case ColumnKind::Real: value.Real = ref.GetDecimal().ToDouble(); break;
    case ColumnKind::Text: {
      const std::string text = ref.GetString();
      value.Bytes =
          Latin1ToUtf8(f.Type == FieldType::Text ? TrimRight(text) : std::string_view(text));
      break;
    }
    case ColumnKind::Blob: break;
  }
  return value;
}

bool StoreField(const ColumnValue& value, std::uint8_t* record, const FileDeclaration& decl,
                int field) {
  const auto& f = decl.Field(field);
  if (f.IsArray()) {
    auto* start = record + decl.Offset(field);
    std::size_t size = static_cast<std::size_t>(f.ElementSize()) * f.Elements();
    for (int e = 0; e < f.Elements(); ++e) FieldRef(record, decl, field, e).Clear();
    bool bytes = value.Kind == ColumnKind::Blob || value.Kind == ColumnKind::Text;
    if (!bytes || value.Bytes.size() != size) return false;
    std::memcpy(start, value.Bytes.data(), size);
    return true;
  }
  FieldRef ref(record, decl, field);
  bool stored = false;
  switch (f.Type) {
    case FieldType::Text:
    case FieldType::CText: {
      // SetString cuts a text that is too long, and a ctext ends at a NUL: the
      // rest would be lost; so would a character Latin-1 has not, or bytes that
      // are no UTF-8, if they became '?'. A text of plain ASCII, as most are, is
      // its own Latin-1.
      std::string converted;
      std::string_view text = value.Bytes;
      if (!std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        if (!Utf8ToLatin1Exact(value.Bytes, converted)) {
          ref.Clear();
          return false;
        }
        text = converted;
      }
      const std::size_t room = f.Type == FieldType::CText ? f.Size - 1 : f.Size;
      // Trailing blanks pad a text field; in a ctext they are characters.
      bool cut = f.Type == FieldType::Text ? TrimRight(text).size() > room
                                           : text.size() > room || text.find('\0') != text.npos;
      stored = (value.Kind == ColumnKind::Text || value.Kind == ColumnKind::Blob) && !cut &&
               ref.SetString(text);
      break;
    }
    case FieldType::Decimal: {
      if (KindOf(f) == ColumnKind::Integer) {  // a count of units of the last place
        auto units = WholeNumber(value);
        stored = units && ref.SetDecimal(Decimal{*units, f.Places});
      } else if (value.Kind == ColumnKind::Integer || value.Kind == ColumnKind::Real) {
        double real =
            value.Kind == ColumnKind::Integer ? static_cast<double>(value.Int) : value.Real;
        auto exact = Decimal::FromDouble(real, f.Places);
        stored = exact && ref.SetDecimal(*exact);
      }
      break;
    }
    default: {
      auto whole = WholeNumber(value);
      stored = whole && ref.SetInt(*whole);
    }
  }
  if (!stored) ref.Clear();
  return stored;
}

bool StoreRecord(const ColumnValue* values, std::uint8_t* record, const FileDeclaration& decl,
                 std::string& why) {
  for (int f = 1; f <= decl.FieldCount(); ++f) {
    if (StoreField(values[f - 1], record, decl, f)) continue;
    const auto& field = decl.Field(f);
    why = "column " + std::string(field.Label()) + " " + Misfit(values[f - 1], field);
    return false;
  }
  return true;
}

std::string UnreadableRecord(std::int64_t rowid, const ColumnValue* values,
                             const FileDeclaration& decl, const std::string& why) {
  std::string name = "record " + std::to_string(rowid);
  if (decl.KeyCount() > 0) {
    const char* between = " (";
    for (int field : decl.Key(1).Components) {
      name += between;
      name += decl.Field(field).Label();
      name += "=";  // appended: GCC 12 at -O2 warns on `"=" + text` (-Wrestrict)
      name += Shown(values[field - 1]);
      between = ", ";
    }
    name += ")";
  }
  return name + ": " + why;
}

// Read through the column's value object: every sqlite3_column_ call finds
// the column again and checks for a failed allocation after it, and records
// are read column by column. The value object is used only here, on the
// statement's own thread, before the statement steps on.
ColumnValue ReadColumn(sqlite3_stmt* stmt, int column) {
  ColumnValue value;
  sqlite3_value* held = sqlite3_column_value(stmt, column);
  switch (sqlite3_value_type(held)) {
    case SQLITE_INTEGER:
      value.Kind = ColumnKind::Integer;
      value.Int = sqlite3_value_int64(held);
      break;
    case SQLITE_FLOAT:
      value.Kind = ColumnKind::Real;
      value.Real = sqlite3_value_double(held);
      break;
    case SQLITE_BLOB: {
      value.Kind = ColumnKind::Blob;
      const void* data = sqlite3_value_blob(held);
      value.Bytes.assign(static_cast<const char*>(data), sqlite3_value_bytes(held));
      break;
    }
    case SQLITE_NULL: value.Kind = ColumnKind::Integer; break;
    default: {
      value.Kind = ColumnKind::Text;
      const unsigned char* text = sqlite3_value_text(held);
      value.Bytes.assign(reinterpret_cast<const char*>(text), sqlite3_value_bytes(held));
    }
  }
  return value;
}

void BindValue(sqlite3_stmt* stmt, int index, const ColumnValue& value) {
  switch (value.Kind) {
    case ColumnKind::Integer: sqlite3_bind_int64(stmt, index, value.Int); break;
    case ColumnKind::Real: sqlite3_bind_double(stmt, index, value.Real); break;
    case ColumnKind::Text:
      sqlite3_bind_text(stmt, index, value.Bytes.data(), static_cast<int>(value.Bytes.size()),
                        SQLITE_TRANSIENT);
      break;
    case ColumnKind::Blob:
      sqlite3_bind_blob(stmt, index, value.Bytes.data(), static_cast<int>(value.Bytes.size()),
                        SQLITE_TRANSIENT);
      break;
  }
}

std::string EncodeValue(const ColumnValue& value) {
  switch (value.Kind) {
    case ColumnKind::Integer: {
      std::string text = "i";  // appended: GCC 12 at -O2 warns on `"i" + text` (-Wrestrict)
      text += std::to_string(value.Int);
      return text;
    }
    case ColumnKind::Real: {
      char text[64];
      std::snprintf(text, sizeof text, "r%a", value.Real);
      return text;
    }
    default: {
      std::string out(1, value.Kind == ColumnKind::Text ? 't' : 'b');
      for (unsigned char c : value.Bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      return out;
    }
  }
}

bool DecodeValue(std::string_view text, ColumnValue& value) {
  if (text.empty()) return false;
  std::string body(text.substr(1));
  char* end = nullptr;
  switch (text[0]) {
    case 'i':
      value.Kind = ColumnKind::Integer;
      value.Int = std::strtoll(body.c_str(), &end, 10);
      return !body.empty() && *end == '\0';
    case 'r':
      value.Kind = ColumnKind::Real;
      value.Real = std::strtod(body.c_str(), &end);
      return !body.empty() && *end == '\0';
    case 't':
    case 'b': {
      if (body.size() % 2 != 0) return false;
      value.Kind = text[0] == 't' ? ColumnKind::Text : ColumnKind::Blob;
      value.Bytes.clear();
      for (std::size_t i = 0; i < body.size(); i += 2) {
        auto digit = [](char c) -> int {
          if (c >= '0' && c <= '9') return c - '0';
          if (c >= 'a' && c <= 'f') return c - 'a' + 10;
          return -1;
        };
        int hi = digit(body[i]), lo = digit(body[i + 1]);
        if (hi < 0 || lo < 0) return false;
        value.Bytes += static_cast<char>(hi * 16 + lo);
      }
      return true;
    }
    default: return false;
  }
}

std::string EncodeValues(const std::vector<ColumnValue>& values) {
  std::string text;
  for (const auto& value : values) {
    text += ";";
    text += EncodeValue(value);
  }
  return text;
}

bool DecodeValues(std::string_view text, std::vector<ColumnValue>& values) {
  values.clear();
  if (text.empty()) return true;
  if (text[0] != ';') return false;
  std::size_t start = 1;
  for (;;) {
    auto semi = text.find(';', start);
    ColumnValue value;
    if (!DecodeValue(text.substr(start, semi - start), value)) return false;
    values.push_back(std::move(value));
    if (semi == std::string_view::npos) return true;
    start = semi + 1;
  }
}

}  // namespace rt::sqlite
