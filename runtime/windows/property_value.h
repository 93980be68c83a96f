// The value of a window or control property: a number, a text or a bound
// variable. Numbers and texts convert into each other the way a property
// reader expects ("12" reads as 12, 12 as "12").
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "runtime/windows/bound_variable.h"

namespace rt {

class PropertyValue {
 public:
  PropertyValue() : value_(std::int64_t{0}) {}
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  PropertyValue(T n) : value_(static_cast<std::int64_t>(n)) {}
  PropertyValue(bool b) : value_(std::int64_t{b ? 1 : 0}) {}
  PropertyValue(const char* text) : value_(std::string(text ? text : "")) {}
  PropertyValue(std::string_view text) : value_(std::string(text)) {}
  PropertyValue(std::string text) : value_(std::move(text)) {}
  PropertyValue(const BoundVariable& v) : value_(v) {}
  template <class T>
    requires std::is_constructible_v<BoundVariable, T*> && (!std::same_as<T, const char>) && (!std::same_as<T, char>)
  PropertyValue(T* variable) : value_(BoundVariable(variable)) {}

  bool IsNumber() const { return std::holds_alternative<std::int64_t>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  bool IsVariable() const { return std::holds_alternative<BoundVariable>(value_); }

  // A text that is not a whole number reads as 0; a variable reads its value.
  std::int64_t Number() const;
  // A number as decimal text; a variable as its plain text.
  std::string Text() const;
  // The bound variable, or an unbound one.
  BoundVariable Variable() const;

  friend bool operator==(const PropertyValue& a, const PropertyValue& b) { return a.value_ == b.value_; }

 private:
  std::variant<std::int64_t, std::string, BoundVariable> value_;
};

}  // namespace rt
