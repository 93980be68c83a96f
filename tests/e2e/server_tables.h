// The data files' tables on a PostgreSQL server, for the whole-program tests
// that purge on a server.
#pragma once

#include <string>

#include "app/schema.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/postgres/server_connection.h"

namespace e2e {

// Every data file's table, empty, in the documented form on the server
// `connection` names, made by the runtime as the data tool makes its files.
// The error, empty when every table was made.
inline std::string MakeServerTables(const std::string& connection) {
  rt::postgres::SetServer(connection);
  std::string error;
  for (const rt::FileDeclaration* decl : app::AllFiles()) {
    if (decl == &app::AliasTimeCardFile()) continue;
    rt::File file(*decl);
    rt::FileCreate(file);
    if (rt::ErrorCode() != 0) {
      error = std::string(decl->Label()) + ": " + rt::FileErrorText();
      break;
    }
  }
  rt::postgres::SetServer("");
  return error;
}

}  // namespace e2e
