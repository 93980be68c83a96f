#include "runtime/core/blocking_call.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace rt {
namespace {

std::atomic<BlockedServer> blockedServer{nullptr};
BlockedTurn blockedTurn;  // the user interface thread's only

}  // namespace

void SetBlockedServer(BlockedServer server) { blockedServer.store(server); }

void SetBlockedTurn(BlockedTurn turn) { blockedTurn = std::move(turn); }

void RunBlocking(const std::function<void()>& work) {
  BlockedServer serve = blockedServer.load();
  if (!serve || !serve()) return work();
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::exception_ptr failure;
  std::thread helper([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(mutex);
    done = true;
    finished.notify_one();
  });
  // Serving the windows may throw (a backend that fails): the work still runs
  // to its end, unserved, before the exception goes on, because the helper
  // uses what the caller owns and must be joined.
  std::exception_ptr servingFailure;
  {
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(kBlockedServeMs), [&] { return done; })) {
      if (servingFailure) continue;
      lock.unlock();
      try {
        if (blockedTurn) blockedTurn();
        serve();
      } catch (...) {
        servingFailure = std::current_exception();
      }
      lock.lock();
    }
  }
  helper.join();
  if (failure) std::rethrow_exception(failure);
  if (servingFailure) std::rethrow_exception(servingFailure);
}

}  // namespace rt
