// A typed reference to one field (or one array element) of a record buffer.
// It does not own the buffer; the buffer must outlive it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/decimal.h"
#include "runtime/files/file_declaration.h"

namespace rt {

class FieldRef {
 public:
  FieldRef() = default;
  // Element `element` (0-based) of field `field` (1-based) of a record of
  // `decl` held in `buffer`. Invalid (IsValid() false) for a null buffer, a field
  // or element out of range, or a field of no bytes; on an invalid reference
  // every getter gives 0 or empty text and every setter false.
  FieldRef(std::uint8_t* buffer, const FileDeclaration& decl, int field, int element = 0);

  bool IsValid() const { return data_ != nullptr; }
  FieldType Type() const { return type_; }
  int Size() const { return size_; }
  int Places() const { return places_; }
  int Digits() const { return 2 * size_ - 1; }
  bool IsString() const { return type_ == FieldType::Text || type_ == FieldType::CText; }
  bool IsNumeric() const { return !IsString(); }
  std::uint8_t* Data() const { return data_; }

  // The value of a numeric field as an integer (a decimal's places are cut
  // toward zero); a string field's text read as a number, 0 when it is none.
  // A packed decimal whose bytes are not valid BCD reads as 0 here and in
  // GetDecimal (SetFrom refuses to copy it).
  std::int64_t GetInt() const;
  // The exact value of a numeric field (integer types have 0 places); a string
  // field's text read as a number, 0 when it is none.
  Decimal GetDecimal() const;
  // A string field's characters: all Size bytes of a text field, the bytes up
  // to the NUL of a ctext; a numeric field's value as text.
  std::string GetString() const;

  // Set the field; false (and the field unchanged) when the value does not fit:
  // an integer out of the type's range, a decimal with too many integer digits.
  // Text longer than the field is cut (a ctext keeps room for its NUL).
  // Conversions: a value with places set into an integer field is cut toward
  // zero (as GetInt reads it), a decimal field rounds extra places half away
  // from zero; a number set into a string field is written as its text and
  // refused when that text does not fit (a cut number would be a different
  // number); text set into a numeric field must be a number ("-12.5"; blank is
  // 0) or it is refused. A date field holds any 32-bit day number.
  bool SetInt(std::int64_t value);
  bool SetDecimal(const Decimal& value);
  bool SetString(std::string_view text);
  // Copies a value from another field, converting between types as above (a
  // text's trailing blanks are not copied as characters). False when the field
  // is unchanged: the value does not fit, text is not a number, the source is a
  // damaged packed decimal, or either reference is invalid.
  bool SetFrom(const FieldRef& other);

  // Three-way comparison by value: numbers numerically (a decimal against an
  // integer too), strings byte by byte as unsigned bytes, a text without the
  // trailing blanks that pad it and a ctext up to its NUL with its trailing
  // blanks (characters of the value, as the KEYED driver keeps them), so
  // "AB" < "AB\x01" < "ABC", and ctext "AB" < "AB ". A number
  // against a string compares with the string read as a number (0 when none).
  // An invalid reference sorts before every valid one.
  int Compare(const FieldRef& other) const;
  // Numbers 0, text blanks, ctext all NULs. Does nothing on an invalid reference.
  void Clear();
  // The value for display: numbers in decimal notation with their places
  // ("0.00" for decimal(5,2)), a date as its day number, strings without
  // trailing blanks. Empty for an invalid reference.
  std::string ToText() const;
  // The value as the files hold it, for comparing as text: a text without the
  // trailing blanks that pad it, a ctext up to its NUL with its trailing
  // blanks, a number as ToText.
  std::string StoredText() const;

 private:
  std::uint8_t* data_ = nullptr;
  FieldType type_ = FieldType::Long;
  int size_ = 0;
  int places_ = 0;
};

}  // namespace rt
