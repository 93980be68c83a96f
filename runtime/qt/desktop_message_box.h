// Message boxes on the desktop: the runtime's request shown as a modal box
// with the platform style's buttons and message icons.
#pragma once

#include <string>

#include "runtime/windows/backend.h"

class QWidget;

namespace rt {

// Shows the request over parent (may be null) until a button is pressed;
// returns that button's value, or 0 when the box was closed without one.
int ShowDesktopMessageBox(const MessageBoxRequest& request, QWidget* parent);

// Shows the text a halt ends the program with, with one OK button.
void ShowDesktopHalt(const std::string& text, QWidget* parent);

}  // namespace rt
