// The per-thread state of error reporting: the context values a report
// substitutes into its message, the runtime error captured for it, and the
// thread's current message table entry. One instance per thread; it needs no
// lock because no other thread ever sees it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace errors {

// One row of the message table.
struct ErrorEntry {
  std::int32_t Id = 0;
  std::string Message;  // may hold placeholders and '|' line breaks
  std::string Title;    // the message box caption
  std::uint8_t Fatality = 0;
  std::string Category;
};

struct ErrorStatus {
  // Capacities of the fixed-size texts; longer values are cut.
  static constexpr std::size_t kContextCapacity = 1023;
  static constexpr std::size_t kSavedCapacity = 254;

  std::string FieldName;
  std::string FileName;
  std::string KeyName;
  std::string MessageText;
  std::string SaveErrorFile;
  std::string SaveError;
  std::int32_t SaveErrorCode = 0;
  std::string SaveFileError;
  std::string SaveFileErrorCode = "0";
  ErrorEntry ErrorBuffer;
  std::int32_t PrevErrorId = 0;

  // Back to the state of a new thread.
  void Reset();
};

// `text` with trailing blanks removed and cut to `capacity` characters.
std::string FitText(std::string_view text, std::size_t capacity);

}  // namespace errors
