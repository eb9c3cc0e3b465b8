// The gradient progress bar: range, clamping, text, the filled part and the animation.
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/PrintfNumber.h"

#include <gtest/gtest.h>

namespace {
template <typename T>
concept TakesValue = requires(T& bar) { bar.setValue(1); };
template <typename T>
concept TakesRange = requires(T& bar) { bar.setRange(0, 1); };
}  // namespace

TEST(GradientProgress, SetPosClampsIntoTheRangeAndReturnsThePreviousPosition) {
  CGradientProgressCtrl bar;
  bar.SetRange(500, 600);
  EXPECT_EQ(bar.GetPos(), 500);  // the old position 0 was clamped by the new range
  EXPECT_EQ(bar.SetPos(550), 500);
  EXPECT_EQ(bar.SetPos(100), 550);
  EXPECT_EQ(bar.GetPos(), 500);
  EXPECT_EQ(bar.SetPos(600), 500);
  EXPECT_EQ(bar.SetPos(1000), 600);
  EXPECT_EQ(bar.GetPos(), 600);
}

TEST(GradientProgress, TextShowsThePercentOrTheValueOrACustomFormat) {
  CGradientProgressCtrl bar;
  EXPECT_EQ(bar.DisplayText(), QString());
  bar.SetRange(500, 600);
  bar.SetTextFormat(QStringLiteral("%d%%"), 256);
  bar.SetPos(500);
  EXPECT_EQ(bar.DisplayText(), QStringLiteral("0%"));
  bar.SetPos(575);
  EXPECT_EQ(bar.DisplayText(), QStringLiteral("75%"));
  bar.SetPos(600);
  EXPECT_EQ(bar.DisplayText(), QStringLiteral("100%"));

  bar.SetTextFormat(QString(), 256);  // clears the custom text and the mode
  EXPECT_EQ(bar.DisplayText(), QString());
  bar.SetTextMode(CGradientProgressCtrl::kShowValue);
  EXPECT_EQ(bar.DisplayText(), QStringLiteral("600"));
  bar.SetTextMode(CGradientProgressCtrl::kShowPercent);
  EXPECT_EQ(bar.DisplayText(), QStringLiteral("100%"));
  bar.SetTextFormat(QStringLiteral("Sector %d"), CGradientProgressCtrl::kShowValue);
  EXPECT_EQ(bar.DisplayText(), QStringLiteral("Sector 600"));
}

TEST(GradientProgress, FormatsOnlyFillInIntegersAndCopyEverythingElse) {
  EXPECT_EQ(FormatNumber(QStringLiteral("%d%%"), 42), QStringLiteral("42%"));
  EXPECT_EQ(FormatNumber(QStringLiteral("[%5d|%-4d|%03d]"), 7), QStringLiteral("[    7|7   |007]"));
  EXPECT_EQ(FormatNumber(QStringLiteral("%x"), 255), QStringLiteral("ff"));
  // Conversions that would read arguments nobody passed stay as text.
  EXPECT_EQ(FormatNumber(QStringLiteral("%s %n %d"), 5), QStringLiteral("%s %n 5"));
  EXPECT_EQ(FormatNumber(QStringLiteral("100%"), 5), QStringLiteral("100%"));
  // A width too long to be one is text as well, not a huge field.
  EXPECT_EQ(FormatNumber(QStringLiteral("%99999999d"), 5), QStringLiteral("%99999999d"));
}

TEST(GradientProgress, TheFilledPartShowsTheGradientAndTheRestStaysEmpty) {
  CGradientProgressCtrl bar;
  bar.resize(204, 20);
  bar.SetGradientColors({0x0000D0, 0x0000D0});  // red, as COLORREF
  bar.SetPos(50);
  const QRect filled = bar.FilledRect();
  EXPECT_EQ(filled.left(), bar.BarRect().left());
  EXPECT_EQ(filled.width(), bar.BarRect().width() / 2);
  const QImage image = testutil::Render(&bar);
  const QRgb inside = image.pixel(filled.left() + 20, filled.top() + filled.height() * 3 / 4);
  EXPECT_GT(qRed(inside), 150);
  EXPECT_LT(qGreen(inside), 40);
  EXPECT_LT(qBlue(inside), 40);
  const QRgb outside = image.pixel(filled.right() + 30, filled.top() + filled.height() * 3 / 4);
  EXPECT_EQ(QColor(outside), bar.palette().color(QPalette::Base));

  bar.SetPos(0);
  EXPECT_TRUE(bar.FilledRect().isEmpty());
}

TEST(GradientProgress, AnimationAdvancesByTheStepAndWrapsAtTheBarLength) {
  CGradientProgressCtrl bar;
  bar.resize(104, 20);
  ASSERT_EQ(bar.BarLength(), 100);
  bar.SetAnimationStep(7);
  bar.SetAnimation(true);
  EXPECT_TRUE(bar.Timers().running(CGradientProgressCtrl::kAnimationTimer));
  EXPECT_EQ(bar.Timers().period(CGradientProgressCtrl::kAnimationTimer), 55);
  for (int i = 0; i < 14; ++i) bar.AdvanceAnimation();
  EXPECT_EQ(bar.AnimationOffset(), 98);
  bar.AdvanceAnimation();
  EXPECT_EQ(bar.AnimationOffset(), 5);

  bar.SetAnimation(false);
  EXPECT_EQ(bar.AnimationOffset(), 0);
  EXPECT_FALSE(bar.Timers().running(CGradientProgressCtrl::kAnimationTimer));

  // A bar without length does not divide by it.
  CGradientProgressCtrl flat;
  flat.resize(3, 3);
  flat.AdvanceAnimation();
  EXPECT_EQ(flat.AnimationOffset(), 0);
}

TEST(GradientProgress, TheRunningTimerMovesTheGradientThatIsDrawn) {
  CGradientProgressCtrl bar;
  bar.resize(104, 20);
  bar.SetGradientColors({0x000000, 0xFFFFFF, 0x000000});
  bar.SetPos(100);
  const int y = bar.height() * 3 / 4;
  const int x = bar.BarRect().left() + 1;
  const int still = testutil::Luminance(testutil::Render(&bar).pixel(x, y));
  bar.SetAnimationStep(50);
  bar.SetAnimation(true);
  ASSERT_TRUE(testutil::WaitFor([&] { return bar.AnimationOffset() != 0; }));
  EXPECT_EQ(bar.AnimationOffset(), 50);
  bar.SetAnimation(false);
  bar.SetAnimationStep(50);
  bar.AdvanceAnimation();  // half a bar: the white middle now sits at the left end
  const int moved = testutil::Luminance(testutil::Render(&bar).pixel(x, y));
  EXPECT_GT(moved, still + 100);
}

// Position and range belong to SetPos and SetRange, which clamp and repaint. A second way in,
// such as QProgressBar's setValue and setRange, would change what the bar reports but not what
// it draws, so there is none: neither in code nor by name through the meta-object.
TEST(GradientProgress, SetPosAndSetRangeAreTheOnlyWayToMoveTheBar) {
  EXPECT_FALSE(TakesValue<CGradientProgressCtrl>);
  EXPECT_FALSE(TakesRange<CGradientProgressCtrl>);
  CGradientProgressCtrl bar;
  EXPECT_FALSE(QMetaObject::invokeMethod(&bar, "setValue", Q_ARG(int, 70)));
  EXPECT_EQ(bar.metaObject()->indexOfProperty("value"), -1);
}

TEST(GradientProgress, AVerticalBarFillsFromTheBottom) {
  CGradientProgressCtrl bar;
  bar.resize(20, 104);
  bar.setOrientation(Qt::Vertical);
  EXPECT_EQ(bar.orientation(), Qt::Vertical);
  EXPECT_EQ(bar.BarLength(), 100);
  bar.SetPos(25);
  EXPECT_EQ(bar.FilledRect(), QRect(2, 77, 16, 25));
}
