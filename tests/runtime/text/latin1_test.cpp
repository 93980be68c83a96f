#include "runtime/text/latin1.h"

#include <gtest/gtest.h>

namespace {

TEST(Latin1, RoundTripsEveryByteThroughUtf8) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string utf8 = rt::Latin1ToUtf8(all);
  EXPECT_EQ(utf8.size(), 127u + 2 * 128u);
  EXPECT_EQ(rt::Utf8ToLatin1(utf8), all);
  std::string back;
  EXPECT_TRUE(rt::Utf8ToLatin1Exact(utf8, back));
  EXPECT_EQ(back, all);
}

TEST(Latin1, WhatLatin1CannotHoldIsMarkedOrRefused) {
  struct Case {
    const char* utf8;
    const char* lossy;
  } cases[] = {
      {"\xE2\x82\xAC 5", "? 5"},      // the euro sign
      {"a\xF0\x9F\x98\x80z", "a?z"},  // an emoji
      {"\xC3", "?"},                  // cut short
      {"\x80x", "?x"},                // a stray continuation byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rt::Utf8ToLatin1(c.utf8), c.lossy) << c.utf8;
    std::string out;
    EXPECT_FALSE(rt::Utf8ToLatin1Exact(c.utf8, out)) << c.utf8;
  }
}

}  // namespace
