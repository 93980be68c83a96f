#include "runtime/core/text.h"

namespace rt {
namespace {

// Not std::toupper: that follows the C library's current locale, which the
// program may change.
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = UpperAscii(c);
  return upper;
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view what, std::size_t from) {
  if (what.empty() || text.size() < what.size()) return std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size(); ++i)
    if (SameIgnoringCase(text.substr(i, what.size()), what)) return i;
  return std::string_view::npos;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return TrimRight(text);
}

std::string InDoubleQuotes(std::string_view text) {
  // Built by appending: GCC 12 at -O2 takes `"\"" + std::string(text)` for an
  // overlapping copy (-Wrestrict).
  std::string quoted(1, '"');
  quoted += text;
  quoted += '"';
  return quoted;
}

bool IsBlank(std::string_view text) {
  for (char c : text)
    if (c != ' ' && (c < '\t' || c > '\r')) return false;
  return true;
}

std::string PrintableText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xf];
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if ((c < 0x20 && c != '\t') || c == 0x7f) {
      escape(c);
    } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
      escape(c);
      escape(next);
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace rt
