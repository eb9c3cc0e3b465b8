// The connection settings: how to reach the device (which port, adapter or TCP address, line
// parameters, Modbus slave address), kept per user between runs.
//
// The first eight entries are those every version of the program reads and writes. The TCP
// entries were added after them; a program that does not know them finds its eight unchanged
// (with TCP chosen, "SerialType" keeps the last COM or FTDI choice) and opens that port.
#pragma once

#include <cstdint>
#include <string>

struct ConnectionSettings {
  int32_t serialType = 0;         // "SerialType": 0 a COM port, otherwise an FTDI adapter
  int32_t serialNumber = 1;       // "SerialNumber": n of COMn
  int32_t deviceNumber = 0;       // "DeviceNumber": index in the FTDI adapter list
  int32_t baudRate = 9600;        // "BaudRate"
  int32_t dataBits = 8;           // "DataBits"
  int32_t parity = 0;             // "Parity": 0 none, 1 odd, 2 even, 3 mark, 4 space
  int32_t stopBits = 0;           // "StopBits": 0 one, 1 one and a half, 2 two
  int32_t modbusSlaveNumber = 0;  // "ModbusSlaveNumber"
  int32_t useTcp = 0;             // "UseTcp": 1 the device is reached over TCP, then the two below
  std::string tcpHost{};          // "TcpHost": the converter's host name or IP address
  int32_t tcpPort = 4001;         // "TcpPort": its TCP port (4001: a Moxa NPort's first port)

  // Reads the values from the section `prefix` + "/Serial"; a missing value keeps what the
  // record holds.
  void Load(const std::string& prefix);
  // Writes them to the same section.
  void Save(const std::string& prefix) const;

  bool operator==(const ConnectionSettings&) const = default;
};

// The section the program keeps its own settings in.
inline constexpr const char* kSettingsSection = "Settings";

// One stored setting of the program, in the same store as the connection settings. `section`
// separates its levels with "\" ("Settings\Display"). Empty when absent.
std::string ReadStoredSetting(const std::string& section, const std::string& entry);
// Stores `value`; false when the store could not be written.
bool WriteStoredSetting(const std::string& section, const std::string& entry, const std::string& value);
