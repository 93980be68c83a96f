// Entry text read under a picture, as a window entry reads what was typed.
// Input: a picture name on the first line, then the text ("D02B\n 3/7/2022");
// without a known picture on the first line the whole input is text under D02.
//
// Promises: what an entry accepts is a valid value that shows as a text the
// entry reads back as the same value; a date is a real day from 1801 to 9999.
// Any number shows under every picture without harm.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/dates.h"
#include "runtime/core/pictures.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The pictures the program's entries and lists use, and patterns like them.
constexpr std::array<std::string_view, 9> kPictures = {
    "D02", "D02B", "n2", "n9", "P##P", "P##/##P", "P(###) ###-####P", "P###-##-####P", "plain"};

bool IsDatePicture(std::string_view picture) { return picture == "D02" || picture == "D02B"; }

void CheckAccepted(std::int64_t value, std::string_view text, std::string_view picture) {
  if (IsDatePicture(picture) && value != 0) {
    if (value < rt::kFirstDay || value > rt::kLastDay)
      fuzz::Broken("an accepted date lies between 1801 and 9999", text);
    const auto date = static_cast<std::int32_t>(value);
    if (rt::Date(rt::Month(date), rt::Day(date), rt::Year(date)) != date)
      fuzz::Broken("an accepted date names a real day", text);
  }
  if (value == 0 && picture == "D02")
    fuzz::Broken("D02 never accepts an empty date", text);
  const std::string shown = rt::Format(value, picture);
  const auto back = rt::Deformat(shown, picture);
  if (!back || *back != value)
    fuzz::Broken("an accepted value shows as text that reads back the same",
                 std::string(text) + " -> " + shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::Text(data, size);
  std::string_view picture = "D02";
  if (const auto end = text.find('\n'); end != text.npos) {
    for (std::string_view known : kPictures)
      if (text.substr(0, end) == known) {
        picture = known == "plain" ? std::string_view() : known;
        text.remove_prefix(end + 1);
        break;
      }
  }
  if (const auto value = rt::Deformat(text, picture)) CheckAccepted(*value, text, picture);

  // The text as a number (when it is one) shown under every picture.
  if (const auto number = rt::Deformat(text, "")) {
    for (std::string_view each : kPictures) {
      const std::string shown = rt::Format(*number, each);
      if (IsDatePicture(each) && *number >= rt::kFirstDay && *number <= rt::kLastDay &&
          rt::Deformat(shown, each) != number)
        fuzz::Broken("every valid day number shows as a date that reads back", shown);
    }
    rt::Format(*number, "D17");
    rt::Format(*number, "T8");
  }
  return 0;
}
