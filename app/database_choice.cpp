#include "app/database_choice.h"

#include <cstdlib>

#include "app/globals.h"
#include "runtime/ini/ini_file.h"
#include "runtime/postgres/server_connection.h"

namespace app {

std::string ChosenDatabase(const std::string& fromCommandLine) {
  if (!fromCommandLine.empty()) return fromCommandLine;
  if (const char* variable = std::getenv(kDatabaseVariable); variable && *variable) return variable;
  return rt::GetIni("Database", "Server", "", kSettingsFile);
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
