#include "app/FirmwareWizard.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <cstdio>
#include <memory>
#include <string>

#include "app/Messages.h"
#include "comm/ComPortChannel.h"
#include "comm/ConnectionSettings.h"
#include "firmware/FlashLoader.h"
#include "platform/Clock.h"
#include "widgets/DialogUnits.h"
#include "widgets/GradientProgressCtrl.h"

namespace {

constexpr const char* kLastFlashFile = "LastFlashFile";
// The caption of boxes that have none of their own, as the rest of the program uses.
constexpr const char* kLoaderCaption = "Loader";

// Both pages have this size, in dialog units.
constexpr int kPageCx = 260, kPageCy = 116;

}  // namespace

namespace templates {

// Two groups side by side, the device's identity and the image's, the path with its browse
// button beneath, and the hint at the bottom.
const DialogTemplate& LoaderFilePage() {
  using namespace loaderfile;
  static const DialogTemplate tmpl{
      kTemplate,
      {},
      kPageCx,
      kPageCy,
      {
          {-1, ControlKind::GroupBox, QStringLiteral("Taget Device"), 0, 0, 126, 54, 0, {}},
          {-1, ControlKind::Static, QStringLiteral("Name"), 8, 14, 36, 10, 0, {}},
          {kDeviceName, ControlKind::Static, {}, 46, 14, 74, 10, 0, {}},
          {-1, ControlKind::Static, QStringLiteral("Version"), 8, 26, 36, 10, 0, {}},
          {kDeviceVersion, ControlKind::Static, {}, 46, 26, 74, 10, 0, {}},
          {-1, ControlKind::Static, QStringLiteral("Program"), 8, 38, 36, 10, 0, {}},
          {kDeviceProgram, ControlKind::Static, {}, 46, 38, 74, 10, 0, {}},
          {-1, ControlKind::GroupBox, QStringLiteral("Image file"), 134, 0, 126, 54, 0, {}},
          {-1, ControlKind::Static, QStringLiteral("Name"), 142, 14, 36, 10, 0, {}},
          {kImageName, ControlKind::Static, {}, 180, 14, 74, 10, 0, {}},
          {-1, ControlKind::Static, QStringLiteral("Version"), 142, 26, 36, 10, 0, {}},
          {kImageVersion, ControlKind::Static, {}, 180, 26, 74, 10, 0, {}},
          {-1, ControlKind::Static, QStringLiteral("Program"), 142, 38, 36, 10, 0, {}},
          {kImageProgram, ControlKind::Static, {}, 180, 38, 74, 10, 0, {}},
          {kPath, ControlKind::Edit, {}, 0, 62, 238, 14, 0, {}},
          {kBrowse, ControlKind::Button, QStringLiteral("..."), 242, 62, 18, 14, 0, {}},
          {-1, ControlKind::GroupBox, QStringLiteral("Information"), 0, 84, 260, 32, 0, {}},
          {kInformation, ControlKind::Static, QStringLiteral("Press next to start"), 8, 98, 244, 10, 0, {}},
      }};
  return tmpl;
}

// The whole update above, the current step below, each a status line over its bar.
const DialogTemplate& LoaderProcessPage() {
  using namespace loaderprocess;
  static const DialogTemplate tmpl{
      kTemplate,
      {},
      kPageCx,
      kPageCy,
      {
          {-1, ControlKind::GroupBox, QStringLiteral("Progress"), 0, 0, 260, 54, 0, {}},
          {kOverallText, ControlKind::Static, QStringLiteral("Initializing..."), 8, 14, 244, 10, 0, {}},
          {kOverallBar, ControlKind::Progress, {}, 8, 30, 244, 14, 0, {}},
          {-1, ControlKind::GroupBox, QStringLiteral("Current Action"), 0, 62, 260, 54, 0, {}},
          {kActionText, ControlKind::Static, QStringLiteral("Initializing..."), 8, 76, 244, 10, 0, {}},
          {kActionBar, ControlKind::Progress, {}, 8, 92, 244, 14, 0, {}},
      }};
  return tmpl;
}

// The page area, a rule, and the buttons at the bottom right as in the setup wizard.
const DialogTemplate& LoaderSheet() {
  using namespace loadersheet;
  static const DialogTemplate tmpl{
      0,
      QString::fromLatin1(kLoaderCaption),
      kPageCx + 14,
      kPageCy + 38,
      {
          {kBack, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "< Назад"), 111, kPageCy + 18, 50, 14, 0, {}},
          {kNext, ControlKind::DefButton, QT_TRANSLATE_NOOP("DialogTemplate", "Далее >"), 161, kPageCy + 18, 50, 14, 0, {}},
          {kCancel, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Отмена"), 217, kPageCy + 18, 50, 14, 0, {}},
      }};
  return tmpl;
}

}  // namespace templates

void ShowLoaderMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
  appmsg::Show(parent, {icon, caption, text});
}

void RunFirmwareUpdate(QWidget* parent, CComPortChannel* channel, const DeviceProfile& profile, bool profileMatched,
                       CDeviceView* server, LoaderMessageBox messageBox) {
  if (channel == nullptr) return;
  if (!messageBox) messageBox = ShowLoaderMessageBox;
  std::unique_ptr<FlashLoader> loader = CreateFlashLoader(channel, profile.firmware);
  if (!loader) {
    messageBox(parent, QMessageBox::Warning, appmsg::ProgramCaption(),
               QStringLiteral("Firmware Update Unsupported"));
    return;
  }
  const DeviceIdentity target = profileMatched ? profile.identity : DeviceIdentity{};
  {
    CLoaderSheet sheet(loader.get(), target, server, parent, messageBox);
    sheet.exec();
  }
  loader.reset();  // after the sheet, which stops it and still holds it until then
}

// ---------------------------------------------------------------------------------------------
// CFileOpenPage

namespace {

// A device named "Unknown" with version 0.00 shows its name in all three places.
void ShowIdentity(const QWidget* page, const DeviceIdentity& identity, int nameId, int versionId, int programId) {
  const QString name = QString::fromStdString(identity.name);
  const bool unknown =
      name.compare(QStringLiteral("Unknown"), Qt::CaseInsensitive) == 0 && identity.version == Version{};
  const QString version = unknown ? name : QString::fromStdString(identity.version.Format());
  const QString program = unknown ? name : QString::fromStdString(identity.programVersion.Format());
  if (auto* label = control<QLabel>(page, nameId)) label->setText(name);
  if (auto* label = control<QLabel>(page, versionId)) label->setText(version);
  if (auto* label = control<QLabel>(page, programId)) label->setText(program);
}

}  // namespace

CFileOpenPage::CFileOpenPage(CLoaderSheet* sheet, FlashLoader* loader, const DeviceIdentity& device)
    : QWidget(sheet),
      m_pSheet(sheet),
      m_pLoader(loader),
      m_device(device),
      m_strImagePath(QString::fromStdString(ReadStoredSetting(kSettingsSection, kLastFlashFile))) {
  using namespace templates::loaderfile;
  BuildDialog(templates::LoaderFilePage(), this);
  auto* edit = control<QLineEdit>(this, kPath);
  edit->setText(m_strImagePath);
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { m_strImagePath = text; });
  auto* browse = control<QPushButton>(this, kBrowse);
  browse->setAutoDefault(false);
  connect(browse, &QPushButton::clicked, this, &CFileOpenPage::OnBrowse);
}

CFileOpenPage::~CFileOpenPage() { WriteStoredSetting(kSettingsSection, kLastFlashFile, m_strImagePath.toStdString()); }

const QString& CFileOpenPage::ImageFilter() {
  static const QString filter = QStringLiteral("Program images (*.hex);;All Files (*)");
  return filter;
}

void CFileOpenPage::OnSetActive() {
  using namespace templates::loaderfile;
  m_pSheet->SetWizardButtons(CLoaderSheet::kWizNext);
  ShowIdentity(this, m_device, kDeviceName, kDeviceVersion, kDeviceProgram);
  ShowIdentity(this, m_image, kImageName, kImageVersion, kImageProgram);
}

void CFileOpenPage::OnBrowse() {
  const QString folder = m_strImagePath.isEmpty() ? QString() : QFileInfo(m_strImagePath).absolutePath();
  const QString chosen = QFileDialog::getOpenFileName(this, QString(), folder, ImageFilter());
  if (chosen.isEmpty()) return;
  control<QLineEdit>(this, templates::loaderfile::kPath)->setText(QFileInfo(chosen).absoluteFilePath());
}

bool CFileOpenPage::OnWizardNext() {
  if (m_pLoader == nullptr) return false;
  // An image with no data for the device's flash would end in "COMPLETE" having programmed
  // nothing: it is refused like a file that cannot be read.
  if (!m_pLoader->OpenImage(m_strImagePath.toStdString()) || m_pLoader->Image().SlotsWithData() == 0) {
    m_pSheet->Message(QMessageBox::Critical, QStringLiteral("Error"), QStringLiteral("Wrong file format"));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// CProcessPage

CProcessPage::CProcessPage(CLoaderSheet* sheet, FlashLoader* loader, CDeviceView* server)
    : QWidget(sheet),
      m_pSheet(sheet),
      m_pLoader(loader),
      m_pdevServer(server),
      m_timers(this, [this](int id) { OnTimer(id); }) {
  BuildDialog(templates::LoaderProcessPage(), this);
}

void CProcessPage::SetText(int id, const QString& text) {
  if (auto* label = control<QLabel>(this, id)) label->setText(text);
}

void CProcessPage::OnSetActive() {
  using namespace templates::loaderprocess;
  m_pSheet->SetWizardButtons(CLoaderSheet::kWizBack);
  auto* overall = control<CGradientProgressCtrl>(this, kOverallBar);
  auto* action = control<CGradientProgressCtrl>(this, kActionBar);
  overall->SetRange(kBarLower, kBarUpper);
  action->SetRange(kBarLower, kBarUpper);
  overall->SetTextFormat(QStringLiteral("%d%%"), CGradientProgressCtrl::kShowPercent);
  overall->SetAnimation(false);
  overall->SetPos(kBarLower);  // a second update starts from 0 %, not where the last one ended
  SetText(kOverallText, QStringLiteral("Initialization..."));
  SetText(kActionText, QStringLiteral("Stop message in modbus queue"));
  action->SetPos(kBarUpper);
  action->SetAnimation(true);
  m_dStartMs = NowMilliseconds();
  if (m_pdevServer != nullptr) m_hBootRequest = m_pdevServer->RequestBootloaderStart();
  m_timers.start(kBootRequestTimer, kBootRequestMs);
}

bool CProcessPage::OnWizardBack() {
  if (m_pLoader != nullptr && !m_pLoader->Stop()) return false;
  // A tick after this would start the loader or report an update the operator left.
  m_timers.killAll();
  return true;
}

void CProcessPage::OnCancel() {
  m_timers.killAll();
  if (m_pLoader != nullptr) m_pLoader->Stop();
}

void CProcessPage::OnTimer(int id) {
  switch (id) {
    case kBootRequestTimer: OnBootRequestTick(); break;
    case kServerStopTimer: OnServerStopTick(); break;
    case kProgressTimer: OnProgressTick(); break;
    default: break;
  }
}

void CProcessPage::OnBootRequestTick() {
  if (m_pdevServer == nullptr) {
    m_timers.kill(kBootRequestTimer);
    return;
  }
  // No stage yet (id 0) has no text: the line keeps what it shows.
  if (const char* stage = stage_text::Text(m_pdevServer->StageTextId()); stage[0] != '\0')
    SetText(templates::loaderprocess::kActionText, QString::fromUtf8(stage));
  m_pdevServer->TryQuery(m_hBootRequest);
  if (m_hBootRequest.state == QueryHandle::Queued || m_hBootRequest.state == QueryHandle::InProcess) return;
  m_timers.kill(kBootRequestTimer);
  m_pdevServer->SetSuspended(true);
  SetText(templates::loaderprocess::kActionText, QStringLiteral("Stopping modbus client..."));
  m_timers.start(kServerStopTimer, kServerStopMs);
}

void CProcessPage::OnServerStopTick() {
  if (m_pdevServer != nullptr && !m_pdevServer->WorkerEnded()) return;
  m_timers.kill(kServerStopTimer);
  if (m_pLoader == nullptr) return;
  SwitchBaudRate();
  m_pLoader->Start();
  m_timers.start(kProgressTimer, kProgressMs);
}

// The boot loader may talk at another speed than the device's Modbus: the profile's
// "baudrate" names it. The three speeds boot loaders use are set; any other leaves the line
// as it is, with a warning.
void CProcessPage::SwitchBaudRate() {
  const std::string baud = m_pLoader->Parameter("baudrate");
  if (baud.empty()) return;
  if (baud != "115200" && baud != "9600" && baud != "19200") {
    m_pSheet->Message(QMessageBox::Warning, appmsg::ProgramCaption(),
                      QStringLiteral("Baudrate does not supported\nNow we will try at default baudrate"));
    return;
  }
  auto* channel = dynamic_cast<CComPortChannel*>(m_pLoader->Channel());
  if (channel == nullptr || channel->Port() == nullptr) return;
  channel->Port()->Setup(static_cast<std::uint32_t>(std::stoul(baud)), 8, 0, 0);
  channel->Port()->Purge();
}

void CProcessPage::ShowPercent(int barId, double percent) {
  auto* bar = control<CGradientProgressCtrl>(this, barId);
  if (percent < 0) {
    bar->SetPos(kBarUpper);
    bar->SetAnimation(true);
    return;
  }
  bar->SetAnimation(false);
  bar->SetPos(kBarLower + static_cast<int>(percent));
}

void CProcessPage::OnProgressTick() {
  using namespace templates::loaderprocess;
  SetText(kOverallText, QString::fromStdString(m_pLoader->StatusLine1()));
  SetText(kActionText, QString::fromStdString(m_pLoader->StatusLine2()));
  ShowPercent(kOverallBar, m_pLoader->OverallProgress());
  ShowPercent(kActionBar, m_pLoader->SectorProgress());
  if (!m_pLoader->Finished()) return;
  m_timers.kill(kProgressTimer);
  char text[256];
  if (const int code = m_pLoader->ErrorCode(); code != 0) {
    std::snprintf(text, sizeof text, "Boot load process halted due to next error \n%s", FlashLoaderErrorText(code));
    m_pSheet->Message(QMessageBox::Critical, QString::fromLatin1(kLoaderCaption), QString::fromUtf8(text));
    return;
  }
  std::snprintf(text, sizeof text,
                "COMPLETE: Boot load process complete in %.4lfs. \nNow you should restart both software and device",
                (NowMilliseconds() - m_dStartMs) * 0.001);
  m_pSheet->Message(QMessageBox::Information, QString::fromLatin1(kLoaderCaption), QString::fromUtf8(text));
}

// ---------------------------------------------------------------------------------------------
// CLoaderSheet

CLoaderSheet::CLoaderSheet(FlashLoader* loader, const DeviceIdentity& device, CDeviceView* server, QWidget* parent,
                           LoaderMessageBox messageBox)
    : QDialog(parent), m_pLoader(loader), m_messageBox(messageBox ? std::move(messageBox) : ShowLoaderMessageBox) {
  using namespace templates::loadersheet;
  BuildDialog(templates::LoaderSheet(), this);
  const DialogBaseUnits units = DialogBaseUnits::FromWidget(this);
  m_pStack = new QStackedWidget(this);
  m_pStack->setGeometry(units.ToPixels(QRect(7, 7, kPageCx, kPageCy)));
  auto* rule = new QFrame(this);
  rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  rule->setGeometry(units.ToPixels(QRect(7, kPageCy + 11, kPageCx, 2)));

  m_pFilePage = new CFileOpenPage(this, loader, device);
  m_pProcessPage = new CProcessPage(this, loader, server);
  m_pStack->addWidget(m_pFilePage);
  m_pStack->addWidget(m_pProcessPage);
  if (m_pLoader != nullptr) m_pLoader->SetNotifier(this);

  for (const int id : {kBack, kNext, kCancel}) control<QPushButton>(this, id)->setAutoDefault(false);
  connect(control<QPushButton>(this, kBack), &QPushButton::clicked, this, &CLoaderSheet::OnBack);
  connect(control<QPushButton>(this, kNext), &QPushButton::clicked, this, &CLoaderSheet::OnNext);
  connect(control<QPushButton>(this, kCancel), &QPushButton::clicked, this, &CLoaderSheet::reject);
  setFixedSize(size());
  SetActivePage(0);
}

CLoaderSheet::~CLoaderSheet() {
  if (m_pLoader != nullptr) m_pLoader->SetNotifier(nullptr);
}

void CLoaderSheet::SetWizardButtons(int flags) {
  using namespace templates::loadersheet;
  control<QPushButton>(this, kBack)->setEnabled((flags & kWizBack) != 0);
  control<QPushButton>(this, kNext)->setEnabled((flags & kWizNext) != 0);
}

int CLoaderSheet::ActivePage() const { return m_pStack->currentIndex(); }

void CLoaderSheet::SetActivePage(int index) {
  m_pStack->setCurrentIndex(index);
  if (index == 0) m_pFilePage->OnSetActive();
  else m_pProcessPage->OnSetActive();
}

void CLoaderSheet::OnNext() {
  if (ActivePage() == 0 && m_pFilePage->OnWizardNext()) SetActivePage(1);
}

void CLoaderSheet::OnBack() {
  if (ActivePage() == 1 && m_pProcessPage->OnWizardBack()) SetActivePage(0);
}

void CLoaderSheet::reject() {
  m_pProcessPage->OnCancel();
  QDialog::reject();
}

void CLoaderSheet::Message(QMessageBox::Icon icon, const QString& caption, const QString& text) {
  m_messageBox(this, icon, caption, text);
}

void CLoaderSheet::Notify(std::string_view text, NoticeKind kind) {
  const QMessageBox::Icon icon = kind == NoticeKind::Error     ? QMessageBox::Critical
                                 : kind == NoticeKind::Warning ? QMessageBox::Warning
                                                               : QMessageBox::Information;
  Message(icon, appmsg::ProgramCaption(),
          QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}
