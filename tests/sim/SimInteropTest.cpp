// The simulated device against independent Modbus masters: libmodbus's RTU client in-process
// for all eight functions and the exceptions, and mbpoll against the kelmora-sim program. The
// CRC table is checked against the frames libmodbus builds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>

#include "sim/SimCrc.h"
#include "tests/sim/SimTestSupport.h"

using namespace sim;
using namespace simtest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr int kSlave = 10;

// libmodbus's client on the program side of a simulated device's pty.
class LibmodbusClient {
 public:
  explicit LibmodbusClient(const std::string& path, int slave = kSlave) {
    m_ctx = modbus_new_rtu(path.c_str(), 38400, 'N', 8, 1);
    if (m_ctx == nullptr) throw std::runtime_error("modbus_new_rtu failed");
    modbus_set_slave(m_ctx, slave);
    modbus_set_response_timeout(m_ctx, 0, 500000);
    if (modbus_connect(m_ctx) != 0) throw std::runtime_error(std::string("modbus_connect: ") + modbus_strerror(errno));
  }
  ~LibmodbusClient() {
    modbus_close(m_ctx);
    modbus_free(m_ctx);
  }
  modbus_t* operator*() const { return m_ctx; }

  // Sends a raw PDU (libmodbus adds address and CRC) and returns the answer's PDU.
  std::vector<uint8_t> Raw(const std::vector<uint8_t>& pdu) {
    std::vector<uint8_t> request{static_cast<uint8_t>(kSlave)};
    request.insert(request.end(), pdu.begin(), pdu.end());
    if (modbus_send_raw_request(m_ctx, request.data(), static_cast<int>(request.size())) < 0) return {};
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    const int length = modbus_receive_confirmation(m_ctx, answer);
    if (length < 3) return {};
    return std::vector<uint8_t>(answer + 1, answer + length - 2);
  }

 private:
  modbus_t* m_ctx = nullptr;
};

class LibmodbusAgainstSim : public ::testing::Test {
 protected:
  testing_support::TempWorkDir dir;
  std::unique_ptr<SimRig> rig;
  std::unique_ptr<LibmodbusClient> client;
  void SetUp() override {
    rig = std::make_unique<SimRig>(TestProfile());
    rig->DisconnectMaster();  // libmodbus is the master here
    client = std::make_unique<LibmodbusClient>(rig->Path());
  }
};

TEST_F(LibmodbusAgainstSim, AllEightFunctions) {
  modbus_t* ctx = **client;
  // 15 and 1: coils (libmodbus numbers from 0).
  const uint8_t coils[16] = {1, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
  ASSERT_EQ(modbus_write_bits(ctx, 0, 16, coils), 16) << modbus_strerror(errno);
  uint8_t bits[16] = {};
  ASSERT_EQ(modbus_read_bits(ctx, 0, 16, bits), 16);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 16), std::vector<uint8_t>(coils, coils + 16));
  // 5: one coil.
  ASSERT_EQ(modbus_write_bit(ctx, 19, 0), 1);
  ASSERT_EQ(modbus_read_bits(ctx, 19, 1, bits), 1);
  EXPECT_EQ(bits[0], 0);
  // 2: discrete inputs, as the device sets them.
  rig->Slave().WithDevice([](CSimDevice& d) { d.Image().Set(Space::DiscreteInput, 3, 1); });
  ASSERT_EQ(modbus_read_input_bits(ctx, 0, 8, bits), 8);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 8), (std::vector<uint8_t>{0, 0, 1, 0, 0, 0, 0, 0}));
  // 6, 16 and 3: holding registers.
  ASSERT_EQ(modbus_write_register(ctx, 99, 0xBEEF), 1);
  const uint16_t table[10] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  ASSERT_EQ(modbus_write_registers(ctx, 109, 10, table), 10);
  uint16_t regs[10] = {};
  ASSERT_EQ(modbus_read_registers(ctx, 109, 10, regs), 10);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 10), std::vector<uint16_t>(table, table + 10));
  ASSERT_EQ(modbus_read_registers(ctx, 99, 1, regs), 1);
  EXPECT_EQ(regs[0], 0xBEEF);
  // 4: input registers, the identification.
  ASSERT_EQ(modbus_read_input_registers(ctx, 0, 3, regs), 3);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 3), (std::vector<uint16_t>{0x0510, 0x0105, 0x0302}));
  ASSERT_EQ(modbus_read_input_registers(ctx, 15, 5, regs), 5);
  std::string name;
  for (int i = 0; i < 5; ++i) {
    name += static_cast<char>(regs[i] & 0xFF);
    if (regs[i] >> 8) name += static_cast<char>(regs[i] >> 8);
  }
  EXPECT_EQ(name, "SIM-TEST7");
}

TEST_F(LibmodbusAgainstSim, Exceptions) {
  modbus_t* ctx = **client;
  uint16_t regs[4];
  uint8_t bits[4];
  // Unknown functions: 1.
  EXPECT_EQ(modbus_report_slave_id(ctx, 4, bits), -1);
  EXPECT_EQ(errno, EMBXILFUN);
  EXPECT_EQ(client->Raw({0x08, 0x00, 0x00, 0x12, 0x34}), (std::vector<uint8_t>{0x88, 0x01}));
  // Outside the maps: 2.
  EXPECT_EQ(modbus_read_registers(ctx, 1, 1, regs), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_read_input_registers(ctx, 500, 4, regs), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_write_bit(ctx, 16, 1), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_read_input_bits(ctx, 7, 2, bits), -1);
  EXPECT_EQ(errno, EMBXILADD);
  // Bad quantities (libmodbus refuses to send them itself, so raw): 3.
  EXPECT_EQ(client->Raw({0x03, 0x00, 0x63, 0x00, 0x00}), (std::vector<uint8_t>{0x83, 0x03}));
  EXPECT_EQ(client->Raw({0x04, 0x00, 0x63, 0x00, 0x7E}), (std::vector<uint8_t>{0x84, 0x03}));
  EXPECT_EQ(client->Raw({0x01, 0x00, 0x00, 0x07, 0xD1}), (std::vector<uint8_t>{0x81, 0x03}));
  EXPECT_EQ(client->Raw({0x05, 0x00, 0x00, 0x00, 0x01}), (std::vector<uint8_t>{0x85, 0x03}));
  // The command register refuses a save before its check.
  EXPECT_EQ(modbus_write_register(ctx, 0, 0x0FAA), -1);
  EXPECT_EQ(errno, EMBXILVAL);
  // And after all that, it still answers.
  EXPECT_EQ(modbus_read_registers(ctx, 199, 1, regs), 1);
  EXPECT_EQ(regs[0], 1234);
}

TEST_F(LibmodbusAgainstSim, OtherSlavesAndBroadcastsGetNoAnswer) {
  LibmodbusClient other(rig->Path(), 11);
  modbus_set_response_timeout(*other, 0, 100000);
  uint16_t regs[1];
  EXPECT_EQ(modbus_read_registers(*other, 199, 1, regs), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  // A broadcast write is carried out without an answer.
  const uint8_t broadcast[] = {MODBUS_BROADCAST_ADDRESS, 0x06, 0x00, 199, 0x10, 0xE1};
  ASSERT_EQ(modbus_send_raw_request(*other, broadcast, sizeof broadcast), 8);
  ASSERT_EQ(modbus_read_registers(**client, 199, 1, regs), 1);
  EXPECT_EQ(regs[0], 4321);
  EXPECT_EQ(rig->Slave().Counters().otherSlave, 1);
}

TEST(SimCrcInterop, TableAgreesWithLibmodbusFrames) {
  // libmodbus writes its requests into a pty whose device side nobody serves; the frames are
  // read raw there and their last two bytes compared with our CRC.
  CSimPty pty;
  std::string error;
  ASSERT_TRUE(pty.Open(38400, error)) << error;
  modbus_t* ctx = modbus_new_rtu(pty.ProgramPath().c_str(), 38400, 'N', 8, 1);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(modbus_connect(ctx), 0);
  modbus_set_response_timeout(ctx, 0, 1000);
  int frames = 0;
  for (int count = 1; count <= 123; count += 4) {
    for (int slave : {1, 10, 247}) {
      std::vector<uint16_t> values(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i) values[static_cast<size_t>(i)] = static_cast<uint16_t>((i * 40503u + slave * 7u) ^ (count << 8));
      modbus_set_slave(ctx, slave);
      modbus_write_registers(ctx, count * 31 + slave, count, values.data());
      std::vector<uint8_t> frame;
      const size_t expected = 9 + 2 * static_cast<size_t>(count);
      for (int tries = 0; frame.size() < expected && tries < 100; ++tries) {
        pollfd pfd{pty.DeviceFd(), POLLIN, 0};
        if (poll(&pfd, 1, 10) <= 0) continue;
        uint8_t chunk[512];
        const ssize_t n = read(pty.DeviceFd(), chunk, sizeof chunk);
        if (n > 0) frame.insert(frame.end(), chunk, chunk + n);
      }
      ASSERT_EQ(frame.size(), expected);
      const uint16_t crc = Crc16(frame.data(), frame.size() - 2);
      EXPECT_EQ(frame[frame.size() - 2], crc & 0xFF);
      EXPECT_EQ(frame[frame.size() - 1], crc >> 8);
      EXPECT_EQ(Crc16(frame.data(), frame.size()), 0);
      ++frames;
    }
  }
  modbus_close(ctx);
  modbus_free(ctx);
  EXPECT_EQ(frames, 93);
}

// ---- mbpoll against the program ------------------------------------------------------------

std::string Shell(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return output;
  }
  std::array<char, 512> chunk{};
  while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) output += chunk.data();
  status = pclose(pipe);
  return output;
}

TEST(MbpollAgainstSim, ReadsAndWritesRegistersOfTheRunningProgram) {
  SimFolder folder;
  const std::string link = folder.Path() + "/ttySIM";
  SimProcess sim({"--link", link, "--profile", TestProfile(), "--slave", "17", "--baud", "19200"});
  ASSERT_FALSE(sim.DevicePath().empty()) << sim.Output();
  const std::string mbpoll = "mbpoll -m rtu -a 17 -b 19200 -P none -o 1 -1 " + link;
  int status = 0;

  std::string out = Shell(mbpoll + " -t 3:hex -r 1 -c 3", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_THAT(out, HasSubstr("[1]: \t0x0510"));
  EXPECT_THAT(out, HasSubstr("[2]: \t0x0105"));
  EXPECT_THAT(out, HasSubstr("[3]: \t0x0302"));

  out = Shell(mbpoll + " -t 4 -r 110 " + " 11 22 33", status);
  EXPECT_EQ(status, 0) << out;
  out = Shell(mbpoll + " -t 4 -r 110 -c 4", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_THAT(out, HasSubstr("[110]: \t11"));
  EXPECT_THAT(out, HasSubstr("[112]: \t33"));
  EXPECT_THAT(out, HasSubstr("[113]: \t0"));

  out = Shell(mbpoll + " -t 4:int -r 101 -- 305419896", status);  // 0x12345678, low word first
  EXPECT_EQ(status, 0) << out;
  out = Shell(mbpoll + " -t 4:hex -r 101 -c 2", status);
  EXPECT_THAT(out, HasSubstr("[101]: \t0x5678"));
  EXPECT_THAT(out, HasSubstr("[102]: \t0x1234"));

  out = Shell(mbpoll + " -t 0 -r 20 0", status);
  EXPECT_EQ(status, 0) << out;
  out = Shell(mbpoll + " -t 0 -r 20", status);
  EXPECT_THAT(out, HasSubstr("[20]: \t0"));

  out = Shell(mbpoll + " -t 4 -r 2", status);  // not mapped
  EXPECT_THAT(out, HasSubstr("Illegal data address"));

  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Output();
}

}  // namespace
