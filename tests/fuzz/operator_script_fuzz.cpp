// Operator scripts for the headless backend (--script FILE). Input: a script.
//
// Promises: a script that does not parse is refused whole, with the line and
// the reason, and leaves the steps already queued alone; one that parses
// gives steps whose transcript lines ("accept ?OK") parse back into the same
// steps.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/headless/operator_script.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool SameStep(const rt::ScriptStep& a, const rt::ScriptStep& b) {
  return a.What == b.What && a.Control == b.Control && a.Text == b.Text && a.Value == b.Value &&
         a.Value2 == b.Value2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view script = fuzz::Text(data, size);
  const rt::ScriptStep queued{rt::ScriptStep::Kind::Wait, "", "", 5, 0, 0};
  std::vector<rt::ScriptStep> steps = {queued};
  std::string error;
  if (!rt::ParseOperatorScript(script, steps, error)) {
    if (steps.size() != 1 || !SameStep(steps.front(), queued))
      fuzz::Broken("a refused script queues nothing", script);
    if (error.rfind("line ", 0) != 0) fuzz::Broken("a refused script names the line", error);
    return 0;
  }
  if (!error.empty()) fuzz::Broken("a script that parses leaves no error", script);
  for (std::size_t i = 1; i < steps.size(); ++i) {
    const std::string line = rt::DescribeStep(steps[i]);
    std::vector<rt::ScriptStep> again;
    if (!rt::ParseOperatorScript(line, again, error) || again.size() != 1 ||
        !SameStep(again.front(), steps[i]))
      fuzz::Broken("a step's transcript line parses back into the same step", line);
    if (steps[i].What == rt::ScriptStep::Kind::Answer) rt::ButtonName(steps[i].Value);
  }
  return 0;
}
