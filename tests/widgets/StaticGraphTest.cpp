// The graph: scrolling the window of visible samples, fitting and following the value axis,
// and where the polyline's points land.
#include "widgets/StaticGraphCtrl.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// A control whose plot is exactly 100 x 50 pixels with 20 pixels per sample (5 in view).
struct Graph {
  CStaticGraphCtrl ctrl;
  int series;
  explicit Graph(int samples) {
    ctrl.SetPlotMargins(QMargins(0, 0, 0, 0));
    ctrl.resize(100, 50);
    ctrl.SetPixelsPerSample(20);
    series = ctrl.AddSeries();
    for (int i = 0; i < samples; ++i) ctrl.AppendValue(series, i * i);
  }
  int Start() const { return ctrl.Series(series)->WindowStart(); }
};

}  // namespace

TEST(StaticGraph, AddSeriesReturnsConsecutiveIndices) {
  CStaticGraphCtrl ctrl;
  EXPECT_EQ(ctrl.AddSeries(), 0);
  EXPECT_EQ(ctrl.AddSeries(), 1);
  EXPECT_EQ(ctrl.SeriesCount(), 2);
  EXPECT_EQ(ctrl.Series(2), nullptr);
  EXPECT_EQ(ctrl.Series(0)->Pen().color(), QColor::fromRgba(0xFF316AC5));
  ctrl.ScrollTo(7, 3);  // no such series: nothing happens
  ctrl.FitToWindow(-1);
}

TEST(StaticGraph, ScrollToKeepsTheGivenSampleNewestAndNeverStartsBeforeTheFirst) {
  Graph g(10);
  ASSERT_EQ(g.ctrl.TimeAxis().VisibleCount(), 5);
  g.ctrl.ScrollTo(g.series, 9);
  EXPECT_EQ(g.Start(), 5);
  const auto points = g.ctrl.Series(g.series)->Points();
  ASSERT_EQ(points.size(), 5u);  // samples 5 to 9
  EXPECT_DOUBLE_EQ(points.front().x(), 0.0);
  EXPECT_DOUBLE_EQ(points.back().x(), 80.0);
  g.ctrl.ScrollTo(g.series, 2);
  EXPECT_EQ(g.Start(), 0);
  g.ctrl.ScrollTo(g.series, 4);
  EXPECT_EQ(g.Start(), 0);
  g.ctrl.ScrollTo(g.series, 5);
  EXPECT_EQ(g.Start(), 1);
}

TEST(StaticGraph, FitToWindowScalesToTheVisibleSamplesOnly) {
  Graph g(10);
  g.ctrl.ScrollTo(g.series, 9);
  g.ctrl.FitToWindow(g.series);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMinimum(), 25.0);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMaximum(), 81.0);
  // The smallest value sits on the bottom line, the largest on the top one.
  const auto points = g.ctrl.Series(g.series)->Points();
  const QRect plot = g.ctrl.PlotRect();
  EXPECT_DOUBLE_EQ(points.front().y(), plot.bottom());
  EXPECT_DOUBLE_EQ(points.back().y(), plot.top());

  g.ctrl.ScrollTo(g.series, 6);  // samples 2..6
  g.ctrl.FitToWindow(g.series);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMinimum(), 4.0);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMaximum(), 36.0);
}

TEST(StaticGraph, FitToWindowOfEqualValuesOpensOneUnitEachWay) {
  CStaticGraphCtrl ctrl;
  ctrl.SetPlotMargins(QMargins(0, 0, 0, 0));
  ctrl.resize(100, 50);
  ctrl.SetPixelsPerSample(20);
  const int s = ctrl.AddSeries();
  for (int i = 0; i < 8; ++i) ctrl.AppendValue(s, 7.0);
  ctrl.ScrollTo(s, 7);
  ctrl.FitToWindow(s);
  EXPECT_DOUBLE_EQ(ctrl.ValueMinimum(), 6.0);
  EXPECT_DOUBLE_EQ(ctrl.ValueMaximum(), 8.0);
}

TEST(StaticGraph, FitToWindowPastTheLastSampleChangesNothing) {
  Graph g(3);
  g.ctrl.SetValueRange(-5.0, 5.0);
  g.ctrl.ScrollTo(g.series, 10);  // window starts at 6, after the last sample 2
  EXPECT_EQ(g.Start(), 6);
  g.ctrl.FitToWindow(g.series);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMinimum(), -5.0);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMaximum(), 5.0);
  EXPECT_TRUE(g.ctrl.Series(g.series)->Points().empty());
}

TEST(StaticGraph, FollowValueShiftsTheRangeKeepingItsSpan) {
  Graph g(10);  // newest visible after ScrollTo(9) is 81
  g.ctrl.ScrollTo(g.series, 9);
  g.ctrl.SetValueRange(0.0, 10.0);
  g.ctrl.FollowValue(g.series);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMinimum(), 71.0);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMaximum(), 81.0);
  g.ctrl.SetValueRange(100.0, 120.0);
  g.ctrl.FollowValue(g.series);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMinimum(), 81.0);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMaximum(), 101.0);
  g.ctrl.SetValueRange(50.0, 90.0);  // inside: stays
  g.ctrl.FollowValue(g.series);
  EXPECT_DOUBLE_EQ(g.ctrl.ValueMinimum(), 50.0);
}

TEST(StaticGraph, ARangeWithoutSpanDrawsFinitePoints) {
  Graph g(4);
  g.ctrl.SetValueRange(3.0, 3.0);
  for (const QPointF& p : g.ctrl.Series(g.series)->Points()) {
    EXPECT_TRUE(std::isfinite(p.y()));
  }
  g.ctrl.Redraw();
}

TEST(StaticGraph, FollowValueInAPlotNarrowerThanOneStepUsesTheFirstSampleInView) {
  CStaticGraphCtrl ctrl;
  ctrl.SetPlotMargins(QMargins(0, 0, 0, 0));
  ctrl.resize(10, 50);
  ctrl.SetPixelsPerSample(20);
  const int s = ctrl.AddSeries();
  ASSERT_EQ(ctrl.TimeAxis().VisibleCount(), 0);
  ctrl.AppendValue(s, -7.5);
  ctrl.AppendValue(s, 40.0);
  ctrl.SetValueRange(0.0, 1.0);
  ctrl.FollowValue(s);  // the window starts at sample 0, the only one the plot shows
  EXPECT_DOUBLE_EQ(ctrl.ValueMinimum(), -7.5);
  EXPECT_DOUBLE_EQ(ctrl.ValueMaximum(), -6.5);
}

// The value labels are right-aligned against the plot: its left edge must leave room for the
// widest of them, whatever the range.
TEST(StaticGraph, TheLeftMarginHoldsTheWidestValueLabel) {
  const struct {
    double minimum, maximum;
  } ranges[] = {{0.0, 100.0}, {-1234567.0, 123456.7}, {1e9, 2.5e9}};
  for (const auto& range : ranges) {
    SCOPED_TRACE(range.minimum);
    CStaticGraphCtrl ctrl;
    ctrl.resize(320, 180);
    ctrl.SetValueRange(range.minimum, range.maximum);
    const QFontMetrics metrics(ctrl.font());
    int widest = 0;
    for (int i = 0; i <= 4; ++i) {
      const double value = range.maximum - (range.maximum - range.minimum) * i / 4;
      widest = std::max(widest, metrics.horizontalAdvance(QString::asprintf("%.2f", value)));
    }
    // The labels end 4 pixels before the plot and begin at the control's left edge.
    EXPECT_GE(ctrl.PlotRect().left() - 4, widest);
  }
  // Margins set by hand stay as they are.
  CStaticGraphCtrl custom;
  custom.resize(320, 180);
  custom.SetPlotMargins(QMargins(5, 5, 5, 5));
  custom.SetValueRange(-1234567.0, 123456.7);
  EXPECT_EQ(custom.PlotRect().left(), custom.contentsRect().left() + 5);
}
