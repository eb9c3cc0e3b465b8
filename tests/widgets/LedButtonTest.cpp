// The LED button: lamp colours per state, the dark rim, geometry of lamp and caption.
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/LedButton.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// Four states as every visual object sets them up.
void SetUpVisualObjectStates(CLedButton& led) {
  led.SetStateCount(4, false);
  led.SetStateColor(0, 255, 205, 205, 205);
  led.SetStateColor(1, 255, 255, 255, 255);
  led.SetStateColor(2, 255, 0, 255, 0);
  led.SetStateColor(3, 255, 255, 255, 0);
}

QRgb LampCentre(CLedButton& led) {
  const QImage image = testutil::Render(&led);
  const QRect area = led.LampArea(led.rect());
  return image.pixel(area.left() + area.width() / 2, led.height() / 2);
}

// The lamp's centre is a pixel corner, so the four pixels around it sample the gradient a
// fraction of a pixel out: within 20 of the full colour.
void ExpectNear(QRgb actual, int r, int g, int b, int tolerance = 20) {
  EXPECT_NEAR(qRed(actual), r, tolerance);
  EXPECT_NEAR(qGreen(actual), g, tolerance);
  EXPECT_NEAR(qBlue(actual), b, tolerance);
}

}  // namespace

TEST(LedButton, ANewButtonHasTwoStatesWithoutLamps) {
  CLedButton led;
  EXPECT_EQ(led.GetStateCount(), 2);
  EXPECT_EQ(led.GetState(), 0);
  EXPECT_EQ(led.StateLamp(0), nullptr);
  EXPECT_EQ(led.StateLamp(1), nullptr);
  EXPECT_EQ(led.StateTextColor(0), led.palette().color(QPalette::ButtonText));
  EXPECT_EQ(led.StateBackColor(1), led.palette().color(QPalette::Window));
}

TEST(LedButton, TheLampCentreShowsTheStateColourAndTheRimIsDarker) {
  CLedButton led;
  led.resize(120, 24);
  led.setText(QStringLiteral("Updated"));
  SetUpVisualObjectStates(led);
  const int expected[4][3] = {{205, 205, 205}, {255, 255, 255}, {0, 255, 0}, {255, 255, 0}};
  for (int state = 0; state < 4; ++state) {
    SCOPED_TRACE(state);
    led.SetState(state);
    ASSERT_EQ(led.GetState(), state);
    const QRgb centre = LampCentre(led);
    ExpectNear(centre, expected[state][0], expected[state][1], expected[state][2]);

    // Just inside the rim the lamp is far darker than in its middle.
    const QImage image = testutil::Render(&led);
    const QRect area = led.LampArea(led.rect());
    const int cx = area.left() + area.width() / 2;
    const QRgb rim = image.pixel(cx + CLedButton::kLampRadius - 1, led.height() / 2);
    EXPECT_LT(testutil::Luminance(rim), testutil::Luminance(centre) / 2);
  }
  // The lamp is 16 pixels wide and ends before the caption, which starts 3 pixels later.
  EXPECT_EQ(led.StateLampWidth(2), 16);
  EXPECT_EQ(led.CaptionRect(led.rect()).left(), 16 + 3);
}

TEST(LedButton, TheLampBrushRunsFromAFifthOfTheColourAtTheRimToTheFullColour) {
  const LedLamp lamp(8, QColor(200, 100, 50, 255));
  EXPECT_EQ(lamp.Rect(), QRectF(-8, -8, 16, 16));
  const QGradientStops stops = lamp.Brush().stops();
  ASSERT_EQ(stops.size(), 3);
  EXPECT_DOUBLE_EQ(stops[0].first, 0.0);  // centre
  EXPECT_EQ(stops[0].second, QColor(200, 100, 50));
  EXPECT_DOUBLE_EQ(stops[1].first, 0.9);
  EXPECT_EQ(stops[1].second, QColor(68, 34, 17));  // 0.34, truncated
  EXPECT_DOUBLE_EQ(stops[2].first, 1.0);  // outline
  EXPECT_EQ(stops[2].second, QColor(38, 19, 9));   // 0.19, truncated
}

TEST(LedButton, SetStateOutsideTheStatesKeepsTheCurrentOne) {
  CLedButton led;
  led.resize(100, 24);
  SetUpVisualObjectStates(led);
  led.SetState(2);
  led.SetState(4);
  EXPECT_EQ(led.GetState(), 2);
  led.SetState(-1);
  EXPECT_EQ(led.GetState(), 2);
  ExpectNear(LampCentre(led), 0, 255, 0);
  // A colour for a state that does not exist is ignored, and still reported as done.
  EXPECT_TRUE(led.SetStateColor(9, 255, 255, 0, 0));
  EXPECT_EQ(led.StateLamp(9), nullptr);
  // Fewer states drop the lamps: the current index is then outside and paints nothing.
  led.SetStateCount(2, true);
  EXPECT_EQ(led.StateLamp(0), nullptr);
}

TEST(LedButton, AStateWithoutALampDrawsOnlyTheCaptionThreePixelsFromTheLeft) {
  CLedButton led;
  led.resize(140, 24);
  led.setText(QStringLiteral("IIII"));
  led.SetStateBackColor(0, Qt::white);
  led.SetStateTextColor(0, Qt::black);
  const QImage image = testutil::Render(&led);
  int firstInk = -1;
  for (int x = 0; x < image.width() && firstInk < 0; ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if (testutil::Luminance(image.pixel(x, y)) < 128) {
        firstInk = x;
        break;
      }
    }
  }
  EXPECT_GE(firstInk, 3);
  EXPECT_LE(firstInk, 6);
}

TEST(LedButton, TheLeftTextStylePutsTheLampAtTheRightEdgeAndKeepsOwnerDraw) {
  CLedButton led;
  led.resize(120, 24);
  led.setText(QStringLiteral("Left"));
  SetUpVisualObjectStates(led);
  led.SetState(2);
  led.SetButtonStyle(0x0003 /* auto check box */ | ButtonStyle::kLeftText);
  EXPECT_EQ(led.ButtonStyleBits() & ButtonStyle::kTypeMask, ButtonStyle::kOwnerDraw);
  EXPECT_TRUE(led.ButtonStyleBits() & ButtonStyle::kLeftText);
  EXPECT_EQ(led.LampArea(led.rect()), QRect(104, 0, 16, 24));
  EXPECT_EQ(led.CaptionRect(led.rect()).right(), 104 - 1 - 3);
  const QImage image = testutil::Render(&led);
  ExpectNear(image.pixel(112, 12), 0, 255, 0);
}

TEST(LedButton, ADesktopColourChangeResetsTheStateColours) {
  CLedButton led;
  SetUpVisualObjectStates(led);
  led.SetStateBackColor(1, Qt::red);
  const QPalette original = QApplication::palette();
  QPalette changed = original;
  changed.setColor(QPalette::Window, QColor(10, 20, 30));
  QApplication::setPalette(changed);
  QCoreApplication::processEvents();
  EXPECT_EQ(led.StateBackColor(1), QColor(10, 20, 30));
  EXPECT_NE(led.StateLamp(1), nullptr);
  QApplication::setPalette(original);
}

// A page that paints a lighter background than the dialog face, as a tab page does: around
// its lamp the button shows the page, unless a state has a back colour of its own.
TEST(LedButton, AroundTheLampTheButtonShowsItsParentsBackground) {
  QWidget page;
  QPalette light = page.palette();
  light.setColor(QPalette::Base, Qt::white);
  light.setColor(QPalette::Window, QColor(0xD4, 0xD0, 0xC8));
  page.setPalette(light);
  page.setBackgroundRole(QPalette::Base);
  page.setAutoFillBackground(true);
  page.resize(200, 40);
  auto* led = new CLedButton(&page);
  led->setGeometry(10, 8, 120, 24);
  SetUpVisualObjectStates(*led);
  led->SetState(2);
  led->SetStateBackColor(3, Qt::red);
  const struct {
    int state;
    QColor expected;
  } cases[] = {{2, Qt::white}, {3, Qt::red}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    led->SetState(c.state);
    const QImage image = page.grab().toImage();
    // The top-right corner of the button: outside the lamp, and the caption is empty.
    const QRgb corner = image.pixel(led->geometry().right() - 1, led->geometry().top() + 1);
    EXPECT_EQ(QColor(corner).name(), c.expected.name());
  }
}

TEST(LedButton, ACaptionWithoutRoomLeavesNoSliverBesideTheLamp) {
  QWidget page;
  page.setAutoFillBackground(true);
  page.resize(60, 30);
  auto* led = new CLedButton(&page);
  SetUpVisualObjectStates(*led);
  led->SetState(1);
  led->setText("Timeout");
  const QRgb background = page.grab().toImage().pixel(50, 25);
  for (int width : {19, 22, 26}) {  // a lamp of 16 pixels and a few more for the caption
    SCOPED_TRACE(width);
    led->setGeometry(2, 2, width, 24);
    const QImage image = page.grab().toImage();
    const QRect caption = led->CaptionRect(led->rect()).translated(led->pos());
    for (int x = caption.left(); x <= caption.right(); ++x)
      for (int y = caption.top(); y <= caption.bottom(); ++y) ASSERT_EQ(image.pixel(x, y), background) << x << "," << y;
  }
}
