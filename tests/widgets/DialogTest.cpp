// Dialog units and the template builder.
#include "widgets/DialogTemplate.h"
#include "widgets/DialogUnits.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/LedButton.h"
#include "widgets/SegmentDisplayCtrl.h"
#include "widgets/StaticGraphCtrl.h"

#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZeroAndRejectsBadInput) {
  EXPECT_EQ(MulDiv(5, 7, 4), 9);     // 8.75
  EXPECT_EQ(MulDiv(3, 6, 4), 5);     // 4.5
  EXPECT_EQ(MulDiv(-3, 6, 4), -5);   // -4.5
  EXPECT_EQ(MulDiv(3, 6, -4), -5);
  EXPECT_EQ(MulDiv(-3, -6, -4), -5);
  EXPECT_EQ(MulDiv(7, 5, 8), 4);     // 4.375
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(2147483647, 2, 1), -1);
  // No 32-bit overflow in the intermediate product.
  EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000);
}

TEST(DialogUnits, WithoutADialogDialogUnitsArePixels) {
  const DialogBaseUnits units = DialogBaseUnits::FromWidget(nullptr);
  EXPECT_EQ(units.horizontal, 4);
  EXPECT_EQ(units.vertical, 8);
  EXPECT_EQ(units.ToPixels(QRect(7, 9, 246, 118)), QRect(7, 9, 246, 118));
  EXPECT_EQ(units.ToPixels(QSize(319, 104)), QSize(319, 104));
}

TEST(DialogUnits, FontUnitsFollowTheLetterWidthAndCharacterHeight) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(13);
  const DialogBaseUnits units = DialogBaseUnits::FromFont(font);
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // The rule works in integers: (width / 26 + 1) / 2, i.e. half the average letter rounded.
  EXPECT_EQ(units.horizontal, (letters / 26 + 1) / 2);
  EXPECT_EQ(units.vertical, metrics.ascent() + metrics.descent());
  EXPECT_GT(units.horizontal, 4);

  QFont bigger = font;
  bigger.setPixelSize(26);
  const DialogBaseUnits big = DialogBaseUnits::FromFont(bigger);
  EXPECT_GT(big.horizontal, units.horizontal);
  EXPECT_GT(big.vertical, units.vertical);

  // 10 dialog units across at h = 7: 10 * 7 / 4 = 17.5, rounded up to 18.
  const DialogBaseUnits seven{7, 16};
  EXPECT_EQ(seven.ToPixelsX(10), 18);
  EXPECT_EQ(seven.ToPixelsY(10), 20);
}

TEST(DialogTemplateBuilder, BuildsControlsAtTheirConvertedPlacesAndFindsThemById) {
  QWidget dialog;
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  dialog.setFont(font);
  const DialogTemplate tmpl{
      200, QStringLiteral("Test"), 160, 80,
      {{1001, ControlKind::Static, QStringLiteral("Label"), 5, 6, 60, 10, ControlStyle::kRight, {}},
       {1002, ControlKind::DefButton, QStringLiteral("OK"), 100, 60, 50, 14, 0, {}},
       {1003, ControlKind::Progress, QString(), 5, 30, 150, 10, ControlStyle::kHidden, {}},
       {1004, ControlKind::Custom, QString(), 5, 45, 20, 10, 0, QStringLiteral("NoSuchClass")},
       {1033, ControlKind::CheckBox, QStringLiteral("led"), 5, 60, 40, 10, ControlStyle::kDisabled, {}}}};
  const std::map<int, ControlFactory> overrides{
      {1033, [](const ControlTemplate& c, QWidget* parent) {
         auto* led = new CLedButton(parent);
         led->setText(c.text);
         return led;
       }}};
  const auto built = BuildDialog(tmpl, &dialog, overrides);
  ASSERT_EQ(built.size(), 5u);
  const DialogBaseUnits units = DialogBaseUnits::FromWidget(&dialog);
  EXPECT_EQ(dialog.size(), units.ToPixels(QSize(160, 80)));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Test"));

  auto* label = control<QLabel>(&dialog, 1001);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("Label"));
  EXPECT_EQ(label->geometry(), units.ToPixels(QRect(5, 6, 60, 10)));
  EXPECT_TRUE(label->alignment() & Qt::AlignRight);

  auto* ok = control<QPushButton>(&dialog, 1002);
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(controlId(ok), 1002);

  auto* bar = control<CGradientProgressCtrl>(&dialog, 1003);
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isHidden());

  // An unknown class still holds its id and place.
  QWidget* placeholder = control(&dialog, 1004);
  ASSERT_NE(placeholder, nullptr);
  EXPECT_EQ(placeholder->geometry(), units.ToPixels(QRect(5, 45, 20, 10)));

  // The override replaced the check box, and the style bits still apply to it.
  EXPECT_EQ(control<QCheckBox>(&dialog, 1033), nullptr);
  auto* led = control<CLedButton>(&dialog, 1033);
  ASSERT_NE(led, nullptr);
  EXPECT_FALSE(led->isEnabled());

  EXPECT_EQ(control(&dialog, 4242), nullptr);
  EXPECT_EQ(control(nullptr, 1001), nullptr);
  EXPECT_EQ(controlId(&dialog), 0);
}

TEST(DialogTemplateBuilder, FindsControlsOfNestedTemplatesAndRegisteredClasses) {
  RegisterControlClass(QStringLiteral("TestBox"), [](const ControlTemplate& c, QWidget* parent) {
    auto* label = new QLabel(QStringLiteral("custom:") + c.text, parent);
    return label;
  });
  QWidget dialog;
  BuildDialog({1, {}, 100, 100, {{10, ControlKind::Frame, {}, 0, 0, 100, 100, 0, {}}}}, &dialog);
  QWidget* frame = control(&dialog, 10);
  ASSERT_NE(frame, nullptr);
  BuildDialog({2, {}, 0, 0, {{11, ControlKind::Custom, QStringLiteral("x"), 1, 1, 20, 8, 0, QStringLiteral("TestBox")}}},
              frame);
  auto* inner = control<QLabel>(&dialog, 11);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->text(), QStringLiteral("custom:x"));
  EXPECT_EQ(inner->parentWidget(), frame);
}

TEST(DialogTemplateBuilder, TheOwnerDrawnClassesAreKnownByName) {
  QWidget dialog;
  BuildDialog({3, {}, 200, 60,
               {{1033, ControlKind::Custom, QStringLiteral("Updated"), 0, 0, 60, 10, 0, QStringLiteral("CLedButton")},
                {1034, ControlKind::Custom, QStringLiteral("12.5"), 0, 12, 60, 20, 0, QStringLiteral("CSegmentDisplayCtrl")},
                {1035, ControlKind::Custom, {}, 70, 0, 100, 50, 0, QStringLiteral("CStaticGraphCtrl")}}},
              &dialog);
  auto* led = control<CLedButton>(&dialog, 1033);
  ASSERT_NE(led, nullptr);
  EXPECT_EQ(led->text(), QStringLiteral("Updated"));
  auto* display = control<CSegmentDisplayCtrl>(&dialog, 1034);
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(display->ShownText(), QStringLiteral("12.5"));  // "?" shows the template's text
  EXPECT_NE(control<CStaticGraphCtrl>(&dialog, 1035), nullptr);
}
