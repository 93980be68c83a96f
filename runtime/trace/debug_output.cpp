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
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "runtime/trace/abstract_address.h"
#endif

namespace rt {
namespace {

struct Counters {
  std::atomic<std::uint64_t> sends{0};
  std::atomic<std::uint64_t> delivered{0};
  std::atomic<std::uint64_t> dropped{0};
  std::atomic<std::uint64_t> missed{0};
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

std::int64_t CoarseNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The process's sending socket, the name it sends to and the numbering of
// its lines (see DATAGRAMS in debug_output.h). Senders read the current
// address without the lock; every address ever set stays alive in `all` so
// that DebugChannelName can still read an older one.
struct Channel {
  Channel() : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)), pid(::getpid()) {
    SetName(kDebugChannelName);
    ::pthread_atfork([] { TheChannelLock().lock(); }, [] { TheChannelLock().unlock(); },
                     [] {
                       Channel& c = *instance;
                       c.StartAgainInChild();
                       TheChannelLock().unlock();
                     });
  }

  static std::mutex& TheChannelLock();
  static Channel* instance;

  void SetName(std::string_view name) {
    std::lock_guard<std::mutex> hold(lock);
    name = name.substr(0, kMaxAbstractName);
    Address& a = all.emplace_back(Address{std::string(name), MakeAbstractAddress(name)});
    current.store(&a, std::memory_order_release);
    // Lines to another name are numbered on their own (from 1).
    number = refused = delivered = 0;
    quietUntil = 0;
    tellCount = true;
    PublishCount();
  }

  // The memory file that holds `number` for listeners; made on first use.
  // Without one (memfd refused) listeners count only what datagrams tell.
  void MakeCountFile() {
    const int file = ::memfd_create("veltrane-trace-count", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (file < 0) return;
    void* page = MAP_FAILED;
    if (::ftruncate(file, sizeof(std::uint64_t)) == 0)
      page = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (page == MAP_FAILED ||
        ::fcntl(file, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
      if (page != MAP_FAILED) ::munmap(page, sizeof(std::uint64_t));
      ::close(file);
      return;
    }
    countFile = file;
    count = static_cast<std::uint64_t*>(page);
  }

  void PublishCount() {
    if (count) std::atomic_ref<std::uint64_t>(*count).store(number, std::memory_order_release);
  }

  void StartAgainInChild() {
    pid = ::getpid();
    number = refused = delivered = 0;
    quietUntil = 0;
    tellCount = true;
    // The parent's memory file stays the parent's.
    if (count) ::munmap(count, sizeof(std::uint64_t));
    if (countFile >= 0) ::close(countFile);
    count = nullptr;
    countFile = -1;
  }

  const int fd;  // open for the life of the process
  std::mutex& lock = TheChannelLock();
  std::deque<Address> all;  // guarded by lock; never shrinks
  std::atomic<const Address*> current{nullptr};
  // All below guarded by lock.
  pid_t pid;
  std::uint64_t number = 0;     // the last line's number
  std::uint64_t refused = 0;    // the last line that found nobody listening
  std::uint64_t delivered = 0;  // the last line a listener took or was told of
  std::int64_t quietUntil = 0;  // CoarseNowNs before which nothing is sent
  bool tellCount = true;        // the next datagram carries the memory file
  bool countFileTried = false;
  int countFile = -1;              // owned
  std::uint64_t* count = nullptr;  // its shared mapping
};

std::mutex& Channel::TheChannelLock() {
  static std::mutex& lock = *new std::mutex;
  return lock;
}
Channel* Channel::instance = nullptr;

Channel& TheChannel() {
  static Channel& channel = *(Channel::instance = new Channel);
  return channel;
}

// How long the datagram at the end waits for room, at most.
constexpr int kFinalNoticeTries = 200;
constexpr auto kFinalNoticePause = std::chrono::milliseconds(1);

// One datagram numbered `number`, with `line` unless it is only a count (see
// debug_output.h); the errno of the failure, or 0 when a listener took it.
// Called with the channel's lock held.
int SendNumbered(Channel& c, std::uint64_t number, const std::string_view* line) {
  char header[80];
  char* at = header;
  *at++ = '\0';
  at = std::to_chars(at, header + sizeof header, c.pid).ptr;
  *at++ = ' ';
  at = std::to_chars(at, header + sizeof header, number).ptr;
  *at++ = ' ';
  at = std::to_chars(at, header + sizeof header, c.refused).ptr;
  if (line) *at++ = '\0';
  iovec parts[2] = {{header, static_cast<std::size_t>(at - header)}, {}};
  if (line) parts[1] = {const_cast<char*>(line->data()), line->size()};
  const Address* to = c.current.load(std::memory_order_acquire);
  msghdr message{};
  message.msg_name = const_cast<sockaddr_un*>(&to->to.Address);
  message.msg_namelen = to->to.Length;
  message.msg_iov = parts;
  message.msg_iovlen = line ? 2 : 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  if (c.tellCount && !c.countFileTried) {
    c.countFileTried = true;
    c.MakeCountFile();
  }
  if (c.tellCount && c.countFile >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* rights = CMSG_FIRSTHDR(&message);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &c.countFile, sizeof(int));
  }
  ssize_t sent;
  do {
    Counts().sends.fetch_add(1, std::memory_order_relaxed);
    sent = ::sendmsg(c.fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? errno : 0;
}

bool NobodyListens(int reason) { return reason == ECONNREFUSED || reason == ENOENT; }

// Tells a listener where the lines end when the process ends, if one may
// not know (see WHERE A PROCESS ENDS in debug_output.h).
void TellTheEnd() {
  Channel& c = TheChannel();
  std::lock_guard<std::mutex> hold(c.lock);
  if (c.number <= std::max(c.delivered, c.refused)) return;
  c.tellCount = true;
  for (int i = 0; i < kFinalNoticeTries; ++i) {
    const int reason = SendNumbered(c, c.number + 1, nullptr);
    if (reason == 0) c.delivered = c.number;
    if (reason == 0 || (reason != EAGAIN && reason != EWOULDBLOCK)) return;
    std::this_thread::sleep_for(kFinalNoticePause);
  }
}

void SendToChannel(std::string_view line) {
  static std::once_flag atEnd;
  std::call_once(atEnd, [] {
    std::atexit(TellTheEnd);
    AddHaltCleanup(TellTheEnd);
  });
  Counters& counts = Counts();
  const int savedErrno = errno;
  Channel& c = TheChannel();
  std::lock_guard<std::mutex> hold(c.lock);
  const std::uint64_t number = ++c.number;
  if (c.quietUntil != 0 && CoarseNowNs() < c.quietUntil) {
    counts.dropped.fetch_add(1, std::memory_order_relaxed);
  } else {
    c.quietUntil = 0;
    const int reason = SendNumbered(c, number, &line);
    if (reason == 0) {
      counts.delivered.fetch_add(1, std::memory_order_relaxed);
      c.delivered = number;
      c.tellCount = false;
    } else {
      counts.dropped.fetch_add(1, std::memory_order_relaxed);
      c.tellCount = true;
      if (NobodyListens(reason)) {
        c.refused = number;
        c.quietUntil = CoarseNowNs() + std::chrono::nanoseconds(kNobodyListensPause).count();
      } else {
        counts.missed.fetch_add(1, std::memory_order_relaxed);
      }
    }
  }
  c.PublishCount();
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
