#include "runtime/windows/backend.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "runtime/core/halt.h"

namespace rt {
namespace {

std::atomic<Backend*> gBackend{nullptr};
std::mutex gThreadMutex;
std::thread::id gBackendThread;

}  // namespace

std::int64_t Backend::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SetBackend(Backend* backend) {
  {
    std::lock_guard lock(gThreadMutex);
    gBackendThread = std::this_thread::get_id();
  }
  gBackend.store(backend);
  if (backend)
    SetHaltPresenter([backend](const std::string& text) { backend->ShowHalt(text); });
  else
    SetHaltPresenter({});
}

Backend* ActiveBackend() { return gBackend.load(); }

bool OnBackendThread() {
  std::lock_guard lock(gThreadMutex);
  return gBackend.load() && gBackendThread == std::this_thread::get_id();
}

std::int64_t WindowClockMs() {
  if (Backend* backend = gBackend.load()) return backend->NowMs();
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Beep(int frequency, int duration) {
  if (Backend* backend = gBackend.load(); backend && OnBackendThread()) backend->Beep(frequency, duration);
}

void SetCursor(std::string_view cursor) {
  if (Backend* backend = gBackend.load(); backend && OnBackendThread()) backend->SetCursor(cursor);
}

}  // namespace rt
