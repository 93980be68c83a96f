// The program frame: modules, their hooks, and the order the runtime runs
// them in around the main routine.
//
//   RuntimeInit(modules)      remembers the module table
//   RuntimeStart(main)        file registration hooks (every module, table order)
//                             construction hooks       (every module, table order)
//                             thread-start hooks       (thread 1, table order)
//                             main routine
//                             thread-end hooks         (thread 1, reverse table order)
//                             destruction hooks        (every module, reverse table order)
//   RuntimeExit()             releases the runtime and gives the exit code
//
// Teardown runs in reverse, so a module listed before another (the file
// registry before the program) is set up before it and torn down after it.
// Threads started with StartThread run the thread-start hooks before their
// body and the thread-end hooks after it, on the new thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rt {

// One program module's routines. Any entry may be empty.
struct Module {
  std::string Name;
  std::function<void()> Construct;
  std::function<void()> Destruct;
  std::function<void()> ThreadStart;
  std::function<void()> ThreadEnd;
  std::function<void()> RegisterFiles;
};

// Takes the module table. Returns non-zero when the program may go on.
// Returns 0 when a table is already installed or a module has no name.
int RuntimeInit(std::vector<Module> modules);

// Runs the hooks and the main routine in the order above. Does nothing when
// RuntimeInit has not accepted a table.
void RuntimeStart(const std::function<void()>& mainRoutine);

// Marks the runtime ready for windows and files; nothing depends on a result.
void RuntimeReady();

// Forgets the module table and returns the process exit code (0 after a
// normal run); the calling thread reports thread number 0 again. The program
// entry returns the code from main().
int RuntimeExit();

// 1 for the main thread, counting up for each thread started through the
// runtime. A thread the runtime did not start reports 0.
int ThreadNumber();

// A thread started through the runtime. Join() waits for it; the destructor
// joins too, so a thread never outlives its handle.
class Thread {
 public:
  Thread() = default;
  Thread(Thread&&) noexcept;
  Thread& operator=(Thread&&) noexcept;
  ~Thread();
  void Join();
  int Number() const { return number_; }

 private:
  friend Thread StartThread(std::function<void()> body);
  struct State;
  State* state_ = nullptr;  // owned
  int number_ = 0;
};

// Starts body on a new thread that runs the thread hooks around it.
Thread StartThread(std::function<void()> body);

}  // namespace rt
