// Name-binding scopes: names that expressions evaluated by the runtime may
// refer to, bound to program variables. A window procedure opens a scope for
// its lifetime (PushBind) and closes it when it ends (PopBind), so names bound
// for one window never leak into the next. Per thread.
#pragma once

#include <string_view>

#include "runtime/windows/bound_variable.h"

namespace rt {

// Opens a scope. With keepOuter nonzero the names of enclosing scopes stay
// visible; with 0 the new scope starts empty.
void PushBind(int keepOuter = 1);
// Closes the innermost scope; does nothing when none is open.
void PopBind();
// Binds a name (without regard to case) in the innermost scope; kBadRequest
// when no scope is open or the name is empty.
int Bind(std::string_view name, const BoundVariable& variable);
// The variable a name is bound to, or an unbound variable.
BoundVariable BoundName(std::string_view name);
// Number of open scopes of the calling thread.
int BindDepth();

}  // namespace rt
