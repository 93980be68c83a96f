#include "app/version.h"

namespace app {

// app/CMakeLists.txt defines VELTRANE_VERSION for this file alone, so a new
// version rebuilds one file.
extern const char kVersion[] = VELTRANE_VERSION;

}  // namespace app
