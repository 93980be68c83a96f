// The debug-output channel: where trace lines go so that a developer can watch
// them while the program runs.
//
// On Windows a line goes to OutputDebugStringA. On Linux each line is one
// datagram sent to the abstract Unix socket "@veltrane-debug-output" (see
// kDebugChannelName) from one unbound socket the process opens on first use:
//   - sendmsg with MSG_DONTWAIT, so a slow viewer never blocks the program;
//     when its queue is full the line is dropped;
//   - when nobody has bound the name the send fails at once (ECONNREFUSED)
//     and the line is dropped. The sender then sends nothing for
//     kNobodyListensPause: a line costs a clock read instead of a failed
//     system call, and a viewer that starts meanwhile is told how many lines
//     it missed (below).
// veltrane-debugview binds the name and prints what arrives.
//
// DATAGRAMS. Every line a process traces to the channel has a number, 1 for
// its first (to the current name), whether it was sent or dropped, so a
// listener counts for itself what it missed:
//     datagram := NUL pid SP number SP refused NUL line   one traced line
//               | NUL pid SP number SP refused            no line: the process ends
//     pid      := the sending process's id
//     number   := the line's number; without a line, the number the next
//                 line would have had
//     refused  := the number of the last line before this one that found
//                 nobody listening, 0 when none did
// all numbers in decimal; the line is the rest of the datagram, no line
// ending. A listener that took number n from a process last and now gets m
// missed the m - n - 1 lines in between. In the first datagram it gets from
// a process, the lines after `refused` were sent to nobody it knows of or
// skipped during a pause: it missed them.
// A datagram that does not start with NUL is a line without a number (any
// local process may send one).
//
// WHERE A PROCESS ENDS. A listener cannot see a gap that no later datagram
// follows, and a stopped or busy viewer may have no room for one. So the
// first datagram after a failed send (and the first of all) carries, as
// SCM_RIGHTS, a sealed 8-byte memory file holding the number of the last
// line the process has finished sending or dropping (a native-endian
// 64-bit count, written after the send). A listener that holds it and finds
// its queue empty knows that any line up to that number it did not take is
// lost, even after the process has gone. When the process ends (exit or
// halt) with lines after the last refused one that no listener took, it also
// sends the datagram without a line, trying for a short while to find room.
// DebugChannelListener (debug_channel_listener.h) reads all this.
//
// Tests install a sink instead; while one is installed every line goes to it
// and nothing is sent.
//
// Threading: any thread may send; lines are never split or interleaved, and
// they leave in the order of their numbers (one lock). A child forked
// without exec numbers its own lines from 1 and has its own memory file. Sink
// calls are serialised, so a sink needs no lock of its own, but a sink must
// not send debug output itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rt {

inline constexpr std::string_view kDebugChannelName = "veltrane-debug-output";

// How long a sender that found nobody listening sends nothing.
inline constexpr std::chrono::milliseconds kNobodyListensPause{50};

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
// viewer someone is running. Process-wide; ends a pause and numbers the
// lines from 1 again.
void SetDebugChannelName(std::string_view name);
// The name lines are sent to now.
std::string DebugChannelName();

// What the channel has done since the process started (sink lines excluded).
struct DebugChannelCounts {
  std::uint64_t Sends = 0;      // send system calls made
  std::uint64_t Delivered = 0;  // accepted by a listener's queue
  std::uint64_t Dropped = 0;    // nobody listening, in a pause, queue full, or too long
  std::uint64_t Missed = 0;     // of those dropped, lines a listener missed (queue full, too long)
};
DebugChannelCounts DebugChannelStatistics();

}  // namespace rt
