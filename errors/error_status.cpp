#include "errors/error_status.h"

namespace errors {

void ErrorStatus::Reset() { *this = ErrorStatus{}; }

std::string FitText(std::string_view text, std::size_t capacity) {
  auto end = text.find_last_not_of(' ');
  text = end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
  return std::string(text.substr(0, capacity));
}

}  // namespace errors
