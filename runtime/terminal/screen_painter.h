// Draws runtime windows and message boxes on the terminal with ncurses.
//
// Geometry: a window is a framed box centred on the screen with its caption
// in the top border. Its inner area keeps the resource's size at 4 horizontal
// and 8 vertical dialog units per cell; a window up to a tenth too large for
// the screen is squeezed to fit, a larger one is not drawn (the caller shows a
// notice instead). Controls that hold one line of text sit on the row of their
// vertical centre, so controls laid out 1.75 cells apart never share a row.
//
// Every paint draws the whole screen from the model (ncurses sends only what
// changed), and records where each control landed for mouse clicks.
//
// Texts are Latin-1, one byte a character, as the runtime holds them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/windows/backend.h"
#include "runtime/windows/window.h"

namespace rt {

struct CellRect {
  int Row = 0;
  int Col = 0;
  int Rows = 0;
  int Cols = 0;
  bool Contains(int row, int col) const {
    return row >= Row && row < Row + Rows && col >= Col && col < Col + Cols;
  }
};

// Where a window goes on the screen and where its controls land in it.
struct Placement {
  bool Fits = false;
  CellRect Frame;  // the border, with a blank column inside it left and right
  CellRect Inner;
  int ColUnits = 4;  // dialog units across Inner.Cols cells: 4 a cell, more when squeezed
  int RowUnits = 8;  // dialog units down Inner.Rows cells
  int WantRows = 0;  // the size the window needs, border included
  int WantCols = 0;
  // Rows of the window's lines of text: (vertical centre in half dialog
  // units, inner row), in order. Empty: rows are proportional.
  std::vector<std::pair<int, int>> Lines;

  // Gives the lines of text (controls that hold one line, by their centres in
  // half dialog units) their rows: each line is as many rows below the one
  // above as its distance rounds to, so a grid of controls 1.75 rows apart is
  // drawn evenly, two rows apart. Stays proportional when that would not fit.
  void SpaceLines(std::vector<int> centres);
  // The inner row of a height in half dialog units.
  int RowOf(int halfUnits) const;
  // The cells of a control's rectangle; one line of text sits on its centre row.
  CellRect Map(const Rect& r, bool oneLine) const;
};
Placement PlaceWindow(int width, int height, int screenRows, int screenCols);

// The text of a label without its "&" marks, and the position of the marked
// letter (-1 when none). "&&" stands for one "&".
std::string LabelText(std::string_view text, int* marked = nullptr);
// The marked letter in upper case, 0 when none.
char Accelerator(std::string_view text);

// What the terminal keeps per window besides the model: entry cursors, list
// scrolling, and where the controls landed at the last paint.
struct WindowView {
  struct EntryEdit {
    int Cursor = 0;
    bool Fresh = true;  // focus just arrived: typing replaces the text
  };
  struct Hit {
    int Control = 0;
    CellRect Cells;
  };
  const Window* Model = nullptr;
  int LastFocus = -1;
  std::map<int, EntryEdit> Entries;
  std::map<int, int> ListTop;  // first row shown, 1-based
  Placement Place;
  std::vector<Hit> Hits;  // in drawing order; the last hit drawn is on top
  std::optional<Rect> FitAsked;  // the size the window was last asked to take to fit the screen
  // The list row at a screen row (0 on the header or below the rows).
  int ListRowAt(int control, int row) const;
};

// A message box as drawn: its buttons in screen cells.
struct MessageBoxView {
  std::vector<int> Buttons;  // values, left to right
  std::vector<CellRect> Cells;
  int Focus = 0;     // index into Buttons
  int WantRows = 0;  // the size the box needs, border included
  int WantCols = 0;
};

// Drawing with the terminal's colours when it has them.
class ScreenPainter {
 public:
  // After the screen library has started.
  void Start();
  void Clear();
  // Draws one window; active marks the focused control and places the cursor.
  void PaintWindow(WindowView& view, bool active);
  // The one-line notice of a screen too small for the window in front.
  void PaintTooSmall(int needRows, int needCols);
  // Draws a message box over the screen; false when it does not fit.
  bool PaintMessageBox(const MessageBoxRequest& request, MessageBoxView& view);
  // Shows the cursor where the last paint left it wanted, or hides it.
  void Finish();

  static std::string ButtonName(int button);

 private:
  int Pair(int fg, int bg);
  void Fill(const CellRect& cells, int attr);
  void Frame(const CellRect& frame, std::string_view title, std::string_view status, int attr);
  void Put(int row, int col, std::string_view text, int attr, const CellRect& clip);
  void PutWide(int row, int col, const wchar_t* text, int length, int attr, const CellRect& clip);
  void PaintControl(WindowView& view, const ControlState& c, bool focused, const CellRect& cells);
  void PaintProgress(const ControlState& c, const CellRect& cells, const CellRect& clip);
  void PaintList(WindowView& view, const ControlState& c, bool focused, const CellRect& cells);
  void PaintEntry(WindowView& view, const ControlState& c, bool focused, const CellRect& cells);
  int TextAttr(const ControlState& c);

  bool colors_ = false;
  bool unicode_ = false;
  std::map<int, int> pairs_;  // fg * 16 + bg -> pair number
  int cursorRow_ = -1, cursorCol_ = -1;
};

}  // namespace rt
