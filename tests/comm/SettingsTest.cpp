// The connection settings in a settings file of their own, in a temporary folder.
#include <gtest/gtest.h>

#include <QSettings>

#include <filesystem>

#include "comm/ConnectionSettings.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

// A record with the eight entries of every version set and the TCP ones at their defaults.
ConnectionSettings Eight(int32_t type, int32_t number, int32_t device, int32_t baud, int32_t bits, int32_t parity,
                         int32_t stop, int32_t slave) {
  ConnectionSettings s;
  s.serialType = type;
  s.serialNumber = number;
  s.deviceNumber = device;
  s.baudRate = baud;
  s.dataBits = bits;
  s.parity = parity;
  s.stopBits = stop;
  s.modbusSlaveNumber = slave;
  return s;
}

class SettingsTest : public ::testing::Test {
 protected:
  TempWorkDir dir;
  // Qt reads XDG_CONFIG_HOME once per process; the path is set for each test instead.
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path()));
  }
};

TEST_F(SettingsTest, NothingStoredKeepsTheDefaults) {
  ConnectionSettings settings;
  settings.Load(kSettingsSection);
  EXPECT_EQ(settings, ConnectionSettings{});
  EXPECT_EQ(settings.serialType, 0);
  EXPECT_EQ(settings.serialNumber, 1);
  EXPECT_EQ(settings.baudRate, 9600);
  EXPECT_EQ(settings.dataBits, 8);
  EXPECT_EQ(settings.parity, 0);
  EXPECT_EQ(settings.stopBits, 0);
  EXPECT_EQ(settings.modbusSlaveNumber, 0);
}

TEST_F(SettingsTest, SaveThenLoadGivesTheSavedValues) {
  const ConnectionSettings saved = Eight(1, 9, 2, 38400, 7, 2, 2, 10);
  saved.Save(kSettingsSection);
  ConnectionSettings loaded;
  loaded.Load(kSettingsSection);
  EXPECT_EQ(loaded, saved);
  // The file is the program's own, in the Kelmora folder, with the values under Settings/Serial.
  const auto folder = std::filesystem::path(dir.Path()) / "Kelmora";
  ASSERT_TRUE(std::filesystem::exists(folder));
  std::string text;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) text += ReadTextFile(entry.path());
  EXPECT_NE(text.find("[Settings]"), std::string::npos) << text;
  EXPECT_NE(text.find("Serial\\BaudRate=38400"), std::string::npos) << text;
  // Another prefix is another section.
  ConnectionSettings other;
  other.Load("Other");
  EXPECT_EQ(other, ConnectionSettings{});
}

// The stored entries of the settings file, as any program reading it with QSettings sees them.
QSettings StoredFile(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir) / "Kelmora"))
    return QSettings(QString::fromStdString(entry.path().string()), QSettings::IniFormat);
  return QSettings(QString(), QSettings::IniFormat);
}

TEST_F(SettingsTest, TcpEntriesComeBesideTheEightThatOlderProgramsRead) {
  ConnectionSettings saved = Eight(0, 3, 1, 19200, 7, 2, 2, 17);
  saved.useTcp = 1;
  saved.tcpHost = "nport-5110.plant.local";
  saved.tcpPort = 950;
  saved.Save(kSettingsSection);
  ConnectionSettings loaded;
  loaded.Load(kSettingsSection);
  EXPECT_EQ(loaded, saved);

  // What an older program finds: its eight entries, by their names, with the COM port it knows;
  // the TCP choice is in entries of their own.
  QSettings file = StoredFile(dir.Path());
  file.beginGroup("Settings/Serial");
  const std::pair<const char*, int> eight[] = {{"SerialType", 0}, {"SerialNumber", 3}, {"DeviceNumber", 1},
                                               {"BaudRate", 19200}, {"DataBits", 7},   {"Parity", 2},
                                               {"StopBits", 2},     {"ModbusSlaveNumber", 17}};
  for (const auto& [name, value] : eight) EXPECT_EQ(file.value(name).toString(), QString::number(value)) << name;
  EXPECT_EQ(file.value("UseTcp").toString(), "1");
  EXPECT_EQ(file.value("TcpHost").toString(), "nport-5110.plant.local");
  EXPECT_EQ(file.value("TcpPort").toString(), "950");
  EXPECT_EQ(file.childKeys().size(), 11);
}

TEST_F(SettingsTest, AFileOfAnOlderProgramLoadsWithoutTcp) {
  {
    // Written as a program that knows only the eight entries writes them.
    const ConnectionSettings older = Eight(1, 4, 2, 38400, 8, 0, 0, 10);
    older.Save(kSettingsSection);
    QSettings file = StoredFile(dir.Path());
    file.beginGroup("Settings/Serial");
    for (const char* entry : {"UseTcp", "TcpHost", "TcpPort"}) file.remove(entry);
    file.sync();
    ASSERT_EQ(file.childKeys().size(), 8);
  }
  ConnectionSettings loaded;
  loaded.Load(kSettingsSection);
  EXPECT_EQ(loaded, Eight(1, 4, 2, 38400, 8, 0, 0, 10));
  EXPECT_EQ(loaded.useTcp, 0);
  EXPECT_EQ(loaded.tcpHost, "");
  EXPECT_EQ(loaded.tcpPort, 4001);
}

TEST_F(SettingsTest, HostsOfEveryFormSurviveTheFile) {
  for (const char* host : {"192.168.127.254", "::1", "fd00:0:0:7::2", "nport.plant.local", "", "Konverter-3"}) {
    ConnectionSettings saved;
    saved.useTcp = 1;
    saved.tcpHost = host;
    saved.tcpPort = 65535;
    saved.Save(kSettingsSection);
    ConnectionSettings loaded;
    loaded.tcpHost = "stale";
    loaded.Load(kSettingsSection);
    EXPECT_EQ(loaded.tcpHost, host);
    EXPECT_EQ(loaded, saved) << host;
  }
}

}  // namespace
