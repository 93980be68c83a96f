// How a record's fields become SQLite column values and back:
//   byte, short, long, date, decimal(d,0)  INTEGER
//   decimal(d,p), p > 0, d <= 15           REAL, rounded back to p places
//   decimal(d,p), p > 0, d 16 to 18        INTEGER, the count of units of the last place
//   text                                   TEXT, trailing blanks removed
//   ctext                                  TEXT, the characters before the NUL
//   arrays                                 BLOB of the element bytes
// Record bytes are Latin-1; TEXT columns hold UTF-8. A record whose column
// holds a character Latin-1 has not (or bytes that are no UTF-8) is refused
// when read (StoreField).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/file_declaration.h"

namespace rt::sqlite {

enum class ColumnKind : std::uint8_t { Integer, Real, Text, Blob };

ColumnKind KindOf(const FieldDeclaration& field);
// Places of a decimal stored as an INTEGER count of its smallest unit (a
// decimal of 16 to 18 digits with places); 0 for every other field.
int UnitPlaces(const FieldDeclaration& field);
// The first field the columns cannot hold exactly (a decimal of more than 18
// digits), or 0 when every field fits.
int UnstorableField(const FileDeclaration& decl);
// The declared type of a column of that kind ("INTEGER", ...).
const char* SqlType(ColumnKind kind);
// The kind a declared column type gives (SQLite's affinity rules).
ColumnKind KindOfDeclaredType(std::string_view declared, bool& numeric);

// One column value as read from or bound to a statement.
struct ColumnValue {
  ColumnKind Kind = ColumnKind::Integer;
  std::int64_t Int = 0;
  double Real = 0;
  std::string Bytes;  // Text (UTF-8) or Blob

  bool operator==(const ColumnValue& other) const;
  // Total order within one kind, as SQLite's BINARY collation orders them.
  int Compare(const ColumnValue& other) const;
};

// Field `field` (1-based) of a record of `decl` held in `record`.
ColumnValue LoadField(const std::uint8_t* record, const FileDeclaration& decl, int field);
// Writes a column value into that field. False, with the field cleared, when
// the field cannot hold the value as it is: a number out of its range or with
// places an integer field has not, a text longer than the field or with a
// character Latin-1 has not (or bytes that are no UTF-8), an array of
// another size, or a value of another kind (text in an INTEGER column). A
// REAL decimal is rounded to the field's places, as it is stored.
bool StoreField(const ColumnValue& value, std::uint8_t* record, const FileDeclaration& decl,
                int field);
// Writes a row's values (`values[f - 1]` for field f) into `record`. False,
// with `why` naming the first column whose value its field cannot hold
// (StoreField), when any cannot; `record` is then partly written.
bool StoreRecord(const ColumnValue* values, std::uint8_t* record, const FileDeclaration& decl,
                 std::string& why);
// The message for a row whose values its record cannot hold: the record
// number, the values of the file's first key, and `why` from StoreRecord
// ("record 2000 (COMPANY=2, DUTYDATE=81446, ...): column DEPT holds ...").
std::string UnreadableRecord(std::int64_t rowid, const ColumnValue* values,
                             const FileDeclaration& decl, const std::string& why);

ColumnValue ReadColumn(sqlite3_stmt* stmt, int column);
void BindValue(sqlite3_stmt* stmt, int index, const ColumnValue& value);

// A value as text for position strings, and back ("i12", "r0x1.8p+1", "tabc", "b0a1f").
std::string EncodeValue(const ColumnValue& value);
bool DecodeValue(std::string_view text, ColumnValue& value);
// Values as ";v1;v2..." (empty for none) and back; false for a text that is not that.
std::string EncodeValues(const std::vector<ColumnValue>& values);
bool DecodeValues(std::string_view text, std::vector<ColumnValue>& values);

}  // namespace rt::sqlite
