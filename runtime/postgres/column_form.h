// How a record's fields become columns of the table on the server and back:
//   byte, short                 smallint
//   long, date                  integer (a date is its day number)
//   decimal(d,p)                numeric(d,p), exact
//   text                        varchar(size) COLLATE "C", trailing blanks removed
//   ctext                       varchar(size - 1) COLLATE "C", the characters before the NUL
//   arrays                      bytea of the element bytes
// Values travel in the server's text form. Texts, whole numbers and arrays
// follow the SQLite driver's rules (record_codec.h: Latin-1 record bytes as
// UTF-8, the same trimming, the same refusals on read); decimals keep every
// digit as numeric text.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/files/file_declaration.h"

namespace rt::postgres {

// The column's type in CREATE TABLE ("numeric(7,2)", "varchar(12) COLLATE \"C\"").
std::string ColumnType(const FieldDeclaration& field);
// Whether a column of the type the server reports (format_type) holds every
// value of the field, with the declared length for texts.
bool TypeHolds(const std::string& found, const FieldDeclaration& field);
bool IsText(const FieldDeclaration& field);

// Field `field` (1-based) of a record as the text the server reads.
std::string FieldText(const std::uint8_t* record, const FileDeclaration& decl, int field);
// Writes a column's text into that field. False, with the field cleared, when
// the field cannot hold it (as record_codec.h's StoreField refuses).
bool StoreText(const char* text, int length, std::uint8_t* record, const FileDeclaration& decl,
               int field);

}  // namespace rt::postgres
