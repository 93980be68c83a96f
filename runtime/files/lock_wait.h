// Waits for a lock that another program holds: a reader in a long read
// transaction keeps a commit from writing the file, and each write that meets
// it waits a while and tries again. Drivers note every such wait here, so
// that the program can say it is held up, and so that the wait has an end.
//
// A held-up stretch is a run of waits with less than kLockWaitGapMs between
// them; LockWaitMs is how long the current one has lasted (0 when no wait
// was noted within that gap). With a limit set, a stretch that passes it
// is given up: NoteLockWait answers false, and the driver fails the
// statement (and the commit it belongs to) instead of waiting on.
// A commit waits through the whole limit even where a statement's own wait
// would have ended sooner. GiveUpLockWait gives the current wait up at once
// (the operator stopped the program); without a wait it does nothing.
// ResetLockWait starts afresh; a driver calls it as a commit begins.
//
// Threading: process-wide; a commit may wait on a helper thread while the
// user interface thread reads LockWaitMs.
#pragma once

#include <cstdint>

namespace rt {

inline constexpr std::int64_t kLockWaitGapMs = 1000;

// A driver is about to wait for another program's lock. False when the
// stretch is given up: the driver must fail instead of waiting.
bool NoteLockWait();
// Milliseconds the current held-up stretch has lasted; 0 when none.
std::int64_t LockWaitMs();
// Whether the current stretch was given up (the limit, or GiveUpLockWait).
bool LockWaitGivenUp();
// The longest stretch to wait through, in milliseconds; 0 waits on.
void SetLockWaitLimit(std::int64_t milliseconds);
std::int64_t LockWaitLimit();
void GiveUpLockWait();
void ResetLockWait();

}  // namespace rt
