// The connection settings in a settings file of their own, in a temporary folder.
#include <gtest/gtest.h>

#include <QSettings>

#include <filesystem>

#include "comm/ConnectionSettings.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

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
  const ConnectionSettings saved{1, 9, 2, 38400, 7, 2, 2, 10};
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

}  // namespace
