// liblumora.so loaded as the program loads it, driven by a scripted host on a shown page.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLibrary>
#include <QPaintEvent>
#include <QProcess>
#include <QRegion>
#include <QRegularExpression>
#include <set>
#include <stdexcept>
#include <utility>

#include "tests/widgets/WidgetTestUtil.h"
#include "visualobject/ComponentInterface.h"
#include "widgets/DarkPalette.h"

namespace {

// Property 0 ends every poll in `state` with `values`, or throws as `fault` says.
class ScriptedHost final : public IComponentHost {
 public:
  enum class Fault { None, Std, Int };
  int32_t propertyCount = 1;
  std::string bitmask = "Run,1;Fault,2;newline;Alarm,4";
  int32_t state = kComponentUpdated;
  std::vector<boost::any> values;
  Fault fault = Fault::None;
  int reads = 0;  // of property 0; any other index counts as -1000
  int polls = 0;

  void GetProperty(int32_t iProp) override { reads += iProp == 0 ? 1 : -1000; }
  std::string GetParameter(const std::string& key) override { return key == "bitmask" ? bitmask : ""; }
  int32_t SetParameter(const std::string&, const std::string&) override { return 0; }
  int32_t GetPropertyCount() override { return propertyCount; }
  void SetValues(int32_t, const std::vector<boost::any>&) override {}
  int32_t GetValues(int32_t, std::vector<boost::any>& result) override {
    ++polls;
    if (fault == Fault::Std) throw std::runtime_error("boom");
    if (fault == Fault::Int) throw 7;
    result = values;
    return state;
  }
  std::string GetPropertyParameter(int32_t, const std::string&) override { return {}; }
};

enum class Lamp { Lit, Unlit, Other };

// The lamp centred at (100 column + 15, 40 row + 15): red when lit, light grey when unlit,
// apart from the page's background that Render puts in the view's corner.
Lamp LampAt(const QImage& image, int column, int row) {
  const QRgb c = image.pixel(100 * column + 15, 40 * row + 15);
  if (c == image.pixel(0, 0)) return Lamp::Other;
  if (qRed(c) > 180 && qGreen(c) < 60 && qBlue(c) < 60) return Lamp::Lit;
  if (qRed(c) > 150 && qAbs(qRed(c) - qGreen(c)) < 10 && qAbs(qRed(c) - qBlue(c)) < 10) return Lamp::Unlit;
  return Lamp::Other;
}

// The lamps of the default bitmask: Run and Fault on row 1, Alarm on row 2.
std::vector<Lamp> Lamps(QWidget* view) {
  const QImage image = testutil::Render(view);
  return {LampAt(image, 0, 1), LampAt(image, 1, 1), LampAt(image, 0, 2)};
}

QString ReadLog() {
  QFile file("lumora.log");
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class Lumora : public ::testing::Test {
 protected:
  void SetUp() override {
    m_library.setFileName(QStringLiteral(LUMORA_MODULE_PATH));
    ASSERT_TRUE(m_library.load()) << m_library.errorString().toStdString();
    m_version = reinterpret_cast<ComponentVersionProc>(m_library.resolve("ComponentVersion"));
    m_connect = reinterpret_cast<ConnectComponentProc>(m_library.resolve("ConnectComponent"));
    ASSERT_NE(m_version, nullptr);
    ASSERT_NE(m_connect, nullptr);
    page.resize(800, 400);
    page.show();
  }
  void TearDown() override {
    if (component != nullptr) component->Destroy();
    m_library.unload();
  }

  // Connects a component to `host` and creates its window at (3, 4); the window, or null.
  QWidget* Create(IComponentHost* host) {
    component = m_connect(host);
    if (component == nullptr || component->Create(&page, 3, 4) == 0) return nullptr;
    const QList<QWidget*> children = page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    return children.size() == 1 ? children.front() : nullptr;
  }

  ScriptedHost host;
  QWidget page;
  IComponent* component = nullptr;
  QLibrary m_library;
  ComponentVersionProc m_version = nullptr;
  ConnectComponentProc m_connect = nullptr;
};

TEST_F(Lumora, WindowLifecycle) {
  const ComponentVersionInfo version = m_version();
  EXPECT_EQ(version.major, 4);
  EXPECT_EQ(version.minor, 2);
  IComponent* unused = m_connect(&host);
  EXPECT_EQ(unused->Show(), 0);
  EXPECT_EQ(unused->Hide(), 0);
  EXPECT_EQ(unused->Destroy(), 0);

  QWidget* view = Create(&host);
  ASSERT_NE(view, nullptr);
  // 200 x 80 dialog units of the dialog font.
  const QFontMetrics metrics(QFont("Tahoma", 8));
  const int baseX = (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
  EXPECT_EQ(view->geometry(), QRect(3, 4, (200 * baseX + 2) / 4, (80 * metrics.height() + 4) / 8));
  EXPECT_EQ(view->property("kelmoraControlId").toInt(), 2098);
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(component->Hide(), 1);
  EXPECT_FALSE(view->isVisible());
  EXPECT_EQ(component->Show(), 1);
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(std::exchange(component, nullptr)->Destroy(), 1);  // the component is gone with it
  EXPECT_TRUE(page.findChildren<QWidget*>().isEmpty());  // gone before any event is processed
  EXPECT_EQ(host.reads, 0);
  // Nothing holds the library once its window is gone: it really unloads.
  EXPECT_TRUE(m_library.unload());
  EXPECT_EQ(dlopen(LUMORA_MODULE_PATH, RTLD_LAZY | RTLD_NOLOAD), nullptr);
}

struct CreateFailure {
  const char* name;
  bool withHost;
  int32_t propertyCount;
  bool withParent;
};
void PrintTo(const CreateFailure& c, std::ostream* os) { *os << c.name; }

class LumoraCreateFails : public Lumora, public ::testing::WithParamInterface<CreateFailure> {};

TEST_P(LumoraCreateFails, LeavesNoWindowAndNoLog) {
  testutil::ScratchFolder scratch;
  host.propertyCount = GetParam().propertyCount;
  const qsizetype topLevels = QApplication::topLevelWidgets().size();
  component = m_connect(GetParam().withHost ? &host : nullptr);
  EXPECT_EQ(component->Create(GetParam().withParent ? &page : nullptr, 0, 0), 0);
  EXPECT_TRUE(page.findChildren<QWidget*>().isEmpty());
  EXPECT_EQ(QApplication::topLevelWidgets().size(), topLevels);
  EXPECT_FALSE(QFile::exists("lumora.log"));
  EXPECT_EQ(host.reads, 0);
}

INSTANTIATE_TEST_SUITE_P(Hosts, LumoraCreateFails,
                         ::testing::Values(CreateFailure{"NoHost", false, 1, true},
                                           CreateFailure{"NoProperties", true, 0, true},
                                           CreateFailure{"NoParent", true, 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Lumora, ValuesLightTheirMasks) {
  struct Step {
    boost::any value;
    std::vector<Lamp> lamps;  // Run (1), Fault (2), Alarm (4)
  };
  const std::vector<Step> steps = {
      {int32_t{6}, {Lamp::Unlit, Lamp::Lit, Lamp::Lit}},
      {int32_t{1}, {Lamp::Lit, Lamp::Unlit, Lamp::Unlit}},
      {2.7, {Lamp::Unlit, Lamp::Lit, Lamp::Unlit}},  // a fixed-point value drops its fraction
      {std::string("7"), {Lamp::Unlit, Lamp::Unlit, Lamp::Unlit}},
      {-1.0, {Lamp::Lit, Lamp::Lit, Lamp::Lit}},
  };
  QWidget* view = Create(&host);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(Lamps(view), std::vector<Lamp>(3, Lamp::Unlit));
  // Round lamps (the corners of the square show the page) and a caption beside each.
  const QImage image = testutil::Render(view);
  for (const QPoint lamp : {QPoint(5, 45), QPoint(105, 45), QPoint(5, 85)}) {
    EXPECT_EQ(image.pixel(lamp), image.pixel(0, 0));
    EXPECT_EQ(image.pixel(lamp + QPoint(19, 19)), image.pixel(0, 0));
    int dark = 0;
    for (int y = lamp.y(); y < lamp.y() + 14; ++y)
      for (int x = lamp.x() + 21; x < lamp.x() + 100; ++x) dark += testutil::Luminance(image.pixel(x, y)) < 80;
    EXPECT_GT(dark, 10);
  }
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    host.values = {steps[i].value};
    EXPECT_TRUE(testutil::WaitFor([&] { return Lamps(view) == steps[i].lamps; }, 10000));
  }
  EXPECT_GT(host.reads, 0);
}

// The labels are black on a light page; on a dark one black would vanish, so they turn light.
TEST_F(Lumora, LabelsReadOnADarkPage) {
  page.setPalette(DarkPalette());
  QWidget* view = Create(&host);
  ASSERT_NE(view, nullptr);
  const QImage image = testutil::Render(view);
  for (const QPoint lamp : {QPoint(5, 45), QPoint(105, 45), QPoint(5, 85)}) {
    int light = 0;
    for (int y = lamp.y(); y < lamp.y() + 14; ++y)
      for (int x = lamp.x() + 21; x < lamp.x() + 100; ++x) light += testutil::Luminance(image.pixel(x, y)) > 170;
    EXPECT_GT(light, 10);
  }
}

TEST_F(Lumora, UnfinishedAndFailedReadsChangeNothing) {
  host.values = {int32_t{7}};
  host.state = kComponentQueued;
  QWidget* view = Create(&host);
  ASSERT_NE(view, nullptr);
  // While the read is pending it is polled and no new read starts.
  ASSERT_TRUE(testutil::WaitFor([&] { return host.polls >= 5; }, 10000));
  EXPECT_EQ(host.reads, 1);
  // A device error ends the read: the next one starts and the lamps stay as they were.
  host.state = kComponentDeviceError;
  ASSERT_TRUE(testutil::WaitFor([&] { return host.reads >= 3; }, 10000));
  EXPECT_EQ(Lamps(view), std::vector<Lamp>(3, Lamp::Unlit));
  host.state = kComponentUpdated;
  EXPECT_TRUE(testutil::WaitFor([&] { return Lamps(view) == std::vector<Lamp>(3, Lamp::Lit); }, 10000));
}

// Records the region of every paint event the view gets.
class PaintRecorder : public QObject {
 public:
  std::vector<QRegion> regions;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) regions.push_back(static_cast<QPaintEvent*>(event)->region());
    return false;
  }
};

TEST_F(Lumora, RepaintsOnlyChangedLamps) {
  QWidget* view = Create(&host);
  ASSERT_NE(view, nullptr);
  PaintRecorder recorder;
  view->installEventFilter(&recorder);
  const QRect run(5, 45, 20, 20);
  const QRect fault(105, 45, 20, 20);
  // A repaint of a lamp alone (the view was painted whole when it was shown).
  auto painted = [&](const QRect& lamp) {
    for (const QRegion& r : recorder.regions)
      if (r.intersects(lamp) && !r.intersects(QRect(0, 0, 5, 5)) && !r.intersects(QRect(30, 45, 40, 20))) return true;
    return false;
  };

  host.values = {int32_t{1}};
  ASSERT_TRUE(testutil::WaitFor([&] { return painted(run); }, 10000));
  recorder.regions.clear();
  // The same value again: two more reads end without a repaint.
  const int reads = host.reads;
  ASSERT_TRUE(testutil::WaitFor([&] { return host.reads >= reads + 2; }, 10000));
  EXPECT_TRUE(recorder.regions.empty());

  host.values = {int32_t{2}};
  ASSERT_TRUE(testutil::WaitFor([&] { return painted(run) && painted(fault); }, 10000));
  for (const QRegion& r : recorder.regions) EXPECT_TRUE((r - QRegion(run) - QRegion(fault)).isEmpty());
  view->removeEventFilter(&recorder);
}

TEST_F(Lumora, MalformedBitmaskStillWorks) {
  host.bitmask = "newline;newline;;,,,;x,-99999999999999999999;\xff\xfe,1;;;;";
  host.values = {int32_t{-1}};
  QWidget* view = Create(&host);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(testutil::WaitFor(
      [&] {
        const QImage image = testutil::Render(view);
        return LampAt(image, 2, 3) == Lamp::Lit && LampAt(image, 3, 3) == Lamp::Lit &&
               LampAt(image, 1, 3) == Lamp::Other;  // maskless places are not drawn
      },
      10000));
}

struct FaultCase {
  const char* name;
  ScriptedHost::Fault fault;
  const char* line;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class LumoraFaults : public Lumora, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LumoraFaults, AreLogged) {
  testutil::ScratchFolder scratch;
  host.fault = GetParam().fault;
  ASSERT_NE(Create(&host), nullptr);
  ASSERT_TRUE(testutil::WaitFor([] { return ReadLog().endsWith('\n'); }, 10000));
  component->Destroy();
  component = nullptr;
  const QStringList lines = ReadLog().split('\n', Qt::SkipEmptyParts);
  ASSERT_FALSE(lines.isEmpty());
  for (const QString& line : lines) EXPECT_EQ(line + '\n', QString(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(Throws, LumoraFaults,
                         ::testing::Values(FaultCase{"StdException", ScriptedHost::Fault::Std, "catched boom\n"},
                                           FaultCase{"Int", ScriptedHost::Fault::Int, "catched unknown\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Reads a tool's standard output.
QString ToolOutput(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(60000)) return {};
  return QString::fromLocal8Bit(process.readAllStandardOutput());
}

TEST(LumoraModule, LinksNothingOfKelmora) {
  const QString module = QStringLiteral(LUMORA_MODULE_PATH);
  const std::set<QString> allowed = {"libQt6Widgets.so.6", "libQt6Gui.so.6", "libQt6Core.so.6", "libstdc++.so.6",
                                     "libm.so.6",          "libgcc_s.so.1",  "libc.so.6"};
  int needed = 0;
  for (const QString& line : ToolOutput("readelf", {"-d", module}).split('\n')) {
    if (!line.contains("(NEEDED)")) continue;
    const QString name = line.section('[', 1).section(']', 0, 0);
    // A sanitizer build links its runtime into every module.
    if (name.contains(QRegularExpression("^lib(a|ub|t)san\\.so"))) continue;
    EXPECT_TRUE(allowed.count(name)) << name.toStdString();
    ++needed;
  }
  EXPECT_GT(needed, 0);

  std::set<QString> text;
  for (const QString& line : ToolOutput("nm", {"-D", "--defined-only", module}).split('\n')) {
    const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
    if (fields.size() == 3 && fields[1] == "T") text.insert(fields[2]);
  }
  EXPECT_EQ(text, (std::set<QString>{"ComponentVersion", "ConnectComponent"}));

  const QString ldd = ToolOutput("ldd", {module});
  EXPECT_TRUE(ldd.contains("libQt6Core.so.6")) << ldd.toStdString();
  EXPECT_FALSE(ldd.contains(QStringLiteral(KELMORA_BUILD_DIR))) << ldd.toStdString();
}

}  // namespace
