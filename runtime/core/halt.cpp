#include "runtime/core/halt.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>

namespace rt {
namespace {

struct HaltState {
  std::mutex mutex;
  HaltHandler handler;
  HaltPresenter presenter;
  std::map<int, std::function<void()>> cleanups;
  int nextId = 1;
};

HaltState& State() {
  static HaltState state;
  return state;
}

}  // namespace

void SetHaltHandler(HaltHandler handler) {
  std::lock_guard lock(State().mutex);
  State().handler = std::move(handler);
}

void SetHaltPresenter(HaltPresenter presenter) {
  std::lock_guard lock(State().mutex);
  State().presenter = std::move(presenter);
}

int AddHaltCleanup(std::function<void()> cleanup) {
  std::lock_guard lock(State().mutex);
  int id = State().nextId++;
  State().cleanups.emplace(id, std::move(cleanup));
  return id;
}

void RemoveHaltCleanup(int id) {
  std::lock_guard lock(State().mutex);
  State().cleanups.erase(id);
}

void Halt(int code, std::string_view text) {
  HaltHandler handler;
  HaltPresenter presenter;
  std::map<int, std::function<void()>> cleanups;
  {
    std::lock_guard lock(State().mutex);
    handler = State().handler;
    presenter = State().presenter;
    cleanups = State().cleanups;
  }
  std::string message(text);
  if (!message.empty()) {
    if (presenter)
      presenter(message);
    else
      std::cerr << message << std::endl;
  }
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) it->second();
  if (handler) handler(code, message);
  std::fflush(nullptr);
  std::_Exit(code);
}

}  // namespace rt
