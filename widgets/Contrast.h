// Readable colours. The owner-drawn controls draw text over colours they do not choose (the
// desktop's palette, a device's lamp or gradient colours); these helpers measure how well text
// in one colour reads on another and, where it would not, move it until it does.
//
// Contrast is the ratio of the two colours' relative luminances (each plus 0.05), from 1 (the
// same) to 21 (black on white); 4.5 reads comfortably at the dialog font's size.
#pragma once

#include <QColor>
#include <algorithm>
#include <cmath>

namespace contrast {

inline constexpr double kText = 4.5;

// The relative luminance of an sRGB colour, 0 (black) to 1 (white).
inline double Luminance(const QColor& color) {
  auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
  return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

inline double Ratio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Black or white, whichever reads better on `background`.
inline QColor BlackOrWhite(const QColor& background) {
  return Ratio(Qt::black, background) >= Ratio(Qt::white, background) ? QColor(Qt::black) : QColor(Qt::white);
}

// `wanted` when it reads on `background` with at least `minimum` contrast; otherwise `wanted`
// mixed towards black or white (whichever the background favours) just far enough, so it keeps
// its hue where it can.
inline QColor Readable(const QColor& wanted, const QColor& background, double minimum = kText) {
  if (Ratio(wanted, background) >= minimum) return wanted;
  const QColor end = BlackOrWhite(background);
  QColor mixed = wanted;
  for (int step = 1; step <= 10; ++step) {
    const double t = step / 10.0;
    mixed = QColor::fromRgbF(static_cast<float>(wanted.redF() + (end.redF() - wanted.redF()) * t),
                             static_cast<float>(wanted.greenF() + (end.greenF() - wanted.greenF()) * t),
                             static_cast<float>(wanted.blueF() + (end.blueF() - wanted.blueF()) * t),
                             static_cast<float>(wanted.alphaF()));
    if (Ratio(mixed, background) >= minimum) break;
  }
  return mixed;
}

}  // namespace contrast
