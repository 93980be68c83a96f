// Window layouts as data. A WindowResource describes a window the way a
// designer laid it out: caption, font, size in dialog units and its controls.
// It is plain static data; Window (window.h) builds the runtime window from it
// and never changes it.
//
// Dialog units: a quarter of the font's average character width horizontally
// and an eighth of its height vertically; backends map them to pixels or cells.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/windows/bound_variable.h"

namespace rt {

// Control kinds; the number is what PropType reports.
enum class ControlKind : int {
  Text = 1,       // static text
  Prompt = 2,     // label in front of an entry
  Image = 3,      // icon or picture
  Panel = 4,      // background box
  Entry = 8,      // one-line text entry, read under its picture when accepted
  Check = 9,      // check box
  Line = 10,      // separator line
  Button = 12,
  Group = 13,     // framed group containing other controls
  Combo = 14,     // drop-down list with an entry
  Progress = 15,  // progress bar over a range
  List = 37,      // multi-column list fed by a row source
};

// Kinds that can take the focus (when shown and enabled).
bool TakesFocus(ControlKind kind);


struct Rect {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct FontResource {
  std::string Face;
  int Size = 0;   // points
  int Style = 0;  // weight plus style bits, as PropFontStyle
};

struct ControlResource {
  int Number = 0;          // 1.., unique in the window
  std::string Label;       // "?LASTDATE"
  ControlKind Kind = ControlKind::Text;
  Rect Position;           // relative to the window's inner area
  std::string Text;        // caption of buttons, prompts, texts; initial entry text
  std::string Icon;        // icon name ("CANCEL.ICO") or stock icon code
  std::string Tip;
  std::string StatusText;
  std::string Picture;     // "D02B", "n2", "P##P"... for bound and entry controls
  int RangeLow = 0;        // progress bars
  int RangeHigh = 100;
  BoundVariable Use;       // bound variable, or none
  std::string ListFormat;  // list columns, see ListColumns()
  char Align = 'L';        // text of texts, prompts and entries: 'L'eft, 'C'entre or 'R'ight
  bool Hidden = false;
  bool Disabled = false;
  bool Default = false;    // button pressed by Enter on a non-button control
  bool Immediate = false;  // button acts without reading an edited entry first (Cancel)
};

// A control as every layout starts one: its number, label, kind, place and
// text; the caller sets the rest (icon, tip, picture, flags).
ControlResource MakeControl(int number, std::string label, ControlKind kind, Rect at = {},
                            std::string text = {});

struct WindowResource {
  std::string Name;        // "QUICKWINDOW"
  std::string Caption;
  FontResource Font;
  int Width = 0;           // inner size, dialog units
  int Height = 0;
  int X = 0;               // designed position; 0,0 lets the backend centre it
  int Y = 0;
  bool Resizable = false;
  int Timer = 0;           // initial PropTimer
  std::vector<ControlResource> Controls;

  const ControlResource* Find(int number) const;
  const ControlResource* Find(std::string_view label) const;  // label matched without regard to case
  // "" when the layout is usable, else what is wrong with it (duplicate or
  // non-positive control numbers, empty name, negative sizes, a range with
  // low above high).
  std::string Check() const;
};

// One column of a list format such as "217L(2)|M~Message~S(255)@s255@": width,
// alignment letter and header. Columns end with their "@picture@".
struct ListColumn {
  int Width = 0;
  char Align = 'L';
  std::string Header;
  std::string Picture;
};
std::vector<ListColumn> ListColumns(std::string_view format);

}  // namespace rt
