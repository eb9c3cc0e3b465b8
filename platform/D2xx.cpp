#include "platform/D2xx.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/D2xxBackend.h"
#include "platform/TermiosComm.h"

using namespace comm_error;

namespace {

// A call in progress on one thread keeps its device alive while FT_W32_CloseHandle on another
// thread takes the handle out of the map: the device closes when the last of them lets go.
struct OpenHandle {
  std::shared_ptr<CStreamComm> comm;
  std::string serial;
};

std::mutex g_mutex;
std::map<FT_HANDLE, OpenHandle> g_handles;      // every handle this process holds open
uintptr_t g_lastHandle = 0;                     // handles are numbers, never reused
std::vector<d2xx::AdapterInfo> g_infoList;        // built by FT_CreateDeviceInfoList
thread_local int32_t t_lastOpenError = 0;
thread_local std::string t_lastOpenText;
thread_local std::string t_lastErrorText;       // what KFT_LastErrorText hands out

bool FakeBackend() { return std::getenv("KELMORA_FTDI_FAKE") != nullptr; }

// KELMORA_FTDI_FAKE="A1B2C3=/dev/pts/4,FT00XY=/tmp/line": one adapter per pair.
std::vector<d2xx::AdapterInfo> ListFake() {
  std::vector<d2xx::AdapterInfo> list;
  const std::string adapters = std::getenv("KELMORA_FTDI_FAKE");
  size_t pos = 0;
  while (pos < adapters.size()) {
    const size_t end = adapters.find_first_of(",; \t\n", pos);
    const std::string pair = adapters.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? adapters.size() : end + 1;
    const size_t eq = pair.find('=');
    if (pair.empty() || eq == std::string::npos) continue;
    d2xx::AdapterInfo info;
    info.serial = pair.substr(0, eq);
    info.devicePath = pair.substr(eq + 1);
    info.description = "Kelmora test adapter on " + info.devicePath;
    list.push_back(std::move(info));
  }
  return list;
}

std::vector<d2xx::AdapterInfo> ListAdapters(bool& ok) {
  if (FakeBackend()) {
    ok = true;
    return ListFake();
  }
  return d2xx::ListLibFtdi(ok);
}

bool SerialIsOpen(const std::string& serial) {
  return std::any_of(g_handles.begin(), g_handles.end(),
                     [&](const auto& entry) { return entry.second.serial == serial; });
}

// The open device of a handle, or null (the caller then fails with 6). The caller's share
// keeps the device open for the whole call.
std::shared_ptr<CStreamComm> Comm(FT_HANDLE handle) {
  std::lock_guard lock(g_mutex);
  const auto it = g_handles.find(handle);
  return it == g_handles.end() ? nullptr : it->second.comm;
}

template <typename Call>
bool OnHandle(FT_HANDLE handle, Call call) {
  const std::shared_ptr<CStreamComm> comm = Comm(handle);
  return comm != nullptr && call(*comm);
}

void CopyText(char* dest, size_t size, const std::string& text) {
  std::memset(dest, 0, size);
  std::memcpy(dest, text.data(), std::min(size, text.size()));
}

}  // namespace

FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs) {
  if (lpdwNumDevs == nullptr) return FT_INVALID_PARAMETER;
  bool ok = false;
  auto list = ListAdapters(ok);
  if (!ok) return FT_OTHER_ERROR;
  std::lock_guard lock(g_mutex);
  g_infoList = std::move(list);
  *lpdwNumDevs = static_cast<DWORD>(g_infoList.size());
  return FT_OK;
}

// *lpdwNumDevs comes in as the number of nodes `pDest` holds (the count FT_CreateDeviceInfoList
// gave the caller) and goes out as the number filled: a list rebuilt meanwhile with more
// adapters must not run past the caller's array.
FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs) {
  if (pDest == nullptr || lpdwNumDevs == nullptr) return FT_INVALID_PARAMETER;
  std::lock_guard lock(g_mutex);
  const size_t count = std::min<size_t>(*lpdwNumDevs, g_infoList.size());
  for (size_t i = 0; i < count; ++i) {
    FT_DEVICE_LIST_INFO_NODE& node = pDest[i];
    const auto& info = g_infoList[i];
    node.Flags = SerialIsOpen(info.serial) ? FT_FLAGS_OPENED : 0;
    node.Type = FT_DEVICE_232R;
    node.ID = 0x04036001;
    node.LocId = static_cast<DWORD>(i);
    CopyText(node.SerialNumber, sizeof node.SerialNumber, info.serial);
    CopyText(node.Description, sizeof node.Description, info.description);
    node.ftHandle = nullptr;
    for (const auto& [handle, open] : g_handles)
      if (open.serial == info.serial) node.ftHandle = handle;
  }
  *lpdwNumDevs = static_cast<DWORD>(count);
  return FT_OK;
}

FT_STATUS FT_ListDevices(void* pArg1, void* pArg2, DWORD Flags) {
  bool ok = false;
  const auto list = ListAdapters(ok);
  if (!ok) return FT_OTHER_ERROR;
  if (Flags & FT_LIST_NUMBER_ONLY) {
    if (pArg1 == nullptr) return FT_INVALID_PARAMETER;
    *static_cast<DWORD*>(pArg1) = static_cast<DWORD>(list.size());
    return FT_OK;
  }
  if ((Flags & FT_LIST_BY_INDEX) && (Flags & (FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION))) {
    const auto index = static_cast<size_t>(reinterpret_cast<uintptr_t>(pArg1));
    if (pArg2 == nullptr) return FT_INVALID_PARAMETER;
    if (index >= list.size()) return FT_DEVICE_NOT_FOUND;
    const std::string& text =
        (Flags & FT_OPEN_BY_SERIAL_NUMBER) ? list[index].serial : list[index].description;
    CopyText(static_cast<char*>(pArg2), 64, text.substr(0, 63));
    return FT_OK;
  }
  return FT_INVALID_ARGS;
}

FT_HANDLE FT_W32_CreateFile(const char* lpszName, DWORD, DWORD, void*, DWORD, DWORD dwAttrsAndFlags,
                            void*) {
  t_lastOpenError = 0;
  t_lastOpenText.clear();
  auto fail = [](int32_t code, std::string text) -> FT_HANDLE {
    t_lastOpenError = code;
    t_lastOpenText = std::move(text);
    return nullptr;
  };
  if (lpszName == nullptr || !(dwAttrsAndFlags & FT_OPEN_BY_SERIAL_NUMBER))
    return fail(kInvalidParameter, "adapters are opened by serial number");
  const std::string serial = lpszName;
  if (serial.empty()) return fail(kFileNotFound, "empty serial number");
  {
    std::lock_guard lock(g_mutex);
    if (SerialIsOpen(serial)) return fail(kBusy, "adapter " + serial + " is already open");
  }
  std::unique_ptr<CStreamComm> comm;
  if (FakeBackend()) {
    const auto list = ListFake();
    const auto it = std::find_if(list.begin(), list.end(), [&](auto& a) { return a.serial == serial; });
    if (it == list.end()) return fail(kFileNotFound, "no adapter with serial number " + serial);
    auto line = std::make_unique<CTermiosComm>();
    if (!line->CreateFile(it->devicePath)) return fail(line->GetLastError(), line->GetLastErrorText());
    comm = std::move(line);
  } else {
    int32_t error = 0;
    std::string text;
    comm = d2xx::OpenLibFtdi(serial, error, text);
    if (!comm) return fail(error, text);
  }
  std::lock_guard lock(g_mutex);
  FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(++g_lastHandle);
  g_handles.emplace(handle, OpenHandle{std::move(comm), serial});
  return handle;
}

bool FT_W32_CloseHandle(FT_HANDLE ftHandle) {
  std::shared_ptr<CStreamComm> comm;
  {
    std::lock_guard lock(g_mutex);
    const auto it = g_handles.find(ftHandle);
    if (it == g_handles.end()) return false;
    comm = std::move(it->second.comm);
    g_handles.erase(it);
  }
  return true;  // the device closes as `comm` goes, or when a call still using it ends
}

DWORD FT_W32_GetLastError(FT_HANDLE ftHandle) {
  if (ftHandle == nullptr) return static_cast<DWORD>(t_lastOpenError);
  const std::shared_ptr<CStreamComm> comm = Comm(ftHandle);
  return comm != nullptr ? static_cast<DWORD>(comm->GetLastError()) : kInvalidHandle;
}

const char* KFT_LastErrorText(FT_HANDLE ftHandle) {
  if (ftHandle == nullptr) return t_lastOpenText.c_str();
  const std::shared_ptr<CStreamComm> comm = Comm(ftHandle);
  t_lastErrorText = comm != nullptr ? comm->GetLastErrorText() : std::string();
  return t_lastErrorText.c_str();  // a copy: the device may close once `comm` goes
}

bool FT_W32_SetupComm(FT_HANDLE h, DWORD in, DWORD out) {
  return OnHandle(h, [&](CStreamComm& c) { return c.SetupComm(in, out); });
}
bool FT_W32_GetCommState(FT_HANDLE h, FTDCB* dcb) {
  return dcb != nullptr && OnHandle(h, [&](CStreamComm& c) { return c.GetCommState(*dcb); });
}
bool FT_W32_SetCommState(FT_HANDLE h, FTDCB* dcb) {
  return dcb != nullptr && OnHandle(h, [&](CStreamComm& c) { return c.SetCommState(*dcb); });
}
bool FT_W32_SetCommMask(FT_HANDLE h, DWORD mask) {
  return OnHandle(h, [&](CStreamComm& c) { return c.SetCommMask(mask); });
}
bool FT_W32_WaitCommEvent(FT_HANDLE h, LPDWORD events, LPOVERLAPPED ov) {
  return OnHandle(h, [&](CStreamComm& c) { return c.WaitCommEvent(events, ov); });
}
bool FT_W32_CancelIo(FT_HANDLE h) {
  return OnHandle(h, [&](CStreamComm& c) { return c.CancelIo(); });
}
bool FT_W32_GetCommTimeouts(FT_HANDLE h, FTTIMEOUTS* t) {
  return t != nullptr && OnHandle(h, [&](CStreamComm& c) { return c.GetCommTimeouts(*t); });
}
bool FT_W32_SetCommTimeouts(FT_HANDLE h, FTTIMEOUTS* t) {
  return t != nullptr && OnHandle(h, [&](CStreamComm& c) { return c.SetCommTimeouts(*t); });
}
bool FT_W32_ReadFile(FT_HANDLE h, void* buffer, DWORD size, LPDWORD read, LPOVERLAPPED ov) {
  return OnHandle(h, [&](CStreamComm& c) { return c.ReadFile(buffer, size, read, ov); });
}
bool FT_W32_WriteFile(FT_HANDLE h, const void* buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov) {
  return OnHandle(h, [&](CStreamComm& c) { return c.WriteFile(buffer, size, written, ov); });
}
bool FT_W32_GetOverlappedResult(FT_HANDLE h, LPOVERLAPPED ov, LPDWORD transferred, bool wait) {
  return OnHandle(h, [&](CStreamComm& c) { return c.GetOverlappedResult(ov, transferred, wait, -1); });
}
bool FT_W32_PurgeComm(FT_HANDLE h, DWORD mask) {
  return OnHandle(h, [&](CStreamComm& c) { return c.PurgeComm(mask); });
}
bool KFT_WaitOverlapped(FT_HANDLE h, LPOVERLAPPED ov, LPDWORD transferred, int32_t timeoutMs) {
  return OnHandle(h, [&](CStreamComm& c) { return c.GetOverlappedResult(ov, transferred, true, timeoutMs); });
}
int32_t KFT_WaitReadable(FT_HANDLE h, int32_t timeoutMs, CWakeup& wakeup) {
  const std::shared_ptr<CStreamComm> comm = Comm(h);
  return comm != nullptr ? comm->WaitReadable(timeoutMs, wakeup) : kInvalidHandle;
}
