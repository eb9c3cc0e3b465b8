// Our Modbus master and device layer against the simulated device on a pty: identification,
// every register kind and layout of the rich demo profile, the flash and boot-loader
// handshakes, every fault the device can inject as the master sees it, pacing and the trace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <fstream>
#include <set>

#include "comm/ModbusDevice.h"
#include "platform/Clock.h"
#include "tests/sim/SimTestSupport.h"

using namespace sim;
using namespace simtest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// The identification the setup wizard performs: input register 1 names the name block, the
// block holds the name (low byte first), registers 2 and 3 the versions.
struct ReadIdentity {
  bool ok = false;
  std::string name;
  int major = 0, minor = 0, programMajor = 0, programMinor = 0;
};

ReadIdentity Identify(ModbusRtuProtocol& master) {
  ReadIdentity id;
  const ModbusAnswer block = master.ReadInputRegisters(1, 1);
  if (block.code != 0 || block.values.empty()) return id;
  const int start = block.values[0] & 0xFF, length = (block.values[0] >> 8) & 0xFF;
  const ModbusAnswer name = master.ReadInputRegisters(static_cast<uint16_t>(start), static_cast<uint16_t>(length));
  if (name.code != 0 || name.values.size() != static_cast<size_t>(length)) return id;
  for (int32_t v : name.values) {
    id.name += static_cast<char>(v & 0xFF);
    id.name += static_cast<char>((v >> 8) & 0xFF);
  }
  id.name = id.name.c_str();  // a 0 byte pads a name of odd length
  const ModbusAnswer version = master.ReadInputRegisters(2, 1);
  const ModbusAnswer program = master.ReadInputRegisters(3, 1);
  if (version.code != 0 || version.values.empty() || program.code != 0 || program.values.empty()) return id;
  id.major = (version.values[0] >> 8) & 0xFF;
  id.minor = version.values[0] & 0xFF;
  id.programMajor = (program.values[0] >> 8) & 0xFF;
  id.programMinor = program.values[0] & 0xFF;
  id.ok = true;
  return id;
}

DeviceProfile Load(const std::string& path) {
  DeviceProfile profile;
  std::string error;
  EXPECT_TRUE(LoadSimProfile(path, "", profile, error)) << error;
  return profile;
}

class SimMasterTest : public ::testing::Test {
 protected:
  testing_support::TempWorkDir dir;  // our master writes its fault log here
};

TEST_F(SimMasterTest, IdentifiesAsTheProfileSays) {
  for (const std::string& path : {RichProfile(), TestProfile()}) {
    const DeviceProfile profile = Load(path);
    SimRig rig(path);
    const ReadIdentity id = Identify(rig.Master());
    ASSERT_TRUE(id.ok) << path;
    EXPECT_EQ(id.name, profile.identity.name);
    EXPECT_EQ(Version({id.major, id.minor}), profile.identity.version);
    EXPECT_EQ(Version({id.programMajor, id.programMinor}), profile.identity.programVersion);
  }
  SimRig rich(RichProfile());
  // The register values the rich profile's comment gives.
  EXPECT_THAT(rich.Master().ReadInputRegisters(1, 3).values, ElementsAre(0x0410, 0x0203, 0x010E));
  EXPECT_THAT(rich.Master().ReadInputRegisters(16, 4).values, ElementsAre(0x4450, 0x2D43, 0x3134, 0x3032));
}

Space SpaceOf(RegisterKind kind) {
  switch (kind) {
    case RegisterKind::Coil: return Space::Coil;
    case RegisterKind::DiscreteInput: return Space::DiscreteInput;
    case RegisterKind::InputRegister: return Space::Input;
    default: return Space::Holding;
  }
}

TEST_F(SimMasterTest, EveryPropertyOfTheRichProfileReadsAndWritesThroughTheDeviceLayer) {
  const DeviceProfile profile = Load(RichProfile());
  SimRig rig(RichProfile());
  ModbusDevice layer(&rig.Master());
  // A value of its own in every address, so a wrong address or word order shows.
  rig.Slave().WithDevice([](CSimDevice& device) {
    for (Space space : {Space::Coil, Space::DiscreteInput, Space::Holding, Space::Input})
      for (uint32_t a : device.Image().Addresses(space)) {
        if (space == Space::Coil || space == Space::DiscreteInput) device.Image().Set(space, a, a % 3 != 0);
        else if (a > 20) device.Image().Set(space, a, static_cast<uint16_t>(0x8000 + a * 3));  // past the identity
      }
  });
  CSimImage image;
  std::set<std::pair<Space, uint32_t>> moving;  // values the profile sets in motion
  rig.Slave().WithDevice([&](CSimDevice& device) {
    image = device.Image();
    for (const SimAnimation& a : device.Animations()) {
      const uint32_t span = static_cast<uint32_t>(a.count) * (a.width == SimAnimation::Width::Long ? 2 : 1);
      for (uint32_t k = 0; k < span; ++k) moving.insert({a.space, a.address + k});
    }
  });

  int properties = 0, written = 0, animated = 0;
  std::set<std::pair<int, int>> layouts;
  for (const KeywordList& list : profile.keywordLists) {
    for (const VisualObjectEntry& entry : list.entries) {
      for (const ModbusProperty& p : entry.properties) {
        const ModbusMapping& m = p.mapping;
        const Space space = SpaceOf(m.registerKind);
        const bool bits = space == Space::Coil || space == Space::DiscreteInput;
        SCOPED_TRACE(p.caption);
        ++properties;
        layouts.insert({static_cast<int>(m.registerKind), static_cast<int>(m.layout)});
        const ModbusAnswer answer = layer.ReadElement(m);
        ASSERT_EQ(answer.code, 0u);
        const size_t items = m.layout == RegisterLayout::Array ? static_cast<size_t>(m.count) : 1u;
        ASSERT_GE(answer.values.size(), items);
        if (moving.count({space, m.address})) {
          ++animated;
          continue;  // its value is the motion's; the motions have tests of their own
        }
        if (m.layout == RegisterLayout::Register32) {
          EXPECT_EQ(answer.values[0], image.Get32(space, m.address));
        } else {
          for (size_t k = 0; k < items; ++k) {
            const uint16_t raw = image.Get(space, m.address + static_cast<uint32_t>(k));
            EXPECT_EQ(answer.values[k], bits ? (raw ? 255 : 0) : static_cast<int16_t>(raw)) << "item " << k;
          }
        }
        // What can be written is kept and read back.
        if (m.registerKind == RegisterKind::Coil || m.registerKind == RegisterKind::HoldingRegister) {
          const int32_t value = bits ? (answer.values[0] ? 0 : 1)
                                : m.layout == RegisterLayout::Register32 ? 0x12345678 : static_cast<int16_t>(0xFEDC);
          ASSERT_EQ(layer.WriteElementValues(m, {value}).code, 0u);
          EXPECT_EQ(layer.ReadElement(m).values.at(0), bits ? value * 255 : value);
          ++written;
        }
      }
    }
  }
  // The demo profile may gain or lose properties; what matters is that all were served,
  // some moving and many written back.
  EXPECT_GE(properties, 20);
  EXPECT_GT(animated, 0);
  EXPECT_GE(written, 8);
  // Coils, discrete inputs, holding and input registers; single, array and 32-bit layouts.
  EXPECT_EQ(layouts.size(), 7u);
  for (const PackRecord& pack : profile.packs) {
    EXPECT_EQ(layer.ReadElement(pack.mapping).code, 0u) << pack.mapping.address;
  }
  // Outside the map: exception 2.
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(2, 1).code, 2u);
  EXPECT_EQ(rig.Master().WriteSingleCoil(3, 1).code, 2u);
  EXPECT_EQ(rig.Master().ReadInputRegisters(299, 2).code, 2u);
}

TEST_F(SimMasterTest, DeviceLayerHandshakesSucceed) {
  CSimDevice device = DeviceFrom(TestProfile());
  device.SetFlashMs(50);
  SimRig rig(std::move(device));
  ModbusDevice layer(&rig.Master());
  std::atomic<int32_t> stage{0};
  const ModbusMapping setpoint{RegisterLayout::Single, RegisterKind::HoldingRegister, 100, 1};
  ASSERT_EQ(layer.WriteElementValues(setpoint, {77}).code, 0u);
  EXPECT_EQ(layer.FlashLoadSave(true, stage).code, 0u);
  EXPECT_EQ(stage.load(), stage_text::kWaitingForDevice);
  ASSERT_EQ(layer.WriteElementValues(setpoint, {88}).code, 0u);
  EXPECT_EQ(layer.FlashLoadSave(false, stage).code, 0u);
  EXPECT_EQ(layer.ReadElement(setpoint).values, std::vector<int32_t>{77});
  EXPECT_EQ(layer.StartBootloader(stage).code, 0u);
  EXPECT_EQ(stage.load(), stage_text::kStartingBootloader);
  EXPECT_TRUE(rig.Slave().InBootLoader());
}

TEST_F(SimMasterTest, ArraysOfCoilsAndRegistersWriteAsOne) {
  SimRig rig(TestProfile());
  auto& m = rig.Master();
  ASSERT_EQ(m.WriteMultipleCoils(1, {1, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1}).code, 0u);
  EXPECT_THAT(m.ReadCoils(1, 16).values,
              ElementsAre(255, 0, 255, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255));
  ASSERT_EQ(m.WriteMultipleRegisters(110, {1, 2, 3, 4, 5, 6, 7, 8, 9, -1}).code, 0u);
  EXPECT_THAT(m.ReadHoldingRegisters(110, 10).values, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, -1));
  // Partly outside the map: refused whole.
  EXPECT_EQ(m.WriteMultipleRegisters(118, {1, 2, 3}).code, 2u);
  EXPECT_THAT(m.ReadHoldingRegisters(118, 2).values, ElementsAre(9, -1));
}

TEST_F(SimMasterTest, MovingValuesMoveOnTheLine) {
  SimRig rig(TestProfile());
  const ModbusAnswer first = rig.Master().ReadInputRegisters(102, 1);
  ASSERT_EQ(first.code, 0u);
  // The counter adds 5 every 50 ms; wait on the line, not in the test, by asking again.
  std::vector<int32_t> seen{first.values[0]};
  const double until = NowMilliseconds() + 2000;
  while (seen.back() < first.values[0] + 15 && NowMilliseconds() < until) {
    pollfd none{};
    poll(&none, 0, 20);
    seen.push_back(rig.Master().ReadInputRegisters(102, 1).values.at(0));
  }
  EXPECT_GE(seen.back(), first.values[0] + 15);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_EQ((seen[i] - seen[0]) % 5, 0);
}

TEST_F(SimMasterTest, FlashSaveAndLoadRoundTrip) {
  CSimDevice device = DeviceFrom(TestProfile());
  device.SetFlashMs(150);
  SimRig rig(std::move(device));
  auto& m = rig.Master();
  ASSERT_EQ(m.WriteSingleRegister(100, 1111).code, 0u);
  ASSERT_EQ(m.WriteMultipleRegisters(101, {0x5678, 0x1234}).code, 0u);

  auto handshake = [&](uint16_t command) {
    EXPECT_EQ(m.ReadHoldingRegisters(1, 1).code, 0u);
    EXPECT_EQ(m.WriteSingleRegister(1, 0x0FFF).code, 0u);
    EXPECT_THAT(m.ReadHoldingRegisters(1, 1).values, ElementsAre(0x0F00));
    m.timeoutMs = -1;  // the device layer waits without limit for the flash
    const double before = NowMilliseconds();
    const ModbusAnswer done = m.WriteSingleRegister(1, command);
    const double took = NowMilliseconds() - before;
    m.timeoutMs = 200;
    EXPECT_EQ(done.code, 0u);
    EXPECT_GE(took, 150.0) << "answered only when the flash is done";
    EXPECT_THAT(m.ReadHoldingRegisters(1, 1).values, ElementsAre(0));
  };
  handshake(0x0FAA);
  ASSERT_EQ(m.WriteSingleRegister(100, 2222).code, 0u);
  ASSERT_EQ(m.WriteMultipleRegisters(101, {0, 0}).code, 0u);
  EXPECT_THAT(m.ReadHoldingRegisters(100, 3).values, ElementsAre(2222, 0, 0));
  handshake(0x0FDD);
  EXPECT_THAT(m.ReadHoldingRegisters(100, 3).values, ElementsAre(1111, 0x5678, 0x1234));
  // A save or load that skips the check is refused.
  EXPECT_EQ(m.WriteSingleRegister(1, 0x0FAA).code, 3u);
  EXPECT_EQ(m.WriteSingleRegister(1, 0x0FDD).code, 3u);
  EXPECT_EQ(m.WriteSingleRegister(1, 0x1234).code, 3u);
  rig.Slave().WithDevice([](CSimDevice& d) {
    EXPECT_EQ(d.FlashSaves(), 1);
    EXPECT_EQ(d.FlashLoads(), 1);
  });
}

TEST_F(SimMasterTest, BootLoaderStartEndsModbus) {
  SimRig rig(TestProfile());
  auto& m = rig.Master();
  EXPECT_THAT(m.ReadHoldingRegisters(10, 1).values, ElementsAre(0));
  EXPECT_EQ(m.WriteSingleRegister(10, 0x0FAA).code, 3u) << "not before the check";
  EXPECT_FALSE(rig.Slave().InBootLoader());
  EXPECT_EQ(m.WriteSingleRegister(10, 0x0FFF).code, 0u);
  EXPECT_THAT(m.ReadHoldingRegisters(10, 1).values, ElementsAre(0x0F00));
  EXPECT_EQ(m.WriteSingleRegister(10, 0x0FAA).code, 0u);
  EXPECT_TRUE(rig.Slave().InBootLoader());
  m.timeoutMs = 100;
  EXPECT_EQ(m.ReadInputRegisters(1, 1).code, 255u);
  EXPECT_EQ(rig.Slave().Counters().afterBootLoader, 1);
}

TEST_F(SimMasterTest, BootLoaderHasTheLineUntilItEnds) {
  // A boot loader that answers one line of text and ends, as after a finished update.
  std::atomic<bool> ran{false};
  SimRig rig(DeviceFrom(TestProfile()), {}, [&ran](int fd, const std::atomic<bool>& stop) {
    std::string heard;
    while (!stop && heard.find('\n') == std::string::npos) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 10) <= 0) continue;
      char chunk[16];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n > 0) heard.append(chunk, static_cast<size_t>(n));
    }
    if (heard == "ping\n") {
      ASSERT_EQ(write(fd, "ok\n", 3), 3);
    }
    ran = true;
  });
  auto& m = rig.Master();
  ASSERT_EQ(m.WriteSingleRegister(10, 0x0FFF).code, 0u);
  ASSERT_EQ(m.WriteSingleRegister(10, 0x0FAA).code, 0u);
  rig.DisconnectMaster();
  const int fd = open(rig.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "ping\n", 5), 5);
  std::string answer;
  for (int i = 0; i < 100 && answer.size() < 3; ++i) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 20) <= 0) continue;
    char chunk[16];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) answer.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  EXPECT_EQ(answer, "ok\n");
  // Its program runs again: Modbus as before.
  rig.ConnectMaster();
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).values, std::vector<int32_t>{1234});
  EXPECT_TRUE(ran);
  EXPECT_FALSE(rig.Slave().InBootLoader());
}

TEST_F(SimMasterTest, ReconnectingProgramsFindTheDeviceStillThere) {
  SimRig rig(TestProfile());
  for (int round = 0; round < 3; ++round) {
    rig.DisconnectMaster();
    rig.ConnectMaster();
    EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).values, std::vector<int32_t>{1234}) << round;
  }
}

// ---- faults ------------------------------------------------------------------------------------

SimSlaveOptions WithFaults(const SimFaults& faults) {
  SimSlaveOptions options;
  options.faults = faults;
  return options;
}

TEST_F(SimMasterTest, DroppedRequestsTimeOut) {
  SimRig rig(TestProfile(), WithFaults({.drop = 1.0}));
  rig.Master().timeoutMs = 60;
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).code, 255u);
  EXPECT_EQ(rig.Master().WriteSingleRegister(200, 5).code, 255u);
  rig.Slave().WithDevice([](CSimDevice& d) { EXPECT_EQ(d.Image().Get(Space::Holding, 200), 1234) << "a lost request is not served"; });
  EXPECT_EQ(rig.Slave().Counters().dropped, 2);
}

TEST_F(SimMasterTest, FaultPatternRepeatsWithTheSeed) {
  // What the device did to each request, from its trace: answered, dropped or corrupted. The
  // master's view depends on its time-out as well; the device's own decisions do not.
  auto pattern = [&](uint64_t seed) {
    SimSlaveOptions options = WithFaults({.seed = seed, .drop = 0.3, .corrupt = 0.2});
    options.tracePath = dir.Path() + "/trace-" + std::to_string(seed) + ".txt";
    int failed = 0;
    {
      SimRig rig(TestProfile(), options);
      rig.Master().timeoutMs = 100;
      for (int i = 0; i < 20; ++i) failed += rig.Master().ReadHoldingRegisters(200, 1).code == 255;
    }
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, 20);
    std::string outcome;
    for (const std::string& line : testing_support::ReadLines(options.tracePath)) {
      if (line.find("request dropped") != std::string::npos) outcome += 'd';
      else if (line.find("bad CRC (injected)") != std::string::npos) outcome += 'c';
      else if (line.find(" TX ") != std::string::npos) outcome += '.';
    }
    EXPECT_EQ(outcome.size(), 20u);
    return outcome;
  };
  const std::string a = pattern(5);
  EXPECT_EQ(a, pattern(5));
  EXPECT_NE(a, pattern(6));
  for (char kind : {'.', 'd', 'c'}) EXPECT_NE(a.find(kind), std::string::npos) << kind;
}

TEST_F(SimMasterTest, CorruptAnswersAreNotTaken) {
  SimRig rig(TestProfile(), WithFaults({.corrupt = 1.0}));
  rig.Master().timeoutMs = 60;
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).code, 255u);
  EXPECT_EQ(rig.Slave().Counters().corrupted, 1);
}

TEST_F(SimMasterTest, ForcedExceptionsReachTheMaster) {
  CSimDevice device = DeviceFrom(TestProfile());
  device.AddForcedException(201, 4);
  device.AddForcedException(5, 6);
  SimRig rig(std::move(device));
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 2).code, 4u);
  EXPECT_EQ(rig.Master().WriteSingleRegister(201, 1).code, 4u);
  EXPECT_EQ(rig.Master().ReadCoils(1, 8).code, 6u);
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).code, 0u);
}

TEST_F(SimMasterTest, GarbageAndOtherSlavesFramesAreSurvived) {
  for (const SimFaults& faults : {SimFaults{.garbage = 1.0}, SimFaults{.wrongSlave = 1.0},
                                  SimFaults{.garbage = 1.0, .wrongSlave = 1.0}}) {
    for (bool pace : {false, true}) {
      SimSlaveOptions options = WithFaults(faults);
      options.pace = pace;
      options.line.baud = 115200;
      SimRig rig(TestProfile(), options);
      for (int i = 0; i < 20; ++i) {
        const ModbusAnswer answer = rig.Master().ReadHoldingRegisters(200, 3);
        ASSERT_EQ(answer.code, 0u) << "request " << i << (pace ? " paced" : "");
        EXPECT_THAT(answer.values, ElementsAre(1234, 125, 5));
      }
      const SimCounters counters = rig.Slave().Counters();
      EXPECT_EQ(counters.garbage, faults.garbage > 0 ? 20 : 0);
      EXPECT_EQ(counters.wrongSlave, faults.wrongSlave > 0 ? 20 : 0);
    }
  }
}

TEST_F(SimMasterTest, DelayedAnswersComeLate) {
  SimRig rig(TestProfile(), WithFaults({.delayMs = 120}));
  rig.Master().timeoutMs = 1000;
  const double before = NowMilliseconds();
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).code, 0u);
  EXPECT_GE(NowMilliseconds() - before, 120.0);
  // A master that gives up sooner sees no answer (last: the late one would answer the next).
  rig.Master().timeoutMs = 60;
  EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).code, 255u);
}

TEST_F(SimMasterTest, SilentAfterSomeAnswers) {
  SimRig rig(TestProfile(), WithFaults({.silentAfter = 3}));
  rig.Master().timeoutMs = 150;
  std::vector<uint32_t> codes;
  for (int i = 0; i < 5; ++i) codes.push_back(rig.Master().ReadHoldingRegisters(200, 1).code);
  EXPECT_THAT(codes, ElementsAre(0u, 0u, 0u, 255u, 255u));
  EXPECT_EQ(rig.Slave().Counters().silenced, 2);
}

// ---- pacing and trace ----------------------------------------------------------------------------

TEST_F(SimMasterTest, PacedAnswersKeepTheLinesTiming) {
  SimSlaveOptions options;
  options.pace = true;
  options.line.baud = 9600;
  SimRig rig(TestProfile(), options);
  rig.DisconnectMaster();
  const double character = options.line.CharacterMs();  // 1.04 ms

  // A raw request for 10 registers: 8 bytes out, 25 bytes back.
  const testing_support::Bytes request = testing_support::Frame(10, {0x03, 0x00, 0x6D, 0x00, 0x0A});
  const int fd = open(rig.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  const double sent = NowMilliseconds();
  ASSERT_EQ(write(fd, request.data(), request.size()), 8);
  std::vector<double> arrivals;
  testing_support::Bytes answer;
  while (answer.size() < 25 && NowMilliseconds() - sent < 2000) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0) continue;
    uint8_t chunk[64];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    for (ssize_t i = 0; i < n; ++i) {
      answer.push_back(chunk[i]);
      arrivals.push_back(NowMilliseconds() - sent);
    }
  }
  close(fd);
  ASSERT_EQ(answer.size(), 25u);
  EXPECT_EQ(answer, testing_support::Frame(10, {0x03, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // No character arrives before the request has crossed the line, the frame silence has passed
  // and the character itself has been sent.
  for (size_t i = 0; i < arrivals.size(); ++i)
    EXPECT_GE(arrivals[i], (8 + 3.5 + i + 1) * character - 0.05) << "character " << i;
}

TEST_F(SimMasterTest, TraceRecordsEveryFrame) {
  SimSlaveOptions options;
  options.tracePath = dir.Path() + "/trace.txt";
  {
    SimRig rig(TestProfile(), options);
    EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).code, 0u);
    EXPECT_EQ(rig.Master().ReadHoldingRegisters(2, 1).code, 2u);
    rig.Master().slaveAddress = 11;
    rig.Master().timeoutMs = 30;
    EXPECT_EQ(rig.Master().ReadHoldingRegisters(200, 1).code, 255u);
  }
  const std::vector<std::string> lines = testing_support::ReadLines(options.tracePath);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_THAT(lines[0], HasSubstr(" RX 0A 03 00 C7 00 01 "));
  EXPECT_THAT(lines[1], HasSubstr(" TX 0A 03 02 04 D2 "));
  EXPECT_THAT(lines[3], HasSubstr(" TX 0A 83 02 "));
  EXPECT_THAT(lines[4], HasSubstr(" RX 0B 03 00 C7 00 01 "));
  EXPECT_THAT(lines[4], HasSubstr("for slave 11, ignored"));
  // Time stamps in milliseconds, rising.
  EXPECT_LE(std::stod(lines[0]), std::stod(lines[4]));
}

}  // namespace
