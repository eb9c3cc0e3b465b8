// The kelmora-sim program: its port link, what it prints, how it stops, and its answers to bad
// command lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "tests/sim/SimTestSupport.h"

using namespace simtest;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

TEST(SimProgram, PublishesComNineByDefaultAndRemovesTheLinkOnStop) {
  for (int signal : {SIGTERM, SIGINT}) {
    SimFolder folder;
    SimProcess sim({});
    const std::string path = sim.DevicePath();
    ASSERT_THAT(path, HasSubstr("/dev/pts/")) << sim.Output();
    EXPECT_THAT(sim.WaitForLine("COM9 is", 1000), HasSubstr("COM9 is " + path));
    EXPECT_THAT(sim.WaitForLine("PDC-4120", 1000), HasSubstr("PDC-4120 2.03 (program 1.14)"));
    EXPECT_THAT(sim.WaitForLine("slave", 1000), HasSubstr("slave 10, 38400 8N1"));
    const fs::path link = fs::path(folder.PortsFolder()) / "com9";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), path);

    // A program that opens the port through the link reaches the device, and again after
    // closing it.
    for (int round = 0; round < 2; ++round) {
      ComSerialPort port;
      ASSERT_EQ(port.Open("COM9", 0, 0, true), 0) << round;
      port.Setup(38400, 8, 0, 0);
      CComPortChannel channel(&port);
      ModbusRtuProtocol master(&channel, 10, 300);
      EXPECT_EQ(master.ReadInputRegisters(1, 1).values, std::vector<int32_t>{0x0410}) << round;
    }

    EXPECT_EQ(sim.Stop(signal), 0) << sim.Output();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "link left behind";
    EXPECT_THAT(sim.Output(), HasSubstr("stopped"));
  }
}

TEST(SimProgram, OtherComNumberAndOwnLink) {
  SimFolder folder;
  {
    SimProcess sim({"--com", "4", "--profile", TestProfile(), "--device", "second"});
    ASSERT_FALSE(sim.DevicePath().empty()) << sim.Output();
    EXPECT_TRUE(fs::is_symlink(fs::path(folder.PortsFolder()) / "com4"));
    EXPECT_THAT(sim.Output(), HasSubstr("second 0.01"));
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
  }
  const std::string own = folder.Path() + "/deep/er/ttyKELMORA";
  SimProcess sim({"--link", own, "--pace"});
  const std::string path = sim.DevicePath();
  ASSERT_FALSE(path.empty()) << sim.Output();
  EXPECT_EQ(fs::read_symlink(own).string(), path);
  EXPECT_THAT(sim.Output(), HasSubstr(own + " is " + path));
  EXPECT_THAT(sim.Output(), HasSubstr("paced"));
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(own)));
}

TEST(SimProgram, LeavesForeignLinksAlone) {
  SimFolder folder;
  fs::create_directories(folder.PortsFolder());
  const fs::path link = fs::path(folder.PortsFolder()) / "com9";
  // A live link (some other device) is kept, and the simulator says so.
  fs::create_symlink("/dev/null", link);
  std::string output;
  EXPECT_EQ(RunSim({}, output), 1);
  EXPECT_THAT(output, HasSubstr("com9 already leads to /dev/null"));
  EXPECT_EQ(fs::read_symlink(link).string(), "/dev/null");
  // A dead one, left by a simulator that was killed, is taken over.
  fs::remove(link);
  fs::create_symlink("/dev/pts/does-not-exist", link);
  SimProcess sim({});
  EXPECT_EQ(fs::read_symlink(link).string(), sim.DevicePath()) << sim.Output();
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

TEST(SimProgram, ReportsAndTracesTheBootLoaderStart) {
  SimFolder folder;
  const std::string trace = folder.Path() + "/trace.log";
  SimProcess sim({"--link", folder.Path() + "/tty", "--trace", trace, "--flash-ms", "20"});
  const std::string path = sim.DevicePath();
  ASSERT_FALSE(path.empty()) << sim.Output();
  {
    ComSerialPort port;
    ASSERT_EQ(port.Open(folder.Path() + "/tty", 0, 0, true), 0);
    CComPortChannel channel(&port);
    ModbusRtuProtocol master(&channel, 10, 300);
    EXPECT_EQ(master.WriteSingleRegister(1, 0x0FFF).code, 0u);
    EXPECT_EQ(master.WriteSingleRegister(1, 0x0FAA).code, 0u);
    EXPECT_EQ(master.WriteSingleRegister(10, 0x0FFF).code, 0u);
    EXPECT_EQ(master.WriteSingleRegister(10, 0x0FAA).code, 0u);
  }
  EXPECT_THAT(sim.WaitForLine("saved", 2000), HasSubstr("configuration saved to flash (20 ms)"));
  EXPECT_THAT(sim.WaitForLine("boot loader", 2000), HasSubstr("boot loader started"));
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  const std::string text = testing_support::ReadTextFile(trace);
  EXPECT_THAT(text, HasSubstr("RX 0A 06 00 09 0F AA"));
  EXPECT_THAT(text, HasSubstr("TX 0A 06 00 09 0F AA"));
}

TEST(SimProgram, FaultOptionsReachTheDevice) {
  SimFolder folder;
  SimProcess sim({"--link", folder.Path() + "/tty", "--profile", TestProfile(), "--exception", "201:4",
                  "--silent-after", "3", "--wrong-slave", "1", "--seed", "3"});
  ASSERT_FALSE(sim.DevicePath().empty()) << sim.Output();
  ComSerialPort port;
  ASSERT_EQ(port.Open(folder.Path() + "/tty", 0, 0, true), 0);
  CComPortChannel channel(&port);
  ModbusRtuProtocol master(&channel, 10, 100);
  EXPECT_EQ(master.ReadHoldingRegisters(200, 1).values, std::vector<int32_t>{1234});
  EXPECT_EQ(master.ReadHoldingRegisters(201, 1).code, 4u);
  EXPECT_EQ(master.ReadHoldingRegisters(202, 1).values, std::vector<int32_t>{5});
  EXPECT_EQ(master.ReadHoldingRegisters(200, 1).code, 255u);
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

TEST(SimProgram, HelpDocumentsEveryOption) {
  std::string output;
  EXPECT_EQ(RunSim({"--help"}, output), 0);
  for (const char* option : {"--com", "--link", "--profile", "--device", "--slave", "--baud", "--data-bits", "--parity",
                             "--stop", "--pace", "--flash-ms", "--still", "--seed", "--drop", "--corrupt", "--garbage",
                             "--wrong-slave", "--delay", "--exception", "--silent-after", "--trace", "--help"})
    EXPECT_THAT(output, HasSubstr(std::string("  ") + option)) << option;
  EXPECT_THAT(output, HasSubstr("PDC-4120.xml"));
}

TEST(SimProgram, BadArgumentsExitWithTwoAndSayWhy) {
  SimFolder folder;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--slave", "300"}, "--slave needs a slave address 1..247, not \"300\""},
      {{"--garbage"}, "--garbage needs a chance 0..1"},
      {{"--nonsense"}, "unknown option --nonsense"},
      {{"--profile", "/no/such/profile.xml"}, "cannot read the profile /no/such/profile.xml: no such file"},
      {{"--profile", TestProfile(), "--device", "nope"}, "has no device \"nope\""},
  };
  for (const auto& [args, message] : cases) {
    std::string output;
    EXPECT_EQ(RunSim(args, output), 2) << args[0];
    EXPECT_EQ(output.rfind("kelmora-sim: ", 0), 0u) << output;
    EXPECT_THAT(output, HasSubstr(message)) << output;
  }
  EXPECT_FALSE(fs::exists(folder.PortsFolder())) << "nothing published for a bad command line";
}

}  // namespace
