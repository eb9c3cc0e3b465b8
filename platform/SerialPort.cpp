#include "platform/SerialPort.h"

#include <cstring>

using namespace comm_error;

int32_t SerialPort::DeviceError() const {
  const CommDevice* device = Device();
  return device != nullptr ? device->GetLastError() : kInvalidHandle;
}

std::string SerialPort::GetLastErrorText() const {
  const CommDevice* device = Device();
  return device != nullptr ? device->GetLastErrorText() : std::string();
}

int32_t SerialPort::FinishOpen(bool overlapped, uint32_t inQueue, uint32_t outQueue) {
  if (overlapped) m_hIoEvent = std::make_unique<IoEvent>();
  if ((inQueue != 0 || outQueue != 0) && !Device()->SetupComm(inQueue, outQueue)) {
    const int32_t error = DeviceError();
    Close();
    return lastError = error;
  }
  SetMask(EV_RXCHAR | EV_BREAK | EV_ERR);
  SetupReadTimeouts(0);
  return lastError = kSuccess;
}

int32_t SerialPort::Close() {
  lastError = kSuccess;
  if (Device() != nullptr) CloseDevice();
  m_hIoEvent.reset();
  m_dwEventMask = 0;
  return kSuccess;
}

bool SerialPort::ReadState(Dcb& dcb) {
  lastError = kSuccess;
  if (!IsOpen()) {
    lastError = kInvalidHandle;
    return false;
  }
  dcb.DCBlength = 28;
  if (!Device()->GetCommState(dcb)) {
    Fail();
    return false;
  }
  return true;
}

int32_t SerialPort::Setup(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
  Dcb dcb;
  if (!ReadState(dcb)) return lastError;
  dcb.BaudRate = baudRate;
  dcb.ByteSize = dataBits;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  dcb.fParity = parity != 0;
  return Device()->SetCommState(dcb) ? kSuccess : Fail();
}

int32_t SerialPort::SetupHandshaking(int32_t mode) {
  if (mode < 0 || mode > 2) {
    lastError = IsOpen() ? kInvalidArg : kInvalidHandle;
    return lastError;
  }
  Dcb dcb;
  if (!ReadState(dcb)) return lastError;
  const bool hardware = mode == 1, software = mode == 2;
  dcb.fOutxCtsFlow = hardware;
  dcb.fOutxDsrFlow = hardware;
  dcb.fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
  dcb.fOutX = software;
  dcb.fInX = software;
  return Device()->SetCommState(dcb) ? kSuccess : Fail();
}

int32_t SerialPort::SetupReadTimeouts(int32_t mode) {
  lastError = kSuccess;
  if (!IsOpen()) return lastError = kInvalidHandle;
  if (mode != 0 && mode != 1) return lastError = kInvalidArg;
  CommTimeouts timeouts;
  if (!Device()->GetCommTimeouts(timeouts)) return Fail();
  timeouts.ReadIntervalTimeout = mode == 0 ? MAXDWORD : 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  if (SetsWriteTimeouts()) {
    timeouts.WriteTotalTimeoutConstant = 25;
    timeouts.WriteTotalTimeoutMultiplier = 2;
  }
  return Device()->SetCommTimeouts(timeouts) ? kSuccess : Fail();
}

int32_t SerialPort::SetMask(uint32_t mask) {
  lastError = kSuccess;
  if (!IsOpen()) return lastError = kInvalidHandle;
  if (!Device()->SetCommMask(mask)) return Fail();
  m_dwEventMask = mask;
  return kSuccess;
}

int32_t SerialPort::SetEventChar(char character, bool adjustMask) {
  lastError = kSuccess;
  if (!IsOpen()) return lastError = kInvalidHandle;
  if (adjustMask && SetMask(m_dwEventMask | EV_RXFLAG) != kSuccess) return lastError;
  Dcb dcb;
  if (!ReadState(dcb)) return lastError;
  dcb.EvtChar = character;
  return Device()->SetCommState(dcb) ? kSuccess : Fail();
}

int32_t SerialPort::GetBaudrate() {
  Dcb dcb;
  return ReadState(dcb) ? static_cast<int32_t>(dcb.BaudRate) : -1;
}

int32_t SerialPort::GetDataBits() {
  Dcb dcb;
  return ReadState(dcb) ? dcb.ByteSize : -1;
}

int32_t SerialPort::GetParity() {
  Dcb dcb;
  if (!ReadState(dcb)) return -1;
  return dcb.fParity ? dcb.Parity : 0;
}

int32_t SerialPort::GetStopBits() {
  Dcb dcb;
  return ReadState(dcb) ? dcb.StopBits : -1;
}

int32_t SerialPort::GetHandshaking() {
  Dcb dcb;
  if (!ReadState(dcb)) return -1;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) return 1;
  if (dcb.fOutX && dcb.fInX) return 2;
  return 0;
}

uint32_t SerialPort::GetEventMask() {
  lastError = IsOpen() ? kSuccess : kInvalidHandle;
  return IsOpen() ? m_dwEventMask : 0;
}

char SerialPort::GetEventChar() {
  Dcb dcb;
  return ReadState(dcb) ? dcb.EvtChar : 0;
}

// The overlapped discipline shared by `WaitEvent`, `Write` and `Read`.
template <typename Issue>
int32_t SerialPort::RunIo(Overlapped* callerOv, int32_t timeoutMs, uint32_t* count, Issue issue) {
  if (count != nullptr) *count = 0;
  lastError = kSuccess;
  if (!IsOpen()) return lastError = kInvalidHandle;
  if (!m_hIoEvent) {
    if (callerOv != nullptr || timeoutMs != -1) return lastError = kInvalidFunction;
    return issue(nullptr, count) ? kSuccess : Fail();
  }
  Overlapped* ov = callerOv;
  if (ov == nullptr) {
    m_internalOv = Overlapped{};
    m_internalOv.hEvent = m_hIoEvent.get();
    ov = &m_internalOv;
  }
  if (issue(ov, count)) {
    if (ov->hEvent != nullptr) ov->hEvent->Set();
    return kSuccess;
  }
  if (DeviceError() != kIoPending) return Fail();
  if (callerOv != nullptr) return kSuccess;  // the caller waits for its own record

  uint32_t transferred = 0;
  if (Device()->GetOverlappedResult(ov, &transferred, true, timeoutMs)) {
    if (count != nullptr) *count = transferred;
    return kSuccess;
  }
  if (DeviceError() == kTimeout) {
    Device()->CancelIo();
    // Bytes that arrived before the time-out stay with the caller rather than being lost.
    if (count != nullptr) *count = transferred;
    return lastError = kTimeout;
  }
  return Fail();
}

int32_t SerialPort::WaitEvent(Overlapped* ov, int32_t timeoutMs) {
  m_dwLastEvents = 0;
  return RunIo(ov, timeoutMs, nullptr, [this](Overlapped* o, uint32_t*) {
    return Device()->WaitCommEvent(&m_dwLastEvents, o);
  });
}

int32_t SerialPort::Write(const void* data, uint32_t length, uint32_t* count, Overlapped* ov,
                          int32_t timeoutMs) {
  return RunIo(ov, timeoutMs, count, [&](Overlapped* o, uint32_t* n) {
    return Device()->WriteFile(data, length, n, o);
  });
}

int32_t SerialPort::WriteString(const char* text, uint32_t* count, Overlapped* ov,
                                int32_t timeoutMs) {
  return Write(text, static_cast<uint32_t>(std::strlen(text)), count, ov, timeoutMs);
}

int32_t SerialPort::Read(void* buffer, uint32_t length, uint32_t* count, Overlapped* ov,
                         int32_t timeoutMs) {
  return RunIo(ov, timeoutMs, count, [&](Overlapped* o, uint32_t* n) {
    return Device()->ReadFile(buffer, length, n, o);
  });
}

int32_t SerialPort::Purge() {
  lastError = kSuccess;
  if (!IsOpen()) return lastError = kInvalidHandle;
  return Device()->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR) ? kSuccess : Fail();
}

int32_t SerialPort::WaitReadable(int32_t timeoutMs) {
  lastError = kSuccess;
  if (!IsOpen()) return lastError = kInvalidHandle;
  return lastError = Device()->WaitReadable(timeoutMs, m_wakeup);
}
