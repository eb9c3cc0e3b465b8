// The Modbus RTU master: one request at a time over a `DataChannel`.
//
// Addresses are the program's 1-based numbers; the wire carries the address minus 1. Every
// operation returns a `ModbusAnswer`: code 0 success, 1..127 the slave's exception code (2 also
// for a request to address 0, 1 also for a request too large to frame), 4 the channel is missing
// or closed (or the device went away), 255 no valid answer in time or the wait was aborted.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "comm/DataChannel.h"
#include "comm/DataGram.h"

struct ModbusAnswer {
  uint32_t code = 0;
  std::vector<int32_t> values;

  bool operator==(const ModbusAnswer&) const = default;
};

namespace modbus_code {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kIllegalFunction = 1;
inline constexpr uint32_t kIllegalAddress = 2;
inline constexpr uint32_t kNoChannel = 4;
inline constexpr uint32_t kNoAnswer = 255;
}  // namespace modbus_code

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF) of `length` bytes.
uint16_t ModbusCrc(const uint8_t* data, int32_t length);

// The abort flag of a wait. Setting it also wakes the channel, so a wait in progress ends
// within microseconds rather than at its next poll.
class CStopFlag {
 public:
  CStopFlag& operator=(bool value) {
    m_bValue.store(value);
    if (value) {
      if (DataChannel* channel = m_pChannel.load()) channel->Interrupt();
    }
    return *this;
  }
  operator bool() const { return m_bValue.load(); }
  void Attach(DataChannel* channel) { m_pChannel.store(channel); }

 private:
  std::atomic<bool> m_bValue{false};
  std::atomic<DataChannel*> m_pChannel{nullptr};
};

// One request and what the line brought back while its answer was awaited, for the traffic
// monitor. The pointers are valid during the call only.
struct ModbusExchange {
  const uint8_t* request = nullptr;
  int32_t requestLength = 0;
  const uint8_t* received = nullptr;  // every byte read during the wait, in order
  int32_t receivedLength = 0;
  int32_t answerAt = -1;  // where the answer's frame starts in `received`; -1 without one
  int32_t answerLength = 0;
  uint32_t code = 0;  // the ModbusAnswer's code
  double sentAtMs = 0;  // NowMilliseconds() just before the request was written
  double roundTripMs = -1;  // until the answer was whole; -1 without an answer
};

// Hears every exchange on the worker's thread, right after it ended.
class IExchangeTap {
 public:
  virtual ~IExchangeTap() = default;
  virtual void OnExchange(const ModbusExchange& exchange) = 0;
};

class ModbusRtuProtocol {
 public:
  ModbusRtuProtocol(DataChannel* channel, uint16_t slaveAddress, int32_t timeoutMs = 100);
  virtual ~ModbusRtuProtocol() = default;
  ModbusRtuProtocol(const ModbusRtuProtocol&) = delete;
  ModbusRtuProtocol& operator=(const ModbusRtuProtocol&) = delete;

  // True when the CRC run over header, PDU and the received CRC leaves a residue of 0.
  virtual bool IsCrcValid(const DataGram& header, const DataGram& pdu, const DataGram& crc);
  // True when the header's first byte, widened to 16 bits, equals `slaveAddress`.
  virtual bool IsOwnAddress(const DataGram& header);
  virtual ModbusAnswer ReadCoils(uint16_t address, uint16_t quantity);
  virtual ModbusAnswer ReadDiscreteInputs(uint16_t address, uint16_t quantity);
  virtual ModbusAnswer ReadHoldingRegisters(uint16_t address, uint16_t quantity);
  virtual ModbusAnswer ReadInputRegisters(uint16_t address, uint16_t quantity);
  virtual ModbusAnswer WriteSingleCoil(uint16_t address, uint16_t value);
  virtual ModbusAnswer WriteSingleRegister(uint16_t address, uint16_t value);
  virtual ModbusAnswer WriteMultipleCoils(uint16_t address, const std::vector<int32_t>& values);
  virtual ModbusAnswer WriteMultipleRegisters(uint16_t address, const std::vector<int32_t>& values);

  // The frame for `pdu`: slave address, PDU, CRC low byte first.
  DataGram BuildAdu(const DataGram& pdu) const;
  // Collects and decodes the answer to a request of `expectedFunction` already sent.
  ModbusAnswer ReceiveAnswer(uint8_t expectedFunction, int32_t headerLength = 1,
                             int32_t crcLength = 2);
  // Whether `pdu` holds a whole answer PDU, judged by its function code.
  static bool IsPduComplete(const DataGram& pdu);
  static bool IsPduComplete(const uint8_t* pdu, int32_t length);
  static ModbusAnswer DecodePdu(const DataGram& pdu);

  DataChannel* channel;
  CStopFlag stopRequested;
  // Hears every request written and its answer (null: nobody); it must outlive its setting.
  std::atomic<IExchangeTap*> exchangeTap{nullptr};
  std::atomic<int32_t> timeoutMs;
  uint16_t slaveAddress;

 private:
  ModbusAnswer Read(uint8_t function, uint16_t address, uint16_t quantity);
  ModbusAnswer WriteSingle(uint8_t function, uint16_t address, uint16_t value);
  ModbusAnswer WriteMultiple(uint8_t function, uint16_t address, uint16_t count,
                             const DataGram& data);
  ModbusAnswer Transact(const DataGram& pdu);

  // What the last `ReceiveAnswer` read, kept only while a tap listens.
  std::vector<uint8_t> m_received;
  int32_t m_answerAt = -1;
  int32_t m_answerLength = 0;
};
