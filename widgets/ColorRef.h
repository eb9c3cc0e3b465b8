// Colours as the device profiles and the callers of the widgets give them: COLORREF values
// 0x00BBGGRR (red in the low byte), converted to and from QColor.
#pragma once

#include <QColor>
#include <cstdint>

using COLORREF = std::uint32_t;

constexpr COLORREF MakeColorRef(int red, int green, int blue) {
  return static_cast<COLORREF>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

inline QColor FromColorRef(COLORREF c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

inline COLORREF ToColorRef(const QColor& c) { return MakeColorRef(c.red(), c.green(), c.blue()); }
