// The trace written to a file instead of the debug-output channel: every
// line, ending in a newline, appended with one write so that a killed run
// leaves the lines before the kill and another process appending to the
// same file never splits a line.
//
// Where the trace goes never stops the program:
//   - a write that fails (a full disk, /dev/full, a FIFO or socket whose
//     reader has gone) drops its line and counts it; SIGPIPE is held off
//     during the write, so a reader that went away never ends the process;
//   - a FIFO, socket or terminal is written without blocking. A reader that
//     falls behind is waited for, up to kTraceReaderWait for each line, so a
//     live reader gets every line; once a wait runs out the reader counts as
//     stalled and lines are dropped (and counted) without waiting until one
//     goes through again.
// A line cut short by a failure is ended by a newline before the next line,
// so every line that was written whole reads as one line.
//
// Threading: lines come through the debug-output sink, which is serialised.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace rt {

inline constexpr std::chrono::milliseconds kTraceReaderWait{1000};

// Opens path for appending (created 0644 when missing) and sends every trace
// line of the process there, for the rest of the process. Returns 0, or the
// errno of the failed open: then nothing was created and the trace stays on
// the channel. A FIFO that nobody reads yet never holds the program: the
// trace waits in its buffer (as much as it holds) for a reader to come.
int TraceToFile(const std::string& path);

// What the trace file has taken since TraceToFile.
struct TraceFileCounts {
  std::uint64_t Written = 0;  // lines written whole
  std::uint64_t Lost = 0;     // lines dropped or cut short by a failed write
  int LastError = 0;          // errno of the last failed write; 0 when none failed
};
TraceFileCounts TraceFileStatistics();

// "N trace lines could not be written (why)" when lines were lost, else
// empty: for a summary at the end of a run.
std::string TraceFileLoss();

}  // namespace rt
