// Level codes: the result of every framework operation and the level stored
// with every message table entry.
#pragma once

namespace errors {

enum Level : int {
  LevelBenign = 0,   // success, carry on
  LevelUser = 1,     // a yes/no question was asked
  LevelProgram = 2,  // program error, handled as fatal
  LevelFatal = 3,    // stop; a window's event loop ends at once
  LevelCancel = 4,   // the user declined or cancelled
  LevelNotify = 5,   // reported or not found; skips the runtime's default handling
};

}  // namespace errors
