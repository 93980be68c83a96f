#include "runtime/postgres/column_form.h"

#include <cerrno>
#include <cstdlib>

#include "runtime/core/decimal.h"
#include "runtime/files/field_ref.h"
#include "runtime/sqlite/record_codec.h"

namespace rt::postgres {
namespace {

const char kHex[] = "0123456789abcdef";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int TextRoom(const FieldDeclaration& field) {
  return field.Type == FieldType::CText ? field.Size - 1 : field.Size;
}

}  // namespace

bool IsText(const FieldDeclaration& field) {
  return !field.IsArray() && (field.Type == FieldType::Text || field.Type == FieldType::CText);
}

std::string ColumnType(const FieldDeclaration& field) {
  if (field.IsArray()) return "bytea";
  switch (field.Type) {
    case FieldType::Byte:
    case FieldType::Short: return "smallint";
    case FieldType::Long:
    case FieldType::Date: return "integer";
    case FieldType::Decimal:
      return "numeric(" + std::to_string(field.Digits()) + "," + std::to_string(field.Places) + ")";
    case FieldType::Text:
    case FieldType::CText: return "varchar(" + std::to_string(TextRoom(field)) + ") COLLATE \"C\"";
  }
  return "bytea";
}

bool TypeHolds(const std::string& found, const FieldDeclaration& field) {
  if (field.IsArray()) return found == "bytea";
  switch (field.Type) {
    case FieldType::Byte:
    case FieldType::Short: return found == "smallint" || found == "integer" || found == "bigint";
    case FieldType::Long:
    case FieldType::Date: return found == "integer" || found == "bigint";
    case FieldType::Decimal: {
      int digits = 0, places = 0;
      if (std::sscanf(found.c_str(), "numeric(%d,%d)", &digits, &places) != 2) return false;
      return places == field.Places && digits >= field.Digits();
    }
    case FieldType::Text:
    case FieldType::CText:
      return found == "character varying(" + std::to_string(TextRoom(field)) + ")";
  }
  return false;
}

std::string FieldText(const std::uint8_t* record, const FileDeclaration& decl, int field) {
  const auto& f = decl.Field(field);
  if (!f.IsArray() && f.Type == FieldType::Decimal)
    return FieldRef(const_cast<std::uint8_t*>(record), decl, field).GetDecimal().ToString();
  sqlite::ColumnValue value = sqlite::LoadField(record, decl, field);
  switch (value.Kind) {
    case sqlite::ColumnKind::Integer: return std::to_string(value.Int);
    case sqlite::ColumnKind::Text: return value.Bytes;
    default: {
      std::string hex = "\\x";
      for (unsigned char c : value.Bytes) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
      }
      return hex;
    }
  }
}

bool StoreText(const char* text, int length, std::uint8_t* record, const FileDeclaration& decl,
               int field) {
  const auto& f = decl.Field(field);
  sqlite::ColumnValue value;
  if (f.IsArray()) {
    // bytea's hex form "\x0a1b"; anything else is refused (a value of another
    // kind clears the field and gives false).
    value.Kind = sqlite::ColumnKind::Blob;
    bool hex = length >= 2 && text[0] == '\\' && text[1] == 'x' && length % 2 == 0;
    for (int i = 2; hex && i < length; i += 2) {
      int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
      hex = hi >= 0 && lo >= 0;
      value.Bytes += static_cast<char>(hi * 16 + lo);
    }
    if (!hex) value.Kind = sqlite::ColumnKind::Integer;
    return sqlite::StoreField(value, record, decl, field);
  }
  if (f.Type == FieldType::Decimal) {
    FieldRef ref(record, decl, field);
    auto number = Decimal::Parse(std::string_view(text, length));
    auto exact = number ? number->Rescaled(f.Places) : std::nullopt;
    bool stored = exact && Compare(*exact, *number) == 0 && ref.SetDecimal(*exact);
    if (!stored) ref.Clear();
    return stored;
  }
  if (IsText(f)) {
    value.Kind = sqlite::ColumnKind::Text;
    value.Bytes.assign(text, length);
    return sqlite::StoreField(value, record, decl, field);
  }
  errno = 0;
  char* end = nullptr;
  value.Kind = sqlite::ColumnKind::Integer;
  value.Int = std::strtoll(text, &end, 10);
  if (length == 0 || end != text + length || errno == ERANGE) value.Kind = sqlite::ColumnKind::Blob;
  return sqlite::StoreField(value, record, decl, field);
}

}  // namespace rt::postgres
