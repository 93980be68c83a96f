#include "ui/step_manager.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "runtime/core/decimal.h"
#include "runtime/core/text.h"
#include "runtime/files/field_ref.h"

namespace ui {
namespace {

// A double cut toward zero to a whole number; values past the 64-bit range
// stop at its ends instead of being undefined.
std::int64_t Truncated(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9.2e18;
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

std::int32_t TruncatedToLong(double value) {
  const std::int64_t whole = Truncated(value);
  if (whole > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (whole < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(whole);
}

}  // namespace

AnyValue AnyValue::Number(double value) {
  AnyValue v;
  v.Real = value;
  return v;
}

AnyValue AnyValue::Text(std::string text) {
  AnyValue v;
  v.IsText = true;
  v.Chars = std::move(text);
  return v;
}

AnyValue AnyValue::Of(const rt::FieldRef& field) {
  if (!field.IsValid()) return Number(0);
  if (field.IsString()) return Text(std::string(rt::TrimRight(field.GetString())));
  return Number(field.GetDecimal().ToDouble());
}

double AnyValue::ToReal() const {
  if (!IsText) return Real;
  const std::string text(rt::TrimBlanks(Chars));
  if (text.empty()) return 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() ? value : 0;
}

void StepManager::Init(std::uint8_t controls) { Controls = controls; }

void StepManager::SetLimits(const AnyValue& low, const AnyValue& high) {
  const std::int32_t lo = TruncatedToLong(low.ToReal());
  const std::int32_t hi = TruncatedToLong(high.ToReal());
  if (Controls & kStepInverted) {
    Low = hi;
    High = lo;
  } else {
    Low = lo;
    High = hi;
  }
}

std::uint8_t StepManager::GetPercentile(const AnyValue& value) {
  if (High == Low) return 50;
  // (value - Low) * 100 / (High - Low) in whole numbers, so the high limit
  // gives exactly 100 whatever the span; a factor 100 / span rounded to
  // any number of places misses it for spans it does not divide.
  const std::int64_t span = std::int64_t{High} - Low;
  const std::int64_t hundredfold = Truncated((value.ToReal() - Low) * 100.0);
  // The low 8 bits of the truncated quotient (those of its 16-bit form too).
  auto percentage = static_cast<std::uint8_t>(static_cast<std::uint64_t>(hundredfold / span) & 0xFF);
  if (Controls & kStepInverted) percentage = static_cast<std::uint8_t>(100 - percentage);
  return percentage == 0 ? 1 : percentage;
}

std::string StepManager::GetValue(std::uint8_t percentage) {
  const int q = (Controls & kStepInverted) ? 100 - percentage : percentage;
  // Low + q / 100 * (High - Low), exact: the hundredths of the result.
  const std::int64_t hundredths =
      std::int64_t{Low} * 100 + std::int64_t{q} * (std::int64_t{High} - Low);
  rt::Decimal result{hundredths, 2};
  std::string text = result.ToString();
  // Whole values read as whole numbers, fractions without trailing zeros.
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

void StepManager::Kill() {}

std::uint8_t StepManager::WantsLimits() { return 1; }

}  // namespace ui
