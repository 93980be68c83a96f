// Small text helpers shared across the tree. Case rules are ASCII only: the
// letters a-z and A-Z match each other, every other byte (digits, punctuation,
// Latin-1 and UTF-8 bytes) only matches itself, whatever the C locale is. That
// is also how SQLite's UPPER() treats text, so names and keys compared here
// agree with the KEYED driver's indexes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rt {

// True when a and b have the same length and differ at most in the case of
// ASCII letters.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// text with the ASCII letters a-z made upper case; other bytes unchanged.
std::string UpperCase(std::string_view text);

// Where what first occurs in text at or after from, ignoring the case of ASCII
// letters; std::string_view::npos when it does not occur or what is empty.
std::size_t FindIgnoringCase(std::string_view text, std::string_view what, std::size_t from = 0);

// text without its trailing blanks (spaces only; tabs and NULs are kept).
std::string_view TrimRight(std::string_view text);

// text without its leading and trailing blanks (spaces only).
std::string_view TrimBlanks(std::string_view text);

// text between double quotes, as it stands (nothing inside is escaped).
std::string InDoubleQuotes(std::string_view text);

// Whether text is empty or ASCII white space only (a value that gives nothing).
bool IsBlank(std::string_view text);

// text fit to print on a terminal whatever it holds: each control character
// (below 0x20 but the tab, DEL, and the C1 controls U+0080-U+009F as UTF-8
// writes them) becomes \xNN for each of its bytes, so text that came from
// outside (an argument, a trace line, a cell of a file) cannot move the
// cursor or change the screen. Everything else, UTF-8 too, stays as it is.
std::string PrintableText(std::string_view text);

}  // namespace rt
