#include "runtime/files/lock_wait.h"

#include <atomic>
#include <chrono>

namespace rt {
namespace {

std::atomic<std::int64_t> stretchStart{0};  // ms on the steady clock; 0 = none yet
std::atomic<std::int64_t> lastWait{0};
std::atomic<std::int64_t> limit{0};
std::atomic<bool> givenUp{false};

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool NoteLockWait() {
  const std::int64_t now = NowMs();
  if (stretchStart == 0 || now - lastWait > kLockWaitGapMs) stretchStart = now;
  lastWait = now;
  if (limit > 0 && now - stretchStart > limit) givenUp = true;
  return !givenUp;
}

std::int64_t LockWaitMs() {
  const std::int64_t now = NowMs();
  if (stretchStart == 0 || now - lastWait > kLockWaitGapMs) return 0;
  return now - stretchStart;
}

bool LockWaitGivenUp() { return givenUp; }

void SetLockWaitLimit(std::int64_t milliseconds) { limit = milliseconds; }

std::int64_t LockWaitLimit() { return limit; }

void GiveUpLockWait() {
  if (LockWaitMs() > 0) givenUp = true;
}

void ResetLockWait() {
  givenUp = false;
  stretchStart = 0;
  lastWait = 0;
}

}  // namespace rt
