// Our Modbus master against libmodbus: its RTU server answers our requests, and its master's
// frames are compared byte for byte with ours, so a mistake both sides of our code share
// (CRC byte order, address offset, bit packing) cannot hide.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <thread>

#include "comm/ComPortChannel.h"
#include "comm/Modbus.h"
#include "platform/ComSerialPort.h"
#include "platform/FtdiSerialPort.h"
#include "tests/support/LibmodbusPeer.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using ::testing::ElementsAre;

namespace {

constexpr int kSlave = 17;

class InteropTest : public ::testing::Test {
 protected:
  TempWorkDir dir;
  PtyPair pty;
  std::unique_ptr<LibmodbusServer> server;
  ComSerialPort port;
  std::unique_ptr<CComPortChannel> channel;
  std::unique_ptr<ModbusRtuProtocol> modbus;

  void SetUp() override {
    server = std::make_unique<LibmodbusServer>(pty.master, kSlave);
    ASSERT_EQ(port.Open(pty.slavePath, 0, 0, true), 0);
    ASSERT_EQ(port.Setup(38400, 8, 0, 0), 0);
    channel = std::make_unique<CComPortChannel>(&port);
    modbus = std::make_unique<ModbusRtuProtocol>(channel.get(), kSlave);
  }
  void TearDown() override {
    modbus.reset();
    channel.reset();
    server.reset();
  }
};

TEST_F(InteropTest, ReadsSeeTheServersValues) {
  server->WithMapping([](modbus_mapping_t& m) {
    for (int i = 0; i < 10; ++i) m.tab_bits[i] = (i % 3 == 0);
    m.tab_input_bits[4] = 1;
    m.tab_registers[0] = 0x8000;
    m.tab_registers[1] = 1234;
    m.tab_input_registers[99] = 0xFFFF;
  });
  const ModbusAnswer coils = modbus->ReadCoils(1, 10);
  ASSERT_EQ(coils.code, 0u);
  ASSERT_EQ(coils.values.size(), 16u);
  EXPECT_THAT(std::vector<int32_t>(coils.values.begin(), coils.values.begin() + 10),
              ElementsAre(255, 0, 0, 255, 0, 0, 255, 0, 0, 255));
  const ModbusAnswer inputs = modbus->ReadDiscreteInputs(4, 3);  // wire addresses 3, 4, 5
  ASSERT_EQ(inputs.values.size(), 8u);
  EXPECT_THAT(std::vector<int32_t>(inputs.values.begin(), inputs.values.begin() + 3), ElementsAre(0, 255, 0));
  EXPECT_EQ(modbus->ReadHoldingRegisters(1, 2), (ModbusAnswer{0, {-32768, 1234}}));
  EXPECT_EQ(modbus->ReadInputRegisters(100, 1), (ModbusAnswer{0, {-1}}));
}

TEST_F(InteropTest, WritesLandInTheServersMapping) {
  EXPECT_EQ(modbus->WriteSingleCoil(3, 1).code, 0u);
  EXPECT_EQ(modbus->WriteSingleRegister(5, 0xABCD).code, 0u);
  EXPECT_EQ(modbus->WriteMultipleCoils(20, {1, 0, 1, 1, 0, 0, 0, 1, 1}).code, 0u);
  EXPECT_EQ(modbus->WriteMultipleRegisters(40, {7, -2, 0x10000 + 3}).code, 0u);
  server->WithMapping([](modbus_mapping_t& m) {
    EXPECT_EQ(m.tab_bits[2], 1);
    EXPECT_EQ(m.tab_registers[4], 0xABCD);
    const std::vector<int> coils(m.tab_bits + 19, m.tab_bits + 28);
    EXPECT_THAT(coils, ElementsAre(1, 0, 1, 1, 0, 0, 0, 1, 1));
    EXPECT_THAT(std::vector<int>(m.tab_registers + 39, m.tab_registers + 42), ElementsAre(7, 0xFFFE, 3));
  });
  EXPECT_EQ(modbus->WriteSingleCoil(3, 0).code, 0u);
  server->WithMapping([](modbus_mapping_t& m) { EXPECT_EQ(m.tab_bits[2], 0); });
}

TEST_F(InteropTest, AddressOutsideTheMappingGivesTheServersException) {
  EXPECT_EQ(modbus->ReadHoldingRegisters(101, 1), (ModbusAnswer{MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS, {}}));
  EXPECT_EQ(modbus->WriteSingleRegister(500, 1).code, 2u);
  EXPECT_EQ(modbus->ReadHoldingRegisters(1, 1).code, 0u);  // and the line is fine afterwards
}

TEST_F(InteropTest, AThousandTransactionsInARow) {
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(modbus->WriteSingleRegister(1 + i % 100, static_cast<uint16_t>(i)).code, 0u) << i;
    ASSERT_EQ(modbus->ReadHoldingRegisters(1 + i % 100, 1), (ModbusAnswer{0, {i}})) << i;
  }
}

TEST(InteropFtdi, ReadThroughTheFtdiPath) {
  TempWorkDir dir;
  PtyPair pty;
  LibmodbusServer server(pty.master, kSlave);
  server.WithMapping([](modbus_mapping_t& m) { m.tab_input_registers[0] = 0x0102; });
  setenv("KELMORA_FTDI_FAKE", ("KLM0001=" + pty.slavePath).c_str(), 1);
  char serial[64] = {};
  ASSERT_EQ(FtdiSerialNumberByIndex(0, serial), 0);
  FtdiSerialPort port;
  ASSERT_EQ(port.Open(serial, 0, 0, true), 0);
  ASSERT_EQ(port.Setup(38400, 8, 0, 0), 0);
  {
    CComPortChannel channel(&port);
    ModbusRtuProtocol modbus(&channel, kSlave);
    EXPECT_EQ(modbus.ReadInputRegisters(1, 1), (ModbusAnswer{0, {0x0102}}));
  }
  EXPECT_FALSE(port.IsOpen());  // the channel closed it
  unsetenv("KELMORA_FTDI_FAKE");
}

// The frames libmodbus's master sends for the eight functions are exactly the frames we build.
TEST(InteropFrames, OurFramesEqualLibmodbusFrames) {
  PtyPair pty;
  modbus_t* ctx = modbus_new_rtu(pty.slavePath.c_str(), 38400, 'N', 8, 1);
  ASSERT_NE(ctx, nullptr);
  modbus_set_slave(ctx, kSlave);
  ASSERT_EQ(modbus_connect(ctx), 0);
  modbus_set_response_timeout(ctx, 0, 20000);

  ModbusRtuProtocol ours(nullptr, kSlave);
  auto ourFrame = [&](Bytes pdu) {
    const DataGram adu = ours.BuildAdu(DataGram(pdu.data(), static_cast<int32_t>(pdu.size())));
    return Bytes(adu.GetBuffer(), adu.GetBuffer() + adu.GetSize());
  };
  uint8_t bits[16];
  uint16_t regs[16];
  const uint8_t coilValues[9] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
  const uint16_t regValues[3] = {7, 0xFFFE, 3};
  struct Case {
    std::function<void()> send;
    Bytes pdu;  // ours, with the 0-based wire address
  };
  const std::vector<Case> cases = {
      {[&] { modbus_read_bits(ctx, 0, 10, bits); }, {0x01, 0x00, 0x00, 0x00, 0x0A}},
      {[&] { modbus_read_input_bits(ctx, 99, 3, bits); }, {0x02, 0x00, 0x63, 0x00, 0x03}},
      {[&] { modbus_read_registers(ctx, 0x1233, 2, regs); }, {0x03, 0x12, 0x33, 0x00, 0x02}},
      {[&] { modbus_read_input_registers(ctx, 0, 3, regs); }, {0x04, 0x00, 0x00, 0x00, 0x03}},
      {[&] { modbus_write_bit(ctx, 4, 1); }, {0x05, 0x00, 0x04, 0xFF, 0x00}},
      {[&] { modbus_write_register(ctx, 0, 0xBEEF); }, {0x06, 0x00, 0x00, 0xBE, 0xEF}},
      {[&] { modbus_write_bits(ctx, 19, 9, coilValues); }, {0x0F, 0x00, 0x13, 0x00, 0x09, 0x02, 0x8D, 0x01}},
      {[&] { modbus_write_registers(ctx, 39, 3, regValues); },
       {0x10, 0x00, 0x27, 0x00, 0x03, 0x06, 0x00, 0x07, 0xFF, 0xFE, 0x00, 0x03}},
  };
  for (const Case& c : cases) {
    c.send();  // no answer comes; libmodbus times out after sending
    const Bytes expected = ourFrame(c.pdu);
    EXPECT_EQ(Hex(pty.Receive(expected.size(), 500)), Hex(expected));
  }
  modbus_close(ctx);
  modbus_free(ctx);
}

}  // namespace
