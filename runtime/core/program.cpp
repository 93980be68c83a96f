#include "runtime/core/program.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <atomic>
#include <mutex>
#include <thread>

namespace rt {
namespace {

// The module table, written by RuntimeInit before any thread starts and read
// only afterwards.
std::vector<Module>& Modules() {
  static std::vector<Module> modules;
  return modules;
}
bool& Installed() {
  static bool installed = false;
  return installed;
}
std::atomic<int> nextThreadNumber{2};
thread_local int threadNumber = 0;

void RunThreadStart() {
  for (auto& m : Modules())
    if (m.ThreadStart) m.ThreadStart();
}
void RunThreadEnd() {
  for (auto it = Modules().rbegin(); it != Modules().rend(); ++it)
    if (it->ThreadEnd) it->ThreadEnd();
}

// Blocks of 256 KiB and more (a transaction's pending deletes, a cursor's
// page) get mappings of their own, which go back to the system when freed.
// The C library would otherwise raise that threshold after the first such
// block is freed and serve later ones from the heap, where the space they
// leave is kept: a purge's resident memory grew by about 6 MiB that way.
void KeepLargeBlocksApart() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

}  // namespace

int RuntimeInit(std::vector<Module> modules) {
  if (Installed()) return 0;
  for (auto& m : modules)
    if (m.Name.empty()) return 0;
  KeepLargeBlocksApart();
  Modules() = std::move(modules);
  Installed() = true;
  return 1;
}

void RuntimeStart(const std::function<void()>& mainRoutine) {
  if (!Installed()) return;
  threadNumber = 1;
  for (auto& m : Modules())
    if (m.RegisterFiles) m.RegisterFiles();
  for (auto& m : Modules())
    if (m.Construct) m.Construct();
  RunThreadStart();
  if (mainRoutine) mainRoutine();
  RunThreadEnd();
  for (auto it = Modules().rbegin(); it != Modules().rend(); ++it)
    if (it->Destruct) it->Destruct();
}

void RuntimeReady() {}

int RuntimeExit() {
  Modules().clear();
  Installed() = false;
  nextThreadNumber = 2;
  threadNumber = 0;
  return 0;
}

int ThreadNumber() { return threadNumber; }

struct Thread::State {
  std::thread thread;
};

Thread::Thread(Thread&& other) noexcept : state_(other.state_), number_(other.number_) {
  other.state_ = nullptr;
}

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    Join();
    state_ = other.state_;
    number_ = other.number_;
    other.state_ = nullptr;
  }
  return *this;
}

Thread::~Thread() { Join(); }

void Thread::Join() {
  if (!state_) return;
  if (state_->thread.joinable()) state_->thread.join();
  delete state_;
  state_ = nullptr;
}

Thread StartThread(std::function<void()> body) {
  Thread t;
  t.number_ = nextThreadNumber++;
  t.state_ = new Thread::State;
  t.state_->thread = std::thread([number = t.number_, body = std::move(body)] {
    threadNumber = number;
    RunThreadStart();
    if (body) body();
    RunThreadEnd();
  });
  return t;
}

}  // namespace rt
