// One serial port, COM, FTDI or TCP, behind one interface.
//
// Every operation sets `lastError` to 0 first and then to its own result, which most also
// return. The port's own codes: 0 success, 6 not open, 1 an overlapped record or a finite wait
// on a port opened without overlapped I/O, 1247 `Open` on an open port, 1460 a wait timed out,
// 0x80070057 an unknown mode. Everything else is the device's own code, passed through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/CommDevice.h"
#include "platform/CommTypes.h"

class SerialPort {
 public:
  SerialPort() = default;
  virtual ~SerialPort() = default;  // implementations close the port
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  virtual int32_t Open(const std::string& name, uint32_t inQueue, uint32_t outQueue,
                       bool overlapped) = 0;
  int32_t Close();
  int32_t Setup(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);
  int32_t SetEventChar(char character, bool adjustMask);
  int32_t SetMask(uint32_t mask);
  int32_t WaitEvent(Overlapped* ov, int32_t timeoutMs);
  // 0 off, 1 hardware (RTS/CTS, DTR/DSR), 2 software (XON/XOFF).
  int32_t SetupHandshaking(int32_t mode);
  // 0 non-blocking (a read returns at once with what is buffered), 1 blocking (full length).
  int32_t SetupReadTimeouts(int32_t mode);
  int32_t GetBaudrate();
  int32_t GetDataBits();
  int32_t GetParity();
  int32_t GetStopBits();
  int32_t GetHandshaking();
  uint32_t GetEventMask();
  char GetEventChar();
  int32_t WriteString(const char* text, uint32_t* count, Overlapped* ov, int32_t timeoutMs);
  int32_t Write(const void* data, uint32_t length, uint32_t* count, Overlapped* ov,
                int32_t timeoutMs);
  int32_t Read(void* buffer, uint32_t length, uint32_t* count, Overlapped* ov, int32_t timeoutMs);
  // Discards both the transmit and the receive buffers.
  int32_t Purge();

  // Waits until bytes are waiting to be read, without consuming them: 0 readable, 1460 time-out
  // (`timeoutMs` < 0 waits without limit), 995 ended by `InterruptWait`, or the device's error
  // (1167 when it went away).
  int32_t WaitReadable(int32_t timeoutMs);
  // Ends a `WaitReadable` in progress on another thread at once, or the next one to start.
  void InterruptWait() { m_wakeup.Wake(); }

  bool IsOpen() const { return Device() != nullptr; }
  uint32_t GetLastEvents() const { return m_dwLastEvents; }
  // The system's words for the last failure, for the fault log; empty when there are none.
  virtual std::string GetLastErrorText() const;

  int32_t lastError = 0;

 protected:
  // The open device, null while closed.
  virtual CommDevice* Device() const = 0;
  // Releases the device handle.
  virtual void CloseDevice() = 0;
  // The error the device reports for its last call.
  virtual int32_t DeviceError() const;
  // Write time-outs set with the non-blocking and blocking read modes; false leaves them alone.
  virtual bool SetsWriteTimeouts() const = 0;

  // Creates the port's I/O event for overlapped use and sets up queues, mask and read mode:
  // the part of `Open` after the device handle exists. Closes the port on failure.
  int32_t FinishOpen(bool overlapped, uint32_t inQueue, uint32_t outQueue);
  // What `InterruptWait` wakes, for ports whose `Open` itself waits (a TCP connect).
  CWakeup& Wakeup() { return m_wakeup; }

 private:
  template <typename Issue>
  int32_t RunIo(Overlapped* callerOv, int32_t timeoutMs, uint32_t* count, Issue issue);
  int32_t Fail() { return lastError = DeviceError(); }
  bool ReadState(Dcb& dcb);

  std::unique_ptr<IoEvent> m_hIoEvent;  // present only on ports opened for overlapped I/O
  Overlapped m_internalOv;
  uint32_t m_dwLastEvents = 0;
  uint32_t m_dwEventMask = 0;
  CWakeup m_wakeup;
};
