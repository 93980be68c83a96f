#include "app/backend_choice.h"

#include <functional>

#include "runtime/terminal/terminal_backend.h"

namespace app {
namespace {

struct BackendEntry {
  const char* Name;
  // True when the backend is worth trying without being asked for.
  std::function<bool()> Available;
  std::function<std::unique_ptr<rt::Backend>(std::string& error)> Make;
};

// The backends built into this program, in the order the choice tries them.
const std::vector<BackendEntry>& Backends() {
  static const std::vector<BackendEntry> backends = {
      {"terminal", [] { return true; }, rt::MakeTerminalBackend},
  };
  return backends;
}

}  // namespace

std::vector<std::string> BackendNames() {
  std::vector<std::string> names;
  for (const BackendEntry& entry : Backends()) names.emplace_back(entry.Name);
  names.emplace_back("headless");
  return names;
}

std::unique_ptr<rt::Backend> MakeBackend(std::string_view name, std::string& error) {
  for (const BackendEntry& entry : Backends())
    if (name == entry.Name) return entry.Make(error);
  error = "there is no backend called '" + std::string(name) + "' in this program";
  return nullptr;
}

std::unique_ptr<rt::Backend> ChooseBackend(std::string& error) {
  for (const BackendEntry& entry : Backends()) {
    if (!entry.Available()) continue;
    std::string why;
    if (auto backend = entry.Make(why)) return backend;
  }
  error = "no display and no terminal to show the cut-off dialog on";
  return nullptr;
}

}  // namespace app
