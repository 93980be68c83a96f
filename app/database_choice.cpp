#include "app/database_choice.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "app/globals.h"
#include "runtime/ini/ini_file.h"
#include "runtime/postgres/server_connection.h"

namespace app {

namespace {

// A value of blanks only names no server: libpq would take it as a
// connection that asks for nothing and connect to its own defaults.
bool Given(std::string_view value) {
  return std::any_of(value.begin(), value.end(),
                     [](unsigned char c) { return !std::isspace(c); });
}

}  // namespace

std::string ChosenDatabase(const std::string& fromCommandLine) {
  if (Given(fromCommandLine)) return fromCommandLine;
  if (const char* variable = std::getenv(kDatabaseVariable); variable && Given(variable))
    return variable;
  std::string fromSettings = rt::GetIni("Database", "Server", "", kSettingsFile);
  return Given(fromSettings) ? fromSettings : std::string();
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
