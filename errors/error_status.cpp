#include "errors/error_status.h"

#include "runtime/core/text.h"

namespace errors {

void ErrorStatus::Reset() { *this = ErrorStatus{}; }

std::string FitText(std::string_view text, std::size_t capacity) {
  return std::string(rt::TrimRight(text).substr(0, capacity));
}

}  // namespace errors
