// A serial line reached over TCP: Modbus RTU bytes through an RS-485-to-Ethernet converter in
// raw TCP mode ("TCP server" of a Moxa NPort and the like), which passes them unchanged.
//
// The port is the TCP client. It answers like a COM port: line settings are kept and reported
// as set (the converter's serial side has its own), reads, writes, purges and waits follow the
// COM port's rules, and a connection the other end closed or reset reports 1167, the code of
// an unplugged adapter, so the reconnection opens the same host and port again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/SerialPort.h"
#include "platform/TcpComm.h"

// "host:port" for a host name or an IPv4 address, "[v6]:port" for an IPv6 address.
std::string FormatTcpAddress(const std::string& host, int port);
// Splits "host:port" or "[v6]:port" into its host and port (1 to 65535). False with `why`
// when the text is not of that form.
bool ParseTcpAddress(const std::string& text, std::string& host, uint16_t& port, std::string& why);

class TcpSerialPort final : public SerialPort {
 public:
  static constexpr int kDefaultConnectTimeoutMs = 3000;

  TcpSerialPort() = default;
  ~TcpSerialPort() override { Close(); }

  // `name` is "host:port" or "[v6]:port". Connects within the connect time-out; an
  // `InterruptWait` meanwhile ends the attempt with 995.
  int32_t Open(const std::string& name, uint32_t inQueue, uint32_t outQueue,
               bool overlapped) override;
  std::string GetLastErrorText() const override;
  // How long `Open` tries to connect before it gives up with 1460.
  void SetConnectTimeout(int timeoutMs) { m_iConnectTimeoutMs = timeoutMs; }
  // The address the port is connected to ("host:port"; empty while closed).
  const std::string& Address() const { return m_strAddress; }
  // The connected socket, -1 while closed.
  int Socket() const { return m_hSocket ? m_hSocket->Fd() : -1; }

 protected:
  CommDevice* Device() const override { return m_hSocket.get(); }
  void CloseDevice() override;
  bool SetsWriteTimeouts() const override { return true; }
  int32_t DeviceError() const override;

 private:
  std::unique_ptr<CTcpComm> m_hSocket;
  std::string m_strAddress;
  int m_iConnectTimeoutMs = kDefaultConnectTimeoutMs;
  int32_t m_iOpenError = 0;
  std::string m_strOpenErrorText;
};
