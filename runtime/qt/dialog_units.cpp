#include "runtime/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "runtime/windows/properties.h"

namespace rt {
namespace {

constexpr int kDefaultPoints = 8;

int Round(double value) { return static_cast<int>(std::lround(value)); }

void SetFace(QFont& font, const std::string& face) {
  const QString family = QString::fromLatin1(face.c_str());
  if (!family.isEmpty() && QFontDatabase::hasFamily(family)) font.setFamilies(QStringList{family});
}

}  // namespace

void ApplyFontStyle(QFont& font, int style) {
  if (style <= 0) return;
  if (const int weight = style & FontStyleWeightMask; weight > 0)
    font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
  font.setItalic(style & FontStyleItalic);
  font.setUnderline(style & FontStyleUnderline);
  font.setStrikeOut(style & FontStyleStrikeOut);
}

QFont DialogFont(const std::string& face, int size, int style) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  SetFace(font, face);
  font.setPointSize(size > 0 ? size : kDefaultPoints);
  ApplyFontStyle(font, style);
  return font;
}

QFont DialogFont(const QFont& base, const std::string& faceAndSize, int style) {
  QFont font = base;
  if (!faceAndSize.empty()) {
    const std::size_t comma = faceAndSize.find(',');
    SetFace(font, faceAndSize.substr(0, comma));
    const int size = comma == std::string::npos ? 0 : std::atoi(faceAndSize.c_str() + comma + 1);
    if (size > 0) font.setPointSize(size);
  }
  ApplyFontStyle(font, style);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetricsF metrics(font);
  static const QString alphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  charWidth_ = std::max(1.0, metrics.horizontalAdvance(alphabet) / alphabet.size());
  charHeight_ = std::max(1.0, metrics.height());
}

int DialogUnits::X(int units) const { return Round(units * charWidth_ / 4); }
int DialogUnits::Y(int units) const { return Round(units * charHeight_ / 8); }

QRect DialogUnits::Pixels(const Rect& r) const {
  const int left = X(r.X), top = Y(r.Y);
  return {left, top, X(r.X + r.Width) - left, Y(r.Y + r.Height) - top};
}

int DialogUnits::UnitsX(int pixels) const { return Round(pixels * 4 / charWidth_); }
int DialogUnits::UnitsY(int pixels) const { return Round(pixels * 8 / charHeight_); }

}  // namespace rt
