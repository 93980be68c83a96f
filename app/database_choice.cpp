#include "app/database_choice.h"

#include <cstdlib>

#include "app/globals.h"
#include "runtime/core/text.h"
#include "runtime/ini/ini_file.h"
#include "runtime/postgres/server_connection.h"

namespace app {

// A value of blanks only names no server: libpq would take it as a
// connection that asks for nothing and connect to its own defaults.
std::string ChosenDatabase(const std::string& fromCommandLine) {
  if (!rt::IsBlank(fromCommandLine)) return fromCommandLine;
  if (const char* variable = std::getenv(kDatabaseVariable); variable && !rt::IsBlank(variable))
    return variable;
  std::string fromSettings = rt::GetIni("Database", "Server", "", kSettingsFile);
  return rt::IsBlank(fromSettings) ? std::string() : fromSettings;
}

bool UseDatabase(const std::string& fromCommandLine, std::string& error) {
  const std::string connection = ChosenDatabase(fromCommandLine);
  if (!connection.empty()) {
    error = rt::postgres::CheckServer(connection);
    if (!error.empty()) return false;
  }
  rt::postgres::SetServer(connection);
  return true;
}

}  // namespace app
