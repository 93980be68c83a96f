// The texts with which the KEYED drivers (SQLite and PostgreSQL) save a place
// in a file for later, both ';'-separated: a head, a record number, then
// values the driver encodes and decodes itself.
//   position      "R<number>[;value...]" by record, "K<key>;<number>[;value...]"
//                 by key: FilePosition's text, for Reget and Reset
//   saved place   "<place>;<number>[;value...]": a cursor's place, within
//                 SaveCursor's text
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// A position holds its values only while it stays within this many characters.
inline constexpr std::size_t kPositionLimit = 1024;

// The position of record `number` by `key` (0: by record); `values` (each
// with its ';' before it) are kept when the whole fits kPositionLimit.
std::string PositionText(int key, std::int64_t number, std::string_view values);

// Splits a position by `key`; false when it is not one of ours for that key.
// The number has 1 to 18 digits.
bool ParsePosition(std::string_view text, int key, std::int64_t& number,
                   std::vector<std::string_view>& values);

// "<place>;<number>" then `values` (each with its ';' before it).
std::string SavedPlaceText(int place, std::int64_t number, std::string_view values);

// Splits a saved place; false when it is not one, or its place is not 0 to
// `lastPlace`.
bool ParseSavedPlace(std::string_view text, int lastPlace, int& place, std::int64_t& number,
                     std::vector<std::string_view>& values);

}  // namespace rt
