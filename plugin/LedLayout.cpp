#include "plugin/LedLayout.h"

#include <QRadialGradient>
#include <algorithm>
#include <limits>

namespace {

const QColor kLitColor(255, 0, 0, 255);
const QColor kUnlitColor(205, 205, 205, 255);
constexpr double kMargin = 5;
constexpr double kCellWidth = 100;
constexpr double kCellHeight = 40;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

QColor Scaled(const QColor& c, double alpha, double rgb) {
  return QColor(static_cast<int>(c.red() * rgb), static_cast<int>(c.green() * rgb),
                static_cast<int>(c.blue() * rgb), static_cast<int>(c.alpha() * alpha));
}

// The geometry and drawing tools of one cell, from the panel's size.
void Place(LedCell& cell, const LedLayout& layout) {
  const double columns = layout.columns;
  const double rows = layout.rows;
  const double width = layout.width;
  const double height = layout.height;
  const double radius = std::min(width / columns * 0.1, height / rows);
  const double left = width * cell.column / columns + kMargin;
  const double top = height * cell.row / rows + kMargin;

  cell.led.lit = LedBrush(kLitColor, radius);
  cell.led.unlit = LedBrush(kUnlitColor, radius);
  cell.led.rect = QRectF(-radius, -radius, 2 * radius, 2 * radius);
  cell.led.on = false;
  cell.centre = QPointF(left + radius, top + radius);

  cell.labelRect = QRectF(left + 2.05 * radius, top, kCellWidth - 2.05 * radius, kCellHeight);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(10);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  cell.caption.font = font;
  cell.caption.alignment = Qt::AlignLeft | Qt::AlignTop;
  cell.caption.brush = QBrush(Qt::black, Qt::SolidPattern);
  cell.caption.text = QString::fromUtf8(cell.label.data(), static_cast<qsizetype>(cell.label.size()));
}

}  // namespace

int32_t ParseMask(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated in 64 bits and held at the limit once past it, so no digit count overflows.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min(kLimit, value * 10 + (text[i] - '0'));
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

QBrush LedBrush(const QColor& color, double radius) {
  QRadialGradient gradient(QPointF(0, 0), radius);
  gradient.setColorAt(0, color);
  gradient.setColorAt(0.9, Scaled(color, 1.0, 0.34));
  gradient.setColorAt(1, Scaled(color, 0.19, 0.19));
  return QBrush(gradient);
}

LedLayout BuildLedLayout(std::string_view spec) {
  LedLayout layout;
  int column = 0;
  size_t start = 0;
  while (start < spec.size()) {
    const size_t end = std::min(spec.find(';', start), spec.size());
    const std::string_view token = spec.substr(start, end - start);
    start = end + 1;
    if (token == "newline") {
      ++layout.rows;
      column = 0;
      continue;
    }
    LedCell cell;
    const size_t comma = token.find(',');
    if (comma == std::string_view::npos) {
      cell.label = std::string(token);
    } else {
      cell.label = std::string(token.substr(0, comma));
      cell.mask = ParseMask(token.substr(comma + 1));
    }
    cell.column = column;
    cell.row = layout.rows;
    layout.cells.push_back(std::move(cell));
    ++column;
    layout.columns = std::max(layout.columns, column);
  }
  // Held at the int limit: only a text of millions of items could reach it.
  constexpr int64_t kMax = std::numeric_limits<int>::max();
  layout.width = static_cast<int>(std::min<int64_t>(kMax, int64_t{layout.columns} * static_cast<int>(kCellWidth)));
  layout.height = static_cast<int>(std::min<int64_t>(kMax, int64_t{layout.rows} * static_cast<int>(kCellHeight)));
  for (LedCell& cell : layout.cells) Place(cell, layout);
  return layout;
}
