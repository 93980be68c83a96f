#include "runtime/core/text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace rt {
namespace {

using namespace std::literals;

TEST(TextTest, SameIgnoringCaseMatchesAsciiLettersOfEitherCase) {
  EXPECT_TRUE(SameIgnoringCase("", ""));
  EXPECT_TRUE(SameIgnoringCase("Tim:KeyCard", "TIM:keycard"));
  EXPECT_TRUE(SameIgnoringCase("d02b", "D02B"));
  EXPECT_FALSE(SameIgnoringCase("ABC", "ABD"));
}

TEST(TextTest, SameIgnoringCaseNeedsTheSameLength) {
  EXPECT_FALSE(SameIgnoringCase("", "a"));
  EXPECT_FALSE(SameIgnoringCase("KEY", "KEY "));
  EXPECT_FALSE(SameIgnoringCase("KEYS", "key"));
}

TEST(TextTest, SameIgnoringCaseFoldsNoOtherBytes) {
  // Latin-1 e-acute and E-acute, and the punctuation next to the letters.
  EXPECT_TRUE(SameIgnoringCase("caf\xe9", "CAF\xe9"));
  EXPECT_FALSE(SameIgnoringCase("\xe9", "\xc9"));
  EXPECT_FALSE(SameIgnoringCase("@", "`"));
  EXPECT_FALSE(SameIgnoringCase("[", "{"));
  EXPECT_TRUE(SameIgnoringCase("a\0b"s, "A\0B"s));
}

TEST(TextTest, UpperCaseChangesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCase(""), "");
  EXPECT_EQ(UpperCase("Purge through 12/31/2022"), "PURGE THROUGH 12/31/2022");
  EXPECT_EQ(UpperCase("az AZ {}`@"), "AZ AZ {}`@");
  EXPECT_EQ(UpperCase("caf\xe9 \xc3\xa9t\xc3\xa9"), "CAF\xe9 \xc3\xa9T\xc3\xa9");
  EXPECT_EQ(UpperCase("a\0b"s), "A\0B"s);
}

TEST(TextTest, FindIgnoringCaseFindsTheFirstMatchFromAPosition) {
  EXPECT_EQ(FindIgnoringCase("Error: %previous, %PREVIOUS", "%Previous"), 7u);
  EXPECT_EQ(FindIgnoringCase("Error: %previous, %PREVIOUS", "%Previous", 8), 18u);
  EXPECT_EQ(FindIgnoringCase("varchar(20)", "CHAR"), 3u);
  EXPECT_EQ(FindIgnoringCase("abc", "ABC"), 0u);
}

TEST(TextTest, FindIgnoringCaseReportsNoMatch) {
  constexpr auto npos = std::string_view::npos;
  EXPECT_EQ(FindIgnoringCase("", "a"), npos);
  EXPECT_EQ(FindIgnoringCase("abc", ""), npos);
  EXPECT_EQ(FindIgnoringCase("", ""), npos);
  EXPECT_EQ(FindIgnoringCase("ab", "abc"), npos);
  EXPECT_EQ(FindIgnoringCase("abc", "abc", 1), npos);
  EXPECT_EQ(FindIgnoringCase("abc", "c", 10), npos);
  EXPECT_EQ(FindIgnoringCase("\xe9t\xe9", "\xc9T\xc9"), npos);
}

TEST(TextTest, TrimRightDropsTrailingSpacesOnly) {
  EXPECT_EQ(TrimRight(""), "");
  EXPECT_EQ(TrimRight("   "), "");
  EXPECT_EQ(TrimRight("  Timecard  "), "  Timecard");
  EXPECT_EQ(TrimRight("tab\t"), "tab\t");
  EXPECT_EQ(TrimRight("nul \0"sv), "nul \0"sv);
  EXPECT_EQ(TrimRight("\xe9 "), "\xe9");
}

TEST(TextTest, TrimBlanksDropsSpacesAtBothEnds) {
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks("  12 34  "), "12 34");
  EXPECT_EQ(TrimBlanks("\t12\t"), "\t12\t");
}

}  // namespace
}  // namespace rt
