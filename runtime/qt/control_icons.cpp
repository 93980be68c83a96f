#include "runtime/qt/control_icons.h"

#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QStyle>

#include <string>

#include "runtime/core/text.h"
#include "runtime/windows/message_box.h"

namespace rt {
namespace {

struct NamedIcon {
  std::string_view Name;  // without the ".ICO" ending
  QStyle::StandardPixmap Picture;
};

constexpr NamedIcon kNamedIcons[] = {
    {"OK", QStyle::SP_DialogOkButton},
    {"CANCEL", QStyle::SP_DialogCancelButton},
    {"HELP", QStyle::SP_DialogHelpButton},
};

// The calendar's navigation arrows: one triangle for a week, two for a
// month, two against a bar for a year.
struct Arrow {
  std::string_view Name;
  int Triangles;
  bool Bar;
  bool Back;
};

constexpr Arrow kArrows[] = {
    {"PREVYEAR", 2, true, true},   {"PREVMONTH", 2, false, true},  {"PREVWEEK", 1, false, true},
    {"NEXTWEEK", 1, false, false}, {"NEXTMONTH", 2, false, false}, {"NEXTYEAR", 2, true, false},
};

QIcon DrawArrow(const Arrow& arrow, const QStyle& style) {
  constexpr int kSide = 16;
  QPixmap pixmap(kSide, kSide);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(style.standardPalette().color(QPalette::ButtonText));
  const int width = 5, height = 9, top = (kSide - height) / 2;
  const int total = arrow.Triangles * width + (arrow.Bar ? 2 : 0);
  int x = (kSide - total) / 2;
  auto bar = [&] {
    painter.drawRect(x, top, 2, height);
    x += 2;
  };
  if (arrow.Bar && arrow.Back) bar();
  for (int i = 0; i < arrow.Triangles; ++i, x += width) {
    const QPointF tip(arrow.Back ? x : x + width, top + height / 2.0);
    const double base = arrow.Back ? x + width : x;
    const QPointF points[] = {tip, {base, double(top)}, {base, double(top + height)}};
    painter.drawPolygon(points, 3);
  }
  if (arrow.Bar && !arrow.Back) bar();
  return QIcon(pixmap);
}

}  // namespace

QIcon ControlIcon(std::string_view name, const QStyle& style) {
  switch (StockIconNumber(name)) {
    case 0: break;
    case kStockExclamation: return style.standardIcon(QStyle::SP_MessageBoxWarning);
    case kStockInformation: return style.standardIcon(QStyle::SP_MessageBoxInformation);
    default: return {};
  }
  if (name.empty()) return {};
  std::string_view stem = name;
  if (stem.size() > 4 && SameIgnoringCase(stem.substr(stem.size() - 4), ".ICO"))
    stem.remove_suffix(4);
  for (const NamedIcon& icon : kNamedIcons)
    if (SameIgnoringCase(stem, icon.Name)) return style.standardIcon(icon.Picture);
  for (const Arrow& arrow : kArrows)
    if (SameIgnoringCase(stem, arrow.Name)) return DrawArrow(arrow, style);
  QString path = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
  path.replace('\\', '/');
  if (!QFileInfo(path).isFile()) return {};
  return QIcon(path);
}

}  // namespace rt
