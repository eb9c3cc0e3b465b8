// Message encoding, the loader factory, and the boot-loader descriptions of the demo devices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "XMLParser/XDeviceProfileManager.h"
#include "firmware/FlashLoader.h"
#include "firmware/LoaderMessage.h"
#include "sim/bootloader/BootLoaderSim.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace fwtest;

namespace {

TEST(LoaderMessage, EncodingAndCrc) {
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16Arc(check, sizeof check), 0xBB3D);  // the catalogue check value of CRC-16/ARC
  EXPECT_EQ(LoaderMessage(loader_type::kPing, 0).Encode(), ":00000070E401");

  const std::uint8_t data[] = {0xAB, 0xCD, 0x0F};
  LoaderMessage m(loader_type::kData, 0x12FE, data, 3);
  const std::string text = m.Encode();
  EXPECT_EQ(text.size(), 2u * 3 + 13);
  const std::uint8_t body[] = {3, 0x12, 0xFE, 0, 0xAB, 0xCD, 0x0F};
  const std::uint16_t crc = ArcCrc(body, sizeof body);
  char tail[8];
  std::snprintf(tail, sizeof tail, "%04X", crc);
  EXPECT_EQ(text, std::string(":0312FE00ABCD0F") + tail);
  EXPECT_TRUE(m.CrcValid());

  const std::uint8_t answer[] = {':', 2, 0, 0, 0, 1, 9, 0, 0};
  LoaderMessage parsed;
  ASSERT_TRUE(LoaderMessage::FromBytes(answer, sizeof answer, parsed));
  EXPECT_THAT(parsed.Payload(), testing::ElementsAre(9));  // a data answer's sequence byte is not payload
  EXPECT_FALSE(LoaderMessage::FromBytes(answer, sizeof answer - 1, parsed));
}

TEST(LoaderFactory, PicksTheVariantByExactNameAndVersion) {
  const MemoryMap map(0x1000, 4, 0);
  struct Case {
    FirmwareDescription d;
    const char* expected;  // null: none
  } cases[] = {
      {Description("FU$-IHST", {1, 1}, map, "LPCARM"), "Ihst"},
      {Description("FU$-IHEX", {1, 0}, map), "Ihex"},
      {Description("FU$-IHEX", {2, 0}, map, "anything"), "Ihex2"},
      {Description("FU$-IHEX", {1, 1}, map), nullptr},
      {Description("fu$-ihex", {1, 0}, map), nullptr},
      {Description("FU$-IHST", {1, 0}, map), nullptr},
      {Description("FU$-IHEX ", {2, 0}, map), nullptr},
  };
  FirmwareDescription invalid = Description("FU$-IHEX", {1, 0}, map);
  invalid.valid = false;
  EXPECT_EQ(CreateFlashLoader(nullptr, invalid), nullptr);
  for (const Case& c : cases) {
    auto loader = CreateFlashLoader(nullptr, c.d);
    std::string got = "none";
    if (dynamic_cast<FlashLoaderIhex2*>(loader.get())) got = "Ihex2";
    else if (dynamic_cast<FlashLoaderIhex*>(loader.get())) got = "Ihex";
    else if (dynamic_cast<FlashLoaderIhst*>(loader.get())) got = "Ihst";
    EXPECT_EQ(got, c.expected != nullptr ? c.expected : "none") << c.d.name << " " << c.d.version.Format();
  }
  try {
    FlashLoaderIhex2 refused(nullptr, Description("FU$-IHST", {1, 1}, map));
    ADD_FAILURE() << "constructed";
  } catch (const char* text) {
    EXPECT_STREQ(text, "not for me =)");
  }
}

// Each demo device's profile yields its loader and a simulated boot loader of the same kind;
// a 2.00 map too long for one message is merged into one that still covers the whole flash.
TEST(DemoDevices, ProfilesGiveMatchingLoaderAndSimulatedBootLoader) {
  testing_support::TempWorkDir dir;
  struct Case {
    const char* file;
    simboot::BootVariant variant;
    std::size_t reportedSectors;
  } cases[] = {{"PDC-1100-IHST.xml", simboot::BootVariant::Ihst, 16},
               {"PDC-2200-IHEX1.xml", simboot::BootVariant::Ihex, 16},
               {"PDC-3300-IHEX2.xml", simboot::BootVariant::Ihex2, 16},
               {"PDC-4120.xml", simboot::BootVariant::Ihex2, 16}};
  for (const Case& c : cases) {
    CXDeviceProfileManager manager;
    manager.ParseProfileFile(std::string(KELMORA_DEMO_PROFILES) + "/" + c.file);
    ASSERT_EQ(manager.GetProfileCount(), 1u) << c.file;
    const FirmwareDescription& d = manager.GetProfiles()[0].firmware;
    EXPECT_NE(CreateFlashLoader(nullptr, d), nullptr) << c.file;
    simboot::BootLoaderOptions options;
    std::string error;
    ASSERT_TRUE(simboot::BootLoaderOptionsFor(d, options, error)) << c.file << ": " << error;
    EXPECT_EQ(options.variant, c.variant) << c.file;
    simboot::BootLoaderSim sim(-1, options);
    const auto& reported = sim.ReportedMap();
    EXPECT_EQ(reported.size(), c.reportedSectors) << c.file;
    EXPECT_EQ(reported.front().first, d.memoryMap[0].start);
    EXPECT_EQ(reported.back().second + 1, d.memoryMap[d.memoryMap.Size() - 1].end);
    EXPECT_EQ(sim.Flash().size(), d.memoryMap[d.memoryMap.Size() - 1].end - d.memoryMap[0].start);
  }
  FirmwareDescription unknown;
  unknown.valid = true;
  unknown.name = "FU$-IHEX";
  unknown.version = {3, 0};
  unknown.memoryMap = MemoryMap(0x1000, 1, 0);
  simboot::BootLoaderOptions options;
  std::string error;
  EXPECT_FALSE(simboot::BootLoaderOptionsFor(unknown, options, error));
  EXPECT_EQ(error, "no simulated boot loader speaks \"FU$-IHEX\" 3.00");
}

}  // namespace

namespace {

TEST(BootLoaderCommandLine, OptionTexts) {
  Version version;
  std::string error;
  ASSERT_TRUE(simboot::ParseBootVersion("1.02", version, error));
  EXPECT_EQ(version, (Version{1, 2}));
  for (const char* bad : {"", "1", "1.", "x.1", "1.2.3", "256.0", "-1.0"})
    EXPECT_FALSE(simboot::ParseBootVersion(bad, version, error)) << bad;

  std::int32_t a = 0, b = 0;
  ASSERT_TRUE(simboot::ParseBootIdentity("-5,2147483647", a, b, error));
  EXPECT_EQ(a, -5);
  EXPECT_EQ(b, 2147483647);
  for (const char* bad : {"5", "5,", ",5", "5,2147483648", "1,2,3"})
    EXPECT_FALSE(simboot::ParseBootIdentity(bad, a, b, error)) << bad;

  struct Case {
    const char* text;
    bool ok;
    simboot::BootStep step;
    int code, occurrence, times;
  } cases[] = {{"flash-done=6", true, simboot::BootStep::FlashDone, 6, 1, 1},
               {"segment-start=1@3x2", true, simboot::BootStep::SegmentStart, 1, 3, 2},
               {"data=4@7", true, simboot::BootStep::Data, 4, 7, 1},
               {"flash-done=0", false, {}, 0, 0, 0},
               {"flash-done=128", false, {}, 0, 0, 0},
               {"flashdone=5", false, {}, 0, 0, 0},
               {"data=5@0", false, {}, 0, 0, 0},
               {"data=5@2x", false, {}, 0, 0, 0},
               {"data", false, {}, 0, 0, 0}};
  for (const Case& c : cases) {
    simboot::ErrorInjection e;
    ASSERT_EQ(simboot::ParseErrorInjection(c.text, e, error), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(e.step, c.step) << c.text;
    EXPECT_EQ(e.code, c.code) << c.text;
    EXPECT_EQ(e.occurrence, c.occurrence) << c.text;
    EXPECT_EQ(e.times, c.times) << c.text;
  }
}

}  // namespace
