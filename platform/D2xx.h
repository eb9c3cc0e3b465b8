// The subset of the FTDI D2XX API that Kelmora uses, with D2XX's names and argument shapes.
//
// Two backends stand behind it. Normally it drives FTDI adapters through libftdi1 (the latency
// timer is set to 1 ms on open, so a short Modbus answer is not held back 16 ms by the chip).
// When the environment variable KELMORA_FTDI_FAKE is set, it instead lists the adapters named
// there, as serial-number=device-path pairs separated by commas, semicolons or blanks, and opens
// the device path (a pseudo-terminal in tests) as that adapter's serial line.
#pragma once

#include <cstdint>

#include "platform/CommTypes.h"

using FT_HANDLE = void*;
using FT_STATUS = uint32_t;
using DWORD = uint32_t;
using LPDWORD = uint32_t*;
using FTDCB = Dcb;
using FTTIMEOUTS = CommTimeouts;
using LPOVERLAPPED = Overlapped*;

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INVALID_PARAMETER = 6,
  FT_INVALID_ARGS = 16,
  FT_OTHER_ERROR = 18,
};

inline constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;
inline constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;
inline constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
inline constexpr DWORD FT_FLAGS_OPENED = 1;
inline constexpr DWORD FT_DEVICE_232R = 5;
// FT_W32_CreateFile flag for overlapped I/O, combined with FT_OPEN_BY_SERIAL_NUMBER.
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
inline constexpr DWORD GENERIC_READ = 0x80000000, GENERIC_WRITE = 0x40000000, OPEN_EXISTING = 3;

struct FT_DEVICE_LIST_INFO_NODE {
  DWORD Flags;
  DWORD Type;
  DWORD ID;
  DWORD LocId;
  char SerialNumber[16];
  char Description[64];
  FT_HANDLE ftHandle;
};

FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs);
// *lpdwNumDevs: in, the number of nodes `pDest` holds; out, the number filled.
FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs);
// FT_LIST_NUMBER_ONLY: *(DWORD*)pArg1 = count. FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER:
// pArg1 is the index (as an integer in the pointer) and pArg2 a 64-byte buffer for the number.
FT_STATUS FT_ListDevices(void* pArg1, void* pArg2, DWORD Flags);

// Returns null on failure; FT_W32_GetLastError(nullptr) then tells why.
FT_HANDLE FT_W32_CreateFile(const char* lpszName, DWORD dwAccess, DWORD dwShareMode,
                            void* lpSecurityAttributes, DWORD dwCreate, DWORD dwAttrsAndFlags,
                            void* hTemplate);
bool FT_W32_CloseHandle(FT_HANDLE ftHandle);
DWORD FT_W32_GetLastError(FT_HANDLE ftHandle);
bool FT_W32_SetupComm(FT_HANDLE ftHandle, DWORD dwReadBufferSize, DWORD dwWriteBufferSize);
bool FT_W32_GetCommState(FT_HANDLE ftHandle, FTDCB* lpftDcb);
bool FT_W32_SetCommState(FT_HANDLE ftHandle, FTDCB* lpftDcb);
bool FT_W32_SetCommMask(FT_HANDLE ftHandle, DWORD dwMask);
bool FT_W32_WaitCommEvent(FT_HANDLE ftHandle, LPDWORD lpdwEvent, LPOVERLAPPED lpOverlapped);
bool FT_W32_CancelIo(FT_HANDLE ftHandle);
bool FT_W32_GetCommTimeouts(FT_HANDLE ftHandle, FTTIMEOUTS* pTimeouts);
bool FT_W32_SetCommTimeouts(FT_HANDLE ftHandle, FTTIMEOUTS* pTimeouts);
bool FT_W32_ReadFile(FT_HANDLE ftHandle, void* lpBuffer, DWORD nBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);
bool FT_W32_WriteFile(FT_HANDLE ftHandle, const void* lpBuffer, DWORD nBufferSize,
                      LPDWORD lpBytesWritten, LPOVERLAPPED lpOverlapped);
bool FT_W32_GetOverlappedResult(FT_HANDLE ftHandle, LPOVERLAPPED lpOverlapped,
                                LPDWORD lpdwBytesTransferred, bool bWait);
bool FT_W32_PurgeComm(FT_HANDLE ftHandle, DWORD dwMask);

// Not in D2XX, where a caller waits on the record's event with WaitForSingleObject: here the
// wait also carries the operation on. Fails with 1460 when `timeoutMs` passes first.
bool KFT_WaitOverlapped(FT_HANDLE ftHandle, LPOVERLAPPED lpOverlapped, LPDWORD lpdwBytesTransferred,
                        int32_t timeoutMs);
// Not in D2XX: waits until bytes can be read (0), `timeoutMs` passes (1460), `wakeup` is woken
// (995) or the adapter fails (its code).
int32_t KFT_WaitReadable(FT_HANDLE ftHandle, int32_t timeoutMs, CWakeup& wakeup);
// Not in D2XX: the system's words for the last error of a handle (or of the last open); the
// text stays valid until the calling thread's next call.
const char* KFT_LastErrorText(FT_HANDLE ftHandle);
