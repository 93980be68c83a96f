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
  {
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(kBlockedServeMs), [&] { return done; })) {
      lock.unlock();
      if (blockedTurn) blockedTurn();
      serve();
      lock.lock();
    }
  }
  helper.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace rt
