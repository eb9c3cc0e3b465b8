#include "comm/Connection.h"

#include <algorithm>
#include <cctype>

#include "comm/FaultLog.h"

using namespace comm_error;

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

std::string DescribePortError(int32_t code, const std::string& systemText) {
  std::string words;
  switch (code) {
    case kFileNotFound: words = "the port does not exist"; break;
    case kAccessDenied:
      words = "permission denied (add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again)";
      break;
    case kBusy: words = "the port is busy (another program holds it)"; break;
    case kDeviceNotConnected: words = "the device is not connected"; break;
    case kInvalidParameter: words = "the line settings are not supported by the port"; break;
    default: words = "error " + std::to_string(code); break;
  }
  if (!systemText.empty()) words += " [" + systemText + "]";
  return words;
}

std::string CConnection::Description() const {
  std::lock_guard lock(m_descriptionMutex);
  return m_strDescription;
}

void CConnection::SetDescription(std::string text) {
  std::lock_guard lock(m_descriptionMutex);
  m_strDescription = std::move(text);
}

void CConnection::Close() {
  m_pProtocol.reset();
  m_pChannel.reset();  // closes the port
  if (m_pPort != nullptr) m_pPort->Close();
  m_pPort = nullptr;
  SetDescription({});
}

bool CConnection::Create(const ConnectionSettings& settings, std::string* why) {
  Close();
  m_iOpenError = kSuccess;
  m_strOpenErrorText.clear();
  m_settings = settings;
  if (settings.useTcp != 0) {
    m_pPort = &m_tcpPort;
    m_strPortName = FormatTcpAddress(settings.tcpHost, settings.tcpPort);
  } else if (settings.serialType != 0) {
    char serial[64] = {};
    if (FtdiSerialNumberByIndex(settings.deviceNumber, serial) != 0) {
      m_iOpenError = kFileNotFound;
      if (why != nullptr) *why = "no FTDI adapter at index " + std::to_string(settings.deviceNumber);
      return false;
    }
    m_pPort = &m_ftdiPort;
    m_strPortName = serial;
  } else {
    m_pPort = &m_comPort;
    m_strPortName = "\\\\.\\COM" + std::to_string(settings.serialNumber);
  }
  if (!OpenPort(why)) {
    m_pPort = nullptr;
    return false;
  }
  try {
    m_pChannel = std::make_unique<CComPortChannel>(m_pPort);
    m_pProtocol = std::make_unique<ModbusRtuProtocol>(m_pChannel.get(), static_cast<uint16_t>(settings.modbusSlaveNumber), 100);
  } catch (...) {
    KELMORA_FAULT("Modbus RTU Protocol Creation Failed (Unknown exception raised)");
    Close();
    if (why != nullptr) *why = "the connection could not be built";
    return false;
  }
  return true;
}

bool CConnection::OpenPort(std::string* why) {
  if (m_settings.useTcp != 0) {
    SetDescription("TCP " + m_strPortName);
  } else if (m_settings.serialType != 0) {
    SetDescription("FTDI " + m_strPortName);
  } else {
    const std::string path = ResolveComPort(m_settings.serialNumber);
    SetDescription("COM" + std::to_string(m_settings.serialNumber) + (path.empty() ? "" : " (" + path + ")"));
  }
  m_pPort->SetupReadTimeouts(0);
  m_pPort->Open(m_strPortName, 0, 0, true);
  if (!m_pPort->IsOpen()) {
    m_iOpenError = m_pPort->lastError;
    m_strOpenErrorText = m_pPort->GetLastErrorText();
    if (why != nullptr) {
      // A connection's failure is the system's own words (refused, unreachable, no answer, an
      // unknown name); the serial ports' codes have plain words of their own.
      *why = Description() + ": " + (m_settings.useTcp != 0 ? "no connection: " + m_pPort->GetLastErrorText()
                                                             : DescribePortError(m_pPort->lastError, m_pPort->GetLastErrorText()));
    }
    return false;
  }
  const int32_t setup = m_pPort->Setup(static_cast<uint32_t>(m_settings.baudRate), static_cast<uint8_t>(m_settings.dataBits),
                                       static_cast<uint8_t>(m_settings.parity), static_cast<uint8_t>(m_settings.stopBits));
  if (setup != kSuccess) {
    // Communicating at the wrong speed would only produce noise: report it instead.
    m_iOpenError = setup;
    m_strOpenErrorText = m_pPort->GetLastErrorText();
    if (why != nullptr) *why = Description() + ": " + DescribePortError(setup, m_pPort->GetLastErrorText());
    m_pPort->Close();
    return false;
  }
  m_pPort->SetupHandshaking(0);
  m_pPort->Purge();
  return true;
}

bool CConnection::Reopen() {
  if (!m_pChannel || m_pPort == nullptr) return false;
  m_pPort->Close();
  if (!OpenPort(nullptr)) return false;
  m_iOpenError = kSuccess;
  m_strOpenErrorText.clear();
  m_pChannel->ClearLineLost();
  faultlog::PlainLine("Port reopened: " + Description());
  return true;
}

bool IdentifyDevice(ModbusRtuProtocol& modbus, DeviceIdentity& identity,
                    const std::function<void(const std::string&)>& status) {
  auto step = [&](const char* text) {
    faultlog::PlainLine(text);
    if (status) status(text);
  };
  auto unknown = [&] {
    identity = DeviceIdentity{};
    identity.name = "Unknown";
    identity.version = Version{0, 0};
    identity.programVersion = Version{0, 0};
    return false;
  };
  step("Searching auto-detection capabilities...");
  ModbusAnswer answer = modbus.ReadInputRegisters(1, 1);
  if (answer.code != 0 || answer.values.empty()) return unknown();
  const uint32_t block = static_cast<uint32_t>(answer.values[0]) & 0xFFFF;
  const uint16_t start = block & 0xFF, length = (block >> 8) & 0xFF;

  step("Reading device name...");
  answer = modbus.ReadInputRegisters(start, length);
  if (answer.code != 0 || answer.values.size() != length) return unknown();
  std::string name;
  for (int32_t value : answer.values) {
    name += static_cast<char>(value & 0xFF);
    name += static_cast<char>((value >> 8) & 0xFF);
  }
  // A name of odd length, or shorter than its block, ends in zero bytes that are not part of it.
  name.resize(std::min(name.size(), name.find('\0')));

  step("Reading device version...");
  answer = modbus.ReadInputRegisters(2, 1);
  if (answer.code != 0 || answer.values.empty()) return unknown();
  const int32_t version = answer.values[0];

  step("Reading program version...");
  answer = modbus.ReadInputRegisters(3, 1);
  if (answer.code != 0 || answer.values.empty()) return unknown();
  const int32_t program = answer.values[0];

  identity.name = name;
  identity.version = Version{(version >> 8) & 0xFF, version & 0xFF};
  identity.programVersion = Version{(program >> 8) & 0xFF, program & 0xFF};
  return true;
}

bool ProfileMatches(const DeviceProfile& profile, const DeviceIdentity& identity) {
  return SameName(profile.identity.name, identity.name) && profile.identity.version == identity.version;
}

int FindMatchingProfile(const std::vector<DeviceProfile>& profiles, const DeviceIdentity& identity) {
  int match = -1;
  for (size_t i = 0; i < profiles.size(); ++i)
    if (ProfileMatches(profiles[i], identity)) match = static_cast<int>(i);
  return match;
}

std::vector<std::string> ProfileListTexts(const std::vector<DeviceProfile>& profiles) {
  std::vector<std::string> texts;
  for (const DeviceProfile& profile : profiles) {
    const std::string base = profile.identity.name + " " + profile.identity.version.Format();
    std::string text = base;
    for (int n = 1; std::find(texts.begin(), texts.end(), text) != texts.end(); ++n) text = base + "." + std::to_string(n);
    texts.push_back(text);
  }
  return texts;
}
