// A numbered COM port on a Linux tty, and the mapping of COM numbers to devices.
//
// COM n is the link `comN` in the ports folder (`$KELMORA_PORTS_DIR`, else
// `$XDG_CONFIG_HOME/Kelmora/dosdevices`, else `~/.config/Kelmora/dosdevices`). Numbers without a
// link are handed out to the serial devices present, in the order /dev/ttyS* (only those with a
// UART behind them), /dev/ttyUSB*, /dev/ttyACM*, from COM1 upward, skipping numbers that links use.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/TermiosComm.h"

struct ComPortEntry {
  int number;        // the n of "COMn"
  std::string path;  // the device it resolves to
  bool linked;       // named by a link in the ports folder
};

// The ports folder in use.
std::string ComPortsFolder();
// Every COM number with its device, in number order (no check that the device opens).
std::vector<ComPortEntry> ComPortMap();
// The device path of COM `number`, or empty when there is none.
std::string ResolveComPort(int number);
// Replaces `list` with the COM numbers whose device opens, or exists but is busy or denied.
void ComPortList(std::vector<int>& list);

class ComSerialPort final : public SerialPort {
 public:
  ComSerialPort() = default;
  ~ComSerialPort() override { Close(); }

  // `name` is "\\.\COMn", "COMn" (any case) or a device path such as /dev/ttyUSB0.
  int32_t Open(const std::string& name, uint32_t inQueue, uint32_t outQueue,
               bool overlapped) override;
  // The device path the port was opened on (empty while closed).
  const std::string& DevicePath() const { return m_strPath; }
  std::string GetLastErrorText() const override;

 protected:
  CommDevice* Device() const override { return m_hPort.get(); }
  void CloseDevice() override;
  bool SetsWriteTimeouts() const override { return true; }
  int32_t DeviceError() const override;

 private:
  std::unique_ptr<CTermiosComm> m_hPort;
  std::string m_strPath;
  int32_t m_iOpenError = 0;
  std::string m_strOpenErrorText;
};
