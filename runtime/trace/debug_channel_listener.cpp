#ifndef _WIN32
#include "runtime/trace/debug_channel_listener.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
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
  pollfd wait{fd_, POLLIN, 0};
  if (::poll(&wait, 1, timeoutMs) <= 0) return std::nullopt;
  ssize_t got = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
  if (got < 0) return std::nullopt;
  std::string_view data(buffer_.data(), static_cast<std::size_t>(got));
  DebugDatagram datagram;
  if (data.empty() || data[0] != '\0') {
    datagram.Line = data;
    return datagram;
  }
  // NUL count [NUL line]. Any local process may send here: a count that is
  // no number counts as 0.
  const std::size_t end = data.find('\0', 1);
  const std::string_view count = data.substr(1, end == data.npos ? data.npos : end - 1);
  std::uint64_t missed = 0;
  if (std::from_chars(count.data(), count.data() + count.size(), missed).ec != std::errc())
    missed = 0;
  datagram.MissedBefore = missed;
  missed_ += missed;
  datagram.HasLine = end != data.npos;
  if (datagram.HasLine) datagram.Line = data.substr(end + 1);
  return datagram;
}

std::optional<std::string> DebugChannelListener::Receive(int timeoutMs) {
  std::optional<DebugDatagram> datagram = ReceiveDatagram(timeoutMs);
  if (!datagram || !datagram->HasLine) return std::nullopt;
  return std::move(datagram->Line);
}

}  // namespace rt
#endif
