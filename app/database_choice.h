// Where the program's KEYED files live: in SQLite files in data/ (the
// default), or as tables on a PostgreSQL server when a connection is given,
// first found of
//   veltrane --database CONN
//   the environment variable VELTRANE_DATABASE
//   Server= in the [Database] section of Veltrane.INI
// CONN is a libpq connection string or URI ("host=db1 dbname=punches",
// "postgresql://clerk@db1/punches"); libpq's own conventions (PGHOST,
// PGUSER, ~/.pgpass, sslmode, service files) apply on top. The connection is
// tried once before anything else runs, giving up after
// rt::postgres::kConnectTimeoutSeconds unless it sets its own
// connect_timeout, so a bad or unreachable server is one line, never a hang.
// A password is never shown.
#pragma once

#include <string>

namespace app {

inline constexpr const char* kDatabaseVariable = "VELTRANE_DATABASE";

// The connection chosen from the command line's value (empty when none was
// given), the environment and the settings file; empty for SQLite files. A
// value of blanks only counts as not given, wherever it stands.
std::string ChosenDatabase(const std::string& fromCommandLine);

// Chooses as ChosenDatabase does and sends the program's KEYED files there.
// False, with one line in `error` (the server's text, the host and the
// database, no password), when the server cannot be reached.
bool UseDatabase(const std::string& fromCommandLine, std::string& error);

}  // namespace app
