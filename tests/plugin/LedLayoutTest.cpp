// The panel's layout from keyword texts: cells, rows, masks read as atoi does, geometry.
#include <gtest/gtest.h>

#include <QGradient>
#include <limits>

#include "plugin/LedLayout.h"

namespace {

struct Cell {
  std::string label;
  int32_t mask;
  double column;
  double row;
};

struct LayoutCase {
  const char* name;
  const char* spec;
  int columns;
  int rows;
  std::vector<Cell> cells;
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

class LedLayoutCells : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LedLayoutCells, FromText) {
  const LayoutCase& c = GetParam();
  const LedLayout layout = BuildLedLayout(c.spec);
  EXPECT_EQ(layout.columns, c.columns);
  EXPECT_EQ(layout.rows, c.rows);
  EXPECT_EQ(layout.width, c.columns * 100);
  EXPECT_EQ(layout.height, c.rows * 40);
  ASSERT_EQ(layout.cells.size(), c.cells.size());
  for (size_t i = 0; i < c.cells.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(layout.cells[i].label, c.cells[i].label);
    EXPECT_EQ(layout.cells[i].mask, c.cells[i].mask);
    EXPECT_EQ(layout.cells[i].column, c.cells[i].column);
    EXPECT_EQ(layout.cells[i].row, c.cells[i].row);
    EXPECT_EQ(layout.cells[i].previous, 0);
    EXPECT_FALSE(layout.cells[i].led.on);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LedLayoutCells,
    ::testing::Values(
        LayoutCase{"TwoRows", "Run,1;Fault,2;newline;Alarm,4", 2, 2, {{"Run", 1, 0, 1}, {"Fault", 2, 1, 1}, {"Alarm", 4, 0, 2}}},
        LayoutCase{"EmptyPlace", "Run,1;;Stop,8", 3, 1, {{"Run", 1, 0, 1}, {"", 0, 1, 1}, {"Stop", 8, 2, 1}}},
        LayoutCase{"OneCell", "A,3", 1, 1, {{"A", 3, 0, 1}}},
        LayoutCase{"TrailingSeparator", "A,3;", 1, 1, {{"A", 3, 0, 1}}},
        LayoutCase{"NewlineExactOnly", "newline,1;Newline;newline ", 3, 1, {{"newline", 1, 0, 1}, {"Newline", 0, 1, 1}, {"newline ", 0, 2, 1}}},
        LayoutCase{"EmptyText", "", 0, 1, {}},
        LayoutCase{"TwoEmptyItems", ";;", 2, 1, {{"", 0, 0, 1}, {"", 0, 1, 1}}},
        LayoutCase{"LeadingNewlines", "newline;newline;A,1", 1, 3, {{"A", 1, 0, 3}}},
        LayoutCase{"MasksReadAsAtoi", "X,abc;B, 12abc;C,\t-7,9;D,+5", 4, 1, {{"X", 0, 0, 1}, {"B", 12, 1, 1}, {"C", -7, 2, 1}, {"D", 5, 3, 1}}},
        LayoutCase{"OverflowingMasks", "A,99999999999999999999;B,-99999999999999999999;C,2147483648;D,-2147483648", 4, 1,
                   {{"A", kMax, 0, 1}, {"B", kMin, 1, 1}, {"C", kMax, 2, 1}, {"D", kMin, 3, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

void ExpectStops(const QBrush& brush, const std::vector<std::pair<double, QColor>>& stops) {
  ASSERT_NE(brush.gradient(), nullptr);
  EXPECT_EQ(brush.gradient()->type(), QGradient::RadialGradient);
  const QGradientStops actual = brush.gradient()->stops();
  ASSERT_EQ(actual.size(), static_cast<qsizetype>(stops.size()));
  for (size_t i = 0; i < stops.size(); ++i) {
    EXPECT_DOUBLE_EQ(actual[i].first, stops[i].first);
    EXPECT_EQ(actual[i].second, stops[i].second) << i;
  }
}

TEST(LedLayoutGeometry, CellOnSecondRow) {
  const LedLayout layout = BuildLedLayout("Работа,1;Fault,2;newline;Alarm,4");
  EXPECT_EQ(layout.cells[0].caption.text, QStringLiteral("Работа"));
  EXPECT_EQ(layout.cells[1].centre, QPointF(115, 55));
  const LedCell& alarm = layout.cells[2];
  EXPECT_EQ(alarm.centre, QPointF(15, 95));
  EXPECT_EQ(alarm.led.rect, QRectF(-10, -10, 20, 20));
  EXPECT_EQ(alarm.labelRect, QRectF(25.5, 85, 79.5, 40));
  EXPECT_EQ(alarm.caption.font.family(), QStringLiteral("Arial"));
  EXPECT_EQ(alarm.caption.font.pixelSize(), 10);
  EXPECT_EQ(alarm.caption.alignment, Qt::AlignLeft | Qt::AlignTop);
  EXPECT_EQ(alarm.caption.brush.color(), QColor(Qt::black));
  ExpectStops(alarm.led.lit, {{0, QColor(255, 0, 0, 255)}, {0.9, QColor(86, 0, 0, 255)}, {1, QColor(48, 0, 0, 48)}});
  ExpectStops(alarm.led.unlit,
              {{0, QColor(205, 205, 205, 255)}, {0.9, QColor(69, 69, 69, 255)}, {1, QColor(38, 38, 38, 48)}});
}

}  // namespace
