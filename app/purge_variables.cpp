#include "app/purge_variables.h"

namespace app {

std::int32_t LastDate = 0;
std::int32_t RemovedCount = 0;
std::uint8_t FirstRecord = 1;

}  // namespace app
