// Pages against real devices: objects on a register slave through the whole stack, and every
// page of the rich demo profile against kelmora-sim, rendered into the gallery folder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

#include "XMLParser/XDeviceProfileManager.h"
#include "app/MonitorPages.h"
#include "tests/comm/DeviceLine.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/widgets/WidgetTestUtil.h"
#include "visualobject/CustomObject.h"
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

// The rich demo profile's pages on a window, against kelmora-sim run with `simArguments`.
class SimulatedPages {
 public:
  explicit SimulatedPages(std::vector<std::string> simArguments) : m_sim(Arguments(std::move(simArguments))) {}

  // Connects and builds the pages; false (with the reason in the test's output) on failure.
  bool Open() {
    const std::string path = m_sim.DevicePath();
    if (path.empty()) {
      ADD_FAILURE() << m_sim.Output();
      return false;
    }
    CXDeviceProfileManager profiles;
    profiles.ParseProfileFile(simtest::RichProfile());
    if (profiles.GetProfileCount() == 0 || m_port.Open(path, 0, 0, true) != 0) return false;
    m_port.Setup(38400, 8, 0, 0);
    m_channel = std::make_unique<CComPortChannel>(&m_port);
    m_modbus = std::make_unique<ModbusRtuProtocol>(m_channel.get(), 10);
    m_device.SetProtocol(m_modbus.get());
    m_server = std::make_unique<CDeviceView>(profiles.GetProfile(0), &m_device);
    m_server->Create(nullptr, 0);
    m_window.pages.Build(m_server.get(), m_channel.get());
    return true;
  }
  ~SimulatedPages() { m_window.pages.Shutdown(); }

  const std::vector<std::unique_ptr<CVisualObject>>& Objects() { return m_window.pages.Objects(); }
  QWidget& Dialog() { return m_window.window; }
  // The object whose property has this caption, null when none has.
  CVisualObject* Find(const std::string& caption) {
    for (const auto& object : Objects())
      if (object->Property().caption == caption) return object.get();
    return nullptr;
  }
  CVisualObject* FindKeyword(const std::string& keyword) {
    for (const auto& object : Objects())
      if (object->KeyWord() == keyword) return object.get();
    return nullptr;
  }
  // A plug-in host's lamp is hidden and never lit: its component does the reading.
  bool AllLamps(int state, int timeoutMs) {
    return WaitFor(
        [&] {
          for (const auto& object : Objects())
            if (object->KeyWord() != "custom" && object->Led()->GetState() != state) return false;
          return true;
        },
        timeoutMs);
  }
  // Shows page `index` (0-based) and saves the window as `name` in the gallery folder.
  void Save(int index, const QString& name) {
    const QString dir = QStringLiteral(KELMORA_GALLERY_DIR);
    QDir().mkpath(dir);
    m_window.tabs->SetCurSel(index);
    testutil::Spin(50);
    EXPECT_TRUE(m_window.window.grab().save(dir + "/" + name)) << name.toStdString();
  }
  int PageCount() { return m_window.pages.Pages().PageCount(); }

 private:
  static std::vector<std::string> Arguments(std::vector<std::string> extra) {
    std::vector<std::string> arguments{"--com", "9", "--baud", "38400", "--profile", simtest::RichProfile()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  simtest::SimFolder m_folder;
  simtest::SimProcess m_sim;
  ComSerialPort m_port;
  std::unique_ptr<CComPortChannel> m_channel;
  std::unique_ptr<ModbusRtuProtocol> m_modbus;
  ModbusDevice m_device;
  std::unique_ptr<CDeviceView> m_server;
  Window m_window;
};

TEST(PagesLive, GalleryOfTheRichProfileAgainstTheSimulator) {
  SimulatedPages pages({});
  ASSERT_TRUE(pages.Open());
  EXPECT_EQ(pages.Dialog().windowTitle(), QString::fromUtf8("PDC-4120 — преобразователь частоты"));
  ASSERT_FALSE(pages.Objects().empty());
  // Every object reads at least once; the charts gather points while the values move.
  ASSERT_TRUE(pages.AllLamps(CVisualObject::LedUpdated, 30000));
  for (const auto& object : pages.Objects()) {
    if (auto* chart = dynamic_cast<CGaugeChart*>(object.get())) {
      ASSERT_TRUE(WaitFor([&] { return chart->Graph()->Series(0)->Samples().size() >= 30; }, 60000));
    }
  }
  // Lumora's grid on the first page shows the status word: each LED is red exactly while its
  // bit is set (masks 1 to 128, four to a row, rows from 1).
  auto* custom = dynamic_cast<CCustomObject*>(pages.FindKeyword("custom"));
  ASSERT_NE(custom, nullptr);
  ASSERT_TRUE(custom->ComponentRunning());
  QWidget* grid = control<QWidget>(custom->parentWidget(), 2098);  // on the host's page
  ASSERT_NE(grid, nullptr);
  int32_t word = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        const QueryHandle& read = custom->MultiHandles().at(0);
        if (read.state != QueryHandle::Updated || read.kind != 0 || read.values.empty() || read.values[0] == 0) return false;
        word = read.values[0];
        return true;
      },
      30000));
  const QImage leds = testutil::Render(grid);
  for (int bit = 0; bit < 8; ++bit) {
    const QRgb centre = leds.pixel(100 * (bit % 4) + 15, 40 * (bit / 4 + 1) + 15);
    EXPECT_EQ(qRed(centre) > 200 && qGreen(centre) < 100, ((word >> bit) & 1) != 0) << "bit " << bit << " of " << word;
  }
  for (int page = 0; page < pages.PageCount(); ++page) pages.Save(page, QStringLiteral("page-%1.png").arg(page + 1));
}

TEST(PagesLive, GalleryOfFailedQueries) {
  // Input register 114 ("Число пусков") is refused; after 400 answers the device falls silent.
  SimulatedPages pages({"--exception", "114:4", "--silent-after", "400"});
  ASSERT_TRUE(pages.Open());
  CVisualObject* refused = pages.Find("Число пусков");
  ASSERT_NE(refused, nullptr);
  ASSERT_TRUE(WaitFor([&] { return refused->Led()->windowTitle() == "Device Error"; }, 30000));
  EXPECT_EQ(refused->Led()->GetState(), CVisualObject::LedNoAnswer);
  pages.Save(3, QStringLiteral("page-4-device-error.png"));

  // A silent line: the displays that read periodically turn white; an input whose write
  // gets no answer turns white too and stays disabled while it asks again every second.
  for (const char* caption : {"Напряжение звена DC, В", "Выходная частота, Гц"}) {
    CVisualObject* display = pages.Find(caption);
    ASSERT_NE(display, nullptr) << caption;
    ASSERT_TRUE(WaitFor([&] { return display->Led()->GetState() == CVisualObject::LedFailed; }, 60000)) << caption;
  }
  CVisualObject* start = pages.Find("Пуск разрешён");
  ASSERT_NE(start, nullptr);
  pages.Save(0, QStringLiteral("page-1-silent.png"));  // shows the page first, so the click lands
  auto* check = control<QCheckBox>(start, objtemplates::kCheck);
  QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(6, check->height() / 2));
  ASSERT_TRUE(WaitFor([&] { return start->Led()->GetState() == CVisualObject::LedFailed; }, 10000));
  EXPECT_FALSE(start->isEnabled());
  pages.Save(0, QStringLiteral("page-1-silent.png"));
}

}  // namespace
