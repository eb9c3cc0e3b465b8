// The firmware update: the main window's "Firmware..." command and the two-page wizard "Loader"
// it runs. The first page (CFileOpenPage) chooses the Intel HEX image and reads it into the
// flash loader; the second (CProcessPage) sends the device into its boot loader through the
// device server, stops the server, switches the line to the boot loader's speed, starts the
// loader's worker and shows its progress until it ends. Everything runs on the GUI thread,
// driven by window timers that poll the server and the loader; nothing here waits for a
// worker except `FlashLoader::Stop`.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <functional>

#include "XMLParser/DeviceProfile.h"
#include "comm/DeviceView.h"
#include "firmware/UserNotifier.h"
#include "widgets/DialogTemplate.h"
#include "widgets/WindowTimers.h"

class CComPortChannel;
class CLoaderSheet;
class FlashLoader;
class QStackedWidget;

namespace templates {

// The image-file page.
namespace loaderfile {
constexpr int kTemplate = 106;
constexpr int kDeviceName = 1025, kDeviceVersion = 1026, kDeviceProgram = 1027;
constexpr int kImageName = 1028, kImageVersion = 1029, kImageProgram = 1030;
constexpr int kPath = 1045, kBrowse = 1046, kInformation = 1047;
}  // namespace loaderfile
const DialogTemplate& LoaderFilePage();

// The update page.
namespace loaderprocess {
constexpr int kTemplate = 141;
constexpr int kOverallBar = 1048, kOverallText = 1049, kActionBar = 1050, kActionText = 1051;
}  // namespace loaderprocess
const DialogTemplate& LoaderProcessPage();

// The sheet around the pages: the page area and the wizard buttons.
namespace loadersheet {
constexpr int kBack = 0x3023, kNext = 0x3024, kCancel = 2;
}  // namespace loadersheet
const DialogTemplate& LoaderSheet();

}  // namespace templates

// How the wizard shows a message box. The default is a modal QMessageBox; tests record the
// boxes instead.
using LoaderMessageBox =
    std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text)>;
void ShowLoaderMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text);

// The "Firmware..." command: with a channel, makes the flash loader the profile's
// `firmware_upgrade` names (or says "Firmware Update Unsupported"), runs the wizard modally
// and deletes the loader afterwards. The device shows as the profile's identity when the
// profile was matched to it, otherwise as "Unknown" 0.00 0.00. `server` may be null; then
// the update never starts.
void RunFirmwareUpdate(QWidget* parent, CComPortChannel* channel, const DeviceProfile& profile, bool profileMatched,
                       CDeviceView* server, LoaderMessageBox messageBox = {});

// Page 1: the image file. Shows the device's identity and the image's (always "Unknown"),
// keeps the image path in the setting "LastFlashFile", reads the image on Next.
class CFileOpenPage : public QWidget {
  Q_OBJECT

 public:
  // Reads "LastFlashFile" into the path.
  CFileOpenPage(CLoaderSheet* sheet, FlashLoader* loader, const DeviceIdentity& device);
  // Writes the path to "LastFlashFile".
  ~CFileOpenPage() override;

  void OnSetActive();
  // Reads the image into the loader; true to go on to the update page.
  bool OnWizardNext();
  // The open-file dialog of button 1046.
  void OnBrowse();

  const QString& ImagePath() const { return m_strImagePath; }

  // The open-file dialog's filter.
  static const QString& ImageFilter();

 private:
  CLoaderSheet* m_pSheet;
  FlashLoader* m_pLoader;
  DeviceIdentity m_device;
  DeviceIdentity m_image;  // an image file says nothing of its device: always "Unknown"
  QString m_strImagePath;
};

// Page 2: the update, in three timer-driven steps: timer 2 waits for the boot-loader start
// request, timer 3 for the device server to stop, timer 1 shows the loader's progress.
class CProcessPage : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kProgressTimer = 1, kBootRequestTimer = 2, kServerStopTimer = 3;
  static constexpr int kProgressMs = 50, kBootRequestMs = 10, kServerStopMs = 10;
  // Both bars run over 500..600: a percentage p shows as position 500 + p.
  static constexpr int kBarLower = 500, kBarUpper = 600;

  CProcessPage(CLoaderSheet* sheet, FlashLoader* loader, CDeviceView* server);

  void OnSetActive();
  // Stops the loader; true (go back) when it stopped.
  bool OnWizardBack();
  // Stops the loader; the sheet closes whatever the outcome.
  void OnCancel();

  const CWindowTimers& Timers() const { return m_timers; }

 private:
  void OnTimer(int id);
  void OnBootRequestTick();
  void OnServerStopTick();
  void OnProgressTick();
  void SwitchBaudRate();
  void ShowPercent(int barId, double percent);
  void SetText(int id, const QString& text);

  CLoaderSheet* m_pSheet;
  FlashLoader* m_pLoader;
  CDeviceView* m_pdevServer;
  QueryHandle m_hBootRequest;
  double m_dStartMs = 0.0;
  CWindowTimers m_timers;
};

// The property sheet "Loader" in wizard mode: the two pages stacked, Back / Next / Cancel
// below, enabled by the pages. The loader's own notices ("CRC Error in file", "Correct stop
// failed", ...) show as message boxes too.
class CLoaderSheet : public QDialog, private IUserNotifier {
  Q_OBJECT

 public:
  // Wizard button flags for `SetWizardButtons`.
  static constexpr int kWizBack = 0x1, kWizNext = 0x2;

  // `loader` and `server` are not owned; `loader` must outlive the sheet.
  CLoaderSheet(FlashLoader* loader, const DeviceIdentity& device, CDeviceView* server, QWidget* parent = nullptr,
               LoaderMessageBox messageBox = {});
  ~CLoaderSheet() override;

  void SetWizardButtons(int flags);
  // 0 the image-file page, 1 the update page.
  int ActivePage() const;
  CFileOpenPage* FilePage() const { return m_pFilePage; }
  CProcessPage* ProcessPage() const { return m_pProcessPage; }

  void Message(QMessageBox::Icon icon, const QString& caption, const QString& text);

  // Cancel, Escape and the close button.
  void reject() override;

 private:
  void Notify(std::string_view text, NoticeKind kind) override;
  void OnNext();
  void OnBack();
  void SetActivePage(int index);

  FlashLoader* m_pLoader;
  LoaderMessageBox m_messageBox;
  QStackedWidget* m_pStack = nullptr;
  CFileOpenPage* m_pFilePage = nullptr;
  CProcessPage* m_pProcessPage = nullptr;
};
