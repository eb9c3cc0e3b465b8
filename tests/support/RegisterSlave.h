// A Modbus slave with a register image, on the device side of a pty, for tests of the layers
// above the master. The test can read and change the image, see every request, make chosen
// addresses answer with an exception or not at all, and hook writes (command registers).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "tests/support/TestSupport.h"

namespace testing_support {

class RegisterSlave {
 public:
  struct Request {
    uint8_t function;
    uint16_t address;  // 1-based, as the program numbers it
    uint16_t quantity;
  };
  // Called under the slave's lock after a write of holding register `address` was applied.
  using WriteHook = std::function<void(uint16_t address, uint16_t value, RegisterSlave& slave)>;

  RegisterSlave(int masterFd, uint8_t slaveAddress);
  ~RegisterSlave();

  // Image access (1-based addresses). Safe while the slave runs.
  void SetHolding(uint16_t address, uint16_t value);
  uint16_t Holding(uint16_t address) const;
  void SetInput(uint16_t address, uint16_t value);
  void SetCoil(uint16_t address, bool value);
  bool Coil(uint16_t address) const;
  void SetDiscrete(uint16_t address, bool value);
  // Requests touching `address` of `function` answer exception `code` (0 removes the rule).
  void SetException(uint8_t function, uint16_t address, uint8_t code);
  // Requests touching `address` get no answer at all.
  void SetSilent(uint16_t address, bool silent);
  // Delays every answer by `ms`.
  void SetDelay(int ms);
  void OnWrite(WriteHook hook);
  // The identification registers: input register 1 names the name block (`start`, length in
  // registers), which holds `name` two characters a register, low byte first; input registers
  // 2 and 3 hold the version and program version, major in the high byte.
  void SetIdentity(const std::string& name, int major, int minor, int programMajor, int programMinor,
                   uint16_t start = 16);

  std::vector<Request> Requests() const;
  void ClearRequests();
  bool WaitForRequests(size_t count, int timeoutMs) const;

  // Unlocked image access for write hooks.
  uint16_t& HoldingRef(uint16_t address) { return m_holding[address]; }
  void SetSilentUnlocked(uint16_t address) { m_silent[address] = true; }
  void SetExceptionUnlocked(uint8_t function, uint16_t address, uint8_t code) {
    m_exceptions[{function, address}] = code;
  }

 private:
  std::vector<ScriptedSlave::Chunk> Answer(const Bytes& request);

  uint8_t m_address;
  mutable std::mutex m_mutex;
  std::map<uint16_t, uint16_t> m_holding, m_input;
  std::map<uint16_t, bool> m_coils, m_discrete;
  std::map<std::pair<uint8_t, uint16_t>, uint8_t> m_exceptions;
  std::map<uint16_t, bool> m_silent;
  int m_delayMs = 0;
  WriteHook m_hook;
  std::vector<Request> m_requests;
  std::unique_ptr<ScriptedSlave> m_slave;
};

}  // namespace testing_support
