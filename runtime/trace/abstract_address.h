// Addresses in the Linux abstract socket namespace: a name that lives only
// while a socket is bound to it and never appears in the file system.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <string_view>

namespace rt {

struct AbstractAddress {
  sockaddr_un Address{};
  socklen_t Length = 0;
};

// Longest name an abstract address can carry.
inline constexpr std::size_t kMaxAbstractName = sizeof(sockaddr_un::sun_path) - 1;

// The address @name: a leading NUL, then the name, not NUL-terminated. A
// longer name than kMaxAbstractName is cut.
AbstractAddress MakeAbstractAddress(std::string_view name);

}  // namespace rt
