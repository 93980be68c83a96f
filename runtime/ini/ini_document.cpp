#include "runtime/ini/ini_document.h"

#include <algorithm>

#include "runtime/core/text.h"

namespace rt {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool WrappedInQuotes(std::string_view s) { return s.size() >= 2 && s.front() == '"' && s.back() == '"'; }

// Control characters other than tab, CR and LF never occur in a text file.
bool IsTextByte(unsigned char c) { return c >= 0x20 ? c != 0x7f : (c == '\t' || c == '\r' || c == '\n'); }

// What one line of the file may hold: text bytes, but no line break. Anything
// else would split the line or make the whole file read as damaged.
bool FitsOnOneLine(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    return IsTextByte(static_cast<unsigned char>(c)) && c != '\r' && c != '\n';
  });
}

std::string EncodeValue(std::string_view value) {
  bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || WrappedInQuotes(value));
  return quote ? InDoubleQuotes(value) : std::string(value);
}

}  // namespace

bool SameIniName(std::string_view a, std::string_view b) { return SameIgnoringCase(a, b); }

std::optional<IniDocument> IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    doc.byteOrderMark_ = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  if (!std::all_of(text.begin(), text.end(), [](char c) { return IsTextByte(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  bool firstLine = true;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    bool ended = end != text.npos;
    // Carriage returns at the end of a line are its line ending, however many
    // (a file converted to CRLF twice) and also on a last line without a line
    // feed: they never become part of a value, whatever ending is written back.
    std::size_t length = line.size();
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (firstLine && ended && line.size() < length) doc.crlf_ = true;
    doc.lines_.push_back(ParseLine(line));
    firstLine = false;
    text.remove_prefix(ended ? end + 1 : text.size());
  }
  return doc;
}

IniDocument::Line IniDocument::ParseLine(std::string_view text) {
  Line line;
  line.text = text;
  std::string_view t = Trim(text);
  if (t.empty() || t.front() == ';' || t.front() == '#') return line;
  if (t.front() == '[') {
    std::size_t close = t.rfind(']');
    if (close != t.npos && close > 0) {
      line.kind = Kind::Header;
      line.name = Trim(t.substr(1, close - 1));
    }
    return line;
  }
  std::size_t equals = t.find('=');
  if (equals == t.npos) return line;
  std::string_view key = Trim(t.substr(0, equals));
  if (key.empty()) return line;
  std::string_view value = Trim(t.substr(equals + 1));
  if (WrappedInQuotes(value)) value = value.substr(1, value.size() - 2);
  line.kind = Kind::Entry;
  line.name = key;
  line.value = value;
  return line;
}

std::vector<std::size_t> IniDocument::SectionsNamed(std::string_view section) const {
  section = Trim(section);
  std::vector<std::size_t> headers;
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind == Kind::Header && SameIniName(lines_[i].name, section)) headers.push_back(i);
  return headers;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::Header) ++i;
  return i;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  key = Trim(key);
  for (std::size_t header : SectionsNamed(section))
    for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i)
      if (lines_[i].kind == Kind::Entry && SameIniName(lines_[i].name, key)) return lines_[i].value;
  return std::nullopt;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  key = Trim(key);
  std::vector<std::size_t> headers = SectionsNamed(section);
  bool found = false;
  std::vector<std::size_t> duplicates;
  for (std::size_t header : headers) {
    for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
      Line& line = lines_[i];
      if (line.kind != Kind::Entry || !SameIniName(line.name, key)) continue;
      if (found) {
        duplicates.push_back(i);
        continue;
      }
      // Keep the key as the file spells it.
      line.text = line.name + "=" + EncodeValue(value);
      line.value = value;
      found = true;
    }
  }
  for (auto it = duplicates.rbegin(); it != duplicates.rend(); ++it)
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*it));
  if (found) return;

  Line entry{Kind::Entry, std::string(key) + "=" + EncodeValue(value), std::string(key), std::string(value)};
  if (!headers.empty()) {
    // After the section's last entry, so comments and blank lines that lead
    // into the next section stay where they are.
    std::size_t at = headers.front() + 1;
    for (std::size_t i = at, end = SectionEnd(headers.front()); i < end; ++i)
      if (lines_[i].kind == Kind::Entry) at = i + 1;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    return;
  }
  if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(Line{});
  std::string name(Trim(section));
  lines_.push_back(Line{Kind::Header, "[" + name + "]", name, {}});
  lines_.push_back(std::move(entry));
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
  key = Trim(key);
  std::vector<std::size_t> doomed;
  for (std::size_t header : SectionsNamed(section))
    for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i)
      if (lines_[i].kind == Kind::Entry && SameIniName(lines_[i].name, key)) doomed.push_back(i);
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*it));
  return !doomed.empty();
}

std::string IniDocument::Text() const {
  std::string_view ending = crlf_ ? "\r\n" : "\n";
  std::string text = byteOrderMark_ ? std::string(kByteOrderMark) : std::string();
  for (const Line& line : lines_) {
    text += line.text;
    text += ending;
  }
  return text;
}

bool IniDocument::ValidSection(std::string_view section) {
  return !Trim(section).empty() && FitsOnOneLine(section);
}

bool IniDocument::ValidKey(std::string_view key) {
  std::string_view t = Trim(key);
  return !t.empty() && FitsOnOneLine(key) && key.find('=') == key.npos && t.front() != ';' &&
         t.front() != '#' && t.front() != '[';
}

bool IniDocument::ValidValue(std::string_view value) { return FitsOnOneLine(value); }

}  // namespace rt
