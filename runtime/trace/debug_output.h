// The debug-output channel: where trace lines go so that a developer can watch
// them while the program runs.
//
// On Windows a line goes to OutputDebugStringA. On Linux each line is one
// datagram sent to the abstract Unix socket "@veltrane-debug-output" (see
// kDebugChannelName) from one unbound socket the process opens on first use:
//   - sendto with MSG_DONTWAIT, so a slow viewer never blocks the program;
//     when its queue is full the line is dropped;
//   - when nobody has bound the name the send fails at once (ECONNREFUSED)
//     and the line is dropped: an unwatched line costs one system call;
//   - a datagram carries exactly one line, no line ending, no NUL.
// veltrane-debugview binds the name and prints what arrives.
//
// Lines a listener misses are counted, not hidden. A line dropped while a
// listener is there (its queue full, or the line too long for a datagram) is
// counted by the sender, and the next datagram it delivers says how many went
// missing before it:
//     datagram := line                  nothing missed since the last one
//               | NUL count NUL line    count lines missed just before this one
//               | NUL count             only the count (the process is ending)
// count in decimal digits. Lines dropped because nobody listens are not
// counted: there was no listener to miss them. When the process ends (exit or
// halt) with lines still uncounted, a count-only datagram is sent, trying for
// a short while to find room in the listener's queue.
// DebugChannelListener (debug_channel_listener.h) reads this form.
//
// Tests install a sink instead; while one is installed every line goes to it
// and nothing is sent.
//
// Threading: any thread may send; lines are never split or interleaved. Sink
// calls are serialised, so a sink needs no lock of its own, but a sink must
// not send debug output itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rt {

inline constexpr std::string_view kDebugChannelName = "veltrane-debug-output";

// Sends one line. Never blocks and never fails the caller: a line nobody
// receives is dropped. Clears the error state.
void DebugOutput(std::string_view line);

// Receives lines in place of the channel.
using DebugSink = std::function<void(std::string_view line)>;

// Installs sink (process-wide) and returns the one it replaces; an empty sink
// sends lines to the channel again.
DebugSink SetDebugSink(DebugSink sink);

// Sends to another abstract socket name (without the leading '@'); empty goes
// back to kDebugChannelName. For tests and benchmarks that must not meet a
// viewer someone is running. Process-wide.
void SetDebugChannelName(std::string_view name);
// The name lines are sent to now.
std::string DebugChannelName();

// What the channel has done since the process started (sink lines excluded).
struct DebugChannelCounts {
  std::uint64_t Sends = 0;      // send system calls made
  std::uint64_t Delivered = 0;  // accepted by a listener's queue
  std::uint64_t Dropped = 0;    // nobody listening, queue full, or too long
  std::uint64_t Missed = 0;     // of those dropped, lines a listener missed (queue full, too long)
};
DebugChannelCounts DebugChannelStatistics();

}  // namespace rt
