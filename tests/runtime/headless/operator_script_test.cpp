// Operator scripts: what each line means, and clear errors for lines that
// are not steps.
#include "runtime/headless/operator_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "runtime/windows/events.h"
#include "runtime/windows/message_box.h"

namespace rt {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> Described(const std::vector<ScriptStep>& steps) {
  std::vector<std::string> out;
  for (const auto& step : steps) out.push_back(DescribeStep(step));
  return out;
}

TEST(OperatorScriptTest, ReadsEveryKindOfStep) {
  const char* script = R"(# cut-off dialog
expect QUICKWINDOW
type ?LASTDATE 12/31/2023
type ?NAME "  padded  "
accept ?OK

key enter
KEY 40
select ?LIST 3
wait 250
answer yes
answer Default
answer 64
resize 300 120
move 10 20
maximize
restore
close
double ?LIST
closedown
)";
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ParseOperatorScript(script, steps, error)) << error;
  EXPECT_THAT(Described(steps),
              ElementsAre("expect QUICKWINDOW", "type ?LASTDATE \"12/31/2023\"", "type ?NAME \"  padded  \"",
                          "accept ?OK", "key 13", "key 40", "select ?LIST 3", "wait 250", "answer 2", "answer 0",
                          "answer 64", "resize 300 120", "move 10 20", "maximize", "restore", "close",
                          "double ?LIST", "closedown"));
  EXPECT_EQ(steps[3].Line, 5);
  EXPECT_EQ(steps[4].Value, KeyEnter);
  EXPECT_EQ(steps[8].Value, ButtonYes);
}

struct BadLine {
  const char* script;
  const char* error;
};

void PrintTo(const BadLine& c, std::ostream* os) { *os << c.error; }

class OperatorScriptErrorTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(OperatorScriptErrorTest, NamesTheLineAndKeepsNothing) {
  std::vector<ScriptStep> steps(1);
  std::string error;
  EXPECT_FALSE(ParseOperatorScript(GetParam().script, steps, error));
  EXPECT_EQ(error, GetParam().error);
  EXPECT_EQ(steps.size(), 1u) << "nothing appended from a faulty script";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, OperatorScriptErrorTest,
    ::testing::Values(BadLine{"accept ?OK\nclick ?OK", "line 2: unknown step 'click ?OK'"},
                      BadLine{"accept", "line 1: 'ACCEPT' needs a control"},
                      BadLine{"accept ?OK now", "line 1: 'ACCEPT' takes nothing after it"},
                      BadLine{"key F13", "line 1: 'KEY' needs a key name or code"},
                      BadLine{"wait soon", "line 1: 'WAIT' needs a number"},
                      BadLine{"wait -5", "line 1: 'WAIT' needs milliseconds of 0 or more"},
                      BadLine{"resize 300", "line 1: 'RESIZE' needs two numbers"},
                      BadLine{"answer Maybe", "line 1: 'ANSWER' needs a button name or value"},
                      BadLine{"\n\nexpect", "line 3: 'EXPECT' needs a window name"},
                      BadLine{"close now", "line 1: 'CLOSE' takes nothing after it"}));

}  // namespace
}  // namespace rt
