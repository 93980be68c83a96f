// SelectLastDate: the cut-off dialog "Purge Punches Through". It asks for the
// last duty date to purge and leaves it in LastDate (purge_variables.h); the
// date entry is bound to LastDate, so whatever the entry accepts is stored at
// once. The calendar button opens the calendar picker on the entry's date
// and, when a day is chosen, shows it in the entry at once and puts the focus
// on OK. A date the entry cannot read stays as typed, with the focus, and
// the entry says "Type a date as MM/DD/YYYY" (window.h, TypingHint).
//
// OK is refused while the date lies in 2024 or later: a message says so and
// the focus goes back to the entry. The rule is tested on OK only, so a date
// chosen in the calendar is checked when OK is pressed.
//
// The window's response goes to GlobalResponse: RequestCompleted for OK,
// RequestCancelled for Cancel and the close box. The window's placement is
// kept under "SelectLastDate" in the settings file.
//
// Threading: the user-interface thread, as a modal window over whatever is open.
#pragma once

namespace app {

// Runs the dialog; returns when it is closed.
void SelectLastDate();

}  // namespace app
