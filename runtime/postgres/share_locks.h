// The sharing bits of a KEYED handle's open mode, for a table on the server:
// handles of this process are checked against each other here, handles of
// other connections (threads, processes, stations) through session advisory
// locks, two per table:
//   the read lock    every handle takes it shared; one that denies reading
//                    (DenyRead, DenyAll) takes it exclusive
//   the write lock   a writer takes it shared; one that denies writing
//                    (DenyWrite, DenyAll) takes it exclusive
// so a handle is refused (5) exactly when another holds the table in a mode
// that denies it, or when it would deny what another already does.
#pragma once

#include <string>

#include "runtime/postgres/server_connection.h"

namespace rt::postgres {

class ShareLocks {
 public:
  ShareLocks() = default;
  ShareLocks(const ShareLocks&) = delete;
  ShareLocks& operator=(const ShareLocks&) = delete;
  ~ShareLocks() { Release(); }

  // Takes what `mode` needs on the table named `name` (schema.table), waiting
  // up to `waitSeconds` for others to let go. 0, or 5 when refused, or the
  // connection's code when the server fails. `connection` must outlive the hold.
  int Acquire(Connection& connection, const std::string& name, int mode, int waitSeconds);
  void Release();

 private:
  int TryServer(bool& taken);
  Connection* connection_ = nullptr;  // not owned; set while held
  std::string name_;
  int mode_ = 0;
  bool held_ = false;
};

// Advisory lock spaces (the first of the two keys; the second is the
// hashed schema.table name).
inline constexpr int kReadLockSpace = 0x56454c31;   // "VEL1"
inline constexpr int kWriteLockSpace = 0x56454c32;  // "VEL2"
inline constexpr int kTransactionLockSpace = 0x56454c33;  // "VEL3": a transaction writing the table

}  // namespace rt::postgres
