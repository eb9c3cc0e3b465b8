#include "app/KelmoraDlg.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "app/AboutDlg.h"
#include "app/AppTemplates.h"
#include "app/FirmwareWizard.h"
#include "app/Messages.h"
#include "app/MonitorPages.h"
#include "app/SetupDialog.h"
#include "app/SnapshotDlg.h"
#include "app/SpecialDialog.h"
#include "app/Status.h"
#include "app/TrafficDlg.h"
#include "comm/Connection.h"
#include "comm/FaultLog.h"
#include "visualobject/CustomObject.h"
#include "widgets/LogoArt.h"
#include "widgets/SplashScreen.h"
#include "widgets/TabCtrl.h"

using namespace templates::monitor;

const char* const CMonitorDlg::kAboutText = "&About Kelmora...";

CMonitorDlg::CMonitorDlg(CSplashScreen* splash, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint), m_pSplash(splash) {
  BuildDialog(templates::MonitorDialog(), this);
  connect(control<QPushButton>(this, kLoad), &QPushButton::clicked, this, &CMonitorDlg::OnLoad);
  connect(control<QPushButton>(this, kSave), &QPushButton::clicked, this, &CMonitorDlg::OnSave);
  connect(control<QPushButton>(this, kFirmware), &QPushButton::clicked, this, &CMonitorDlg::OnFirmware);
  for (int id : {kLoad, kSave, kFirmware}) control<QPushButton>(this, id)->setAutoDefault(false);
}

CMonitorDlg::~CMonitorDlg() { Close(); }

int CMonitorDlg::exec() {
  if (!OnInitDialog()) return result();
  return QDialog::exec();
}

bool CMonitorDlg::OnInitDialog() {
  ShowStartupStatus(m_pSplash, QT_TRANSLATE_NOOP("Startup", "Создание диалога..."));
  m_pAbout = new QAction(QString::fromLatin1(kAboutText), this);
  m_pAbout->setData(kAboutCommand);
  m_pAbout->setShortcut(QKeySequence::HelpContents);
  m_pAbout->setShortcutContext(Qt::WindowShortcut);
  connect(m_pAbout, &QAction::triggered, this, &CMonitorDlg::ShowAbout);
  addAction(m_pAbout);
  setWindowIcon(logoart::BadgeWindowIcon());

  m_sdialog = std::make_unique<CSetupDialog>(m_pSplash);
  emit WizardStarting(m_sdialog.get());
  const int answer = m_bAutoConnect ? m_sdialog->ExecAutoFinish() : m_sdialog->exec();
  if (answer != QDialog::Accepted) {
    m_sdialog.reset();  // deletes the wizard's connection
    if (m_pSplash) m_pSplash->hide();
    setResult(QDialog::Rejected);
    return false;
  }

  if (m_pSplash) m_pSplash->ShowCentered();
  ShowStartupStatus(m_pSplash, QT_TRANSLATE_NOOP("Startup", "Создание сервера представления..."));
  m_pConnection = m_sdialog->TakeConnection();
  m_modbusDev.SetProtocol(m_pConnection ? m_pConnection->Protocol() : nullptr);
  if (m_pConnection && m_pConnection->Protocol()) {
    if (SerialPort* port = m_pConnection->Port())
      m_traffic.SetLine(port->GetBaudrate(),
                        CTrafficLog::BitsPerCharacter(port->GetDataBits(), port->GetParity(), port->GetStopBits()));
    m_pConnection->Protocol()->exchangeTap = &m_traffic;
  }
  try {
    m_dvRepresentationServer = std::make_unique<CDeviceView>(m_sdialog->ReturnProfile(), &m_modbusDev);
  } catch (...) {
    KELMORA_EXCEPTION("m_dvRepresentationServer = new CDeviceView(m_sdialog.ReturnProfile(), m_modbusDev)");
  }
  if (m_dvRepresentationServer && m_pConnection) {
    // An unplugged adapter is reopened by the server's worker; the window hears of it queued.
    CConnection* connection = m_pConnection.get();
    m_dvRepresentationServer->SetReconnect([connection] { return connection->Reopen(); },
                                           [this](bool up) {
                                             QMetaObject::invokeMethod(this, [this, up] { OnLinkChanged(up); },
                                                                       Qt::QueuedConnection);
                                           });
  }
  if (m_dvRepresentationServer) {
    m_dvRepresentationServer->SetReadListener(&m_recorder);
    m_recorder.SetOnStopped([this](const std::string& why) {
      QMetaObject::invokeMethod(this, [this, text = QString::fromStdString(why)] { OnRecordingFailed(text); },
                                Qt::QueuedConnection);
    });
  }
  try {
    if (m_dvRepresentationServer) m_dvRepresentationServer->Create(this, 1300);
  } catch (...) {
    KELMORA_EXCEPTION("m_dvRepresentationServer->Create(this, 1300)");
  }
  m_profile = m_sdialog->ReturnProfile();
  m_identity = m_sdialog->Identity().name == DeviceIdentity{}.name ? m_profile.identity : m_sdialog->Identity();
  m_bProfileMatched = m_sdialog->ProfileMatched();

  SetInfo(kName, m_profile.identity.name);
  SetInfo(kVersion, m_profile.identity.version.Format());
  SetInfo(kProgram, m_profile.identity.programVersion.Format());

  m_pPages = std::make_unique<CMonitorPages>(this, control<CTabCtrl>(this, kTabs));
  m_pPages->Build(m_dvRepresentationServer.get(), m_pConnection ? m_pConnection->Channel() : nullptr, m_pSplash);
  m_sdialog.reset();
  return true;
}

void CMonitorDlg::SetInfo(int id, const std::string& text) {
  if (auto* label = control<QLabel>(this, id)) label->setText(QString::fromStdString(text));
}

void CMonitorDlg::OnLoad() { RunFlashCommand(false); }
void CMonitorDlg::OnSave() { RunFlashCommand(true); }

void CMonitorDlg::RunFlashCommand(bool save) {
  if (!m_dvRepresentationServer || m_bClosed) return;
  m_hFlashHandle = save ? m_dvRepresentationServer->RequestFlashSave() : m_dvRepresentationServer->RequestFlashLoad();
  RunLongQuery(m_hFlashHandle);
  ReadAgain(false);
}

void CMonitorDlg::ReadAgain(bool retriesToo) {
  if (!m_pPages) return;
  for (const auto& object : m_pPages->Objects()) {
    // A plug-in's component reads through handles of its own, for the same properties: a read
    // of the host object's own would only collide with them in the server's queue.
    if (dynamic_cast<CCustomObject*>(object.get()) != nullptr) continue;
    if (retriesToo) object->QueryNow();
    else object->InstantQuery(false);
  }
}

void CMonitorDlg::OnLinkChanged(bool up) {
  if (m_bClosed) return;
  m_bLinkLost = !up;
  UpdateStatusLines();
  if (!m_pPages) return;
  // Back: every object shows what the device holds now, as after a flash load; those waiting
  // to retry a request that timed out while the device was away retry at once.
  if (up) ReadAgain(true);
  else
    for (const auto& object : m_pPages->Objects()) object->ShowLinkLost();
}

void CMonitorDlg::UpdateStatusLines() {
  if (auto* status = control<QLabel>(this, kLinkStatus)) {
    // The same words as kelmora-cli prints (CDeviceView::kLinkLostText), translated.
    status->setText(m_bLinkLost ? tr("Связь с устройством потеряна, переподключение...") : QString());
    status->setVisible(m_bLinkLost);
  }
  auto* record = control<QLabel>(this, kRecordStatus);
  if (record == nullptr) return;
  const bool recording = m_recorder.Recording();
  if (recording) {
    const QString path = QString::fromStdString(m_recorder.Path());
    const QString name = record->fontMetrics().elidedText(QFileInfo(path).fileName(), Qt::ElideMiddle, record->width());
    record->setText(tr("Запись, строк: %1").arg(m_recorder.Rows()) + "\n" + name);
    record->setToolTip(path);
  }
  record->setVisible(recording && !m_bLinkLost);
}

bool CMonitorDlg::StartRecording(const QString& path, CValueRecorder::Format format, bool quiet) {
  std::string why;
  if (!m_recorder.Start(path.toStdString(), format, why)) {
    faultlog::PlainLine("Recording not started: " + why);
    if (!quiet) appmsg::Warning(this, tr("Запись не начата: %1.").arg(QString::fromStdString(why)), tr("Запись"));
    return false;
  }
  faultlog::PlainLine("Recording to " + path.toStdString());
  if (m_pRecordTimer == nullptr) {
    m_pRecordTimer = new QTimer(this);
    connect(m_pRecordTimer, &QTimer::timeout, this, &CMonitorDlg::UpdateStatusLines);
  }
  m_pRecordTimer->start(500);
  UpdateStatusLines();
  return true;
}

void CMonitorDlg::StopRecording() {
  if (!m_recorder.Recording()) return;
  m_recorder.Stop();
  faultlog::PlainLine("Recording ended: " + std::to_string(m_recorder.Rows()) + " rows in " + m_recorder.Path());
  if (m_pRecordTimer) m_pRecordTimer->stop();
  UpdateStatusLines();
}

void CMonitorDlg::OnRecordingFailed(const QString& why) {
  if (m_pRecordTimer) m_pRecordTimer->stop();
  UpdateStatusLines();
  faultlog::PlainLine("Recording stopped: " + why.toStdString());
  if (!m_bClosed)
    appmsg::Warning(this, tr("Запись остановлена: %1.\nЗаписано строк: %2.").arg(why).arg(m_recorder.Rows()),
                    tr("Запись"));
}

void CMonitorDlg::ChooseRecordingFile() {
  QString filter;
  const QString csv = tr("Таблица CSV (*.csv)"), jsonl = tr("JSON Lines (*.jsonl)");
  const QString path = QFileDialog::getSaveFileName(this, tr("Записывать значения в файл"), QString(),
                                                    csv + ";;" + jsonl, &filter);
  if (path.isEmpty()) return;
  // The chosen filter decides when the name has no extension of its own.
  const bool namedJson = CValueRecorder::FormatOf(path.toStdString()) == CValueRecorder::Format::JsonLines;
  StartRecording(path, namedJson || (QFileInfo(path).suffix().isEmpty() && filter == jsonl)
                           ? CValueRecorder::Format::JsonLines
                           : CValueRecorder::Format::Csv);
}

CTrafficDlg* CMonitorDlg::ShowTraffic() {
  if (!m_pTrafficDlg) {
    m_pTrafficDlg = new CTrafficDlg(&m_traffic, this);
    m_pTrafficDlg->setAttribute(Qt::WA_DeleteOnClose);
  }
  m_pTrafficDlg->show();
  m_pTrafficDlg->raise();
  m_pTrafficDlg->activateWindow();
  return m_pTrafficDlg;
}

bool CMonitorDlg::SaveConfiguration(const QString& path) {
  if (!m_dvRepresentationServer) return false;
  ConfigSnapshot snapshot;
  std::string why;
  const std::string profile = m_profile.identity.name + " " + m_profile.identity.version.Format();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool saved = configsnapshot::Take(*m_dvRepresentationServer, m_identity, profile, snapshot, why) &&
                     configsnapshot::Save(path.toStdString(), snapshot, why);
  QApplication::restoreOverrideCursor();
  if (!saved) {
    appmsg::Warning(this, tr("Конфигурация не сохранена: %1.").arg(QString::fromStdString(why)), tr("Конфигурация"));
    return false;
  }
  faultlog::PlainLine("Configuration saved to " + path.toStdString());
  appmsg::Information(this, tr("Настроек сохранено: %1, в файл %2.").arg(snapshot.values.size()).arg(path),
                      tr("Конфигурация"));
  return true;
}

bool CMonitorDlg::CompareConfiguration(const QString& path) {
  if (!m_dvRepresentationServer || m_bClosed) return false;
  ConfigSnapshot snapshot;
  std::string why;
  if (!configsnapshot::Load(path.toStdString(), snapshot, why)) {
    appmsg::Warning(this, QString::fromStdString(why) + ".", tr("Конфигурация"));
    return false;
  }
  if (!configsnapshot::MadeFor(snapshot, m_identity) &&
      !appmsg::Ask(this,
                   tr("Файл сделан для устройства %1, а подключено %2 %3. Сравнить и применить его всё равно?")
                       .arg(QString::fromStdString(configsnapshot::IdentityText(snapshot)),
                            QString::fromStdString(m_identity.name), QString::fromStdString(m_identity.version.Format())),
                   tr("Конфигурация")))
    return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::vector<SnapshotDifference> differences = configsnapshot::Compare(*m_dvRepresentationServer, snapshot);
  QApplication::restoreOverrideCursor();
  CSnapshotDlg dialog(m_dvRepresentationServer.get(), path, std::move(snapshot), std::move(differences),
                      [this] { RunFlashCommand(true); }, this);
  dialog.exec();
  // The pages show what the device holds now.
  ReadAgain(false);
  return true;
}

void CMonitorDlg::ChooseConfigurationToSave() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Сохранить конфигурацию"), QStringLiteral("configuration.json"),
                                                    tr("Конфигурация (*.json);;Все файлы (*)"));
  if (!path.isEmpty()) SaveConfiguration(path);
}

void CMonitorDlg::ChooseConfigurationToCompare() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Сравнить с конфигурацией"), QString(),
                                                    tr("Конфигурация (*.json);;Все файлы (*)"));
  if (!path.isEmpty()) CompareConfiguration(path);
}

void CMonitorDlg::RunLongQuery(const QueryHandle& handle) {
  CSpecialDialog wait(m_dvRepresentationServer.get(), handle, this);
  wait.exec();
}

void CMonitorDlg::OnFirmware() {
  if (m_bClosed || !m_pConnection) return;
  RunFirmwareUpdate(this, m_pConnection->Channel(), m_profile, m_bProfileMatched, m_dvRepresentationServer.get());
}

void CMonitorDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMonitorDlg::OnQueueReadout(quint32 w) {
  if (auto* readout = control<QLabel>(this, kQueueReadout))
    readout->setText(QString::asprintf(" qc = %d, cur = %d", static_cast<int>(w >> 16),
                                       static_cast<int>(static_cast<qint16>(w & 0xFFFF))));
}

void CMonitorDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_pAbout == nullptr) return;
  QMenu menu(this);
  FillContextMenu(menu);
  menu.exec(event->globalPos());
}

void CMonitorDlg::FillContextMenu(QMenu& menu) {
  if (m_dvRepresentationServer) {
    if (m_recorder.Recording())
      menu.addAction(tr("Остановить запись"), this, &CMonitorDlg::StopRecording);
    else
      menu.addAction(tr("Записывать значения..."), this, &CMonitorDlg::ChooseRecordingFile);
    menu.addAction(tr("Монитор обмена..."), this, &CMonitorDlg::ShowTraffic);
    menu.addAction(tr("Сохранить конфигурацию..."), this, &CMonitorDlg::ChooseConfigurationToSave);
    menu.addAction(tr("Сравнить с конфигурацией..."), this, &CMonitorDlg::ChooseConfigurationToCompare);
  }
  // Each language is named in its own words, so that it is found whatever the current one.
  QMenu* languages = menu.addMenu(tr("Язык"));
  for (const auto& [choice, name] : {std::pair{language::Language::Russian, "Русский"},
                                     std::pair{language::Language::English, "English"}}) {
    QAction* action = languages->addAction(QString::fromUtf8(name), this, [this, choice] { ChooseLanguage(choice); });
    action->setCheckable(true);
    action->setChecked(choice == language::Current());
  }
  menu.addSeparator();
  if (m_pAbout) menu.addAction(m_pAbout);
}

void CMonitorDlg::ChooseLanguage(language::Language chosen) {
  if (!language::Store(chosen)) {
    appmsg::Warning(this, tr("Выбор языка не сохранён: нет доступа к файлу настроек."));
    return;
  }
  // The windows take their texts as they are made, so the choice shows from the next start.
  if (chosen != language::Current())
    appmsg::Information(this, tr("Kelmora будет на выбранном языке со следующего запуска."));
}

void CMonitorDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CMonitorDlg::done(int result) {
  Close();
  QDialog::done(result);
}

void CMonitorDlg::Close() {
  if (m_bClosed) return;
  m_bClosed = true;
  if (m_pRecordTimer) m_pRecordTimer->stop();
  // The server stops first, so no object's request is answered after the objects went away.
  if (m_pPages) {
    m_pPages->Shutdown();
  } else if (m_dvRepresentationServer) {
    m_dvRepresentationServer->Shutdown();
  }
  // No read comes after the server stopped: the recording is complete.
  if (m_recorder.Recording()) StopRecording();
}
