// The ASCII driver: a text file of lines, one record per line. It serves
// logs, so it creates a file, opens it shared for appending and adds lines;
// it does not read records back, and it has no keys or transactions.
//
// A record becomes one line: the record's bytes with trailing blanks and
// NULs removed, then a newline, written with one append so that lines from
// several processes never interleave. The sharing bits of the open mode are
// not enforced: every opener may append.
#pragma once

#include <memory>

#include "runtime/files/driver.h"

namespace rt {

class File;

// A closed ASCII handle for `file` (not owned; it outlives the handle).
std::unique_ptr<Driver> MakeAsciiDriver(File& file);

}  // namespace rt
