// The program's version, shown by every program's --version. It is set once,
// as the project's version in the top CMakeLists.txt.
#pragma once

namespace app {

extern const char kVersion[];

}  // namespace app
