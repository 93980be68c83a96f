// The trace written to a file instead of the debug-output channel, when the
// environment variable VELTRANE_TRACE_FILE names one. The channel drops lines
// when nobody reads fast enough; the file gets every line it can take
// (runtime/trace/trace_file.h), appended to what it holds.
#pragma once

#include <string>

namespace app {

inline constexpr const char* kTraceFileVariable = "VELTRANE_TRACE_FILE";

// Sends the process's trace lines to the file the variable names, for the
// rest of the process. True when the variable is unset or empty (nothing
// changes) or the file is open; false with `error` when it cannot be opened
// for appending (then nothing was created).
bool TraceToFileFromEnvironment(std::string& error);

}  // namespace app
