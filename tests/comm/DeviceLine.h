// A device on a pty with the whole stack on top of it: port, channel, master, device layer.
#pragma once

#include "ComPortChannel.h"
#include "ComSerialPort.h"
#include "FaultLog.h"
#include "Modbus.h"
#include "ModbusDevice.h"
#include "RegisterSlave.h"
#include "TestSupport.h"

struct DeviceLine {
  static constexpr uint8_t kSlave = 10;
  testing_support::TempWorkDir dir;
  testing_support::PtyPair pty;
  testing_support::RegisterSlave slave{pty.master, kSlave};
  ComSerialPort port;
  std::unique_ptr<CComPortChannel> channel;
  std::unique_ptr<ModbusRtuProtocol> modbus;
  ModbusDevice device;

  DeviceLine() {
    faultlog::Truncate();
    port.Open(pty.slavePath, 0, 0, true);
    port.Setup(38400, 8, 0, 0);
    channel = std::make_unique<CComPortChannel>(&port);
    modbus = std::make_unique<ModbusRtuProtocol>(channel.get(), kSlave);
    device.SetProtocol(modbus.get());
  }
  std::vector<std::string> FaultLines() const { return testing_support::ReadLines(faultlog::kFileName); }
};

inline ModbusMapping Map(RegisterKind kind, uint32_t address, RegisterLayout layout = RegisterLayout::Single,
                         int32_t count = 1) {
  return ModbusMapping{layout, kind, address, count};
}
