#include "comm/ConnectionSettings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include <array>
#include <utility>

namespace {

// The settings file of this program: ~/.config/Kelmora/<executable name>.conf on Linux (the
// registry key Kelmora\<executable name> on Windows).
QSettings Store() {
  QString application = QCoreApplication::applicationName();
  if (application.isEmpty()) application = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section('/', -1);
  if (application.isEmpty()) application = QStringLiteral("kelmora");
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelmora"), application);
}

// The whole-number entries: the eight of every version first, then the TCP ones.
template <typename Record>
auto Fields(Record& s) {
  return std::array{std::pair{"SerialType", &s.serialType},     std::pair{"SerialNumber", &s.serialNumber},
                    std::pair{"DeviceNumber", &s.deviceNumber}, std::pair{"BaudRate", &s.baudRate},
                    std::pair{"DataBits", &s.dataBits},         std::pair{"Parity", &s.parity},
                    std::pair{"StopBits", &s.stopBits},         std::pair{"ModbusSlaveNumber", &s.modbusSlaveNumber},
                    std::pair{"UseTcp", &s.useTcp},             std::pair{"TcpPort", &s.tcpPort}};
}

constexpr const char* kTcpHostEntry = "TcpHost";

}  // namespace

void ConnectionSettings::Load(const std::string& prefix) {
  QSettings store = Store();
  store.beginGroup(QString::fromStdString(prefix) + QStringLiteral("/Serial"));
  for (auto [name, field] : Fields(*this)) {
    bool ok = false;
    const int value = store.value(QLatin1String(name), *field).toInt(&ok);
    if (ok) *field = value;
  }
  const QVariant host = store.value(QLatin1String(kTcpHostEntry));
  if (host.isValid()) tcpHost = host.toString().trimmed().toStdString();
}

void ConnectionSettings::Save(const std::string& prefix) const {
  QSettings store = Store();
  store.beginGroup(QString::fromStdString(prefix) + QStringLiteral("/Serial"));
  for (auto [name, field] : Fields(*this)) store.setValue(QLatin1String(name), *field);
  store.setValue(QLatin1String(kTcpHostEntry), QString::fromStdString(tcpHost));
  store.sync();
}

namespace {

QString SettingKey(const std::string& section, const std::string& entry) {
  return QString::fromStdString(section).replace(QLatin1Char('\\'), QLatin1Char('/')) + QLatin1Char('/') +
         QString::fromStdString(entry);
}

}  // namespace

std::string ReadStoredSetting(const std::string& section, const std::string& entry) {
  return Store().value(SettingKey(section, entry)).toString().toStdString();
}

bool WriteStoredSetting(const std::string& section, const std::string& entry, const std::string& value) {
  QSettings store = Store();
  store.setValue(SettingKey(section, entry), QString::fromStdString(value));
  store.sync();
  return store.status() == QSettings::NoError;
}
