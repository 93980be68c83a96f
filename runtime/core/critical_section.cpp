#include "runtime/core/critical_section.h"

namespace rt {

std::unique_ptr<CriticalSection> NewCriticalSection() {
  return std::make_unique<CriticalSection>();
}

}  // namespace rt
