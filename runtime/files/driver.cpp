#include "runtime/files/driver.h"

#include <map>
#include <mutex>

#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/postgres/keyed_driver.h"
#include "runtime/postgres/server_connection.h"
#include "runtime/sqlite/keyed_driver.h"
#include "runtime/text/ascii_driver.h"

namespace rt {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, DriverFactory> factories;  // by upper-case name; guarded by mutex
};

// The built-in drivers are entered here rather than by static registration in
// their own files, which a static library link would drop.
Registry& Drivers() {
  static Registry registry;
  static std::once_flag builtIn;
  std::call_once(builtIn, [] {
    // KEYED files live on the server when one is chosen, else in SQLite files.
    registry.factories["KEYED"] = [](File& file) {
      return postgres::Server().empty() ? MakeKeyedDriver(file) : postgres::MakeKeyedDriver(file);
    };
    registry.factories["ASCII"] = [](File& file) { return MakeAsciiDriver(file); };
  });
  return registry;
}

}  // namespace

int Driver::BeginTransaction(int) { return kNoTransactions; }
int Driver::CommitTransaction() { return kNoTransactions; }
int Driver::RollbackTransaction() { return kNoTransactions; }

std::unique_ptr<ViewCursor> Driver::OpenView(ViewQuery, int& code) {
  code = kBadRequest;
  return nullptr;
}

std::unique_ptr<Driver> MakeDriver(std::string_view name, File& file) {
  DriverFactory factory;
  {
    auto& registry = Drivers();
    std::lock_guard lock(registry.mutex);
    auto it = registry.factories.find(UpperCase(name));
    if (it == registry.factories.end()) return nullptr;
    factory = it->second;
  }
  return factory(file);
}

void RegisterDriver(std::string name, DriverFactory factory) {
  auto& registry = Drivers();
  std::lock_guard lock(registry.mutex);
  registry.factories[UpperCase(name)] = std::move(factory);
}

}  // namespace rt
