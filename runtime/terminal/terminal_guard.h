// Gives the terminal back the way the shell had it, however the program ends.
//
// The screen library restores the terminal when it is ended in order; this
// guard covers every other way out: SIGINT, SIGTERM, SIGHUP and SIGQUIT, a
// crash signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT), a halt (which ends
// the process without running destructors) and exit() with the screen still
// on. The signal handler only makes async-signal-safe calls: it writes a reset
// sequence prepared in advance and puts the saved terminal settings back, then
// lets the signal take its former course (the process dies of it, or a crash
// reporter that was installed before sees it).
//
// One guard per process; the functions are meant for the user interface thread,
// except ResetTerminalNow, which any thread and any signal handler may call.
#pragma once

#include <string_view>

namespace rt {

// Saves the settings of terminal fd and installs the handlers. Call it before
// the screen library starts, so that it leaves these signals to us. Signals
// the process ignores (started under nohup) stay ignored.
void GuardTerminal(int fd);
// The bytes that leave full-screen mode (the terminal's own sequences, read
// from its description once the screen library has loaded it). Kept in a
// fixed buffer; a longer sequence is cut.
void SetTerminalResetSequence(std::string_view sequence);
// Writes the reset sequence and the saved settings back, once; later calls do
// nothing until the terminal is guarded again.
void ResetTerminalNow();
// The program put the terminal back itself: removes the handlers and forgets
// the saved state.
void UnguardTerminal();

}  // namespace rt
