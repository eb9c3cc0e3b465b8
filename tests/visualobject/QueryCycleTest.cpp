// The base's query cycle through time: the initial read, periodic reads by update frequency,
// the lamp and the retry rule for every final state, and the conversions the objects share.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "tests/visualobject/ObjectTestSupport.h"
#include "visualobject/DisplayObjects.h"
#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"

using namespace objtest;
using testutil::WaitFor;

namespace {

// Reaches the conversions, which only objects use.
class Probe : public CVisualObject {
 public:
  Probe() : CVisualObject(objtemplates::Readout(), "watch") {}
  void Use(const ModbusProperty& property) { m_pProp = property; }
  using CVisualObject::_ConvertPropertyValueToString;
  using CVisualObject::_ConvertStringToPropertyValue;
};

struct ShowCase {
  PropertyKind kind;
  double divisor;
  const char* viewformat;
  int32_t raw;
  const char* shown;
};

TEST(Conversions, RawValueToText) {
  const ShowCase cases[] = {
      {PropertyKind::RangedFix, 0.01, "", 1234, "12.34"},
      {PropertyKind::RangedFix, 0.01, "", 1200, "12"},
      {PropertyKind::RangedFix, 0.01, "", 5, ".05"},
      {PropertyKind::RangedFix, 0.01, "", 0, "0"},
      {PropertyKind::RangedFix, 0.01, "", -50, "-0.5"},
      {PropertyKind::RangedFix, 0.0025, "", 1, ".00"},
      {PropertyKind::RangedFix, 0.1, "%6.1lf V", 123, "  12.3 V"},
      {PropertyKind::RangedInt, 1, "%.1f", 7, "7.0"},
      {PropertyKind::RangedInt, 1, "", 7, "7"},
      {PropertyKind::Natural, 1, "", -3, "-3"},
      // Formats from a profile never reach printf unchecked.
      {PropertyKind::RangedInt, 1, "%s", 7, "%s"},
      {PropertyKind::RangedInt, 1, "%n", 7, "%n"},
      {PropertyKind::RangedInt, 1, "%d rpm", 7, "%d rpm"},
      {PropertyKind::RangedInt, 1, "%.1f/%.2f", 7, "7.0/7.00"},
      {PropertyKind::RangedInt, 1, "%*f", 7, "%*f"},
  };
  Probe probe;
  for (const ShowCase& c : cases) {
    ModbusProperty p = Property(c.kind, -100000, 100000, c.divisor);
    if (*c.viewformat) p.keywords["viewformat"] = c.viewformat;
    probe.Use(p);
    EXPECT_EQ(probe._ConvertPropertyValueToString(c.raw), c.shown) << c.viewformat << " raw " << c.raw;
  }
}

TEST(Conversions, TypedTextToRawValue) {
  struct Case {
    PropertyKind kind;
    double divisor;
    const char* typed;
    int32_t raw;
  } const cases[] = {
      {PropertyKind::RangedFix, 0.1, "2.38", 23},  {PropertyKind::RangedFix, 0.1, "-2.38", -23},
      {PropertyKind::RangedFix, 0.0, "3.5", 3},    {PropertyKind::RangedInt, 1, "abc", 0},
      {PropertyKind::RangedInt, 1, "  42x", 42},   {PropertyKind::Binary, 1, "-7", -7},
  };
  Probe probe;
  for (const Case& c : cases) {
    probe.Use(Property(c.kind, 0, 0, c.divisor));
    EXPECT_EQ(probe._ConvertStringToPropertyValue(c.typed), c.raw) << c.typed;
  }
}

TEST(QueryCycle, UpdateFrequencyGivesTheUpdatePeriod) {
  struct Case {
    const char* text;  // nullptr: no keyword
    int32_t frequency;
    int64_t period;  // -1: never elapses
  } const cases[] = {{nullptr, 1000, 10}, {"10", 10, 100}, {"2", 2, 500},      {"1", 1, 1000},
                     {"instant", -1, -1}, {"0", 1000, 10}, {"-5", 1000, 10}, {"fast", 1000, 10}};
  DeviceProfile profile;
  KeywordList list("watch");
  for (const Case& c : cases) {
    VisualObjectEntry entry;
    entry.properties.push_back(Property(PropertyKind::RangedInt, 0, 100));
    entry.gauge = 1;
    entry.page = 0;
    if (c.text) entry.keywords["update_frequency"] = c.text;
    list.entries.push_back(entry);
  }
  profile.keywordLists.push_back(list);
  testutil::ScratchFolder folder;
  ScriptedServer server(profile);
  server.outcome.reset();  // keep every object busy: only the timers are looked at
  PageHost host;
  std::vector<std::unique_ptr<CGaugeDigi>> objects;
  for (size_t i = 0; i < std::size(cases); ++i) {
    objects.push_back(std::make_unique<CGaugeDigi>());
    ASSERT_TRUE(objects.back()->Create(&host, &server));
  }
  // The start timer runs from creation; its first tick arms the update timer.
  for (size_t i = 0; i < std::size(cases); ++i) {
    CGaugeDigi& object = *objects[i];
    EXPECT_EQ(object.UpdateFrequency(), cases[i].frequency) << i;
    const int64_t start = object.TimerPeriod(CVisualObject::StartTimer);
    EXPECT_TRUE(start >= 526 && start <= 1000) << start;
    ASSERT_TRUE(WaitFor([&] { return object.TimerRunning(CVisualObject::UpdateTimer); }, 10000)) << i;
    EXPECT_EQ(object.TimerPeriod(CVisualObject::UpdateTimer), cases[i].period) << i;
  }
}

TEST(QueryCycle, InitialReadThenLampFollowsTheHandle) {
  Rig<CPropertyEdit> rig(OneEntry("edit", Property(PropertyKind::RangedInt, 0, 100)));
  rig.server.outcome.reset();
  ASSERT_TRUE(rig.Create());
  ASSERT_EQ(rig.server.requests.size(), 1u);
  EXPECT_EQ(rig.server.Last().kind, 0);
  auto* input = control<QLineEdit>(rig.object.get(), objtemplates::kEditInput);
  // Before any query has ended the lamp is grey, whatever the handle says.
  ASSERT_TRUE(WaitFor([&] { return rig.object->Led()->windowTitle() == "In Process"; }));
  EXPECT_EQ(rig.object->Led()->GetState(), CVisualObject::LedNoAnswer);
  EXPECT_FALSE(input->isEnabled());  // no typing while a query is in flight

  rig.server.readValue = 15;
  rig.server.outcome = QueryHandle::Updated;
  ASSERT_TRUE(rig.Settle());
  EXPECT_EQ(rig.object->Led()->GetState(), CVisualObject::LedUpdated);
  EXPECT_EQ(rig.object->Led()->windowTitle(), "Updated");
  EXPECT_EQ(control<QLineEdit>(rig.object.get(), objtemplates::kTextData)->text(), "15");
  EXPECT_TRUE(input->isEnabled());

  // From then on a waiting query shows yellow.
  rig.server.outcome.reset();
  rig.object->InstantQuery();
  ASSERT_TRUE(WaitFor([&] { return rig.object->Led()->GetState() == CVisualObject::LedWaiting; }));
}

TEST(QueryCycle, EachFinalStateSetsLampAndRetry) {
  struct Case {
    int32_t state;
    int led;
    bool retries;  // disabled and reading again in 1000 ms
    bool faultLine;
  } const cases[] = {{QueryHandle::Updated, CVisualObject::LedUpdated, false, false},
                     {QueryHandle::Timeout, CVisualObject::LedFailed, true, false},
                     {QueryHandle::Canceled, CVisualObject::LedFailed, true, true},
                     {QueryHandle::DeviceError, CVisualObject::LedNoAnswer, false, false}};
  for (const Case& c : cases) {
    Rig<CPropertyEdit> rig(OneEntry("edit", Property(PropertyKind::RangedInt, 0, 100)));
    rig.server.outcome = c.state;
    ASSERT_TRUE(rig.Create());
    ASSERT_TRUE(WaitFor([&] { return !rig.object->TimerRunning(CVisualObject::PollTimer); }));
    auto* input = control<QLineEdit>(rig.object.get(), objtemplates::kEditInput);
    EXPECT_EQ(rig.object->Led()->GetState(), c.led) << c.state;
    EXPECT_EQ(rig.object->TimerRunning(CVisualObject::QueryTimer), c.retries) << c.state;
    EXPECT_EQ(input->isEnabled(), !c.retries) << c.state;
    EXPECT_EQ(FaultLog().find("F Canceled handle in file VisualObject.cpp") != std::string::npos, c.faultLine);
    if (c.retries) {
      EXPECT_EQ(rig.object->TimerPeriod(CVisualObject::QueryTimer), 1000);
      rig.server.outcome = QueryHandle::Updated;
      ASSERT_TRUE(WaitFor([&] { return rig.server.Reads() == 2; }, 10000)) << c.state;
      ASSERT_TRUE(rig.Settle());
      EXPECT_TRUE(input->isEnabled());
    }
  }
}

TEST(QueryCycle, FailedWriteRetriesWithARead) {
  Rig<CButonObject> rig(OneEntry("button", Property(PropertyKind::Binary, 0, 1)));
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(rig.Settle());
  rig.server.outcome = QueryHandle::Timeout;
  QTest::mouseClick(control<QAbstractButton>(rig.object.get(), objtemplates::kButton), Qt::LeftButton);
  ASSERT_EQ(rig.server.Writes(), 1);
  ASSERT_TRUE(WaitFor([&] { return rig.object->Led()->GetState() == CVisualObject::LedFailed; }));
  rig.server.outcome = QueryHandle::Updated;
  ASSERT_TRUE(WaitFor([&] { return rig.server.requests.size() == 3; }, 10000));
  EXPECT_EQ(rig.server.Last().kind, 0);
}

TEST(QueryCycle, WaitingLampKeepsGaugeColourAndDeviceErrorGrey) {
  // A gauge keeps its last colour while its next read waits.
  Rig<CGaugeDigi> gauge(OneEntry("watch", Property(PropertyKind::RangedInt, 0, 100), 1,
                                 {{"update_frequency", "10"}}));
  ASSERT_TRUE(gauge.Create());
  ASSERT_TRUE(WaitFor([&] { return gauge.object->Led()->GetState() == CVisualObject::LedUpdated; }));
  gauge.server.outcome.reset();
  const size_t before = gauge.server.requests.size();
  ASSERT_TRUE(WaitFor([&] { return gauge.server.requests.size() > before; }, 10000));
  testutil::Spin(50);
  EXPECT_EQ(gauge.object->Led()->GetState(), CVisualObject::LedUpdated);

  // A lamp grey from a device error stays grey while the operator's write waits.
  Rig<CButonObject> button(OneEntry("button", Property(PropertyKind::Binary, 0, 1)));
  button.server.outcome = QueryHandle::DeviceError;
  ASSERT_TRUE(button.Create());
  ASSERT_TRUE(button.Settle());
  button.server.outcome.reset();
  QTest::mouseClick(control<QAbstractButton>(button.object.get(), objtemplates::kButton), Qt::LeftButton);
  testutil::Spin(50);
  EXPECT_EQ(button.server.Writes(), 1);
  EXPECT_EQ(button.object->Led()->GetState(), CVisualObject::LedNoAnswer);
  EXPECT_EQ(button.object->Led()->windowTitle(), "In Process");
}

TEST(QueryCycle, WhoReadsAgainAndHowOften) {
  struct Case {
    int32_t gauge;
    const char* frequency;
    int atLeast;  // reads within the observation
    bool onlyOnce;
  } const cases[] = {
      {1, "10", 5, false},       // every 100 ms after the first start tick
      {1, "instant", 20, false}, // as soon as the previous read ended
      {0, "instant", 1, true},   // non-gauge: the initial read and reads on demand
      {1, nullptr, 20, false},   // the default: as fast as reads end
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> keywords;
    if (c.frequency) keywords["update_frequency"] = c.frequency;
    Rig<CGaugeDigi> rig(OneEntry("watch", Property(PropertyKind::RangedInt, 0, 100), c.gauge, keywords));
    ASSERT_TRUE(rig.Create());
    if (c.onlyOnce) {
      testutil::Spin(2500);
      EXPECT_EQ(rig.server.Reads(), 1);
    } else {
      EXPECT_TRUE(WaitFor([&] { return rig.server.Reads() >= c.atLeast; }, 20000)) << c.frequency;
    }
    EXPECT_EQ(rig.server.Writes(), 0);
  }
}

TEST(QueryCycle, StepsThatThrowAreLoggedAndTheCycleGoesOn) {
  class ThrowingServer : public ScriptedServer {
   public:
    using ScriptedServer::ScriptedServer;
    QueryHandle GetProperty(const ModbusProperty&) override { throw std::runtime_error("line gone"); }
  };
  testutil::ScratchFolder folder;
  ThrowingServer server(OneEntry("watch", Property(PropertyKind::RangedInt, 0, 100), 1));
  PageHost host;
  CGaugeDigi object;
  ASSERT_TRUE(object.Create(&host, &server));
  EXPECT_NE(FaultLog().find("F Exception while trying m_hCurHandle = m_pdevServer->GetProperty(m_pProp) in file "
                            "VisualObject.cpp"),
            std::string::npos);
  EXPECT_TRUE(object.TimerRunning(CVisualObject::PollTimer));  // BeginWait still ran
}

TEST(QueryCycle, FailedCreationNeverQueries) {
  testutil::ScratchFolder folder;
  DeviceProfile profile = OneEntry("watch", Property(PropertyKind::RangedInt, 0, 100), 1);
  profile.keywordLists[0].entries[0].page = 7;  // no such page
  ScriptedServer server(profile);
  PageHost host;
  CGaugeDigi noServer, noPage;
  EXPECT_FALSE(noServer.Create(&host, nullptr));
  EXPECT_FALSE(noPage.Create(&host, &server));
  noPage.InstantQuery();
  testutil::Spin(100);
  EXPECT_TRUE(server.requests.empty());
  // Without its caption control the readout says so.
  EXPECT_NE(FaultLog().find("F Assert: Expression is null pWnd in file GaugeDigi.cpp"), std::string::npos);
}

TEST(QueryCycle, EntryWithoutPropertiesIsLogged) {
  testutil::ScratchFolder folder;
  DeviceProfile profile = OneEntry("watch", Property(PropertyKind::RangedInt, 0, 100), 1);
  profile.keywordLists[0].entries[0].properties.clear();
  ScriptedServer server(profile);
  PageHost host;
  CGaugeDigi object;
  EXPECT_TRUE(object.Create(&host, &server));
  EXPECT_NE(FaultLog().find("F Объект, у которого нет ни одного свойства in file VisualObject.cpp"), std::string::npos);
  EXPECT_EQ(object.Property().id, -1);
}

TEST(QueryCycle, NothingQueriesAfterShutdown) {
  Rig<CGaugeDigi> rig(OneEntry("watch", Property(PropertyKind::RangedInt, 0, 100), 1, {{"update_frequency", "instant"}}));
  ASSERT_TRUE(rig.Create());
  ASSERT_TRUE(WaitFor([&] { return rig.server.Reads() >= 3; }));
  rig.object->Shutdown();
  const size_t seen = rig.server.requests.size();
  testutil::Spin(200);
  EXPECT_EQ(rig.server.requests.size(), seen);
}

}  // namespace
