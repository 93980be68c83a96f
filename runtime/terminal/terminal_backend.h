// The terminal backend: runtime windows drawn with ncurses, for machines
// without a display and sessions over SSH.
//
// Windows are framed boxes centred on the screen (screen_painter.h); the
// topmost one takes the keyboard and the mouse:
//   Tab and Shift+Tab move the focus in control order, arrows too where they
//   are not alert keys (in an entry Left and Right move the cursor, in a list
//   Up and Down the selection); Enter accepts the focused control; Esc is the
//   close box; Alt+letter, or the plain letter while no entry has the focus,
//   presses the control whose text marks that letter with "&" (a prompt gives
//   the focus to the control after it); Space presses a button; a click
//   presses a button or a day, focuses an entry, picks a list row (a double
//   click accepts it); Ctrl+L draws the screen again.
// A resized terminal re-centres every window and sends the resize input to the
// topmost; a terminal too small for it shows a one-line notice until it grows.
// Message boxes and halts are boxes over the windows. After a halt's box the
// terminal is restored and the text stays on standard error, so it is still
// there when the shell's screen is back.
//
// The terminal is restored when the backend is destroyed, on a halt, on exit()
// and on the signals of terminal_guard.h.
//
// Threading: the user interface thread makes and uses the backend; Wake may
// come from any thread, ShowHalt too (from another thread it restores the
// terminal and writes the text without a box).
#pragma once

#include <memory>
#include <string>

#include "runtime/windows/backend.h"

namespace rt {

// The backend on the process's terminal (standard input and output), or null
// with one line in error saying why there is none: standard input or output is
// not a terminal, TERM is unset or names an unknown type, or a terminal backend
// already runs. Only one may exist at a time.
std::unique_ptr<Backend> MakeTerminalBackend(std::string& error);

}  // namespace rt
