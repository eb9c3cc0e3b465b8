#include "comm/ModbusDevice.h"

#include <chrono>
#include <string>
#include <thread>

#include "comm/FaultLog.h"

using namespace modbus_code;

namespace {

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

uint16_t Quantity(const ModbusMapping& mapping) {
  switch (mapping.layout) {
    case RegisterLayout::Array: return static_cast<uint16_t>(mapping.count);
    case RegisterLayout::Register32: return 2;
    default: return 1;
  }
}

// A 32-bit value from two registers, the low word at the lower address.
int32_t Combine(int32_t low, int32_t high) {
  return static_cast<int32_t>((static_cast<uint32_t>(high) & 0xFFFF) << 16 | (static_cast<uint32_t>(low) & 0xFFFF));
}

constexpr ModbusAnswer kRefused{kIllegalFunction, {}};

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

}  // namespace

const char* stage_text::Text(int32_t id) {
  switch (id) {
    case kCheckingDevice: return "Checking device...";
    case kCheckingCompatibility: return "Checking compability...";
    case kSavingConfiguration: return "Saving configuration...";
    case kWaitingForDevice: return "Waiting for device...";
    case kLoadingConfiguration: return "Loading configuration...";
    case kStartingBootloader: return "Starting bootloader...";
    default: return "";
  }
}

bool ModbusDevice::HaveProtocol() {
  if (m_pModbus != nullptr) return true;
  KELMORA_FAULT("Modbus handle is NULL");
  return false;
}

void ModbusDevice::Stop() {
  if (HaveProtocol()) m_pModbus->stopRequested = true;
}

bool ModbusDevice::LineLost() const {
  return m_pModbus != nullptr && m_pModbus->channel != nullptr && m_pModbus->channel->LineLost();
}

void ModbusDevice::SetTimeout(int32_t milliseconds) {
  if (HaveProtocol()) m_pModbus->timeoutMs = milliseconds;
}

ModbusAnswer ModbusDevice::ReadElement(const ModbusMapping& mapping) {
  if (!HaveProtocol()) return {kNoChannel, {}};
  // An array written backwards in the profile has no items to ask for.
  if (mapping.layout == RegisterLayout::Array && (mapping.count <= 0 || mapping.count > 0xFFFF)) return kRefused;
  const auto address = static_cast<uint16_t>(mapping.address);
  const uint16_t quantity = Quantity(mapping);
  ModbusAnswer answer;
  switch (mapping.registerKind) {
    case RegisterKind::Coil: answer = m_pModbus->ReadCoils(address, quantity); break;
    case RegisterKind::InputRegister: answer = m_pModbus->ReadInputRegisters(address, quantity); break;
    case RegisterKind::HoldingRegister: answer = m_pModbus->ReadHoldingRegisters(address, quantity); break;
    case RegisterKind::DiscreteInput: answer = m_pModbus->ReadDiscreteInputs(address, quantity); break;
    default: return kRefused;
  }
  if (mapping.layout == RegisterLayout::Register32 && answer.code == kSuccess) {
    std::vector<int32_t> combined;
    for (size_t i = 0; i + 1 < answer.values.size(); i += 2)
      combined.push_back(Combine(answer.values[i], answer.values[i + 1]));
    answer.values = std::move(combined);
  }
  return answer;
}

ModbusAnswer ModbusDevice::WriteElement(const ModbusMapping& mapping, uint16_t value) {
  if (!HaveProtocol()) return {kNoChannel, {}};
  const auto address = static_cast<uint16_t>(mapping.address);
  if (mapping.registerKind == RegisterKind::Coil) return m_pModbus->WriteSingleCoil(address, value);
  if (mapping.registerKind == RegisterKind::HoldingRegister) return m_pModbus->WriteSingleRegister(address, value);
  return kRefused;
}

ModbusAnswer ModbusDevice::WriteElementValues(const ModbusMapping& mapping, const std::vector<int32_t>& values) {
  if (!HaveProtocol()) return {kNoChannel, {}};
  if (values.empty()) return kRefused;
  const auto address = static_cast<uint16_t>(mapping.address);
  const bool coil = mapping.registerKind == RegisterKind::Coil;
  const bool holding = mapping.registerKind == RegisterKind::HoldingRegister;
  switch (mapping.layout) {
    case RegisterLayout::Single:
      if (coil) return m_pModbus->WriteSingleCoil(address, static_cast<uint16_t>(values[0]));
      if (holding) return m_pModbus->WriteSingleRegister(address, static_cast<uint16_t>(values[0]));
      return kRefused;
    case RegisterLayout::Array:
      if (coil) return m_pModbus->WriteMultipleCoils(address, values);
      if (holding) return m_pModbus->WriteMultipleRegisters(address, values);
      return kRefused;
    case RegisterLayout::Register32: {
      if (!holding) return kRefused;
      const auto value = static_cast<uint32_t>(values[0]);
      return m_pModbus->WriteMultipleRegisters(
          address, {static_cast<int32_t>(value & 0xFFFF), static_cast<int32_t>(value >> 16)});
    }
  }
  return kRefused;
}

ModbusAnswer ModbusDevice::ReadCommand(uint16_t address, const std::atomic<bool>* cancel) {
  if (Cancelled(cancel)) return {kNoAnswer, {}};
  return ReadElement(ModbusMapping{RegisterLayout::Single, RegisterKind::HoldingRegister, address, 1});
}

ModbusAnswer ModbusDevice::WriteCommand(uint16_t address, uint16_t value, const std::atomic<bool>* cancel) {
  if (Cancelled(cancel)) return {kNoAnswer, {}};
  return WriteElement(ModbusMapping{RegisterLayout::Single, RegisterKind::HoldingRegister, address, 1}, value);
}

ModbusAnswer ModbusDevice::SpecialOperation(int32_t propertyId, int32_t kind, std::atomic<int32_t>& stageTextId,
                                            const std::atomic<bool>* cancel) {
  if (propertyId == kFlashPropertyId) return FlashLoadSave(kind == 1, stageTextId, cancel);
  if (propertyId == kBootloaderPropertyId) return StartBootloader(stageTextId, cancel);
  return {kNoAnswer, {}};
}

// The first half of every command: read the register (is anybody there?), write 0x0FFF and
// read back 0x0F00 (does it know the commands?), with `pauseMs` between the steps.
bool ModbusDevice::CommandHandshake(uint16_t address, int pauseMs, const char* who, std::atomic<int32_t>& stageTextId,
                                    const std::atomic<bool>* cancel) {
  stageTextId = stage_text::kCheckingDevice;
  ModbusAnswer answer = ReadCommand(address, cancel);
  if (answer.code != kSuccess || answer.values.empty()) return false;

  faultlog::PlainLine(std::string(who) + ": Exist Device");
  stageTextId = stage_text::kCheckingCompatibility;
  Sleep(pauseMs);
  if (WriteCommand(address, 0x0FFF, cancel).code != kSuccess) return false;
  Sleep(pauseMs);
  answer = ReadCommand(address, cancel);
  return answer.code == kSuccess && !answer.values.empty() && (answer.values[0] & 0xFFFF) == 0x0F00;
}

// Holding register 1: after the handshake 0x0FAA saves or 0x0FDD loads; the register reads 0
// when done.
ModbusAnswer ModbusDevice::FlashLoadSave(bool save, std::atomic<int32_t>& stageTextId,
                                         const std::atomic<bool>* cancel) {
  constexpr uint16_t kRegister = 1;
  constexpr ModbusAnswer kNoHandshake{1, {}}, kFlashFailed{4, {}};
  if (!CommandHandshake(kRegister, 100, "Flash", stageTextId, cancel)) return kNoHandshake;

  faultlog::PlainLine("Flash: Save/Load functionality check complete");
  Sleep(100);
  SetTimeout(-1);  // writing flash takes as long as it takes
  stageTextId = save ? stage_text::kSavingConfiguration : stage_text::kLoadingConfiguration;
  const uint32_t written = WriteCommand(kRegister, save ? 0x0FAA : 0x0FDD, cancel).code;
  SetTimeout(100);
  if (written != kSuccess) return kFlashFailed;

  stageTextId = stage_text::kWaitingForDevice;
  const ModbusAnswer answer = ReadCommand(kRegister, cancel);
  if (answer.code != kSuccess || answer.values.empty() || answer.values[0] != 0) return kFlashFailed;
  faultlog::PlainLine("Flash: Save/Load complete");
  return {kSuccess, {}};
}

// Holding register 10: after the handshake 0x0FAA sends the device into its boot loader,
// which may leave Modbus before it answers.
ModbusAnswer ModbusDevice::StartBootloader(std::atomic<int32_t>& stageTextId, const std::atomic<bool>* cancel) {
  constexpr uint16_t kRegister = 10;
  if (!CommandHandshake(kRegister, 10, "Program", stageTextId, cancel)) return {1, {}};

  faultlog::PlainLine("Program: Functionality check complete");
  Sleep(10);
  if (Cancelled(cancel)) return {kNoAnswer, {}};  // the command never went out
  stageTextId = stage_text::kStartingBootloader;
  WriteCommand(kRegister, 0x0FAA, cancel);
  SetTimeout(100);
  return {kSuccess, {}};
}
