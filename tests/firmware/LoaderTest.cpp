// The flash loader against the simulated boot loader, every variant: whole images flashed
// byte for byte, the order and addressing of sectors, version and identity checks, lost and
// garbled answers, the device's error answers, and stopping.
#include <algorithm>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/firmware/LoaderLine.h"

using namespace fwtest;
using simboot::BootLoaderOptions;
using simboot::BootStep;
using simboot::BootVariant;
using testing::HasSubstr;

namespace {

struct Variant {
  const char* label;
  BootVariant sim;
  const char* name;
  Version version;
  MemoryMap map;
};

// The three boot loaders with the flash layouts of the demo devices.
const Variant kIhst{"Ihst", BootVariant::Ihst, "FU$-IHST", {1, 1}, MemoryMap(4096, 64, 0)};
const Variant kIhex{"Ihex", BootVariant::Ihex, "FU$-IHEX", {1, 0}, MemoryMap(16384, 16, 0)};
const Variant kIhex2{"Ihex2", BootVariant::Ihex2, "FU$-IHEX", {2, 0}, MemoryMap(8192, 64, 0)};

constexpr std::int32_t kId1 = 123456, kId2 = -7;

// Timings for runs whose answers get lost on purpose: each loss costs one short time-out.
// They stay well above the pty's latency on a loaded machine: an answer that comes late
// rather than never can be taken for the answer to the next request.
LoaderTimings FastTimings() {
  LoaderTimings t;
  t.answerMs = 120;
  t.flashRequestMs = 200;
  t.waitMs = 300;
  t.retrySleepMs = 20;
  return t;
}

BootLoaderOptions SimOptions(const Variant& v, MemoryMap map) {
  BootLoaderOptions o;
  o.variant = v.sim;
  o.map = std::move(map);
  o.identity1 = kId1;
  o.identity2 = kId2;
  return o;
}

// Writes the image file for `v` (the headered form for 2.00, with checksums for the sectors
// the simulated device reports) and returns its path.
std::string WriteImage(const Variant& v, const std::string& hex, const Bytes& binary, std::uint64_t address,
                       const simboot::BootLoaderSim& sim) {
  const std::string path = "image.hex";
  WriteFile(path, v.sim == BootVariant::Ihex2 ? HeaderedImage(hex, kId1, kId2, binary, address, sim.ReportedMap()) : hex);
  return path;
}

struct Exchange {
  std::uint8_t type;
  std::uint16_t address;
  bool operator==(const Exchange&) const = default;
};
void PrintTo(const Exchange& e, std::ostream* os) { *os << std::hex << "{" << +e.type << "," << e.address << "}"; }

// The requests other than data, as (type, address); extended addresses give their data, and
// are left out altogether without `withExtended`.
std::vector<Exchange> Control(const simboot::BootLoaderSim& sim, bool withExtended = true) {
  std::vector<Exchange> out;
  for (const auto& r : sim.Requests()) {
    const bool extended = r.type == 0x04;
    if (r.type != 0x00 && (withExtended || !extended)) {
      out.push_back({r.type, extended ? static_cast<std::uint16_t>(r.data[0] << 8 | r.data[1]) : r.address});
    }
  }
  return out;
}

class EveryVariant : public testing::TestWithParam<Variant> {};

TEST_P(EveryVariant, FlashesAnObjcopyImageByteForByte) {
  const Variant& v = GetParam();
  LoaderLine line;
  const Bytes binary = RandomBytes(40 * 1024, 40);
  const std::string hex = ObjcopyHex(binary, 0, line.dir.Path());
  if (hex.empty()) GTEST_SKIP() << "objcopy is not installed";
  auto& sim = line.MakeSim(SimOptions(v, v.map));
  auto loader = CreateFlashLoader(line.channel.get(), Description(v.name, v.version, v.map));
  ASSERT_NE(loader, nullptr);
  ASSERT_TRUE(loader->OpenImage(WriteImage(v, hex, binary, 0, sim)));
  line.RunSim();
  ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0) << FlashLoaderErrorText(loader->ErrorCode());
  line.StopSim();

  EXPECT_STREQ(FlashLoaderErrorText(loader->ErrorCode()), "No Error");
  ASSERT_TRUE(sim.DumpFlash("flash.bin"));
  const Bytes flash = ReadBytes("flash.bin");
  ASSERT_GE(flash.size(), binary.size());
  EXPECT_TRUE(std::equal(binary.begin(), binary.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(binary.size()), flash.end(), [](auto b) { return b == 0xFF; }));
  EXPECT_DOUBLE_EQ(loader->OverallProgress(), 100.0);
  EXPECT_DOUBLE_EQ(loader->SectorProgress(), 100.0);
  EXPECT_EQ(loader->StatusLine2(), "Complete...");
  EXPECT_EQ(loader->RetryCounter(), 0);
  EXPECT_EQ(sim.Counters().sectorsProgrammed, loader->Image().SlotsWithData());
  EXPECT_EQ(sim.Requests().back().type, 0x71);
  const auto log = testing_support::ReadLines(faultlog::kFileName);
  EXPECT_THAT(log, testing::Contains("Loader started"));
  EXPECT_THAT(log, testing::Contains("Stop record -> to crc"));
}

TEST_P(EveryVariant, LostAndGarbledAnswersDoNotSpoilTheFlash) {
  const Variant& v = GetParam();
  LoaderLine line;
  const Bytes binary = RandomBytes(8 * 1024 + 300, 12);
  const std::string hex = ObjcopyHex(binary, 0, line.dir.Path());
  if (hex.empty()) GTEST_SKIP() << "objcopy is not installed";
  BootLoaderOptions options = SimOptions(v, v.map);
  options.faults.seed = 20261208;
  options.faults.drop = 0.05;
  options.faults.corrupt = 0.05;
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(v.name, v.version, v.map));
  loader->SetTimings(FastTimings());
  ASSERT_TRUE(loader->OpenImage(WriteImage(v, hex, binary, 0, sim)));
  line.RunSim();
  ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0) << FlashLoaderErrorText(loader->ErrorCode());
  line.StopSim();
  const Bytes flash = sim.Flash();
  EXPECT_TRUE(std::equal(binary.begin(), binary.end(), flash.begin()));
  const auto counters = sim.Counters();
  EXPECT_GT(counters.dropped, 5);
  EXPECT_GT(counters.corrupted, 5);
  EXPECT_EQ(counters.crcMismatches, 0);
  EXPECT_GT(loader->RetryCounter(), 0);
}

TEST_P(EveryVariant, BootLoaderVersionAboveTheSupportedOne) {
  const Variant& v = GetParam();
  LoaderLine line;
  const Bytes binary = RandomBytes(100, 1);
  BootLoaderOptions options = SimOptions(v, v.map);
  options.version = Version{1, 2};
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(v.name, v.version, v.map));
  ASSERT_TRUE(loader->OpenImage(WriteImage(v, HexLine(0, 0, binary) + "\n", binary, 0, sim)));
  line.RunSim();
  const int code = LoaderLine::RunUpdate(*loader);
  if (v.sim == BootVariant::Ihex2) {
    EXPECT_EQ(code, 0);
  } else {
    EXPECT_EQ(code, 4);
    EXPECT_STREQ(FlashLoaderErrorText(code), "Device has incompatitble version");
    line.StopSim();
    EXPECT_THAT(Control(sim), testing::ElementsAre(Exchange{0x70, 0}));
  }
}

INSTANTIATE_TEST_SUITE_P(Loader, EveryVariant, testing::Values(kIhst, kIhex, kIhex2),
                         [](const auto& info) { return std::string(info.param.label); });

// Data in sectors 0, 1 and 5: upward for "FU$-IHEX", downward with 0x62 for "FU$-IHST".
TEST(Loader, SectorOrderAndFlashRequestTypes) {
  const std::string hex = Join({HexLine(0, 0x0000, {1}), HexLine(0, 0x1000, {2}), HexLine(0, 0x5000, {3})});
  struct Case {
    Variant v;
    std::vector<Exchange> expected;
  } cases[] = {
      {kIhex, {{0x70, 0}, {0x60, 0x0000}, {0x04, 0}, {0x61, 0x0000}, {0x60, 0x1000}, {0x04, 0}, {0x61, 0x1000},
               {0x60, 0x5000}, {0x04, 0}, {0x61, 0x5000}, {0x71, 0}}},
      {kIhst, {{0x70, 0}, {0x60, 0x5000}, {0x04, 0}, {0x61, 0x5000}, {0x60, 0x1000}, {0x04, 0}, {0x61, 0x1000},
               {0x60, 0x0000}, {0x04, 0}, {0x62, 0x0000}, {0x71, 0}}},
  };
  for (const Case& c : cases) {
    LoaderLine line;
    const MemoryMap map(4096, 8, 0);
    auto& sim = line.MakeSim(SimOptions(c.v, map));
    auto loader = CreateFlashLoader(line.channel.get(), Description(c.v.name, c.v.version, map));
    WriteFile("order.hex", hex);
    ASSERT_TRUE(loader->OpenImage("order.hex"));
    line.RunSim();
    ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0) << c.v.label;
    line.StopSim();
    EXPECT_THAT(Control(sim), testing::ElementsAreArray(c.expected)) << c.v.label;
    const Bytes flash = sim.Flash();
    EXPECT_EQ(flash[0x0000], 1);
    EXPECT_EQ(flash[0x1000], 2);
    EXPECT_EQ(flash[0x5000], 3);
  }
}

// For an NXP LPC ARM target the device ends up with a valid vector table: its eight words sum
// to 0; everything else is the image as it was.
TEST(Loader, LpcArmDeviceGetsTheVectorChecksum) {
  LoaderLine line;
  const Bytes binary = RandomBytes(1024, 11);
  BootLoaderOptions options = SimOptions(kIhex, kIhex.map);
  options.target = "LPCARM";  // takes the vector word a second time
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex.name, kIhex.version, kIhex.map, "LPCARM"));
  std::vector<std::string> lines;  // records of the longest kind, 255 bytes
  for (std::size_t at = 0; at < binary.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, binary.size() - at);
    lines.push_back(HexLine(0, static_cast<std::uint16_t>(at), Bytes(binary.begin() + at, binary.begin() + at + n)));
  }
  WriteFile("lpc.hex", Join(lines));
  ASSERT_TRUE(loader->OpenImage("lpc.hex"));
  line.RunSim();
  ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0);
  line.StopSim();
  const Bytes flash = sim.Flash();
  std::uint32_t sum = 0;
  for (int at = 0; at < 0x20; at += 4)
    sum += flash[at] | flash[at + 1] << 8 | flash[at + 2] << 16 | static_cast<std::uint32_t>(flash[at + 3]) << 24;
  EXPECT_EQ(sum, 0u);
  EXPECT_TRUE(std::equal(binary.begin(), binary.begin() + 0x14, flash.begin()));
  EXPECT_TRUE(std::equal(binary.begin() + 0x18, binary.end(), flash.begin() + 0x18));
}

TEST(Loader, ImageWithoutDataOnlyPingsAndFinishes) {
  for (const Variant& v : {kIhst, kIhex}) {
    LoaderLine line;
    auto& sim = line.MakeSim(SimOptions(v, v.map));
    auto loader = CreateFlashLoader(line.channel.get(), Description(v.name, v.version, v.map));
    WriteFile("empty.hex", ":00000001FF\n");
    ASSERT_TRUE(loader->OpenImage("empty.hex"));
    line.RunSim();
    EXPECT_EQ(LoaderLine::RunUpdate(*loader), 0) << v.label;
    line.StopSim();
    EXPECT_THAT(Control(sim), testing::ElementsAre(Exchange{0x70, 0}, Exchange{0x71, 0})) << v.label;
  }
}

// A sector based at 0x00020000: "FU$-IHEX" names the upper address before segment start and
// flash request; "FU$-IHST" sends the low 16 bits only.
TEST(Loader, ExtendedAddressBeforeRequestsAboveSixtyFourKiB) {
  const MemoryMap map(0x1000, 4, 0x20000);
  const Bytes data = RandomBytes(64, 3);
  const std::string hex = Join({HexLine(4, 0, {0x00, 0x02}), HexLine(0, 0x0000, Bytes(data.begin(), data.begin() + 32)),
                                HexLine(0, 0x0020, Bytes(data.begin() + 32, data.end())), ":00000001FF"});
  struct Case {
    Variant v;
    std::vector<Exchange> expected;
  } cases[] = {
      {kIhex, {{0x70, 0}, {0x04, 0x0002}, {0x60, 0x0000}, {0x04, 0x0002}, {0x04, 0x0002}, {0x61, 0x0000}, {0x71, 0}}},
      {kIhst, {{0x70, 0}, {0x60, 0x0000}, {0x04, 0x0002}, {0x62, 0x0000}, {0x71, 0}}},
  };
  for (const Case& c : cases) {
    LoaderLine line;
    auto& sim = line.MakeSim(SimOptions(c.v, map));
    auto loader = CreateFlashLoader(line.channel.get(), Description(c.v.name, c.v.version, map));
    WriteFile("high.hex", hex);
    ASSERT_TRUE(loader->OpenImage("high.hex"));
    line.RunSim();
    ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0) << c.v.label;
    line.StopSim();
    EXPECT_THAT(Control(sim), testing::ElementsAreArray(c.expected)) << c.v.label;
    const Bytes flash = sim.Flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin())) << c.v.label;
  }
}

TEST(Loader, SequencedLoaderReadsIdentityAndTheDevicesMap) {
  LoaderLine line;
  const Bytes binary = RandomBytes(0x4000, 5);
  const std::string hex = ObjcopyHex(binary, 0, line.dir.Path());
  if (hex.empty()) GTEST_SKIP() << "objcopy is not installed";
  BootLoaderOptions options = SimOptions(kIhex2, kIhex2.map);
  options.reportedMap = {{0x0000, 0x0FFF}, {0x2000, 0x3FFF}};
  options.mapPadding = 4;  // 20 bytes: the last 4 make no pair
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex2.name, kIhex2.version, kIhex2.map));
  ASSERT_TRUE(loader->OpenImage(WriteImage(kIhex2, hex, binary, 0, sim)));
  line.RunSim();
  ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0);
  line.StopSim();
  EXPECT_TRUE(loader->Map() == MemoryMap(options.reportedMap));
  EXPECT_THAT(Control(sim, false), testing::ElementsAre(Exchange{0x70, 0}, Exchange{0x72, 0}, Exchange{0x73, 0},
                                                        Exchange{0x60, 0x0000}, Exchange{0x61, 0x0000},
                                                        Exchange{0x60, 0x2000}, Exchange{0x61, 0x2000},
                                                        Exchange{0x71, 0}));
  // What lies outside the device's map is left out; the rest is flashed.
  const Bytes flash = sim.Flash();
  EXPECT_TRUE(std::equal(binary.begin(), binary.begin() + 0x1000, flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + 0x1000, flash.begin() + 0x2000, [](auto b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(binary.begin() + 0x2000, binary.begin() + 0x4000, flash.begin() + 0x2000));
  // Every data message carried the sequence byte 1 before its data.
  for (const auto& r : sim.Requests())
    if (r.type == 0x00) {
      ASSERT_EQ(r.data.at(0), 1);
    }
}

TEST(Loader, SequencedLoaderRefusesAMapThatHoldsNoneOfTheImage) {
  LoaderLine line;
  BootLoaderOptions options = SimOptions(kIhex2, kIhex2.map);
  options.reportedMap = {{0x8000, 0x8FFF}};
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex2.name, kIhex2.version, kIhex2.map));
  const Bytes binary = RandomBytes(16, 2);
  ASSERT_TRUE(loader->OpenImage(WriteImage(kIhex2, HexLine(0, 0, binary) + "\n", binary, 0, sim)));
  line.RunSim();
  EXPECT_EQ(LoaderLine::RunUpdate(*loader), 4);
  line.StopSim();
  EXPECT_THAT(Control(sim), testing::ElementsAre(Exchange{0x70, 0}, Exchange{0x72, 0}, Exchange{0x73, 0}));
}

TEST(Loader, SequencedLoaderRefusesAnotherDevicesImage) {
  LoaderLine line;
  BootLoaderOptions options = SimOptions(kIhex2, kIhex2.map);
  options.identity2 = kId2 + 1;
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex2.name, kIhex2.version, kIhex2.map));
  const Bytes binary = RandomBytes(16, 2);
  ASSERT_TRUE(loader->OpenImage(WriteImage(kIhex2, HexLine(0, 0, binary) + "\n", binary, 0, sim)));
  line.RunSim();
  EXPECT_EQ(LoaderLine::RunUpdate(*loader), 4);
  line.StopSim();
  EXPECT_THAT(Control(sim), testing::ElementsAre(Exchange{0x70, 0}, Exchange{0x72, 0}));
}

// The device's error answers, at the step where they come, and the update's outcome.
struct ErrorCase {
  const char* name;
  Variant v;
  simboot::ErrorInjection error;
  int code;
  const char* text;
  const char* logLine;  // a plain line the fault log must hold, or null
};

class ErrorAnswers : public testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorAnswers, EndWithTheirCodeAndText) {
  const ErrorCase& c = GetParam();
  LoaderLine line;
  const MemoryMap map(0x1000, 4, 0);
  const Bytes binary = RandomBytes(0x1800, 9);  // two sectors
  const std::string hex = Join({HexLine(0, 0x0000, Bytes(binary.begin(), binary.begin() + 0x10)),
                                HexLine(0, 0x1000, Bytes(binary.begin() + 0x1000, binary.begin() + 0x1010))});
  BootLoaderOptions options = SimOptions(c.v, map);
  options.faults.errors = {c.error};
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(c.v.name, c.v.version, map));
  loader->SetTimings(FastTimings());
  Bytes image(0x2000, 0xFF);
  std::copy(binary.begin(), binary.begin() + 0x10, image.begin());
  std::copy(binary.begin() + 0x1000, binary.begin() + 0x1010, image.begin() + 0x1000);
  std::string text = hex;
  if (c.v.sim == BootVariant::Ihex2) {
    const std::uint16_t crc0 = ArcCrc(image.data(), 0x10), crc1 = ArcCrc(image.data() + 0x1000, 0x10);
    text = std::to_string(kId1) + "\n" + std::to_string(kId2) + "\n" + hex +
           HexLine(0x6A, 0x0000, {0, 0, static_cast<std::uint8_t>(crc0 >> 8), static_cast<std::uint8_t>(crc0)}) + "\n" +
           HexLine(0x6A, 0x1000, {0, 0, static_cast<std::uint8_t>(crc1 >> 8), static_cast<std::uint8_t>(crc1)}) + "\n";
  }
  WriteFile("errors.hex", text);
  ASSERT_TRUE(loader->OpenImage("errors.hex"));
  line.RunSim();
  EXPECT_EQ(LoaderLine::RunUpdate(*loader), c.code);
  EXPECT_STREQ(FlashLoaderErrorText(loader->ErrorCode()), c.text);
  line.StopSim();
  if (c.logLine != nullptr) {
    EXPECT_THAT(testing_support::ReadLines(faultlog::kFileName), testing::Contains(c.logLine));
  }
  if (c.code == 0) {
    const Bytes flash = sim.Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  }
}

constexpr const char* kOk = "No Error";
constexpr const char* kUnknown = "Unknown error";
constexpr const char* kAccess = "Try to write segment that not accessiable, check chip settings";

INSTANTIATE_TEST_SUITE_P(
    Loader, ErrorAnswers,
    testing::Values(
        ErrorCase{"SegmentStartRepeat", kIhex, {BootStep::SegmentStart, 1, 1, 2}, 0, kOk, nullptr},
        ErrorCase{"SegmentStartNotAccessible", kIhex, {BootStep::SegmentStart, 2, 2}, 7, kAccess,
                  "Data error found in message"},
        ErrorCase{"SegmentStartNotAccessibleIhst", kIhst, {BootStep::SegmentStart, 1, 2}, 7, kAccess, nullptr},
        ErrorCase{"SegmentStartOtherCode", kIhex, {BootStep::SegmentStart, 1, 3}, 5, kUnknown, nullptr},
        ErrorCase{"SegmentReadyFlashWrite", kIhex2, {BootStep::SegmentReady, 1, 5}, 8,
                  "Flash write operation failed. Check hardware.", nullptr},
        ErrorCase{"SegmentReadyOtherCode", kIhex, {BootStep::SegmentReady, 1, 4}, 5, kUnknown, nullptr},
        ErrorCase{"DataRepeat", kIhst, {BootStep::Data, 2, 1}, 0, kOk,
                  "FlashLoader error reply; send 0; rec 128 code 1"},
        ErrorCase{"FlashRequestRepeat", kIhex, {BootStep::FlashRequest, 1, 1}, 0, kOk, nullptr},
        ErrorCase{"FlashRequestRestartsSegment", kIhex2, {BootStep::FlashRequest, 2, 4}, 0, kOk, nullptr},
        ErrorCase{"FlashRequestNotAccessible", kIhst, {BootStep::FlashRequest, 1, 2}, 7, kAccess, nullptr},
        ErrorCase{"FlashRequestOtherCode", kIhex, {BootStep::FlashRequest, 1, 6}, 5, kUnknown, nullptr},
        ErrorCase{"FlashDoneWriteFailed", kIhex, {BootStep::FlashDone, 2, 5}, 8,
                  "Flash write operation failed. Check hardware.", nullptr},
        ErrorCase{"FlashDoneVerificationFailed", kIhst, {BootStep::FlashDone, 1, 6}, 9,
                  "Post-write verification failed. Check hardware.", nullptr},
        ErrorCase{"FlashDoneOtherCode", kIhex2, {BootStep::FlashDone, 1, 2}, 5, kUnknown, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Loader, SegmentStartRetryShowsInTheStatusLine) {
  LoaderLine line;
  auto options = SimOptions(kIhex, kIhex.map);
  options.faults.errors = {{BootStep::SegmentStart, 1, 1}, {BootStep::SegmentStart, 2, 2}};
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex.name, kIhex.version, kIhex.map));
  WriteFile("one.hex", HexLine(0, 0, {1}) + "\n");
  ASSERT_TRUE(loader->OpenImage("one.hex"));
  line.RunSim();
  EXPECT_EQ(LoaderLine::RunUpdate(*loader), 7);
  line.StopSim();
  EXPECT_EQ(loader->StatusLine2(), "Starting segment... (RETRY)");
  EXPECT_EQ(loader->StatusLine1(), "Initialization...");
  EXPECT_THAT(Control(sim), testing::ElementsAre(Exchange{0x70, 0}, Exchange{0x60, 0}, Exchange{0x60, 0}));
}

TEST(Loader, ExtendedAddressRefusedBeforeSegmentStart) {
  LoaderLine line;
  const MemoryMap map(0x1000, 4, 0x30000);
  auto options = SimOptions(kIhex, map);
  options.faults.errors = {{BootStep::ExtendedAddress, 1, 1}};
  line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex.name, kIhex.version, map));
  WriteFile("high.hex", Join({HexLine(4, 0, {0, 3}), HexLine(0, 0x0000, {1, 2})}));
  ASSERT_TRUE(loader->OpenImage("high.hex"));
  line.RunSim();
  EXPECT_EQ(LoaderLine::RunUpdate(*loader), 7);
  EXPECT_THAT(testing_support::ReadLines(faultlog::kFileName),
              testing::Contains("Can't set address before new segment start"));
}

// The device checks each sector's CRC against what it received; in 2.00 the CRC comes from
// the image file, so a wrong record shows as a verification failure, a missing one stops the
// update before the flash request.
TEST(Loader, SequencedLoaderSectorChecksumFromTheFile) {
  struct Case {
    const char* name;
    std::string records;
    int code;
  } cases[] = {{"wrong", HexLine(0x6A, 0, {0, 0, 0x12, 0x34}) + "\n", 9}, {"missing", "", 7}};
  for (const Case& c : cases) {
    LoaderLine line;
    BootLoaderOptions options = SimOptions(kIhex2, kIhex2.map);
    auto& sim = line.MakeSim(options);
    auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex2.name, kIhex2.version, kIhex2.map));
    loader->SetTimings(FastTimings());
    WriteFile("seq.hex", std::to_string(kId1) + "\n" + std::to_string(kId2) + "\n" + HexLine(0, 0, {1, 2, 3}) + "\n" +
                             c.records + ":00000001FF\n");
    ASSERT_TRUE(loader->OpenImage("seq.hex"));
    line.RunSim();
    EXPECT_EQ(LoaderLine::RunUpdate(*loader), c.code) << c.name;
    line.StopSim();
    EXPECT_EQ(sim.Counters().sectorsProgrammed, 0) << c.name;
  }
}

TEST(Loader, MismatchedDataAcknowledgementsAreRetried) {
  for (const Variant& v : {kIhex, kIhex2}) {
    LoaderLine line;
    BootLoaderOptions options = SimOptions(v, v.map);
    options.faults.wrongDataAcks = {2, 3};
    auto& sim = line.MakeSim(options);
    auto loader = CreateFlashLoader(line.channel.get(), Description(v.name, v.version, v.map));
    const Bytes binary = RandomBytes(64, 4);
    ASSERT_TRUE(loader->OpenImage(WriteImage(
        v, Join({HexLine(0, 0, Bytes(binary.begin(), binary.begin() + 32)), HexLine(0, 32, Bytes(binary.begin() + 32, binary.end()))}),
        binary, 0, sim)));
    line.RunSim();
    EXPECT_EQ(LoaderLine::RunUpdate(*loader), 0) << v.label;
    line.StopSim();
    EXPECT_EQ(loader->RetryCounter(), 2) << v.label;
    const Bytes flash = sim.Flash();
    EXPECT_TRUE(std::equal(binary.begin(), binary.end(), flash.begin())) << v.label;
  }
}

// A loader whose messages are spoilt on their way out, as a faulty host would send them.
template <class Base>
class TamperedLoader : public Base {
 public:
  using Tamper = std::function<void(LoaderMessage&)>;
  TamperedLoader(DataChannel* channel, const FirmwareDescription& description, Tamper tamper)
      : Base(channel, description), m_tamper(std::move(tamper)) {}
  ~TamperedLoader() override { this->JoinWorker(); }

 protected:
  LoaderMessage DataMessageToSend(const LoaderMessage& stored) const override {
    LoaderMessage message = Base::DataMessageToSend(stored);
    m_tamper(message);
    return message;
  }
  LoaderMessage FlashRequestFor(int sector, std::uint16_t crc) const override {
    LoaderMessage message = Base::FlashRequestFor(sector, crc);
    m_tamper(message);
    return message;
  }

 private:
  Tamper m_tamper;
};

LoaderMessage Moved(const LoaderMessage& m, std::uint16_t address) {
  return LoaderMessage(m.Type(), address, m.Data(), m.Count());
}

// The boot loader refuses what a faulty host sends, and the update ends with the error its
// code stands for, nothing programmed.
TEST(Loader, FaultyHostMessagesFailTheUpdate) {
  using Tamper = std::function<void(LoaderMessage&)>;
  struct Case {
    const char* name;
    Variant v;
    Tamper tamper;
    int code;
  } cases[] = {
      {"DataInTheNextSector", kIhst,
       [](LoaderMessage& m) { if (m.Type() == 0x00) m = Moved(m, static_cast<std::uint16_t>(m.Address() + 0x1000)); },
       7},
      {"DataAllAtTheSectorStart", kIhex, [](LoaderMessage& m) { if (m.Type() == 0x00) m = Moved(m, 0); }, 5},
      {"FlashRequestForTheNextSector", kIhex,
       [](LoaderMessage& m) { if (m.Type() == 0x61) m = Moved(m, static_cast<std::uint16_t>(m.Address() + 0x1000)); }, 7},
      {"FirstSectorRequestedAsAnyOther", kIhst,
       [](LoaderMessage& m) { if (m.Type() == 0x62) m = LoaderMessage(0x61, 0, m.Data(), m.Count()); }, 5},
      {"SequenceByteTwo", kIhex2, [](LoaderMessage& m) { if (m.Type() == 0x00) m.Data()[0] = 2; }, 5},
  };
  const MemoryMap map(0x1000, 4, 0);
  const Bytes binary = RandomBytes(32, 6);
  const std::string hex = Join({HexLine(0, 0, Bytes(binary.begin(), binary.begin() + 16)),
                                HexLine(0, 0x10, Bytes(binary.begin() + 16, binary.end()))});
  for (const Case& c : cases) {
    LoaderLine line;
    auto& sim = line.MakeSim(SimOptions(c.v, map));
    std::unique_ptr<FlashLoader> loader;
    DataChannel* channel = line.channel.get();
    const FirmwareDescription d = Description(c.v.name, c.v.version, map);
    if (c.v.sim == BootVariant::Ihst) loader = std::make_unique<TamperedLoader<FlashLoaderIhst>>(channel, d, c.tamper);
    if (c.v.sim == BootVariant::Ihex) loader = std::make_unique<TamperedLoader<FlashLoaderIhex>>(channel, d, c.tamper);
    if (c.v.sim == BootVariant::Ihex2) loader = std::make_unique<TamperedLoader<FlashLoaderIhex2>>(channel, d, c.tamper);
    ASSERT_TRUE(loader->OpenImage(WriteImage(c.v, hex, binary, 0, sim))) << c.name;
    line.RunSim();
    EXPECT_EQ(LoaderLine::RunUpdate(*loader), c.code) << c.name;
    line.StopSim();
    EXPECT_EQ(sim.Counters().refused, 1) << c.name;
    EXPECT_EQ(sim.Counters().sectorsProgrammed, 0) << c.name;
    EXPECT_EQ(loader->RetryCounter(), 0) << c.name;
  }
}

// An "LPCARM" profile whose flash map leaves out address 0: the host still appends the
// vector checksum word at 0x14, past its own check of the image against the map. The device
// refuses it as not accessible and the update stops there.
TEST(Loader, VectorWordOutsideTheFlashFailsTheUpdate) {
  LoaderLine line;
  const MemoryMap map(0x1000, 4, 0x10000);
  BootLoaderOptions options = SimOptions(kIhex, map);
  options.target = "LPCARM";
  auto& sim = line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex.name, kIhex.version, map, "LPCARM"));
  WriteFile("lpc.hex", Join({HexLine(4, 0, {0, 1}), HexLine(0, 0, RandomBytes(32, 7))}));
  ASSERT_TRUE(loader->OpenImage("lpc.hex"));
  line.RunSim();
  EXPECT_EQ(LoaderLine::RunUpdate(*loader), 7);
  line.StopSim();
  EXPECT_EQ(sim.Counters().refused, 1);
  EXPECT_THAT(sim.LastRefusal(), HasSubstr("4 bytes at 0x14 outside the flash"));
  EXPECT_EQ(sim.Counters().sectorsProgrammed, 0);
  EXPECT_THAT(testing_support::ReadLines(faultlog::kFileName), testing::Contains("Data error found in message"));
}

TEST(Loader, NoAnswerToThePingMeansNoDevice) {
  LoaderLine line;  // nothing serves the line
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex.name, kIhex.version, kIhex.map));
  LoaderTimings timings = FastTimings();
  timings.answerMs = 20;
  loader->SetTimings(timings);
  EXPECT_EQ(LoaderLine::RunUpdate(*loader), 3);
  EXPECT_STREQ(FlashLoaderErrorText(3), "No device or device has not re-program compability");
  const auto log = testing_support::ReadLines(faultlog::kFileName);
  EXPECT_EQ(std::count(log.begin(), log.end(), "FlashLoader timeout msg=(112)"), 4);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Stop record -> timeout"), 4);
}

// The device never reports the flash done: Stop gives up after 5 s, the worker goes on, and
// as it still reads the image, opening another one is refused.
TEST(Loader, StopDuringTheFlashWaitFails) {
  LoaderLine line;
  BootLoaderOptions options = SimOptions(kIhex, kIhex.map);
  options.programMs = 60000;
  line.MakeSim(options);
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex.name, kIhex.version, kIhex.map));
  RecordingNotifier notifier;
  loader->SetNotifier(&notifier);
  EXPECT_TRUE(loader->Stop());  // nothing started yet
  WriteFile("one.hex", HexLine(0, 0, {1, 2, 3}) + "\n");
  ASSERT_TRUE(loader->OpenImage("one.hex"));
  const FirmwareImage image = loader->Image();
  line.RunSim();
  ASSERT_TRUE(loader->Start());
  const double until = NowMilliseconds() + 5000;
  while (loader->CurrentState() != FlashLoader::kFlashWait && NowMilliseconds() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(loader->CurrentState(), FlashLoader::kFlashWait);
  EXPECT_EQ(loader->StatusLine2(), "Finalizing...It could take a minute");
  const double start = NowMilliseconds();
  EXPECT_FALSE(loader->Stop());
  const double waited = NowMilliseconds() - start;
  EXPECT_GE(waited, 5000);
  EXPECT_THAT(notifier.texts, testing::ElementsAre("Correct stop failed"));
  EXPECT_FALSE(loader->Finished());
  EXPECT_FALSE(loader->Start());  // the old worker still owns the line
  WriteFile("other.hex", HexLine(0, 0x2000, {4, 5}) + "\n");
  EXPECT_FALSE(loader->OpenImage("other.hex"));
  EXPECT_TRUE(loader->Image() == image);
  // Destroying the loader ends its worker's wait instead of sitting out the 10 s flash wait.
  const double destroy = NowMilliseconds();
  loader.reset();
  EXPECT_LT(NowMilliseconds() - destroy, 9000);
}

TEST(Loader, StartingAgainRunsAFreshUpdate) {
  LoaderLine line;
  const Bytes binary = RandomBytes(300, 8);
  auto& first = line.MakeSim(SimOptions(kIhex, kIhex.map));
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex.name, kIhex.version, kIhex.map));
  ASSERT_TRUE(loader->OpenImage(WriteImage(kIhex, HexLine(0, 0x100, Bytes(binary.begin(), binary.begin() + 200)) + "\n" +
                                                      HexLine(0, 0x4000, Bytes(binary.begin() + 200, binary.end())) + "\n",
                                           binary, 0, first)));
  line.RunSim();
  ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0);
  EXPECT_TRUE(loader->Stop());
  auto& second = line.MakeSim(SimOptions(kIhex, kIhex.map));
  line.RunSim();
  ASSERT_EQ(LoaderLine::RunUpdate(*loader), 0);
  line.StopSim();
  EXPECT_EQ(Control(second).front(), (Exchange{0x70, 0}));
  EXPECT_EQ(second.Counters().sectorsProgrammed, 2);
  EXPECT_DOUBLE_EQ(loader->OverallProgress(), 100.0);
}

// The worker calls the loader's virtual functions for every message: destroying a loader in
// the middle of the data ends the worker before any part of the object goes (a
// ThreadSanitizer build reports the object's type changing under the worker otherwise), and
// nothing reaches the line afterwards.
TEST(Loader, DestroyingARunningLoaderEndsItsWorkerFirst) {
  LoaderLine line;
  auto& sim = line.MakeSim(SimOptions(kIhex2, kIhex2.map));
  std::vector<std::string> records;
  for (std::uint16_t at = 0; at < 0x1000; at += 16) records.push_back(HexLine(0, at, Bytes(16, 0x5A)));
  auto loader = CreateFlashLoader(line.channel.get(), Description(kIhex2.name, kIhex2.version, kIhex2.map));
  ASSERT_TRUE(loader->OpenImage(WriteImage(kIhex2, Join(records), Bytes(0x1000, 0x5A), 0, sim)));
  line.RunSim();
  ASSERT_TRUE(loader->Start());
  const double until = NowMilliseconds() + 20000;
  while (loader->SectorProgress() <= 0 && NowMilliseconds() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(loader->SectorProgress(), 0);
  loader.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // what was written arrives
  const long requests = sim.Counters().requests;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(sim.Counters().requests, requests);
}

}  // namespace
