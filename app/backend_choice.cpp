#include "app/backend_choice.h"

#include <cstdlib>
#include <utility>

#include "runtime/terminal/terminal_backend.h"

namespace app {
namespace {

// The backends this program can show windows on, in the order the choice
// tries them. Used on the user-interface thread only, before any window.
std::vector<BackendEntry>& Backends() {
  static std::vector<BackendEntry> backends = {
      {"terminal", [] { return true; }, rt::MakeTerminalBackend},
  };
  return backends;
}

}  // namespace

void AddBackend(BackendEntry entry) {
  Backends().insert(Backends().begin(), std::move(entry));
}

bool DisplaySet() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* value = std::getenv(name); value && *value) return true;
  return false;
}

std::vector<std::string> BackendNames() {
  std::vector<std::string> names;
  for (const BackendEntry& entry : Backends()) names.push_back(entry.Name);
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
  std::string displayProblem;
  for (const BackendEntry& entry : Backends()) {
    if (!entry.Available()) continue;
    std::string why;
    if (auto backend = entry.Make(why)) return backend;
    // The terminal's reason says only that this is no terminal.
    if (displayProblem.empty() && entry.Name != "terminal") displayProblem = why;
  }
  error = displayProblem.empty()
              ? "no display and no terminal to show the cut-off dialog on"
              : displayProblem + ", and no terminal to show the cut-off dialog on instead";
  return nullptr;
}

}  // namespace app
