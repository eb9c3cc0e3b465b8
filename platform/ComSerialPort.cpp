#include "platform/ComSerialPort.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

using namespace comm_error;
namespace fs = std::filesystem;

namespace {

// "COM12" (any case, with or without the "\\.\" prefix) gives 12; anything else 0.
int ComNumberOf(std::string name) {
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  if (name.size() <= 3) return 0;
  std::string head = name.substr(0, 3);
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  if (head != "com") return 0;
  int number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i])) || number > 100000) return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// A legacy ttyS port is listed only when the kernel found a UART behind it.
bool HasUart(const std::string& ttyName) {
  std::ifstream type("/sys/class/tty/" + ttyName + "/type");
  int value = 0;
  return type >> value && value != 0;
}

// The devices named `prefix`N in /dev, in the order of N.
std::vector<std::string> NumberedDevices(const std::string& prefix, bool needUart) {
  std::map<long, std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/dev", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size()) continue;
    const std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) continue;
    if (needUart && !HasUart(name)) continue;
    found.emplace(std::stol(digits), entry.path().string());
  }
  std::vector<std::string> paths;
  for (auto& [n, path] : found) paths.push_back(path);
  return paths;
}

}  // namespace

std::string ComPortsFolder() {
  if (const char* dir = std::getenv("KELMORA_PORTS_DIR"); dir != nullptr && *dir != '\0') return dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0')
    return std::string(xdg) + "/Kelmora/dosdevices";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/Kelmora/dosdevices";
}

std::vector<ComPortEntry> ComPortMap() {
  std::map<int, ComPortEntry> ports;
  std::error_code ec;
  const fs::path folder = ComPortsFolder();
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const int number = ComNumberOf(entry.path().filename().string());
    if (number <= 0) continue;
    fs::path target = entry.path();
    if (fs::is_symlink(entry.symlink_status(ec))) {
      target = fs::read_symlink(entry.path(), ec);
      if (target.is_relative()) target = folder / target;
    }
    ports[number] = ComPortEntry{number, target.string(), true};
  }
  std::set<std::string> linkedPaths;
  for (auto& [n, port] : ports) linkedPaths.insert(port.path);

  std::vector<std::string> defaults = NumberedDevices("ttyS", true);
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    auto more = NumberedDevices(prefix, false);
    defaults.insert(defaults.end(), more.begin(), more.end());
  }
  int next = 1;
  for (const std::string& path : defaults) {
    if (linkedPaths.count(path) != 0) continue;  // already reachable through its link
    while (ports.count(next) != 0) ++next;
    ports[next] = ComPortEntry{next, path, false};
  }
  std::vector<ComPortEntry> list;
  for (auto& [n, port] : ports) list.push_back(port);
  return list;
}

std::string ResolveComPort(int number) {
  for (const ComPortEntry& port : ComPortMap())
    if (port.number == number) return port.path;
  return {};
}

void ComPortList(std::vector<int>& list) {
  list.clear();
  for (const ComPortEntry& port : ComPortMap()) {
    const int fd = ::open(port.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      list.push_back(port.number);
      continue;
    }
    const int32_t code = FromErrno(errno);
    if (code == kAccessDenied || code == kBusy || code == kGenFailure) list.push_back(port.number);
  }
}

int32_t ComSerialPort::DeviceError() const {
  return m_hPort ? m_hPort->GetLastError() : (m_iOpenError != 0 ? m_iOpenError : kInvalidHandle);
}

std::string ComSerialPort::GetLastErrorText() const {
  return m_hPort ? m_hPort->GetLastErrorText() : m_strOpenErrorText;
}

void ComSerialPort::CloseDevice() {
  m_hPort->CloseHandle();
  m_hPort.reset();
  m_strPath.clear();
}

int32_t ComSerialPort::Open(const std::string& name, uint32_t inQueue, uint32_t outQueue,
                            bool overlapped) {
  lastError = kSuccess;
  if (IsOpen()) return lastError = kAlreadyOpen;
  std::string path = name;
  if (const int number = ComNumberOf(name); number > 0) {
    path = ResolveComPort(number);
    if (path.empty()) {
      m_iOpenError = kFileNotFound;
      m_strOpenErrorText = name + " is not mapped to a device (no link in " + ComPortsFolder() + ")";
      return lastError = kFileNotFound;
    }
  }
  auto port = std::make_unique<CTermiosComm>();
  if (!port->CreateFile(path)) {
    m_iOpenError = port->GetLastError();
    m_strOpenErrorText = port->GetLastErrorText();
    return lastError = m_iOpenError;
  }
  m_iOpenError = 0;
  m_hPort = std::move(port);
  m_strPath = path;
  if (const int32_t error = FinishOpen(overlapped, inQueue, outQueue); error != kSuccess)
    return lastError = error;
  // The default configuration of a COM port: 9600 baud, 8 data bits, no parity, one stop bit,
  // no flow control, so a port starts from known settings whatever the last user left.
  Dcb defaults;
  m_hPort->SetCommState(defaults);
  return lastError = kSuccess;
}
