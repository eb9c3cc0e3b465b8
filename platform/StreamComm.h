// The Win32 read, write and event-wait rules on top of a byte stream.
//
// `CStreamComm` implements the time-out modes, overlapped progress, cancellation, the event
// mask and the look-ahead that event waits need, once for every kind of device. A device
// supplies only the raw primitives: a non-blocking read and write, a wait for readiness, a
// purge and the application of line settings.
#pragma once

#include <deque>
#include <string>

#include "platform/CommDevice.h"

class CStreamComm : public CommDevice {
 public:
  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  bool GetCommState(Dcb& dcb) override;
  bool SetCommState(const Dcb& dcb) override;
  bool GetCommTimeouts(CommTimeouts& timeouts) override;
  bool SetCommTimeouts(const CommTimeouts& timeouts) override;
  bool SetCommMask(uint32_t mask) override;
  bool WaitCommEvent(uint32_t* events, Overlapped* ov) override;
  bool ReadFile(void* buffer, uint32_t length, uint32_t* read, Overlapped* ov) override;
  bool WriteFile(const void* buffer, uint32_t length, uint32_t* written, Overlapped* ov) override;
  bool GetOverlappedResult(Overlapped* ov, uint32_t* transferred, bool wait,
                           int32_t timeoutMs) override;
  bool CancelIo() override;
  bool PurgeComm(uint32_t flags) override;
  int32_t WaitReadable(int32_t timeoutMs, CWakeup& wakeup) override;

 protected:
  enum class Ready { Yes, Timeout, Woken, Failed };

  // Whether the device is open.
  virtual bool RawIsOpen() const = 0;
  // Reads what is waiting, up to `length` bytes, without blocking: the count (0 when the line
  // is empty) or -1 with the error set (1167 when the device went away).
  virtual long RawRead(uint8_t* buffer, uint32_t length) = 0;
  // Writes without blocking: the count taken (0 when the device cannot take more now) or -1.
  virtual long RawWrite(const uint8_t* buffer, uint32_t length) = 0;
  // Waits until reading (or writing) can progress, `deadline` passes (NowMilliseconds, negative:
  // none) or `wakeup` (may be null) is woken. May return Yes early; callers check again.
  virtual Ready RawWait(bool forWrite, double deadline, CWakeup* wakeup) = 0;
  virtual bool RawPurge(bool rx, bool tx) = 0;
  virtual bool RawApplyState(const Dcb& dcb) = 0;
  // Bytes waiting in the driver's transmit queue, or -1 when unknown.
  virtual long RawOutputQueued() { return -1; }

  // One wait on `fd` for `events` until `deadline` (NowMilliseconds, negative: none) or until
  // `wakeup` (may be null) is woken: Yes with what the descriptor reported in `revents`,
  // Timeout, Woken, or Failed with poll's errno in `error`. Interrupted polls are resumed.
  static Ready PollDescriptor(int fd, short events, double deadline, CWakeup* wakeup, short& revents, int& error);

  // Resets the kept settings for a freshly opened device.
  void ResetState();
  // Ends every operation in progress, as when the device closes.
  void CancelAll() { ++m_uCancelGeneration; m_lookahead.clear(); }

 private:
  enum class Step { Done, Pending, Failed };

  void PrepareRead(Overlapped& op, void* buffer, uint32_t length) const;
  void PrepareWrite(Overlapped& op, const void* buffer, uint32_t length) const;
  Step Advance(Overlapped& op);
  Step AdvanceRead(Overlapped& op);
  Step AdvanceWrite(Overlapped& op);
  Step AdvanceEventWait(Overlapped& op);
  bool RunToEnd(Overlapped& op, uint32_t* transferred);
  bool WaitForProgress(const Overlapped& op, double deadline);
  uint32_t TakeLookahead(uint8_t* buffer, uint32_t length);
  bool FillLookahead();
  uint32_t PendingEvents();

  Dcb m_dcb;
  CommTimeouts m_timeouts;
  uint32_t m_dwMask = 0;
  uint64_t m_uCancelGeneration = 0;
  std::deque<uint8_t> m_lookahead;
};
