// The program's name and version (--version of every program). The version
// is set once, as the project's version in the top CMakeLists.txt.
#pragma once

namespace app {

extern const char kVersion[];
// The program's name where a window or message box shows it.
inline constexpr const char* kProgramName = "Veltrane";

}  // namespace app
