#include "app/SetupPages.h"

#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include "XMLParser/XDeviceProfileManager.h"
#include "app/AppTemplates.h"
#include "comm/Connection.h"
#include "comm/FaultLog.h"
#include "platform/ComSerialPort.h"
#include "platform/FtdiSerialPort.h"
#include "widgets/AdvComboBox.h"

using namespace templates::serial;

namespace {

// Selects the item whose data is `value`; none when no item has it.
void SelectByData(AdvComboBox* combo, int value) {
  if (combo != nullptr) combo->setCurrentIndex(combo->findData(value));
}

void AddItem(AdvComboBox* combo, const QString& text, int value) {
  if (combo == nullptr) return;
  const int index = combo->AddItem(-1, text);
  if (index >= 0) combo->setItemData(index, value);
}

}  // namespace

CViewSerial::CViewSerial(QWidget* parent) : QWidget(parent) {
  BuildDialog(templates::SerialPage(), this);
  for (int id : {kComList, kFtdiList, kBaud, kDataBits, kParity, kStopBits}) {
    auto* combo = control<AdvComboBox>(this, id);
    if (!KELMORA_ASSERT_NOT_NULL(combo)) continue;
    combo->setEditable(false);  // the lists offer what the port layer can do, nothing typed
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { ReadControls(); });
  }
  for (int i = 0; i < static_cast<int>(std::size(kBaudRates)); ++i)
    AddItem(control<AdvComboBox>(this, kBaud), QString::number(kBaudRates[i]), kBaudRates[i]);
  for (int bits = 5; bits <= 8; ++bits) AddItem(control<AdvComboBox>(this, kDataBits), QString::asprintf("%d", bits), bits);
  const char* parities[] = {"None", "Odd", "Even"};
  for (int i = 0; i < 3; ++i) AddItem(control<AdvComboBox>(this, kParity), QString::fromLatin1(parities[i]), i);
  const char* stops[] = {"1", "1.5", "2"};
  for (int i = 0; i < 3; ++i) AddItem(control<AdvComboBox>(this, kStopBits), QString::fromLatin1(stops[i]), i);

  if (auto* useCom = control<QRadioButton>(this, kUseCom))
    connect(useCom, &QRadioButton::clicked, this, [this] { SelectSerialType(kComPort); });
  if (auto* useFtdi = control<QRadioButton>(this, kUseFtdi))
    connect(useFtdi, &QRadioButton::clicked, this, [this] { SelectSerialType(kFtdiAdapter); });
  if (auto* useTcp = control<QRadioButton>(this, kUseTcp)) {
    useTcp->setToolTip(tr("Устройство за преобразователем RS-485/Ethernet в режиме TCP-сервера: "
                          "кадры Modbus RTU идут по TCP без изменений"));
    connect(useTcp, &QRadioButton::clicked, this, [this] { SelectSerialType(kTcpConnection); });
  }
  if (QLineEdit* host = TcpHost()) {
    host->setToolTip(tr("Имя или IP-адрес преобразователя (IPv4 или IPv6)"));
    host->setMaxLength(253);  // the longest host name DNS allows
  }
  if (QLineEdit* port = TcpPort()) {
    port->setToolTip(tr("TCP-порт преобразователя, от 1 до 65535"));
    port->setValidator(new QIntValidator(1, 65535, port));
    port->setMaxLength(5);
  }
  for (int id : {kSlave, kTcpHost, kTcpPort})
    if (auto* edit = control<QLineEdit>(this, id)) connect(edit, &QLineEdit::textEdited, this, [this] { ReadControls(); });
}

AdvComboBox* CViewSerial::ComList() const { return control<AdvComboBox>(this, kComList); }
AdvComboBox* CViewSerial::FtdiList() const { return control<AdvComboBox>(this, kFtdiList); }
QLineEdit* CViewSerial::TcpHost() const { return control<QLineEdit>(this, kTcpHost); }
QLineEdit* CViewSerial::TcpPort() const { return control<QLineEdit>(this, kTcpPort); }

void CViewSerial::FillPortLists() {
  if (AdvComboBox* com = ComList()) {
    com->clear();
    std::vector<int> numbers;
    ComPortList(numbers);
    for (int number : numbers) {
      const int index = com->AddItem(-1, QString::asprintf("COM%d", number));
      if (index < 0) continue;
      com->setItemData(index, number);
      // Which Linux device the number stands for: shown on the item and, once chosen, on the list.
      com->setItemData(index, QString::fromStdString(ResolveComPort(number)), Qt::ToolTipRole);
    }
  }
  if (AdvComboBox* ftdi = FtdiList()) {
    ftdi->clear();
    FtdiDeviceList adapters;
    adapters.Refresh();
    FtdiDeviceItem item;
    while (adapters.Next(item)) {
      QString text = QString::fromStdString(item.Serial());
      if (const std::string description = item.Description(); !description.empty())
        text += QStringLiteral(" (") + QString::fromStdString(description) + QLatin1Char(')');
      AddItem(ftdi, text, static_cast<int>(item.index));
    }
  }
}

void CViewSerial::ShowSettings(const ConnectionSettings& settings) {
  m_bFilling = true;
  FillPortLists();
  SelectByData(ComList(), settings.serialNumber);
  SelectByData(FtdiList(), settings.deviceNumber);
  auto* baud = control<AdvComboBox>(this, kBaud);
  if (baud != nullptr && baud->findData(settings.baudRate) < 0)  // a rate stored by hand stays offered
    AddItem(baud, QString::number(settings.baudRate), settings.baudRate);
  SelectByData(baud, settings.baudRate);
  SelectByData(control<AdvComboBox>(this, kDataBits), settings.dataBits);
  SelectByData(control<AdvComboBox>(this, kParity), settings.parity);
  SelectByData(control<AdvComboBox>(this, kStopBits), settings.stopBits);
  if (auto* slave = control<QLineEdit>(this, kSlave)) slave->setText(QString::number(settings.modbusSlaveNumber));
  if (QLineEdit* host = TcpHost()) host->setText(QString::fromStdString(settings.tcpHost));
  if (QLineEdit* port = TcpPort()) port->setText(settings.tcpPort > 0 ? QString::number(settings.tcpPort) : QString());
  m_bFilling = false;
  m_settings = settings;
  m_shown = settings;
  SelectSerialType(settings.useTcp != 0 ? kTcpConnection : settings.serialType != 0 ? kFtdiAdapter : kComPort);
}

void CViewSerial::SelectSerialType(PortKind kind) {
  if (auto* useCom = control<QRadioButton>(this, kUseCom)) useCom->setChecked(kind == kComPort);
  if (auto* useFtdi = control<QRadioButton>(this, kUseFtdi)) useFtdi->setChecked(kind == kFtdiAdapter);
  if (auto* useTcp = control<QRadioButton>(this, kUseTcp)) useTcp->setChecked(kind == kTcpConnection);
  if (AdvComboBox* com = ComList()) com->setEnabled(kind == kComPort);
  if (AdvComboBox* ftdi = FtdiList()) ftdi->setEnabled(kind == kFtdiAdapter);
  if (QLineEdit* host = TcpHost()) host->setEnabled(kind == kTcpConnection);
  if (QLineEdit* port = TcpPort()) port->setEnabled(kind == kTcpConnection);
  ReadControls();
}

void CViewSerial::ReadControls() {
  if (m_bFilling) return;
  auto value = [this](int id, int fallback) {
    const auto* combo = control<AdvComboBox>(this, id);
    return combo != nullptr && combo->currentIndex() >= 0 ? combo->currentData().toInt() : fallback;
  };
  const auto* useFtdi = control<QRadioButton>(this, kUseFtdi);
  const auto* useTcp = control<QRadioButton>(this, kUseTcp);
  m_settings.useTcp = useTcp != nullptr && useTcp->isChecked() ? 1 : 0;
  if (m_settings.useTcp == 0) {
    m_settings.serialType = useFtdi != nullptr && useFtdi->isChecked() ? 1 : 0;
    m_settings.serialNumber = value(kComList, -1);
    const auto* ftdi = FtdiList();
    m_settings.deviceNumber = ftdi != nullptr ? ftdi->currentIndex() : -1;
  } else {
    // With TCP chosen, the serial choice stays as it was shown: a program that knows only the
    // COM port and the FTDI adapter still finds the port it used.
    m_settings.serialType = m_shown.serialType;
    m_settings.serialNumber = m_shown.serialNumber;
    m_settings.deviceNumber = m_shown.deviceNumber;
  }
  if (const QLineEdit* host = TcpHost()) m_settings.tcpHost = host->text().trimmed().toStdString();
  if (const QLineEdit* port = TcpPort()) m_settings.tcpPort = port->text().toInt();  // 0 when empty: refused on opening
  m_settings.baudRate = value(kBaud, m_settings.baudRate);
  m_settings.dataBits = value(kDataBits, m_settings.dataBits);
  m_settings.parity = value(kParity, m_settings.parity);
  m_settings.stopBits = value(kStopBits, m_settings.stopBits);
  if (const auto* slave = control<QLineEdit>(this, kSlave)) m_settings.modbusSlaveNumber = slave->text().toInt();
  if (AdvComboBox* com = ComList()) com->setToolTip(com->currentData(Qt::ToolTipRole).toString());
}

CViewProfiles::CViewProfiles(QWidget* parent) : QWidget(parent) {
  BuildDialog(templates::ProfilesPage(), this,
              {{templates::profiles::kList, [](const ControlTemplate&, QWidget* page) -> QWidget* {
                  auto* list = new QListWidget(page);
                  list->setSelectionMode(QAbstractItemView::SingleSelection);
                  return list;
                }}});
}

QListWidget* CViewProfiles::List() const { return control<QListWidget>(this, templates::profiles::kList); }

void CViewProfiles::SetDevice(const DeviceIdentity& identity, const CXDeviceProfileManager* manager) {
  m_identity = identity;
  m_pManager = manager;
}

void CViewProfiles::Refresh() {
  using namespace templates::profiles;
  if (auto* name = control<QLabel>(this, kName)) name->setText(QString::fromStdString(m_identity.name));
  if (auto* version = control<QLabel>(this, kVersion)) version->setText(QString::fromStdString(m_identity.version.Format()));
  if (auto* program = control<QLabel>(this, kProgram))
    program->setText(QString::fromStdString(m_identity.programVersion.Format()));
  QListWidget* list = List();
  if (!KELMORA_ASSERT_NOT_NULL(list)) return;
  list->clear();
  if (m_pManager == nullptr) return;
  for (const std::string& text : ProfileListTexts(m_pManager->GetProfiles()))
    list->addItem(QString::fromStdString(text));
  const int match = FindMatchingProfile(m_pManager->GetProfiles(), m_identity);
  list->setCurrentRow(match);  // -1 leaves the list without a selection
  if (match < 0) list->clearSelection();
}

int CViewProfiles::Selection() const {
  const QListWidget* list = List();
  if (list == nullptr) return -1;
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}
