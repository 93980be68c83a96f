// The program's exit statuses, whichever way it ends (a halt passes its code
// to the process exit).
#pragma once

namespace app {

inline constexpr int kExitDone = 0;       // the purge ran to the end of the punches
inline constexpr int kExitUsage = 1;      // the command line could not be used
inline constexpr int kExitCancelled = 2;  // the operator cancelled, or the date was refused
inline constexpr int kExitError = 3;      // an error stopped the program or the purge

}  // namespace app
