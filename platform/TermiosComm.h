// Win32-style serial communication on a POSIX tty descriptor.
//
// The descriptor is opened non-blocking in raw mode with VMIN = 1, so a read of an empty line
// fails with EAGAIN, while a read that returns 0 bytes, EIO or a poll hang-up means the device
// went away. All waiting is done with poll() against deadlines on the monotonic clock.
#pragma once

#include <string>

#include "platform/StreamComm.h"

class CTermiosComm final : public CStreamComm {
 public:
  CTermiosComm() = default;
  ~CTermiosComm() override { CloseHandle(); }
  CTermiosComm(const CTermiosComm&) = delete;
  CTermiosComm& operator=(const CTermiosComm&) = delete;

  // Opens `path` for exclusive use (a second opener gets 170). False with the error set.
  bool CreateFile(const std::string& path);
  bool CloseHandle();
  int Fd() const { return m_iFd; }

 protected:
  bool RawIsOpen() const override { return m_iFd >= 0; }
  long RawRead(uint8_t* buffer, uint32_t length) override;
  long RawWrite(const uint8_t* buffer, uint32_t length) override;
  Ready RawWait(bool forWrite, double deadline, CWakeup* wakeup) override;
  bool RawPurge(bool rx, bool tx) override;
  bool RawApplyState(const Dcb& dcb) override;
  long RawOutputQueued() override;

 private:
  bool FailErrno(int error, const char* what);

  int m_iFd = -1;
  std::string m_strPath;
};
