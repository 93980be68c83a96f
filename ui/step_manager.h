// StepManager: turns a record's key value into a progress percentage between
// 1 and 100, given the lowest and highest key values of the data, and back.
// The record processor (record_processor.h) gives it the key field of the
// first and last records of its view as limits and then asks it for the
// percentage of every record it counts, so the thermometer moves by key value
// instead of by record count.
//
// The arithmetic, for limits Low and High (whole numbers):
//   equal limits                  50 for every value
//   p = (value - Low) * 100       divided by (High - Low) in whole numbers,
//                                 truncated toward zero; its low 8 bits
//   option 0x10                   the limits are stored swapped and p becomes
//                                 100 - p (8-bit arithmetic), so limits given
//                                 as (low, high) still map low to 1 and high
//                                 to 100
//   p of 0                        becomes 1, so the low limit shows movement
// A value outside the limits gives the low 8 bits of its product; the record
// processor caps anything above 100.
//
// Threading: a step manager belongs to the thread of its processor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {
class FieldRef;
}

namespace ui {

// A key value of any type as a step manager takes it: a number, or text that
// is read as a number where a number is needed (0 when it is none).
struct AnyValue {
  static AnyValue Number(double value);
  static AnyValue Text(std::string text);
  // A field's value: numbers by value, strings as their text.
  static AnyValue Of(const rt::FieldRef& field);

  double ToReal() const;

  bool IsText = false;
  double Real = 0;
  std::string Chars;
};

// Option bit of Controls: swap the limits and invert the percentage.
inline constexpr std::uint8_t kStepInverted = 0x10;

class StepManager {
 public:
  StepManager() = default;
  virtual ~StepManager() = default;

  // ---- Virtual operations, in their fixed order.

  // The percentage of `value` between the limits (see the top of the file).
  virtual std::uint8_t GetPercentile(const AnyValue& value);
  // The key value at `percentage`, as text ("150", "150.5").
  virtual std::string GetValue(std::uint8_t percentage);
  // Does nothing; the processor calls it from its own Kill.
  virtual void Kill();
  // Both values truncated toward zero to 32-bit whole numbers; swapped with
  // option 0x10.
  virtual void SetLimits(const AnyValue& low, const AnyValue& high);
  // Always 1.
  virtual std::uint8_t WantsLimits();

  // ---- Non-virtual operations.

  // Stores the option bits; only 0x10 is read here.
  void Init(std::uint8_t controls);

  // ---- Fields, in their fixed order.
  std::uint8_t Controls = 0;
  std::int32_t Low = 0;
  std::int32_t High = 0;
};

}  // namespace ui
