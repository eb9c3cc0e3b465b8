// The device layer: reads and writes one `ModbusMapping` through the Modbus master by choosing
// the Modbus function for its register kind and layout, combines and splits 32-bit values over
// register pairs, and runs the device's three command-register handshakes (flash load, flash
// save, boot-loader start).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "comm/Modbus.h"
#include "profiles/ModbusProperties.h"

// Texts of the stages of a special operation, by their string ids.
namespace stage_text {
inline constexpr int32_t kCheckingDevice = 103;
inline constexpr int32_t kCheckingCompatibility = 104;
inline constexpr int32_t kSavingConfiguration = 105;
inline constexpr int32_t kWaitingForDevice = 106;
inline constexpr int32_t kLoadingConfiguration = 108;
inline constexpr int32_t kStartingBootloader = 109;
// The English text of a stage id; empty for an unknown id.
const char* Text(int32_t id);
}  // namespace stage_text

// Property ids of the special requests.
inline constexpr int32_t kFlashPropertyId = -3;
inline constexpr int32_t kBootloaderPropertyId = -4;

class ModbusDevice {
 public:
  explicit ModbusDevice(ModbusRtuProtocol* modbus = nullptr) : m_pModbus(modbus) {}

  void SetProtocol(ModbusRtuProtocol* modbus) { m_pModbus = modbus; }
  ModbusRtuProtocol* Protocol() const { return m_pModbus; }

  // Ends a wait in progress (answer code 255). Safe from any thread.
  void Stop();
  // The answer time-out in milliseconds; -1 waits until stopped.
  void SetTimeout(int32_t milliseconds);
  // True when the line under the master found the device gone.
  bool LineLost() const;

  ModbusAnswer ReadElement(const ModbusMapping& mapping);
  ModbusAnswer WriteElement(const ModbusMapping& mapping, uint16_t value);
  ModbusAnswer WriteElementValues(const ModbusMapping& mapping, const std::vector<int32_t>& values);

  // A special request: id -3 flash load (`kind` 0) or save (`kind` 1), id -4 boot-loader start;
  // any other id answers 255. The result code has no values: 0 done, 1 the device did not
  // take part in the handshake, 4 the flash operation failed. `stageTextId` follows the steps.
  // Once `cancel` is set no further transaction of the request goes out: `Stop` ends only the
  // wait in progress, and the next transaction would clear it.
  ModbusAnswer SpecialOperation(int32_t propertyId, int32_t kind, std::atomic<int32_t>& stageTextId,
                                const std::atomic<bool>* cancel = nullptr);
  ModbusAnswer FlashLoadSave(bool save, std::atomic<int32_t>& stageTextId,
                             const std::atomic<bool>* cancel = nullptr);
  ModbusAnswer StartBootloader(std::atomic<int32_t>& stageTextId, const std::atomic<bool>* cancel = nullptr);

 private:
  bool HaveProtocol();
  // One register of a command handshake, holding register `address`; a cancelled request
  // sends nothing and answers 255.
  ModbusAnswer ReadCommand(uint16_t address, const std::atomic<bool>* cancel);
  ModbusAnswer WriteCommand(uint16_t address, uint16_t value, const std::atomic<bool>* cancel);
  bool CommandHandshake(uint16_t address, int pauseMs, const char* who, std::atomic<int32_t>& stageTextId,
                        const std::atomic<bool>* cancel);

  ModbusRtuProtocol* m_pModbus;
};
