// Pages against real devices: objects on a register slave through the whole stack, and every
// page of the rich demo profile against kelmora-sim, rendered into the gallery folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QTest>

#include "XMLParser/XDeviceProfileManager.h"
#include "app/MonitorPages.h"
#include "tests/comm/DeviceLine.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/widgets/WidgetTestUtil.h"
#include "visualobject/DisplayObjects.h"
#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"

using testutil::WaitFor;

namespace {

// The main dialog's share in page building: a window with its tab control.
struct Window {
  Window() {
    window.resize(760, 520);
    tabs->setGeometry(7, 7, 740, 500);
    window.show();
  }
  QWidget window;
  CTabCtrl* tabs = new CTabCtrl(&window);  // made before the pages that use it
  CMonitorPages pages{&window, tabs};
};

TEST(PagesLive, ObjectsReadAndWriteTheDevice) {
  DeviceLine line;
  line.slave.SetHolding(5, 1234);
  DeviceProfile profile;
  VisualObjectEntry watch;
  ModbusProperty shown;
  shown.id = 0;
  shown.kind = PropertyKind::RangedFix;
  shown.divisor = 0.01;
  shown.iSlMax = 100000;
  shown.mapping = Map(RegisterKind::HoldingRegister, 5);
  watch.properties.push_back(shown);
  watch.gauge = 1;
  watch.page = 0;
  VisualObjectEntry edit;
  ModbusProperty setpoint;
  setpoint.id = 1;
  setpoint.kind = PropertyKind::RangedInt;
  setpoint.iSlMax = 100;
  setpoint.mapping = Map(RegisterKind::HoldingRegister, 6);
  edit.properties.push_back(setpoint);
  edit.page = 0;
  edit.y = 80;
  AppendEntry(profile.keywordLists, "watch", watch);
  AppendEntry(profile.keywordLists, "edit", edit);

  CDeviceView server(profile, &line.device);
  server.Create(nullptr, 0);
  Window w;
  w.pages.Build(&server, line.channel.get());
  ASSERT_EQ(w.pages.Objects().size(), 2u);
  auto* readout = static_cast<CGaugeDigi*>(w.pages.Objects()[0].get());
  ASSERT_TRUE(WaitFor([&] { return readout->Display()->DisplayText() == "12.34"; }, 10000));
  EXPECT_EQ(readout->Led()->GetState(), CVisualObject::LedUpdated);

  CVisualObject* editor = w.pages.Objects()[1].get();
  // The input takes keys once its first read has ended.
  ASSERT_TRUE(
      WaitFor([&] { return editor->IsIdle() && editor->Led()->GetState() == CVisualObject::LedUpdated; }, 10000));
  QTest::keyClicks(control<QLineEdit>(editor, objtemplates::kEditInput), "42");
  ASSERT_TRUE(WaitFor([&] { return line.slave.Holding(6) == 42; }, 20000));
  w.pages.Shutdown();
}

TEST(PagesLive, GalleryOfTheRichProfileAgainstTheSimulator) {
  simtest::SimFolder folder;
  simtest::SimProcess sim({"--com", "9", "--baud", "38400", "--profile", simtest::RichProfile()});
  const std::string path = sim.DevicePath();
  ASSERT_FALSE(path.empty()) << sim.Output();

  CXDeviceProfileManager profiles;
  profiles.ParseProfileFile(simtest::RichProfile());
  ASSERT_GE(profiles.GetProfileCount(), 1u);
  const DeviceProfile profile = profiles.GetProfile(0);

  ComSerialPort port;
  ASSERT_EQ(port.Open(path, 0, 0, true), 0);
  port.Setup(38400, 8, 0, 0);
  CComPortChannel channel(&port);
  ModbusRtuProtocol modbus(&channel, 10);
  ModbusDevice device(&modbus);
  CDeviceView server(profile, &device);
  server.Create(nullptr, 0);

  Window w;
  w.pages.Build(&server, &channel);
  EXPECT_EQ(w.window.windowTitle(), QString::fromUtf8("PDC-4120 — преобразователь частоты"));
  const auto& objects = w.pages.Objects();
  ASSERT_FALSE(objects.empty());
  // Every object reads at least once; the charts gather a few points while the values move.
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const auto& object : objects)
          if (object->Led()->GetState() != CVisualObject::LedUpdated) return false;
        return true;
      },
      30000));
  for (const auto& object : objects) {
    if (auto* chart = dynamic_cast<CGaugeChart*>(object.get())) {
      ASSERT_TRUE(WaitFor([&] { return chart->Graph()->Series(0)->Samples().size() >= 30; }, 60000));
    }
  }

  const QString dir = QStringLiteral(KELMORA_GALLERY_DIR);
  QDir().mkpath(dir);
  const int pageCount = w.pages.Pages().PageCount();
  for (int page = 0; page < pageCount; ++page) {
    w.tabs->SetCurSel(page);
    testutil::Spin(50);
    const QString file = QStringLiteral("%1/page-%2.png").arg(dir).arg(page + 1);
    EXPECT_TRUE(w.window.grab().save(file)) << file.toStdString();
  }
  w.pages.Shutdown();
}

}  // namespace
