#include "runtime/terminal/screen_painter.h"

#define NCURSES_WIDECHAR 1
#define NCURSES_NOMACROS 1
#include <curses.h>
#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/core/text.h"
#include "runtime/windows/bound_variable.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/properties.h"

namespace rt {
namespace {

// The desktop behind the windows, the windows, and their entry fields.
constexpr int kScreenBg = COLOR_BLUE;
constexpr int kWindowBg = COLOR_WHITE;
constexpr int kFieldBg = COLOR_CYAN;

// Controls drawn on a single row, whatever their height.
bool OneLine(ControlKind kind) {
  switch (kind) {
    case ControlKind::List:
    case ControlKind::Group:
    case ControlKind::Panel:
    case ControlKind::Image: return false;
    default: return true;
  }
}

CellRect Intersect(const CellRect& a, const CellRect& b) {
  const int top = std::max(a.Row, b.Row), left = std::max(a.Col, b.Col);
  const int bottom = std::min(a.Row + a.Rows, b.Row + b.Rows),
            right = std::min(a.Col + a.Cols, b.Col + b.Cols);
  return {top, left, std::max(0, bottom - top), std::max(0, right - left)};
}

CellRect ScreenCells() { return {0, 0, LINES, COLS}; }

// The nearest of the eight terminal colours to 0x00BBGGRR.
int NearestColor(int bgr) {
  const int r = bgr & 0xFF, g = (bgr >> 8) & 0xFF, b = (bgr >> 16) & 0xFF;
  return (r > 0x60 ? COLOR_RED : 0) | (g > 0x60 ? COLOR_GREEN : 0) | (b > 0x60 ? COLOR_BLUE : 0);
}

// Weight 600 and up is bold.
int StyleAttr(int style) {
  int attr = 0;
  if ((style & FontStyleWeightMask) >= 600) attr |= A_BOLD;
  if (style & FontStyleItalic) attr |= A_ITALIC;
  if (style & FontStyleUnderline) attr |= A_UNDERLINE;
  return attr;
}

// A stock icon as a few characters, for message boxes and image controls.
std::string IconMark(std::string_view icon) {
  switch (StockIconNumber(icon)) {
    case 0: return {};
    case 0x7F01: return "(x)";
    case 0x7F02: return "(?)";
    case kStockExclamation: return "(!)";
    case kStockInformation: return "(i)";
    default: return "(*)";
  }
}

// Buttons without text (the calendar's arrows) speak through their tip: a
// year is a double arrow, a month a single one, a week a row up or down.
std::wstring TipMark(std::string_view tip, bool unicode) {
  const std::string t = UpperCase(tip);
  const bool back =
      t.rfind("PREVIOUS", 0) == 0 || t.rfind("LAST", 0) == 0 || t.rfind("BACK", 0) == 0;
  const bool forward = t.rfind("NEXT", 0) == 0 || t.rfind("FORWARD", 0) == 0;
  if (!back && !forward) return {};
  if (t.find("YEAR") != std::string::npos)
    return unicode ? (back ? L"\u00AB" : L"\u00BB") : (back ? L"<<" : L">>");
  if (t.find("WEEK") != std::string::npos)
    return unicode ? (back ? L"\u2191" : L"\u2193") : (back ? L"^" : L"v");
  return unicode ? (back ? L"\u2039" : L"\u203A") : (back ? L"<" : L">");
}

// A text in a border, with a blank on either side. Built by appending: GCC 12
// at -O2 takes " " + text for an overlapping copy and warns.
std::string Spaced(std::string_view text) { return std::string(" ").append(text).append(" "); }

// `text` broken at blanks into lines of at most `width` characters; a word
// longer than that is cut.
std::vector<std::string> BreakLines(const std::string& text, int width) {
  std::vector<std::string> lines;
  std::string rest = text;
  while (static_cast<int>(rest.size()) > width) {
    std::size_t cut = rest.rfind(' ', width);
    if (cut == std::string::npos || cut == 0) cut = width;
    lines.push_back(rest.substr(0, cut));
    rest = rest.substr(cut == static_cast<std::size_t>(width) ? cut : cut + 1);
  }
  lines.push_back(rest);
  return lines;
}

}  // namespace

void Placement::SpaceLines(std::vector<int> centres) {
  Lines.clear();
  std::sort(centres.begin(), centres.end());
  centres.erase(std::unique(centres.begin(), centres.end()), centres.end());
  const double rowsPerHalfUnit = static_cast<double>(Inner.Rows) / (2.0 * RowUnits);
  for (int centre : centres) {
    const int row =
        Lines.empty() ? static_cast<int>(centre * rowsPerHalfUnit)
                      : Lines.back().second +
                            static_cast<int>((centre - Lines.back().first) * rowsPerHalfUnit + 0.5);
    if (row >= Inner.Rows) {
      Lines.clear();
      return;
    }
    Lines.emplace_back(centre, row);
  }
}

int Placement::RowOf(int halfUnits) const {
  auto proportional = [&](int h) { return h * Inner.Rows / (2 * RowUnits); };
  if (Lines.empty()) return proportional(halfUnits);
  if (halfUnits <= Lines.front().first)
    return Lines.front().second - (proportional(Lines.front().first) - proportional(halfUnits));
  for (std::size_t i = 1; i < Lines.size(); ++i) {
    const auto& [h0, r0] = Lines[i - 1];
    const auto& [h1, r1] = Lines[i];
    if (halfUnits <= h1) return r0 + (halfUnits - h0) * (r1 - r0) / (h1 - h0);
  }
  return Lines.back().second + proportional(halfUnits) - proportional(Lines.back().first);
}

CellRect Placement::Map(const Rect& r, bool oneLine) const {
  const int left = Inner.Col + r.X * Inner.Cols / ColUnits;
  const int right = Inner.Col + (r.X + r.Width) * Inner.Cols / ColUnits;
  CellRect cells{0, left, 1, std::max(1, right - left)};
  if (oneLine) {
    cells.Row = Inner.Row + RowOf(2 * r.Y + r.Height);
  } else {
    cells.Row = Inner.Row + RowOf(2 * r.Y);
    cells.Rows = std::max(1, Inner.Row + RowOf(2 * (r.Y + r.Height)) - cells.Row);
  }
  return Intersect(cells, Inner);
}

Placement PlaceWindow(int width, int height, int screenRows, int screenCols) {
  Placement p;
  const int wantCols = std::max(1, (width + 3) / 4), wantRows = std::max(1, (height + 7) / 8);
  p.WantCols = wantCols + 4;
  p.WantRows = wantRows + 2;
  const int cols = std::min(wantCols, screenCols - 4), rows = std::min(wantRows, screenRows - 2);
  p.Fits = cols > 0 && rows > 0 && cols * 10 >= wantCols * 9 && rows * 10 >= wantRows * 9;
  if (!p.Fits) return p;
  p.ColUnits = std::max(width, cols * 4);
  p.RowUnits = std::max(height, rows * 8);
  p.Inner = {(screenRows - rows) / 2, (screenCols - cols) / 2, rows, cols};
  p.Frame = {p.Inner.Row - 1, p.Inner.Col - 2, rows + 2, cols + 4};
  return p;
}

std::string LabelText(std::string_view text, int* marked) {
  std::string out;
  if (marked) *marked = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      ++i;
      if (text[i] != '&' && marked && *marked < 0) *marked = static_cast<int>(out.size());
    }
    out += text[i];
  }
  return out;
}

char Accelerator(std::string_view text) {
  int marked = -1;
  const std::string label = LabelText(text, &marked);
  return marked < 0 ? 0
                    : static_cast<char>(std::toupper(static_cast<unsigned char>(label[marked])));
}

int WindowView::ListRowAt(int control, int row) const {
  for (const Hit& hit : Hits) {
    if (hit.Control != control || !hit.Cells.Contains(row, hit.Cells.Col)) continue;
    const ControlState* c = Model->Control(control);
    const bool header = c && !ListColumns(c->ListFormat).empty();
    const int line = row - hit.Cells.Row - (header ? 1 : 0);
    auto top = ListTop.find(control);
    const int n = line + (top == ListTop.end() ? 1 : top->second);
    return line < 0 || n > Model->RowCount(control) ? 0 : n;
  }
  return 0;
}

void ScreenPainter::Start() {
  const char* codeset = nl_langinfo(CODESET);
  unicode_ = codeset && std::strcmp(codeset, "UTF-8") == 0;
  colors_ = has_colors() && start_color() == OK && COLORS >= 8;
  pairs_.clear();
}

std::string ScreenPainter::ButtonName(int button) {
  switch (button) {
    case ButtonOk: return "&OK";
    case ButtonYes: return "&Yes";
    case ButtonNo: return "&No";
    case ButtonAbort: return "&Abort";
    case ButtonRetry: return "&Retry";
    case ButtonIgnore: return "&Ignore";
    case ButtonCancel: return "&Cancel";
    case ButtonHelp: return "&Help";
    default: return "?";
  }
}

int ScreenPainter::Pair(int fg, int bg) {
  if (!colors_) return 0;
  const int key = fg * 16 + bg;
  auto it = pairs_.find(key);
  if (it != pairs_.end()) return it->second;
  const int number = static_cast<int>(pairs_.size()) + 1;
  if (number >= COLOR_PAIRS ||
      init_pair(static_cast<short>(number), static_cast<short>(fg), static_cast<short>(bg)) != OK)
    return 0;
  pairs_[key] = static_cast<int>(COLOR_PAIR(number));
  return pairs_[key];
}

void ScreenPainter::Clear() {
  cursorRow_ = cursorCol_ = -1;
  const int attr = colors_ ? Pair(COLOR_WHITE, kScreenBg) : A_NORMAL;
  bkgdset(static_cast<chtype>(' ') | static_cast<chtype>(attr));
  erase();
}

void ScreenPainter::Fill(const CellRect& cells, int attr) {
  const CellRect c = Intersect(cells, ScreenCells());
  attrset(attr);
  for (int row = c.Row; row < c.Row + c.Rows; ++row) mvhline(row, c.Col, ' ', c.Cols);
}

void ScreenPainter::PutWide(int row, int col, const wchar_t* text, int length, int attr,
                            const CellRect& clip) {
  const CellRect area = Intersect(clip, ScreenCells());
  if (!area.Contains(row, area.Col)) return;
  int skip = std::max(0, area.Col - col);
  if (skip >= length) return;
  const int start = col + skip;
  const int room = area.Col + area.Cols - start;
  if (room <= 0) return;
  // Many terminals draw bold text in the bright colour, and bright black on
  // the grey window is a faint grey that reads as disabled: bold black text
  // there is drawn in blue, which stays strong either way.
  if (colors_ && (attr & A_BOLD) && !(attr & A_REVERSE) &&
      static_cast<int>(attr & A_COLOR) == Pair(COLOR_BLACK, kWindowBg))
    attr = static_cast<int>(attr & ~A_COLOR) | Pair(COLOR_BLUE, kWindowBg);
  attrset(attr);
  mvaddnwstr(row, start, text + skip, std::min(length - skip, room));
}

void ScreenPainter::Put(int row, int col, std::string_view text, int attr, const CellRect& clip) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    wide += byte < 0x20 ? L' ' : (unicode_ || byte < 0x80) ? static_cast<wchar_t>(byte) : L'?';
  }
  PutWide(row, col, wide.data(), static_cast<int>(wide.size()), attr, clip);
}

void ScreenPainter::Frame(const CellRect& f, std::string_view title, std::string_view status,
                          int attr) {
  attrset(attr);
  mvaddch(f.Row, f.Col, ACS_ULCORNER);
  mvaddch(f.Row, f.Col + f.Cols - 1, ACS_URCORNER);
  mvaddch(f.Row + f.Rows - 1, f.Col, ACS_LLCORNER);
  mvaddch(f.Row + f.Rows - 1, f.Col + f.Cols - 1, ACS_LRCORNER);
  mvhline(f.Row, f.Col + 1, ACS_HLINE, f.Cols - 2);
  mvhline(f.Row + f.Rows - 1, f.Col + 1, ACS_HLINE, f.Cols - 2);
  mvvline(f.Row + 1, f.Col, ACS_VLINE, f.Rows - 2);
  mvvline(f.Row + 1, f.Col + f.Cols - 1, ACS_VLINE, f.Rows - 2);
  const CellRect border{f.Row, f.Col + 1, f.Rows, f.Cols - 2};
  if (!title.empty()) {
    const std::string shown = Spaced(title);
    const int col = f.Col + std::max(1, (f.Cols - static_cast<int>(shown.size())) / 2);
    Put(f.Row, col, shown, attr | A_BOLD, border);
  }
  if (!status.empty()) Put(f.Row + f.Rows - 1, f.Col + 2, Spaced(status), attr, border);
  // A shadow on the desktop, right and below, where the screen has room.
  if (colors_) {
    const int shadow = Pair(COLOR_BLACK, COLOR_BLACK);
    Fill({f.Row + 1, f.Col + f.Cols, f.Rows, 1}, shadow);
    Fill({f.Row + f.Rows, f.Col + 1, 1, f.Cols}, shadow);
  }
}

int ScreenPainter::TextAttr(const ControlState& c) {
  int attr = StyleAttr(c.FontStyle);
  if (c.Disabled) attr |= A_DIM;
  if (!colors_) return attr;
  int fg = c.FontColor < 0 ? COLOR_BLACK : NearestColor(c.FontColor);
  if (fg == kWindowBg) fg = COLOR_BLACK;
  return attr | Pair(fg, kWindowBg);
}

void ScreenPainter::PaintWindow(WindowView& view, bool active) {
  const Window& w = *view.Model;
  view.Place = PlaceWindow(w.Area().Width, w.Area().Height, LINES, COLS);
  view.Hits.clear();
  if (!view.Place.Fits) return;
  std::vector<int> centres;
  for (const ControlState& c : w.Controls())
    if (OneLine(c.Kind)) centres.push_back(2 * c.Position.Y + c.Position.Height);
  view.Place.SpaceLines(std::move(centres));
  const int attr = colors_ ? Pair(COLOR_BLACK, kWindowBg) : A_NORMAL;
  Fill(view.Place.Frame, attr);
  std::string status;
  if (const ControlState* focused = w.Control(w.Focus()); active && focused)
    status = !focused->TypingHint.empty()   ? focused->TypingHint
             : !focused->StatusText.empty() ? focused->StatusText
                                            : focused->Tip;
  Frame(view.Place.Frame, w.Caption(), status, attr);
  for (const ControlState& c : w.Controls()) {
    if (c.Hidden) continue;
    const CellRect cells = view.Place.Map(c.Position, OneLine(c.Kind));
    if (cells.Rows == 0 || cells.Cols == 0) continue;
    PaintControl(view, c, active && c.Number == w.Focus(), cells);
    view.Hits.push_back({c.Number, cells});
  }
}

void ScreenPainter::PaintControl(WindowView& view, const ControlState& c, bool focused,
                                 const CellRect& cells) {
  const CellRect& clip = view.Place.Inner;
  const int attr = TextAttr(c);
  int marked = -1;
  const std::string label = LabelText(c.Text, &marked);
  auto putLabel = [&](int row, int col, int baseAttr) {
    const int room = cells.Col + cells.Cols - col - static_cast<int>(label.size());
    if (room > 0 && c.Align == 'C') col += room / 2;
    if (room > 0 && c.Align == 'R') col += room;
    Put(row, col, label, baseAttr, Intersect(cells, clip));
    if (marked >= 0)
      Put(row, col + marked, label.substr(marked, 1), baseAttr | A_UNDERLINE,
          Intersect(cells, clip));
  };
  switch (c.Kind) {
    case ControlKind::Text:
    case ControlKind::Prompt: putLabel(cells.Row, cells.Col, attr); return;
    case ControlKind::Button: {
      const int focusAttr = focused ? attr | A_REVERSE : attr;
      if (label.empty()) {
        const std::wstring mark = TipMark(c.Tip, unicode_);
        if (focused) Fill(cells, focusAttr);
        const int length = static_cast<int>(mark.size());
        PutWide(cells.Row, cells.Col + std::max(0, (cells.Cols - length) / 2), mark.data(), length,
                focusAttr, Intersect(cells, clip));
        return;
      }
      const int length = static_cast<int>(label.size());
      if (cells.Cols >= length + 4) {
        // "[ OK ]", centred; the default button's brackets are bold unless
        // the whole button shows the focus.
        const int col = cells.Col + (cells.Cols - length - 4) / 2;
        const int bracket = focused ? focusAttr : c.Default ? attr | A_BOLD : attr;
        Put(cells.Row, col, "[ ", bracket, clip);
        Put(cells.Row, col + length + 2, " ]", bracket, clip);
        Put(cells.Row, col + 2, label, focusAttr, clip);
        if (marked >= 0)
          Put(cells.Row, col + 2 + marked, label.substr(marked, 1), focusAttr | A_UNDERLINE, clip);
      } else {
        // Too narrow for brackets (the calendar's days): the text alone.
        if (focused) Fill(cells, focusAttr);
        const int col = cells.Col + std::max(0, (cells.Cols - length) / 2);
        Put(cells.Row, col, label, focusAttr, Intersect(cells, clip));
      }
      return;
    }
    case ControlKind::Check: {
      Put(cells.Row, cells.Col, c.Value ? "[x] " : "[ ] ", focused ? attr | A_REVERSE : attr, clip);
      putLabel(cells.Row, cells.Col + 4, attr);
      return;
    }
    case ControlKind::Entry:
    case ControlKind::Combo: PaintEntry(view, c, focused, cells); return;
    case ControlKind::Progress: PaintProgress(c, cells, clip); return;
    case ControlKind::List: PaintList(view, c, focused, cells); return;
    case ControlKind::Line:
      attrset(attr);
      if (cells.Rows > cells.Cols)
        mvvline(cells.Row, cells.Col, ACS_VLINE, cells.Rows);
      else
        mvhline(cells.Row, cells.Col, ACS_HLINE, cells.Cols);
      return;
    case ControlKind::Group: {
      if (cells.Rows >= 2 && cells.Cols >= 2) Frame(cells, {}, {}, attr);
      if (!label.empty()) Put(cells.Row, cells.Col + 2, Spaced(label), attr, clip);
      return;
    }
    case ControlKind::Image:
      Put(cells.Row, cells.Col, IconMark(c.Icon), attr | A_BOLD, clip);
      return;
    case ControlKind::Panel: return;  // background boxes: the window's own background
  }
}

void ScreenPainter::PaintEntry(WindowView& view, const ControlState& c, bool focused,
                               const CellRect& cells) {
  const CellRect& clip = view.Place.Inner;
  const bool combo = c.Kind == ControlKind::Combo;
  const CellRect field{cells.Row, cells.Col, 1, std::max(1, cells.Cols - (combo ? 1 : 0))};
  int attr = colors_ ? Pair(COLOR_BLACK, kFieldBg) : A_UNDERLINE;
  if (c.Disabled) attr |= A_DIM;
  WindowView::EntryEdit& edit = view.Entries[c.Number];
  edit.Cursor = std::clamp(edit.Cursor, 0, static_cast<int>(c.Text.size()));
  Fill(Intersect(field, clip), attr);
  if (c.Text.empty() && !focused) {
    Put(field.Row, field.Col, EntryFormatHint(c.Picture), attr | A_DIM, Intersect(field, clip));
  } else {
    const int first = focused ? std::max(0, edit.Cursor - (field.Cols - 1)) : 0;
    const int textAttr = focused && edit.Fresh && !c.Text.empty() ? attr | A_REVERSE : attr;
    Put(field.Row, field.Col, std::string_view(c.Text).substr(first), textAttr,
        Intersect(field, clip));
    if (focused) {
      cursorRow_ = field.Row;
      cursorCol_ = std::min(field.Col + edit.Cursor - first, field.Col + field.Cols - 1);
    }
  }
  if (combo) {
    static const wchar_t kDown[] = L"\u25BC";
    if (unicode_)
      PutWide(cells.Row, field.Col + field.Cols, kDown, 1, attr | A_REVERSE, clip);
    else
      Put(cells.Row, field.Col + field.Cols, "v", attr | A_REVERSE, clip);
  }
}

void ScreenPainter::PaintProgress(const ControlState& c, const CellRect& cells,
                                  const CellRect& clip) {
  const long long range = std::max<long long>(1, static_cast<long long>(c.RangeHigh) - c.RangeLow);
  const long long done = std::clamp<long long>(c.Value - c.RangeLow, 0, range);
  const int percent = static_cast<int>(done * 100 / range);
  const bool showPercent = cells.Cols >= 10;
  const int bar = showPercent ? cells.Cols - 5 : cells.Cols;
  const long long eighths = done * bar * 8 / range;
  const int full = static_cast<int>(eighths / 8), part = static_cast<int>(eighths % 8);
  const int fill = colors_ ? Pair(COLOR_BLUE, kWindowBg) : A_NORMAL;
  const int empty = (colors_ ? Pair(COLOR_BLACK, kWindowBg) : A_NORMAL) | A_DIM;
  std::wstring filled, rest;
  if (unicode_) {
    filled.assign(full, L'\u2588');
    if (part > 0)
      filled += static_cast<wchar_t>(0x2590 - part);  // U+258F one eighth .. U+2589 seven
    rest.assign(bar - static_cast<int>(filled.size()), L'\u2591');
  } else {
    filled.assign(full, L'#');
    rest.assign(bar - full, L'.');
  }
  PutWide(cells.Row, cells.Col, filled.data(), static_cast<int>(filled.size()), fill, clip);
  PutWide(cells.Row, cells.Col + static_cast<int>(filled.size()), rest.data(),
          static_cast<int>(rest.size()), empty, clip);
  if (showPercent) {
    char text[8];
    std::snprintf(text, sizeof text, " %3d%%", percent);
    Put(cells.Row, cells.Col + bar, text, TextAttr(c), clip);
  }
}

void ScreenPainter::PaintList(WindowView& view, const ControlState& c, bool focused,
                              const CellRect& cells) {
  const Window& w = *view.Model;
  const CellRect clip = Intersect(cells, view.Place.Inner);
  const std::vector<ListColumn> columns = ListColumns(c.ListFormat);
  const int rows = w.RowCount(c.Number);
  const bool header = !columns.empty();
  const int shown = std::max(1, cells.Rows - (header ? 1 : 0));
  int& top = view.ListTop[c.Number];
  top = std::max(1, top);
  if (c.Selected > 0) top = std::clamp(top, c.Selected - shown + 1, c.Selected);
  top = std::max(1, std::min(top, rows - shown + 1));
  const bool scrollbar = rows > shown;
  const int textCols = cells.Cols - (scrollbar ? 1 : 0);
  // Column starts in cells; one column (or none declared) takes the width.
  std::vector<int> starts;
  int at = 0;
  for (const ListColumn& column : columns) {
    starts.push_back(at);
    at += column.Width * view.Place.Inner.Cols / view.Place.ColUnits;
  }
  const int columnCount = std::max<int>(1, static_cast<int>(columns.size()));
  if (starts.empty()) starts.push_back(0);
  const int attr = TextAttr(c);
  if (header)
    for (int i = 0; i < columnCount; ++i)
      Put(cells.Row, cells.Col + starts[i], columns[i].Header, attr | A_BOLD | A_UNDERLINE, clip);
  for (int line = 0; line < shown; ++line) {
    const int row = top + line;
    if (row > rows) break;
    const int screenRow = cells.Row + (header ? 1 : 0) + line;
    const bool selected = row == c.Selected;
    const int rowAttr = selected ? attr | A_REVERSE | (focused ? A_BOLD : 0) : attr;
    if (selected) Fill(Intersect({screenRow, cells.Col, 1, textCols}, clip), rowAttr);
    for (int i = 0; i < columnCount; ++i) {
      const int end = i + 1 < columnCount ? starts[i + 1] - 1 : textCols;
      const CellRect cell =
          Intersect({screenRow, cells.Col + starts[i], 1, std::max(0, end - starts[i])}, clip);
      Put(screenRow, cells.Col + starts[i], w.Cell(c.Number, row, i + 1), rowAttr, cell);
    }
  }
  if (scrollbar) {
    // A thumb on a track, sized by the share of rows shown.
    const int track = shown;
    const int thumb = std::max(1, track * shown / rows);
    const int pos = (track - thumb) * (top - 1) / std::max(1, rows - shown);
    for (int i = 0; i < track; ++i) {
      const int row = cells.Row + (header ? 1 : 0) + i;
      const bool onThumb = i >= pos && i < pos + thumb;
      const wchar_t glyph = unicode_ ? (onThumb ? L'\u2588' : L'\u2591') : (onThumb ? L'#' : L'|');
      PutWide(row, cells.Col + cells.Cols - 1, &glyph, 1, attr, clip);
    }
  }
  if (focused && c.Selected == 0) {
    cursorRow_ = cells.Row + (header ? 1 : 0);
    cursorCol_ = cells.Col;
  }
}

void ScreenPainter::PaintTooSmall(int needRows, int needCols) {
  Clear();
  // On a terminal narrower than the notice, it goes on as many lines as it
  // needs, broken between its phrases, rather than lose its numbers off the edge.
  const int width = std::max(1, COLS);
  std::vector<std::string> lines;
  for (const std::string& phrase :
       {std::string("Terminal too small:"),
        std::to_string(needCols) + "x" + std::to_string(needRows) + " needed,",
        std::to_string(COLS) + "x" + std::to_string(LINES) + " here"}) {
    if (!lines.empty() && static_cast<int>(lines.back().size() + 1 + phrase.size()) <= width)
      lines.back() += " " + phrase;
    else
      for (std::string& part : BreakLines(phrase, width)) lines.push_back(std::move(part));
  }
  const int top = std::max(0, (LINES - static_cast<int>(lines.size())) / 2);
  for (std::size_t i = 0; i < lines.size(); ++i)
    Put(top + static_cast<int>(i), std::max(0, (COLS - static_cast<int>(lines[i].size())) / 2),
        lines[i], colors_ ? Pair(COLOR_WHITE, kScreenBg) | A_BOLD : A_REVERSE, ScreenCells());
}

bool ScreenPainter::PaintMessageBox(const MessageBoxRequest& request, MessageBoxView& view) {
  const std::string icon = IconMark(request.Icon);
  const int iconCols = icon.empty() ? 0 : static_cast<int>(icon.size()) + 2;
  view.Buttons.clear();
  view.Cells.clear();
  for (int bit = 1; bit <= ButtonHelp; bit <<= 1)
    if (request.Buttons & bit) view.Buttons.push_back(bit);
  int buttonCols = 0;
  for (int b : view.Buttons)
    buttonCols += static_cast<int>(LabelText(ButtonName(b)).size()) + 4 + 2;
  // Lines wider than the screen break at a blank.
  const int maxText = std::max(10, COLS - 8 - iconCols);
  std::vector<std::string> lines;
  for (const std::string& line : request.Lines)
    for (std::string& part : BreakLines(line, maxText)) lines.push_back(std::move(part));
  int textCols = 0;
  for (const auto& line : lines) textCols = std::max(textCols, static_cast<int>(line.size()));
  const std::string caption = request.Caption.empty() ? kUncaptioned : request.Caption;
  const int cols = std::max(
      {textCols + iconCols + 4, buttonCols + 2, static_cast<int>(caption.size()) + 6, 24});
  const int rows = static_cast<int>(lines.size()) + 4;
  view.WantRows = rows + 2;
  view.WantCols = cols + 2;
  if (cols + 2 > COLS || rows + 2 > LINES) return false;
  const CellRect inner{(LINES - rows) / 2, (COLS - cols) / 2, rows, cols};
  const CellRect frame{inner.Row - 1, inner.Col - 1, rows + 2, cols + 2};
  const int attr = colors_ ? Pair(COLOR_BLACK, kWindowBg) : A_NORMAL;
  Fill(frame, attr);
  Frame(frame, caption, {}, attr);
  if (!icon.empty())
    Put(inner.Row + 1, inner.Col + 2, icon,
        (colors_ ? Pair(COLOR_RED, kWindowBg) : A_NORMAL) | A_BOLD, inner);
  for (std::size_t i = 0; i < lines.size(); ++i)
    Put(inner.Row + 1 + static_cast<int>(i), inner.Col + 2 + iconCols, lines[i], attr, inner);
  int col = inner.Col + (cols - buttonCols + 2) / 2;
  const int row = inner.Row + rows - 2;
  for (std::size_t i = 0; i < view.Buttons.size(); ++i) {
    int marked = -1;
    const std::string label = LabelText(ButtonName(view.Buttons[i]), &marked);
    const int width = static_cast<int>(label.size()) + 4;
    const bool focused = static_cast<int>(i) == view.Focus;
    const int a = focused ? attr | A_REVERSE : attr;
    Put(row, col, "[ " + label + " ]", a, inner);
    Put(row, col + 2 + marked, label.substr(marked, 1), a | A_UNDERLINE, inner);
    view.Cells.push_back({row, col, 1, width});
    col += width + 2;
  }
  return true;
}

void ScreenPainter::Finish() {
  if (cursorRow_ >= 0) {
    move(cursorRow_, cursorCol_);
    curs_set(1);
  } else {
    curs_set(0);
  }
  refresh();
}

}  // namespace rt
