// The serial channel over a port double that counts what the channel asks of it.
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "comm/ComPortChannel.h"
#include "comm/FaultLog.h"
#include "platform/SerialPort.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

// A device holding `pending` received bytes; it records every read length and purge.
class CountingDevice final : public CommDevice {
 public:
  size_t pending = 0;
  std::vector<uint32_t> reads;
  int purges = 0;
  bool throwOnRead = false;

  bool SetupComm(uint32_t, uint32_t) override { return Succeed(); }
  bool GetCommState(Dcb&) override { return Succeed(); }
  bool SetCommState(const Dcb&) override { return Succeed(); }
  bool GetCommTimeouts(CommTimeouts&) override { return Succeed(); }
  bool SetCommTimeouts(const CommTimeouts&) override { return Succeed(); }
  bool SetCommMask(uint32_t) override { return Succeed(); }
  bool WaitCommEvent(uint32_t*, Overlapped*) override { return Succeed(); }
  bool ReadFile(void*, uint32_t length, uint32_t* read, Overlapped*) override {
    if (throwOnRead) throw std::runtime_error("driver fault");
    reads.push_back(length);
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, pending));
    pending -= n;
    *read = n;
    return Succeed();
  }
  bool WriteFile(const void*, uint32_t length, uint32_t* written, Overlapped*) override {
    *written = length;
    return Succeed();
  }
  bool GetOverlappedResult(Overlapped*, uint32_t*, bool, int32_t) override { return Succeed(); }
  bool CancelIo() override { return Succeed(); }
  bool PurgeComm(uint32_t) override {
    ++purges;
    return Succeed();
  }
  int32_t WaitReadable(int32_t, CWakeup&) override { return 0; }
};

class CountingPort final : public SerialPort {
 public:
  std::unique_ptr<CountingDevice> device;
  int closes = 0;

  int32_t Open(const std::string&, uint32_t, uint32_t, bool) override {
    device = std::make_unique<CountingDevice>();
    return FinishOpen(false, 0, 0);
  }

 protected:
  CommDevice* Device() const override { return device.get(); }
  void CloseDevice() override {
    ++closes;
    device.reset();
  }
  bool SetsWriteTimeouts() const override { return true; }
};

TEST(ChannelTest, NeedsAnOpenPort) {
  CountingPort port;
  try {
    CComPortChannel channel(&port);
    FAIL() << "constructed on a closed port";
  } catch (const char* text) {
    EXPECT_STREQ(text, "CComPortChannel: serial should be opened");
  }
  EXPECT_THROW(CComPortChannel{nullptr}, const char*);
}

TEST(ChannelTest, DrainInsteadOfPurgeReadsInPiecesOf255) {
  CountingPort port;
  port.Open("x", 0, 0, false);
  CComPortChannel channel(&port);
  port.device->pending = 600;
  channel.noPurge = true;
  channel.Purge();
  EXPECT_EQ(port.device->reads, (std::vector<uint32_t>{255, 255, 255, 255}));
  EXPECT_EQ(port.device->pending, 0u);
  EXPECT_EQ(port.device->purges, 0);
  channel.noPurge = false;
  channel.Purge();
  EXPECT_EQ(port.device->purges, 1);
}

TEST(ChannelTest, ReadsAndWritesCountBytes) {
  CountingPort port;
  port.Open("x", 0, 0, false);
  CComPortChannel channel(&port);
  EXPECT_TRUE(channel.IsOpen());
  EXPECT_EQ(channel.Write(DataGram{1, 2, 3}), 3);
  port.device->pending = 10;
  DataGram buffer(4);
  EXPECT_EQ(channel.Read(buffer), 4);
  EXPECT_EQ(port.device->pending, 6u);
}

TEST(ChannelTest, PortExceptionsBecomeFaultLinesAndZeroBytes) {
  TempWorkDir dir;
  CountingPort port;
  port.Open("x", 0, 0, false);
  CComPortChannel channel(&port);
  port.device->throwOnRead = true;
  DataGram buffer(4);
  EXPECT_EQ(channel.Read(buffer), 0);
  EXPECT_EQ(ReadTextFile(faultlog::kFileName),
            "F Exception while trying m_sbPort->Read(dgData.GetBuffer(), dgData.GetSize(), &iRes) "
            "in file ComPortChannel.cpp\n");
}

TEST(ChannelTest, DestructorClosesThePort) {
  CountingPort port;
  port.Open("x", 0, 0, false);
  { CComPortChannel channel(&port); }
  EXPECT_EQ(port.closes, 1);
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
