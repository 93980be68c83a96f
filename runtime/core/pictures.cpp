#include "runtime/core/pictures.h"

#include <charconv>
#include <ctime>

#include "runtime/core/dates.h"
#include "runtime/core/text.h"

namespace rt {
namespace {

enum class PictureKind { Date, DateBlank, ShortDate, LongTime, Pattern, Number, Plain };

struct ParsedPicture {
  PictureKind Kind = PictureKind::Plain;
  int Width = 0;             // Number: the most characters shown
  std::string_view Pattern;  // Pattern: the characters between the two P's
};

constexpr std::int64_t kHundredthsPerDay = 24 * 60 * 60 * 100;
constexpr std::string_view kNoDate = "00/00/0000";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

ParsedPicture Classify(std::string_view picture) {
  if (SameIgnoringCase(picture, "D02")) return {PictureKind::Date, 0, {}};
  if (SameIgnoringCase(picture, "D02B")) return {PictureKind::DateBlank, 0, {}};
  if (SameIgnoringCase(picture, "D17")) return {PictureKind::ShortDate, 0, {}};
  if (SameIgnoringCase(picture, "T8")) return {PictureKind::LongTime, 0, {}};
  if (picture.size() >= 2 && (picture.front() == 'P' || picture.front() == 'p') &&
      (picture.back() == 'P' || picture.back() == 'p'))
    return {PictureKind::Pattern, 0, picture.substr(1, picture.size() - 2)};
  if (picture.size() >= 2 && (picture.front() == 'n' || picture.front() == 'N')) {
    int width = 0;
    auto [end, error] = std::from_chars(picture.data() + 1, picture.data() + picture.size(), width);
    if (error == std::errc() && end == picture.data() + picture.size() && width > 0)
      return {PictureKind::Number, width, {}};
  }
  return {PictureKind::Plain, 0, {}};
}

bool IsDayNumber(std::int64_t value) { return value >= kFirstDay && value <= kLastDay; }

std::string TwoDigits(int n) {
  return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

std::string FormatDate(std::int64_t value, PictureKind kind) {
  if (!IsDayNumber(value)) return kind == PictureKind::Date ? std::string(kNoDate) : std::string();
  const auto date = static_cast<std::int32_t>(value);
  std::string text = TwoDigits(Month(date)) + '/' + TwoDigits(Day(date)) + '/';
  const int year = Year(date);
  text += TwoDigits(year / 100) + TwoDigits(year % 100);
  return text;
}

// strftime under the current C library locale; empty when it writes nothing.
std::string FormatLocale(const std::tm& time, const char* conversion) {
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, conversion, &time);
  return std::string(buffer, length);
}

std::string FormatShortDate(std::int64_t value) {
  if (!IsDayNumber(value)) return {};
  const auto date = static_cast<std::int32_t>(value);
  std::tm time{};
  time.tm_year = Year(date) - 1900;
  time.tm_mon = Month(date) - 1;
  time.tm_mday = Day(date);
  time.tm_wday = DayOfWeek(date);
  time.tm_yday = date - Date(1, 1, Year(date));
  return FormatLocale(time, "%x");
}

std::string FormatLongTime(std::int64_t value) {
  if (value < 0 || value >= kHundredthsPerDay) return {};
  const auto seconds = static_cast<int>(value / 100);
  std::tm time{};
  time.tm_hour = seconds / 3600;
  time.tm_min = seconds / 60 % 60;
  time.tm_sec = seconds % 60;
  // Some locales name the weekday or date next to the time; give them 1 January 2000.
  time.tm_year = 100;
  time.tm_mday = 1;
  time.tm_wday = 6;
  return FormatLocale(time, "%X");
}

int CountDigitPositions(std::string_view pattern) {
  int count = 0;
  for (char c : pattern) count += c == '#' ? 1 : 0;
  return count;
}

std::string FormatPattern(std::int64_t value, std::string_view pattern) {
  std::string text(pattern);
  const int positions = CountDigitPositions(pattern);
  const std::string digits = std::to_string(value);
  if (value < 0 || static_cast<int>(digits.size()) > positions)
    return text;  // the #'s show overflow
  // Fill the digit positions from the right; leading positions stay blank.
  int next = static_cast<int>(digits.size()) - 1;
  for (int i = static_cast<int>(text.size()) - 1; i >= 0; --i) {
    if (text[i] != '#') continue;
    text[i] = next >= 0 ? digits[next--] : ' ';
  }
  return text;
}

std::string FormatNumber(std::int64_t value, int width) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) > width) return std::string(width, '#');
  return text;
}

// An optional sign and one or more digits, nothing else; nullopt past int64.
std::optional<std::int64_t> ParseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || !IsDigit(text.front())) return std::nullopt;
  }
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// minDigits..maxDigits digits at the front of `text`, removed from it; nullopt
// when fewer are there or more follow.
std::optional<int> TakeNumber(std::string_view& text, std::size_t minDigits,
                              std::size_t maxDigits) {
  std::size_t length = 0;
  while (length < text.size() && length < maxDigits && IsDigit(text[length])) ++length;
  if (length < minDigits || (length < text.size() && IsDigit(text[length]))) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < length; ++i) value = value * 10 + (text[i] - '0');
  text.remove_prefix(length);
  return value;
}

bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

std::optional<std::int64_t> DeformatDate(std::string_view text, PictureKind kind) {
  text = TrimBlanks(text);
  if (text.empty())
    return kind == PictureKind::DateBlank ? std::optional<std::int64_t>(0) : std::nullopt;
  const auto month = TakeNumber(text, 1, 2);
  if (!month || !TakeChar(text, '/')) return std::nullopt;
  const auto day = TakeNumber(text, 1, 2);
  if (!day || !TakeChar(text, '/')) return std::nullopt;
  const auto year = TakeNumber(text, 4, 4);
  if (!year || !text.empty()) return std::nullopt;
  // Date() would roll 02/30 into March; an entry must name a real day.
  if (*month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*month, *year))
    return std::nullopt;
  const std::int32_t date = Date(*month, *day, *year);
  if (date == 0) return std::nullopt;
  return date;
}

std::optional<std::int64_t> DeformatPattern(std::string_view text, std::string_view pattern) {
  std::string digits;
  for (char c : text) {
    if (IsDigit(c))
      digits.push_back(c);
    else if (c != ' ' && (c == '#' || pattern.find(c) == std::string_view::npos))
      return std::nullopt;
  }
  if (digits.empty() || static_cast<int>(digits.size()) > CountDigitPositions(pattern))
    return std::nullopt;
  return ParseInteger(digits);
}

}  // namespace

std::string Format(std::int64_t value, std::string_view picture) {
  const ParsedPicture parsed = Classify(picture);
  switch (parsed.Kind) {
    case PictureKind::Date:
    case PictureKind::DateBlank:
      return FormatDate(value, parsed.Kind);
    case PictureKind::ShortDate:
      return FormatShortDate(value);
    case PictureKind::LongTime:
      return FormatLongTime(value);
    case PictureKind::Pattern:
      return FormatPattern(value, parsed.Pattern);
    case PictureKind::Number:
      return FormatNumber(value, parsed.Width);
    case PictureKind::Plain:
      break;
  }
  return std::to_string(value);
}

std::optional<std::int64_t> Deformat(std::string_view text, std::string_view picture) {
  const ParsedPicture parsed = Classify(picture);
  switch (parsed.Kind) {
    case PictureKind::Date:
    case PictureKind::DateBlank:
      return DeformatDate(text, parsed.Kind);
    case PictureKind::ShortDate:
    case PictureKind::LongTime:
      return std::nullopt;
    case PictureKind::Pattern:
      return DeformatPattern(text, parsed.Pattern);
    case PictureKind::Number: {
      const auto value = ParseInteger(TrimBlanks(text));
      if (!value || static_cast<int>(std::to_string(*value).size()) > parsed.Width)
        return std::nullopt;
      return value;
    }
    case PictureKind::Plain:
      break;
  }
  return ParseInteger(TrimBlanks(text));
}

}  // namespace rt
