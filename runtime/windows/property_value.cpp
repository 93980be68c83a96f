#include "runtime/windows/property_value.h"

#include "runtime/core/pictures.h"

namespace rt {

std::int64_t PropertyValue::Number() const {
  if (auto* n = std::get_if<std::int64_t>(&value_)) return *n;
  if (auto* s = std::get_if<std::string>(&value_)) return Deformat(*s, "").value_or(0);
  return VariableNumber(std::get<BoundVariable>(value_));
}

std::string PropertyValue::Text() const {
  if (auto* n = std::get_if<std::int64_t>(&value_)) return std::to_string(*n);
  if (auto* s = std::get_if<std::string>(&value_)) return *s;
  return FormatVariable(std::get<BoundVariable>(value_), "");
}

BoundVariable PropertyValue::Variable() const {
  if (auto* v = std::get_if<BoundVariable>(&value_)) return *v;
  return {};
}

}  // namespace rt
