// Fonts and dialog units on the desktop. A layout's sizes are dialog units: a
// quarter of its font's average character width across, an eighth of its
// character height down. Measuring the font actually used (its face, size and
// the screen's resolution) makes a window grow with a larger font or a denser
// screen and keeps its text fitting its controls.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <string>

#include "runtime/windows/window_resource.h"

namespace rt {

// The font for a face, size in points and PropFontStyle value. A face the
// system does not have (a layout designed elsewhere names one) becomes the
// desktop's general font, so the text looks native; size 0 means 8 points.
QFont DialogFont(const std::string& face, int size, int style = 0);
// A "face,size" property text on top of a base font; "" keeps the base.
QFont DialogFont(const QFont& base, const std::string& faceAndSize, int style);
// Weight and style bits of a PropFontStyle value; 0 keeps the font as it is.
void ApplyFontStyle(QFont& font, int style);

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const;
  int Y(int units) const;
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }
  // Edges are converted, not sizes, so controls that meet in units meet on screen.
  QRect Pixels(const Rect& r) const;
  // Pixels back to the nearest units.
  int UnitsX(int pixels) const;
  int UnitsY(int pixels) const;

 private:
  double charWidth_;   // average character width, pixels
  double charHeight_;  // character height, pixels
};

}  // namespace rt
