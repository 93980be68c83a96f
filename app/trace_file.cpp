#include "app/trace_file.h"

#include <cstdlib>
#include <cstring>

#include "runtime/trace/trace_file.h"

namespace app {

bool TraceToFileFromEnvironment(std::string& error) {
  const char* path = std::getenv(kTraceFileVariable);
  if (!path || !*path) return true;
  if (const int reason = rt::TraceToFile(path)) {
    error = "cannot write the trace to " + std::string(path) + ": " + std::strerror(reason);
    return false;
  }
  return true;
}

}  // namespace app
