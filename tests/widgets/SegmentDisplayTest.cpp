// The segment display: upper-casing, the window-text stand-in, colours and redraw rules.
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/SegmentDisplayCtrl.h"

#include <QPaintEvent>
#include <gtest/gtest.h>

namespace {

class CountingDisplay : public CSegmentDisplayCtrl {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    CSegmentDisplayCtrl::paintEvent(event);
  }
};

int CountColour(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
  }
  return n;
}

}  // namespace

TEST(SegmentDisplay, DefaultsAreTheQuestionMarkAndGreenOnDarkGreen) {
  CSegmentDisplayCtrl display;
  EXPECT_EQ(display.DisplayText(), QStringLiteral("?"));
  EXPECT_EQ(display.OffColor(), 0x003400u);
  EXPECT_EQ(display.OnColor(), 0x00FF00u);
  EXPECT_EQ(FromColorRef(display.OnColor()), QColor(0, 255, 0));
}

TEST(SegmentDisplay, TextIsShownInUpperCaseWithoutCharactersThatHaveNoGlyph) {
  CSegmentDisplayCtrl display;
  display.SetDisplayText(QStringLiteral("err 42.5"));
  EXPECT_EQ(display.DisplayText(), QStringLiteral("err 42.5"));
  EXPECT_EQ(display.ShownText(), QStringLiteral("ERR 42.5"));
  display.SetDisplayText(QStringLiteral("1#2~3"));
  EXPECT_EQ(display.ShownText(), QStringLiteral("123"));
  ASSERT_EQ(display.Glyphs().size(), 3u);
  display.SetDisplayText(QStringLiteral("12:30"));
  EXPECT_EQ(display.Glyphs()[2].kind, segments::CellKind::Narrow);
  EXPECT_EQ(display.Glyphs()[1].kind, segments::CellKind::Wide);
  // Every digit and Latin letter has a glyph, and so do minus, point, colon and blank.
  const QString all = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-.: ");
  display.SetDisplayText(all.toLower());
  EXPECT_EQ(display.ShownText(), all);
  // Russian texts are upper-cased too; letters a display can draw are kept.
  display.SetDisplayText(QStringLiteral("напр. ж"));
  EXPECT_EQ(display.ShownText(), QStringLiteral("НАПР. "));
}

TEST(SegmentDisplay, TheQuestionMarkStandsForTheWindowText) {
  CSegmentDisplayCtrl display;
  display.setWindowTitle(QStringLiteral("v1.2"));
  EXPECT_EQ(display.ShownText(), QStringLiteral("V1.2"));
  display.setWindowTitle(QStringLiteral("off"));
  QCoreApplication::processEvents();
  EXPECT_EQ(display.ShownText(), QStringLiteral("OFF"));
  display.SetDisplayText(QStringLiteral("7"));
  display.setWindowTitle(QStringLiteral("9"));
  EXPECT_EQ(display.ShownText(), QStringLiteral("7"));
}

TEST(SegmentDisplay, LitSegmentsUseTheOnColourAndDarkOnesTheOffColour) {
  CSegmentDisplayCtrl display;
  display.resize(120, 60);
  display.SetBackColor(0x000000);
  display.SetDisplayColors(MakeColorRef(0, 0, 200), MakeColorRef(220, 0, 0));
  const QRgb on = qRgb(220, 0, 0);
  const QRgb off = qRgb(0, 0, 200);

  display.SetDisplayText(QStringLiteral(" "));
  const QImage blank = testutil::Render(&display);
  EXPECT_EQ(CountColour(blank, on), 0);
  EXPECT_GT(CountColour(blank, off), 100);

  display.SetDisplayText(QStringLiteral("1"));
  const QImage one = testutil::Render(&display);
  const int litOne = CountColour(one, on);
  EXPECT_GT(litOne, 20);
  display.SetDisplayText(QStringLiteral("8"));
  const QImage eight = testutil::Render(&display);
  EXPECT_GT(CountColour(eight, on), 2 * litOne);
  EXPECT_LT(CountColour(eight, off), CountColour(one, off));
  EXPECT_EQ(eight.pixel(1, 1) & 0xFFFFFF, 0u);  // background
}

TEST(SegmentDisplay, TheSoftEdgeBlendsAQuarterOfTheBackgroundIntoTheOutline) {
  CSegmentDisplayCtrl display;
  display.SetBackColor(MakeColorRef(0, 0, 40));
  EXPECT_EQ(display.EdgeColor(QColor(200, 100, 0)), QColor(200, 100, 0));
  display.SetFlags(CSegmentDisplayCtrl::kSoftEdge);
  EXPECT_EQ(display.EdgeColor(QColor(200, 100, 0)), QColor(150, 75, 10));
}

TEST(SegmentDisplay, EqualTextsAndColoursDoNotRedraw) {
  CountingDisplay display;
  display.resize(100, 40);
  display.show();
  ASSERT_TRUE(testutil::WaitFor([&] { return display.paints > 0; }));
  testutil::Spin(20);
  const int start = display.paints;
  display.SetDisplayText(QStringLiteral("12"));
  testutil::Spin(30);
  EXPECT_EQ(display.paints, start + 1);
  display.SetDisplayText(QStringLiteral("12"));
  testutil::Spin(30);
  EXPECT_EQ(display.paints, start + 1);

  display.SetDisplayColors(display.OffColor(), display.OnColor());
  testutil::Spin(30);
  EXPECT_EQ(display.paints, start + 1);
  // With immediate redraw a colour change paints before the call returns.
  display.SetImmediateRedraw(true);
  display.SetDisplayColors(0x000040, 0x0000FF);
  EXPECT_EQ(display.paints, start + 2);
}

TEST(SegmentDisplay, AColourChangeRemovesTheWindowRegion) {
  CSegmentDisplayCtrl display;
  display.resize(100, 40);
  display.SetWindowRegion(QRegion(0, 0, 50, 40));
  EXPECT_TRUE(display.HasWindowRegion());
  EXPECT_FALSE(display.mask().isEmpty());
  display.SetDisplayColors(display.OffColor(), display.OnColor());  // equal: nothing
  EXPECT_TRUE(display.HasWindowRegion());
  display.SetDisplayColors(0x111111, 0x222222);
  EXPECT_FALSE(display.HasWindowRegion());
  EXPECT_TRUE(display.mask().isEmpty());
}
