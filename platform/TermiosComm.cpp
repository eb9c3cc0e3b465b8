#include "platform/TermiosComm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/Clock.h"

namespace comm_error {
int32_t FromErrno(int error) {
  switch (error) {
    case 0: return kSuccess;
    case ENOENT: case ENOTDIR: return kFileNotFound;
    case EACCES: case EPERM: return kAccessDenied;
    case EBUSY: return kBusy;
    case EIO: case ENXIO: case ENODEV: return kDeviceNotConnected;
    default: return kGenFailure;
  }
}
}  // namespace comm_error

using namespace comm_error;

namespace {

speed_t SpeedConstant(uint32_t baud) {
  switch (baud) {
    case 50: return B50; case 75: return B75; case 110: return B110; case 134: return B134;
    case 150: return B150; case 200: return B200; case 300: return B300; case 600: return B600;
    case 1200: return B1200; case 1800: return B1800; case 2400: return B2400;
    case 4800: return B4800; case 9600: return B9600; case 19200: return B19200;
    case 38400: return B38400; case 57600: return B57600; case 115200: return B115200;
    case 230400: return B230400; case 460800: return B460800; case 500000: return B500000;
    case 576000: return B576000; case 921600: return B921600; case 1000000: return B1000000;
    case 1152000: return B1152000; case 1500000: return B1500000; case 2000000: return B2000000;
    case 2500000: return B2500000; case 3000000: return B3000000; case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return 0;
  }
}

}  // namespace

bool CTermiosComm::FailErrno(int error, const char* what) {
  return Fail(FromErrno(error), std::string(what) + " " + m_strPath + ": " + std::strerror(error));
}

bool CTermiosComm::CreateFile(const std::string& path) {
  if (m_iFd >= 0) return Fail(kAlreadyOpen, "already open");
  m_strPath = path;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FailErrno(errno, "open");
  auto fail = [&](int error, const char* what) {
    ::close(fd);
    return FailErrno(error, what);
  };
  // No sharing: one program at a time on a port, as on Windows.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno, "lock");
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return fail(errno, "tcgetattr");
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN on an empty line, 0 bytes on hang-up
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return fail(errno, "tcsetattr");
  m_iFd = fd;
  ResetState();
  return Succeed();
}

bool CTermiosComm::CloseHandle() {
  if (m_iFd < 0) return Succeed();
  CancelAll();
  ::flock(m_iFd, LOCK_UN);
  ::close(m_iFd);
  m_iFd = -1;
  return Succeed();
}

long CTermiosComm::RawRead(uint8_t* buffer, uint32_t length) {
  for (;;) {
    const ssize_t n = ::read(m_iFd, buffer, length);
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    FailErrno(n == 0 ? EIO : errno, n == 0 ? "read (hang-up)" : "read");
    return -1;
  }
}

long CTermiosComm::RawWrite(const uint8_t* buffer, uint32_t length) {
  for (;;) {
    const ssize_t n = ::write(m_iFd, buffer, length);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    FailErrno(errno, "write");
    return -1;
  }
}

CStreamComm::Ready CTermiosComm::RawWait(bool forWrite, double deadline, CWakeup* wakeup) {
  for (;;) {
    short revents = 0;
    int error = 0;
    const Ready ready = PollDescriptor(m_iFd, forWrite ? POLLOUT : POLLIN, deadline, wakeup, revents, error);
    if (ready == Ready::Failed) FailErrno(error, "poll");
    if (ready != Ready::Yes) return ready;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // A hung-up line also polls readable; bytes still buffered are delivered first.
      int queued = 0;
      if (!forWrite && ::ioctl(m_iFd, FIONREAD, &queued) == 0 && queued > 0) return Ready::Yes;
      FailErrno(EIO, "poll (hang-up)");
      return Ready::Failed;
    }
    if (revents & (forWrite ? POLLOUT : POLLIN)) return Ready::Yes;
  }
}

bool CTermiosComm::RawPurge(bool rx, bool tx) {
  // tcflush() on a tty waits for the kernel's buffer worker and costs more than a whole Modbus
  // transaction on a fast line, so it is used only where it is needed: received bytes are read
  // and dropped (the same bytes tcflush would drop), and the transmit queue is flushed only
  // when it holds something.
  if (rx) {
    uint8_t chunk[512];
    for (;;) {
      const ssize_t n = ::read(m_iFd, chunk, sizeof chunk);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      return FailErrno(n == 0 ? EIO : errno, "purge");
    }
  }
  if (tx && RawOutputQueued() != 0 && ::tcflush(m_iFd, TCOFLUSH) != 0) return FailErrno(errno, "tcflush");
  return true;
}

long CTermiosComm::RawOutputQueued() {
  int queued = 0;
  return ::ioctl(m_iFd, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

bool CTermiosComm::RawApplyState(const Dcb& dcb) {
  const speed_t speed = SpeedConstant(dcb.BaudRate);
  if (speed == 0) return Fail(kInvalidParameter, "unsupported baud rate " + std::to_string(dcb.BaudRate));
  termios tio{};
  if (::tcgetattr(m_iFd, &tio) != 0) return FailErrno(errno, "tcgetattr");
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (dcb.StopBits != 0) tio.c_cflag |= CSTOPB;  // 1.5 stop bits exist only with 5 data bits
  if (dcb.fParity) tio.c_iflag |= INPCK; else tio.c_iflag &= ~INPCK;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (dcb.fOutX) tio.c_iflag |= IXON;
  if (dcb.fInX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = dcb.XonChar;
  tio.c_cc[VSTOP] = dcb.XoffChar;
  if (::tcsetattr(m_iFd, TCSANOW, &tio) != 0) return FailErrno(errno, "tcsetattr");
  // DTR as the block says; a pseudo-terminal has no modem lines, so failures are ignored.
  int dtr = TIOCM_DTR;
  ::ioctl(m_iFd, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
  return true;
}
