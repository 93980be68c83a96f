#include "runtime/windows/bound_variable.h"

#include <charconv>
#include <limits>

#include "runtime/core/pictures.h"
#include "runtime/core/text.h"

namespace rt {
namespace {

std::optional<std::int64_t> ReadNumber(std::string_view text, std::string_view picture) {
  if (!picture.empty()) return Deformat(text, picture);
  text = TrimBlanks(text);
  if (text.empty()) return 0;
  return Deformat(text, "");
}

template <class T>
bool StoreInteger(T* target, std::optional<std::int64_t> value) {
  if (!value || *value < std::numeric_limits<T>::min() || *value > std::numeric_limits<T>::max())
    return false;
  *target = static_cast<T>(*value);
  return true;
}

// Date pictures, with or without the blank-for-0 and left-align marks.
bool IsDatePicture(std::string_view picture) {
  const std::string p = UpperCase(picture);
  return p == "D02" || p == "D02B" || p == "@D02" || p == "@D02B";
}

}  // namespace

std::string EntryFormatHint(std::string_view picture) {
  return IsDatePicture(picture) ? "mm/dd/yyyy" : "";
}

std::string EntryTypingHint(std::string_view picture) {
  return IsDatePicture(picture) ? "Type a date as MM/DD/YYYY" : "";
}

std::string FormatVariable(const BoundVariable& v, std::string_view picture) {
  if (auto* s = std::get_if<std::string*>(&v)) {
    if (!*s) return {};
    if (picture.empty()) return **s;
    const auto value = Deformat(**s, "");
    return value ? Format(*value, picture) : **s;
  }
  if (!IsBound(v)) return {};
  const std::int64_t value = VariableNumber(v);
  return picture.empty() ? std::to_string(value) : Format(value, picture);
}

bool StoreVariable(const BoundVariable& v, std::string_view text, std::string_view picture) {
  if (!IsBound(v)) return picture.empty() || Deformat(text, picture).has_value();
  if (auto* s = std::get_if<std::string*>(&v)) {
    if (!picture.empty() && !Deformat(text, picture)) return false;
    if (*s) **s = std::string(text);
    return true;
  }
  const auto value = ReadNumber(text, picture);
  if (auto* p = std::get_if<std::int32_t*>(&v)) return *p ? StoreInteger(*p, value) : value.has_value();
  if (auto* p = std::get_if<std::int16_t*>(&v)) return *p ? StoreInteger(*p, value) : value.has_value();
  if (auto* p = std::get_if<std::uint8_t*>(&v)) return *p ? StoreInteger(*p, value) : value.has_value();
  if (auto* p = std::get_if<std::int64_t*>(&v)) return *p ? StoreInteger(*p, value) : value.has_value();
  return false;
}

std::int64_t VariableNumber(const BoundVariable& v) {
  return std::visit(
      [](auto target) -> std::int64_t {
        using Pointer = decltype(target);
        if constexpr (std::is_same_v<Pointer, std::monostate>) {
          return 0;
        } else if constexpr (std::is_same_v<Pointer, std::string*>) {
          if (!target) return 0;
          return Deformat(*target, "").value_or(0);
        } else {
          return target ? static_cast<std::int64_t>(*target) : 0;
        }
      },
      v);
}

}  // namespace rt
