// The Modbus RTU master against a scripted slave on a pseudo-terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <utility>

#include "comm/ComPortChannel.h"
#include "comm/FaultLog.h"
#include "comm/Modbus.h"
#include "comm/TimedLog.h"
#include "platform/Clock.h"
#include "platform/CommTypes.h"
#include "platform/ComSerialPort.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr uint8_t kSlave = 10;
using Chunks = std::vector<ScriptedSlave::Chunk>;

// The answer a well-behaved slave gives to `request`: registers count up from 0x0100, coils
// alternate, writes are echoed.
Chunks NormalAnswer(const Bytes& request) {
  const uint8_t function = request[1];
  const int quantity = request[4] << 8 | request[5];
  if (function == 3 || function == 4) {
    Bytes pdu{function, static_cast<uint8_t>(2 * quantity)};
    for (int i = 0; i < quantity; ++i) {
      pdu.push_back(0x01);
      pdu.push_back(static_cast<uint8_t>(i));
    }
    return {{Frame(request[0], pdu)}};
  }
  if (function == 1 || function == 2) {
    Bytes pdu{function, static_cast<uint8_t>((quantity + 7) / 8)};
    for (int i = 0; i < (quantity + 7) / 8; ++i) pdu.push_back(0x55);
    return {{Frame(request[0], pdu)}};
  }
  return {{Frame(request[0], Bytes(request.begin() + 1, request.begin() + 6))}};
}

class ModbusTest : public ::testing::Test {
 protected:
  TempWorkDir dir;
  PtyPair pty;
  ComSerialPort port;
  std::mutex answerMutex;  // the slave thread reads the script while the test changes it
  std::function<Chunks(const Bytes&)> answer = NormalAnswer;

  void SetAnswer(std::function<Chunks(const Bytes&)> script) {
    std::lock_guard lock(answerMutex);
    answer = std::move(script);
  }
  std::unique_ptr<ScriptedSlave> slave;
  std::unique_ptr<CComPortChannel> channel;
  std::unique_ptr<ModbusRtuProtocol> modbus;

  void SetUp() override {
    faultlog::Truncate();
    ASSERT_EQ(port.Open(pty.slavePath, 0, 0, true), 0);
    ASSERT_EQ(port.Setup(38400, 8, 0, 0), 0);
    ASSERT_EQ(port.SetupHandshaking(0), 0);
    slave = std::make_unique<ScriptedSlave>(pty.master, [this](const Bytes& r) {
      std::function<Chunks(const Bytes&)> script;
      {
        std::lock_guard lock(answerMutex);
        script = answer;
      }
      return script(r);
    });
    channel = std::make_unique<CComPortChannel>(&port);
    modbus = std::make_unique<ModbusRtuProtocol>(channel.get(), kSlave);
  }
  void TearDown() override { slave.reset(); }

  std::string FaultLog() const { return ReadTextFile(faultlog::kFileName); }
};

struct RequestCase {
  const char* name;
  std::function<ModbusAnswer(ModbusRtuProtocol&)> call;
  Bytes pdu;
};

TEST_F(ModbusTest, RequestsGoOutAsModbusFrames) {
  const std::vector<RequestCase> cases = {
      {"read coils", [](auto& m) { return m.ReadCoils(1, 10); }, {0x01, 0x00, 0x00, 0x00, 0x0A}},
      {"read inputs", [](auto& m) { return m.ReadDiscreteInputs(100, 3); }, {0x02, 0x00, 0x63, 0x00, 0x03}},
      {"read holding", [](auto& m) { return m.ReadHoldingRegisters(0x1234, 2); }, {0x03, 0x12, 0x33, 0x00, 0x02}},
      {"read input regs", [](auto& m) { return m.ReadInputRegisters(1, 3); }, {0x04, 0x00, 0x00, 0x00, 0x03}},
      {"coil on", [](auto& m) { return m.WriteSingleCoil(5, 7); }, {0x05, 0x00, 0x04, 0xFF, 0x00}},
      {"coil off", [](auto& m) { return m.WriteSingleCoil(5, 0); }, {0x05, 0x00, 0x04, 0x00, 0x00}},
      {"register", [](auto& m) { return m.WriteSingleRegister(1, 0xBEEF); }, {0x06, 0x00, 0x00, 0xBE, 0xEF}},
      {"9 coils", [](auto& m) { return m.WriteMultipleCoils(20, {1, 0, 1, 1, 0, 0, 0, 9, -1}); },
       {0x0F, 0x00, 0x13, 0x00, 0x09, 0x02, 0x8D, 0x01}},
      {"registers", [](auto& m) { return m.WriteMultipleRegisters(3, {1, -1, 0x12345}); },
       {0x10, 0x00, 0x02, 0x00, 0x03, 0x06, 0x00, 0x01, 0xFF, 0xFF, 0x23, 0x45}},
      {"no registers", [](auto& m) { return m.WriteMultipleRegisters(3, {}); },
       {0x10, 0x00, 0x02, 0x00, 0x00, 0x00}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const ModbusAnswer result = cases[i].call(*modbus);
    EXPECT_EQ(result.code, 0u) << cases[i].name;
    ASSERT_TRUE(slave->WaitForRequests(i + 1, 1000)) << cases[i].name;
    EXPECT_EQ(Hex(slave->Requests()[i]), Hex(Frame(kSlave, cases[i].pdu))) << cases[i].name;
  }
}

TEST_F(ModbusTest, AnswersDecodeToValues) {
  SetAnswer([](const Bytes& r) -> Chunks {
    if (r[1] == 1) return {{Frame(kSlave, {0x01, 0x02, 0x05, 0x81})}};
    return {{Frame(kSlave, {0x03, 0x06, 0x80, 0x00, 0xFF, 0xFF, 0x7F, 0xFF})}};
  });
  // Ten coils answered with two data bytes give sixteen values of 0 or 255.
  EXPECT_THAT(modbus->ReadCoils(1, 10).values,
              ElementsAre(255, 0, 255, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255));
  const ModbusAnswer registers = modbus->ReadHoldingRegisters(1, 3);
  EXPECT_EQ(registers.code, 0u);
  EXPECT_THAT(registers.values, ElementsAre(-32768, -1, 32767));
}

TEST_F(ModbusTest, ExceptionAnswerGivesTheSlavesCode) {
  SetAnswer([](const Bytes&) -> Chunks { return {{Frame(kSlave, {0x83, 0x02})}}; });
  const ModbusAnswer result = modbus->ReadHoldingRegisters(7, 1);
  EXPECT_EQ(result.code, 2u);
  EXPECT_TRUE(result.values.empty());
}

// Everything a real line does to an answer that the master must survive, answered right.
TEST_F(ModbusTest, ReceptionSurvivesWhatALineDoes) {
  const Bytes good = Frame(kSlave, {0x03, 0x02, 0x12, 0x34});
  Bytes badCrc = good;
  badCrc.back() ^= 0x5A;
  const std::vector<std::pair<const char*, Chunks>> cases = {
      {"whole", {{good}}},
      {"split in three", {{Bytes(good.begin(), good.begin() + 2)},
                          {Bytes(good.begin() + 2, good.begin() + 5), 4},
                          {Bytes(good.begin() + 5, good.end()), 4}}},
      {"another slave first", {{Frame(11, {0x03, 0x02, 0x99, 0x99})}, {good, 2}}},
      {"bad CRC first", {{badCrc}, {good, 2}}},
      {"noise first", {{Bytes{0x00, 0xFF, 0x13}}, {good}}},
      {"noise glued to the frame", {{[&] { Bytes b{0x7E, 0x0A}; b.insert(b.end(), good.begin(), good.end()); return b; }()}}},
      {"two frames back to back", {{[&] { Bytes b = Frame(12, {0x03, 0x02, 0, 0}); b.insert(b.end(), good.begin(), good.end()); return b; }()}}},
  };
  for (const auto& [name, chunks] : cases) {
    SetAnswer([chunks](const Bytes&) { return chunks; });
    const ModbusAnswer result = modbus->ReadHoldingRegisters(1, 1);
    EXPECT_EQ(result.code, 0u) << name;
    EXPECT_THAT(result.values, ElementsAre(0x1234)) << name;
  }
  EXPECT_EQ(FaultLog(), "");
}

TEST_F(ModbusTest, AnswerToAnotherRequestIsLoggedAndSkipped) {
  SetAnswer([](const Bytes&) -> Chunks {
    return {{Frame(kSlave, {0x04, 0x02, 0, 1})}, {Frame(kSlave, {0x03, 0x02, 0, 2}), 2}};
  });
  EXPECT_THAT(modbus->ReadHoldingRegisters(1, 1).values, ElementsAre(2));
  EXPECT_EQ(FaultLog(), "F Unexpected device behavior. Get answer for other request in file Modbus.cpp\n");
}

TEST_F(ModbusTest, SilenceTimesOutAndLogsTheElapsedTime) {
  SetAnswer([](const Bytes&) { return Chunks{}; });
  const double cpuBefore = ThreadCpuMs();
  const double start = NowMilliseconds();
  const ModbusAnswer result = modbus->ReadHoldingRegisters(1, 1);
  const double elapsed = NowMilliseconds() - start;
  EXPECT_EQ(result.code, 255u);
  EXPECT_GE(elapsed, 100.0);
  EXPECT_LT(elapsed, 2000.0);  // a missing time-out never ends
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 10.0);  // the wait sleeps; it does not poll a core hot
  const std::string log = FaultLog();
  std::smatch m;
  ASSERT_TRUE(std::regex_match(log, m, std::regex(R"(F Timeout exceeded eplased ([0-9]+\.[0-9]{2}) in file Modbus\.cpp\n)")))
      << log;
  EXPECT_GE(std::stod(m[1]), 100.0);
}

TEST_F(ModbusTest, AbortEndsTheWaitAtOnce) {
  SetAnswer([](const Bytes&) { return Chunks{}; });
  // Already set on entry: no wait at all.
  modbus->timeoutMs = 5000;
  modbus->stopRequested = true;
  const double start = NowMilliseconds();
  EXPECT_EQ(modbus->ReceiveAnswer(3).code, 255u);
  EXPECT_LT(NowMilliseconds() - start, 1000.0);
  EXPECT_TRUE(std::regex_match(FaultLog(), std::regex(R"(F Timeout exceeded eplased [0-9]\.[0-9]{2} in file Modbus\.cpp\n)")))
      << FaultLog();

  // A wait without a time-out ends only when aborted, and then within a millisecond or so.
  modbus->timeoutMs = -1;
  std::atomic<double> stoppedAt{0};
  std::thread watchdog([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    stoppedAt = NowMilliseconds();
    modbus->stopRequested = true;
  });
  const ModbusAnswer result = modbus->ReadHoldingRegisters(1, 1);
  const double returnedAt = NowMilliseconds();
  watchdog.join();
  EXPECT_EQ(result.code, 255u);
  EXPECT_GE(returnedAt - start, 150.0);
  EXPECT_LT(returnedAt - stoppedAt, 1000.0);  // typically under 0.1 ms; without the abort it never returns
  // The next request clears the flag itself.
  SetAnswer(NormalAnswer);
  modbus->timeoutMs = 100;
  EXPECT_EQ(modbus->ReadHoldingRegisters(1, 1).code, 0u);
}

// A channel whose first call comes back only after the answer time-out has passed, as when
// the receiving thread is not scheduled in time. It records the waits it is asked for and
// never blocks, so a wait without limit shows up as a negative entry rather than a hang.
class LateChannel : public DataChannel {
 public:
  explicit LateChannel(int delayMs) : m_delayMs(delayMs) {}
  bool IsOpen() override {
    if (std::exchange(m_first, false)) std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
    return true;
  }
  int32_t Write(const DataGram& dgData) override {
    if (onWrite) onWrite();
    return dgData.GetSize();
  }
  int32_t Read(DataGram&) override { return 0; }
  int32_t Read(uint8_t*, int32_t) override { return 0; }
  void Purge() override {}
  int32_t WaitReadable(int32_t timeoutMs) override {
    waits.push_back(timeoutMs);
    if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return comm_error::kTimeout;
  }
  void Interrupt() override {}
  std::vector<int32_t> waits;
  std::function<void()> onWrite;

 private:
  int m_delayMs;
  bool m_first = true;
};

TEST(ModbusLateReceiverTest, ADeadlinePassedBeforeTheFirstWaitEndsInATimeOut) {
  TempWorkDir dir;
  const struct {
    int32_t timeoutMs;
    int delayMs;
  } cases[] = {{0, 5}, {20, 60}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timeoutMs);
    LateChannel channel(c.delayMs);
    ModbusRtuProtocol modbus(&channel, kSlave, c.timeoutMs);
    EXPECT_EQ(modbus.ReceiveAnswer(3).code, 255u);
    ASSERT_FALSE(channel.waits.empty());
    for (const int32_t wait : channel.waits) EXPECT_GE(wait, 0) << "a wait without limit";
  }
}

// A stop (a cancel, the server's watchdog) that comes while the request is being written is
// meant for this transaction: the wait after the write ends at once instead of losing it.
TEST(ModbusStopTest, AStopDuringTheWriteEndsTheWait) {
  TempWorkDir dir;
  LateChannel channel(0);
  ModbusRtuProtocol modbus(&channel, kSlave, 200);
  channel.onWrite = [&] { modbus.stopRequested = true; };
  EXPECT_EQ(modbus.ReadHoldingRegisters(1, 1).code, 255u);
  EXPECT_TRUE(channel.waits.empty()) << "waited " << channel.waits.size() << " times after the stop";
}

TEST_F(ModbusTest, AddressZeroIsRefusedWithoutTraffic) {
  const std::vector<std::function<ModbusAnswer()>> calls = {
      [&] { return modbus->ReadCoils(0, 1); },           [&] { return modbus->ReadDiscreteInputs(0, 1); },
      [&] { return modbus->ReadHoldingRegisters(0, 1); }, [&] { return modbus->ReadInputRegisters(0, 1); },
      [&] { return modbus->WriteSingleCoil(0, 1); },      [&] { return modbus->WriteSingleRegister(0, 1); },
      [&] { return modbus->WriteMultipleCoils(0, {1}); }, [&] { return modbus->WriteMultipleRegisters(0, {1}); }};
  for (const auto& call : calls) EXPECT_EQ(call(), (ModbusAnswer{2, {}}));
  const auto lines = ReadLines(faultlog::kFileName);
  ASSERT_EQ(lines.size(), calls.size());
  for (const auto& line : lines) EXPECT_EQ(line, "WARNING: You use 0 modbus address, minimum allowed address is 1");
  EXPECT_FALSE(slave->WaitForRequests(1, 50));
}

TEST_F(ModbusTest, WritesTooLargeForOneFrameAreRefused) {
  EXPECT_EQ(modbus->WriteMultipleRegisters(1, std::vector<int32_t>(128, 7)).code, 1u);
  EXPECT_EQ(modbus->WriteMultipleCoils(1, std::vector<int32_t>(2041, 1)).code, 1u);
  EXPECT_FALSE(slave->WaitForRequests(1, 50));
  const auto lines = ReadLines(faultlog::kFileName);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], HasSubstr("128 registers do not fit"));
  EXPECT_THAT(lines[1], HasSubstr("2041 coils do not fit"));
  // The largest lists that fit still go out, with their byte count.
  EXPECT_EQ(modbus->WriteMultipleRegisters(1, std::vector<int32_t>(127, 7)).code, 0u);
  ASSERT_TRUE(slave->WaitForRequests(1, 1000));
  EXPECT_EQ(slave->Requests()[0][6], 254);
}

TEST_F(ModbusTest, OnlyTheConfiguredSlaveIsAnswered) {
  // Addresses above 255 send their low byte but can never be matched by an answer.
  modbus->slaveAddress = 256 + kSlave;
  EXPECT_EQ(modbus->ReadHoldingRegisters(1, 1).code, 255u);
  ASSERT_TRUE(slave->WaitForRequests(1, 1000));
  EXPECT_EQ(slave->Requests()[0][0], kSlave);
}

TEST_F(ModbusTest, MissingClosedOrVanishedLineGivesCode4) {
  ModbusRtuProtocol noChannel(nullptr, kSlave);
  EXPECT_EQ(noChannel.ReadHoldingRegisters(1, 1).code, 4u);
  SetAnswer([](const Bytes&) { return Chunks{}; });
  slave.reset();
  pty.CloseMaster();  // the adapter is unplugged
  modbus->timeoutMs = 5000;
  const double start = NowMilliseconds();
  const double cpuBefore = ThreadCpuMs();
  EXPECT_EQ(modbus->ReadHoldingRegisters(1, 1).code, 4u);
  EXPECT_LT(NowMilliseconds() - start, 1000.0);  // long before the time-out
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 10.0);
  EXPECT_THAT(FaultLog(), HasSubstr("F Serial port"));
  port.Close();
  EXPECT_EQ(modbus->ReadHoldingRegisters(1, 1).code, 4u);
}

TEST_F(ModbusTest, WorkerLogShowsTheWaitAndTheDecode) {
  ASSERT_TRUE(WorkerLog().Open("WorkThread.log"));
  EXPECT_EQ(modbus->ReadHoldingRegisters(1, 1).code, 0u);
  WorkerLog().Close();
  const auto lines = ReadLines("WorkThread.log");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], ::testing::EndsWith("ms Start session"));
  EXPECT_THAT(lines[1], ::testing::EndsWith("ms Begin Wait"));
  EXPECT_THAT(lines[2], ::testing::EndsWith("ms Begin PDU decode"));
}

}  // namespace
