// kelmora-cli's commands against a register-image device on a pty, run in-process.
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/Cli.h"
#include "tests/support/RegisterSlave.h"
#include "tests/support/SocatRelay.h"
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
        <visualobject type="slider">
          <VALUE type="ranged fix">
            <caption>Frequency, Hz</caption>
            <divisor>0.1</divisor>
            <rangemin>0</rangemin>
            <rangemax>50</rangemax>
            <modbus element="hreg">202</modbus>
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

TEST_F(CliTest, TcpAddressesAreCheckedAsUsage) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--tcp"}, "--tcp needs a value"},
      {{"--tcp", "127.0.0.1", "identify"}, "\"127.0.0.1\" has no port number (HOST:PORT)"},
      {{"--tcp", "127.0.0.1:", "identify"}, "has no port number"},
      {{"--tcp", "127.0.0.1:port", "identify"}, "the port number is not a number from 1 to 65535"},
      {{"--tcp", "127.0.0.1:0", "identify"}, "the port number is not a number from 1 to 65535"},
      {{"--tcp", "127.0.0.1:65536", "identify"}, "the port number is not a number from 1 to 65535"},
      {{"--tcp", ":4001", "identify"}, "has no host"},
      {{"--tcp", "fd00::7:4001", "identify"}, "[ADDRESS]:PORT"},
      {{"--tcp", "127.0.0.1:4001", "--com", "9", "identify"}, "--tcp and --com exclude each other"},
      {{"--ftdi", "0", "--tcp", "127.0.0.1:4001", "identify"}, "--tcp and --ftdi exclude each other"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), 2) << c.message;
    EXPECT_THAT(err, HasSubstr(c.message));
    EXPECT_THAT(err, HasSubstr("kelmora-cli --help"));
  }
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_THAT(out, HasSubstr("--tcp HOST:PORT"));
}

TEST_F(CliTest, ARefusedTcpConnectionIsNamed) {
  const std::string address = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
  EXPECT_EQ(Run({"--tcp", address, "identify"}), 1);
  EXPECT_EQ(err, "cannot open the port: TCP " + address + ": no connection: Connection refused\n");
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
  slave.SetException(6, 201, 0);
  EXPECT_EQ(Run({"write", "Frequency, Hz=50", "mode=auto"}), 0) << err;  // a range's limit is in it
  EXPECT_EQ(slave.Holding(202), 500);
  EXPECT_EQ(slave.Holding(201), 2);
}

TEST_F(CliTest, WriteRefusesBadValuesAndSendsNothing) {
  const std::map<uint16_t, uint16_t> image = {{200, 11}, {201, 1}, {202, 22}, {300, 33}};
  for (const auto& [address, value] : image) slave.SetHolding(address, value);
  const struct {
    std::vector<std::string> assignments;
    std::string message;
  } cases[] = {
      {{"Frequency, Hz=abc"}, "Frequency, Hz: \"abc\" is not a number"},
      {{"Frequency, Hz=12abc"}, "\"12abc\" is not a number"},
      {{"Frequency, Hz="}, "\"\" is not a number"},
      {{"Frequency, Hz=9999"}, "\"9999\" is outside the range 0 to 50 Hz"},
      {{"Frequency, Hz=-0.1"}, "\"-0.1\" is outside the range 0 to 50 Hz"},
      {{"Silent one=2.5"}, "\"2.5\" is not a whole number"},
      {{"Silent one=40000"}, "\"40000\" does not fit its register, which holds -32768 to 32767"},
      {{"Setpoint=400"}, "\"400\" does not fit its register, which holds -327.68 to 327.67"},
      {{"Mode=Turbo"}, "\"Turbo\" is not a whole number nor one of the items Off, Manual, Auto"},
      {{"Mode=3"}, "\"3\" is not one of the items 0 Off, 1 Manual, 2 Auto"},
      // A good value before a bad one is not sent either.
      {{"Setpoint=1", "Frequency, Hz=51"}, "\"51\" is outside the range 0 to 50 Hz"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"write"};
    args.insert(args.end(), c.assignments.begin(), c.assignments.end());
    slave.ClearRequests();
    EXPECT_EQ(Run(args), 2) << c.message;
    EXPECT_THAT(err, HasSubstr(c.message));
    EXPECT_THAT(err, HasSubstr("nothing was written"));
    EXPECT_EQ(out, "");
    for (const auto& r : slave.Requests())
      EXPECT_TRUE(r.function == 3 || r.function == 4) << c.message << ": function " << int(r.function);
    for (const auto& [address, value] : image) EXPECT_EQ(slave.Holding(address), value) << c.message;
  }
}

TEST_F(CliTest, WatchPrintsRoundsWhenPiped) {
  slave.SetInput(101, 10);
  EXPECT_EQ(Run({"watch", "--count", "2", "--interval", "10"}), 0) << err;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 12);
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
  EXPECT_THAT(out, HasSubstr("\"TestDev 1.02\"  program 3.04  pages 1  objects 5  properties 5"));
  std::ofstream("profiles/broken.xml") << "<devices><device name=\"B\"";
  EXPECT_EQ(Run({"profiles", "--check"}), 1);
  EXPECT_THAT(out, HasSubstr("broken.xml"));
}

}  // namespace
