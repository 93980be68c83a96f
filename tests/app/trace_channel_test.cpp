// The purge's trace lines: their format and cut, the own-value and no-message
// forms, the thread number from real runtime threads, and the error state
// left as it was found.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/string_utility.h"
#include "runtime/core/error_state.h"
#include "runtime/core/program.h"
#include "runtime/trace/debug_output.h"

namespace {

struct LineCase {
  const char* what;
  int thread;
  std::string message;
  std::uint8_t useOwnValue;
  std::string ownValue;
  std::string expected;
};

TEST(TraceLine, FormatsEveryCase) {
  const std::vector<LineCase> cases = {
      {"plain message", 1, "Committing 150000", 0, "", "[qv][1] Committing 150000"},
      {"trailing blanks go", 1, "Removed: 5   ", 0, "", "[qv][1] Removed: 5"},
      {"inner blanks stay", 1, "  TIM:DutyDate:  01/15/2024", 0, "", "[qv][1]   TIM:DutyDate:  01/15/2024"},
      {"only blanks", 1, "     ", 0, "", "[qv][1] "},
      {"empty message, empty value", 1, "", 0, "", "[qv][1]"},
      {"three-digit thread fits", 999, "x", 0, "", "[qv][999] x"},
      {"four-digit thread loses the last character", 1234, "abcdef", 0, "", "[qv][1234] abcde"},
      {"a trailing blank makes room", 1234, "abcdef ", 0, "", "[qv][1234] abcdef"},
      {"six-digit thread loses the message", 123456, "abc", 0, "", "[qv][123456] "},
      {"thread not started by the runtime", 0, "x", 0, "", "[qv][0] x"},
      {"flag 0 ignores the own value", 1, "msg", 0, "own", "[qv][1] msg"},
      {"empty message traces the own value as it is", 1, "", 0, "own  ", "[qv][1] own  "},
      {"flag set traces the own value", 1, "message", 1, "own", "[qv][1] own"},
      {"flag set, empty value: bare tag", 1, "message", 1, "", "[qv][1]"},
      {"own value cut to its length + 10", 1234, "", 1, "own", "[qv][1234] ow"},
      {"bare tag cut to the message's length + 10", 12345, "", 0, "", "[qv][12345"},
      {"nothing after a NUL", 1, std::string("ab\0cd", 5), 0, "", "[qv][1] ab"},
  };
  for (const LineCase& c : cases)
    EXPECT_EQ(app::StringUtility::TraceLine(c.thread, c.message, c.useOwnValue, c.ownValue), c.expected) << c.what;
}

class TraceChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetDebugSink([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override {
    rt::SetDebugSink(nullptr);
    rt::ClearError();
  }

  std::vector<std::string> lines_;
};

TEST_F(TraceChannelTest, EachCallEmitsOneLineTaggedWithTheRuntimeThread) {
  ASSERT_NE(rt::RuntimeInit({}), 0);
  rt::RuntimeStart([] {
    app::StringUtility trace;
    trace.TraceChannel("TIM:DutyDate: 01/15/2024  ", 0);
    trace.TraceChannel("", 0);
    rt::Thread second = rt::StartThread([&trace] { trace.TraceChannel("Removed: 1", 0); });
    second.Join();
    trace.SetValue("own value");
    trace.TraceChannel("ignored", 1);
  });
  rt::RuntimeExit();
  EXPECT_EQ(lines_, (std::vector<std::string>{"[qv][1] TIM:DutyDate: 01/15/2024", "[qv][1]",
                                              "[qv][2] Removed: 1", "[qv][1] own value"}));
}

TEST_F(TraceChannelTest, LeavesTheErrorStateAsItFoundIt) {
  app::StringUtility trace;
  rt::SetError(rt::kRecordNotAvailable, "data/Timecard.DAT");
  trace.TraceChannel("ErrorCode: 33", 0);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotAvailable);
  EXPECT_EQ(rt::ErrorFile(), "data/Timecard.DAT");
  // The channel itself, like every runtime operation, clears it.
  rt::DebugOutput("direct");
  EXPECT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(lines_, (std::vector<std::string>{"[qv][0] ErrorCode: 33", "direct"}));
}

}  // namespace
