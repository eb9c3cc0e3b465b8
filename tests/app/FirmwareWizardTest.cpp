// The firmware update wizard: whole updates against kelmora-sim for the boot loaders of the
// demo devices, the command's refusals and the image page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "XMLParser/XDeviceProfileManager.h"
#include "app/FirmwareWizard.h"
#include "comm/Connection.h"
#include "firmware/FlashLoader.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/widgets/WidgetTestUtil.h"

using namespace fwtest;
using testing::ElementsAre;
using testutil::WaitFor;

namespace {

namespace file = templates::loaderfile;
namespace sheet = templates::loadersheet;

struct ShownBox {
  QMessageBox::Icon icon;
  QString caption, text;
  bool operator==(const ShownBox&) const = default;
};
void PrintTo(const ShownBox& b, std::ostream* os) {
  *os << b.icon << " " << b.caption.toStdString() << ": " << b.text.toStdString();
}
const ShownBox kWrongFormat{QMessageBox::Critical, "Error", "Wrong file format"};

DeviceProfile Demo(const std::string& file) {
  CXDeviceProfileManager manager;
  manager.ParseProfileFile(file.find('/') == std::string::npos ? KELMORA_DEMO_PROFILES "/" + file : file);
  return manager.GetProfileCount() == 1 ? manager.GetProfiles()[0] : DeviceProfile{};
}
QString Text(const QWidget* parent, int id) { return control<QLabel>(parent, id)->text(); }
void Click(const QWidget* parent, int id) { QTest::mouseClick(control<QPushButton>(parent, id), Qt::LeftButton); }

class FirmwareWizard : public testing::Test {
 protected:
  testing_support::TempWorkDir dir;
  std::vector<ShownBox> boxes;
  LoaderMessageBox record = [this](QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    boxes.push_back({icon, caption, text});
  };
  void SetUp() override {
    std::filesystem::create_directories("ports");
    setenv("KELMORA_PORTS_DIR", (dir.Path() + "/ports").c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path() + "/config"));
  }
  void TearDown() override {
    unsetenv("KELMORA_PORTS_DIR");
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible()) << w->windowTitle().toStdString();
  }
};

// A whole update through the wizard: Next loads the remembered image without browsing, the
// device goes into its boot loader, the line switches to the boot loader's speed (one the line
// does not offer leaves it, with a warning) and the flash ends up holding the image byte for
// byte, or the boot loader's error is reported. The images are LPC ARM builds, their vector
// checksum in place.
struct UpdateCase {
  const char* label;
  const char* profile;    // in demo/profiles
  const char* baudrate;   // replaces the profile's, or null
  int lineBaud;           // the line's speed while the loader runs
  const char* bootError;  // the boot loader's injected error (kelmora-sim --boot-error), or null
};
void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.label; }
class WizardUpdates : public FirmwareWizard, public testing::WithParamInterface<UpdateCase> {};

TEST_P(WizardUpdates, FlashTheSimulatedDevice) {
  const UpdateCase& c = GetParam();
  std::string profilePath = KELMORA_DEMO_PROFILES "/" + std::string(c.profile);
  if (c.baudrate != nullptr) {
    std::string xml = testing_support::ReadTextFile(profilePath);
    const auto at = xml.find("baudrate=\"") + 10;
    WriteFile(profilePath = dir.Path() + "/profile.xml", xml.replace(at, xml.find('"', at) - at, c.baudrate));
  }
  const DeviceProfile profile = Demo(profilePath);
  const Bytes binary = WithVectorChecksum(RandomBytes(40 * 1024, 77));
  std::string hex = ObjcopyHex(binary, 0, dir.Path());
  if (hex.empty()) GTEST_SKIP() << "objcopy is not installed";
  std::vector<std::pair<std::uint64_t, std::uint64_t>> sectors;
  for (const MemorySector& s : profile.firmware.memoryMap.Sectors()) sectors.emplace_back(s.start, s.end - 1);
  if (profile.firmware.version == Version{2, 0}) hex = HeaderedImage(hex, 12, 34, binary, 0, sectors);
  WriteFile("image.hex", hex);
  WriteStoredSetting(kSettingsSection, "LastFlashFile", dir.Path() + "/image.hex");

  std::vector<std::string> arguments = {"--link", dir.Path() + "/ports/com9", "--profile", profilePath,
                                        "--dump-flash", dir.Path() + "/flash.bin", "--identity", "12,34"};
  if (c.bootError != nullptr) arguments.insert(arguments.end(), {"--boot-error", c.bootError});
  simtest::SimProcess sim(arguments);
  ASSERT_FALSE(sim.DevicePath().empty()) << sim.Output();
  CConnection connection;
  ASSERT_TRUE(connection.Create(ConnectionSettings{.serialNumber = 9, .baudRate = 38400, .modbusSlaveNumber = 10}));
  ModbusDevice device(connection.Protocol());
  CDeviceView server(profile, &device);
  server.Create(nullptr, 0);
  const auto loader = CreateFlashLoader(connection.Channel(), profile.firmware);
  {
    CLoaderSheet wizard(loader.get(), profile.identity, &server, nullptr, record);
    wizard.show();
    Click(&wizard, sheet::kNext);
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty() && boxes.back().caption == "Loader"; }, 60000));
  }
  if (c.baudrate != nullptr) {
    EXPECT_EQ(boxes.front(), (ShownBox{QMessageBox::Warning, "Kelmora",
                                       "Baudrate does not supported\nNow we will try at default baudrate"}));
  }
  EXPECT_EQ(boxes.size(), c.baudrate != nullptr ? 2u : 1u);
  EXPECT_EQ(connection.Port()->GetBaudrate(), c.lineBaud);
  if (c.bootError != nullptr) {
    EXPECT_EQ(boxes.back(), (ShownBox{QMessageBox::Critical, "Loader",
                                      "Boot load process halted due to next error \n"
                                      "Post-write verification failed. Check hardware."}));
    return;
  }
  EXPECT_THAT(boxes.back().text.toStdString(),
              testing::MatchesRegex("COMPLETE: Boot load process complete in [0-9]+\\.[0-9]{4}s\\. \n"
                                    "Now you should restart both software and device"));
  ASSERT_FALSE(sim.WaitForLine("flash written", 10000).empty()) << sim.Output();
  const Bytes flash = ReadBytes("flash.bin");
  EXPECT_TRUE(flash.size() >= binary.size() && std::equal(binary.begin(), binary.end(), flash.begin()));
}

INSTANTIATE_TEST_SUITE_P(Loader, WizardUpdates,
                         testing::Values(UpdateCase{"Ihst", "PDC-1100-IHST.xml", nullptr, 19200, nullptr},
                                         UpdateCase{"Ihex", "PDC-2200-IHEX1.xml", nullptr, 115200, nullptr},
                                         UpdateCase{"Ihex2", "PDC-3300-IHEX2.xml", nullptr, 115200, nullptr},
                                         UpdateCase{"Ihex2LpcArm", "PDC-4120.xml", nullptr, 115200, nullptr},
                                         UpdateCase{"UnsupportedBaudRate", "PDC-1100-IHST.xml", "57600", 38400, nullptr},
                                         UpdateCase{"VerificationFails", "PDC-2200-IHEX1.xml", nullptr, 115200,
                                                    "flash-done=6@2"}),
                         [](const auto& info) { return std::string(info.param.label); });

// The command: nothing without a connection, a refusal without a known boot loader, and
// otherwise the wizard, naming the device only when its profile was matched to it.
TEST_F(FirmwareWizard, CommandOpensTheWizardForAKnownBootLoader) {
  testing_support::PtyPair pty;
  ComSerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath, 0, 0, true), 0);
  CComPortChannel channel(&port);
  DeviceProfile profile = Demo("PDC-1100-IHST.xml");
  RunFirmwareUpdate(nullptr, nullptr, profile, true, nullptr, record);
  DeviceProfile unsupported = profile;
  unsupported.firmware.valid = false;
  RunFirmwareUpdate(nullptr, &channel, unsupported, true, nullptr, record);
  EXPECT_THAT(boxes, ElementsAre(ShownBox{QMessageBox::Warning, "Kelmora", "Firmware Update Unsupported"}));

  for (const bool matched : {true, false}) {
    QStringList shown;  // the title, then texts 1025..1030
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* wizard = qobject_cast<CLoaderSheet*>(QApplication::activeModalWidget());
      if (wizard == nullptr || !shown.isEmpty()) return;
      shown << wizard->windowTitle();
      for (int id = file::kDeviceName; id <= file::kImageProgram; ++id) shown << Text(wizard, id);
      Click(wizard, sheet::kCancel);
    });
    poll.start(10);
    RunFirmwareUpdate(nullptr, &channel, profile, matched, nullptr, record);
    EXPECT_EQ(shown.join(' '), matched ? "Loader PDC-1100 1.02 1.07 Unknown Unknown Unknown"
                                       : "Loader Unknown Unknown Unknown Unknown Unknown Unknown");
  }
  EXPECT_EQ(boxes.size(), 1u);
}

// Next reads the image: one that cannot be read or holds nothing for the device's flash keeps
// the wizard on the image page, after the reader's own message if any. The path shown first
// is the remembered one; the one typed last is remembered.
TEST_F(FirmwareWizard, UnusableImagesStayOnTheImagePage) {
  WriteStoredSetting(kSettingsSection, "LastFlashFile", "/images/old.hex");
  const std::pair<std::string, std::vector<ShownBox>> cases[] = {
      {":0300000001020307\n", {{QMessageBox::Critical, "Kelmora", "CRC Error in file"}, kWrongFormat}},
      {":00000001FF\n", {kWrongFormat}},
  };
  auto loader = CreateFlashLoader(nullptr, Description("FU$-IHEX", {1, 0}, MemoryMap(0x1000, 8, 0)));
  {
    CLoaderSheet wizard(loader.get(), DeviceIdentity{}, nullptr, nullptr, record);
    wizard.show();
    auto* path = control<QLineEdit>(&wizard, file::kPath);
    EXPECT_EQ(path->text(), "/images/old.hex");
    for (const auto& [text, expected] : cases) {
      boxes.clear();
      WriteFile("image.hex", text);
      path->clear();
      QTest::keyClicks(path, QString::fromStdString(dir.Path() + "/image.hex"));
      Click(&wizard, sheet::kNext);
      EXPECT_EQ(wizard.ActivePage(), 0) << text;
      EXPECT_EQ(boxes, expected) << text;
    }
    Click(&wizard, sheet::kCancel);
  }
  EXPECT_EQ(ReadStoredSetting(kSettingsSection, "LastFlashFile"), dir.Path() + "/image.hex");
}

}  // namespace
