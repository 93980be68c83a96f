// Positions and saved places as the KEYED drivers write and read them back:
// a text of another key, another form or a number out of range is refused,
// and values stay in a position only while it fits its limit.
#include "runtime/files/place_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PlaceText, PositionsReadBackOnlyForTheirOwnKey) {
  struct Case {
    std::string Text;
    int Key;
    bool Reads;
    std::int64_t Number = 0;
    std::vector<std::string_view> Values = {};
  };
  const Case cases[] = {
      {"R42", 0, true, 42},
      {"R42;a;b", 0, true, 42, {"a", "b"}},
      {"K3;7;x;;y", 3, true, 7, {"x", "", "y"}},
      {"K3;7", 3, true, 7},
      {"K3;7", 2, false},
      {"K3;7", 0, false},
      {"R7", 3, false},
      {"K3", 3, false},
      {"R", 0, false},
      {"R-1", 0, false},
      {"R+1", 0, false},
      {"R 1", 0, false},
      {"R1x", 0, false},
      {"R1234567890123456789", 0, false},
      {"garbage", 0, false},
      {"", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    std::int64_t number = -1;
    std::vector<std::string_view> values;
    ASSERT_EQ(rt::ParsePosition(c.Text, c.Key, number, values), c.Reads);
    if (!c.Reads) continue;
    EXPECT_EQ(number, c.Number);
    EXPECT_EQ(values, c.Values);
  }
}

TEST(PlaceText, APositionDropsValuesThatWouldPassItsLimit) {
  EXPECT_EQ(rt::PositionText(0, 12, ";a"), "R12;a");
  EXPECT_EQ(rt::PositionText(4, 12, ";a"), "K4;12;a");
  const std::string fits(rt::kPositionLimit - 5, 'v');
  EXPECT_EQ(rt::PositionText(4, 12, fits).size(), rt::kPositionLimit);
  EXPECT_EQ(rt::PositionText(4, 12, fits + "v"), "K4;12");
}

TEST(PlaceText, SavedPlacesReadBackWithinTheirPlaces) {
  int place = -1;
  std::int64_t number = 0;
  std::vector<std::string_view> values;
  const std::string saved = rt::SavedPlaceText(5, -3, ";a;b");
  ASSERT_TRUE(rt::ParseSavedPlace(saved, 5, place, number, values));
  EXPECT_EQ(place, 5);
  EXPECT_EQ(number, -3);
  EXPECT_EQ(values, (std::vector<std::string_view>{"a", "b"}));
  for (const char* bad : {"6;1", "-1;1", "1", "1;", "x;1", "1;2x", ""})
    EXPECT_FALSE(rt::ParseSavedPlace(bad, 5, place, number, values)) << bad;
}

}  // namespace
