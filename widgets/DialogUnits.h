// Dialog units: every size and position in a dialog template or a device profile is given in
// units of the dialog's font, so layouts scale with the font the desktop uses.
#pragma once

#include <QRect>

class QFont;
class QWidget;

// Multiplies and divides in 64 bits and rounds the quotient to the nearest integer, halves away
// from zero. A zero divisor or a result outside the 32-bit range gives -1.
int MulDiv(int number, int numerator, int denominator);

struct DialogBaseUnits {
  int horizontal = 4;  // pixels per 4 horizontal dialog units
  int vertical = 8;    // pixels per 8 vertical dialog units

  // From a font: the average width of the 52 Latin letters and the font's character height.
  static DialogBaseUnits FromFont(const QFont& font);
  // From a dialog's font; without a dialog the units are 4 and 8, so dialog units are pixels.
  static DialogBaseUnits FromWidget(const QWidget* dialog);

  int ToPixelsX(int x) const { return MulDiv(x, horizontal, 4); }
  int ToPixelsY(int y) const { return MulDiv(y, vertical, 8); }
  QPoint ToPixels(QPoint p) const { return {ToPixelsX(p.x()), ToPixelsY(p.y())}; }
  QSize ToPixels(QSize s) const { return {ToPixelsX(s.width()), ToPixelsY(s.height())}; }
  // (x, y, cx, cy) in dialog units to a pixel rectangle; the corners convert separately, as
  // a dialog manager maps a rectangle.
  QRect ToPixels(const QRect& r) const;

  bool operator==(const DialogBaseUnits&) const = default;
};
