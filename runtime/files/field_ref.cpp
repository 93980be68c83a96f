// Storage of each field type in a record buffer:
//   byte            1 byte, unsigned
//   short           2 bytes, signed, little-endian
//   long, date      4 bytes, signed, little-endian (a date holds its day number)
//   decimal         packed BCD of Size bytes holding 2*Size-1 digits (decimal.h)
//   text            Size bytes, blank-padded, no terminator
//   ctext           Size bytes: at most Size-1 characters, then NULs to the end
// Integers are assembled byte by byte, so the layout does not depend on the
// host's byte order or on the field's alignment in the buffer.
#include "runtime/files/field_ref.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <span>

#include "runtime/core/text.h"

namespace rt {
namespace {

std::int64_t ReadInteger(const std::uint8_t* data, FieldType type) {
  switch (type) {
    case FieldType::Byte:
      return data[0];
    case FieldType::Short:
      return static_cast<std::int16_t>(static_cast<std::uint16_t>(data[0] | data[1] << 8));
    case FieldType::Date:
    case FieldType::Long:
      return static_cast<std::int32_t>(
          static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
          static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
    default:
      return 0;
  }
}

bool InRange(std::int64_t value, FieldType type) {
  switch (type) {
    case FieldType::Byte:
      return value >= 0 && value <= 255;
    case FieldType::Short:
      return value >= std::numeric_limits<std::int16_t>::min() &&
             value <= std::numeric_limits<std::int16_t>::max();
    case FieldType::Date:
    case FieldType::Long:
      return value >= std::numeric_limits<std::int32_t>::min() &&
             value <= std::numeric_limits<std::int32_t>::max();
    default:
      return false;
  }
}

void WriteInteger(std::uint8_t* data, FieldType type, std::int64_t value) {
  const auto bits = static_cast<std::uint64_t>(value);
  const int bytes = type == FieldType::Byte ? 1 : (type == FieldType::Short ? 2 : 4);
  for (int i = 0; i < bytes; ++i) data[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// The integer part of a decimal, cut toward zero.
std::int64_t Truncated(const Decimal& value) {
  std::int64_t units = value.Units;
  for (int i = 0; i < value.Places; ++i) units /= 10;
  return units;
}

// A string field's text as a number: blank is 0, anything else not a number is nullopt.
std::optional<Decimal> TextAsNumber(std::string_view text) {
  const auto start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return Decimal{};
  return Decimal::Parse(text);
}

// The exact value of a numeric field; nullopt for a packed decimal whose bytes
// are damaged (not BCD) and for string fields.
std::optional<Decimal> ReadNumber(const FieldRef& field) {
  if (!field.IsValid() || field.IsString()) return std::nullopt;
  if (field.Type() == FieldType::Decimal)
    return Decode(std::span<const std::uint8_t>(field.Data(), field.Size()), field.Digits(),
                  field.Places());
  return Decimal::FromInt(ReadInteger(field.Data(), field.Type()));
}

// The characters of a string field: all bytes of a text, a ctext up to its NUL.
std::string_view ReadText(const FieldRef& field) {
  const auto* chars = reinterpret_cast<const char*>(field.Data());
  if (field.Type() == FieldType::CText)
    return std::string_view(chars, std::find(chars, chars + field.Size(), '\0') - chars);
  return std::string_view(chars, field.Size());
}

// A string field's value as the KEYED driver stores it: a text without its
// padding blanks, a ctext as it stands before the NUL.
std::string_view StoredChars(const FieldRef& field) {
  std::string_view text = ReadText(field);
  return field.Type() == FieldType::CText ? text : TrimRight(text);
}

// The value of any valid field as a number; string fields are read as numbers.
std::optional<Decimal> ReadAsNumber(const FieldRef& field) {
  if (field.IsString()) return TextAsNumber(ReadText(field));
  return ReadNumber(field);
}

}  // namespace

FieldRef::FieldRef(std::uint8_t* buffer, const FileDeclaration& decl, int field, int element) {
  const FieldLayout* layout = buffer ? decl.Layout(field) : nullptr;
  if (!layout || element < 0 || element >= layout->Elements) return;
  // An unknown type, or a text or decimal of no bytes.
  if (layout->ElementSize <= 0) return;
  data_ = buffer + layout->Offset + element * layout->ElementSize;
  type_ = layout->Type;
  size_ = layout->ElementSize;
  places_ = layout->Places;
}

std::int64_t FieldRef::GetInt() const {
  switch (type_) {
    case FieldType::Byte:
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::Date: return IsValid() ? ReadInteger(data_, type_) : 0;
    default: return Truncated(GetDecimal());
  }
}

Decimal FieldRef::GetDecimal() const {
  if (!IsValid()) return {};
  return ReadAsNumber(*this).value_or(Decimal{0, IsString() ? 0 : places_});
}

std::string FieldRef::GetString() const {
  if (!IsValid()) return {};
  if (IsString()) return std::string(ReadText(*this));
  return ToText();
}

bool FieldRef::SetInt(std::int64_t value) {
  if (!IsValid()) return false;
  switch (type_) {
    case FieldType::Decimal:
      return SetDecimal(Decimal::FromInt(value));
    case FieldType::Text:
    case FieldType::CText: {
      const std::string text = std::to_string(value);
      const int room = type_ == FieldType::CText ? size_ - 1 : size_;
      if (static_cast<int>(text.size()) > room) return false;
      return SetString(text);
    }
    default:
      if (!InRange(value, type_)) return false;
      WriteInteger(data_, type_, value);
      return true;
  }
}

bool FieldRef::SetDecimal(const Decimal& value) {
  if (!IsValid() || value.Places < 0 || value.Places > 18) return false;
  switch (type_) {
    case FieldType::Decimal:
      return Encode(value, Digits(), places_, std::span<std::uint8_t>(data_, size_));
    case FieldType::Text:
    case FieldType::CText: {
      const std::string text = value.ToString();
      const int room = type_ == FieldType::CText ? size_ - 1 : size_;
      if (static_cast<int>(text.size()) > room) return false;
      return SetString(text);
    }
    default:
      return SetInt(Truncated(value));
  }
}

bool FieldRef::SetString(std::string_view text) {
  if (!IsValid()) return false;
  if (type_ == FieldType::Text) {
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(size_));
    std::memmove(data_, text.data(), length);  // text may lie in this buffer
    std::memset(data_ + length, ' ', size_ - length);
    return true;
  }
  if (type_ == FieldType::CText) {
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(size_ - 1));
    std::memmove(data_, text.data(), length);  // text may lie in this buffer
    std::memset(data_ + length, 0, size_ - length);
    return true;
  }
  const auto number = TextAsNumber(text);
  return number && SetDecimal(*number);
}

bool FieldRef::SetFrom(const FieldRef& other) {
  if (!IsValid() || !other.IsValid()) return false;
  if (other.IsString()) {
    // A text's trailing blanks are padding, not part of the value; the copy
    // also makes the source safe to read when it overlaps this field.
    const std::string_view source = ReadText(other);
    const std::string text(other.Type() == FieldType::Text ? TrimRight(source)
                                                           : source);
    return SetString(text);
  }
  const auto number = ReadNumber(other);
  return number && SetDecimal(*number);
}

int FieldRef::Compare(const FieldRef& other) const {
  if (!IsValid() || !other.IsValid()) return IsValid() ? 1 : (other.IsValid() ? -1 : 0);
  if (IsString() && other.IsString()) {
    // Byte order of the values as the KEYED driver stores and orders them: a
    // text without the trailing blanks that pad it, a ctext up to its NUL with
    // its trailing blanks, which are characters of the value ("D1" and "D1  "
    // are two values, as in a key of the file).
    const std::string_view a = StoredChars(*this);
    const std::string_view b = StoredChars(other);
    const int common = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (common != 0) return common < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  }
  return rt::Compare(GetDecimal(), other.GetDecimal());
}

void FieldRef::Clear() {
  if (!IsValid()) return;
  std::memset(data_, type_ == FieldType::Text ? ' ' : 0, size_);
}

std::string FieldRef::ToText() const {
  if (!IsValid()) return {};
  if (IsString()) return std::string(TrimRight(ReadText(*this)));
  return GetDecimal().ToString();
}

std::string FieldRef::StoredText() const {
  if (!IsValid()) return {};
  if (IsString()) return std::string(StoredChars(*this));
  return ToText();
}

}  // namespace rt
