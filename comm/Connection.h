// Reaching the device: the connection factory that opens the port the settings name and
// builds the channel and Modbus master on it, the identification of the device through its
// input registers 1 to 3, and the matching of a device with the loaded profiles. The setup
// wizard and the command line both build on these.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "XMLParser/DeviceProfile.h"
#include "comm/ComPortChannel.h"
#include "comm/ConnectionSettings.h"
#include "comm/Modbus.h"
#include "platform/ComSerialPort.h"
#include "platform/FtdiSerialPort.h"
#include "platform/TcpSerialPort.h"

class CConnection {
 public:
  CConnection() = default;
  ~CConnection() { Close(); }
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  // Opens the COM port, FTDI adapter or TCP connection of `settings`, sets the line up and
  // builds the channel and the master (time-out 100 ms, the settings' slave address). False,
  // with `why` in plain words, when the port cannot be opened.
  bool Create(const ConnectionSettings& settings, std::string* why = nullptr);
  // Deletes the master and the channel, which closes the port.
  void Close();
  // After the device went away (an unplugged adapter): closes the port and opens the same one
  // again with the same line settings, under the channel and master already built: COM n
  // through its link as it resolves now, an FTDI adapter by its serial number, a TCP
  // connection to the same host and port. False while it cannot be opened. Call from the
  // thread that uses the channel.
  bool Reopen();

  ModbusRtuProtocol* Protocol() const { return m_pProtocol.get(); }
  CComPortChannel* Channel() const { return m_pChannel.get(); }
  SerialPort* Port() const { return m_pPort; }
  // What the port is: "COM9 (/dev/pts/3)", "FTDI FT1A2B3C" or "TCP 192.168.1.20:4001"; a
  // reopened COM port names the device its link leads to now.
  std::string Description() const;
  // The port layer's code for why the last Create failed (kAccessDenied, kFileNotFound...);
  // kSuccess after a Create that opened the port.
  int32_t OpenError() const { return m_iOpenError; }
  // The system's words for why the last Create failed ("Connection refused"); empty after a
  // Create that opened the port.
  const std::string& OpenErrorText() const { return m_strOpenErrorText; }

 private:
  // Opens `m_pPort` as `m_strPortName` and sets the line up; false with the port layer's code
  // in m_iOpenError and `why` filled, the port closed.
  bool OpenPort(std::string* why);
  void SetDescription(std::string text);

  ComSerialPort m_comPort;
  FtdiSerialPort m_ftdiPort;
  TcpSerialPort m_tcpPort;
  SerialPort* m_pPort = nullptr;
  std::unique_ptr<CComPortChannel> m_pChannel;
  std::unique_ptr<ModbusRtuProtocol> m_pProtocol;
  ConnectionSettings m_settings;
  std::string m_strPortName;  // what the port's Open takes: "\\.\COM9", the serial number or "host:port"
  mutable std::mutex m_descriptionMutex;
  std::string m_strDescription;
  int32_t m_iOpenError = 0;
  std::string m_strOpenErrorText;
};

// A port error code in plain words, with what to do about it where there is something to do.
std::string DescribePortError(int32_t code, const std::string& systemText);

// Reads the device's identity: input register 1 gives the name block (start in its low byte,
// length in registers in its high byte), the block holds the name two characters a register
// (low byte first), input registers 2 and 3 hold the version and the program version (major
// in the high byte). Each step's text goes to `status` and to the fault log. False, with the
// identity "Unknown" 0.00 0.00, when any read fails.
bool IdentifyDevice(ModbusRtuProtocol& modbus, DeviceIdentity& identity,
                    const std::function<void(const std::string&)>& status = {});

// Whether the profile is made for this device: the same name (case-insensitive) and version.
bool ProfileMatches(const DeviceProfile& profile, const DeviceIdentity& identity);
// The index of the profile the device matches (the last one when several do), or -1.
int FindMatchingProfile(const std::vector<DeviceProfile>& profiles, const DeviceIdentity& identity);
// One text per profile, "name version", with ".1", ".2", ... added where a text repeats.
std::vector<std::string> ProfileListTexts(const std::vector<DeviceProfile>& profiles);
