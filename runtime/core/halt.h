// Halt ends the program at once: the text is shown through the presenter the
// active window backend installed (standard error when there is none), every
// halt cleanup runs (the file layer rolls back open transactions and closes
// its files), and the process exits with the code. No program code runs after
// it: neither the rest of the caller nor the thread-end and destruction hooks.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace rt {

// Replaces what Halt does after the cleanups have run. Tests install a handler
// that throws so a halt can be asserted; a handler that returns is followed by
// the process exit. Passing an empty function restores the default.
using HaltHandler = std::function<void(int code, const std::string& text)>;
void SetHaltHandler(HaltHandler handler);

// How the halt text reaches the user. The window backend installs one; an
// empty function restores the default (one line on standard error).
using HaltPresenter = std::function<void(const std::string& text)>;
void SetHaltPresenter(HaltPresenter presenter);

// Work that must happen before a halted process goes away. Returns an id for
// RemoveHaltCleanup. Cleanups run in reverse order of registration.
int AddHaltCleanup(std::function<void()> cleanup);
void RemoveHaltCleanup(int id);

[[noreturn]] void Halt(int code = 0, std::string_view text = {});

}  // namespace rt
