// What a fuzz target does when a parser breaks one of its promises: it says
// which promise and on what, then aborts, so libFuzzer keeps the input as a
// crash to replay (`<target> <file>`).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The text with every byte outside printable ASCII written as \xNN.
inline std::string Escaped(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += hex;
  }
  return out;
}

[[noreturn]] inline void Broken(std::string_view promise, std::string_view detail) {
  std::fprintf(stderr, "broken promise: %.*s\n  %s\n", static_cast<int>(promise.size()),
               promise.data(), Escaped(detail).c_str());
  std::abort();
}

}  // namespace fuzz
