// The program's version, shown by every program's --version. It is set once,
// as the project's version in the top CMakeLists.txt.
#pragma once

namespace app {

inline constexpr const char* kVersion = VELTRANE_VERSION;

}  // namespace app
