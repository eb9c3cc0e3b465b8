#include "comm/ComPortChannel.h"

#include <string>

#include "comm/FaultLog.h"
#include "platform/CommTypes.h"

CComPortChannel::CComPortChannel(SerialPort* port) : m_sbPort(port) {
  if (m_sbPort == nullptr || !m_sbPort->IsOpen()) throw "CComPortChannel: serial should be opened";
}

CComPortChannel::~CComPortChannel() {
  try {
    if (m_sbPort != nullptr) m_sbPort->Close();
  } catch (...) {
    KELMORA_EXCEPTION("m_sbPort->Close()");
  }
}

bool CComPortChannel::IsOpen() { return m_sbPort != nullptr && m_sbPort->IsOpen(); }

void CComPortChannel::LogPortFailure(const char* operation) {
  const int32_t error = m_sbPort->lastError;
  if (error == comm_error::kSuccess) {
    m_iLoggedError = 0;
    return;
  }
  if (error == comm_error::kDeviceNotConnected) m_bLineLost = true;
  if (error == m_iLoggedError) return;  // one line per failure, not one per poll
  m_iLoggedError = error;
  std::string text = std::string("Serial port ") + operation + " failed with code " + std::to_string(error);
  if (const std::string why = m_sbPort->GetLastErrorText(); !why.empty()) text += ": " + why;
  KELMORA_FAULT(text);
}

int32_t CComPortChannel::Write(const DataGram& dgData) {
  if (m_sbPort == nullptr) return 0;
  uint32_t iRes = 0;
  try {
    m_sbPort->Write(dgData.GetBuffer(), dgData.GetSize(), &iRes, nullptr, -1);
    LogPortFailure("write");
  } catch (...) {
    KELMORA_EXCEPTION("m_sbPort->Write(dgData.GetBuffer(), dgData.GetSize(), &iRes)");
    return 0;
  }
  return static_cast<int32_t>(iRes);
}

int32_t CComPortChannel::Read(uint8_t* buffer, int32_t length) {
  if (m_sbPort == nullptr || length <= 0) return 0;
  uint32_t iRes = 0;
  try {
    m_sbPort->Read(buffer, static_cast<uint32_t>(length), &iRes, nullptr, -1);
    LogPortFailure("read");
  } catch (...) {
    KELMORA_EXCEPTION("m_sbPort->Read(dgData.GetBuffer(), dgData.GetSize(), &iRes)");
    return 0;
  }
  return static_cast<int32_t>(iRes);
}

int32_t CComPortChannel::Read(DataGram& dgData) { return Read(dgData.GetBuffer(), dgData.GetSize()); }

void CComPortChannel::Purge() {
  if (m_sbPort == nullptr) return;
  if (!noPurge) {
    try {
      m_sbPort->Purge();
      if (m_sbPort->lastError == comm_error::kDeviceNotConnected) m_bLineLost = true;
    } catch (...) {
      KELMORA_EXCEPTION("m_sbPort->Purge()");
    }
    return;
  }
  uint8_t chunk[255];
  while (Read(chunk, sizeof chunk) > 0) {
  }
}

int32_t CComPortChannel::WaitReadable(int32_t timeoutMs) {
  if (m_sbPort == nullptr) return comm_error::kInvalidHandle;
  const int32_t result = m_sbPort->WaitReadable(timeoutMs);
  if (result != comm_error::kTimeout && result != comm_error::kOperationAborted) LogPortFailure("wait");
  return result;
}

void CComPortChannel::ClearLineLost() {
  m_bLineLost = false;
  m_iLoggedError = 0;
}

void CComPortChannel::Interrupt() {
  if (m_sbPort != nullptr) m_sbPort->InterruptWait();
}
