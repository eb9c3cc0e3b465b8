// kelmora-cli's commands against a register-image device on a pty, run in-process.
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Cli.h"
#include "tests/support/RegisterSlave.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using ::testing::HasSubstr;

namespace {

// A device profile with one property of each interesting kind.
constexpr const char* kProfile = R"(<?xml version="1.0" encoding="UTF-8"?>
<devices>
  <device name="TestDev" version="1.02" firmware="3.04">
    <representation>
      <caption>Test</caption>
      <page name="Main">
        <visualobject type="watch">
          <VALUE type="ranged fix">
            <caption>Voltage</caption>
            <divisor>0.1</divisor>
            <modbus element="input reg">101</modbus>
          </VALUE>
        </visualobject>
        <visualobject type="edit">
          <VALUE type="ranged fix">
            <caption>Setpoint</caption>
            <divisor>0.01</divisor>
            <modbus element="hreg">200</modbus>
          </VALUE>
        </visualobject>
        <visualobject type="combo">
          <VALUE type="natural">
            <caption>Mode</caption>
            <data>Off</data><data>Manual</data><data>Auto</data>
            <modbus element="hreg">201</modbus>
          </VALUE>
        </visualobject>
        <visualobject type="watch">
          <VALUE type="ranged int">
            <caption>Silent one</caption>
            <modbus element="hreg">300</modbus>
          </VALUE>
        </visualobject>
      </page>
    </representation>
  </device>
</devices>
)";

class CliTest : public ::testing::Test {
 protected:
  TempWorkDir dir;
  PtyPair pty;
  RegisterSlave slave{pty.master, 10};
  std::string out, err;

  void SetUp() override {
    namespace fs = std::filesystem;
    fs::create_directories("profiles");
    std::ofstream("profiles/test.xml") << kProfile;
    fs::create_directories("ports");
    fs::create_symlink(pty.slavePath, "ports/com9");
    setenv("KELMORA_PORTS_DIR", (dir.Path() + "/ports").c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path() + "/config"));
    slave.SetIdentity("TestDev", 1, 2, 3, 4);
  }
  void TearDown() override { unsetenv("KELMORA_PORTS_DIR"); }

  int Run(std::vector<std::string> args) {
    std::ostringstream o, e;
    const int code = RunCli(args, o, e);
    out = o.str();
    err = e.str();
    return code;
  }
};

TEST_F(CliTest, UsageErrorsExitWith2) {
  EXPECT_EQ(Run({}), 2);
  EXPECT_THAT(err, HasSubstr("no command given"));
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_THAT(err, HasSubstr("unknown command frobnicate"));
  EXPECT_EQ(Run({"--com", "x", "identify"}), 2);
  EXPECT_THAT(err, HasSubstr("--com needs a number"));
  EXPECT_EQ(Run({"--com", "1", "--ftdi", "0", "identify"}), 2);
  EXPECT_EQ(Run({"--parity", "sometimes", "identify"}), 2);
  EXPECT_EQ(Run({"--bogus"}), 2);
  EXPECT_EQ(Run({"read"}), 2);
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_THAT(out, HasSubstr("Exit codes: 0 success, 1 device error or time-out, 2 usage error."));
}

TEST_F(CliTest, IdentifyNamesDeviceAndProfile) {
  // No connection options: the first-start defaults COM9, 38400 baud, slave 10.
  EXPECT_EQ(Run({"identify"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("device: TestDev 1.02, program 3.04"));
  EXPECT_THAT(out, HasSubstr("profile: \"TestDev 1.02\""));
  slave.SetIdentity("Other", 1, 2, 3, 4);
  EXPECT_EQ(Run({"identify"}), 1);
  EXPECT_THAT(out, HasSubstr("profile: none matches"));
}

TEST_F(CliTest, ReadShowsEngineeringValuesOrTheFailure) {
  slave.SetInput(101, 5301);
  slave.SetHolding(200, 1250);
  slave.SetHolding(201, 2);
  slave.SetSilent(300, true);
  EXPECT_EQ(Run({"read", "Voltage", "1", "mode"}), 0) << err;
  EXPECT_EQ(out, "0 Voltage = 530.1\n1 Setpoint = 12.5\n2 Mode = 2 (Auto)\n");
  EXPECT_EQ(Run({"read", "Silent one"}), 1);
  EXPECT_EQ(out, "3 Silent one = Timeout\n");
  EXPECT_EQ(Run({"read", "Nope"}), 2);
  EXPECT_THAT(err, HasSubstr("no property \"Nope\""));
}

TEST_F(CliTest, WriteTakesEngineeringUnitsAndItemTexts) {
  EXPECT_EQ(Run({"write", "Setpoint=12.34", "Mode=Manual"}), 0) << err;
  EXPECT_EQ(slave.Holding(200), 1234);
  EXPECT_EQ(slave.Holding(201), 1);
  EXPECT_EQ(out, "1 Setpoint = 12.34\n2 Mode = 1 (Manual)\n");
  slave.SetException(6, 201, 3);
  EXPECT_EQ(Run({"write", "2=0"}), 1);
  EXPECT_EQ(out, "2 Mode = Device Error\n");
  EXPECT_EQ(Run({"write", "Setpoint"}), 2);
}

TEST_F(CliTest, WatchPrintsRoundsWhenPiped) {
  slave.SetInput(101, 10);
  EXPECT_EQ(Run({"watch", "--count", "2", "--interval", "10"}), 0) << err;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 10);
  EXPECT_THAT(out, HasSubstr("TestDev 1.02 on COM9"));
  EXPECT_THAT(out, HasSubstr("0 Voltage = 1\n"));
  EXPECT_EQ(Run({"watch", "--page", "7", "--count", "1"}), 2);
}

TEST_F(CliTest, FlashSaveShowsItsStages) {
  slave.OnWrite([](uint16_t a, uint16_t value, RegisterSlave& s) {
    if (a == 1) s.HoldingRef(1) = value == 0x0FFF ? 0x0F00 : 0;
  });
  EXPECT_EQ(Run({"flash", "save"}), 0) << err;
  // Stages are sampled as the wizard's page does; the 200 ms of the compatibility check show.
  EXPECT_THAT(out, HasSubstr("Checking compability...\n"));
  EXPECT_THAT(out, HasSubstr("flash save: Updated"));
  EXPECT_EQ(Run({"flash", "erase"}), 2);
}

TEST_F(CliTest, UnidentifiedDeviceNeedsAProfileChoice) {
  slave.SetSilent(1, true);
  EXPECT_EQ(Run({"read", "Voltage"}), 1);
  EXPECT_THAT(err, HasSubstr("did not identify itself"));
  EXPECT_THAT(err, HasSubstr("--profile"));
  slave.SetInput(101, 7);
  EXPECT_EQ(Run({"--profile", "TestDev 1.02", "read", "Voltage"}), 0) << err;
  EXPECT_EQ(out, "0 Voltage = .7\n");
  EXPECT_EQ(Run({"--profile", "Missing 9.99", "read", "Voltage"}), 1);
  EXPECT_THAT(err, HasSubstr("\"TestDev 1.02\""));
}

TEST_F(CliTest, PortProblemsAreNamed) {
  EXPECT_EQ(Run({"--com", "4", "identify"}), 1);
  EXPECT_THAT(err, HasSubstr("cannot open the port: COM4"));
  EXPECT_THAT(err, HasSubstr("does not exist"));
}

TEST_F(CliTest, PortsAndProfiles) {
  EXPECT_EQ(Run({"ports"}), 0);
  EXPECT_THAT(out, HasSubstr("COM9  " + pty.slavePath + "  (link)"));
  EXPECT_EQ(Run({"profiles", "--check"}), 0) << out;
  EXPECT_THAT(out, HasSubstr("\"TestDev 1.02\"  program 3.04  pages 1  objects 4  properties 4"));
  std::ofstream("profiles/broken.xml") << "<devices><device name=\"B\"";
  EXPECT_EQ(Run({"profiles", "--check"}), 1);
  EXPECT_THAT(out, HasSubstr("broken.xml"));
}

}  // namespace
