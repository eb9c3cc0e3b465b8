#include "app/SetupDialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "XMLParser/XDeviceProfileManager.h"
#include "app/AppTemplates.h"
#include "app/Messages.h"
#include "app/SetupPages.h"
#include "app/Status.h"
#include "comm/Connection.h"
#include "comm/FaultLog.h"
#include "platform/CommTypes.h"
#include "widgets/SplashScreen.h"

using namespace templates::setup;

namespace {

void HideSplash(CSplashScreen* splash) {
  if (splash != nullptr) splash->hide();
}

void ShowSplash(CSplashScreen* splash) {
  if (splash != nullptr) splash->ShowCentered();
}

}  // namespace

void ShowStartupStatus(CSplashScreen* splash, const char* text) {
  if (splash != nullptr) splash->SetStatusText(QCoreApplication::translate(kStartupContext, text));
  faultlog::PlainLine(text);
}

CSetupDialog::CSetupDialog(CSplashScreen* splash, QWidget* parent) : QDialog(parent), m_pSplash(splash) {
  BuildDialog(templates::SetupDialog(), this);
  setFixedSize(size());
  if (auto* header = control<QLabel>(this, kHeader)) {
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
  }
  connect(Button(kNext), &QPushButton::clicked, this, &CSetupDialog::OnNext);
  connect(Button(kBack), &QPushButton::clicked, this, &CSetupDialog::OnBack);
  connect(Button(kFinish), &QPushButton::clicked, this, &CSetupDialog::OnFinish);
  connect(Button(kCancel), &QPushButton::clicked, this, &QDialog::reject);
  for (int id : {kNext, kBack, kFinish, kCancel}) Button(id)->setAutoDefault(false);
}

CSetupDialog::~CSetupDialog() = default;

QPushButton* CSetupDialog::Button(int id) const { return control<QPushButton>(this, id); }

ConnectionSettings CSetupDialog::DefaultSettings() {
  ConnectionSettings settings;
  settings.serialNumber = 9;
  settings.baudRate = 38400;
  settings.modbusSlaveNumber = 10;
  return settings;
}

int CSetupDialog::exec() {
  Open();
  return QDialog::exec();
}

int CSetupDialog::ExecAutoFinish() {
  Open();
  if (m_pConnection != nullptr && m_bProfileMatched) {
    OnFinish();
    return result();
  }
  return QDialog::exec();
}

void CSetupDialog::Open() {
  if (m_bOpened) return;
  m_bOpened = true;
  SetHeader(tr("Загрузка системы"));
  ShowStartupStatus(m_pSplash, QT_TRANSLATE_NOOP("Startup", "Загружаем профили устройств..."));
  try {
    m_Manager = std::make_unique<CXDeviceProfileManager>();
  } catch (...) {
    KELMORA_EXCEPTION("m_Manager = new CXDeviceProfileManager()");
  }

  ShowStartupStatus(m_pSplash, QT_TRANSLATE_NOOP("Startup", "Создаем окна..."));
  m_pSerial = new CViewSerial(this);
  m_pProfiles = new CViewProfiles(this);
  PlacePage(m_pSerial);
  PlacePage(m_pProfiles);
  m_settings = DefaultSettings();
  m_settings.Load(kSettingsSection);
  m_pSerial->ShowSettings(m_settings);

  SetHeader(tr("Создаем соединение"));
  SetInformation(tr("Инициализация связи..."));
  ShowStartupStatus(m_pSplash, QT_TRANSLATE_NOOP("Startup", "Открываем порт связи..."));
  m_pConnection = __CreateConnection(m_settings);
  if (m_pConnection == nullptr) {
    ShowSerialPage();
  } else {
    Detect();
  }
}

void CSetupDialog::PlacePage(QWidget* page) {
  const QWidget* frame = control(this, kPageFrame);
  if (KELMORA_ASSERT_NOT_NULL(frame)) page->setGeometry(frame->geometry());
  page->hide();
}

std::unique_ptr<CConnection> CSetupDialog::__CreateConnection(const ConnectionSettings& settings,
                                                              PortFailure* failure) {
  auto connection = std::make_unique<CConnection>();
  std::string why;
  if (!connection->Create(settings, &why)) {
    faultlog::PlainLine(why);  // the whole story, for the fault log
    if (failure != nullptr) *failure = {connection->Description(), connection->OpenError(), connection->OpenErrorText()};
    return nullptr;
  }
  return connection;
}

QString CSetupDialog::OpenFailureText(const PortFailure& failure) {
  QString text = tr("Неудалось открыть порт");
  // Serial ports belong to the group "dialout"; a user outside it is refused. (An FTDI
  // adapter refuses for another reason: a program holds it.)
  if (failure.code == comm_error::kAccessDenied && failure.device.rfind("COM", 0) == 0) {
    text += tr("\n\nНет доступа к порту %1: ваша учётная запись не входит в группу dialout. "
               "Добавьте её командой\n\n    sudo usermod -aG dialout $USER\n\n"
               "затем выйдите из системы и войдите снова.")
                .arg(QString::fromStdString(failure.device));
  }
  // A connection through a converter fails for reasons of the network (refused, unreachable,
  // no answer, an unknown name): the message names the address and the system's reason.
  if (failure.device.rfind("TCP ", 0) == 0) {
    text += tr("\n\nНет соединения с %1").arg(QString::fromStdString(failure.device.substr(4)));
    if (!failure.reason.empty()) text += QStringLiteral(": ") + QString::fromStdString(failure.reason);
    text += QLatin1Char('.');
  }
  return text;
}

std::unique_ptr<CConnection> CSetupDialog::TakeConnection() { return std::move(m_pConnection); }

void CSetupDialog::SetHeader(const QString& header) {
  if (auto* label = control<QLabel>(this, kHeader)) label->setText(header);
}

void CSetupDialog::SetInformation(const QString& information) {
  if (auto* label = control<QLabel>(this, kInformation)) label->setText(information);
}

void CSetupDialog::ShowSerialPage() {
  m_pConnection.reset();  // closes the port of an earlier connection
  SetHeader(tr("Настройки последовательного порта"));
  SetInformation(tr("Выберете настройки последовательного порта и нажмите \"Далее\" для запуска поиска устройств"));
  m_pSerial->show();
  m_pProfiles->hide();
  Button(kNext)->setEnabled(true);
  Button(kBack)->setEnabled(false);
  Button(kFinish)->setEnabled(false);
  Button(kNext)->setDefault(true);
  HideSplash(m_pSplash);
  raise();
  activateWindow();
}

void CSetupDialog::OnNext() {
  ShowSplash(m_pSplash);
  m_pConnection.reset();
  m_settings = m_pSerial->Settings();
  ShowStartupStatus(m_pSplash, QT_TRANSLATE_NOOP("Startup", "Открываем порт связи..."));
  PortFailure failure;
  try {
    m_pConnection = __CreateConnection(m_settings, &failure);
  } catch (...) {
    KELMORA_EXCEPTION("m_pProtocol = __CreateConnection(m_settings)");
    m_pConnection.reset();
  }
  if (m_pConnection == nullptr) {
    HideSplash(m_pSplash);
    appmsg::Error(this, OpenFailureText(failure));
    ShowSerialPage();
    return;
  }
  Detect();
}

void CSetupDialog::OnBack() { ShowSerialPage(); }

void CSetupDialog::Detect() {
  for (int id : {kNext, kBack, kFinish}) Button(id)->setEnabled(true);
  ShowStartupStatus(m_pSplash, QT_TRANSLATE_NOOP("Startup", "Определение устройства..."));
  const bool identified = IdentifyDevice(*m_pConnection->Protocol(), m_identity, [this](const std::string& text) {
    if (m_pSplash) m_pSplash->SetStatusText(QString::fromStdString(text));
  });
  if (identified) {
    QString information = tr("Программа обнаружила устройство ") + QString::fromStdString(m_identity.name) +
                          QLatin1Char(' ') + QString::fromStdString(m_identity.version.Format());
    const bool found = m_Manager != nullptr && FindMatchingProfile(m_Manager->GetProfiles(), m_identity) >= 0;
    if (found) {
      SetHeader(tr("Готовы к работе"));
      m_bProfileMatched = true;
      information += tr(" и нашла профиль для них");
    } else {
      SetHeader(tr("Настройки профиля устройства"));
      information += tr(" ,но не нашла профиль для него");
    }
    SetInformation(information);
  } else {
    SetHeader(tr("Настройки профиля устройства"));
    SetInformation(tr("Неизвестное устройство"));
  }
  m_pProfiles->SetDevice(m_identity, m_Manager.get());
  m_pProfiles->Refresh();
  m_pProfiles->show();
  m_pSerial->hide();
  HideSplash(m_pSplash);
  raise();
  activateWindow();
  Button(kNext)->setDefault(false);
  Button(kFinish)->setDefault(true);
}

void CSetupDialog::OnFinish() {
  const int selected = m_pProfiles->Selection();
  if (selected < 0 || m_Manager == nullptr) {
    appmsg::Error(this, QStringLiteral("Initialization failed"));
    reject();
    return;
  }
  try {
    m_profile = m_Manager->GetProfile(static_cast<size_t>(selected));
  } catch (const std::exception& error) {
    KELMORA_FAULT("Get Profile for Profile List");
    faultlog::PlainLine(error.what());
    faultlog::PlainLine("");
    faultlog::PlainLine("");
    appmsg::Error(this, QStringLiteral("Initialization failed"));
    reject();
    return;
  }
  const bool unknown = m_identity.name == "Unknown" && m_identity.version == Version{0, 0} &&
                       m_identity.programVersion == Version{0, 0};
  if (!unknown && ProfileMatches(m_profile, m_identity)) m_bProfileMatched = true;
  m_settings.Save(kSettingsSection);
  accept();
}

void CSetupDialog::paintEvent(QPaintEvent* event) {
  // The header band behind the header and information texts, as wizards draw it.
  const QWidget* frame = control(this, kPageFrame);
  const int bottom = frame != nullptr ? frame->y() - 6 : 0;
  QPainter painter(this);
  painter.fillRect(QRect(0, 0, width(), bottom), palette().base());
  painter.setPen(palette().mid().color());
  painter.drawLine(0, bottom, width(), bottom);
  if (const QWidget* back = Button(kBack)) {
    const int y = back->y() - 6;
    painter.drawLine(0, y, width(), y);
  }
  QDialog::paintEvent(event);
}
