#include "sim/SimPty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/ComSerialPort.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B38400;  // a pty ignores the speed; this only shows in tcgetattr
  }
}

}  // namespace

CSimPty::~CSimPty() { Close(); }

bool CSimPty::Open(int baud, std::string& error) {
  Close();
  char name[256] = {};
  if (openpty(&m_device, &m_program, name, nullptr, nullptr) != 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    m_device = m_program = -1;
    return false;
  }
  // Raw from the start: a program that opens the port without setting it up must not get
  // an echo of the device's answers or line-discipline edits.
  termios tio{};
  if (tcgetattr(m_program, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetspeed(&tio, SpeedOf(baud));
    tcsetattr(m_program, TCSANOW, &tio);
  }
  fcntl(m_device, F_SETFD, FD_CLOEXEC);
  fcntl(m_program, F_SETFD, FD_CLOEXEC);
  fcntl(m_device, F_SETFL, fcntl(m_device, F_GETFL) | O_NONBLOCK);
  m_path = name;
  return true;
}

void CSimPty::Close() {
  if (m_program >= 0) close(m_program);
  if (m_device >= 0) close(m_device);
  m_program = m_device = -1;
  m_path.clear();
}

std::string ComLinkPath(int number) {
  return (fs::path(ComPortsFolder()) / ("com" + std::to_string(number))).string();
}

bool CreatePortLink(const std::string& link, const std::string& target, std::string& error) {
  std::error_code ec;
  const fs::path path(link);
  if (path.has_parent_path()) {
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
      error = "cannot create the folder " + path.parent_path().string() + ": " + ec.message();
      return false;
    }
  }
  const fs::file_status status = fs::symlink_status(path, ec);
  if (fs::exists(status)) {
    if (!fs::is_symlink(status)) {
      error = link + " exists and is not a link; remove it or choose another port";
      return false;
    }
    const fs::path old = fs::read_symlink(path, ec);
    if (fs::exists(path, ec)) {
      error = link + " already leads to " + old.string() +
              " (another simulator or device?); remove it or choose another port";
      return false;
    }
    fs::remove(path, ec);  // a link left behind by a simulator that was killed
  }
  fs::create_symlink(target, path, ec);
  if (ec) {
    error = "cannot create the link " + link + ": " + ec.message();
    return false;
  }
  return true;
}

void RemovePortLink(const std::string& link, const std::string& target) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(link, ec))) return;
  if (fs::read_symlink(link, ec) == fs::path(target)) fs::remove(link, ec);
}

}  // namespace sim
