// The FTDI path through the D2XX subset's test backend, which stands an adapter on a pty.
#include <gtest/gtest.h>

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/D2xx.h"
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

// Whether thread `tid` of this process is asleep in a system call (blocked in poll, here).
bool ThreadSleeps(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t name = text.rfind(')');  // the state follows the parenthesised command name
  return name != std::string::npos && name + 2 < text.size() && text[name + 2] == 'S';
}

TEST_F(FtdiTest, HandleClosedOnAnotherThreadDuringARead) {
  FT_HANDLE h = FT_W32_CreateFile("FT1A2B3C", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FT_OPEN_BY_SERIAL_NUMBER, nullptr);
  ASSERT_NE(h, nullptr);
  FTTIMEOUTS blocking{};  // all zero: a read waits for its full length
  ASSERT_TRUE(FT_W32_SetCommTimeouts(h, &blocking));

  std::atomic<pid_t> readerTid{0};
  bool readOk = false;
  uint8_t byte = 0;
  DWORD count = 0;
  std::thread reader([&] {
    readerTid = gettid();
    readOk = FT_W32_ReadFile(h, &byte, 1, &count, nullptr);
  });
  bool readerWaits = false;
  for (int i = 0; i < 1000 && !readerWaits; ++i) {
    readerWaits = readerTid != 0 && ThreadSleeps(readerTid);
    if (!readerWaits) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The handle goes while the read still uses its device; the read must finish on a live one.
  EXPECT_TRUE(FT_W32_CloseHandle(h));
  lineA.Send({0x42});
  reader.join();
  ASSERT_TRUE(readerWaits);
  EXPECT_TRUE(readOk);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(byte, 0x42);
  EXPECT_FALSE(FT_W32_PurgeComm(h, 0x0C));  // the handle itself is gone
  EXPECT_EQ(FT_W32_GetLastError(h), static_cast<DWORD>(kInvalidHandle));
}

TEST_F(FtdiTest, DeviceInfoListFillsNoMoreNodesThanTheCallerHas) {
  // The caller sizes its array from one build of the list; another thread rebuilds it with
  // more adapters before the nodes are fetched.
  setenv("KELMORA_FTDI_FAKE", ("FT000001=" + lineA.slavePath).c_str(), 1);
  DWORD count = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  ASSERT_EQ(count, 1u);
  const std::string three = "FT000001=" + lineA.slavePath + ",FT000002=" + lineB.slavePath +
                            ",FT000003=" + lineB.slavePath;
  setenv("KELMORA_FTDI_FAKE", three.c_str(), 1);
  DWORD rebuilt = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&rebuilt), FT_OK);
  ASSERT_EQ(rebuilt, 3u);

  // One node for the caller, then guard nodes that must stay untouched.
  std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(3);
  std::memset(nodes.data(), 0xA5, nodes.size() * sizeof nodes[0]);
  ASSERT_EQ(FT_GetDeviceInfoList(nodes.data(), &count), FT_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(nodes[0].SerialNumber, "FT000001");
  const auto* guard = reinterpret_cast<const uint8_t*>(&nodes[1]);
  EXPECT_TRUE(std::all_of(guard, guard + 2 * sizeof nodes[0], [](uint8_t b) { return b == 0xA5; }));

  count = 5;  // a larger array gets the whole list
  std::vector<FT_DEVICE_LIST_INFO_NODE> all(5);
  ASSERT_EQ(FT_GetDeviceInfoList(all.data(), &count), FT_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_STREQ(all[2].SerialNumber, "FT000003");
}

TEST(FtdiClosed, ClosedPortAnswersNotOpen) {
  FtdiSerialPort port;
  EXPECT_EQ(port.Setup(9600, 8, 0, 0), kInvalidHandle);
  EXPECT_EQ(port.GetBaudrate(), -1);
  EXPECT_EQ(port.Purge(), kInvalidHandle);
}

}  // namespace
