#include "runtime/core/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace rt {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The packed bytes as hex nibbles, to check the layout directly.
std::string Nibbles(const Bytes& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (auto b : bytes) text += {kHex[b >> 4], kHex[b & 0x0F]};
  return text;
}

// The result as text, with its places; "refused" for nullopt.
std::string Shown(const std::optional<Decimal>& value) {
  return value ? value->ToString() : "refused";
}

Decimal D(const char* text) { return Decimal::Parse(text).value(); }

class DecimalShapeTest : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(DecimalShapeTest, ValuesThatFitRoundTripAndOthersAreRefused) {
  const auto [digits, places] = GetParam();
  std::int64_t largest = 1, one = 1;
  for (int i = 0; i < digits; ++i) largest *= 10;
  for (int i = 0; i < places; ++i) one *= 10;
  --largest;  // all nines
  for (std::int64_t units : {std::int64_t{0}, one, -one, largest, -largest, std::int64_t{-1}}) {
    SCOPED_TRACE(units);
    Bytes packed(PackedSize(digits), 0xAA);
    ASSERT_TRUE(Encode(Decimal{units, places}, digits, places, packed));
    // Sign nibble, then the digits right-aligned and zero-filled.
    const std::string text = std::to_string(units < 0 ? -units : units);
    EXPECT_EQ(Nibbles(packed),
              (units < 0 ? "F" : "0") + std::string(digits - text.size(), '0') + text);
    const auto decoded = Decode(packed, digits, places);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->Units, units);
    EXPECT_EQ(decoded->Places, places);
  }
  for (std::int64_t units : {largest + 1, -largest - 1}) {
    Bytes packed(PackedSize(digits), 0xAA);
    EXPECT_FALSE(Encode(Decimal{units, places}, digits, places, packed)) << units;
    EXPECT_EQ(packed, Bytes(PackedSize(digits), 0xAA)) << units;
  }
}

INSTANTIATE_TEST_SUITE_P(ProgramShapes, DecimalShapeTest,
                         testing::Values(std::pair{7, 0}, std::pair{5, 2}, std::pair{7, 2},
                                         std::pair{9, 0}, std::pair{3, 0}, std::pair{9, 4}));

TEST(DecimalTest, EncodeRoundsExtraPlacesHalfAwayFromZero) {
  // decimal(5,2); -0.004 rounds to zero and is written as positive zero;
  // 999.995 carries into a fourth integer digit and is refused.
  for (auto [value, want] : {std::pair{Decimal{1005, 3}, "000101"},
                             {Decimal{-1005, 3}, "F00101"},
                             {Decimal{1004, 3}, "000100"},
                             {Decimal{-4, 3}, "000000"},
                             {Decimal{999994, 3}, "099999"},
                             {Decimal{999995, 3}, "777777"}}) {
    Bytes packed(3, 0x77);
    EXPECT_EQ(Encode(value, 5, 2, packed), std::string(want) != "777777") << value.ToString();
    EXPECT_EQ(Nibbles(packed), want) << value.ToString();
  }
  Bytes even(PackedSize(4), 0);  // an even digit count holds one digit less
  EXPECT_TRUE(Encode(Decimal{999, 2}, 4, 2, even));
  EXPECT_FALSE(Encode(Decimal{1000, 2}, 4, 2, even));
}

TEST(DecimalTest, DecodeRejectsDamagedBytes) {
  EXPECT_EQ(Decode(Bytes{0x10, 0x00, 0x01}, 5, 2), std::nullopt);   // sign 1
  EXPECT_EQ(Decode(Bytes{0x00, 0x0A, 0x01}, 5, 2), std::nullopt);   // digit A
  EXPECT_EQ(Decode(Bytes{0x00, 0x00}, 5, 2), std::nullopt);         // too short
  EXPECT_EQ(Decode(Bytes(10, 0x99), 19, 0), std::nullopt);          // 19 nines
  EXPECT_EQ(Shown(Decode(Bytes{0xF0, 0x00, 0x00}, 5, 2)), "0.00");  // negative zero
}

TEST(DecimalTest, ArithmeticIsExact) {
  EXPECT_EQ(Add(D("0.1"), D("0.2")), D("0.3"));
  EXPECT_EQ(Shown(Add(D("0.1"), D("0.2"))), "0.3");
  EXPECT_EQ(Shown(Subtract(D("1"), D("1.25"))), "-0.25");
  EXPECT_EQ(Shown(Multiply(D("0.1"), D("3"))), "0.3");
  EXPECT_EQ(Shown(Multiply(D("1.5"), D("-1.5"))), "-2.25");
  // Exact products that fit only once their trailing zeros are dropped.
  EXPECT_EQ(Multiply(D("0.0000000010"), D("0.0000000010")), D("0.000000000000000001"));
  EXPECT_EQ(Multiply(D("500000000.000000000"), D("2.0")), D("1000000000"));
  EXPECT_EQ(Shown(Divide(D("2"), D("3"), 4)), "0.6667");
  EXPECT_EQ(Shown(Divide(D("-2"), D("3"), 4)), "-0.6667");
  EXPECT_EQ(Shown(Divide(D("1"), D("8"), 2)), "0.13");  // half away from zero
  EXPECT_EQ(Shown(Divide(D("1"), D("-8"), 2)), "-0.13");
  EXPECT_EQ(Shown(Divide(D("7.5"), D("0.25"), 0)), "30");
  EXPECT_EQ(Shown(Decimal{-1255, 3}.Rescaled(2)), "-1.26");
  EXPECT_EQ(Shown(Decimal{125, 2}.Rescaled(4)), "1.2500");
  EXPECT_EQ(Compare(D("1.50"), D("1.5")), 0);
  EXPECT_EQ(Compare(D("-1"), D("0.5")), -1);
  EXPECT_EQ(Compare(Decimal{INT64_MIN, 0}, Decimal{INT64_MAX, 18}), -1);
}

TEST(DecimalTest, OverflowIsRefusedNotWrapped) {
  const Decimal largest = D("999999999999999999");
  const Decimal tiny = D("0.000000000000000001");
  for (const auto& result :
       {Add(largest, D("1")), Subtract(D("-999999999999999999"), D("1")),
        Multiply(D("1000000000"), D("1000000000")),
        Multiply(D("0.0000000001"), D("0.0000000003")),  // needs 20 places
        Divide(D("1"), D("0.00"), 2), Divide(largest, tiny, 0), Divide(largest, tiny, 18),
        D("1").Rescaled(18), Decimal::Parse("1234567890123456789")})
    EXPECT_EQ(Shown(result), "refused");
}

TEST(DecimalTest, TextForms) {
  for (auto [text, want] : {std::pair{"-12.5", "-12.5"},
                            {"3", "3"},
                            {" 0.25 ", "0.25"},
                            {"+.5", "0.5"},
                            {"-0.05", "-0.05"},
                            {"-0", "0"},
                            {"1.000", "1.000"},
                            {"abc", "refused"},
                            {"", "refused"},
                            {"1.2.3", "refused"},
                            {"-", "refused"},
                            {"1e5", "refused"},
                            {"0.1234567890123456789", "refused"},   // 19 digits
                            {"0.0000000000000000001", "refused"}})  // 19 places
    EXPECT_EQ(Shown(Decimal::Parse(text)), want) << text;
  EXPECT_EQ(D("-12.50").Units, -1250);
  EXPECT_EQ(D("-12.50").Places, 2);
}

TEST(DecimalTest, DoublesReadBackExactly) {
  for (int places : {0, 2, 4}) {
    for (std::int64_t units = -2'000'000; units <= 2'000'000; units += 7) {
      const auto back = Decimal::FromDouble(Decimal{units, places}.ToDouble(), places);
      ASSERT_TRUE(back && back->Units == units) << units << " with " << places << " places";
    }
  }
  EXPECT_EQ(Shown(Decimal::FromDouble(0.125, 2)), "0.13");
  EXPECT_EQ(Shown(Decimal::FromDouble(NAN, 2)), "refused");
  EXPECT_EQ(Shown(Decimal::FromDouble(1e18, 0)), "refused");
}

}  // namespace
}  // namespace rt
