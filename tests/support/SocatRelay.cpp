#include "tests/support/SocatRelay.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace testing_support {

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("cannot bind a loopback port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

SocatRelay::SocatRelay(std::string devicePath) : m_device(std::move(devicePath)) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kelmora-socat-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  m_logPath = pattern;
  // Another program may take the free port before socat binds it: then another port.
  for (int attempt = 0; attempt < 10; ++attempt) {
    m_port = FreeLoopbackPort();
    if (Launch(20000)) return;
  }
  const std::string log = Log();
  std::filesystem::remove(m_logPath);
  throw std::runtime_error("socat did not start listening (is it installed? ./run installs it): " + log);
}

SocatRelay::~SocatRelay() {
  Stop(SIGTERM);
  std::error_code ec;
  std::filesystem::remove(m_logPath, ec);
}

std::string SocatRelay::Address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string SocatRelay::Log() const { return ReadTextFile(m_logPath); }

bool SocatRelay::Start(int timeoutMs) {
  // What is left of the last relay (it ends with its connection, or is about to) goes first:
  // it no longer listens.
  Stop(SIGTERM);
  return Launch(timeoutMs);
}

bool SocatRelay::Launch(int timeoutMs) {
  const size_t logStart = Log().size();
  // No "fork" option: one connection, as a converter serves one client, and socat ends with
  // it, so nothing of it outlives a test.
  std::vector<std::string> args = {"socat", "-d", "-d", "-lf", m_logPath,
                                   "TCP-LISTEN:" + std::to_string(m_port) + ",bind=127.0.0.1,reuseaddr",
                                   "FILE:" + m_device + ",raw,echo=0"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  m_pid = fork();
  if (m_pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (m_pid < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Log().find("listening on", logStart) != std::string::npos) return true;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Stop(SIGKILL);
  return false;
}

void SocatRelay::Stop(int signal) {
  if (m_pid <= 0) return;
  kill(m_pid, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (waitpid(m_pid, &status, WNOHANG) != m_pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_pid = -1;
}

}  // namespace testing_support
