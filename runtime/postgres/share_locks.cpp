#include "runtime/postgres/share_locks.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/files/driver.h"

namespace rt::postgres {
namespace {

bool Writes(int mode) { return (mode & 0x03) != kAccessRead; }
bool DeniesRead(int mode) {
  int share = mode & 0x70;
  return share == kShareDenyRead || share == kShareDenyAll;
}
bool DeniesWrite(int mode) {
  int share = mode & 0x70;
  return share == kShareDenyWrite || share == kShareDenyAll;
}
bool Conflict(int a, int b) {
  return DeniesRead(a) || DeniesRead(b) || (DeniesWrite(a) && Writes(b)) ||
         (DeniesWrite(b) && Writes(a));
}

// Modes held by this process's handles, by table; guarded by its mutex.
struct Held {
  std::mutex mutex;
  std::map<std::string, std::vector<int>> modes;
};
Held& HeldHere() {
  static Held held;
  return held;
}

std::string Space(int space) { return std::to_string(space); }

}  // namespace

int ShareLocks::TryServer(bool& taken) {
  // Both locks in one statement: all or nothing, so a refusal holds nothing.
  const std::string read = DeniesRead(mode_) ? "pg_try_advisory_lock" : "pg_try_advisory_lock_shared";
  const std::string write = DeniesWrite(mode_)  ? "pg_try_advisory_lock"
                            : Writes(mode_)     ? "pg_try_advisory_lock_shared"
                                                : "";
  std::string sql = "SELECT " + read + "(" + Space(kReadLockSpace) + ", hashtext($1))";
  if (!write.empty()) sql += ", " + write + "(" + Space(kWriteLockSpace) + ", hashtext($1))";
  Result result;
  if (int code = connection_->Run(sql, {name_}, result)) return code;
  bool readTaken = result.Value(0, 0)[0] == 't';
  bool writeTaken = write.empty() || result.Value(0, 1)[0] == 't';
  taken = readTaken && writeTaken;
  if (!taken) {
    Result undo;
    if (readTaken)
      connection_->Run(std::string(DeniesRead(mode_) ? "SELECT pg_advisory_unlock"
                                                     : "SELECT pg_advisory_unlock_shared") +
                           "(" + Space(kReadLockSpace) + ", hashtext($1))",
                       {name_}, undo);
    if (writeTaken && !write.empty())
      connection_->Run(std::string(DeniesWrite(mode_) ? "SELECT pg_advisory_unlock"
                                                      : "SELECT pg_advisory_unlock_shared") +
                           "(" + Space(kWriteLockSpace) + ", hashtext($1))",
                       {name_}, undo);
  }
  return kNoError;
}

int ShareLocks::Acquire(Connection& connection, const std::string& name, int mode,
                        int waitSeconds) {
  Release();
  connection_ = &connection;
  name_ = name;
  mode_ = mode;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  for (;;) {
    bool here = true;
    {
      auto& held = HeldHere();
      std::lock_guard lock(held.mutex);
      auto& modes = held.modes[name_];
      for (int other : modes) here = here && !Conflict(other, mode_);
      if (here) modes.push_back(mode_);
    }
    if (here) {
      bool taken = false;
      int code = TryServer(taken);
      if (code == kNoError && taken) {
        held_ = true;
        return kNoError;
      }
      auto& held = HeldHere();
      std::lock_guard lock(held.mutex);
      auto& modes = held.modes[name_];
      modes.erase(std::find(modes.begin(), modes.end(), mode_));
      if (code != kNoError) {
        connection_ = nullptr;
        return code;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      connection_ = nullptr;
      return kAccessDenied;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void ShareLocks::Release() {
  if (!held_) return;
  held_ = false;
  {
    auto& held = HeldHere();
    std::lock_guard lock(held.mutex);
    auto& modes = held.modes[name_];
    auto found = std::find(modes.begin(), modes.end(), mode_);
    if (found != modes.end()) modes.erase(found);
  }
  // Session locks go with a session the server lost: nothing to undo then.
  if (connection_->Broken()) {
    connection_ = nullptr;
    return;
  }
  Result undo;
  connection_->Run(std::string(DeniesRead(mode_) ? "SELECT pg_advisory_unlock"
                                                 : "SELECT pg_advisory_unlock_shared") +
                       "(" + Space(kReadLockSpace) + ", hashtext($1))",
                   {name_}, undo);
  if (Writes(mode_) || DeniesWrite(mode_))
    connection_->Run(std::string(DeniesWrite(mode_) ? "SELECT pg_advisory_unlock"
                                                    : "SELECT pg_advisory_unlock_shared") +
                         "(" + Space(kWriteLockSpace) + ", hashtext($1))",
                     {name_}, undo);
  connection_ = nullptr;
}

}  // namespace rt::postgres
