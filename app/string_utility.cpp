#include "app/string_utility.h"

#include <charconv>

#include "runtime/core/error_state.h"
#include "runtime/core/program.h"
#include "runtime/core/text.h"
#include "runtime/trace/debug_output.h"

namespace app {
namespace {

constexpr std::string_view kTagOpen = "[qv][";

}  // namespace

std::string StringUtility::TraceLine(int threadNumber, std::string_view message, std::uint8_t useOwnValue,
                                     std::string_view ownValue) {
  char digits[16];
  std::string_view thread(digits, static_cast<std::size_t>(
                                      std::to_chars(digits, digits + sizeof digits, threadNumber).ptr - digits));
  std::size_t n = message.size();
  std::string line;
  std::size_t limit = n + 10;
  if (useOwnValue == 0 && n > 0) {
    line.reserve(n + 11);
    line.append(kTagOpen).append(thread).append("] ").append(rt::TrimRight(message));
  } else if (!ownValue.empty()) {
    limit = ownValue.size() + 10;
    line.reserve(ownValue.size() + 11);
    line.append(kTagOpen).append(thread).append("] ").append(ownValue);
  } else {
    // The bare tag goes into the same n + 11 byte buffer as a message would.
    line.reserve(n + 11);
    line.append(kTagOpen).append(thread).append("]");
  }
  if (line.size() > limit) line.resize(limit);
  // The line is handed on as NUL-terminated text: nothing after a NUL survives.
  if (std::size_t nul = line.find('\0'); nul != line.npos) line.resize(nul);
  return line;
}

void StringUtility::TraceChannel(std::string_view message, std::uint8_t useOwnValue) const {
  rt::PushErrors();
  rt::DebugOutput(TraceLine(rt::ThreadNumber(), message, useOwnValue, value_));
  rt::PopErrors();
}

}  // namespace app
