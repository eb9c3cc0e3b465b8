// Opening the connection from the settings, identifying the device and matching profiles.
#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>

#include "comm/Connection.h"
#include "tests/support/RegisterSlave.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

DeviceProfile Named(const std::string& name, int major, int minor) {
  DeviceProfile p;
  p.identity.name = name;
  p.identity.version = Version{major, minor};
  return p;
}

class ConnectionTest : public ::testing::Test {
 protected:
  TempWorkDir dir;
  PtyPair pty;
  RegisterSlave slave{pty.master, 10};
  ConnectionSettings settings;

  void SetUp() override {
    std::filesystem::create_directories("ports");
    std::filesystem::create_symlink(pty.slavePath, "ports/com9");
    setenv("KELMORA_PORTS_DIR", (dir.Path() + "/ports").c_str(), 1);
    settings.serialNumber = 9;
    settings.baudRate = 38400;
    settings.modbusSlaveNumber = 10;
  }
  void TearDown() override {
    unsetenv("KELMORA_PORTS_DIR");
    unsetenv("KELMORA_FTDI_FAKE");
  }
};

TEST_F(ConnectionTest, IdentifiesTheDevice) {
  slave.SetIdentity("PDC-4120", 2, 3, 1, 14);
  CConnection connection;
  std::string why;
  ASSERT_TRUE(connection.Create(settings, &why)) << why;
  EXPECT_EQ(connection.Description(), "COM9 (" + pty.slavePath + ")");
  EXPECT_EQ(connection.Port()->GetBaudrate(), 38400);
  std::vector<std::string> steps;
  DeviceIdentity identity;
  ASSERT_TRUE(IdentifyDevice(*connection.Protocol(), identity, [&](const std::string& s) { steps.push_back(s); }));
  EXPECT_EQ(identity.name, "PDC-4120");
  EXPECT_EQ(identity.version.Format(), "2.03");
  EXPECT_EQ(identity.programVersion.Format(), "1.14");
  EXPECT_EQ(steps, (std::vector<std::string>{"Searching auto-detection capabilities...", "Reading device name...",
                                             "Reading device version...", "Reading program version..."}));
  EXPECT_EQ(ReadLines("faults.log"), steps);
  // The name block is read as one request of its own length.
  EXPECT_EQ(slave.Requests()[1].address, 16);
  EXPECT_EQ(slave.Requests()[1].quantity, 4);
}

TEST_F(ConnectionTest, OddNamesAndVersionBytes) {
  slave.SetIdentity("PDC-7", 1, 5, 0, 9, 40);
  CConnection connection;
  ASSERT_TRUE(connection.Create(settings));
  DeviceIdentity identity;
  ASSERT_TRUE(IdentifyDevice(*connection.Protocol(), identity));
  EXPECT_EQ(identity.name, "PDC-7");  // the padding byte is not part of the name
  EXPECT_EQ(identity.version.Format(), "1.05");
  EXPECT_EQ(identity.programVersion.Format(), "0.09");
}

TEST_F(ConnectionTest, AnyFailedReadMeansUnknown) {
  slave.SetIdentity("PDC-4120", 2, 3, 1, 14);
  CConnection connection;
  ASSERT_TRUE(connection.Create(settings));
  connection.Protocol()->timeoutMs = 20;
  for (uint16_t silent : {1, 16, 2, 3}) {
    slave.SetSilent(silent, true);
    DeviceIdentity identity;
    identity.name = "stale";
    EXPECT_FALSE(IdentifyDevice(*connection.Protocol(), identity)) << silent;
    EXPECT_EQ(identity.name, "Unknown");
    EXPECT_EQ(identity.version.Format(), "0.00");
    slave.SetSilent(silent, false);
  }
}

TEST_F(ConnectionTest, PortsThatCannotBeUsedAreExplained) {
  CConnection connection;
  std::string why;
  settings.serialNumber = 33;
  EXPECT_FALSE(connection.Create(settings, &why));
  EXPECT_NE(why.find("COM33"), std::string::npos) << why;
  EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
  settings.serialNumber = 9;
  settings.baudRate = 12345;  // a speed the line cannot run at
  EXPECT_FALSE(connection.Create(settings, &why));
  EXPECT_NE(why.find("not supported"), std::string::npos) << why;
  // An FTDI index with no adapter behind it fails before any port is opened.
  setenv("KELMORA_FTDI_FAKE", ("FT01=" + pty.slavePath).c_str(), 1);
  settings = ConnectionSettings{};
  settings.serialType = 1;
  settings.deviceNumber = 3;
  EXPECT_FALSE(connection.Create(settings, &why));
  EXPECT_EQ(why, "no FTDI adapter at index 3");
  settings.deviceNumber = 0;
  settings.modbusSlaveNumber = 10;
  slave.SetIdentity("X", 1, 0, 1, 0);
  ASSERT_TRUE(connection.Create(settings, &why)) << why;
  EXPECT_EQ(connection.Description(), "FTDI FT01");
  DeviceIdentity identity;
  EXPECT_TRUE(IdentifyDevice(*connection.Protocol(), identity));
}

TEST(ProfileMatchTest, NamesCompareWithoutCaseVersionsExactly) {
  DeviceIdentity device;
  device.name = "pdc-4120";
  device.version = Version{2, 3};
  const std::vector<DeviceProfile> profiles = {Named("PDC-4120", 2, 3), Named("PDC-4120", 2, 4), Named("PDC-412", 2, 3),
                                               Named("Pdc-4120", 2, 3)};
  EXPECT_TRUE(ProfileMatches(profiles[0], device));
  EXPECT_FALSE(ProfileMatches(profiles[1], device));
  EXPECT_FALSE(ProfileMatches(profiles[2], device));
  EXPECT_EQ(FindMatchingProfile(profiles, device), 3);  // the last match wins
  device.version = Version{9, 9};
  EXPECT_EQ(FindMatchingProfile(profiles, device), -1);
}

TEST(ProfileMatchTest, RepeatedListTextsGetSuffixes) {
  const std::vector<DeviceProfile> profiles = {Named("A", 1, 5), Named("A", 1, 5), Named("B", 2, 0), Named("A", 1, 5)};
  EXPECT_EQ(ProfileListTexts(profiles), (std::vector<std::string>{"A 1.05", "A 1.05.1", "B 2.00", "A 1.05.2"}));
}

}  // namespace
