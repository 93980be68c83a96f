// The text of one INI file held as lines, so that a change rewrites only the
// entry it touches and keeps everything else as it was.
//
// What a line is (leading and trailing blanks and tabs never count):
//   [name]          a section header; the name runs to the last ']' on the line
//   ; text, # text  a comment
//   key = value     an entry of the section above it; the key runs to the first
//                   '='; a value wrapped in one pair of double quotes loses them
//   anything else   an unknown line (also entries above the first header)
// Section names and keys match without regard to case (ASCII letters only).
// When a section or key appears more than once, the first occurrence wins on
// reading; writing updates that occurrence and drops the later duplicates of
// the key, so what was written is what is read back.
//
// A value is written in quotes when it has blanks at either end or is itself
// wrapped in quotes, so every single-line value reads back exactly as written.
// The file keeps its line ending (LF or CRLF, as its first line has it) and a
// leading UTF-8 byte-order mark. Carriage returns that end a line belong to
// its line ending.
//
// An IniDocument is a plain value; it is not shared between threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// Whether two section names or keys are the same: equal but for the case of
// ASCII letters.
bool SameIniName(std::string_view a, std::string_view b);

class IniDocument {
 public:
  // Parses file text. Returns nothing when the text is not an INI file at all:
  // it holds control characters other than tab, CR and LF (a binary or
  // UTF-16 file, random bytes).
  static std::optional<IniDocument> Parse(std::string_view text);

  // The value of key in section, or nothing when either is absent.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Sets key in section, adding the section at the end and the key at the end
  // of its section when they are absent. The caller checks the names and the
  // value with the Valid* functions first.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes every occurrence of key in section. Returns true when one was there.
  bool Remove(std::string_view section, std::string_view key);

  // The file text, every line ended by the document's line ending.
  std::string Text() const;

  // Whether a name or value can be stored so that it reads back unchanged.
  // A value has no line break and no control character but tab (the file would
  // no longer read as text). A section name likewise, and is not empty after
  // trimming. A key likewise, and has no '=' and does not start with ';', '#'
  // or '['.
  static bool ValidSection(std::string_view section);
  static bool ValidKey(std::string_view key);
  static bool ValidValue(std::string_view value);

 private:
  enum class Kind { Header, Entry, Other };
  struct Line {
    Kind kind = Kind::Other;
    std::string text;  // the line as read, without its line ending
    std::string name;  // section name (Header) or key (Entry), trimmed
    std::string value;  // Entry only: the value as read back
  };

  static Line ParseLine(std::string_view text);
  // Index of the header line of each section named section, in file order.
  std::vector<std::size_t> SectionsNamed(std::string_view section) const;
  // One past the last line of the section whose header is at header.
  std::size_t SectionEnd(std::size_t header) const;

  std::vector<Line> lines_;
  bool crlf_ = false;
  bool byteOrderMark_ = false;
};

}  // namespace rt
