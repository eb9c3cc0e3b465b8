// The simulated device without a line: request framing, refusals with their exception codes,
// motion, the device a profile makes, and the command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

#include "sim/SimFrame.h"
#include "sim/SimOptions.h"
#include "tests/sim/SimTestSupport.h"

using namespace sim;
using testing_support::Frame;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// ---- framing ------------------------------------------------------------------------------

struct ParserCase {
  const char* name;
  std::vector<Bytes> pieces;  // fed one after another
  bool silenceAtEnd;
  std::vector<std::pair<SimParsed::Kind, Bytes>> expected;
};

const Bytes kRead = Frame(10, {0x03, 0x00, 0x63, 0x00, 0x02});
const Bytes kWrite16 = Frame(10, {0x10, 0x00, 0x10, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78});
const Bytes kOther = Frame(11, {0x04, 0x00, 0x00, 0x00, 0x01});
const Bytes kUnknown = Frame(10, {0x2B, 0x0E, 0x01, 0x00});

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes BadCrc(Bytes frame) {
  frame.back() ^= 0x01;
  return frame;
}

using K = SimParsed::Kind;

class ParserTable : public ::testing::TestWithParam<ParserCase> {};

TEST_P(ParserTable, CutsTheStreamIntoFrames) {
  const ParserCase& c = GetParam();
  CSimFrameParser parser;
  double t = 0;
  for (const Bytes& piece : c.pieces) parser.Feed(piece.data(), piece.size(), t += 1);
  if (c.silenceAtEnd) parser.Silence();
  std::vector<std::pair<K, Bytes>> got;
  for (SimParsed item; parser.Next(item);) got.emplace_back(item.kind, item.bytes);
  EXPECT_EQ(got, c.expected) << c.name;
  if (c.silenceAtEnd) {
    EXPECT_EQ(parser.Pending(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Framing, ParserTable,
    ::testing::Values(
        ParserCase{"good frame", {kRead}, false, {{K::Frame, kRead}}},
        ParserCase{"two back to back", {Join({kRead, kWrite16})}, false, {{K::Frame, kRead}, {K::Frame, kWrite16}}},
        ParserCase{"split in pieces",
                   {Bytes(kWrite16.begin(), kWrite16.begin() + 3), Bytes(kWrite16.begin() + 3, kWrite16.begin() + 7),
                    Bytes(kWrite16.begin() + 7, kWrite16.end())},
                   false,
                   {{K::Frame, kWrite16}}},
        ParserCase{"bad CRC is skipped", {BadCrc(kRead)}, true, {{K::Noise, BadCrc(kRead)}}},
        ParserCase{"bad CRC, then a good frame", {Join({BadCrc(kRead), kRead})}, true,
                   {{K::Noise, BadCrc(kRead)}, {K::Frame, kRead}}},
        ParserCase{"garbage before the frame", {Join({{0xFF, 0x00, 0x7E}, kRead})}, true,
                   {{K::Noise, {0xFF, 0x00, 0x7E}}, {K::Frame, kRead}}},
        ParserCase{"impossible byte count is no frame start", {Join({{0x0A, 0x10, 0, 0, 0, 0x7D, 0xFA}, kRead})}, true,
                   {{K::Noise, {0x0A, 0x10, 0, 0, 0, 0x7D, 0xFA}}, {K::Frame, kRead}}},
        ParserCase{"frame for another slave", {Join({kOther, kRead})}, false, {{K::Frame, kOther}, {K::Frame, kRead}}},
        ParserCase{"unknown function ends at silence", {kUnknown}, true, {{K::Frame, kUnknown}}},
        ParserCase{"unfinished frame dropped at silence", {Bytes(kRead.begin(), kRead.begin() + 5)}, true,
                   {{K::Noise, Bytes(kRead.begin(), kRead.begin() + 5)}}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// ---- the device's answers ----------------------------------------------------------------------

class SimDeviceTest : public ::testing::Test {
 protected:
  CSimDevice device;
  void SetUp() override {
    for (uint32_t a = 1; a <= 20; ++a) {
      device.Image().Define(Space::Coil, a);
      device.Image().Define(Space::DiscreteInput, a);
      device.Image().Define(Space::Input, 100 + a);
      device.Image().Define(Space::Holding, 100 + a);
    }
  }
  Bytes Ask(const Bytes& pdu) { return device.Handle(pdu, 0).pdu; }
};

TEST_F(SimDeviceTest, RefusesWithTheRightException) {
  struct Case {
    Bytes pdu;
    Bytes answer;
  };
  const std::vector<Case> cases = {
      {{0x07}, {0x87, 0x01}},                                     // unknown function
      {{0x2B, 0x0E, 0x01, 0x00}, {0xAB, 0x01}},                   // another one
      {{0x03, 0x00, 0x00, 0x00, 0x02}, {0x83, 0x02}},             // holding 1 exists, 2 does not
      {{0x03, 0x00, 0x70, 0x00, 0x0A}, {0x83, 0x02}},             // 113..122 run past 120
      {{0x04, 0x00, 0x32, 0x00, 0x01}, {0x84, 0x02}},             // unmapped input
      {{0x01, 0x00, 0x10, 0x00, 0x08}, {0x81, 0x02}},             // coils 17..24, mapped only up to 20
      {{0x03, 0x00, 0x64, 0x00, 0x00}, {0x83, 0x03}},             // quantity 0
      {{0x03, 0x00, 0x64, 0x00, 0x7E}, {0x83, 0x03}},             // 126 registers
      {{0x02, 0x00, 0x00, 0x07, 0xD1}, {0x82, 0x03}},             // 2001 bits
      {{0x05, 0x00, 0x00, 0x12, 0x34}, {0x85, 0x03}},             // a coil takes FF00 or 0000
      {{0x05, 0x00, 0x40, 0xFF, 0x00}, {0x85, 0x02}},             // unmapped coil
      {{0x06, 0x00, 0x05, 0x00, 0x01}, {0x86, 0x02}},             // unmapped register
      {{0x0F, 0x00, 0x00, 0x00, 0x09, 0x01, 0xFF}, {0x8F, 0x03}},  // byte count disagrees
      {{0x10, 0x00, 0x64, 0x00, 0x02, 0x02, 0x00, 0x01}, {0x90, 0x03}},  // byte count disagrees
  };
  for (const Case& c : cases) EXPECT_EQ(Ask(c.pdu), c.answer) << testing_support::Hex(c.pdu);
  // A write that runs off the end of the map changes nothing.
  EXPECT_EQ(Ask({0x10, 0x00, 0x77, 0x00, 0x02, 0x04, 0, 1, 0, 2}), (Bytes{0x90, 0x02}));
  EXPECT_EQ(device.Image().Get(Space::Holding, 120), 0);
}

// ---- motion ------------------------------------------------------------------------------------

SimAnimation Motion(SimAnimation::Kind kind, double low, double high, double period, uint32_t address) {
  SimAnimation a;
  a.kind = kind;
  a.low = low;
  a.high = high;
  a.periodS = period;
  a.space = Space::Input;
  a.address = address;
  return a;
}

TEST(SimMotion, SineRampCounterAndRandomFollowTheClock) {
  CSimDevice device;
  for (uint32_t a = 1; a <= 6; ++a) device.Image().Define(Space::Input, a);
  device.AddAnimation(Motion(SimAnimation::Kind::Sine, -100, 100, 4, 1));
  device.AddAnimation(Motion(SimAnimation::Kind::Ramp, 0, 1000, 10, 2));
  device.AddAnimation(Motion(SimAnimation::Kind::Counter, 3, 0, 1, 3));
  device.AddAnimation(Motion(SimAnimation::Kind::Random, 10, 20, 1, 4));
  SimAnimation wide = Motion(SimAnimation::Kind::Counter, 70000, 0, 1, 5);
  wide.width = SimAnimation::Width::Long;
  device.AddAnimation(wide);
  const CSimImage& image = device.Image();
  auto at = [&](double seconds) { device.Animate(1000.0 * seconds); };

  at(0);
  EXPECT_EQ(static_cast<int16_t>(image.Get(Space::Input, 1)), 0);
  EXPECT_EQ(image.Get(Space::Input, 2), 0);
  at(1);  // a quarter period: the top of the swing
  EXPECT_EQ(static_cast<int16_t>(image.Get(Space::Input, 1)), 100);
  EXPECT_EQ(image.Get(Space::Input, 2), 100);
  EXPECT_EQ(image.Get(Space::Input, 3), 3);
  at(3);
  EXPECT_EQ(static_cast<int16_t>(image.Get(Space::Input, 1)), -100);
  EXPECT_EQ(image.Get(Space::Input, 3), 9);
  EXPECT_EQ(image.Get32(Space::Input, 5), 210000);  // carries into the high word
  at(10.5);  // the ramp starts again
  EXPECT_EQ(image.Get(Space::Input, 2), 50);

  std::set<int> seen;
  for (int s = 0; s < 200; ++s) {
    at(20 + s);
    const int v = image.Get(Space::Input, 4);
    ASSERT_GE(v, 10);
    ASSERT_LE(v, 20);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 11u) << "every value of the range turns up";
}

TEST(SimMotion, CounterGoesOnFromAWrittenValue) {
  CSimDevice device;
  device.Image().Define(Space::Holding, 50);
  SimAnimation counter = Motion(SimAnimation::Kind::Counter, 1, 0, 1, 50);
  counter.space = Space::Holding;
  device.AddAnimation(counter);
  device.Animate(0);
  device.Animate(2000);
  EXPECT_EQ(device.Image().Get(Space::Holding, 50), 2);
  device.Handle({0x06, 0x00, 0x31, 0x00, 0x64}, 2500);
  EXPECT_EQ(device.Handle({0x03, 0x00, 0x31, 0x00, 0x01}, 3000).pdu, (Bytes{0x03, 0x02, 0x00, 0x65}));
}

TEST(SimMotion, StoppedMotionKeepsTheStartValue) {
  CSimDevice device;
  device.Image().Define(Space::Input, 1);
  device.AddAnimation(Motion(SimAnimation::Kind::Ramp, 40, 1000, 10, 1));
  device.StopMotion();
  for (double ms : {0.0, 2500.0, 7000.0}) {
    device.Animate(ms);
    EXPECT_EQ(device.Image().Get(Space::Input, 1), 40) << ms;
  }
}

TEST(SimMotion, RandomValuesRepeatWithTheSeedOnly) {
  auto series = [](uint64_t seed) {
    CSimDevice device;
    device.SetSeed(seed);
    device.Image().Define(Space::Input, 1);
    device.AddAnimation(Motion(SimAnimation::Kind::Random, 0, 1000, 1, 1));
    std::vector<int> values;
    for (int s = 0; s < 20; ++s) {
      device.Animate(1000.0 * s);
      values.push_back(device.Image().Get(Space::Input, 1));
    }
    return values;
  };
  EXPECT_EQ(series(7), series(7));
  EXPECT_NE(series(7), series(8));
}

TEST(SimMotion, KeywordTextsAndTheirMistakes) {
  ModbusProperty fixed;
  fixed.kind = PropertyKind::RangedFix;
  fixed.divisor = 0.1;
  ModbusProperty plain;
  SimAnimation a;
  bool animated = false, hasStart = false;
  long long start = 0;
  std::string error;
  ASSERT_TRUE(ParseSimKeyword("sine 0 1000 5", fixed, a, animated, hasStart, start, error));
  EXPECT_TRUE(animated);
  EXPECT_EQ(a.kind, SimAnimation::Kind::Sine);
  EXPECT_DOUBLE_EQ(a.high, 10000);  // engineering units: 1000 ÷ 0.1
  ASSERT_TRUE(ParseSimKeyword("Counter 2 0.5 40", plain, a, animated, hasStart, start, error));
  EXPECT_EQ(a.kind, SimAnimation::Kind::Counter);
  EXPECT_TRUE(hasStart);
  EXPECT_EQ(start, 40);
  ASSERT_TRUE(ParseSimKeyword("value -2.5", fixed, a, animated, hasStart, start, error));
  EXPECT_FALSE(animated);
  EXPECT_EQ(start, -25);
  for (const char* bad : {"sine 1 2", "ramp 0 10 0", "random 1", "wobble 1 2 3", "value x", "counter 1 -1", ""}) {
    error.clear();
    EXPECT_FALSE(ParseSimKeyword(bad, plain, a, animated, hasStart, start, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

// Raw counts that no register holds were converted to integers regardless, which is undefined
// (found by fuzz_profile_xml: a profile's "value 1111...117").
TEST(SimMotion, KeywordCountsBeyondARegisterAreRefused) {
  ModbusProperty fixed;
  fixed.kind = PropertyKind::RangedFix;
  fixed.divisor = 0.1;
  const ModbusProperty plain;
  struct Case {
    const char* text;
    const ModbusProperty& property;
    bool accepted;
  };
  const Case cases[] = {
      {"value 111111111111111111111111111111111111111111111111111111111111111111111111111111111111117", plain, false},
      {"value 4294967296", plain, false},
      {"value -2147483649", plain, false},
      {"value 500000000", fixed, false},  // 5·10^9 counts under the divisor
      {"sine 0 1e12 1", plain, false},
      {"random -3e9 0", plain, false},
      {"counter 1e10", plain, false},
      {"counter 1 1 -1e300", plain, false},
      {"value 4294967295", plain, true},
      {"value -2147483648", plain, true},
      {"sine -2147483648 4294967295 1", plain, true},
  };
  for (const Case& c : cases) {
    SimAnimation a;
    bool animated = false, hasStart = false;
    long long start = 0;
    std::string error;
    EXPECT_EQ(ParseSimKeyword(c.text, c.property, a, animated, hasStart, start, error), c.accepted) << c.text;
    EXPECT_EQ(error.empty(), c.accepted) << c.text << ": " << error;
  }
}

// A period so short that the number of periods overflows stands still instead of converting
// an infinite or huge count to an integer.
TEST(SimMotion, PeriodsTooShortToCountStandStill) {
  CSimDevice device;
  for (uint32_t a = 1; a <= 4; ++a) device.Image().Define(Space::Input, a);
  device.AddAnimation(Motion(SimAnimation::Kind::Sine, 10, 20, 1e-310, 1));
  device.AddAnimation(Motion(SimAnimation::Kind::Ramp, 40, 1000, 1e-310, 2));
  device.AddAnimation(Motion(SimAnimation::Kind::Counter, 3, 0, 1e-300, 3));
  device.AddAnimation(Motion(SimAnimation::Kind::Random, 10, 20, 1e-300, 4));
  for (const double ms : {0.0, 1000.0, 86400000.0}) {
    device.Animate(ms);
    EXPECT_EQ(device.Image().Get(Space::Input, 1), 15) << ms;
    EXPECT_EQ(device.Image().Get(Space::Input, 2), 40) << ms;
    EXPECT_EQ(device.Image().Get(Space::Input, 3), 0) << ms;
    EXPECT_GE(device.Image().Get(Space::Input, 4), 10) << ms;
    EXPECT_LE(device.Image().Get(Space::Input, 4), 20) << ms;
  }
}

// ---- the device a profile makes ------------------------------------------------------------------

TEST(SimFromProfile, MapsEveryPropertyAndPackOfTheTestProfile) {
  testing_support::TempWorkDir dir;
  std::vector<std::string> warnings;
  CSimDevice device = simtest::DeviceFrom(simtest::TestProfile(), &warnings);
  const CSimImage& image = device.Image();
  EXPECT_TRUE(image.DefinedRange(Space::Coil, 1, 16));
  EXPECT_TRUE(image.Defined(Space::Coil, 20));
  EXPECT_FALSE(image.Defined(Space::Coil, 17));
  EXPECT_TRUE(image.DefinedRange(Space::DiscreteInput, 1, 8));
  EXPECT_TRUE(image.DefinedRange(Space::Holding, 101, 2));   // 32-bit
  EXPECT_TRUE(image.DefinedRange(Space::Holding, 110, 10));  // array
  EXPECT_TRUE(image.DefinedRange(Space::Input, 100, 10));    // the pack spans 106..109 too
  EXPECT_TRUE(image.DefinedRange(Space::Input, 120, 8));
  EXPECT_FALSE(image.Defined(Space::Holding, 103));

  EXPECT_EQ(image.Get(Space::Coil, 20), 1);
  EXPECT_EQ(image.Get(Space::Holding, 200), 1234);
  EXPECT_EQ(image.Get(Space::Holding, 201), 125);  // 12.5 with divisor 0.1
  EXPECT_EQ(image.Get(Space::Holding, 202), 5);    // the start of its range 5..50
  for (uint32_t a = 120; a <= 127; ++a) EXPECT_EQ(image.Get(Space::Input, a), 7);
  EXPECT_EQ(image.Get(Space::Input, 102), 100);    // counter's start
  EXPECT_EQ(image.Get32(Space::Input, 104), -5);

  // Identity: the name "SIM-TEST7" (9 characters, 5 registers) at input register 16.
  EXPECT_EQ(image.Get(Space::Input, 1), 0x0510);
  EXPECT_EQ(image.Get(Space::Input, 2), 0x0105);
  EXPECT_EQ(image.Get(Space::Input, 3), 0x0302);
  EXPECT_EQ(image.Get(Space::Input, 16), 'I' << 8 | 'S');
  EXPECT_EQ(image.Get(Space::Input, 20), '7');

  EXPECT_EQ(device.Animations().size(), 6u);  // the blinker, wave, saw, count, dice and energy
  // The flash copy starts as the image the device powered up with.
  bool seen = false;
  for (const auto& [address, value] : device.Flash())
    if (address == 200) seen = value == 1234;
  EXPECT_TRUE(seen);

  EXPECT_THAT(warnings, ::testing::Contains(HasSubstr("on the flash register")));
  EXPECT_THAT(warnings, ::testing::Contains(HasSubstr("wobble")));
  EXPECT_EQ(warnings.size(), 2u);
}

TEST(SimFromProfile, NameBlockMovesAwayFromMappedInputs) {
  testing_support::TempWorkDir dir;
  {
    std::ofstream out("crowded.xml");
    out << R"(<devices><device name="CROWDED" version="1.0" firmware="1.0"><representation><page name="p">
      <visualobject type="watch"><VALUE><modbus element="ireg" structure="array">4-17</modbus></VALUE></visualobject>
      </page></representation></device></devices>)";
  }
  CSimDevice device = simtest::DeviceFrom("crowded.xml");
  // 4..17 are the profile's; the 4-register name goes right behind them.
  EXPECT_EQ(device.Image().Get(Space::Input, 1), 0x0412);
  EXPECT_EQ(device.Image().Get(Space::Input, 18), 'R' << 8 | 'C');
}

TEST(SimFromProfile, LoadingPicksTheNamedDeviceAndExplainsFailures) {
  testing_support::TempWorkDir dir;
  DeviceProfile profile;
  std::string error;
  ASSERT_TRUE(LoadSimProfile(simtest::TestProfile(), "SECOND", profile, error)) << error;
  EXPECT_EQ(profile.identity.name, "second");
  EXPECT_FALSE(LoadSimProfile(simtest::TestProfile(), "third", profile, error));
  EXPECT_THAT(error, HasSubstr("SIM-TEST7, second"));
  EXPECT_FALSE(LoadSimProfile("no-such.xml", "", profile, error));
  EXPECT_THAT(error, HasSubstr("no such file"));
  {
    std::ofstream out("broken.xml");
    out << "<devices><device name=";
  }
  EXPECT_FALSE(LoadSimProfile("broken.xml", "", profile, error));
  EXPECT_THAT(error, HasSubstr("describes no device"));
  EXPECT_THAT(error, HasSubstr("XMLException"));
  // The loader works in a folder of its own: nothing lands in ours.
  EXPECT_FALSE(std::filesystem::exists("faults.log"));
}

// ---- the command line ----------------------------------------------------------------------------

TEST(SimCommandLine, TakesOptionsInBothFormsAndConvertsThem) {
  SimCommandLine o;
  std::string error;
  ASSERT_TRUE(ParseSimCommandLine({"--baud=115200", "--parity", "even", "--stop", "1.5", "--pace", "--still", "--seed", "0x10",
                                   "--exception", "101:4", "--exception=7:2", "--silent-after", "5"},
                                  o, error))
      << error;
  EXPECT_EQ(o.slave.line.baud, 115200);
  EXPECT_EQ(o.slave.line.parity, 2);
  EXPECT_EQ(o.slave.line.stopBits, 1);
  EXPECT_TRUE(o.slave.pace);
  EXPECT_TRUE(o.still);
  EXPECT_EQ(o.slave.faults.seed, 16u);
  EXPECT_EQ(o.slave.faults.silentAfter, 5);
  EXPECT_THAT(o.exceptions, ElementsAre(std::pair<uint32_t, uint8_t>{101, 4}, std::pair<uint32_t, uint8_t>{7, 2}));
  // Unset, the wizard's defaults: COM9, slave 10, 38400 baud.
  SimCommandLine defaults;
  ASSERT_TRUE(ParseSimCommandLine({}, defaults, error));
  EXPECT_EQ(defaults.com, 9);
  EXPECT_EQ(defaults.slave.slave, 10);
  EXPECT_EQ(defaults.slave.line.baud, 38400);
  EXPECT_EQ(defaults.flashMs, 300);
}

TEST(SimCommandLine, RefusesWhatItCannotTakeAndSaysWhy) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--slave", "0"}, "--slave needs a slave address 1..247, not \"0\""},
      {{"--com"}, "--com needs a COM number"},
      {{"--com", "x9"}, "not \"x9\""},
      {{"--drop", "1.5"}, "--drop needs a chance 0..1"},
      {{"--parity", "mark"}, "none, odd or even"},
      {{"--stop", "3"}, "1, 1.5 or 2"},
      {{"--exception", "101"}, "ADDR:CODE"},
      {{"--exception", "0:4"}, "ADDR:CODE"},
      {{"--seed", "-1"}, "--seed needs a whole number"},
      {{"--pace=1"}, "--pace takes no value"},
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"stray"}, "unexpected argument \"stray\""},
  };
  for (const auto& [args, message] : cases) {
    SimCommandLine o;
    std::string error;
    EXPECT_FALSE(ParseSimCommandLine(args, o, error)) << args[0];
    EXPECT_THAT(error, HasSubstr(message)) << args[0];
  }
}

TEST(SimLineTiming, CharacterAndFrameSilence) {
  SimLine line;
  line.baud = 9600;
  EXPECT_NEAR(line.CharacterMs(), 10.0 / 9.6, 1e-9);
  EXPECT_NEAR(line.FrameSilenceMs(), 3.5 * 10.0 / 9.6, 1e-9);
  line.parity = 2;
  line.stopBits = 2;
  EXPECT_NEAR(line.CharacterMs(), 12.0 / 9.6, 1e-9);
  line.baud = 38400;
  EXPECT_EQ(line.FrameSilenceMs(), 1.75);  // fixed above 19200 baud
  EXPECT_EQ(line.Describe(), "38400 8E2");
}

}  // namespace
