// Re-entrant locks for the process-wide objects (error manager, settings
// store, shared file openers).
#pragma once

#include <memory>
#include <mutex>

namespace rt {

class CriticalSection {
 public:
  // Blocks until the calling thread holds the lock; a thread that already
  // holds it takes it again and must release it as often.
  void Wait() { mutex_.lock(); }
  void Release() { mutex_.unlock(); }
  // Kept for the framework's Kill step; the owner's unique_ptr frees it.
  void Kill() {}
  // Lockable, so std::scoped_lock can hold it.
  void lock() { Wait(); }
  void unlock() { Release(); }
  bool try_lock() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// A new, unheld re-entrant lock. The caller owns it.
std::unique_ptr<CriticalSection> NewCriticalSection();

}  // namespace rt
