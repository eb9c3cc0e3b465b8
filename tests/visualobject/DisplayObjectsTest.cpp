// The display objects: what each shows for a read value, from the first read on.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>

#include "tests/visualobject/ObjectTestSupport.h"
#include "visualobject/DisplayObjects.h"
#include "visualobject/ObjectTemplates.h"

using namespace objtest;
using testutil::WaitFor;

namespace {

QString Field(CVisualObject& object, int id) { return control<QLineEdit>(&object, id)->text(); }

TEST(GaugeDigi, ShowsNoValueUntilTheFirstReadEnds) {
  ModbusProperty p = Property(PropertyKind::RangedFix, -100000, 100000, 0.01, "Частота");
  Rig<CGaugeDigi> rig(OneEntry("watch", p, 1));
  rig.server.outcome.reset();
  ASSERT_TRUE(rig.Create());
  EXPECT_EQ(rig.object->Display()->DisplayText(), "No value");
  EXPECT_EQ(rig.object->Display()->OnColor(), MakeColorRef(0, 255, 0));
  EXPECT_EQ(rig.object->Display()->OffColor(), MakeColorRef(0, 0, 0));
  EXPECT_EQ(control<QLabel>(rig.object.get(), objtemplates::kCaption)->text(), "Частота");
  rig.server.readValue = 1234;
  rig.server.outcome = QueryHandle::Updated;
  ASSERT_TRUE(WaitFor([&] { return rig.object->Display()->DisplayText() == "12.34"; }));
}

TEST(GaugeText, ChoosesDataTextFlagTextOrNumber) {
  struct Case {
    PropertyKind kind;
    int32_t low, high;
    std::vector<std::string> data;
    int32_t raw;
    const char* shown;
  } const cases[] = {
      {PropertyKind::Natural, 0, 3, {"Off", "Slow", "Fast"}, 1, "Slow"},
      {PropertyKind::Natural, 0, 3, {"Off", "Slow", "Fast"}, 3, ""},
      {PropertyKind::Natural, 0, 3, {"Off", "Slow", "Fast"}, -1, ""},
      {PropertyKind::Binary, 0, 1, {}, 0, "Off"},
      {PropertyKind::Binary, 0, 1, {}, 5, "On"},
      {PropertyKind::Binary, 0, 1, {"Закрыто", "Открыто"}, 5, "Открыто"},
      {PropertyKind::Binary, 0, 1, {"Alone"}, 0, "Alone"},
      {PropertyKind::Binary, 0, 1, {"Alone"}, 1, ""},
      {PropertyKind::RangedFix, 0, 1, {"x"}, 1, ".1"},
      {PropertyKind::RangedInt, -5, 50, {}, 42, "42"},
  };
  for (const Case& c : cases) {
    ModbusProperty p = Property(c.kind, c.low, c.high, 0.1);
    p.data = c.data;
    Rig<CGaugeText> rig(OneEntry("text", p, 1));
    rig.server.outcome.reset();
    ASSERT_TRUE(rig.Create());
    rig.object->SetValue(c.raw);
    EXPECT_EQ(Field(*rig.object, objtemplates::kTextData).toStdString(), c.shown) << c.raw;
  }
}

TEST(StatsWnd, KeepsTheExtremesOfEveryRead) {
  Rig<CStatsWnd> rig(OneEntry("stats", Property(PropertyKind::RangedInt, -100, 100), 1));
  rig.server.outcome.reset();
  ASSERT_TRUE(rig.Create());
  for (int32_t raw : {5, -3, 8}) rig.object->SetValue(raw);
  EXPECT_EQ(Field(*rig.object, objtemplates::kTextMin), "-3");
  EXPECT_EQ(Field(*rig.object, objtemplates::kTextMax), "8");
  EXPECT_EQ(Field(*rig.object, objtemplates::kTextData), "8");
}

TEST(StatsWnd, NonGaugeReadsOnceAndOnDemand) {
  Rig<CStatsWnd> rig(OneEntry("stats", Property(PropertyKind::RangedInt, -100, 100), 0));
  rig.server.readValue = 4;
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(rig.Settle());
  EXPECT_FALSE(rig.object->TimerRunning(CVisualObject::StartTimer));
  EXPECT_EQ(Field(*rig.object, objtemplates::kTextData), "4");
  rig.object->InstantQuery();
  EXPECT_EQ(rig.server.Reads(), 2);
}

TEST(GaugeChart, ScalesAutomaticallyUnlessExactlyOff) {
  struct Case {
    const char* autoScale;  // nullptr: no keyword
    bool on;
  } const cases[] = {{nullptr, true}, {"", true}, {"off", true}, {"OFF", true}, {"Off", false}};
  for (const Case& c : cases) {
    std::map<std::string, std::string> keywords;
    if (c.autoScale) keywords["auto_scale"] = c.autoScale;
    Rig<CGaugeChart> rig(OneEntry("graph", Property(PropertyKind::RangedInt, -100, 100), 1, keywords));
    rig.server.outcome.reset();
    ASSERT_TRUE(rig.Create());
    EXPECT_EQ(rig.object->AutoScale(), c.on) << (c.autoScale ? c.autoScale : "(none)");
  }
}

TEST(GaugeChart, FollowsTheNewestPoints) {
  Rig<CGaugeChart> rig(OneEntry("graph", Property(PropertyKind::RangedFix, -1000, 1000, 0.5, "Ток"), 1));
  rig.server.outcome.reset();
  ASSERT_TRUE(rig.Create());
  CStaticGraphCtrl* graph = rig.object->Graph();
  EXPECT_EQ(graph->Caption(), "Ток");
  EXPECT_TRUE(graph->CaptionShown());
  for (int32_t raw : {2, 10, 6}) rig.object->SetValue(raw);
  EXPECT_EQ(graph->Series(0)->Samples(), (std::vector<double>{1, 5, 3}));
  EXPECT_DOUBLE_EQ(graph->ValueMinimum(), 1);
  EXPECT_DOUBLE_EQ(graph->ValueMaximum(), 5);

  // More points than fit: the window moves on and the scale follows what is in view.
  const int k = graph->TimeAxis().VisibleCount();
  ASSERT_GT(k, 2);
  for (int i = 0; i < k + 5; ++i) rig.object->SetValue(100);
  EXPECT_EQ(graph->Series(0)->WindowStart(), static_cast<int>(graph->Series(0)->Samples().size()) - k + 1);
  EXPECT_DOUBLE_EQ(graph->ValueMinimum(), 49);
  EXPECT_DOUBLE_EQ(graph->ValueMaximum(), 51);
}

TEST(GaugeChart, FixedScaleKeepsItsSpanFromHalfTheNewestValue) {
  Rig<CGaugeChart> rig(OneEntry("graph", Property(PropertyKind::RangedInt, -1000, 1000), 1, {{"auto_scale", "Off"}}));
  rig.server.outcome.reset();
  ASSERT_TRUE(rig.Create());
  CStaticGraphCtrl* graph = rig.object->Graph();
  graph->SetValueRange(0, 10.7);
  rig.object->SetValue(40);
  EXPECT_DOUBLE_EQ(graph->ValueMinimum(), 20);
  EXPECT_DOUBLE_EQ(graph->ValueMaximum(), 30);
  graph->SetValueRange(0, 0.5);  // a span below one unit
  rig.object->SetValue(40);
  EXPECT_DOUBLE_EQ(graph->ValueMinimum(), 19);
  EXPECT_DOUBLE_EQ(graph->ValueMaximum(), 21);
}

}  // namespace
