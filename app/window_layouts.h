// The program's own windows, as resources: the purge's progress window and
// the cut-off dialog. Sizes and positions are dialog units (window_resource.h);
// every backend draws them from these same resources.
#pragma once

#include <cstdint>

#include "runtime/windows/window_resource.h"

namespace app {

// Controls of the progress window "PROGRESSWINDOW".
namespace progress {
inline constexpr int kThermometer = 1;  // progress bar 0..100
inline constexpr int kUserString = 2;   // text, empty at start
inline constexpr int kPercentText = 3;  // "0% Completed", then the processor's percentage
inline constexpr int kCancel = 4;       // ends the run
}  // namespace progress

// Controls of the cut-off dialog "QUICKWINDOW".
namespace cutoff {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kHelp = 3;
inline constexpr int kLastDatePrompt = 4;
inline constexpr int kLastDate = 5;  // date entry, picture "D02B"
inline constexpr int kCalendar = 6;  // opens the calendar picker
}  // namespace cutoff

// "Process Timecard", 142 x 59: the thermometer bound to `thermometer` (not
// owned; it must outlive every window made from the resource).
rt::WindowResource ProgressWindowResource(std::uint8_t* thermometer);

// "Purge Punches Through", 260 x 94, resizable: the date entry bound to
// `lastDate` (not owned, as above).
rt::WindowResource CutoffDialogResource(std::int32_t* lastDate);

}  // namespace app
