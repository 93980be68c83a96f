// StepManager: the percentage of key values between limits, with and without
// the inverting option, and the limits as the processor hands them over.
#include "ui/step_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ui::AnyValue;
using ui::StepManager;

struct PercentCase {
  std::uint8_t Controls;
  std::string Low, High;  // limits as the record processor passes them: text
  double Value;
  int Expected;
};

TEST(StepManagerTest, PercentagesBetweenLimits) {
  const std::vector<PercentCase> cases = {
      {0, "100", "300", 100, 1},         // the low limit still shows movement
      {0, "100", "300", 200, 50},
      {0, "100", "300", 300, 100},
      {0, "100", "300", 299, 99},        // truncated, not rounded
      {0, "0", "3", 1, 33},
      {0, "0", "3", 2, 66},
      {0, "0", "3", 3, 100},
      {0, "7", "7", 7, 50},              // equal limits
      {0, "7", "7", 9000, 50},
      {0, "100.9", "300.99", 200, 50},   // limits cut toward zero
      {0, "-5.5", "5.5", 0, 50},
      {4, "100", "300", 200, 50},        // other option bits are not read
      {0x10, "100", "300", 100, 1},      // inverted: still low -> 1, high -> 100
      {0x10, "100", "300", 300, 100},
      {0x10, "100", "300", 150, 25},
      {0, "0", "100", 356, 100},         // the low 8 bits of 356 are 100
      {0, "0", "100", 300, 44},          // outside the limits: the low 8 bits
      {0, "0", "100", -5, 251},          // below them: -5 as a byte
  };
  for (const auto& c : cases) {
    StepManager steps;
    steps.Init(c.Controls);
    steps.SetLimits(AnyValue::Text(c.Low), AnyValue::Text(c.High));
    EXPECT_EQ(steps.GetPercentile(AnyValue::Number(c.Value)), c.Expected)
        << "controls " << int(c.Controls) << " limits " << c.Low << ".." << c.High << " value "
        << c.Value;
  }
}

// Over every span from 1 to 2000, from a few starting points and either way
// round: the low limit gives 1, the high limit exactly 100, the middle of an
// even span 50, and the percentage never goes back as the value rises.
TEST(StepManagerTest, EverySpanRunsFromOneToExactlyHundred) {
  for (const std::uint8_t controls : {std::uint8_t{0}, ui::kStepInverted})
    for (const std::int32_t low : {0, 1, -1000, 123456789})
      for (std::int32_t span = 1; span <= 2000; ++span) {
        StepManager steps;
        steps.Init(controls);
        steps.SetLimits(AnyValue::Number(low), AnyValue::Number(static_cast<double>(low) + span));
        SCOPED_TRACE(testing::Message() << "controls " << int(controls) << " low " << low
                                        << " span " << span);
        ASSERT_EQ(steps.GetPercentile(AnyValue::Number(low)), 1);
        ASSERT_EQ(steps.GetPercentile(AnyValue::Number(static_cast<double>(low) + span)), 100);
        if (span % 2 == 0) {
          ASSERT_EQ(steps.GetPercentile(AnyValue::Number(static_cast<double>(low) + span / 2)), 50);
        }
        int previous = 1;
        for (std::int32_t v = 1; v < span; v += 1 + span / 97) {
          const int p = steps.GetPercentile(AnyValue::Number(static_cast<double>(low) + v));
          ASSERT_GE(p, previous) << "value " << low + v;
          ASSERT_LE(p, 100) << "value " << low + v;
          previous = p;
        }
      }
}

TEST(StepManagerTest, InvertingOptionStoresTheLimitsSwapped) {
  StepManager steps;
  steps.Init(0x10);
  steps.SetLimits(AnyValue::Number(100), AnyValue::Number(300));
  EXPECT_EQ(steps.Low, 300);
  EXPECT_EQ(steps.High, 100);
  EXPECT_EQ(steps.GetValue(25), "150");
}

TEST(StepManagerTest, ValuesBackFromPercentagesAndTextValues) {
  StepManager steps;
  steps.SetLimits(AnyValue::Text("100"), AnyValue::Text("301"));
  EXPECT_EQ(steps.GetValue(50), "200.5");
  EXPECT_EQ(steps.GetValue(100), "301");
  EXPECT_EQ(steps.WantsLimits(), 1);
  // Text that is not a number reads as 0, as does blank text.
  EXPECT_EQ(steps.GetPercentile(AnyValue::Text(" 200 ")), 49);
  steps.SetLimits(AnyValue::Text("ACME"), AnyValue::Text(""));
  EXPECT_EQ(steps.Low, 0);
  EXPECT_EQ(steps.GetPercentile(AnyValue::Text("ZULU")), 50);
}

}  // namespace
