// The splash view and the logo drawn from the in-memory resource.
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/DialogUnits.h"
#include "widgets/SplashScreen.h"
#include "widgets/StaticLogo.h"
#include "widgets/Templates.h"

#include <QFile>
#include <QLabel>
#include <gtest/gtest.h>

TEST(Splash, VersionPartsArePrintedInHexadecimal) {
  EXPECT_EQ(CSplashView::FormatVersionText(1, 0, 1, 5),
            QStringLiteral("Drennix Device Monitor v 1.0.1.5"));
  EXPECT_EQ(CSplashView::FormatVersionText(1, 0, 10, 0x1F),
            QStringLiteral("Drennix Device Monitor v 1.0.a.1f"));
  EXPECT_EQ(CSplashView::FormatVersionText(0xFFFF, 0, 0, 0),
            QStringLiteral("Drennix Device Monitor v ffff.0.0.0"));
}

TEST(Splash, TheViewHasItsStatusVersionAndLogoControls) {
  CSplashView view;
  const DialogBaseUnits units = DialogBaseUnits::FromWidget(&view);
  EXPECT_EQ(view.size(), units.ToPixels(QSize(319, 104)));
  ASSERT_NE(view.StatusLabel(), nullptr);
  EXPECT_EQ(view.StatusLabel()->text(), QStringLiteral("Loading..."));
  ASSERT_NE(view.VersionLabel(), nullptr);
  EXPECT_TRUE(view.VersionLabel()->text().startsWith(QStringLiteral("Drennix Device Monitor v ")));
  ASSERT_NE(view.Logo(), nullptr);
  EXPECT_TRUE(view.Logo()->HasImage());
  view.SetVersionText(2, 3, 0, 11);
  EXPECT_EQ(view.VersionLabel()->text(), QStringLiteral("Drennix Device Monitor v 2.3.0.b"));
  view.SetStatusText(QStringLiteral("Поиск устройства..."));
  EXPECT_EQ(view.StatusLabel()->text(), QStringLiteral("Поиск устройства..."));
  // Texts fit their controls.
  const QLabel* version = view.VersionLabel();
  EXPECT_LE(version->fontMetrics().horizontalAdvance(version->text()), version->width());
}

TEST(Splash, TheLogoIsDrawnIntoTheInnerNinetyPercent) {
  CStaticLogo logo;
  logo.resize(400, 100);
  const QRectF frame = logo.ImageFrame();
  EXPECT_DOUBLE_EQ(frame.left(), 20.0);
  EXPECT_DOUBLE_EQ(frame.top(), 5.0);
  EXPECT_DOUBLE_EQ(frame.width(), 360.0);
  EXPECT_DOUBLE_EQ(frame.height(), 90.0);
  const QRectF image = logo.ImageRect();
  EXPECT_TRUE(frame.adjusted(-0.5, -0.5, 0.5, 0.5).contains(image));
  EXPECT_TRUE(qFuzzyCompare(image.width() / image.height(),
                            double(logo.Image().width()) / logo.Image().height()));

  const QImage painted = testutil::Render(&logo);
  // Outside the frame nothing is drawn; inside it the logo is.
  EXPECT_EQ(painted.pixel(2, 2), logo.palette().color(QPalette::Window).rgb());
  int ink = 0;
  for (int x = int(image.left()); x < int(image.right()); x += 2) {
    ink += painted.pixel(x, int(image.center().y())) != logo.palette().color(QPalette::Window).rgb();
  }
  EXPECT_GT(ink, 20);
}

TEST(Splash, LogosShareTheResourceInMemoryAndWriteNoFiles) {
  testutil::ScratchFolder folder;
  auto* first = new CStaticLogo;
  CStaticLogo second;
  second.resize(300, 80);
  EXPECT_FALSE(QFile::exists(QStringLiteral("~tmpfilename.png")));
  delete first;
  // The other logo still paints after the first one has gone.
  const QImage painted = testutil::Render(&second);
  const QPointF middle = second.ImageRect().center();
  int ink = 0;
  for (int x = 0; x < painted.width(); ++x) {
    ink += painted.pixel(x, int(middle.y())) != second.palette().color(QPalette::Window).rgb();
  }
  EXPECT_GT(ink, 20);
  EXPECT_TRUE(QDir(folder.Path()).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());

  CStaticLogo missing(9999);
  EXPECT_FALSE(missing.HasImage());
  missing.resize(50, 20);
  testutil::Render(&missing);
}
