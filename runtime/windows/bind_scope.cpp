#include "runtime/windows/bind_scope.h"

#include <map>
#include <string>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/core/text.h"

namespace rt {
namespace {

struct Scope {
  bool keepOuter = true;
  std::map<std::string, BoundVariable> names;  // upper-cased
};

std::vector<Scope>& Scopes() {
  thread_local std::vector<Scope> scopes;
  return scopes;
}

std::string Key(std::string_view name) { return UpperCase(name); }

}  // namespace

void PushBind(int keepOuter) { Scopes().push_back({keepOuter != 0, {}}); }

void PopBind() {
  if (!Scopes().empty()) Scopes().pop_back();
}

int Bind(std::string_view name, const BoundVariable& variable) {
  if (Scopes().empty() || name.empty()) {
    SetError(kBadRequest);
    return kBadRequest;
  }
  Scopes().back().names[Key(name)] = variable;
  ClearError();
  return 0;
}

BoundVariable BoundName(std::string_view name) {
  const std::string key = Key(name);
  auto& scopes = Scopes();
  for (auto it = scopes.rbegin(); it != scopes.rend(); ++it) {
    auto found = it->names.find(key);
    if (found != it->names.end()) return found->second;
    if (!it->keepOuter) break;
  }
  return {};
}

int BindDepth() { return static_cast<int>(Scopes().size()); }

}  // namespace rt
