// Choosing Qt's platform before Qt starts. Qt ends the process when its
// platform plugin cannot start (no display, no plugin, a plugin that does not
// load), so the backend checks the same things first and reports them in one
// sentence instead.
#pragma once

#include <functional>
#include <string>

namespace rt {

// Picks the platform Qt will use: the first usable entry of QT_QPA_PLATFORM
// (a ';'-separated list), else Wayland when a Wayland session answers and its
// plugin is installed, else X11. Checks that the plugin is installed and
// loads and that the display answers, sets QT_QPA_PLATFORM to the choice so
// Qt takes the same one, and calls start (which makes the QApplication).
// Returns "" when it called start, else why Qt cannot start.
//
// The connection that checked the display stays open while start runs: an X
// server whose last client leaves resets itself, and Qt connecting during
// that reset would end the process.
std::string StartQtPlatform(const std::function<void()>& start);

}  // namespace rt
