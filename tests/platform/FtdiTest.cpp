// The FTDI path through the D2XX subset's test backend, which stands an adapter on a pty.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/FtdiSerialPort.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using namespace comm_error;

namespace {

class FtdiTest : public ::testing::Test {
 protected:
  PtyPair lineA, lineB;

  void SetUp() override {
    const std::string adapters = "FT1A2B3C=" + lineA.slavePath + ", =" + lineB.slavePath;
    setenv("KELMORA_FTDI_FAKE", adapters.c_str(), 1);
  }
  void TearDown() override { unsetenv("KELMORA_FTDI_FAKE"); }

  static std::vector<FtdiDeviceItem> Items(FtdiDeviceList& list) {
    std::vector<FtdiDeviceItem> items;
    FtdiDeviceItem item;
    while (list.Next(item)) items.push_back(item);
    return items;
  }
};

TEST_F(FtdiTest, ListShowsAdaptersAndWhichCanBeOpened) {
  FtdiDeviceList list;
  EXPECT_EQ(list.Cursor(), -1);
  ASSERT_EQ(list.Refresh(), 2u);
  auto items = Items(list);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].index, 0u);
  EXPECT_EQ(items[0].Serial(), "FT1A2B3C");
  EXPECT_TRUE(items[0].available);
  EXPECT_NE(items[0].Description().find(lineA.slavePath), std::string::npos);
  EXPECT_EQ(items[1].Serial(), "");
  EXPECT_FALSE(items[1].available);  // no serial number: it cannot be opened by one

  // While this program holds the adapter, it is listed as opened and so not available.
  FtdiSerialPort port;
  ASSERT_EQ(port.Open("FT1A2B3C", 0, 0, true), kSuccess);
  ASSERT_EQ(list.Refresh(), 2u);
  EXPECT_FALSE(Items(list)[0].available);
  port.Close();
  ASSERT_EQ(list.Refresh(), 2u);
  EXPECT_TRUE(Items(list)[0].available);

  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Cursor(), -1);
  FtdiDeviceItem item;
  EXPECT_FALSE(list.Next(item));
}

TEST_F(FtdiTest, SerialNumberByIndex) {
  char serial[64] = {};
  EXPECT_EQ(FtdiSerialNumberByIndex(0, serial), 0);
  EXPECT_STREQ(serial, "FT1A2B3C");
  EXPECT_EQ(FtdiSerialNumberByIndex(1, serial), 0);
  EXPECT_STREQ(serial, "");
  EXPECT_EQ(FtdiSerialNumberByIndex(2, serial), -2);
  EXPECT_EQ(FtdiSerialNumberByIndex(-1, serial), -2);
}

TEST_F(FtdiTest, PortOpensBySerialNumberAndCarriesBytes) {
  FtdiSerialPort port;
  EXPECT_EQ(port.Open("NOSUCH", 0, 0, true), kFileNotFound);
  EXPECT_NE(port.GetLastErrorText().find("NOSUCH"), std::string::npos);
  ASSERT_EQ(port.Open("FT1A2B3C", 0, 0, true), kSuccess);
  EXPECT_EQ(port.Open("FT1A2B3C", 0, 0, true), kAlreadyOpen);
  FtdiSerialPort second;
  EXPECT_EQ(second.Open("FT1A2B3C", 0, 0, true), kBusy);

  ASSERT_EQ(port.Setup(115200, 8, 1, 2), kSuccess);
  EXPECT_EQ(port.GetBaudrate(), 115200);
  EXPECT_EQ(port.GetParity(), 1);
  EXPECT_EQ(port.GetStopBits(), 2);
  ASSERT_EQ(port.SetupHandshaking(1), kSuccess);
  EXPECT_EQ(port.GetHandshaking(), 1);
  EXPECT_EQ(port.SetupHandshaking(7), kInvalidArg);

  uint32_t count = 0;
  EXPECT_EQ(port.Write("\x10\x20", 2, &count, nullptr, -1), kSuccess);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(lineA.Receive(2, 500), (Bytes{0x10, 0x20}));
  lineA.Send({0x30});
  ASSERT_EQ(port.WaitReadable(500), kSuccess);
  uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, -1), kSuccess);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(byte, 0x30);
  // The blocking read mode times out through the same overlapped discipline as a COM port.
  ASSERT_EQ(port.SetupReadTimeouts(1), kSuccess);
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, 30), kTimeout);

  lineA.CloseMaster();
  EXPECT_EQ(port.WaitReadable(500), kDeviceNotConnected);
}

TEST(FtdiClosed, ClosedPortAnswersNotOpen) {
  FtdiSerialPort port;
  EXPECT_EQ(port.Setup(9600, 8, 0, 0), kInvalidHandle);
  EXPECT_EQ(port.GetBaudrate(), -1);
  EXPECT_EQ(port.Purge(), kInvalidHandle);
}

}  // namespace
