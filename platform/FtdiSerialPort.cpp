#include "platform/FtdiSerialPort.h"

#include <algorithm>
#include <cstring>

using namespace comm_error;

// The Win32-style calls of an open adapter, each one a D2XX call on the handle.
class FtdiSerialPort::CHandleDevice final : public CommDevice {
 public:
  explicit CHandleDevice(FT_HANDLE handle) : m_h(handle) {}
  ~CHandleDevice() override { FT_W32_CloseHandle(m_h); }

  bool SetupComm(uint32_t in, uint32_t out) override { return Done(FT_W32_SetupComm(m_h, in, out)); }
  bool GetCommState(Dcb& dcb) override { return Done(FT_W32_GetCommState(m_h, &dcb)); }
  bool SetCommState(const Dcb& dcb) override {
    FTDCB copy = dcb;
    return Done(FT_W32_SetCommState(m_h, &copy));
  }
  bool GetCommTimeouts(CommTimeouts& t) override { return Done(FT_W32_GetCommTimeouts(m_h, &t)); }
  bool SetCommTimeouts(const CommTimeouts& t) override {
    FTTIMEOUTS copy = t;
    return Done(FT_W32_SetCommTimeouts(m_h, &copy));
  }
  bool SetCommMask(uint32_t mask) override { return Done(FT_W32_SetCommMask(m_h, mask)); }
  bool WaitCommEvent(uint32_t* events, Overlapped* ov) override {
    return Done(FT_W32_WaitCommEvent(m_h, events, ov));
  }
  bool ReadFile(void* buffer, uint32_t length, uint32_t* read, Overlapped* ov) override {
    return Done(FT_W32_ReadFile(m_h, buffer, length, read, ov));
  }
  bool WriteFile(const void* buffer, uint32_t length, uint32_t* written, Overlapped* ov) override {
    return Done(FT_W32_WriteFile(m_h, buffer, length, written, ov));
  }
  bool GetOverlappedResult(Overlapped* ov, uint32_t* transferred, bool wait,
                           int32_t timeoutMs) override {
    if (wait) return Done(KFT_WaitOverlapped(m_h, ov, transferred, timeoutMs));
    return Done(FT_W32_GetOverlappedResult(m_h, ov, transferred, false));
  }
  bool CancelIo() override { return Done(FT_W32_CancelIo(m_h)); }
  bool PurgeComm(uint32_t flags) override { return Done(FT_W32_PurgeComm(m_h, flags)); }
  int32_t WaitReadable(int32_t timeoutMs, CWakeup& wakeup) override {
    const int32_t result = KFT_WaitReadable(m_h, timeoutMs, wakeup);
    Done(result == kSuccess || result == kTimeout || result == kOperationAborted);
    return result;
  }

 private:
  // Records the adapter's error for a failed call, as FT_W32_GetLastError reports it.
  bool Done(bool ok) {
    if (ok) return Succeed();
    return Fail(static_cast<int32_t>(FT_W32_GetLastError(m_h)), KFT_LastErrorText(m_h));
  }

  FT_HANDLE m_h;
};

FtdiSerialPort::FtdiSerialPort() = default;
FtdiSerialPort::~FtdiSerialPort() { Close(); }

CommDevice* FtdiSerialPort::Device() const { return m_hDevice.get(); }

void FtdiSerialPort::CloseDevice() { m_hDevice.reset(); }

int32_t FtdiSerialPort::DeviceError() const {
  if (m_hDevice) return m_hDevice->GetLastError();
  return m_iOpenError != 0 ? m_iOpenError : kInvalidHandle;
}

std::string FtdiSerialPort::GetLastErrorText() const {
  return m_hDevice ? m_hDevice->GetLastErrorText() : m_strOpenErrorText;
}

int32_t FtdiSerialPort::Open(const std::string& name, uint32_t inQueue, uint32_t outQueue,
                             bool overlapped) {
  lastError = kSuccess;
  if (IsOpen()) return lastError = kAlreadyOpen;
  const DWORD flags = overlapped ? (FILE_FLAG_OVERLAPPED | FT_OPEN_BY_SERIAL_NUMBER)
                                 : FT_OPEN_BY_SERIAL_NUMBER;
  FT_HANDLE handle = FT_W32_CreateFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, flags, nullptr);
  if (handle == nullptr) {
    m_iOpenError = static_cast<int32_t>(FT_W32_GetLastError(nullptr));
    m_strOpenErrorText = KFT_LastErrorText(nullptr);
    return lastError = m_iOpenError;
  }
  m_iOpenError = 0;
  m_hDevice = std::make_unique<CHandleDevice>(handle);
  return lastError = FinishOpen(overlapped, inQueue, outQueue);
}

uint32_t FtdiDeviceList::Refresh() {
  Clear();
  DWORD count = 0;
  if (FT_CreateDeviceInfoList(&count) != FT_OK) return 0;
  std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
  if (count > 0 && FT_GetDeviceInfoList(nodes.data(), &count) != FT_OK) return 0;
  nodes.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    FtdiDeviceItem item;
    item.index = i;
    std::memcpy(item.serialNumber, nodes[i].SerialNumber, sizeof item.serialNumber);
    std::memcpy(item.description, nodes[i].Description, sizeof item.description);
    const bool hasSerial = std::any_of(std::begin(item.serialNumber), std::end(item.serialNumber),
                                       [](char c) { return c != 0; });
    item.available = !(nodes[i].Flags & FT_FLAGS_OPENED) && hasSerial;
    m_items.push_back(item);
  }
  m_iCursor = 0;
  return count;
}

bool FtdiDeviceList::Next(FtdiDeviceItem& item) {
  if (m_iCursor < 0 || m_iCursor >= static_cast<int32_t>(m_items.size())) return false;
  item = m_items[m_iCursor++];
  return true;
}

void FtdiDeviceList::Clear() {
  m_items.clear();
  m_iCursor = -1;
}

int32_t FtdiSerialNumberByIndex(int32_t index, char* serial) {
  DWORD count = 0;
  if (FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK) return -1;
  if (index < 0 || static_cast<DWORD>(index) >= count) return -2;
  const auto arg = reinterpret_cast<void*>(static_cast<uintptr_t>(index));
  return FT_ListDevices(arg, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) == FT_OK ? 0 : -1;
}
