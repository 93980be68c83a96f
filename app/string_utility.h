// The string-utility object, reduced to what the purge uses: its own value and
// the trace operation that puts a line on the debug-output channel.
//
// A trace line is "[qv][" + thread number + "] " + the message without its
// trailing blanks, and nothing else (no time stamp, no line ending). The line
// is cut to at most n + 10 characters, n being the message's length, so on
// thread numbers of four or more digits the end of the message is lost. With
// the use-own-value flag set, or an empty message, the object's own value is
// traced unchanged instead (cut to its length + 10); when that is empty too
// the line is the bare tag "[qv][" + thread number + "]", cut to n + 10 as well.
// Text after a NUL in the message or value is not traced.
//
// A trace leaves the runtime's error state as it found it, so it may sit
// between a failed file operation and the reading of its error code.
//
// Threading: any thread may trace; the thread number in the tag tells the
// lines apart. TraceChannel only reads the object, so one object may be shared
// by threads as long as nobody changes its value meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

class StringUtility {
 public:
  // The object's own value; empty when constructed.
  const std::string& Value() const { return value_; }
  void SetValue(std::string_view value) { value_ = value; }

  // Emits one trace line for message on the calling thread (see above).
  void TraceChannel(std::string_view message, std::uint8_t useOwnValue) const;

  // The line TraceChannel emits on thread threadNumber for message and own
  // value ownValue.
  static std::string TraceLine(int threadNumber, std::string_view message, std::uint8_t useOwnValue,
                               std::string_view ownValue);

 private:
  std::string value_;
};

}  // namespace app
