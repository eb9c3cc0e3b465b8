// The byte buffer, the CRC, the PDU completion rule and the decoder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "comm/DataGram.h"
#include "comm/FaultLog.h"
#include "comm/Modbus.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using ::testing::ElementsAre;

namespace {

Bytes ToBytes(const DataGram& d) { return Bytes(d.GetBuffer(), d.GetBuffer() + d.GetSize()); }

TEST(DataGramTest, CopyStaysInsideTheBuffer) {
  TempWorkDir dir;
  DataGram target{0, 0, 0, 0};
  target.Copy(DataGram{1, 2, 3}, 2);  // cut at the end
  EXPECT_EQ(ToBytes(target), (Bytes{0, 0, 1, 2}));
  target.Copy(DataGram{7, 8, 9}, -2);  // the part that would land before the buffer is cut
  EXPECT_EQ(ToBytes(target), (Bytes{9, 0, 1, 2}));
  target.Copy(DataGram{5}, 4);  // at the end: nothing
  target.Copy(DataGram{5}, 40);
  target.Copy(DataGram{1, 2}, -9);  // entirely before: nothing
  EXPECT_EQ(ToBytes(target), (Bytes{9, 0, 1, 2}));
  EXPECT_EQ(ReadLines(faultlog::kFileName),
            (std::vector<std::string>{"F Bad Datagram.Copy Input, iPos < 0 in file DataGram.cpp",
                                      "F Bad Datagram.Copy Input, iPos > m_iSize in file DataGram.cpp",
                                      "F Bad Datagram.Copy Input, iPos > m_iSize in file DataGram.cpp",
                                      "F Bad Datagram.Copy Input, iPos < 0 in file DataGram.cpp"}));
}

TEST(DataGramTest, ResizeKeepsThePrefix) {
  DataGram d{1, 2, 3};
  d.Resize(5);
  EXPECT_EQ(d.GetSize(), 5);
  EXPECT_EQ(ToBytes(d).at(2), 3);
  d.Resize(2);
  EXPECT_EQ(ToBytes(d), (Bytes{1, 2}));
  d.Resize(0);
  EXPECT_EQ(d.GetSize(), 0);
  DataGram copy = DataGram{4, 5};
  DataGram other = copy;
  other[0] = 9;
  EXPECT_EQ(copy[0], 4);  // copies own their bytes
}

TEST(ModbusCrcTest, TableCrcMatchesTheBitwiseDefinition) {
  // The classic read of ten holding registers of slave 1: CRC bytes C5 CD on the wire.
  const Bytes request{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(ModbusCrc(request.data(), 6), 0xCDC5);
  std::mt19937 random(7);
  for (int length = 0; length < 300; ++length) {
    Bytes data(length);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    ASSERT_EQ(ModbusCrc(data.data(), length), BitwiseCrc(data.data(), data.size())) << length;
  }
}

TEST(ModbusCrcTest, AduAndResidue) {
  ModbusRtuProtocol modbus(nullptr, 1);
  const DataGram adu = modbus.BuildAdu(DataGram{0x03, 0x00, 0x00, 0x00, 0x0A});
  EXPECT_EQ(Hex(ToBytes(adu)), "01 03 00 00 00 0A C5 CD");
  EXPECT_TRUE(modbus.IsCrcValid(DataGram{0x01}, DataGram{0x03, 0x00, 0x00, 0x00, 0x0A}, DataGram{0xC5, 0xCD}));
  EXPECT_FALSE(modbus.IsCrcValid(DataGram{0x01}, DataGram{0x03, 0x00, 0x00, 0x00, 0x0A}, DataGram{0xCD, 0xC5}));
  EXPECT_TRUE(modbus.IsOwnAddress(DataGram{0x01}));
  EXPECT_FALSE(modbus.IsOwnAddress(DataGram{0x02}));
  EXPECT_FALSE(modbus.IsOwnAddress(DataGram{}));
}

TEST(ModbusPduTest, CompletionFollowsTheFunctionCode) {
  struct Case { Bytes pdu; bool complete; };
  const std::vector<Case> cases = {
      {{}, false},           {{0x03}, false},           {{0x03, 0x02, 0x00}, false},
      {{0x03, 0x02, 0, 1}, true}, {{0x01, 0x00}, true},  {{0x00, 0x01, 0x05}, true},
      {{0x06, 0, 1, 0}, false},   {{0x06, 0, 1, 0, 2}, true}, {{0x0F, 0, 1, 0, 9}, true},
      {{0x10, 0, 1, 0}, false},   {{0x83, 0x02}, true},  {{0x2B, 0x0E}, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ModbusRtuProtocol::IsPduComplete(DataGram(c.pdu.data(), static_cast<int32_t>(c.pdu.size()))), c.complete)
        << Hex(c.pdu);
}

TEST(ModbusPduTest, Decoding) {
  auto decode = [](const Bytes& pdu) {
    return ModbusRtuProtocol::DecodePdu(DataGram(pdu.data(), static_cast<int32_t>(pdu.size())));
  };
  EXPECT_EQ(decode({0x83, 0x02}), (ModbusAnswer{2, {}}));
  EXPECT_EQ(decode({0x90, 0x04}), (ModbusAnswer{4, {}}));
  EXPECT_THAT(decode({0x02, 0x01, 0x80}).values, ElementsAre(0, 0, 0, 0, 0, 0, 0, 255));
  EXPECT_THAT(decode({0x04, 0x04, 0x80, 0x00, 0x00, 0x2A}).values, ElementsAre(-32768, 42));
  EXPECT_EQ(decode({0x06, 0x00, 0x01, 0x00, 0x03}), (ModbusAnswer{0, {}}));
  EXPECT_EQ(decode({0x10, 0x00, 0x01, 0x00, 0x03}), (ModbusAnswer{0, {}}));
}

}  // namespace
