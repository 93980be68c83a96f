// Event numbers and key codes of the window runtime.
//
// The numbers are part of the runtime's contract with the framework: window
// procedures switch on CurrentEvent() and compare with these constants.
// Events on a control carry its number (EventControl()); window events carry 0.
#pragma once

namespace rt {

// Control events.
inline constexpr int EventAccepted = 0x01;      // a control was accepted (button pressed, entry read)
inline constexpr int EventNewSelection = 0x02;  // a list's selected row changed
inline constexpr int EventAlertKey = 0x0F;      // an alert key was pressed; KeyCode() tells which
inline constexpr int EventRejected = 0x1A;      // entry text that the control's picture cannot read
inline constexpr int EventSelected = 0x101;     // focus moved onto the control

// Window events.
inline constexpr int EventCloseWindow = 0x201;  // the window is asked to close
inline constexpr int EventCloseDown = 0x202;    // the session is ending
inline constexpr int EventOpenWindow = 0x203;   // first event after the window opened
inline constexpr int EventLoseFocus = 0x205;    // another window came on top of this one
inline constexpr int EventGainFocus = 0x206;    // the window is the topmost again
inline constexpr int EventNotify = 0x20A;       // a notification arrived (see Notification)
inline constexpr int EventTimer = 0x20B;        // the window timer (PropTimer) ticked
inline constexpr int EventCompleted = 0x225;    // Select(0) accepted every control
inline constexpr int EventSized = 0x231;        // the window got its size (after opening, after a resize)
inline constexpr int EventMaximized = 0x232;    // the window was maximised
inline constexpr int EventRestored = 0x233;     // the window left the maximised or minimised state
inline constexpr int EventLayoutRequest = 0x3FF;  // posted by the framework: lay the controls out now

// Key codes (KeyCode, SetKeyCode, PressKey, Alert, PropAlertKey).
inline constexpr int KeyPointer = 2;         // a control was clicked
inline constexpr int KeyPointerDouble = 130; // a control was double-clicked
inline constexpr int KeyTab = 9;
inline constexpr int KeyShiftTab = 0x100 | KeyTab;  // Shift held adds 0x100
inline constexpr int KeyEnter = 13;
inline constexpr int KeyEscape = 27;
inline constexpr int KeyPageUp = 33;
inline constexpr int KeyPageDown = 34;
inline constexpr int KeyEnd = 35;
inline constexpr int KeyHome = 36;
inline constexpr int KeyLeft = 37;
inline constexpr int KeyUp = 38;
inline constexpr int KeyRight = 39;
inline constexpr int KeyDown = 40;

}  // namespace rt
