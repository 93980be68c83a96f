#include "runtime/core/pictures.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "runtime/core/dates.h"

namespace rt {
namespace {

struct FormatCase {
  std::int64_t Value;
  const char* Picture;
  const char* Want;
};

void ExpectFormats(std::initializer_list<FormatCase> cases) {
  for (const FormatCase& c : cases)
    EXPECT_EQ(Format(c.Value, c.Picture), c.Want) << c.Value << " under " << c.Picture;
}

TEST(PicturesTest, FormatsEachPicture) {
  ExpectFormats({
      {Date(3, 7, 2022), "D02", "03/07/2022"},
      {Date(12, 31, 9999), "d02", "12/31/9999"},
      {Date(1, 1, 1801), "D02B", "01/01/1801"},
      {0, "D02B", ""},
      {-5, "D02B", ""},
      {0, "D02", "00/00/0000"},
      {kLastDay + 1, "D02", "00/00/0000"},
      {7, "P##P", " 7"},
      {12, "P##P", "12"},
      {0, "P##P", " 0"},
      {123, "P##P", "##"},
      {-1, "P##P", "##"},
      {1234, "p##/##p", "12/34"},
      {5, "P##/##P", "  / 5"},
      {5, "n2", "5"},
      {-5, "n2", "-5"},
      {123, "n2", "##"},
      {-42, "unknown", "-42"},
  });
}

TEST(PicturesTest, LocalePicturesFollowTheCurrentLocale) {
  const std::string saved = std::setlocale(LC_TIME, nullptr);
  std::setlocale(LC_TIME, "C");  // a locale with known forms
  ExpectFormats({
      {Date(3, 7, 2022), "D17", "03/07/22"},
      {0, "D17", ""},
      {0, "T8", "00:00:00"},
      {(12 * 3600 + 41 * 60 + 18) * 100 + 90, "T8", "12:41:18"},
      {8640000 - 1, "T8", "23:59:59"},
      {8640000, "T8", ""},
      {-1, "T8", ""},
  });
  std::setlocale(LC_TIME, saved.c_str());
}

TEST(PicturesTest, DateEntryAcceptsOneOrTwoDigitMonthAndDay) {
  for (auto [text, want] : {std::pair{"3/7/2022", Date(3, 7, 2022)},
                            {"03/07/2022", Date(3, 7, 2022)},
                            {"  3/07/2022 ", Date(3, 7, 2022)},
                            {"2/29/2024", Date(2, 29, 2024)},
                            {"1/1/1801", kFirstDay},
                            {"12/31/9999", kLastDay}}) {
    EXPECT_EQ(Deformat(text, "D02"), std::optional<std::int64_t>(want)) << text;
    EXPECT_EQ(Deformat(text, "D02B"), std::optional<std::int64_t>(want)) << text;
  }
  for (std::int32_t date = kFirstDay; date <= kLastDay; date += 997)
    ASSERT_EQ(Deformat(Format(date, "D02"), "D02"), std::optional<std::int64_t>(date));
}

TEST(PicturesTest, DateEntryRejectsAnythingElse) {
  for (const char* text : {"13/01/2022", "02/30/2022", "2/29/2023", "0/1/2022", "1/0/2022", "abc",
                           "3/7/22", "3/7/02022", "003/7/2022", "3-7-2022", "3/ 7/2022",
                           "3/7/2022x", "12/31/1800", "00/00/0000", "-3/7/2022", "3/7"}) {
    EXPECT_EQ(Deformat(text, "D02"), std::nullopt) << text;
    EXPECT_EQ(Deformat(text, "D02B"), std::nullopt) << text;
  }
  EXPECT_EQ(Deformat("", "D02"), std::nullopt);
  EXPECT_EQ(Deformat("  ", "D02"), std::nullopt);
  EXPECT_EQ(Deformat("", "D02B"), std::optional<std::int64_t>(0));
  EXPECT_EQ(Deformat("  ", "D02B"), std::optional<std::int64_t>(0));
}

TEST(PicturesTest, NumberEntry) {
  struct Case {
    const char* Text;
    const char* Picture;
    std::optional<std::int64_t> Want;
  };
  const std::nullopt_t no = std::nullopt;
  const Case cases[] = {
      {"5", "n2", 5},
      {" -5 ", "n2", -5},
      {"+7", "n2", 7},
      {"05", "n2", 5},
      {"123", "n2", no},
      {"+-7", "n2", no},
      {"", "n2", no},
      {"1.5", "n2", no},
      {"12/34", "P##/##P", 1234},
      {" 7", "P##P", 7},
      {"123", "P##P", no},
      {"-7", "P##P", no},
      {"9223372036854775807", "x", INT64_MAX},
      {"9223372036854775808", "x", no},
      {"12:00:00", "T8", no},
      {"03/07/22", "D17", no},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Deformat(c.Text, c.Picture), c.Want) << '"' << c.Text << "\" under " << c.Picture;
}

}  // namespace
}  // namespace rt
