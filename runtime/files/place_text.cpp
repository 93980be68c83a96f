#include "runtime/files/place_text.h"

#include <charconv>

namespace rt {
namespace {

std::vector<std::string_view> Parts(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const auto semi = text.find(';', start);
    parts.push_back(text.substr(start, semi - start));
    if (semi == std::string_view::npos) return parts;
    start = semi + 1;
  }
}

// A whole decimal number, a sign allowed only where `sign`.
bool Number(std::string_view text, bool sign, std::int64_t& number) {
  if (text.empty() || (text[0] == '-' && !sign) || text[0] == '+') return false;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, number);
  return error == std::errc() && stop == end;
}

}  // namespace

std::string PositionText(int key, std::int64_t number, std::string_view values) {
  std::string text = key == 0 ? "R" + std::to_string(number)
                              : "K" + std::to_string(key) + ";" + std::to_string(number);
  if (text.size() + values.size() <= kPositionLimit) text += values;
  return text;
}

bool ParsePosition(std::string_view text, int key, std::int64_t& number,
                   std::vector<std::string_view>& values) {
  auto parts = Parts(text);
  std::string_view digits;
  std::size_t first = 1;
  if (key == 0) {
    if (parts[0].size() < 2 || parts[0][0] != 'R') return false;
    digits = parts[0].substr(1);
  } else {
    if (parts[0] != "K" + std::to_string(key) || parts.size() < 2) return false;
    digits = parts[1];
    first = 2;
  }
  if (digits.size() > 18 || !Number(digits, false, number)) return false;
  values.assign(parts.begin() + static_cast<std::ptrdiff_t>(first), parts.end());
  return true;
}

std::string SavedPlaceText(int place, std::int64_t number, std::string_view values) {
  std::string text = std::to_string(place) + ";" + std::to_string(number);
  return text += values;
}

bool ParseSavedPlace(std::string_view text, int lastPlace, int& place, std::int64_t& number,
                     std::vector<std::string_view>& values) {
  auto parts = Parts(text);
  std::int64_t at = 0;
  if (parts.size() < 2 || !Number(parts[0], false, at) || at > lastPlace ||
      !Number(parts[1], true, number))
    return false;
  place = static_cast<int>(at);
  values.assign(parts.begin() + 2, parts.end());
  return true;
}

}  // namespace rt
