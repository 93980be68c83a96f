// The KEYED driver on a PostgreSQL server (see keyed_driver.cpp), used in
// place of the SQLite files when a server is chosen (server_connection.h).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "runtime/files/driver.h"

namespace rt {

class File;

namespace postgres {

// A closed handle for `file` (not owned; it outlives the handle), on the
// server SetServer chose.
std::unique_ptr<Driver> MakeKeyedDriver(File& file);

// Whether the server holds the table of the disk file `path` (its stem) in
// the connection's schema; false when the server cannot be reached.
bool HasTable(std::string_view path);
// Why the server shows no table for the disk file `path`, in one line for
// the operator (the table, the schema, the role's missing privilege, the
// server); empty when the table is there.
std::string MissingTable(std::string_view path);

// Empty when CheckIntegrity has the server's own check of pages and indexes
// (the amcheck extension, usable by the connection's role); otherwise why not,
// for the user: CheckIntegrity then finds nothing wrong at that level.
std::string PageCheckMissing();

}  // namespace postgres
}  // namespace rt
