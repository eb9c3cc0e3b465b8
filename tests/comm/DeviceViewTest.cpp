// The representation server with its worker against a register-image slave on a pty.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <future>
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

// A profile of one "watch" list whose entries each carry one property.
DeviceProfile ProfileWith(const std::vector<ModbusProperty>& properties, std::vector<PackRecord> packs = {}) {
  DeviceProfile profile;
  KeywordList watch("watch");
  for (const ModbusProperty& property : properties) {
    VisualObjectEntry entry;
    entry.properties.push_back(property);
    watch.entries.push_back(entry);
  }
  profile.keywordLists.push_back(watch);
  profile.packs = std::move(packs);
  return profile;
}

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
  CDeviceView server(ProfileWith({Property(1, 7), Property(2, 8)}), &device);
  server.Create(nullptr, 1300);
  const double start = NowMilliseconds();
  QueryHandle silent = Finish(server, server.GetProperty(Property(1, 7)));
  EXPECT_EQ(silent.GetStateString(), "Timeout");
  EXPECT_LT(NowMilliseconds() - start, 200.0);  // the 50 ms request time-out, not the idle 100 ms
  EXPECT_EQ(Finish(server, server.GetProperty(Property(2, 8))).GetStateString(), "Device Error");
  // An id no entry of the profile carries has no mapping: refused without traffic.
  const size_t asked = slave.Requests().size();
  EXPECT_EQ(Finish(server, server.GetProperty(Property(99, 9))).GetStateString(), "Device Error");
  EXPECT_EQ(slave.Requests().size(), asked);
  EXPECT_EQ(modbus->timeoutMs, 100);
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

TEST_F(DeviceViewTest, CancelTakesAQueuedRequestOutAndAbortsARunningOne) {
  CDeviceView server(ProfileWith({Property(1, 5), Property(2, 6)}), &device);
  QueryHandle queued = server.GetProperty(Property(1, 5));
  EXPECT_FALSE(server.CancelQuery(queued, true));
  server.TryQuery(queued);
  EXPECT_EQ(queued.GetStateString(), "Canceled");

  // A write that waits without limit: only an abort ends it.
  slave.SetSilent(1, true);
  QueryHandle flash = server.RequestFlashLoad();
  server.Create(nullptr, 1300);
  const double deadline = NowMilliseconds() + 1000;
  while (flash.state != QueryHandle::InProcess && NowMilliseconds() < deadline) server.TryQuery(flash);
  ASSERT_EQ(flash.GetStateString(), "In Process");
  EXPECT_FALSE(server.CancelQuery(flash, false));
  EXPECT_TRUE(server.CancelQuery(flash, true));
  EXPECT_TRUE(Finish(server, flash).IsFinal());
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
  auto processCpuMs = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  };
  const double before = processCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(processCpuMs() - before, 3.0);  // a 1 ms polling loop costs far more than this
  const double start = NowMilliseconds();
  EXPECT_EQ(Finish(server, server.GetProperty(Property(1, 5))).GetResult(), 8);
  EXPECT_LT(NowMilliseconds() - start, 100.0);
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
