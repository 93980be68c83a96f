#ifndef _WIN32
#include "runtime/trace/debug_channel_listener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "runtime/trace/abstract_address.h"

namespace rt {
namespace {
// Larger than any datagram a Unix socket accepts by default.
constexpr std::size_t kMaxLine = 256 * 1024;
}  // namespace

DebugChannelListener::~DebugChannelListener() {
  if (fd_ >= 0) ::close(fd_);
}

DebugChannelListener::Sender::~Sender() {
  if (count) ::munmap(const_cast<std::uint64_t*>(count), sizeof(std::uint64_t));
}

int DebugChannelListener::Bind(std::string_view name) {
  if (fd_ >= 0) return EISCONN;
  if (name.size() > kMaxAbstractName) return ENAMETOOLONG;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  AbstractAddress a = MakeAbstractAddress(name);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a.Address), a.Length) != 0) {
    int reason = errno;
    ::close(fd);
    return reason;
  }
  fd_ = fd;
  buffer_.resize(kMaxLine);
  return 0;
}

std::optional<DebugDatagram> DebugChannelListener::ReceiveDatagram(int timeoutMs) {
  if (fd_ < 0) return std::nullopt;
  for (bool waited = false;; waited = true) {
    // Read before the queue: a line counted finished then and not queued
    // after is lost for good.
    std::map<pid_t, std::uint64_t> finished;
    for (const auto& [pid, sender] : senders_)
      if (sender.count)
        finished[pid] = __atomic_load_n(sender.count, __ATOMIC_ACQUIRE);
    if (auto datagram = TakeQueued()) return datagram;
    if (auto datagram = LostAtTheEnd(finished)) return datagram;
    pollfd wait{fd_, POLLIN, 0};
    if (waited || ::poll(&wait, 1, timeoutMs) <= 0) return std::nullopt;
  }
}

std::optional<DebugDatagram> DebugChannelListener::TakeQueued() {
  iovec into{buffer_.data(), buffer_.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  msghdr message{};
  message.msg_iov = &into;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = ::recvmsg(fd_, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  if (got < 0) return std::nullopt;
  int countFile = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(sizeof(int)))
      std::memcpy(&countFile, CMSG_DATA(c), sizeof(int));
  const std::string_view data(buffer_.data(), static_cast<std::size_t>(got));
  DebugDatagram datagram;
  if (!TakeNumbered(data, countFile, datagram)) datagram.Line = data;
  if (countFile >= 0) ::close(countFile);
  return datagram;
}

namespace {

// The decimal number at the start of `text`, and `text` past it and one
// `separator`; false when there is none.
bool TakeNumber(std::string_view& text, char separator, std::uint64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  if (separator == '\0' && text.empty()) return true;
  if (text.empty() || text[0] != separator) return false;
  text.remove_prefix(1);
  return true;
}

// A sender's memory file mapped read-only, when it is one: sealed against
// shrinking, so reading it can never fault.
const std::uint64_t* MapCountFile(int file) {
  struct stat about {};
  if (file < 0 || ::fstat(file, &about) != 0 || about.st_size < static_cast<off_t>(sizeof(std::uint64_t)))
    return nullptr;
  const int seals = ::fcntl(file, F_GET_SEALS);
  if (seals < 0 || !(seals & F_SEAL_SHRINK)) return nullptr;
  void* page = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ, MAP_SHARED, file, 0);
  return page == MAP_FAILED ? nullptr : static_cast<const std::uint64_t*>(page);
}

}  // namespace

bool DebugChannelListener::TakeNumbered(std::string_view data, int countFile, DebugDatagram& datagram) {
  if (data.empty() || data[0] != '\0') return false;
  const std::size_t lineStart = data.find('\0', 1);
  std::string_view header = data.substr(1, lineStart == data.npos ? data.npos : lineStart - 1);
  std::uint64_t pid = 0, number = 0, refused = 0;
  if (!TakeNumber(header, ' ', pid) || !TakeNumber(header, ' ', number) ||
      !TakeNumber(header, '\0', refused) || !header.empty() || pid == 0 || number == 0 ||
      pid > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max()))
    return false;
  datagram.HasLine = lineStart != data.npos;
  if (datagram.HasLine) datagram.Line = data.substr(lineStart + 1);

  Sender& sender = senders_[static_cast<pid_t>(pid)];
  if (sender.next != 0 && number < sender.next) {
    // Numbers only grow within a process: this is a new one with the same id.
    senders_.erase(static_cast<pid_t>(pid));
    return TakeNumbered(data, countFile, datagram);
  }
  const std::uint64_t firstMissed = sender.next != 0 ? sender.next : refused + 1;
  datagram.MissedBefore = number > firstMissed ? number - firstMissed : 0;
  missed_ += datagram.MissedBefore;
  sender.next = datagram.HasLine ? number + 1 : number;
  if (const std::uint64_t* count = MapCountFile(countFile)) {
    if (sender.count) ::munmap(const_cast<std::uint64_t*>(sender.count), sizeof(std::uint64_t));
    sender.count = count;
  }
  return true;
}

std::optional<DebugDatagram> DebugChannelListener::LostAtTheEnd(const std::map<pid_t, std::uint64_t>& finished) {
  for (const auto& [pid, last] : finished) {
    auto sender = senders_.find(pid);
    if (sender == senders_.end() || last < sender->second.next) continue;
    DebugDatagram datagram;
    datagram.HasLine = false;
    datagram.MissedBefore = last - sender->second.next + 1;
    missed_ += datagram.MissedBefore;
    sender->second.next = last + 1;
    return datagram;
  }
  return std::nullopt;
}

std::optional<std::string> DebugChannelListener::Receive(int timeoutMs) {
  std::optional<DebugDatagram> datagram = ReceiveDatagram(timeoutMs);
  if (!datagram || !datagram->HasLine) return std::nullopt;
  return std::move(datagram->Line);
}

}  // namespace rt
#endif
