// The representation server with its worker against a register-image slave on a pty.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "comm/DeviceView.h"
#include "platform/Clock.h"
#include "tests/comm/DeviceLine.h"

using namespace testing_support;
using ::testing::ElementsAre;

namespace {

ModbusProperty Property(int32_t id, uint32_t address, int32_t priority = 0,
                        RegisterKind kind = RegisterKind::HoldingRegister) {
  ModbusProperty property;
  property.id = id;
  property.priority = priority;
  property.mapping = Map(kind, address);
  return property;
}

// A device behind a line whose waits ignore the answer time-out, as a driver that does not
// honour it would: a wait ends only when an answer is there or when it is interrupted (the
// device's stop). `reply` gives the answer to each request, nothing for no answer.
class ScriptedLine : public DataChannel {
 public:
  explicit ScriptedLine(std::function<Bytes(const Bytes& request)> reply) : m_reply(std::move(reply)) {}

  bool IsOpen() override { return true; }
  int32_t Write(const DataGram& dgData) override {
    const Bytes request(dgData.GetBuffer(), dgData.GetBuffer() + dgData.GetSize());
    {
      std::lock_guard lock(m_mutex);
      m_pending = m_reply(request);
      ++m_requests;
    }
    m_cv.notify_all();
    return dgData.GetSize();
  }
  int32_t Read(DataGram& dgData) override { return Read(dgData.GetBuffer(), dgData.GetSize()); }
  int32_t Read(uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(m_mutex);
    const auto count = std::min<size_t>(static_cast<size_t>(length), m_pending.size());
    std::copy_n(m_pending.begin(), count, buffer);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<int32_t>(count);
  }
  void Purge() override {
    std::lock_guard lock(m_mutex);
    m_pending.clear();
  }
  int32_t WaitReadable(int32_t) override {
    std::unique_lock lock(m_mutex);
    ++m_waiting;
    m_cv.notify_all();
    m_cv.wait(lock, [&] { return !m_pending.empty() || m_bInterrupted; });
    --m_waiting;
    if (!m_pending.empty()) return 0;
    m_bInterrupted = false;
    return comm_error::kOperationAborted;
  }
  void Interrupt() override {
    {
      std::lock_guard lock(m_mutex);
      m_bInterrupted = true;
      ++m_interrupts;
    }
    m_cv.notify_all();
  }

  int Interrupts() const {
    std::lock_guard lock(m_mutex);
    return m_interrupts;
  }
  // Until `count` requests went out and the master waits for the answer to the last one.
  bool WaitForWaitingAfter(int count, int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return m_requests >= count && m_waiting > 0 && m_pending.empty(); });
  }

 private:
  std::function<Bytes(const Bytes&)> m_reply;
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  Bytes m_pending;
  bool m_bInterrupted = false;
  int m_interrupts = 0;
  int m_requests = 0;
  int m_waiting = 0;
};

class DeviceViewTest : public ::testing::Test, protected DeviceLine {
 protected:
  // Polls until the handle is final, as a visual object's 10 ms timer does.
  static QueryHandle Finish(CDeviceView& server, QueryHandle handle, int timeoutMs = 2000) {
    const double deadline = NowMilliseconds() + timeoutMs;
    while (NowMilliseconds() < deadline) {
      server.TryQuery(handle);
      if (handle.IsFinal() && handle.state != QueryHandle::Canceled) return handle;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return handle;
  }
  std::vector<uint16_t> AddressesAsked() const {
    std::vector<uint16_t> addresses;
    for (const auto& r : slave.Requests()) addresses.push_back(r.address);
    return addresses;
  }
};

TEST_F(DeviceViewTest, ReadAndWriteEndToEnd) {
  slave.SetHolding(5, 1234);
  CDeviceView server(ProfileWith({Property(1, 5), Property(2, 6)}), &device);
  server.Create(nullptr, 1300);
  QueryHandle read = server.GetProperty(Property(1, 5));
  EXPECT_EQ(read.state, QueryHandle::Canceled);  // a fresh handle before its first poll
  read = Finish(server, read);
  EXPECT_EQ(read.GetStateString(), "Updated");
  EXPECT_EQ(read.GetResult(), 1234);

  QueryHandle write = Finish(server, server.SetProperty(Property(2, 6), 77));
  EXPECT_EQ(write.state, QueryHandle::Updated);
  EXPECT_EQ(slave.Holding(6), 77);
  std::vector<int32_t> values{9};
  write.GetResult(values);
  EXPECT_TRUE(values.empty());
}

TEST_F(DeviceViewTest, PriorityThenArrivalOrder) {
  std::vector<ModbusProperty> properties = {Property(1, 11, 5), Property(2, 12, 5), Property(3, 13, 5),
                                            Property(4, 14, 10), Property(5, 15, 0)};
  CDeviceView server(ProfileWith(properties), &device);
  // Queued before the worker starts, so all five wait together.
  std::vector<QueryHandle> handles;
  for (const auto& p : properties) handles.push_back(server.GetProperty(p));
  for (auto& h : handles) server.TryQuery(h);
  EXPECT_EQ(handles[0].GetStateString(), "Queued");
  server.Create(nullptr, 1300);
  for (auto& h : handles) EXPECT_EQ(Finish(server, h).state, QueryHandle::Updated);
  EXPECT_THAT(AddressesAsked(), ElementsAre(14, 11, 12, 13, 15));
}

TEST_F(DeviceViewTest, DuplicateRequestsArePerformedOnce) {
  slave.SetHolding(5, 42);
  CDeviceView server(ProfileWith({Property(1, 5)}), &device);
  QueryHandle first = server.GetProperty(Property(1, 5));
  QueryHandle second = server.GetProperty(Property(1, 5));
  server.Create(nullptr, 1300);
  first = Finish(server, first);
  EXPECT_EQ(first.GetResult(), 42);
  EXPECT_EQ(slave.Requests().size(), 1u);
  // The first caller collected the only result: the second finds nothing.
  server.TryQuery(second);
  EXPECT_EQ(second.GetStateString(), "Canceled");
}

TEST_F(DeviceViewTest, TimeoutDeviceErrorAndUnknownProperty) {
  slave.SetSilent(7, true);
  slave.SetException(3, 8, 2);
  CDeviceView server(ProfileWith({Property(1, 7), Property(2, 8), Property(3, 10)}), &device);
  server.Create(nullptr, 1300);
  QueryHandle silent = Finish(server, server.GetProperty(Property(1, 7)));
  EXPECT_EQ(silent.GetStateString(), "Timeout");
  EXPECT_EQ(Finish(server, server.GetProperty(Property(2, 8))).GetStateString(), "Device Error");
  // An id no entry of the profile carries has no mapping: refused without traffic.
  const size_t asked = slave.Requests().size();
  EXPECT_EQ(Finish(server, server.GetProperty(Property(99, 9))).GetStateString(), "Device Error");
  EXPECT_EQ(slave.Requests().size(), asked);
  EXPECT_EQ(modbus->timeoutMs, 100);
  // While a request waits for its answer the time-out is 50 ms, not the idle 100 ms. (An answer
  // late by more than 60 ms cannot show this: the watchdog would cut either wait short.)
  std::atomic<int32_t> timeoutDuringRequest{0};
  slave.OnWrite([&](uint16_t, uint16_t, RegisterSlave&) { timeoutDuringRequest = modbus->timeoutMs.load(); });
  EXPECT_EQ(Finish(server, server.SetProperty(Property(3, 10), 1)).GetStateString(), "Updated");
  EXPECT_EQ(timeoutDuringRequest, 50);
  EXPECT_EQ(modbus->timeoutMs, 100);
  slave.OnWrite({});
}

TEST_F(DeviceViewTest, FlashSaveJumpsTheQueue) {
  slave.OnWrite([](uint16_t a, uint16_t value, RegisterSlave& s) {
    if (a == 1) s.HoldingRef(1) = value == 0x0FFF ? 0x0F00 : 0;
  });
  CDeviceView server(ProfileWith({Property(1, 21), Property(2, 22)}), &device);
  QueryHandle a = server.GetProperty(Property(1, 21));
  QueryHandle b = server.GetProperty(Property(2, 22));
  QueryHandle save = server.RequestFlashSave();
  EXPECT_EQ(save.property.priority, 100);
  EXPECT_EQ(save.kind, 1);
  server.Create(nullptr, 1300);
  save = Finish(server, save, 3000);
  EXPECT_EQ(save.GetStateString(), "Updated");
  Finish(server, a);
  Finish(server, b);
  const auto asked = AddressesAsked();
  ASSERT_GE(asked.size(), 6u);
  EXPECT_EQ(asked.front(), 1);  // the command register first
  EXPECT_THAT(std::vector<uint16_t>(asked.end() - 2, asked.end()), ElementsAre(21, 22));
  EXPECT_EQ(server.StageTextId(), stage_text::kWaitingForDevice);
}

TEST_F(DeviceViewTest, SuspendedServerAnswersDeviceErrorAndRestarts) {
  slave.SetHolding(5, 3);
  CDeviceView server(ProfileWith({Property(1, 5)}), &device);
  server.Create(nullptr, 1300);
  server.SetSuspended(true);
  const double deadline = NowMilliseconds() + 1000;
  while (!server.WorkerEnded() && NowMilliseconds() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(server.WorkerEnded());
  QueryHandle handle = server.GetProperty(Property(1, 5));  // still queued for a later worker
  server.TryQuery(handle);
  EXPECT_EQ(handle.GetStateString(), "Device Error");
  server.SetSuspended(false);
  EXPECT_EQ(Finish(server, handle).GetResult(), 3);
}

TEST_F(DeviceViewTest, SecondCreateFailsAndLeavesTheWorkerRunning) {
  slave.SetHolding(5, 6);
  auto server = std::make_unique<CDeviceView>(ProfileWith({Property(1, 5)}), &device);
  EXPECT_NE(server->Create(nullptr, 1300), std::thread::id());
  std::promise<std::thread::id> created;
  std::future<std::thread::id> second = created.get_future();
  std::thread caller([&] { created.set_value(server->Create(nullptr, 1300)); });
  if (second.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Stuck for good: leave the caller and the server behind rather than hang the run.
    caller.detach();
    server.release();
    FAIL() << "the second Create did not return within 10 s";
  }
  caller.join();
  EXPECT_EQ(second.get(), std::thread::id());
  EXPECT_EQ(Finish(*server, server->GetProperty(Property(1, 5))).GetResult(), 6);
}

TEST_F(DeviceViewTest, CancelTakesAQueuedRequestOutAndAbortsARunningOne) {
  // The device takes part in the flash handshake but never answers the load command itself;
  // the line's waits have no time-out of their own, so only an abort can end that request.
  ScriptedLine line([](const Bytes& r) -> Bytes {
    if (r[1] == 3) return Frame(kSlave, {0x03, 0x02, 0x0F, 0x00});
    if (r[1] == 6 && r[4] == 0x0F && r[5] == 0xFF) return r;
    return {};
  });
  ModbusRtuProtocol lineModbus(&line, kSlave);
  ModbusDevice lineDevice(&lineModbus);
  CDeviceView server(ProfileWith({Property(1, 5)}), &lineDevice);
  QueryHandle queued = server.GetProperty(Property(1, 5));
  EXPECT_FALSE(server.CancelQuery(queued, true));
  server.TryQuery(queued);
  EXPECT_EQ(queued.GetStateString(), "Canceled");

  QueryHandle flash = server.RequestFlashLoad();
  server.Create(nullptr, 1300);
  // Read, 0x0FFF, read back, then the load command, whose answer the master now waits for (a
  // stop that came before that wait began would be cleared by the command's transaction).
  ASSERT_TRUE(line.WaitForWaitingAfter(4, 5000));
  server.TryQuery(flash);
  ASSERT_EQ(flash.GetStateString(), "In Process");
  EXPECT_FALSE(server.CancelQuery(flash, false));
  EXPECT_EQ(line.Interrupts(), 0);
  EXPECT_TRUE(server.CancelQuery(flash, true));
  flash = Finish(server, flash);
  EXPECT_EQ(flash.GetStateString(), "Device Error");  // the load command got no answer
  EXPECT_EQ(line.Interrupts(), 1);
}

TEST_F(DeviceViewTest, WatchdogStopsARequestStillWaitingAfter60Ms) {
  // Nobody answers, and the line's wait ignores the 50 ms answer time-out: only the watchdog
  // can end this read.
  ScriptedLine line([](const Bytes&) { return Bytes{}; });
  ModbusRtuProtocol lineModbus(&line, kSlave);
  ModbusDevice lineDevice(&lineModbus);
  CDeviceView server(ProfileWith({Property(1, 5)}), &lineDevice);
  server.Create(nullptr, 1300);
  EXPECT_EQ(Finish(server, server.GetProperty(Property(1, 5)), 5000).GetStateString(), "Timeout");
  EXPECT_EQ(line.Interrupts(), 1);
}

TEST_F(DeviceViewTest, WatchdogDisarmedByARequestThatEndsInTime) {
  ScriptedLine line([](const Bytes&) { return Frame(kSlave, {0x03, 0x02, 0x00, 0x07}); });
  ModbusRtuProtocol lineModbus(&line, kSlave);
  ModbusDevice lineDevice(&lineModbus);
  CDeviceView server(ProfileWith({Property(1, 5)}), &lineDevice);
  server.Create(nullptr, 1300);
  EXPECT_EQ(Finish(server, server.GetProperty(Property(1, 5))).GetResult(), 7);
  // Ten times the watchdog's period later, it has stopped nothing.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(line.Interrupts(), 0);
}

TEST_F(DeviceViewTest, PacksCutTheRequests) {
  for (uint16_t a = 10; a <= 13; ++a) slave.SetHolding(a, a);
  std::vector<ModbusProperty> properties;
  for (int i = 0; i < 4; ++i) properties.push_back(Property(i, 10 + i));
  CDeviceView server(ProfileWith(properties, {PackRecord{Map(RegisterKind::HoldingRegister, 10, RegisterLayout::Array, 4), ""}}),
                     &device);
  server.Create(nullptr, 1300);
  for (int round = 0; round < 3; ++round)
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Finish(server, server.GetProperty(properties[i])).GetResult(), 10 + i);
  EXPECT_EQ(slave.Requests().size(), 3u);
}

TEST_F(DeviceViewTest, KeywordCursorHandsOutEntriesInTurn) {
  DeviceProfile profile = ProfileWith({Property(1, 5), Property(2, 6)});
  CDeviceView server(profile, &device);
  EXPECT_EQ(server.PropertiesByKeyWord("watch").properties.at(0).id, 1);
  EXPECT_EQ(server.PropertiesByKeyWord("watch").properties.at(0).id, 2);
  EXPECT_TRUE(server.PropertiesByKeyWord("watch").properties.empty());  // past the end
  EXPECT_TRUE(server.PropertiesByKeyWord("Watch").properties.empty());  // keywords compare exactly
  EXPECT_EQ(FaultLines(), std::vector<std::string>{"F Enumerating by undefined keyword in file DeviceView.cpp"});
}

TEST_F(DeviceViewTest, IdleWorkerTakesNoCpuAndWakesAtOnce) {
  slave.SetHolding(5, 8);
  CDeviceView server(ProfileWith({Property(1, 5)}), &device);
  server.Create(nullptr, 1300);
  // Waking costs a context switch; a worker that polls would switch hundreds of times in 300 ms
  // where one that waits for work switches only for the watchdog's 60 ms ticks. Switches are
  // counted rather than CPU time, which a sanitizer or a loaded machine inflates.
  auto wakeUps = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
  };
  const long before = wakeUps();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(wakeUps() - before, 60);
  const double start = NowMilliseconds();
  EXPECT_EQ(Finish(server, server.GetProperty(Property(1, 5))).GetResult(), 8);
  EXPECT_LT(NowMilliseconds() - start, 500.0);  // not a poll period away
}

TEST_F(DeviceViewTest, ShutdownEndsTheWorker) {
  CDeviceView server(ProfileWith({Property(1, 5)}), &device);
  server.Create(nullptr, 1300);
  server.Shutdown();
  const double deadline = NowMilliseconds() + 1000;
  while (!server.WorkerEnded() && NowMilliseconds() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(server.WorkerEnded());
}

// A device that takes part in the flash handshake (its command register always reads 0x0F00,
// the check write is echoed) but never answers the save command itself: it went silent while
// writing its flash, and that write waits without a time-out.
TEST(DeviceViewShutdownTest, DestroyingTheServerDuringAFlashSaveReturns) {
  constexpr uint8_t kSlave = 10;
  TempWorkDir dir;
  PtyPair pty;
  ScriptedSlave slave(pty.master, [](const Bytes& r) -> std::vector<ScriptedSlave::Chunk> {
    if (r[1] == 3) return {{Frame(kSlave, {0x03, 0x02, 0x0F, 0x00})}};
    if (r[1] == 6 && r[4] == 0x0F && r[5] == 0xFF) return {{r}};
    return {};
  });
  ComSerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath, 0, 0, true), 0);
  ASSERT_EQ(port.Setup(38400, 8, 0, 0), 0);
  CComPortChannel channel(&port);
  ModbusRtuProtocol modbus(&channel, kSlave);
  ModbusDevice device(&modbus);
  auto server = std::make_unique<CDeviceView>(ProfileWith({}), &device);
  server->Create(nullptr, 1300);
  QueryHandle save = server->RequestFlashSave();
  // The device has answered the first step of the handshake; the rest is still to come.
  ASSERT_TRUE(slave.WaitForRequests(1, 2000));
  server->TryQuery(save);
  ASSERT_EQ(save.GetStateString(), "In Process");

  std::promise<void> destroyed;
  std::future<void> returned = destroyed.get_future();
  std::thread destroyer([&] {
    server.reset();
    destroyed.set_value();
  });
  const bool ended = returned.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  // A destructor stuck in the unlimited wait is freed here, so the failure does not hang.
  while (returned.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) device.Stop();
  destroyer.join();
  EXPECT_TRUE(ended) << "the server's destructor did not return within 10 s";
}

TEST(RequestListTest, PriorityInsertAndDuplicates) {
  RequestList list;
  auto handle = [](int32_t id, int32_t priority) {
    QueryHandle h;
    h.property.id = id;
    h.property.priority = priority;
    return h;
  };
  EXPECT_TRUE(list.Insert(handle(1, 0)));
  EXPECT_TRUE(list.Insert(handle(2, 5)));
  EXPECT_TRUE(list.Insert(handle(3, 5)));
  EXPECT_FALSE(list.Insert(handle(2, 50)));  // already there
  EXPECT_TRUE(list.Insert(handle(4, 100)));
  EXPECT_TRUE(list.Contains(3));
  list.Remove(3);
  EXPECT_FALSE(list.Contains(3));
  QueryHandle out;
  std::vector<int32_t> order;
  while (list.RemoveFirst(out)) order.push_back(out.property.id);
  EXPECT_THAT(order, ElementsAre(4, 2, 1));
  EXPECT_FALSE(list.Take(1, out));
}

TEST(QueryHandleTest, StateTexts) {
  QueryHandle h;
  const std::vector<std::string> texts = {"Updated", "Timeout", "Canceled", "Device Error", "Queued", "In Process", ""};
  for (int state = 0; state <= 6; ++state) {
    h.state = state;
    EXPECT_EQ(h.GetStateString(), texts[state]);
  }
  EXPECT_EQ(h.GetResult(), 0);
}

}  // namespace
