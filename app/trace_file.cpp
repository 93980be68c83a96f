#include "app/trace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "runtime/trace/debug_output.h"

namespace app {

bool TraceToFileFromEnvironment(std::string& error) {
  const char* path = std::getenv(kTraceFileVariable);
  if (!path || !*path) return true;
  // Left open for the life of the process: lines may come until it ends.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot write the trace to " + std::string(path) + ": " + std::strerror(errno);
    return false;
  }
  rt::SetDebugSink([fd](std::string_view line) {
    std::string text(line);
    text += '\n';
    // One write per line: O_APPEND keeps a line whole even when another
    // process appends to the same file.
    while (::write(fd, text.data(), text.size()) < 0 && errno == EINTR) {
    }
  });
  return true;
}

}  // namespace app
