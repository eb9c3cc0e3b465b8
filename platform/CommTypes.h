// Win32-shaped serial communication types shared by the termios ports and the D2XX subset.
//
// The serial ports keep the error codes, the device-control block and the time-out record
// of the Win32 communications API, so callers above the port layer see one code space and
// one set of settings whatever the adapter.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace comm_error {
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kInvalidFunction = 1;   // overlapped use of a non-overlapped port
inline constexpr int32_t kFileNotFound = 2;      // ENOENT
inline constexpr int32_t kAccessDenied = 5;      // EACCES, EPERM
inline constexpr int32_t kInvalidHandle = 6;     // the port is not open
inline constexpr int32_t kGenFailure = 31;       // any other system error
inline constexpr int32_t kInvalidParameter = 87;
inline constexpr int32_t kBusy = 170;            // EBUSY: another program holds the port
inline constexpr int32_t kOperationAborted = 995;
inline constexpr int32_t kIoIncomplete = 996;
inline constexpr int32_t kIoPending = 997;
inline constexpr int32_t kDeviceNotConnected = 1167;  // EIO, ENXIO, hang-up: the device went away
inline constexpr int32_t kAlreadyOpen = 1247;
inline constexpr int32_t kTimeout = 1460;
inline constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);

// The Win32 code of the same meaning as an errno value.
int32_t FromErrno(int error);
}  // namespace comm_error

// Event-mask bits.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;

// Purge flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

// DTR and RTS control values of the device-control block.
inline constexpr uint8_t DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
inline constexpr uint8_t RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2;

// The device-control block: line settings and flow control of one port.
struct Dcb {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 9600;
  bool fBinary = true;
  bool fParity = false;       // parity checking on input
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  uint8_t fDtrControl = DTR_CONTROL_ENABLE;
  uint8_t fRtsControl = RTS_CONTROL_ENABLE;
  bool fOutX = false;          // XON/XOFF on output
  bool fInX = false;           // XON/XOFF on input
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;          // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;        // 0 one, 1 one and a half, 2 two
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char EvtChar = 0;
};

// Read and write time-outs in milliseconds.
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// A manual-reset event, initially not signalled.
class IoEvent {
 public:
  void Set() { m_bSignaled.store(true); }
  void Reset() { m_bSignaled.store(false); }
  bool IsSet() const { return m_bSignaled.load(); }

 private:
  std::atomic<bool> m_bSignaled{false};
};

// The record of one overlapped operation. A device that cannot finish a read, write or event
// wait at once keeps the operation's progress here, and `GetOverlappedResult` carries it on.
struct Overlapped {
  IoEvent* hEvent = nullptr;

  enum class Op : uint8_t { None, Read, Write, WaitEvent };
  Op op = Op::None;
  uint8_t* readBuffer = nullptr;
  const uint8_t* writeBuffer = nullptr;
  uint32_t length = 0;
  uint32_t done = 0;
  uint32_t* events = nullptr;   // where a finished event wait stores the events
  double totalDeadline = -1;    // ms on the NowMilliseconds clock; negative: none
  double intervalMs = -1;       // gap after a received byte that ends a read; negative: none
  double lastByteAt = 0;
  bool firstByteEnds = false;   // "return at once when bytes arrive" read mode
  uint64_t generation = 0;      // the device's cancel generation when the operation started

  void Begin(Op kind) {
    op = kind;
    done = 0;
    if (hEvent != nullptr) hEvent->Reset();
  }
};

// Wakes a thread blocked in a port's readability wait from another thread. The request stays
// pending until the waiter consumes it, so a wake that arrives just before the wait is not lost.
class CWakeup {
 public:
  CWakeup() : m_iFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~CWakeup() {
    if (m_iFd >= 0) close(m_iFd);
  }
  CWakeup(const CWakeup&) = delete;
  CWakeup& operator=(const CWakeup&) = delete;

  void Wake() {
    m_bPending.store(true);
    const uint64_t one = 1;
    if (m_iFd >= 0) [[maybe_unused]] auto r = write(m_iFd, &one, sizeof one);
  }
  // True once after every Wake; empties the descriptor.
  bool Consume() {
    uint64_t value;
    if (m_iFd >= 0) [[maybe_unused]] auto r = read(m_iFd, &value, sizeof value);
    return m_bPending.exchange(false);
  }
  bool Pending() const { return m_bPending.load(); }
  int Fd() const { return m_iFd; }

 private:
  int m_iFd;
  std::atomic<bool> m_bPending{false};
};
