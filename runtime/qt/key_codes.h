// Desktop keys as the runtime's key codes (events.h): Tab 9, Enter 13,
// Escape 27, the arrows 37..40, and so on for the keys a window may take as
// alert keys. A key held with Ctrl, Alt or Meta has no code.
#pragma once

class QKeyEvent;

namespace rt {

// The key's code, or 0 when it has none.
int RuntimeKeyCode(const QKeyEvent& event);

}  // namespace rt
