// The serial ports on real pseudo-terminals: open rules, codes, settings, time-out modes,
// overlapped rules, events and a device that goes away.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/Clock.h"
#include "platform/ComSerialPort.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using namespace comm_error;

namespace {

class ComPortTest : public ::testing::Test {
 protected:
  PtyPair pty;
  ComSerialPort port;

  void OpenPort(bool overlapped = true) { ASSERT_EQ(port.Open(pty.slavePath, 0, 0, overlapped), kSuccess); }
};

TEST_F(ComPortTest, OpenTwiceKeepsTheFirstHandle) {
  OpenPort();
  EXPECT_EQ(port.Open(pty.slavePath, 0, 0, true), kAlreadyOpen);
  EXPECT_EQ(port.lastError, kAlreadyOpen);
  uint32_t written = 0;
  EXPECT_EQ(port.Write("\x01\x02", 2, &written, nullptr, -1), kSuccess);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(pty.Receive(2, 500), (Bytes{1, 2}));
}

TEST_F(ComPortTest, ClosedPortAnswersNotOpen) {
  uint8_t buffer[4];
  uint32_t count = 99;
  EXPECT_EQ(port.Read(buffer, 4, &count, nullptr, -1), kInvalidHandle);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(port.Write(buffer, 4, nullptr, nullptr, -1), kInvalidHandle);
  EXPECT_EQ(port.Setup(9600, 8, 0, 0), kInvalidHandle);
  EXPECT_EQ(port.Purge(), kInvalidHandle);
  EXPECT_EQ(port.SetMask(EV_RXCHAR), kInvalidHandle);
  EXPECT_EQ(port.GetBaudrate(), -1);
  EXPECT_EQ(port.GetDataBits(), -1);
  EXPECT_EQ(port.GetParity(), -1);
  EXPECT_EQ(port.GetStopBits(), -1);
  EXPECT_EQ(port.GetHandshaking(), -1);
  EXPECT_EQ(port.GetEventMask(), 0u);
  EXPECT_EQ(port.GetEventChar(), 0);
  EXPECT_EQ(port.Close(), kSuccess);  // closing a closed port succeeds
}

TEST_F(ComPortTest, OpenFailuresCarryTheSystemCode) {
  ComSerialPort other;
  EXPECT_EQ(other.Open("/dev/kelmora-no-such-port", 0, 0, true), kFileNotFound);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_NE(other.GetLastErrorText().find("No such file"), std::string::npos);
  OpenPort();
  // Another program (or object) holding the port: busy, as Windows reports a taken COM port.
  EXPECT_EQ(other.Open(pty.slavePath, 0, 0, true), kBusy);
  const std::string notTty = std::filesystem::temp_directory_path() / "kelmora-not-a-tty";
  { std::FILE* f = std::fopen(notTty.c_str(), "w"); std::fclose(f); }
  EXPECT_EQ(other.Open(notTty, 0, 0, true), kGenFailure);
  std::filesystem::remove(notTty);
}

TEST_F(ComPortTest, LineSettingsAreReportedAsSet) {
  OpenPort();
  // A fresh port starts from the default configuration.
  EXPECT_EQ(port.GetBaudrate(), 9600);
  EXPECT_EQ(port.GetDataBits(), 8);
  EXPECT_EQ(port.GetParity(), 0);
  struct Case { uint32_t baud; uint8_t bits, parity, stop; };
  for (const Case c : {Case{38400, 8, 2, 0}, Case{115200, 7, 1, 2}, Case{19200, 8, 0, 0},
                       Case{9600, 8, 3, 0}, Case{57600, 8, 4, 2}}) {
    ASSERT_EQ(port.Setup(c.baud, c.bits, c.parity, c.stop), kSuccess) << c.baud;
    EXPECT_EQ(port.GetBaudrate(), static_cast<int32_t>(c.baud));
    EXPECT_EQ(port.GetDataBits(), c.bits);
    EXPECT_EQ(port.GetParity(), c.parity);
    EXPECT_EQ(port.GetStopBits(), c.stop);
  }
  // A rate the line cannot do is refused, not silently replaced by another one.
  EXPECT_EQ(port.Setup(12345, 8, 0, 0), kInvalidParameter);
  EXPECT_EQ(port.GetBaudrate(), 57600);
}

TEST_F(ComPortTest, HandshakingModes) {
  OpenPort();
  ASSERT_EQ(port.Setup(38400, 8, 2, 0), kSuccess);
  EXPECT_EQ(port.SetupHandshaking(1), kSuccess);
  EXPECT_EQ(port.GetHandshaking(), 1);
  EXPECT_EQ(port.SetupHandshaking(2), kSuccess);
  EXPECT_EQ(port.GetHandshaking(), 2);
  EXPECT_EQ(port.SetupHandshaking(0), kSuccess);
  EXPECT_EQ(port.GetHandshaking(), 0);
  EXPECT_EQ(port.SetupHandshaking(3), kInvalidArg);
  EXPECT_EQ(port.SetupHandshaking(-1), kInvalidArg);
  EXPECT_EQ(port.GetHandshaking(), 0);
  EXPECT_EQ(port.GetBaudrate(), 38400);
  EXPECT_EQ(port.GetParity(), 2);
  EXPECT_EQ(port.SetupReadTimeouts(2), kInvalidArg);
}

TEST_F(ComPortTest, NonBlockingReadReturnsAtOnce) {
  OpenPort();
  uint8_t buffer[16];
  uint32_t count = 7;
  const double start = NowMilliseconds();
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kSuccess);
  EXPECT_EQ(count, 0u);
  EXPECT_LT(NowMilliseconds() - start, 500.0);
  pty.Send({0x11, 0x22, 0x33});
  Bytes got;
  const double deadline = NowMilliseconds() + 500;
  while (got.size() < 3 && NowMilliseconds() < deadline) {
    ASSERT_EQ(port.WaitReadable(500), kSuccess);
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kSuccess);
    got.insert(got.end(), buffer, buffer + count);
  }
  EXPECT_EQ(got, (Bytes{0x11, 0x22, 0x33}));
}

TEST_F(ComPortTest, BlockingReadWaitsForTheFullLengthOrTimesOut) {
  OpenPort();
  ASSERT_EQ(port.SetupReadTimeouts(1), kSuccess);
  std::thread device([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send({1, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send({3, 4});
  });
  uint8_t buffer[4] = {};
  uint32_t count = 0;
  EXPECT_EQ(port.Read(buffer, 4, &count, nullptr, 2000), kSuccess);
  device.join();
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{1, 2, 3, 4}));

  // Only half arrives: the wait times out with 1460, and what came is not lost.
  pty.Send({9, 8});
  const double start = NowMilliseconds();
  EXPECT_EQ(port.Read(buffer, 4, &count, nullptr, 60), kTimeout);
  EXPECT_GE(NowMilliseconds() - start, 59.0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(buffer[0], 9);
}

TEST(ComPortNonOverlapped, OverlappedUseIsRefused) {
  PtyPair pty;
  ComSerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath, 0, 0, false), kSuccess);
  Overlapped ov;
  uint8_t byte = 0;
  EXPECT_EQ(port.Write(&byte, 1, nullptr, nullptr, 100), kInvalidFunction);
  EXPECT_EQ(port.Read(&byte, 1, nullptr, &ov, -1), kInvalidFunction);
  EXPECT_EQ(port.WaitEvent(nullptr, 10), kInvalidFunction);
  // Without a time-out, the synchronous forms work.
  EXPECT_EQ(port.Write("\x05", 1, nullptr, nullptr, -1), kSuccess);
  EXPECT_EQ(pty.Receive(1, 500), Bytes{5});
}

TEST_F(ComPortTest, CallerOverlappedRecordGetsItsEventOnCompletion) {
  OpenPort();
  IoEvent event;
  Overlapped ov;
  ov.hEvent = &event;
  uint32_t count = 0;
  EXPECT_EQ(port.Write("abc", 3, &count, &ov, -1), kSuccess);
  EXPECT_TRUE(event.IsSet());
  EXPECT_EQ(count, 3u);
  // A blocking read with nothing there stays pending with the caller's record: success now,
  // and the caller waits for its event.
  ASSERT_EQ(port.SetupReadTimeouts(1), kSuccess);
  uint8_t buffer[2];
  EXPECT_EQ(port.Read(buffer, 2, &count, &ov, -1), kSuccess);
  EXPECT_FALSE(event.IsSet());
  EXPECT_EQ(count, 0u);
}

TEST_F(ComPortTest, EventsAndEventCharacter) {
  OpenPort();
  EXPECT_EQ(port.GetEventMask(), EV_RXCHAR | EV_BREAK | EV_ERR);
  EXPECT_EQ(port.WaitEvent(nullptr, 30), kTimeout);
  pty.Send({0x41});
  EXPECT_EQ(port.WaitEvent(nullptr, 500), kSuccess);
  EXPECT_EQ(port.GetLastEvents(), EV_RXCHAR);

  ASSERT_EQ(port.SetEventChar('\n', true), kSuccess);
  EXPECT_EQ(port.GetEventChar(), '\n');
  EXPECT_EQ(port.GetEventMask(), EV_RXCHAR | EV_RXFLAG | EV_BREAK | EV_ERR);
  pty.Send({'o', 'k', '\n'});
  const double deadline = NowMilliseconds() + 500;
  while (!(port.GetLastEvents() & EV_RXFLAG) && NowMilliseconds() < deadline)
    ASSERT_EQ(port.WaitEvent(nullptr, 500), kSuccess);
  EXPECT_TRUE(port.GetLastEvents() & EV_RXFLAG);
  // The wait looked at the bytes without taking them.
  uint8_t buffer[8];
  uint32_t count = 0;
  ASSERT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kSuccess);
  EXPECT_EQ(Bytes(buffer, buffer + count), (Bytes{0x41, 'o', 'k', '\n'}));
}

TEST_F(ComPortTest, PurgeDropsWhatTheLineHolds) {
  OpenPort();
  pty.Send({1, 2, 3, 4, 5});
  ASSERT_EQ(port.WaitReadable(500), kSuccess);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(port.Purge(), kSuccess);
  uint8_t buffer[8];
  uint32_t count = 1;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kSuccess);
  EXPECT_EQ(count, 0u);
}

TEST_F(ComPortTest, WaitReadableTimesOutSleepsAndWakes) {
  OpenPort();
  const double cpuBefore = ThreadCpuMs();
  const double start = NowMilliseconds();
  EXPECT_EQ(port.WaitReadable(80), kTimeout);
  EXPECT_GE(NowMilliseconds() - start, 79.0);
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 10.0);  // slept, did not spin

  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port.InterruptWait();
  });
  const double waitStart = NowMilliseconds();
  EXPECT_EQ(port.WaitReadable(-1), kOperationAborted);
  const double waited = NowMilliseconds() - waitStart;
  other.join();
  EXPECT_GE(waited, 29.0);
  EXPECT_LT(waited, 2000.0);  // without the wake it never returns
  // A wake that comes before the wait is not lost.
  port.InterruptWait();
  EXPECT_EQ(port.WaitReadable(1000), kOperationAborted);
}

TEST_F(ComPortTest, DeviceGoneIsAnErrorNotAnEndlessEmptyLine) {
  OpenPort();
  pty.CloseMaster();
  const double cpuBefore = ThreadCpuMs();
  EXPECT_EQ(port.WaitReadable(1000), kDeviceNotConnected);
  uint8_t buffer[8];
  uint32_t count = 0;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kDeviceNotConnected);
  EXPECT_EQ(count, 0u);
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 20.0);
  EXPECT_FALSE(port.GetLastErrorText().empty());
}

// COM numbers resolve through the ports folder of comN links.
TEST(ComPortNumbers, LinksInThePortsFolderNameThePorts) {
  TempWorkDir dir;
  PtyPair first, second;
  namespace fs = std::filesystem;
  fs::create_directories("ports");
  fs::create_symlink(first.slavePath, "ports/com3");
  fs::create_symlink(second.slavePath, "ports/COM12");
  fs::create_symlink("/dev/kelmora-gone", "ports/com7");
  fs::create_symlink(first.slavePath, "ports/comx");
  setenv("KELMORA_PORTS_DIR", (fs::current_path() / "ports").c_str(), 1);

  EXPECT_EQ(ResolveComPort(3), first.slavePath);
  EXPECT_EQ(ResolveComPort(12), second.slavePath);
  std::vector<int> list{99};
  ComPortList(list);
  EXPECT_NE(std::find(list.begin(), list.end(), 3), list.end());
  EXPECT_NE(std::find(list.begin(), list.end(), 12), list.end());
  EXPECT_EQ(std::find(list.begin(), list.end(), 7), list.end());  // dangling link
  EXPECT_EQ(std::find(list.begin(), list.end(), 99), list.end());  // the list was emptied
  // Default-numbered ports never take a number that a link uses.
  for (const ComPortEntry& entry : ComPortMap())
    if (!entry.linked) {
      EXPECT_TRUE(entry.number != 3 && entry.number != 7 && entry.number != 12);
    }

  ComSerialPort port;
  EXPECT_EQ(port.Open("\\\\.\\COM3", 0, 0, true), kSuccess);
  EXPECT_EQ(port.DevicePath(), first.slavePath);
  port.Close();
  EXPECT_EQ(port.Open("com12", 0, 0, true), kSuccess);
  port.Close();
  EXPECT_EQ(port.Open("\\\\.\\COM250", 0, 0, true), kFileNotFound);
  EXPECT_NE(port.GetLastErrorText().find("COM250"), std::string::npos);
  unsetenv("KELMORA_PORTS_DIR");
}

}  // namespace
