// The serial channel: a `DataChannel` over one open `SerialPort`.
#pragma once

#include <atomic>
#include <string>

#include "comm/DataChannel.h"
#include "platform/SerialPort.h"

class CComPortChannel final : public DataChannel {
 public:
  // Throws the text "CComPortChannel: serial should be opened" when `port` is null or closed.
  explicit CComPortChannel(SerialPort* port);
  // Closes the port (which stays owned by whoever created it).
  ~CComPortChannel() override;

  bool IsOpen() override;
  int32_t Write(const DataGram& dgData) override;
  int32_t Read(DataGram& dgData) override;
  // Without `noPurge`, the port's own purge; with it, reads and drops what is waiting instead,
  // for adapters whose driver purge disturbs the line.
  void Purge() override;
  int32_t Read(uint8_t* buffer, int32_t length) override;
  int32_t WaitReadable(int32_t timeoutMs) override;
  void Interrupt() override;
  bool LineLost() const override { return m_bLineLost.load(); }
  // The port was opened again: the device is back.
  void ClearLineLost();

  SerialPort* Port() const { return m_sbPort; }

  std::atomic<bool> noPurge{false};

 private:
  void LogPortFailure(const char* operation);

  SerialPort* m_sbPort;
  int32_t m_iLoggedError = 0;  // the last port error written to the fault log
  std::atomic<bool> m_bLineLost{false};
};
