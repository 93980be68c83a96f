#include "runtime/trace/debug_output.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include "runtime/trace/abstract_address.h"
#endif

namespace rt {
namespace {

struct Counters {
  std::atomic<std::uint64_t> sends{0};
  std::atomic<std::uint64_t> delivered{0};
  std::atomic<std::uint64_t> dropped{0};
  std::atomic<std::uint64_t> missed{0};
  // Lines a listener missed since the last datagram it took: told with the next.
  std::atomic<std::uint64_t> untold{0};
};

Counters& Counts() {
  static Counters counts;
  return counts;
}

struct SinkSlot {
  std::atomic<bool> installed{false};
  std::mutex lock;
  DebugSink sink;  // guarded by lock
};

// Never destroyed, so a line traced by another object's destructor at exit
// still finds it (the same for the channel below).
SinkSlot& Sink() {
  static SinkSlot& slot = *new SinkSlot;
  return slot;
}

// Returns true when a sink took the line.
bool SendToSink(std::string_view line) {
  SinkSlot& slot = Sink();
  if (!slot.installed.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> hold(slot.lock);
  if (!slot.sink) return false;
  slot.sink(line);
  return true;
}

#ifndef _WIN32

struct Address {
  std::string name;
  AbstractAddress to;
};

// The process's sending socket and the name it sends to. Senders read the
// current address without a lock; every address ever set stays alive in
// `all` so a sender that loaded an older one can still use it.
struct Channel {
  Channel() : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) { SetName(kDebugChannelName); }

  void SetName(std::string_view name) {
    std::lock_guard<std::mutex> hold(lock);
    name = name.substr(0, kMaxAbstractName);
    Address& a = all.emplace_back(Address{std::string(name), MakeAbstractAddress(name)});
    current.store(&a, std::memory_order_release);
  }

  const int fd;  // open for the life of the process
  std::mutex lock;
  std::deque<Address> all;  // guarded by lock; never shrinks
  std::atomic<const Address*> current{nullptr};
};

Channel& TheChannel() {
  static Channel& channel = *new Channel;
  return channel;
}

// How long the count-only datagram at the end waits for room, at most.
constexpr int kFinalNoticeTries = 200;
constexpr auto kFinalNoticePause = std::chrono::milliseconds(1);

// One datagram; the errno of the failure, or 0 when a listener took it.
int SendDatagram(std::string_view data) {
  Channel& channel = TheChannel();
  const Address* to = channel.current.load(std::memory_order_acquire);
  ssize_t sent;
  do {
    Counts().sends.fetch_add(1, std::memory_order_relaxed);
    sent = ::sendto(channel.fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&to->to.Address), to->to.Length);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? errno : 0;
}

bool NobodyListens(int reason) { return reason == ECONNREFUSED || reason == ENOENT; }

// NUL count, then NUL line unless countOnly (see debug_output.h).
std::string Counted(std::uint64_t missed, std::string_view line, bool countOnly) {
  std::string data(1, '\0');
  data += std::to_string(missed);
  if (!countOnly) {
    data += '\0';
    data += line;
  }
  return data;
}

// Tells the listener the lines it missed last, if any, when the process ends.
void TellUntold() {
  const std::uint64_t missed = Counts().untold.exchange(0, std::memory_order_acq_rel);
  if (missed == 0) return;
  const std::string notice = Counted(missed, {}, true);
  for (int i = 0; i < kFinalNoticeTries; ++i) {
    const int reason = SendDatagram(notice);
    if (reason == 0 || (reason != EAGAIN && reason != EWOULDBLOCK)) return;
    std::this_thread::sleep_for(kFinalNoticePause);
  }
}

void SendToChannel(std::string_view line) {
  Counters& counts = Counts();
  int savedErrno = errno;
  const std::uint64_t untold = counts.untold.exchange(0, std::memory_order_acq_rel);
  const int reason = untold == 0 ? SendDatagram(line) : SendDatagram(Counted(untold, line, false));
  if (reason == 0) {
    counts.delivered.fetch_add(1, std::memory_order_relaxed);
  } else {
    counts.dropped.fetch_add(1, std::memory_order_relaxed);
    // With nobody listening there is nobody to tell what went missing.
    if (!NobodyListens(reason)) {
      counts.missed.fetch_add(1, std::memory_order_relaxed);
      counts.untold.fetch_add(untold + 1, std::memory_order_acq_rel);
      static std::once_flag atEnd;
      std::call_once(atEnd, [] {
        std::atexit(TellUntold);
        AddHaltCleanup(TellUntold);
      });
    }
  }
  errno = savedErrno;
}

#else

void SendToChannel(std::string_view line) {
  Counts().sends.fetch_add(1, std::memory_order_relaxed);
  std::string text(line);
  ::OutputDebugStringA(text.c_str());
  Counts().delivered.fetch_add(1, std::memory_order_relaxed);
}

#endif

}  // namespace

void DebugOutput(std::string_view line) {
  if (!SendToSink(line)) SendToChannel(line);
  ClearError();
}

DebugSink SetDebugSink(DebugSink sink) {
  SinkSlot& slot = Sink();
  std::lock_guard<std::mutex> hold(slot.lock);
  DebugSink previous = std::move(slot.sink);
  slot.sink = std::move(sink);
  slot.installed.store(static_cast<bool>(slot.sink), std::memory_order_release);
  return previous;
}

void SetDebugChannelName(std::string_view name) {
#ifndef _WIN32
  TheChannel().SetName(name.empty() ? kDebugChannelName : name);
#else
  (void)name;
#endif
}

std::string DebugChannelName() {
#ifndef _WIN32
  return TheChannel().current.load(std::memory_order_acquire)->name;
#else
  return std::string(kDebugChannelName);
#endif
}

DebugChannelCounts DebugChannelStatistics() {
  Counters& counts = Counts();
  return {counts.sends.load(std::memory_order_relaxed), counts.delivered.load(std::memory_order_relaxed),
          counts.dropped.load(std::memory_order_relaxed), counts.missed.load(std::memory_order_relaxed)};
}

}  // namespace rt
