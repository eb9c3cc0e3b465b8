// Win32-style serial communication over one TCP connection: the client side of an
// RS-485-to-Ethernet converter in raw TCP mode, which passes the line's bytes unchanged.
//
// The socket is non-blocking with TCP_NODELAY, so a Modbus frame written in one call leaves in
// one segment at once. All waiting is done with poll() against deadlines on the monotonic
// clock. A connection that the other end closed (a read of 0 bytes), reset or lost reports
// 1167, as a hung-up tty does, so the layers above treat it as a device that went away. The
// line settings are kept (the getters answer them) but change nothing here: the converter's
// serial side has settings of its own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/StreamComm.h"

class CTcpComm final : public CStreamComm {
 public:
  CTcpComm() = default;
  ~CTcpComm() override { CloseHandle(); }
  CTcpComm(const CTcpComm&) = delete;
  CTcpComm& operator=(const CTcpComm&) = delete;

  // Resolves `host` (a name, an IPv4 or an IPv6 literal) and connects to the first of its
  // addresses that accepts within `timeoutMs` in all. `wakeup` (may be null) ends the attempt
  // with 995. False with the error set: 2 the name does not resolve, 1460 no connection in
  // time, 1167 refused or unreachable, 87 an empty host or port 0.
  bool Connect(const std::string& host, uint16_t port, int timeoutMs, CWakeup* wakeup);
  bool CloseHandle();
  int Fd() const { return m_iFd; }

 protected:
  bool RawIsOpen() const override { return m_iFd >= 0; }
  long RawRead(uint8_t* buffer, uint32_t length) override;
  long RawWrite(const uint8_t* buffer, uint32_t length) override;
  Ready RawWait(bool forWrite, double deadline, CWakeup* wakeup) override;
  bool RawPurge(bool rx, bool tx) override;
  bool RawApplyState(const Dcb&) override { return true; }
  long RawOutputQueued() override;

 private:
  bool FailErrno(int error, const char* what);
  // Connects one resolved address; the descriptor, or -1 with the error set.
  int ConnectOne(const void* address, unsigned length, int family, double deadline, CWakeup* wakeup);

  int m_iFd = -1;
};
