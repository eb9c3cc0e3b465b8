// An RS-485-to-Ethernet converter in raw TCP mode, played by socat: it listens on the loopback
// address and passes the bytes of the connection it accepts to and from a serial device (a
// pty) unchanged. It serves one connection and ends with it; `Start` makes it listen for the
// next. Stopping it is the converter switched off (its connection closes); starting it again,
// on the same port, is the converter back.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>

namespace testing_support {

// A TCP port on 127.0.0.1 that nothing listens on now (the system's choice for port 0).
uint16_t FreeLoopbackPort();

class SocatRelay {
 public:
  // Listens on a free loopback port for one connection to `devicePath`. Throws when socat
  // does not start (not installed: ./run installs it).
  explicit SocatRelay(std::string devicePath);
  ~SocatRelay();
  SocatRelay(const SocatRelay&) = delete;
  SocatRelay& operator=(const SocatRelay&) = delete;

  uint16_t Port() const { return m_port; }
  // "127.0.0.1:PORT", as kelmora-cli --tcp takes it.
  std::string Address() const;
  // Listens again on the same port, for the next connection, after ending what is left of the
  // last one; false when it does not within `timeoutMs`.
  bool Start(int timeoutMs = 20000);
  // Ends it with `signal` and waits for its exit.
  void Stop(int signal = SIGTERM);
  // socat's own log (-d -d): what it accepted, opened and why it ended.
  std::string Log() const;

 private:
  // Starts socat on `m_port`; true once it listens, false when it ended or the time ran out.
  bool Launch(int timeoutMs);

  std::string m_device;
  std::string m_logPath;
  uint16_t m_port = 0;
  pid_t m_pid = -1;
};

}  // namespace testing_support
