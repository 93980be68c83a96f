// Property numbers of windows and controls (GetProperty, SetProperty,
// SetPropertyValue). Control 0 names the window itself.
//
// Properties the runtime does not interpret are still stored per window or
// control and read back unchanged, so the framework may keep flags of its own
// there (for example the layout flags below, which only the resizer reads).
#pragma once

namespace rt {

// Window and control.
inline constexpr int PropText = 0x7C00;        // window title or control text
inline constexpr int PropType = 0x7C01;        // control kind (ControlKind); read-only
inline constexpr int PropXPos = 0x7C02;        // position and size, in dialog units
inline constexpr int PropYPos = 0x7C03;
inline constexpr int PropWidth = 0x7C04;
inline constexpr int PropHeight = 0x7C05;
inline constexpr int PropFontColor = 0x7C12;   // text colour, 0x00BBGGRR
inline constexpr int PropFontStyle = 0x7C13;   // weight (100..900) plus the style bits below
inline constexpr int PropHide = 0x7C65;        // 1 hidden, 0 shown
inline constexpr int PropIconized = 0x7C69;    // window minimised
inline constexpr int PropQuietField = 0x7C6A;  // framework flag: events on it need no refresh
inline constexpr int PropMaximized = 0x7C6F;   // window maximised
inline constexpr int PropTimer = 0x7C86;       // window timer interval, hundredths of a second; 0 stops
inline constexpr int PropThread = 0x7C95;      // thread number that owns the window; read-only
inline constexpr int PropActive = 0x7C97;      // set 1 to bring the window forward
inline constexpr int PropNoReset = 0x7C9A;     // framework flag: resets do nothing
inline constexpr int PropAlertKey = 0x7D06;    // setting adds a key code to the alert keys
inline constexpr int PropUse = 0x7A10;         // the bound variable (PropertyValue holds a BoundVariable)

// Style bits of PropFontStyle, above the weight.
inline constexpr int FontStyleWeightMask = 0x0FFF;
inline constexpr int FontStyleItalic = 0x1000;
inline constexpr int FontStyleUnderline = 0x2000;
inline constexpr int FontStyleStrikeOut = 0x4000;

// Layout (window).
inline constexpr int PropNextControl = 0x7D0B;   // index = previous control (0 to start); 0 at the end
inline constexpr int PropClientWidth = 0x7A4F;   // inner width and height
inline constexpr int PropClientHeight = 0x7A50;
inline constexpr int PropMinWidth = 0x7CAD;      // 0 = no limit
inline constexpr int PropMinHeight = 0x7CAE;
inline constexpr int PropMaxWidth = 0x7CAF;
inline constexpr int PropMaxHeight = 0x7CB0;
inline constexpr int PropDeferMoves = 0x7CBD;    // > 0: control moves wait; set <= 0 to show them

// Layout (control); stored for the resizer.
inline constexpr int PropParent = 0x7A07;          // containing control, 0 = the window
inline constexpr int PropNoResize = 0x7A19;        // nonzero: the resizer leaves the control alone
inline constexpr int PropComboAsEntry = 0x7C60;    // nonzero: lay a combo box out as an entry
inline constexpr int PropLayoutChildren = 0x7C63;  // nonzero: always lay the children out
inline constexpr int PropKeepWidth = 0x7A40;       // nonzero: moves keep the width
inline constexpr int PropKeepHeight = 0x7A41;      // nonzero: moves keep the height

// The runtime's own properties.
inline constexpr int PropResizable = 0x7E01;   // window can be resized by the user
inline constexpr int PropFont = 0x7E02;        // "face,size" of the window or control
inline constexpr int PropIcon = 0x7E03;        // icon name or stock icon code
inline constexpr int PropTip = 0x7E04;
inline constexpr int PropStatusText = 0x7E05;
inline constexpr int PropPicture = 0x7E06;     // display picture of a bound control
inline constexpr int PropDefault = 0x7E07;     // button pressed by Enter on a non-button control
inline constexpr int PropItems = 0x7E08;       // list: number of rows
inline constexpr int PropFormat = 0x7E09;      // list: column format
inline constexpr int PropSelected = 0x7E0A;    // list: selected row (1-based, 0 none)
inline constexpr int PropColumns = 0x7E0B;     // list: number of columns; read-only
inline constexpr int PropRangeLow = 0x7E0C;    // progress bar range
inline constexpr int PropRangeHigh = 0x7E0D;
inline constexpr int PropValue = 0x7E0E;       // progress bar position (from its variable on Display)
inline constexpr int PropDisable = 0x7E0F;     // control disabled
inline constexpr int PropCell = 0x7E10;        // list: index = row * 256 + column; read-only
inline constexpr int PropFocus = 0x7E11;       // window: the focused control; setting it is Select

}  // namespace rt
