// The purge's module-level variables, shared by the purge procedure
// (purge_process.h) and the cut-off dialog (select_last_date.h). There is one
// copy per process, not per thread; the program touches them only on its
// user-interface thread.
#pragma once

#include <cstdint>

namespace app {

// The cut-off: the last duty date to remove, a runtime day number; 0 means no
// date. The purge resets it before the dialog; the dialog's date entry is
// bound to it.
extern std::int32_t LastDate;
// Punches removed so far; reset when the purge starts and when its first
// transaction opens.
extern std::int32_t RemovedCount;
// 1 until the first record step has opened the first transaction.
extern std::uint8_t FirstRecord;

}  // namespace app
