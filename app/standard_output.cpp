#include "app/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace app {

std::string StandardOutputFailure() {
  errno = 0;
  std::cout.flush();
  const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || std::cout.fail();
  if (!failed) return {};
  // A write that failed before this flush left no reason behind.
  return errno != 0 ? std::strerror(errno) : "an earlier write failed";
}

}  // namespace app
