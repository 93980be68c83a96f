// Per-thread objects. A ThreadVar<T> is declared once (usually at namespace
// scope); every thread that reaches it gets its own T, built on first use from
// the variable's initial value and destroyed when the thread ends or when
// Destroy() is called on that thread. Lookup is one index into a
// thread_local table, so hot paths may call ThreadInstance freely.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace rt {

namespace detail {
struct SlotBase {
  virtual ~SlotBase() = default;
};
// The calling thread's slot table; slots are indexed by ThreadVar number.
std::vector<std::unique_ptr<SlotBase>>& ThreadSlots();
std::size_t NextThreadVarIndex();
}  // namespace detail

template <class T>
class ThreadVar {
 public:
  ThreadVar() : make_([] { return std::make_unique<T>(); }) {}
  explicit ThreadVar(T initial)
      : make_([initial] { return std::make_unique<T>(initial); }) {}
  ThreadVar(const ThreadVar&) = delete;
  ThreadVar& operator=(const ThreadVar&) = delete;

  // This thread's copy, built if the thread has none yet.
  T& Instance() const {
    auto& slots = detail::ThreadSlots();
    if (slots.size() <= index_) slots.resize(index_ + 1);
    auto& slot = slots[index_];
    if (!slot) slot = std::make_unique<Slot>(make_());
    return *static_cast<Slot&>(*slot).value;
  }
  // True when this thread has built its copy.
  bool Exists() const {
    auto& slots = detail::ThreadSlots();
    return index_ < slots.size() && slots[index_] != nullptr;
  }
  // Destroys this thread's copy; the next Instance() builds a fresh one.
  void Destroy() const {
    auto& slots = detail::ThreadSlots();
    if (index_ < slots.size()) slots[index_].reset();
  }

 private:
  struct Slot : detail::SlotBase {
    explicit Slot(std::unique_ptr<T> v) : value(std::move(v)) {}
    std::unique_ptr<T> value;
  };
  std::size_t index_ = detail::NextThreadVarIndex();
  std::function<std::unique_ptr<T>()> make_;
};

// This thread's copy of a per-thread object.
template <class T>
T& ThreadInstance(const ThreadVar<T>& var) {
  return var.Instance();
}

}  // namespace rt
