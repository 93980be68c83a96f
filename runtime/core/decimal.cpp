// Decimal arithmetic works on 128-bit intermediates: two 64-bit units multiply,
// or one is scaled by up to 10^18, without overflowing, so every operation is
// computed exactly first and checked against the 18-digit limit afterwards.
//
// Packed form of decimal(d, p), PackedSize(d) bytes, nibbles numbered from the
// high nibble of byte 0:
//   nibble 0                 sign: 0x0 positive, 0xF negative
//   nibbles 1 .. 2*bytes-1   digits, most significant first, p of them after
//                            the (implied) decimal point
// Zero is always written with a positive sign.
#include "runtime/core/decimal.h"

#include <array>
#include <cmath>

namespace rt {
namespace {

__extension__ typedef __int128 Wide;

constexpr int kMaxPlaces = 18;
constexpr std::int64_t kMaxUnits = 999'999'999'999'999'999;  // 18 digits

// 10^0 .. 10^38; 10^38 is the largest power of ten a signed 128-bit value holds.
constexpr std::array<Wide, 39> kPowers = [] {
  std::array<Wide, 39> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

bool ValidPlaces(int places) { return places >= 0 && places <= kMaxPlaces; }

bool Fits(Wide units) { return units >= -kMaxUnits && units <= kMaxUnits; }

Wide Magnitude(Wide v) { return v < 0 ? -v : v; }

// n / d rounded half away from zero; d must be nonzero.
Wide DivideRounded(Wide n, Wide d) {
  if (d < 0) {
    n = -n;
    d = -d;
  }
  Wide quotient = n / d;  // truncated toward zero
  Wide remainder = Magnitude(n % d);
  if (remainder >= d - remainder) quotient += n < 0 ? -1 : 1;
  return quotient;
}

// `units` with `from` places expressed with `to` places (both 0..18).
Wide Scale(std::int64_t units, int from, int to) {
  if (to >= from) return static_cast<Wide>(units) * kPowers[to - from];
  return DivideRounded(units, kPowers[from - to]);
}

std::optional<Decimal> Make(Wide units, int places) {
  if (!Fits(units)) return std::nullopt;
  return Decimal{static_cast<std::int64_t>(units), places};
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<Decimal> Decimal::Rescaled(int places) const {
  if (!ValidPlaces(places) || !ValidPlaces(Places)) return std::nullopt;
  return Make(Scale(Units, Places, places), places);
}

std::string Decimal::ToString() const {
  const int places = ValidPlaces(Places) ? Places : 0;
  Wide magnitude = Magnitude(Units);
  // Digits in reverse, with at least one digit before the point.
  std::string reversed;
  do {
    reversed.push_back(static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  while (static_cast<int>(reversed.size()) <= places) reversed.push_back('0');

  std::string text;
  if (Units < 0) text.push_back('-');
  for (int i = static_cast<int>(reversed.size()) - 1; i >= 0; --i) {
    text.push_back(reversed[i]);
    if (i == places && places > 0) text.push_back('.');
  }
  return text;
}

std::optional<Decimal> Decimal::Parse(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  Wide units = 0;
  int places = 0;
  bool sawDigit = false;
  bool sawPoint = false;
  for (char c : text) {
    if (c == '.' && !sawPoint) {
      sawPoint = true;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    sawDigit = true;
    units = units * 10 + (c - '0');
    if (units > kMaxUnits) return std::nullopt;
    if (sawPoint && ++places > kMaxPlaces) return std::nullopt;
  }
  if (!sawDigit) return std::nullopt;
  return Decimal{static_cast<std::int64_t>(negative ? -units : units), places};
}

std::optional<Decimal> Decimal::FromDouble(double value, int places) {
  if (!ValidPlaces(places) || !std::isfinite(value)) return std::nullopt;
  // Long double carries 64 significant bits and holds 10^18 exactly, so the
  // only rounding before roundl is that of the product itself.
  const long double scaled =
      std::roundl(static_cast<long double>(value) * static_cast<long double>(kPowers[places]));
  if (scaled > static_cast<long double>(kMaxUnits) || scaled < -static_cast<long double>(kMaxUnits))
    return std::nullopt;
  return Decimal{static_cast<std::int64_t>(scaled), places};
}

double Decimal::ToDouble() const {
  const int places = ValidPlaces(Places) ? Places : 0;
  // Up to 2^53 both operands are exact doubles, so one division gives the
  // double nearest to the decimal value (and FromDouble reads it back).
  constexpr std::int64_t kExactInDouble = std::int64_t{1} << 53;
  if (Units >= -kExactInDouble && Units <= kExactInDouble)
    return static_cast<double>(Units) / static_cast<double>(kPowers[places]);
  return static_cast<double>(static_cast<long double>(Units) /
                             static_cast<long double>(kPowers[places]));
}

int Compare(const Decimal& a, const Decimal& b) {
  const int pa = ValidPlaces(a.Places) ? a.Places : 0;
  const int pb = ValidPlaces(b.Places) ? b.Places : 0;
  const int places = pa > pb ? pa : pb;
  const Wide x = Scale(a.Units, pa, places);
  const Wide y = Scale(b.Units, pb, places);
  return x < y ? -1 : (x > y ? 1 : 0);
}

std::optional<Decimal> Add(const Decimal& a, const Decimal& b) {
  if (!ValidPlaces(a.Places) || !ValidPlaces(b.Places)) return std::nullopt;
  const int places = a.Places > b.Places ? a.Places : b.Places;
  return Make(Scale(a.Units, a.Places, places) + Scale(b.Units, b.Places, places), places);
}

std::optional<Decimal> Subtract(const Decimal& a, const Decimal& b) {
  if (!ValidPlaces(a.Places) || !ValidPlaces(b.Places)) return std::nullopt;
  const int places = a.Places > b.Places ? a.Places : b.Places;
  return Make(Scale(a.Units, a.Places, places) - Scale(b.Units, b.Places, places), places);
}

std::optional<Decimal> Multiply(const Decimal& a, const Decimal& b) {
  if (!ValidPlaces(a.Places) || !ValidPlaces(b.Places)) return std::nullopt;
  Wide product = static_cast<Wide>(a.Units) * b.Units;
  int places = a.Places + b.Places;
  // Trailing zeros of the exact product may be dropped to make it fit; any
  // other digit would make the result inexact, so it is refused instead.
  while ((places > kMaxPlaces || !Fits(product)) && places > 0 && product % 10 == 0) {
    product /= 10;
    --places;
  }
  if (places > kMaxPlaces) return std::nullopt;
  return Make(product, places);
}

std::optional<Decimal> Divide(const Decimal& a, const Decimal& b, int places) {
  if (!ValidPlaces(a.Places) || !ValidPlaces(b.Places) || !ValidPlaces(places)) return std::nullopt;
  if (b.Units == 0) return std::nullopt;
  // result = a.Units * 10^(places + b.Places - a.Places) / b.Units
  const int exponent = places + b.Places - a.Places;  // -18 .. 36
  Wide numerator = a.Units;
  Wide denominator = b.Units;
  if (exponent >= 0) {
    // Beyond 10^38 the numerator does not fit, but then even the largest
    // divisor (below 10^19) leaves a quotient past 18 digits.
    if (Magnitude(numerator) > kPowers[38 - exponent]) return std::nullopt;
    numerator *= kPowers[exponent];
  } else {
    denominator *= kPowers[-exponent];
  }
  return Make(DivideRounded(numerator, denominator), places);
}

bool Encode(const Decimal& value, int digits, int places, std::span<std::uint8_t> out) {
  if (digits < 1 || !ValidPlaces(places) || places > digits || !ValidPlaces(value.Places))
    return false;
  const int bytes = PackedSize(digits);
  if (static_cast<int>(out.size()) < bytes) return false;
  // The nibbles after the sign; never more than `digits`.
  const int capacity = 2 * bytes - 1;

  const Wide units = Scale(value.Units, value.Places, places);
  const Wide magnitude = Magnitude(units);
  // Past 18 digits Decode could not read the value back, whatever the shape.
  if (magnitude > kMaxUnits || (capacity < 38 && magnitude >= kPowers[capacity])) return false;

  // Within 18 digits now: 64-bit division is much cheaper than 128-bit.
  auto rest = static_cast<std::uint64_t>(magnitude);
  for (int i = 0; i < bytes; ++i) out[i] = 0;
  for (int nibble = capacity; nibble >= 1 && rest != 0; --nibble) {
    const auto digit = static_cast<std::uint8_t>(rest % 10);
    rest /= 10;
    out[nibble / 2] |= nibble % 2 == 0 ? static_cast<std::uint8_t>(digit << 4) : digit;
  }
  if (units < 0) out[0] |= 0xF0;
  return true;
}

std::optional<Decimal> Decode(std::span<const std::uint8_t> in, int digits, int places) {
  if (digits < 1 || !ValidPlaces(places) || places > digits) return std::nullopt;
  const int bytes = PackedSize(digits);
  if (static_cast<int>(in.size()) < bytes) return std::nullopt;
  const int capacity = 2 * bytes - 1;

  const int sign = in[0] >> 4;
  if (sign != 0 && sign != 0xF) return std::nullopt;
  std::uint64_t units = 0;  // at most kMaxUnits * 10 + 9 (< 2^64) before the check below
  for (int nibble = 1; nibble <= capacity; ++nibble) {
    const int digit = nibble % 2 == 0 ? in[nibble / 2] >> 4 : in[nibble / 2] & 0x0F;
    if (digit > 9) return std::nullopt;
    units = units * 10 + static_cast<std::uint64_t>(digit);
    if (units > static_cast<std::uint64_t>(kMaxUnits)) return std::nullopt;
  }
  const auto value = static_cast<std::int64_t>(units);
  return Decimal{sign == 0xF ? -value : value, places};
}

}  // namespace rt
