// A transaction on the calling thread's server connection begun before any
// file joins it, for work over many tables that is seen whole or not at all:
//   Kind::Snapshot  REPEATABLE READ, READ ONLY: every read through the
//                   thread's handles, on any table, sees one state of the
//                   server until the transaction ends.
//   Kind::Writing   the tables FileCreate makes meanwhile belong to it, with
//                   everything written through the thread's handles: Commit
//                   makes all of it visible at once; any other end (Rollback,
//                   the destructor, a lost connection, a killed process)
//                   leaves the server as it was, the new tables gone too.
// A TxBegin over the thread's server files joins it, and TxCommit or
// TxRollback end it as they end any transaction of those files.
// Belongs to the thread that began it.
#pragma once

#include <memory>
#include <string>

namespace rt::postgres {

class Connection;

class ServerTransaction {
 public:
  enum class Kind { Snapshot, Writing };

  ServerTransaction() = default;
  ServerTransaction(const ServerTransaction&) = delete;
  ServerTransaction& operator=(const ServerTransaction&) = delete;
  // Rolls back what is still open.
  ~ServerTransaction();

  // Connects to the chosen server (SetServer) and begins. Empty when begun,
  // otherwise why not: the server's text, the host and the database.
  std::string Begin(Kind kind);
  // Empty when everything done in it is on the server; otherwise why not,
  // and nothing is.
  std::string Commit();
  void Rollback();

 private:
  std::shared_ptr<Connection> conn_;  // held, so handles closing keep it
};

}  // namespace rt::postgres
