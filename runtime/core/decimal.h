// Exact decimal numbers and the packed form they take in a record buffer.
//
// A Decimal is an exact scaled integer: Units / 10^Places. Arithmetic never
// goes through floating point. The packed form of decimal(d,p) is (d+1)/2
// bytes: the sign in the high nibble of the first byte (0 positive, 0xF
// negative), then the digits, most significant first, one per nibble. A value
// that does not fit its shape is refused, never wrapped or cut.
//
// The packed form holds 2*PackedSize(d)-1 digits: d for an odd d, but only d-1
// for an even d (decimal(4,2) holds at most 9.99). Declare odd digit counts.
//
// Places run 0..18 and results hold at most 18 digits; an operation given
// places outside 0..18 gives nullopt (or false).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rt {

struct Decimal {
  std::int64_t Units = 0;  // the value times 10^Places
  int Places = 0;          // 0..18

  // The same value with `places` places; digits beyond are rounded half away
  // from zero. nullopt when the result does not fit in 18 digits.
  std::optional<Decimal> Rescaled(int places) const;
  // Exact text: "-12.50" for Units -1250, Places 2.
  std::string ToString() const;
  // Parses "-12.5", "+3", ".5", " 0.25 " (blanks and tabs around); nullopt for
  // anything else, more than 18 significant digits or more than 18 places.
  // Places is the number of digits written after the point.
  static std::optional<Decimal> Parse(std::string_view text);
  static Decimal FromInt(std::int64_t value) { return Decimal{value, 0}; }
  // The nearest value with `places` places (the stored REAL of a column);
  // nullopt for NaN, infinities and values past 18 digits.
  static std::optional<Decimal> FromDouble(double value, int places);
  double ToDouble() const;
};

// Three-way comparison by value (1.50 equals 1.5).
int Compare(const Decimal& a, const Decimal& b);
inline bool operator==(const Decimal& a, const Decimal& b) { return Compare(a, b) == 0; }

// Exact sum and product; nullopt on overflow of 18 digits. A sum has the
// larger of the two places, a product their total (trailing zeros are dropped
// when that is what it takes to fit; a product that needs more than 18 places
// is refused rather than rounded).
std::optional<Decimal> Add(const Decimal& a, const Decimal& b);
std::optional<Decimal> Subtract(const Decimal& a, const Decimal& b);
std::optional<Decimal> Multiply(const Decimal& a, const Decimal& b);
// a / b rounded half away from zero to `places` places; nullopt when b is 0
// or the result overflows.
std::optional<Decimal> Divide(const Decimal& a, const Decimal& b, int places);

// Bytes of the packed form of decimal(digits, places).
constexpr int PackedSize(int digits) { return (digits + 1) / 2; }

// Writes `value` packed into `out` (PackedSize bytes) as decimal(digits,
// places), rounding extra places half away from zero; a value that rounds to
// zero is written as positive zero. Returns false and leaves `out` unchanged when
// the value (after rounding) has more integer digits than the packed form holds,
// when `out` is shorter than PackedSize(digits), or when places > digits.
bool Encode(const Decimal& value, int digits, int places, std::span<std::uint8_t> out);

// Reads a packed decimal(digits, places) from the first PackedSize(digits)
// bytes of `in`. A nibble that is not a digit, a sign that is neither 0 nor 0xF,
// a value past 18 digits or an `in` shorter than that reads as nullopt.
// Negative zero reads as 0.
std::optional<Decimal> Decode(std::span<const std::uint8_t> in, int digits, int places);

}  // namespace rt
