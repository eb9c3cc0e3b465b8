// Under a dark palette every text the owner-drawn controls paint still reads: light on the dark
// faces and fields, black or white on the fixed colours of a gradient. And drawn on a screen
// of twice the density, a control is painted at that density, not scaled up from one pixel in
// two.
#include <gtest/gtest.h>

#include <QLabel>
#include <map>
#include <memory>

#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/Contrast.h"
#include "widgets/DarkPalette.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/LedButton.h"
#include "widgets/SplashScreen.h"
#include "widgets/StaticGraphCtrl.h"

namespace {

// How well the text in `area` reads: its commonest colour is the ground, and the pixel that
// stands out most from it is the ink.
double TextContrast(const QImage& image, const QRect& area) {
  std::map<QRgb, int> counts;
  const QRect inside = area & image.rect();
  for (int y = inside.top(); y <= inside.bottom(); ++y)
    for (int x = inside.left(); x <= inside.right(); ++x) ++counts[image.pixel(x, y)];
  if (counts.empty()) return 1.0;
  QRgb ground = counts.begin()->first;
  for (const auto& [colour, count] : counts)
    if (count > counts[ground]) ground = colour;
  double best = 1.0;
  for (const auto& entry : counts) best = std::max(best, contrast::Ratio(QColor(entry.first), QColor(ground)));
  return best;
}

std::unique_ptr<CGradientProgressCtrl> Bar(COLORREF fill, int position) {
  auto bar = std::make_unique<CGradientProgressCtrl>();
  bar->resize(200, 24);
  bar->SetGradientColors({fill, fill});
  bar->SetPos(position);
  bar->SetTextMode(CGradientProgressCtrl::kShowPercent);
  return bar;
}

TEST(Readability, EveryOwnerDrawnTextReadsUnderADarkPalette) {
  CStaticGraphCtrl graph;
  graph.resize(320, 180);
  graph.AddSeries();
  graph.SetCaption(QStringLiteral("Ток двигателя, А"));
  graph.ShowCaption(true);
  const auto overLight = Bar(0xA6F0CA, 100);
  const auto overDark = Bar(0x008000, 100);
  const auto empty = Bar(0xA6F0CA, 0);
  CSplashView splash;
  splash.SetStatusText(QStringLiteral("Loading..."));
  CLedButton led;
  led.setText(QStringLiteral("Пуск"));
  led.resize(120, 24);
  led.setEnabled(false);
  struct Case {
    const char* name;
    QWidget* widget;
    QRect text;  // where the text lies, in the widget
    double minimum;
  } const cases[] = {
      {"chart legend in the series colour", &graph, QRect(graph.PlotRect().topLeft() + QPoint(3, 3), QSize(100, 16)),
       contrast::kText},
      {"percentage over a light gradient", overLight.get(), overLight->BarRect(), contrast::kText},
      {"percentage over a dark gradient", overDark.get(), overDark->BarRect(), contrast::kText},
      {"percentage over the empty trough", empty.get(), empty->BarRect(), contrast::kText},
      {"splash version", &splash, splash.VersionLabel()->geometry(), contrast::kText},
      {"splash status line", &splash, splash.StatusLabel()->geometry(), contrast::kText},
      {"caption of a disabled lamp button", &led, led.CaptionRect(led.rect()), 3.0},  // greyed out, yet legible
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.widget->setPalette(DarkPalette());
    EXPECT_GE(TextContrast(testutil::Render(c.widget), c.text), c.minimum);
  }
}

// On an image of device pixel ratio 2 the lamp's gradient changes from one device pixel to
// the next; a lamp drawn at ratio 1 and scaled up would repeat every pixel twice.
TEST(Readability, LampsAreDrawnAtTheDevicePixelRatio) {
  CLedButton led;
  led.resize(40, 20);
  led.SetStateColor(0, 255, 0, 255, 0);
  QImage image(led.size() * 2, QImage::Format_ARGB32);
  image.setDevicePixelRatio(2.0);
  image.fill(Qt::black);
  led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  // The row through the lamp's centre, across its 16 logical (32 device) pixels.
  const int y = image.height() / 2;
  int pairs = 0;
  int differing = 0;
  for (int x = 0; x + 1 < 2 * 2 * CLedButton::kLampRadius; x += 2, ++pairs)
    differing += image.pixel(x, y) != image.pixel(x + 1, y);
  EXPECT_GT(differing, pairs / 2);
  EXPECT_GT(qGreen(image.pixel(2 * CLedButton::kLampRadius, y)), 200);  // the full colour in the middle
}

}  // namespace
