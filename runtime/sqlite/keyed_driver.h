// The KEYED driver: data files as SQLite databases (see keyed_driver.cpp).
#pragma once

#include <memory>

#include "runtime/files/driver.h"

namespace rt {

class File;

// A closed KEYED handle for `file` (not owned; it outlives the handle).
std::unique_ptr<Driver> MakeKeyedDriver(File& file);

// Page cache per attached data file, in KiB.
inline constexpr int kKeyedCacheKiB = 32 * 1024;
// Records read ahead by sequential reads after "QUICKSCAN=on".
inline constexpr int kQuickScanRecords = 64;

}  // namespace rt
