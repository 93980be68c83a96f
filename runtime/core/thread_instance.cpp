#include "runtime/core/thread_instance.h"

#include <atomic>

namespace rt::detail {

std::vector<std::unique_ptr<SlotBase>>& ThreadSlots() {
  thread_local std::vector<std::unique_ptr<SlotBase>> slots;
  return slots;
}

std::size_t NextThreadVarIndex() {
  static std::atomic<std::size_t> next{0};
  return next++;
}

}  // namespace rt::detail
