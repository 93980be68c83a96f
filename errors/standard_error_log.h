// The error manager's own log: a text file through the runtime's ASCII driver,
// one line per record, opened for reading and writing with every kind of
// sharing allowed, so several instances of the program can append to one log.
//
// Usage counts the opens not yet closed. Only the first Open (or a forced one)
// opens the file, creating it when it is missing; only the Close that
// balances it (or a forced one) closes the file. A failed Open leaves the count
// as it was, and a Close with nothing open changes nothing, so the count never
// goes below 0: a log that once failed to open opens normally the next time.
//
// Every operation returns LevelBenign on success and LevelNotify on failure.
// A failure is never shown and never stops the program; the runtime error
// state it leaves is the caller's to keep or restore.
//
// Threading: the log takes no lock of its own; the error manager calls it
// under its lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "errors/error_log.h"

namespace rt {
class File;
class FileDeclaration;
}  // namespace rt

namespace errors {

class StandardErrorLog : public ErrorLog {
 public:
  static constexpr std::string_view kFileName = "TarvoError.Log";
  // A line longer than this is cut.
  static constexpr std::size_t kLineCapacity = 1024;

  // The log on `fileName`, relative names counting from the current folder
  // at each open.
  explicit StandardErrorLog(std::string_view fileName = kFileName);
  // Closes the file, forced.
  ~StandardErrorLog() override;
  StandardErrorLog(const StandardErrorLog&) = delete;
  StandardErrorLog& operator=(const StandardErrorLog&) = delete;

  int Close(bool force) override;
  int Open(bool force) override;
  // Adds `line` (cut at kLineCapacity, line breaks turned into blanks) as one
  // line; LevelNotify without writing when the log is not open.
  int Append(std::string_view line) override;

  std::int32_t Usage() const { return usage_; }

 private:
  std::unique_ptr<rt::FileDeclaration> decl_;
  std::unique_ptr<rt::File> file_;
  std::int32_t usage_ = 0;
};

// The log line of a shown message: the date (short date picture), "@", the
// time (long time picture), " --> " and the text as shown.
std::string ErrorLogLine(std::string_view text);

}  // namespace errors
