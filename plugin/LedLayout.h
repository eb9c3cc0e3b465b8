// The layout of a panel of labelled LEDs, built from the object's "bitmask" keyword:
//
//   <label>,<mask>;<label>,<mask>;newline;<label>,<mask>...
//
// Each item is one cell of the current row; "newline" starts the next row. A cell whose mask
// is 0 (no mask, an empty item, or a mask that is not a number) keeps its place but is never
// drawn. Every cell is 100 units wide and 40 high; rows are counted from 1, so the first row
// of LEDs lies one row below the top of the panel.
//
// Pure values only (no windows), so that any text can be fed to BuildLedLayout on its own.
#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// An LED drawn around the origin: its two brushes are made once, with the LED.
struct LedShape {
  QBrush lit;
  QBrush unlit;
  QRectF rect;  // (-r, -r, 2r, 2r)
  bool on = false;
};

// The caption beside an LED.
struct LedLabel {
  QFont font;
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
  QBrush brush;
  QString text;
};

struct LedCell {
  int32_t previous = 0;  // the masked value last shown
  int32_t mask = 0;      // 0: an empty place
  double column = 0;
  double row = 0;
  std::string label;     // UTF-8, as written in the keyword
  LedLabel caption;
  QRectF labelRect;
  LedShape led;
  QPointF centre;
};

struct LedLayout {
  int columns = 0;
  int rows = 1;
  int width = 0;    // columns * 100, in dialog units
  int height = 40;  // rows * 40, in dialog units
  std::vector<LedCell> cells;
};

LedLayout BuildLedLayout(std::string_view spec);

// Reads a number as C's atoi does (leading blanks, a sign, digits up to the first other
// character, 0 without digits); values beyond 32 bits stop at the nearest limit.
int32_t ParseMask(std::string_view text);

// The shaded fill of an LED of `radius` centred on the origin: `color` in the middle, darker
// towards the rim.
QBrush LedBrush(const QColor& color, double radius);
