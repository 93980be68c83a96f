// Icons by the names layouts give them. The names of the common buttons map
// to the desktop style's standard pictures, so they look native wherever the
// program runs; the calendar's navigation arrows are drawn in the style's
// button text colour; stock icon codes
// (message_box.h) map to the style's message icons; any other name is a
// picture file read from disk ('\' separators allowed). An unknown name gives
// a null icon, and the control shows its text alone.
#pragma once

#include <QIcon>

#include <string_view>

class QStyle;

namespace rt {

QIcon ControlIcon(std::string_view name, const QStyle& style);

}  // namespace rt
