#include "widgets/DialogUnits.h"

#include <QFont>
#include <QFontMetrics>
#include <QWidget>
#include <cstdint>

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  std::int64_t a = number;
  std::int64_t d = denominator;
  if (d < 0) {
    a = -a;
    d = -d;
  }
  const std::int64_t product = a * numerator;
  const std::int64_t result = product >= 0 ? (product + d / 2) / d : (product - d / 2) / d;
  if (result > 2147483647LL || result < -2147483647LL) return -1;
  return static_cast<int>(result);
}

DialogBaseUnits DialogBaseUnits::FromFont(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits units;
  units.horizontal = (width / 26 + 1) / 2;
  units.vertical = metrics.height();
  if (units.horizontal <= 0 || units.vertical <= 0) return DialogBaseUnits{};
  return units;
}

DialogBaseUnits DialogBaseUnits::FromWidget(const QWidget* dialog) {
  if (dialog == nullptr) return DialogBaseUnits{};
  return FromFont(dialog->font());
}

QRect DialogBaseUnits::ToPixels(const QRect& r) const {
  const int left = ToPixelsX(r.x());
  const int top = ToPixelsY(r.y());
  const int right = ToPixelsX(r.x() + r.width());
  const int bottom = ToPixelsY(r.y() + r.height());
  return QRect(left, top, right - left, bottom - top);
}
