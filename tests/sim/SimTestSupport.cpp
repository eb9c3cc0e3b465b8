#include "tests/sim/SimTestSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace simtest {

std::string TestProfile() { return KELMORA_SIM_TEST_DATA "/sim-test.xml"; }
std::string RichProfile() { return KELMORA_DEMO_PROFILES "/PDC-4120.xml"; }

sim::CSimDevice DeviceFrom(const std::string& profilePath, std::vector<std::string>* warnings) {
  DeviceProfile profile;
  std::string error;
  if (!sim::LoadSimProfile(profilePath, "", profile, error)) throw std::runtime_error(error);
  sim::CSimDevice device;
  std::vector<std::string> ignored;
  sim::BuildSimDevice(profile, device, warnings != nullptr ? *warnings : ignored);
  return device;
}

SimRig::SimRig(sim::CSimDevice device, sim::SimSlaveOptions options, sim::CSimSlave::BootLoader bootLoader)
    : m_options(std::move(options)) {
  std::string error;
  if (!m_pty.Open(m_options.line.baud, error)) throw std::runtime_error(error);
  m_slave = std::make_unique<sim::CSimSlave>(m_pty.DeviceFd(), std::move(device), m_options);
  if (bootLoader) m_slave->SetBootLoader(std::move(bootLoader));
  if (!m_slave->Start(error)) throw std::runtime_error(error);
  ConnectMaster();
}

SimRig::SimRig(const std::string& profilePath, sim::SimSlaveOptions options)
    : SimRig(DeviceFrom(profilePath), std::move(options)) {}

SimRig::~SimRig() {
  DisconnectMaster();
  m_slave->Stop();
}

void SimRig::ConnectMaster() {
  if (m_port.Open(m_pty.ProgramPath(), 0, 0, true) != 0) throw std::runtime_error("cannot open " + m_pty.ProgramPath());
  m_port.Setup(m_options.line.baud, m_options.line.dataBits, m_options.line.parity, m_options.line.stopBits);
  m_channel = std::make_unique<CComPortChannel>(&m_port);
  m_master = std::make_unique<ModbusRtuProtocol>(m_channel.get(), static_cast<uint16_t>(m_options.slave), 200);
}

void SimRig::DisconnectMaster() {
  m_master.reset();
  m_channel.reset();  // closes the port
}

SimProcess::SimProcess(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  m_pid = fork();
  if (m_pid == 0) {
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    std::string program = KELMORA_SIM_EXE;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  m_out = pipeFds[0];
  fcntl(m_out, F_SETFL, fcntl(m_out, F_GETFL) | O_NONBLOCK);
}

SimProcess::~SimProcess() {
  if (m_pid > 0 && m_status < 0) Stop(SIGKILL);
  if (m_out >= 0) close(m_out);
}

void SimProcess::Drain(int timeoutMs) {
  pollfd pfd{m_out, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) <= 0) return;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(m_out, chunk, sizeof chunk);
    if (n <= 0) break;
    m_output.append(chunk, static_cast<size_t>(n));
  }
}

std::string SimProcess::WaitForLine(const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t begin = 0;
    while (begin < m_output.size()) {
      const size_t end = m_output.find('\n', begin);
      if (end == std::string::npos) break;
      const std::string line = m_output.substr(begin, end - begin);
      if (line.find(text) != std::string::npos) return line;
      begin = end + 1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return {};
    Drain(static_cast<int>(std::min<long long>(left, 50)));
  }
}

std::string SimProcess::DevicePath(int timeoutMs) {
  const std::string line = WaitForLine(" is /dev/", timeoutMs);
  const size_t at = line.find(" is ");
  return at == std::string::npos ? std::string() : line.substr(at + 4);
}

int SimProcess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (m_status < 0) {
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) return -1;
    Drain(10);
  }
  Drain(0);
  return m_status;
}

int SimProcess::Stop(int signal, int timeoutMs) {
  if (m_status >= 0) return m_status;
  kill(m_pid, signal);
  return Wait(timeoutMs);
}

const std::string& SimProcess::Output() {
  Drain(0);
  return m_output;
}

int RunSim(const std::vector<std::string>& args, std::string& output, int timeoutMs) {
  SimProcess process(args);
  const int code = process.Wait(timeoutMs);
  output = process.Output();
  return code;
}

SimFolder::SimFolder() {
  if (const char* ports = std::getenv("KELMORA_PORTS_DIR")) {
    m_hadPorts = true;
    m_previousPorts = ports;
  }
  setenv("KELMORA_PORTS_DIR", PortsFolder().c_str(), 1);
}

SimFolder::~SimFolder() {
  if (m_hadPorts) setenv("KELMORA_PORTS_DIR", m_previousPorts.c_str(), 1);
  else unsetenv("KELMORA_PORTS_DIR");
}

}  // namespace simtest
