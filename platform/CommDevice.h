// The Win32-style calls of one open serial device. `CTermiosComm` implements them on a tty
// descriptor, the D2XX subset on libftdi1 (or on a pseudo-terminal for tests).
#pragma once

#include <string>

#include "platform/CommTypes.h"

class CommDevice {
 public:
  virtual ~CommDevice() = default;

  virtual bool SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual bool GetCommState(Dcb& dcb) = 0;
  virtual bool SetCommState(const Dcb& dcb) = 0;
  virtual bool GetCommTimeouts(CommTimeouts& timeouts) = 0;
  virtual bool SetCommTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool SetCommMask(uint32_t mask) = 0;
  virtual bool WaitCommEvent(uint32_t* events, Overlapped* ov) = 0;
  virtual bool ReadFile(void* buffer, uint32_t length, uint32_t* read, Overlapped* ov) = 0;
  virtual bool WriteFile(const void* buffer, uint32_t length, uint32_t* written, Overlapped* ov) = 0;
  // Carries a pending operation on. With `wait`, blocks up to `timeoutMs` (-1: no limit) and
  // fails with 1460 when that passes first; without, fails with 996 while still pending.
  virtual bool GetOverlappedResult(Overlapped* ov, uint32_t* transferred, bool wait,
                                   int32_t timeoutMs) = 0;
  virtual bool CancelIo() = 0;
  virtual bool PurgeComm(uint32_t flags) = 0;
  // Blocks until bytes are waiting (0), `timeoutMs` passed (1460; -1 waits without limit),
  // `wakeup` was woken (995) or the device failed (its code).
  virtual int32_t WaitReadable(int32_t timeoutMs, CWakeup& wakeup) = 0;

  int32_t GetLastError() const { return m_iLastError; }
  // The system's own words for the last error, for the fault log.
  const std::string& GetLastErrorText() const { return m_strLastErrorText; }

 protected:
  bool Fail(int32_t code, std::string text = {}) {
    m_iLastError = code;
    m_strLastErrorText = std::move(text);
    return false;
  }
  bool Succeed() {
    m_iLastError = 0;
    return true;
  }

  int32_t m_iLastError = 0;
  std::string m_strLastErrorText;
};
