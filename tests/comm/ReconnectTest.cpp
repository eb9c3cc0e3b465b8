// An unplugged adapter and its return, below the window: the connection reopens the same COM
// port, and the server drops what is asked meanwhile, tries every second and resumes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "comm/Connection.h"
#include "comm/DeviceView.h"
#include "comm/ModbusDevice.h"
#include "platform/Clock.h"
#include "tests/comm/DeviceLine.h"
#include "tests/support/RegisterSlave.h"
#include "tests/support/SocatRelay.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

ModbusProperty Holding(int32_t id, uint32_t address) {
  ModbusProperty property;
  property.id = id;
  property.mapping = Map(RegisterKind::HoldingRegister, address);
  return property;
}

// A device on a pty behind the COM 9 link, which can be unplugged (the pty closes and the link
// goes) and plugged back in (a new pty, so a new device path, behind the same link).
class Unpluggable : public ::testing::Test {
 protected:
  TempWorkDir dir;
  std::unique_ptr<PtyPair> pty;
  std::unique_ptr<RegisterSlave> slave;
  ConnectionSettings settings;

  void SetUp() override {
    fs::create_directories("ports");
    setenv("KELMORA_PORTS_DIR", (dir.Path() + "/ports").c_str(), 1);
    settings.serialNumber = 9;
    settings.baudRate = 38400;
    settings.modbusSlaveNumber = 10;
    Plug(0);
  }
  void TearDown() override { unsetenv("KELMORA_PORTS_DIR"); }

  // `prepared` (made while the old one was still open, so at another device path) or a new pty.
  void Plug(uint16_t value, std::unique_ptr<PtyPair> prepared = nullptr) {
    pty = prepared ? std::move(prepared) : std::make_unique<PtyPair>();
    slave = std::make_unique<RegisterSlave>(pty->master, 10);
    slave->SetHolding(5, value);
    fs::remove("ports/com9");
    fs::create_symlink(pty->slavePath, "ports/com9");
  }
  void Unplug() {
    fs::remove("ports/com9");
    slave.reset();
    pty->CloseMaster();
  }
};

QueryHandle Read(CDeviceView& server, const ModbusProperty& property) {
  QueryHandle handle = server.GetProperty(property);
  server.WaitQuery(handle, 10000);
  return handle;
}

TEST_F(Unpluggable, ConnectionReopensTheSameComPortWhereItLeadsNow) {
  CConnection connection;
  std::string why;
  ASSERT_TRUE(connection.Create(settings, &why)) << why;
  const std::string firstPath = pty->slavePath;
  EXPECT_FALSE(connection.Channel()->LineLost());
  auto next = std::make_unique<PtyPair>();

  Unplug();
  EXPECT_EQ(connection.Protocol()->ReadHoldingRegisters(5, 1).code, modbus_code::kNoChannel);
  EXPECT_TRUE(connection.Channel()->LineLost());
  EXPECT_FALSE(connection.Reopen());  // nothing behind the link yet
  EXPECT_TRUE(connection.Channel()->LineLost());

  Plug(4321, std::move(next));
  ASSERT_NE(pty->slavePath, firstPath);
  ASSERT_TRUE(connection.Reopen());
  EXPECT_FALSE(connection.Channel()->LineLost());
  EXPECT_EQ(connection.Description(), "COM9 (" + pty->slavePath + ")");
  EXPECT_EQ(connection.Port()->GetBaudrate(), 38400);
  const ModbusAnswer answer = connection.Protocol()->ReadHoldingRegisters(5, 1);
  EXPECT_EQ(answer.code, modbus_code::kSuccess);
  EXPECT_EQ(answer.values, std::vector<int32_t>{4321});
}

TEST_F(Unpluggable, ServerDropsRequestsWhileAwayAndResumesOnReturn) {
  CConnection connection;
  ASSERT_TRUE(connection.Create(settings));
  ModbusDevice device(connection.Protocol());
  const ModbusProperty value = Holding(1, 5);
  CDeviceView server(ProfileWith({value}), &device);
  std::atomic<int> attempts{0};
  std::vector<bool> changes;
  std::mutex changesMutex;
  server.SetReconnect(
      [&] {
        ++attempts;
        return connection.Reopen();
      },
      [&](bool up) {
        std::lock_guard lock(changesMutex);
        changes.push_back(up);
      });
  server.Create(nullptr, 1300);
  ASSERT_EQ(Read(server, value).state, QueryHandle::Updated);

  Unplug();
  // The request that finds the device gone gets no answer; the link is then lost.
  EXPECT_EQ(Read(server, value).state, QueryHandle::Timeout);
  ASSERT_TRUE(WaitFor([&] { return server.LinkLost(); }, 10000));
  // Meanwhile every request fails at once as a time-out, without waiting for a reply.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Read(server, value).state, QueryHandle::Timeout) << i;
  // The port is tried again about once a second, and keeps failing while nothing is there.
  ASSERT_TRUE(WaitFor([&] { return attempts >= 2; }, 20000));
  EXPECT_TRUE(server.LinkLost());

  Plug(4321);
  const int before = attempts;
  const size_t requestsBefore = slave->Requests().size();
  ASSERT_TRUE(WaitFor([&] { return !server.LinkLost(); }, 20000));
  // The port opened at the first or second try after the device came back.
  EXPECT_LE(attempts - before, 2);
  EXPECT_EQ(server.Reconnects(), 1);
  // Nothing asked while the device was away reaches it: no burst of stale requests.
  EXPECT_EQ(slave->Requests().size(), requestsBefore);
  const QueryHandle back = Read(server, value);
  EXPECT_EQ(back.state, QueryHandle::Updated);
  EXPECT_EQ(back.GetResult(), 4321);
  std::lock_guard lock(changesMutex);
  EXPECT_EQ(changes, (std::vector<bool>{false, true}));
}

TEST_F(Unpluggable, WithoutReconnectALostLineOnlyFailsRequests) {
  CConnection connection;
  ASSERT_TRUE(connection.Create(settings));
  ModbusDevice device(connection.Protocol());
  const ModbusProperty value = Holding(1, 5);
  CDeviceView server(ProfileWith({value}), &device);
  server.Create(nullptr, 1300);
  Unplug();
  Plug(7);
  EXPECT_NE(Read(server, value).state, QueryHandle::Updated);
  EXPECT_NE(Read(server, value).state, QueryHandle::Updated);
  EXPECT_FALSE(server.LinkLost());
  EXPECT_EQ(server.Reconnects(), 0);
}

TEST_F(Unpluggable, ShutdownEndsTheWaitForTheDevice) {
  CConnection connection;
  ASSERT_TRUE(connection.Create(settings));
  ModbusDevice device(connection.Protocol());
  const ModbusProperty value = Holding(1, 5);
  auto server = std::make_unique<CDeviceView>(ProfileWith({value}), &device);
  server->SetReconnect([&] { return connection.Reopen(); });
  server->Create(nullptr, 1300);
  Unplug();
  Read(*server, value);
  ASSERT_TRUE(WaitFor([&] { return server->LinkLost(); }, 10000));
  server->Shutdown();
  EXPECT_TRUE(WaitFor([&] { return server->WorkerEnded(); }, 10000));
  server.reset();
}

// A device behind an RS-485-to-Ethernet converter on the loopback address: switching the
// converter off closes the connection, switching it on listens again on the same port.
class UnpluggableConverter : public ::testing::Test {
 protected:
  TempWorkDir dir;
  PtyPair pty;
  RegisterSlave slave{pty.master, 10};
  SocatRelay converter{pty.slavePath};
  ConnectionSettings settings;

  void SetUp() override {
    settings.useTcp = 1;
    settings.tcpHost = "127.0.0.1";
    settings.tcpPort = converter.Port();
    settings.baudRate = 38400;
    settings.modbusSlaveNumber = 10;
  }
  void SwitchOff() { converter.Stop(); }
  void SwitchOn() { ASSERT_TRUE(converter.Start()) << converter.Log(); }
};

TEST_F(UnpluggableConverter, ConnectionConnectsAgainToTheSameHostAndPort) {
  CConnection connection;
  std::string why;
  ASSERT_TRUE(connection.Create(settings, &why)) << why;
  slave.SetHolding(5, 1);
  ASSERT_EQ(connection.Protocol()->ReadHoldingRegisters(5, 1).code, modbus_code::kSuccess);

  SwitchOff();
  // The closed connection is the device gone, as an unplugged adapter is, not a silent one.
  EXPECT_EQ(connection.Protocol()->ReadHoldingRegisters(5, 1).code, modbus_code::kNoChannel);
  EXPECT_TRUE(connection.Channel()->LineLost());
  EXPECT_FALSE(connection.Reopen());  // refused while the converter is off
  EXPECT_TRUE(connection.Channel()->LineLost());

  SwitchOn();
  slave.SetHolding(5, 4321);
  ASSERT_TRUE(connection.Reopen());
  EXPECT_FALSE(connection.Channel()->LineLost());
  EXPECT_EQ(connection.Description(), "TCP " + converter.Address());
  EXPECT_EQ(connection.Port()->GetBaudrate(), 38400);
  const ModbusAnswer answer = connection.Protocol()->ReadHoldingRegisters(5, 1);
  EXPECT_EQ(answer.code, modbus_code::kSuccess);
  EXPECT_EQ(answer.values, std::vector<int32_t>{4321});
}

TEST_F(UnpluggableConverter, ServerDropsRequestsWhileAwayAndResumesOnReturn) {
  CConnection connection;
  ASSERT_TRUE(connection.Create(settings));
  ModbusDevice device(connection.Protocol());
  const ModbusProperty value = Holding(1, 5);
  CDeviceView server(ProfileWith({value}), &device);
  std::atomic<int> attempts{0};
  std::vector<bool> changes;
  std::mutex changesMutex;
  server.SetReconnect(
      [&] {
        ++attempts;
        return connection.Reopen();
      },
      [&](bool up) {
        std::lock_guard lock(changesMutex);
        changes.push_back(up);
      });
  server.Create(nullptr, 1300);
  ASSERT_EQ(Read(server, value).state, QueryHandle::Updated);

  SwitchOff();
  EXPECT_EQ(Read(server, value).state, QueryHandle::Timeout);
  ASSERT_TRUE(WaitFor([&] { return server.LinkLost(); }, 10000));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Read(server, value).state, QueryHandle::Timeout) << i;
  ASSERT_TRUE(WaitFor([&] { return attempts >= 2; }, 20000));
  EXPECT_TRUE(server.LinkLost());

  slave.SetHolding(5, 4321);
  const int before = attempts;
  const size_t requestsBefore = slave.Requests().size();
  SwitchOn();
  ASSERT_TRUE(WaitFor([&] { return !server.LinkLost(); }, 20000));
  // Connected at the first or second try after the converter came back.
  EXPECT_LE(attempts - before, 2);
  EXPECT_EQ(server.Reconnects(), 1);
  EXPECT_EQ(slave.Requests().size(), requestsBefore);  // nothing asked meanwhile arrives late
  const QueryHandle back = Read(server, value);
  EXPECT_EQ(back.state, QueryHandle::Updated);
  EXPECT_EQ(back.GetResult(), 4321);
  std::lock_guard lock(changesMutex);
  EXPECT_EQ(changes, (std::vector<bool>{false, true}));
}

}  // namespace
