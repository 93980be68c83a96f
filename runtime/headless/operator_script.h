// Operator scripts: the input a person at the keyboard would give, one step a
// line, for the headless backend.
//
//   # a comment; blank lines are skipped
//   expect QUICKWINDOW          the topmost window must be this one (checked when the step is reached)
//   type ?LASTDATE 12/31/2023   edit a control's text (the rest of the line; "quotes" keep blanks)
//   accept ?OK                  click a button / confirm a control (label or number)
//   key Enter                   a key by name (Tab Enter Escape Left Up Right Down) or code
//   select ?LIST 3              choose a list row
//   close                       the window's close box
//   closedown                   the session ends
//   double ?LIST                double-click a control
//   resize 300 120 | move 10 20 | maximize | minimize | restore
//   wait 500                    let 500 ms of window time pass (timers tick meanwhile)
//   answer Yes                  the answer to the next message box (Ok Yes No Abort Retry
//                               Ignore Cancel Help, a button value, or Default)
//
// Controls are named by label ("?OK", without regard to case) or number.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rt {

struct ScriptStep {
  enum class Kind {
    Expect, Type, Accept, DoubleClick, Key, Select, Close, CloseDown, Resize, Move, Maximize, Minimize, Restore,
    Wait, Answer
  };
  Kind What = Kind::Close;
  std::string Control;  // label or number as text
  std::string Text;     // Type: the text; Expect: the window name
  int Value = 0;        // key code, row, wait ms, answer (0 = the default button), width or x
  int Value2 = 0;       // height or y
  int Line = 0;         // 1-based line in the script, 0 for steps queued by code
};

// Parses a whole script. On failure returns false, leaves steps unchanged and
// says which line is wrong and why in error.
bool ParseOperatorScript(std::string_view text, std::vector<ScriptStep>& steps, std::string& error);

// One line of a step, for transcripts ("accept ?OK").
std::string DescribeStep(const ScriptStep& step);

// The name an answer step uses for a button value ("Yes"); the number for
// anything that is not one button.
std::string ButtonName(int button);

}  // namespace rt
