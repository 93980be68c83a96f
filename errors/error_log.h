// Where the error manager writes a line for every message it shows when
// logging is on. Every operation returns LevelBenign on success and
// LevelNotify on failure; the manager swallows failures.
#pragma once

#include <string_view>

namespace errors {

class ErrorLog {
 public:
  virtual ~ErrorLog() = default;
  virtual int Close(bool force) = 0;
  virtual int Open(bool force) = 0;
  virtual int Append(std::string_view line) = 0;
};

}  // namespace errors
