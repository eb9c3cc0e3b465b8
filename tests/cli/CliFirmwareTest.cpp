// kelmora-cli firmware against the simulated device program and its boot loader: the whole
// update path, from the boot-loader start over Modbus to the programmed flash.
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/Cli.h"
#include "tests/sim/SimTestSupport.h"

using namespace testing_support;
using ::testing::HasSubstr;

namespace {

std::vector<char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

class CliFirmwareTest : public ::testing::Test {
 protected:
  TempWorkDir dir;

  void SetUp() override {
    std::filesystem::create_directories("profiles");
    std::filesystem::create_directories("ports");
    setenv("KELMORA_PORTS_DIR", (dir.Path() + "/ports").c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path() + "/config"));
  }
  void TearDown() override { unsetenv("KELMORA_PORTS_DIR"); }

  // A random binary of `bytes` and its Intel HEX form, made by objcopy.
  std::vector<char> MakeImage(size_t bytes) {
    std::vector<char> data(bytes);
    std::mt19937 random(42);
    for (char& c : data) c = static_cast<char>(random());
    std::ofstream("image.bin", std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    if (std::system("objcopy -I binary -O ihex image.bin image.hex") != 0) return {};
    return data;
  }

  int Cli(std::vector<std::string> args, std::string& out, std::string& err) {
    std::ostringstream o, e;
    const int code = RunCli(args, o, e);
    out = o.str();
    err = e.str();
    return code;
  }
};

TEST_F(CliFirmwareTest, UpdatesTheSimulatedDevice) {
  // The "FU$-IHST" 1.01 device, whose image is plain Intel HEX as objcopy writes it.
  const std::string profile = std::string(KELMORA_DEMO_PROFILES) + "/PDC-1100-IHST.xml";
  std::filesystem::copy_file(profile, "profiles/PDC-1100-IHST.xml");
  const std::vector<char> image = MakeImage(20000);
  ASSERT_FALSE(image.empty()) << "objcopy is missing";
  simtest::SimProcess sim({"--link", dir.Path() + "/ports/com9", "--profile", profile, "--dump-flash",
                           dir.Path() + "/flash.bin"});
  ASSERT_FALSE(sim.DevicePath().empty()) << sim.Output();

  std::string out, err;
  EXPECT_EQ(Cli({"firmware", "image.hex"}, out, err), 0) << out << err;
  EXPECT_THAT(out, HasSubstr("Starting bootloader..."));
  EXPECT_THAT(out, HasSubstr("COMPLETE: Boot load process complete in "));
  EXPECT_FALSE(sim.WaitForLine("flash written", 5000).empty()) << sim.Output();
  const std::vector<char> flash = ReadBytes("flash.bin");
  ASSERT_GE(flash.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  // After the update the device answers Modbus again.
  EXPECT_EQ(Cli({"identify"}, out, err), 0) << err;
}

TEST_F(CliFirmwareTest, RefusesWhatCannotBeFlashed) {
  const std::string profile = std::string(KELMORA_DEMO_PROFILES) + "/PDC-3300-IHEX2.xml";
  std::filesystem::copy_file(profile, "profiles/PDC-3300-IHEX2.xml");
  simtest::SimProcess sim({"--link", dir.Path() + "/ports/com9", "--profile", profile});
  ASSERT_FALSE(sim.DevicePath().empty()) << sim.Output();
  std::ofstream("broken.hex") << ":10000000FFFF\n";
  std::string out, err;
  EXPECT_EQ(Cli({"firmware", "broken.hex"}, out, err), 1);
  EXPECT_THAT(err, HasSubstr("Wrong file format"));
  std::ofstream("empty.hex") << ":00000001FF\n";
  EXPECT_EQ(Cli({"firmware", "empty.hex"}, out, err), 1);
  EXPECT_THAT(err, HasSubstr("holds no data"));
  EXPECT_EQ(Cli({"firmware"}, out, err), 2);
}

}  // namespace
