// Page building against a scripted server: pages from the header entry, the header keywords,
// objects in the factory table's order, and the dialog's two timers.
#include <gtest/gtest.h>

#include <QLabel>
#include <set>

#include "app/MonitorPages.h"
#include "tests/visualobject/ObjectTestSupport.h"
#include "visualobject/ObjectTemplates.h"

using namespace objtest;
using testutil::WaitFor;

namespace {

VisualObjectEntry Entry(const std::string& caption, int32_t page = 0, int32_t gauge = 0) {
  VisualObjectEntry entry;
  ModbusProperty p = Property(PropertyKind::RangedInt, 0, 100, 1, caption);
  entry.properties.push_back(p);
  entry.page = page;
  entry.gauge = gauge;
  return entry;
}

void Add(DeviceProfile& profile, const std::string& keyword, VisualObjectEntry entry) {
  AppendEntry(profile.keywordLists, keyword, std::move(entry));
}

// The main dialog's share in page building: a window with its tab control.
struct Dialog {
  explicit Dialog(const DeviceProfile& profile) : server(profile) {
    window.resize(700, 500);
    tabs->setGeometry(10, 10, 600, 400);
    window.setWindowTitle("Kelmora");
    window.show();
  }
  void Build(CComPortChannel* channel = nullptr, QWidget* splash = nullptr) {
    pages.Build(&server, channel, splash);
  }
  QStringList TabTexts() const {
    QStringList texts;
    for (int i = 0; i < tabs->GetItemCount(); ++i) texts << tabs->ItemText(i);
    return texts;
  }

  testutil::ScratchFolder folder;
  ScriptedServer server;
  QWidget window;
  CTabCtrl* tabs = new CTabCtrl(&window);  // made before the pages that use it
  CMonitorPages pages{&window, tabs};
};

TEST(PageBuilding, ObjectsComeInTableOrderEachWithItsOwnEntry) {
  DeviceProfile profile;
  for (const char* caption : {"E1", "S1", "E2", "S2", "S3"})
    Add(profile, caption[0] == 'E' ? "edit" : "slider", Entry(caption));
  Add(profile, "bogus", Entry("never shown"));
  Dialog dialog(profile);
  dialog.Build();
  std::vector<std::string> made;
  for (const auto& object : dialog.pages.Objects()) made.push_back(object->KeyWord() + ":" + object->Property().caption);
  EXPECT_EQ(made, (std::vector<std::string>{"slider:S1", "slider:S2", "slider:S3", "edit:E1", "edit:E2"}));
}

TEST(PageBuilding, HeaderKeywordsShapeTheWindow) {
  struct Case {
    bool header;
    int32_t page;
    std::map<std::string, std::string> keywords;
    QStringList tabs;
    QString title;
    bool forceUpdate;
    QSize tabSize;  // in dialog units; empty: unchanged
  } const cases[] = {
      {false, 0, {}, {"Page 1", "Page 2"}, "Kelmora", false, {}},
      {true, -1, {}, {"Page 1"}, "Kelmora", false, {}},
      {true, 2, {{"pagename0", "Обзор"}, {"pagename1", ""}, {"caption", "ПЧ-4120"}}, {"Обзор", "Page 2", "Page 3"},
       "ПЧ-4120", false, {}},
      {true, 0, {{"force_update", "yes"}, {"sizex", "400"}, {"sizey", "0"}}, {"Page 1"}, "Kelmora", false, {}},
      {true, 0, {{"force_update", "1"}, {"sizex", "300"}, {"sizey", "200"}}, {"Page 1"}, "Kelmora", true, {300, 200}},
  };
  for (const Case& c : cases) {
    DeviceProfile profile;
    if (c.header) {
      VisualObjectEntry header;
      header.page = c.page;
      header.keywords = c.keywords;
      Add(profile, "", header);
    }
    Dialog dialog(profile);
    const QSize before = dialog.tabs->size();
    dialog.Build();
    EXPECT_EQ(dialog.TabTexts(), c.tabs);
    EXPECT_EQ(dialog.window.windowTitle(), c.title);
    EXPECT_EQ(dialog.pages.TimerRunning(CMonitorPages::kForceUpdateTimer), c.forceUpdate);
    const QSize wanted = c.tabSize.isEmpty() ? before : dialog.pages.Units().ToPixels(c.tabSize);
    EXPECT_EQ(dialog.tabs->size(), wanted);
  }
}

TEST(PageBuilding, ObjectsLandOnTheirPages) {
  DeviceProfile profile;
  VisualObjectEntry header;
  header.page = 1;
  Add(profile, "", header);
  Add(profile, "watch", Entry("first page", 0, 1));
  Add(profile, "watch", Entry("no position", VisualObjectEntry{}.page));  // the default: page 1
  Add(profile, "watch", Entry("no such page", 4, 1));
  Dialog dialog(profile);
  dialog.Build();
  const auto& objects = dialog.pages.Objects();
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0]->parentWidget(), dialog.pages.FindPage(0));
  EXPECT_EQ(objects[1]->parentWidget(), dialog.pages.FindPage(1));
  EXPECT_EQ(objects[1]->Page(), 1);
  EXPECT_EQ(objects[2]->Page(), -1);  // failed, but kept in the list
  EXPECT_EQ(dialog.server.Reads(), 2);
}

TEST(PageBuilding, SplashHidesAtTheFirstTimerTick) {
  Dialog dialog(DeviceProfile{});
  QWidget splash;
  splash.show();
  dialog.Build(nullptr, &splash);
  EXPECT_TRUE(splash.isVisible());  // pages are built before the splash goes
  ASSERT_TRUE(WaitFor([&] { return !splash.isVisible(); }));
  EXPECT_FALSE(dialog.pages.TimerRunning(CMonitorPages::kSplashTimer));
}

TEST(PageBuilding, ForcedUpdateWritesEveryIdleInputObject) {
  DeviceProfile profile;
  VisualObjectEntry header;
  header.keywords["force_update"] = "1";
  Add(profile, "", header);
  Add(profile, "button", Entry("button"));
  Add(profile, "watch", Entry("gauge", 0, 1));
  Add(profile, "check", Entry("check"));
  Add(profile, "stats", Entry("stats, not gauge"));
  Dialog dialog(profile);
  dialog.Build();
  ASSERT_TRUE(WaitFor([&] { return dialog.server.Writes() >= 2; }, 20000));
  std::set<int32_t> written;
  for (const auto& r : dialog.server.requests)
    if (r.kind == 1) written.insert(r.value);
  // The check box writes its state (0) and the statistics display its GetValue (0); the button and
  // the gauge never write.
  EXPECT_EQ(dialog.server.Writes(), 2);
  EXPECT_EQ(written, std::set<int32_t>{0});

  dialog.pages.Shutdown();
  const size_t seen = dialog.server.requests.size();
  testutil::Spin(2500);
  EXPECT_EQ(dialog.server.requests.size(), seen);
}

}  // namespace
