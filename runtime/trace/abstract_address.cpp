#ifndef _WIN32
#include "runtime/trace/abstract_address.h"

#include <cstddef>
#include <cstring>

namespace rt {

AbstractAddress MakeAbstractAddress(std::string_view name) {
  AbstractAddress a;
  name = name.substr(0, kMaxAbstractName);
  a.Address.sun_family = AF_UNIX;
  std::memcpy(a.Address.sun_path + 1, name.data(), name.size());
  a.Length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return a;
}

}  // namespace rt
#endif
