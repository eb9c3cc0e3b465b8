#include "platform/TcpComm.h"

#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/Clock.h"

using namespace comm_error;

namespace {

// The port layer's code for a socket error: every way a connection can fail or end is "the
// device went away", so the reconnection treats it like an unplugged adapter.
int32_t TcpErrorCode(int error) {
  switch (error) {
    case ECONNREFUSED: case ECONNRESET: case ECONNABORTED: case EPIPE: case ENOTCONN:
    case ETIMEDOUT: case EHOSTUNREACH: case ENETUNREACH: case ENETDOWN: case EHOSTDOWN:
    case ENETRESET: case EIO:
      return kDeviceNotConnected;
    default:
      return FromErrno(error);
  }
}

// The pending error of a socket, 0 when there is none.
int SocketError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

// Options of a connected socket. TCP_NODELAY: a request goes out at once instead of waiting for
// the previous segment's acknowledgement. Keep-alive probes and the user time-out end a
// connection whose converter lost power or network within seconds (the kernel's defaults take
// hours), so the reconnection starts instead of every request timing out for ever.
void SetConnectedOptions(int fd) {
  const int one = 1, idleS = 5, intervalS = 2, probes = 3, userTimeoutMs = 10000;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleS, sizeof idleS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalS, sizeof intervalS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

constexpr const char* kClosedByPeer = "the other end closed the connection";

}  // namespace

bool CTcpComm::FailErrno(int error, const char* what) {
  return Fail(TcpErrorCode(error), std::string(what) + ": " + std::strerror(error));
}

bool CTcpComm::Connect(const std::string& host, uint16_t port, int timeoutMs, CWakeup* wakeup) {
  if (m_iFd >= 0) return Fail(kAlreadyOpen, "already open");
  if (host.empty()) return Fail(kInvalidParameter, "no host given");
  if (port == 0) return Fail(kInvalidParameter, "no port given (1 to 65535)");
  const double deadline = NowMilliseconds() + std::max(timeoutMs, 0);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    const std::string reason = resolved == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(resolved);
    return Fail(kFileNotFound, "cannot resolve " + host + ": " + reason);
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  // A resolved name has one address at least; each failed attempt leaves its own error.
  for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
    const int fd = ConnectOne(a->ai_addr, a->ai_addrlen, a->ai_family, deadline, wakeup);
    if (fd >= 0) {
      m_iFd = fd;
      ResetState();
      return Succeed();
    }
    // The time is used up for every address, and an interrupted attempt ends them all.
    if (m_iLastError == kOperationAborted) break;
    if (m_iLastError == kTimeout)
      return Fail(kTimeout, "no connection within " + std::to_string(timeoutMs) + " ms (the host does not answer)");
  }
  return false;
}

int CTcpComm::ConnectOne(const void* address, unsigned length, int family, double deadline, CWakeup* wakeup) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    FailErrno(errno, "socket");
    return -1;
  }
  auto fail = [fd, this](int32_t code, const std::string& text) {
    ::close(fd);
    Fail(code, text);
    return -1;
  };
  if (::connect(fd, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(TcpErrorCode(errno), std::strerror(errno));
    // The connection completes in the background: wait until the socket is writable (connected
    // or failed), the time is up or the port is interrupted.
    for (;;) {
      short revents = 0;
      int error = 0;
      const Ready ready = PollDescriptor(fd, POLLOUT, deadline, wakeup, revents, error);
      if (ready == Ready::Woken) return fail(kOperationAborted, "connecting was interrupted");
      if (ready == Ready::Failed) return fail(TcpErrorCode(error), std::string("poll: ") + std::strerror(error));
      if (ready == Ready::Yes && revents != 0) break;
      if (NowMilliseconds() >= deadline) return fail(kTimeout, "no connection in time");
    }
    if (const int error = SocketError(fd); error != 0) return fail(TcpErrorCode(error), std::strerror(error));
  }
  SetConnectedOptions(fd);
  return fd;
}

bool CTcpComm::CloseHandle() {
  if (m_iFd < 0) return Succeed();
  CancelAll();
  ::close(m_iFd);
  m_iFd = -1;
  return Succeed();
}

long CTcpComm::RawRead(uint8_t* buffer, uint32_t length) {
  if (length == 0) return 0;
  for (;;) {
    const ssize_t n = ::recv(m_iFd, buffer, length, MSG_DONTWAIT);
    if (n > 0) return n;
    if (n == 0) {
      Fail(kDeviceNotConnected, std::string("read: ") + kClosedByPeer);
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    FailErrno(errno, "read");
    return -1;
  }
}

long CTcpComm::RawWrite(const uint8_t* buffer, uint32_t length) {
  for (;;) {
    // MSG_NOSIGNAL: a connection the other end closed fails with EPIPE instead of killing the
    // program with SIGPIPE.
    const ssize_t n = ::send(m_iFd, buffer, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    FailErrno(errno, "write");
    return -1;
  }
}

CStreamComm::Ready CTcpComm::RawWait(bool forWrite, double deadline, CWakeup* wakeup) {
  for (;;) {
    // POLLRDHUP reports the other end's close even while nothing else happens on the socket.
    short revents = 0;
    int error = 0;
    const Ready ready = PollDescriptor(m_iFd, forWrite ? POLLOUT : POLLIN | POLLRDHUP, deadline, wakeup, revents, error);
    if (ready == Ready::Failed) FailErrno(error, "poll");
    if (ready != Ready::Yes) return ready;
    if (revents & POLLNVAL) {
      Fail(kInvalidHandle, "poll: the socket is closed");
      return Ready::Failed;
    }
    if (revents & POLLERR) {
      if (const int error = SocketError(m_iFd); error != 0) {
        FailErrno(error, forWrite ? "write" : "read");
        return Ready::Failed;
      }
    }
    if (forWrite) {
      if (revents & POLLOUT) return Ready::Yes;
      if (revents & (POLLHUP | POLLERR)) {
        Fail(kDeviceNotConnected, std::string("write: ") + kClosedByPeer);
        return Ready::Failed;
      }
      continue;
    }
    if (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) {
      // Bytes that arrived before the close are delivered first; a readable socket without any
      // is one the other end closed: the device went away, not an empty line.
      uint8_t byte = 0;
      const ssize_t n = ::recv(m_iFd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n > 0) return Ready::Yes;
      if (n == 0) {
        Fail(kDeviceNotConnected, std::string("read: ") + kClosedByPeer);
        return Ready::Failed;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      FailErrno(errno, "read");
      return Ready::Failed;
    }
  }
}

bool CTcpComm::RawPurge(bool rx, bool) {
  // Received bytes are read and dropped. Bytes already handed to the connection cannot be
  // called back: they are on their way to the converter, so a transmit purge has nothing to do.
  if (!rx) return true;
  uint8_t chunk[512];
  for (;;) {
    const ssize_t n = ::recv(m_iFd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n == 0) return Fail(kDeviceNotConnected, std::string("purge: ") + kClosedByPeer);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    return FailErrno(errno, "purge");
  }
}

long CTcpComm::RawOutputQueued() {
  int queued = 0;
  return ::ioctl(m_iFd, SIOCOUTQ, &queued) == 0 ? queued : -1;
}
