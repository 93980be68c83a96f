#include "runtime/windows/window_resource.h"

#include <cctype>
#include <set>
#include <utility>

#include "runtime/core/text.h"

namespace rt {

bool TakesFocus(ControlKind kind) {
  switch (kind) {
    case ControlKind::Entry:
    case ControlKind::Combo:
    case ControlKind::Check:
    case ControlKind::Button:
    case ControlKind::List: return true;
    default: return false;
  }
}

ControlResource MakeControl(int number, std::string label, ControlKind kind, Rect at,
                            std::string text) {
  ControlResource c;
  c.Number = number;
  c.Label = std::move(label);
  c.Kind = kind;
  c.Position = at;
  c.Text = std::move(text);
  return c;
}

const ControlResource* WindowResource::Find(int number) const {
  for (const auto& c : Controls)
    if (c.Number == number) return &c;
  return nullptr;
}

const ControlResource* WindowResource::Find(std::string_view label) const {
  for (const auto& c : Controls)
    if (SameIgnoringCase(c.Label, label)) return &c;
  return nullptr;
}

std::string WindowResource::Check() const {
  if (Name.empty()) return "window resource has no name";
  if (Width < 0 || Height < 0) return "window " + Name + " has a negative size";
  std::set<int> numbers;
  for (const auto& c : Controls) {
    const std::string which = "window " + Name + " control " + std::to_string(c.Number);
    if (c.Number <= 0) return which + ": control numbers start at 1";
    if (!numbers.insert(c.Number).second) return which + ": number used twice";
    if (c.Position.Width < 0 || c.Position.Height < 0) return which + ": negative size";
    if (c.RangeLow > c.RangeHigh) return which + ": range low above high";
  }
  return {};
}

std::vector<ListColumn> ListColumns(std::string_view format) {
  std::vector<ListColumn> columns;
  std::size_t i = 0;
  while (i < format.size()) {
    ListColumn column;
    while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])))
      column.Width = column.Width * 10 + (format[i++] - '0');
    if (i < format.size() && std::isalpha(static_cast<unsigned char>(format[i])))
      column.Align = static_cast<char>(std::toupper(static_cast<unsigned char>(format[i++])));
    // Flags and the header run up to the column's picture.
    while (i < format.size() && format[i] != '@') {
      if (format[i] == '~') {
        const std::size_t end = format.find('~', i + 1);
        if (end == std::string_view::npos) return columns;  // unterminated header: stop here
        column.Header = std::string(format.substr(i + 1, end - i - 1));
        i = end + 1;
      } else {
        ++i;
      }
    }
    if (i >= format.size()) break;  // a column without a picture is not a column
    const std::size_t end = format.find('@', i + 1);
    if (end == std::string_view::npos) break;
    column.Picture = std::string(format.substr(i + 1, end - i - 1));
    i = end + 1;
    columns.push_back(std::move(column));
  }
  return columns;
}

}  // namespace rt
