// The traffic log: frames made from the master's exchanges, the ring's bound, the figures, and
// a counted run against the simulated device with corrupted answers.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "tests/sim/SimTestSupport.h"
#include "tools/TrafficLog.h"

namespace {

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
  const uint16_t crc = ModbusCrc(frame.data(), static_cast<int32_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

const std::vector<uint8_t> kRequest = WithCrc({0x0A, 0x03, 0x00, 0x04, 0x00, 0x01});
const std::vector<uint8_t> kAnswer = WithCrc({0x0A, 0x03, 0x02, 0x12, 0x34});
const std::vector<uint8_t> kRefusal = WithCrc({0x0A, 0x83, 0x02});

void Exchange(CTrafficLog& log, const std::vector<uint8_t>& received, int32_t answerAt, int32_t answerLength,
              uint32_t code, double roundTripMs = -1) {
  ModbusExchange e;
  e.request = kRequest.data();
  e.requestLength = static_cast<int32_t>(kRequest.size());
  e.received = received.data();
  e.receivedLength = static_cast<int32_t>(received.size());
  e.answerAt = answerAt;
  e.answerLength = answerLength;
  e.code = code;
  e.sentAtMs = NowMilliseconds();
  e.roundTripMs = roundTripMs;
  log.OnExchange(e);
}

}  // namespace

TEST(TrafficLog, EachExchangeBecomesItsFramesAndCounts) {
  std::vector<uint8_t> corrupted = kAnswer;
  corrupted.back() ^= 0x40;
  std::vector<uint8_t> noisyAnswer = {0xFF, 0x00, 0x13};
  noisyAnswer.insert(noisyAnswer.end(), kAnswer.begin(), kAnswer.end());
  struct Case {
    const char* what;
    std::vector<uint8_t> received;
    int32_t answerAt, answerLength;
    uint32_t code;
    double trip;
    // The answer side's frames: bytes, CRC good, code; then the counters.
    std::vector<std::tuple<std::vector<uint8_t>, bool, int32_t>> frames;
    uint64_t timeouts, crcErrors, exceptions;
    std::string lastLine;  // FrameLine of the last frame without its time
  };
  const std::vector<Case> cases = {
      {"answer", kAnswer, 0, 7, 0, 4.26, {{kAnswer, true, 0}}, 0, 0, 0,
       "<-  0A 03 02 12 34 " + CTrafficLog::HexBytes({kAnswer[5], kAnswer[6]}) +
           "  03 Read Holding Registers  CRC ok  OK  4.3 ms"},
      {"exception", kRefusal, 0, 5, 2, 3.0, {{kRefusal, true, 2}}, 0, 0, 1,
       "<-  0A 83 02 " + CTrafficLog::HexBytes({kRefusal[3], kRefusal[4]}) +
           "  83 exception to 03  CRC ok  exception 2 (illegal data address)  3.0 ms"},
      {"silence", {}, -1, 0, 255, -1, {{{}, false, 255}}, 1, 0, 0, "<-  (nothing)  no answer"},
      {"corrupted", corrupted, -1, 0, 255, -1, {{corrupted, false, 255}}, 1, 1, 0,
       "<-  " + CTrafficLog::HexBytes(corrupted) + "  03 Read Holding Registers  CRC bad  no valid answer"},
      {"noise first", noisyAnswer, 3, 7, 0, 5.0, {{{0xFF, 0x00, 0x13}, false, 255}, {kAnswer, true, 0}}, 0, 1, 0,
       "<-  0A 03 02 12 34 " + CTrafficLog::HexBytes({kAnswer[5], kAnswer[6]}) +
           "  03 Read Holding Registers  CRC ok  OK  5.0 ms"},
      {"port gone", {}, -1, 0, 4, -1, {{{}, false, 4}}, 0, 0, 0, "<-  (nothing)  port failed"},
  };
  for (const Case& c : cases) {
    CTrafficLog log;
    Exchange(log, c.received, c.answerAt, c.answerLength, c.code, c.trip);
    const auto frames = log.FramesAfter(0);
    ASSERT_EQ(frames.size(), 1 + c.frames.size()) << c.what;
    EXPECT_TRUE(frames[0].outgoing);
    EXPECT_EQ(frames[0].bytes, kRequest);
    EXPECT_TRUE(frames[0].crcOk);
    for (size_t i = 0; i < c.frames.size(); ++i) {
      const TrafficFrame& f = frames[i + 1];
      EXPECT_FALSE(f.outgoing);
      EXPECT_EQ(f.seq, i + 2);
      EXPECT_EQ(f.bytes, std::get<0>(c.frames[i])) << c.what;
      EXPECT_EQ(f.crcOk, std::get<1>(c.frames[i])) << c.what;
      EXPECT_EQ(f.code, std::get<2>(c.frames[i])) << c.what;
    }
    const std::string line = CTrafficLog::FrameLine(frames.back());
    EXPECT_EQ(line.substr(14), c.lastLine) << c.what;
    const TrafficFigures figures = log.Figures();
    EXPECT_EQ(figures.transactions, 1u);
    EXPECT_EQ(figures.timeouts, c.timeouts) << c.what;
    EXPECT_EQ(figures.crcErrors, c.crcErrors) << c.what;
    EXPECT_EQ(figures.exceptions, c.exceptions) << c.what;
  }
}

TEST(TrafficLog, TheRingKeepsTheLastTenThousandFramesAndTheTripFigures) {
  CTrafficLog log;
  // 6,000 exchanges, 12,000 frames; answer i took i % 100 + 1 ms.
  for (int i = 0; i < 6000; ++i) Exchange(log, kAnswer, 0, 7, 0, i % 100 + 1);
  std::vector<TrafficFrame> frames = log.FramesAfter(0);
  ASSERT_EQ(frames.size(), CTrafficLog::kCapacity);
  EXPECT_EQ(frames.front().seq, 2001u);
  EXPECT_EQ(frames.back().seq, 12000u);
  EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end(), [](auto& a, auto& b) { return a.seq < b.seq; }));
  EXPECT_EQ(log.FramesAfter(11997).size(), 3u);
  // The 5,000 answers in the ring took 1..100 ms, 50 times each.
  const TrafficFigures f = log.Figures();
  EXPECT_EQ(f.transactions, 6000u);
  EXPECT_DOUBLE_EQ(f.rttMinMs, 1);
  EXPECT_DOUBLE_EQ(f.rttMedianMs, 50.5);
  EXPECT_DOUBLE_EQ(f.rttP99Ms, 99);
  EXPECT_GT(f.transactionsPerSecond, 0);
  log.Clear();
  EXPECT_TRUE(log.FramesAfter(0).empty());
  EXPECT_EQ(log.Figures().transactions, 0u);
  EXPECT_EQ(log.Figures().rttMinMs, -1);
  Exchange(log, kAnswer, 0, 7, 0, 2);
  EXPECT_EQ(log.FramesAfter(0).front().seq, 12001u);  // numbers go on, so readers never go back
}

TEST(TrafficLog, LineUseCountsEveryBitOfEveryCharacter) {
  EXPECT_DOUBLE_EQ(CTrafficLog::BitsPerCharacter(8, 0, 0), 10);
  EXPECT_DOUBLE_EQ(CTrafficLog::BitsPerCharacter(8, 2, 2), 12);
  EXPECT_DOUBLE_EQ(CTrafficLog::BitsPerCharacter(7, 1, 1), 10.5);
  CTrafficLog log;
  log.SetLine(9600, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // 15 bytes of 10 bits within about 0.1 s on a 9600 baud line: under 16 %, well above 0.
  Exchange(log, kAnswer, 0, 7, 0, 1);
  const TrafficFigures f = log.Figures();
  EXPECT_EQ(f.baudRate, 9600);
  EXPECT_GT(f.lineUse, 0.0);
  EXPECT_LE(f.lineUse, 150.0 / 9600 / 0.1);
}

// Against the simulated device, which corrupts a third of its answers: the log's figures are
// what the master's own results say.
TEST(TrafficLog, FiguresMatchACountedRunWithCorruptedAnswers) {
  sim::SimSlaveOptions options;
  options.faults.corrupt = 0.3;
  options.faults.seed = 7;
  simtest::SimRig rig(simtest::TestProfile(), options);
  CTrafficLog log;
  ModbusRtuProtocol& master = rig.Master();
  master.exchangeTap = &log;
  uint64_t ok = 0, exceptions = 0, timeouts = 0;
  ModbusAnswer first;
  for (int i = 0; i < 100; ++i) {
    // Every tenth request asks for an address the device lacks.
    const ModbusAnswer a = master.ReadInputRegisters(i % 10 == 9 ? 60000 : 1, 1);
    if (i == 0) first = a;
    (a.code == 0 ? ok : a.code == 255 ? timeouts : exceptions)++;
  }
  master.exchangeTap = nullptr;
  const TrafficFigures f = log.Figures();
  EXPECT_EQ(f.transactions, 100u);
  EXPECT_EQ(f.timeouts, timeouts);
  EXPECT_EQ(f.exceptions, exceptions);
  EXPECT_EQ(f.crcErrors, static_cast<uint64_t>(rig.Slave().Counters().corrupted));
  EXPECT_GT(timeouts, 10u);
  EXPECT_GT(exceptions, 3u);

  // The first exchange, as the line carried it.
  const std::vector<TrafficFrame> frames = log.FramesAfter(0);
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(CTrafficLog::HexBytes(frames[0].bytes), "0A 04 00 00 00 01 30 B1");
  if (first.code == 0) {
    const auto value = static_cast<uint16_t>(first.values.at(0));
    EXPECT_EQ(frames[1].bytes, WithCrc({0x0A, 0x04, 0x02, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}));
    EXPECT_TRUE(frames[1].crcOk);
    EXPECT_GE(frames[1].roundTripMs, 0);
  } else {
    EXPECT_FALSE(frames[1].crcOk);
  }
  size_t badFrames = 0;
  for (const TrafficFrame& frame : frames) badFrames += !frame.outgoing && !frame.crcOk && !frame.bytes.empty();
  EXPECT_EQ(badFrames, f.crcErrors);
}
