#include "runtime/text/latin1.h"

namespace rt {

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

// Decodes the UTF-8 sequence at `i` (advancing past it); -1 for a byte that
// starts no valid sequence.
long NextCode(std::string_view utf8, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(utf8[i++]);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
  if (extra < 0) return -1;
  long code = c & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) return -1;
    code = (code << 6) | (static_cast<unsigned char>(utf8[i++]) & 0x3F);
  }
  return code;
}

}  // namespace

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    long code = NextCode(utf8, i);
    out += code >= 0 && code <= 0xFF ? static_cast<char>(code) : '?';
  }
  return out;
}

bool Utf8ToLatin1Exact(std::string_view utf8, std::string& latin1) {
  latin1.clear();
  for (std::size_t i = 0; i < utf8.size();) {
    long code = NextCode(utf8, i);
    if (code < 0 || code > 0xFF) return false;
    latin1 += static_cast<char>(code);
  }
  return true;
}

}  // namespace rt
