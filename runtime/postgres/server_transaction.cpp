#include "runtime/postgres/server_transaction.h"

#include "runtime/core/error_state.h"
#include "runtime/postgres/server_connection.h"

namespace rt::postgres {

ServerTransaction::~ServerTransaction() { Rollback(); }

std::string ServerTransaction::Begin(Kind kind) {
  int code = kNoError;
  std::string error;
  conn_ = Connection::ForThread(code, error);
  if (!conn_) return error;
  if (conn_->InTransaction()) {
    conn_.reset();
    return "a transaction is already open on this thread's server connection";
  }
  if (conn_->Begin(kind == Kind::Snapshot) != kNoError) {
    error = conn_->Error();
    conn_.reset();
  }
  return error;
}

std::string ServerTransaction::Commit() {
  if (!conn_) return "no transaction to commit";
  std::string error;
  if (conn_->Commit() != kNoError) {
    error = conn_->Error();
    conn_->Rollback();
  }
  conn_.reset();
  return error;
}

void ServerTransaction::Rollback() {
  if (conn_) conn_->Rollback();
  conn_.reset();
}

}  // namespace rt::postgres
