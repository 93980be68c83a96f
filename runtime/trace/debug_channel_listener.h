// The receiving end of the debug-output channel on Linux: binds an abstract
// Unix datagram socket and hands out one line per datagram. Only one listener
// can hold a name at a time, machine-wide (per network namespace).
//
// The kernel queues only net.unix.max_dgram_qlen unread lines (10 by default);
// senders never wait, so lines beyond that are dropped until the listener
// catches up. Receive promptly. The senders count what a listener missed and
// say so in the next datagram (debug_output.h); the listener hands that on.
//
// Owned by one thread at a time; the socket closes with the object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rt {

// One datagram of the channel.
struct DebugDatagram {
  std::string Line;
  bool HasLine = true;             // false: the sender only counted missed lines
  std::uint64_t MissedBefore = 0;  // lines the sender could not deliver just before this one
};

class DebugChannelListener {
 public:
  DebugChannelListener() = default;
  DebugChannelListener(const DebugChannelListener&) = delete;
  DebugChannelListener& operator=(const DebugChannelListener&) = delete;
  ~DebugChannelListener();

  // Binds @name. Returns 0, or the errno of the failure (EADDRINUSE when
  // another listener holds the name, ENAMETOOLONG for a name over 107 bytes).
  int Bind(std::string_view name);

  // The next datagram, waiting at most timeoutMs milliseconds (-1 waits for
  // ever). Nothing when none came in time, the wait was interrupted by a
  // signal, or the listener is not bound.
  std::optional<DebugDatagram> ReceiveDatagram(int timeoutMs);
  // The next line, as ReceiveDatagram; nothing also for a count-only datagram.
  std::optional<std::string> Receive(int timeoutMs);
  // Lines the senders said this listener missed, in all.
  std::uint64_t MissedLines() const { return missed_; }

  bool Bound() const { return fd_ >= 0; }

 private:
  int fd_ = -1;  // owned
  std::string buffer_;
  std::uint64_t missed_ = 0;
};

}  // namespace rt
