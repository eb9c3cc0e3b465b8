// A device on a pty with the whole stack on top of it: port, channel, master, device layer.
#pragma once

#include "comm/ComPortChannel.h"
#include "comm/FaultLog.h"
#include "comm/Modbus.h"
#include "comm/ModbusDevice.h"
#include "XMLParser/DeviceProfile.h"
#include "platform/ComSerialPort.h"
#include "tests/support/RegisterSlave.h"
#include "tests/support/TestSupport.h"

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

// A profile of one "watch" list whose entries each carry one property.
inline DeviceProfile ProfileWith(const std::vector<ModbusProperty>& properties, std::vector<PackRecord> packs = {}) {
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

inline ModbusMapping Map(RegisterKind kind, uint32_t address, RegisterLayout layout = RegisterLayout::Single,
                         int32_t count = 1) {
  return ModbusMapping{layout, kind, address, count};
}
