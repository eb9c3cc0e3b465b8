// The input objects driven as an operator drives them: typing, the trackbar's keys, clicks
// and list selections, with the writes that follow and the delays before them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "tests/visualobject/ObjectTestSupport.h"
#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"

using namespace objtest;
using testutil::WaitFor;

namespace {

template <typename W>
W* Control(CVisualObject& object, int id) {
  W* widget = control<W>(&object, id);
  EXPECT_NE(widget, nullptr) << id;
  return widget;
}

TEST(PropertyEdit, WritesTheClampedTypedValueAfterTheDelays) {
  struct Case {
    ModbusProperty property;
    const char* typed;
    int32_t written;
    const char* shown;
  } const cases[] = {
      {Property(PropertyKind::RangedInt, 10, 20), "25", 20, "20"},
      {Property(PropertyKind::RangedInt, 10, 20), "abc", 10, "10"},
      {Property(PropertyKind::RangedFix, 0, 1000, 0.1), "2.38", 23, "2.3"},
      {Property(PropertyKind::None, 0, 0), "77", 0, "0"},
  };
  // All cases type at once and wait together: each needs 2500 + 1000 ms.
  std::vector<std::unique_ptr<Rig<CPropertyEdit>>> rigs;
  for (const Case& c : cases) {
    rigs.push_back(std::make_unique<Rig<CPropertyEdit>>(OneEntry("edit", c.property)));
    ASSERT_TRUE(rigs.back()->Create());
    ASSERT_TRUE(rigs.back()->Settle());
    QTest::keyClicks(Control<QLineEdit>(*rigs.back()->object, objtemplates::kEditInput), c.typed);
  }
  for (size_t i = 0; i < rigs.size(); ++i) {
    Rig<CPropertyEdit>& rig = *rigs[i];
    // The value to be written shows first, then the write follows a second later (by which
    // time a loaded machine may already be when this case is looked at).
    ASSERT_TRUE(WaitFor([&] { return rig.object->TimerRunning(CVisualObject::QueryTimer) || rig.server.Writes() > 0; },
                        25000))
        << i;
    if (rig.object->TimerRunning(CVisualObject::QueryTimer)) {
      EXPECT_EQ(rig.server.Writes(), 0);
      EXPECT_EQ(rig.object->TimerPeriod(CVisualObject::QueryTimer), 1000);
    }
    EXPECT_EQ(Control<QLineEdit>(*rig.object, objtemplates::kTextData)->text().toStdString(), cases[i].shown);
    ASSERT_TRUE(WaitFor([&] { return rig.server.Writes() == 1; }, 10000)) << i;
    EXPECT_EQ(rig.server.Last().value, cases[i].written) << cases[i].typed;
  }
}

TEST(PropertyEdit, EveryKeystrokeRestartsTheWait) {
  Rig<CPropertyEdit> rig(OneEntry("edit", Property(PropertyKind::RangedInt, 0, 1000)));
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(rig.Settle());
  auto* input = Control<QLineEdit>(*rig.object, objtemplates::kEditInput);
  for (const char* key : {"1", "2", "3"}) {
    QTest::keyClicks(input, key);
    testutil::Spin(300);
  }
  ASSERT_TRUE(WaitFor([&] { return rig.server.Writes() == 1; }, 20000));
  EXPECT_EQ(rig.server.Last().value, 123);
  testutil::Spin(200);
  EXPECT_EQ(rig.server.Writes(), 1);
}

TEST(PropertyEdit, GaugeShowsRangeAndNeverTakesInput) {
  Rig<CPropertyEdit> rig(OneEntry("edit", Property(PropertyKind::RangedFix, -50, 250, 0.1), 1));
  ASSERT_TRUE(rig.Create());
  EXPECT_EQ(Control<QLineEdit>(*rig.object, objtemplates::kTextMin)->text(), "-5");
  EXPECT_EQ(Control<QLineEdit>(*rig.object, objtemplates::kTextMax)->text(), "25");
  EXPECT_FALSE(Control<QLineEdit>(*rig.object, objtemplates::kEditInput)->isEnabled());
  EXPECT_TRUE(rig.object->TimerRunning(CVisualObject::StartTimer));
  rig.object->InstantQuery(true);
  EXPECT_EQ(rig.server.Writes(), 0);
}

TEST(SliderProperty, TrackbarMovesWriteOnceAfterTheLastMove) {
  Rig<CSliderProperty> rig(OneEntry("slider", Property(PropertyKind::RangedInt, 0, 100)));
  rig.server.readValue = 10;
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(rig.Settle());
  auto* slider = Control<QSlider>(*rig.object, objtemplates::kSlider);
  EXPECT_EQ(slider->value(), 10);
  EXPECT_EQ(Control<QLabel>(*rig.object, objtemplates::kSliderRightCap)->text(), "100");
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(Control<QLineEdit>(*rig.object, objtemplates::kSliderValue)->text().toInt(), 11 + i);
    EXPECT_EQ(rig.object->TimerPeriod(CVisualObject::QueryTimer), 1000);
  }
  ASSERT_TRUE(WaitFor([&] { return rig.server.Writes() == 1; }, 10000));
  EXPECT_EQ(rig.server.Last().value, 13);
  testutil::Spin(100);
  EXPECT_EQ(rig.server.Writes(), 1);
}

TEST(SliderProperty, TypedValueIsClampedToTheTrackbar) {
  Rig<CSliderProperty> rig(OneEntry("slider", Property(PropertyKind::RangedFix, 0, 100, 0.5)));
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(rig.Settle());
  QTest::keyClicks(Control<QLineEdit>(*rig.object, objtemplates::kSliderEdit), "75");
  EXPECT_EQ(rig.object->InputSourceNow(), CSliderProperty::Typing);
  // A trackbar move while the typed value waits is ignored.
  QTest::keyClick(Control<QSlider>(*rig.object, objtemplates::kSlider), Qt::Key_Right);
  ASSERT_TRUE(WaitFor([&] { return rig.server.Writes() == 1; }, 20000));
  EXPECT_EQ(rig.server.Last().value, 100);  // 75 / 0.5 = 150, above the range
  EXPECT_EQ(Control<QSlider>(*rig.object, objtemplates::kSlider)->value(), 100);
  EXPECT_EQ(Control<QLineEdit>(*rig.object, objtemplates::kSliderValue)->text(), "50");
}

TEST(SliderProperty, ReadsNeverStartAnInputCycle) {
  Rig<CSliderProperty> rig(OneEntry("slider", Property(PropertyKind::RangedInt, 0, 100), 1, {{"update_frequency", "10"}}));
  rig.server.readValue = 42;
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(WaitFor([&] { return rig.server.Reads() >= 3; }, 10000));
  EXPECT_EQ(Control<QSlider>(*rig.object, objtemplates::kSlider)->value(), 42);
  EXPECT_EQ(rig.object->InputSourceNow(), CSliderProperty::NoInput);
  EXPECT_EQ(rig.server.Writes(), 0);
}

TEST(PropertyBinary, ClickWritesUnlessGauge) {
  for (int32_t gauge : {0, 1}) {
    Rig<CPropertyBinary> rig(OneEntry("check", Property(PropertyKind::Binary, 0, 1, 1, "Пуск"), gauge));
    ASSERT_TRUE(rig.Create());
    ASSERT_TRUE(rig.Settle());
    auto* check = Control<QCheckBox>(*rig.object, objtemplates::kCheck);
    EXPECT_EQ(check->text(), "Пуск");
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(6, check->height() / 2));  // on the box
    EXPECT_TRUE(check->isChecked());  // the control changes either way
    EXPECT_EQ(rig.server.Writes(), gauge ? 0 : 1);
    if (!gauge) {
      EXPECT_EQ(rig.server.Last().value, 1);
    }
  }
}

TEST(PropertyCombo, ListsDataTextsUpToTheFirstEmptyAndWritesTheIndex) {
  ModbusProperty p = Property(PropertyKind::Natural, 0, 4);
  p.data = {"A", "B", "", "C"};
  Rig<CPropertyCombo> rig(OneEntry("combo", p));
  rig.server.readValue = 0;
  rig.server.writeAnswer = {1};  // a finished write shows nothing
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(rig.Settle());
  auto* combo = Control<QComboBox>(*rig.object, objtemplates::kCombo);
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->currentIndex(), 0);
  QTest::keyClick(combo, Qt::Key_Down);  // opens the list
  QTest::keyClick(combo->view(), Qt::Key_Down);
  QTest::keyClick(combo->view(), Qt::Key_Return);
  EXPECT_EQ(rig.server.Writes(), 1);
  EXPECT_EQ(rig.server.Last().value, 1);
  rig.object->SetValue(0);  // as if a read came in while the write is on its way
  ASSERT_TRUE(rig.Settle());
  EXPECT_EQ(combo->currentIndex(), 0);  // the write's answer is not shown
  EXPECT_EQ(rig.object->Led()->GetState(), CVisualObject::LedUpdated);
  rig.object->SetValue(3);  // no such item
  EXPECT_EQ(combo->currentIndex(), -1);
}

TEST(ButonObject, WritesOneOnEveryClickAndIgnoresReads) {
  Rig<CButonObject> rig(OneEntry("button", Property(PropertyKind::Binary, 0, 1, 1, "Сброс")));
  rig.server.readValue = 0;
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(rig.Settle());
  auto* button = Control<QPushButton>(*rig.object, objtemplates::kButton);
  EXPECT_EQ(button->text(), "Сброс");
  for (int click = 1; click <= 2; ++click) {
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(rig.server.Writes(), click);
    EXPECT_EQ(rig.server.Last().value, 1);
    ASSERT_TRUE(rig.Settle());
  }
}

TEST(ButonObject, SizeKeywordsResizeButtonAndWindow) {
  struct Case {
    std::map<std::string, std::string> keywords;
    bool resized;
  } const cases[] = {{{{"sizex", "100"}}, false}, {{{"sizex", "100"}, {"sizey", ""}}, false},
                     {{{"sizex", "100"}, {"sizey", "30"}}, true}};
  for (const Case& c : cases) {
    Rig<CButonObject> rig(OneEntry("button", Property(PropertyKind::Binary, 0, 1), 0, c.keywords));
    ASSERT_TRUE(rig.Create());
    const DialogBaseUnits units = rig.host.Units();
    auto* button = Control<QPushButton>(*rig.object, objtemplates::kButton);
    // The entry places the window at (5, 5) dialog units.
    const QSize window = units.ToPixels(QRect(5, 5, 92, 22)).size();
    if (!c.resized) {
      EXPECT_EQ(rig.object->size(), window);
      continue;
    }
    const QRect template_ = units.ToPixels(QRect(25, 6, 60, 12));
    EXPECT_EQ(button->geometry(), QRect(template_.topLeft(), QSize(units.ToPixelsX(100), units.ToPixelsY(30))));
    EXPECT_EQ(rig.object->width(), template_.x() + units.ToPixelsX(100) + 2 * (window.width() - template_.right() - 1));
    EXPECT_EQ(rig.object->height(), template_.y() + units.ToPixelsY(30) + 2 * (window.height() - template_.bottom() - 1));
  }
}

}  // namespace
