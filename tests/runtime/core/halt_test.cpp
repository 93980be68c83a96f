// Halt: the handler sees code and text, nothing after the halt runs, cleanups
// run first, and without a handler the process really ends.
#include "runtime/core/halt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Halted {
  int code;
  std::string text;
};

class HaltTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
    rt::SetHaltPresenter([this](const std::string& text) { shown.push_back(text); });
  }
  void TearDown() override {
    rt::SetHaltHandler({});
    rt::SetHaltPresenter({});
  }
  std::vector<std::string> shown;
};

TEST_F(HaltTest, HandlerSeesCodeAndTextAndNothingAfterRuns) {
  bool after = false;
  try {
    rt::Halt(3, "No data file|Press OK");
    after = true;
    FAIL() << "Halt returned";
  } catch (const Halted& h) {
    EXPECT_EQ(h.code, 3);
    EXPECT_EQ(h.text, "No data file|Press OK");
  }
  EXPECT_FALSE(after);
  EXPECT_EQ(shown, std::vector<std::string>{"No data file|Press OK"});
}

TEST_F(HaltTest, CleanupsRunNewestFirstBeforeTheHandler) {
  std::vector<int> order;
  int a = rt::AddHaltCleanup([&] { order.push_back(1); });
  int b = rt::AddHaltCleanup([&] { order.push_back(2); });
  int gone = rt::AddHaltCleanup([&] { order.push_back(3); });
  rt::RemoveHaltCleanup(gone);
  EXPECT_THROW(rt::Halt(1, "x"), Halted);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  rt::RemoveHaltCleanup(a);
  rt::RemoveHaltCleanup(b);
}

TEST_F(HaltTest, EmptyTextShowsNothing) {
  EXPECT_THROW(rt::Halt(0), Halted);
  EXPECT_TRUE(shown.empty());
}

TEST(HaltProcess, EndsTheProcessWithTheCodeAndShowsTheTextOnStandardError) {
  auto marker = std::filesystem::temp_directory_path() /
                ("veltrane-halt-" + std::to_string(::getpid()));
  std::filesystem::remove(marker);
  EXPECT_EXIT(
      {
        rt::Halt(7, "Cannot go on");
        std::ofstream(marker) << "ran after halt";
      },
      ::testing::ExitedWithCode(7), "Cannot go on");
  EXPECT_FALSE(std::filesystem::exists(marker));
}

}  // namespace
