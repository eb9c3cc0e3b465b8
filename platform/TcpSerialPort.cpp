#include "platform/TcpSerialPort.h"

#include <algorithm>
#include <cctype>

using namespace comm_error;

std::string FormatTcpAddress(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ParseTcpAddress(const std::string& text, std::string& host, uint16_t& port, std::string& why) {
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      why = "\"" + text + "\" is not [IPv6 address]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    portText = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
      why = "\"" + text + "\" has no port number (HOST:PORT)";
      return false;
    }
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (host.find(':') != std::string::npos) {
      why = "\"" + text + "\": write an IPv6 address in brackets, [ADDRESS]:PORT";
      return false;
    }
  }
  if (host.empty()) {
    why = "\"" + text + "\" has no host";
    return false;
  }
  if (portText.empty()) {
    why = "\"" + text + "\" has no port number (HOST:PORT)";
    return false;
  }
  const bool digits = portText.size() <= 5 && std::all_of(portText.begin(), portText.end(), [](unsigned char c) { return std::isdigit(c); });
  const int value = digits ? std::stoi(portText) : 0;
  if (value < 1 || value > 65535) {
    why = "\"" + text + "\": the port number is not a number from 1 to 65535";
    return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

int32_t TcpSerialPort::DeviceError() const {
  return m_hSocket ? m_hSocket->GetLastError() : (m_iOpenError != 0 ? m_iOpenError : kInvalidHandle);
}

std::string TcpSerialPort::GetLastErrorText() const {
  return m_hSocket ? m_hSocket->GetLastErrorText() : m_strOpenErrorText;
}

void TcpSerialPort::CloseDevice() {
  m_hSocket->CloseHandle();
  m_hSocket.reset();
  m_strAddress.clear();
}

int32_t TcpSerialPort::Open(const std::string& name, uint32_t inQueue, uint32_t outQueue,
                            bool overlapped) {
  lastError = kSuccess;
  if (IsOpen()) return lastError = kAlreadyOpen;
  std::string host, why;
  uint16_t port = 0;
  if (!ParseTcpAddress(name, host, port, why)) {
    m_iOpenError = kInvalidParameter;
    m_strOpenErrorText = why;
    return lastError = m_iOpenError;
  }
  // A wake left from the waits of an earlier connection is not meant for this one.
  Wakeup().Consume();
  auto socket = std::make_unique<CTcpComm>();
  if (!socket->Connect(host, port, m_iConnectTimeoutMs, &Wakeup())) {
    m_iOpenError = socket->GetLastError();
    m_strOpenErrorText = socket->GetLastErrorText();
    return lastError = m_iOpenError;
  }
  m_iOpenError = 0;
  m_hSocket = std::move(socket);
  m_strAddress = FormatTcpAddress(host, port);
  return lastError = FinishOpen(overlapped, inQueue, outQueue);
}
