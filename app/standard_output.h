// Whether the program's standard output took what was written to it. Output
// that goes to a full disk or a broken device fails only when the buffer is
// written out, often at exit, where nobody would notice: a program checks
// before it ends, so a lost result is an error on standard error and a
// failing exit status, never a silent success. (Standard error is not
// checked: there is nowhere left to say it.)
#pragma once

#include <string>

namespace app {

// Flushes standard output (std::cout and the C stream under it). Empty when
// everything written to it went out; otherwise why not ("No space left on
// device"), as far as the system said.
std::string StandardOutputFailure();

}  // namespace app
