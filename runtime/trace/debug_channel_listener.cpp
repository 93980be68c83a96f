#ifndef _WIN32
#include "runtime/trace/debug_channel_listener.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

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

std::optional<std::string> DebugChannelListener::Receive(int timeoutMs) {
  if (fd_ < 0) return std::nullopt;
  pollfd wait{fd_, POLLIN, 0};
  if (::poll(&wait, 1, timeoutMs) <= 0) return std::nullopt;
  ssize_t got = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
  if (got < 0) return std::nullopt;
  return buffer_.substr(0, static_cast<std::size_t>(got));
}

}  // namespace rt
#endif
