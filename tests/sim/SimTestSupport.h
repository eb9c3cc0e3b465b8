// Helpers of the simulator's suites: a simulated device served in-process on a pty with our
// master connected to it, and the kelmora-sim program run as a child process.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "comm/ComPortChannel.h"
#include "comm/Modbus.h"
#include "platform/ComSerialPort.h"
#include "sim/SimDevice.h"
#include "sim/SimProfile.h"
#include "sim/SimPty.h"
#include "sim/SimSlave.h"
#include "tests/support/TestSupport.h"

namespace simtest {

// The profile files the suites use.
std::string TestProfile();  // tests/sim/data/sim-test.xml
std::string RichProfile();  // the rich demo profile

// The device of a profile file (the first device), built as kelmora-sim builds it.
sim::CSimDevice DeviceFrom(const std::string& profilePath, std::vector<std::string>* warnings = nullptr);

// A simulated device on a pty of its own, served on its thread, and our master on the
// program side of the pty (slave address and line as the options give them).
class SimRig {
 public:
  explicit SimRig(sim::CSimDevice device, sim::SimSlaveOptions options = {},
                  sim::CSimSlave::BootLoader bootLoader = {});
  explicit SimRig(const std::string& profilePath, sim::SimSlaveOptions options = {});
  ~SimRig();

  sim::CSimSlave& Slave() { return *m_slave; }
  ModbusRtuProtocol& Master() { return *m_master; }
  const std::string& Path() const { return m_pty.ProgramPath(); }
  // Opens our master's port (done by the constructor) and closes it again.
  void ConnectMaster();
  void DisconnectMaster();

 private:
  sim::SimSlaveOptions m_options;
  sim::CSimPty m_pty;
  std::unique_ptr<sim::CSimSlave> m_slave;
  ComSerialPort m_port;
  std::unique_ptr<CComPortChannel> m_channel;
  std::unique_ptr<ModbusRtuProtocol> m_master;
};

// kelmora-sim as a child process, its output (stdout and stderr together) collected.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args);
  ~SimProcess();

  // Waits until the output holds a line containing `text`; the line, or empty on time-out.
  std::string WaitForLine(const std::string& text, int timeoutMs);
  // The program side of its pty, from the line that announces the port.
  std::string DevicePath(int timeoutMs = 5000);
  // Sends `signal` and waits for the exit; the exit code, or -1 when it did not exit.
  int Stop(int signal, int timeoutMs = 5000);
  // Waits for the exit without a signal.
  int Wait(int timeoutMs = 5000);
  const std::string& Output();

 private:
  void Drain(int timeoutMs);

  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_output;
  int m_status = -1;
};

// Runs kelmora-sim to its end; the exit code, with its output in `output`.
int RunSim(const std::vector<std::string>& args, std::string& output, int timeoutMs = 5000);

// Each test in a fresh working folder, with the ports folder inside it.
class SimFolder {
 public:
  SimFolder();
  ~SimFolder();
  const std::string& Path() const { return m_dir.Path(); }
  std::string PortsFolder() const { return Path() + "/ports"; }

 private:
  testing_support::TempWorkDir m_dir;
  std::string m_previousPorts;
  bool m_hadPorts = false;
};

}  // namespace simtest
