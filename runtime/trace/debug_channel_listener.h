// The receiving end of the debug-output channel on Linux: binds an abstract
// Unix datagram socket and hands out one line per datagram. Only one listener
// can hold a name at a time, machine-wide (per network namespace).
//
// The kernel queues only net.unix.max_dgram_qlen unread lines (10 by default);
// senders never wait, so lines beyond that are dropped until the listener
// catches up. Receive promptly. The listener counts what it missed from the
// numbers every sending process gives its lines (DATAGRAMS in
// debug_output.h), each process on its own: a gap between two of its
// datagrams, the lines it traced before the first one this listener got
// since it last found nobody listening, and the lines at its end that never
// came (read from its memory file once the queue is empty, even when the
// process has gone).
//
// Owned by one thread at a time; the socket closes with the object.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace rt {

// One datagram of the channel.
struct DebugDatagram {
  std::string Line;
  bool HasLine = true;             // false: only a count of missed lines
  std::uint64_t MissedBefore = 0;  // lines of its sender missed just before this one
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
  // ever), or a count of lines found lost at the end of a sender while the
  // queue was empty. Nothing when none came in time, the wait was
  // interrupted by a signal, or the listener is not bound.
  std::optional<DebugDatagram> ReceiveDatagram(int timeoutMs);
  // The next line, as ReceiveDatagram; nothing also for a count-only datagram.
  std::optional<std::string> Receive(int timeoutMs);
  // Lines this listener missed, in all.
  std::uint64_t MissedLines() const { return missed_; }

  bool Bound() const { return fd_ >= 0; }

 private:
  // A sending process as far as this listener knows it.
  struct Sender {
    Sender() = default;
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    ~Sender();
    std::uint64_t next = 0;                // number of the line expected next; 0 before the first
    const std::uint64_t* count = nullptr;  // its memory file, mapped read-only; may be null
  };

  std::optional<DebugDatagram> TakeQueued();
  std::optional<DebugDatagram> LostAtTheEnd(const std::map<pid_t, std::uint64_t>& finished);
  // Fills `datagram` from a numbered datagram; false when `data` is not one.
  bool TakeNumbered(std::string_view data, int countFile, DebugDatagram& datagram);

  int fd_ = -1;  // owned
  std::string buffer_;
  std::uint64_t missed_ = 0;
  std::map<pid_t, Sender> senders_;
};

}  // namespace rt
