// CMonitorDlg: the program's main window. Opening runs the setup wizard, takes over its
// connection, starts the representation server for the chosen profile, shows the device's
// identity and builds the pages. It then serves the three device commands (load the
// configuration from flash, save it to flash, update the firmware) and the About window.
#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>

#include "XMLParser/DeviceProfile.h"
#include "app/Language.h"
#include "comm/DeviceView.h"
#include "comm/ModbusDevice.h"
#include "tools/TrafficLog.h"
#include "tools/ValueRecorder.h"

class CConnection;
class CMonitorPages;
class CSetupDialog;
class CSplashScreen;
class CTrafficDlg;
class QAction;
class QLabel;
class QMenu;
class QTimer;

class CMonitorDlg : public QDialog {
  Q_OBJECT

 public:
  // The About item's command id and text.
  static constexpr int kAboutCommand = 0x10;
  static const char* const kAboutText;

  // `splash` (may be null) shows the opening's progress and is hidden once the pages are up.
  explicit CMonitorDlg(CSplashScreen* splash = nullptr, QWidget* parent = nullptr);
  ~CMonitorDlg() override;

  // The wizard finishes by itself when the device was identified and a profile matched it.
  void SetAutoConnect(bool on) { m_bAutoConnect = on; }

  // The opening sequence; false when the operator cancelled the wizard (the dialog has then
  // ended with Cancel and is never shown).
  bool OnInitDialog();
  // Opens, then runs the window modally; Cancel at once when the wizard was cancelled.
  int exec() override;
  // Closing: the server stops, then every object shuts down.
  void done(int result) override;

  // The three device commands, as their buttons run them.
  void OnLoad();
  void OnSave();
  void OnFirmware();
  // Waits for `handle` in the long-query dialog.
  void RunLongQuery(const QueryHandle& handle);
  void ShowAbout();
  // The context menu's items: the tools that go beyond watching, then About.
  void FillContextMenu(QMenu& menu);
  // The line to the device was lost (false) or is back (true): the status line, the lamps,
  // and once back a fresh read by every idle object.
  void OnLinkChanged(bool up);

  // Recording every value read into `path` (CSV or JSON Lines); false, with a message box
  // unless `quiet`, when the file cannot be written. The context menu asks for the file.
  bool StartRecording(const QString& path, CValueRecorder::Format format, bool quiet = false);
  void StopRecording();
  void ChooseRecordingFile();
  const CValueRecorder& Recorder() const { return m_recorder; }
  // The traffic monitor, opened (or raised) beside the window; the frames are logged from the
  // start, so it shows what came before it opened too.
  CTrafficDlg* ShowTraffic();
  CTrafficLog& Traffic() { return m_traffic; }
  // Configuration snapshots: every setting saved to `path`; a file compared with the device in
  // a dialog that applies it. False (with a message) when the file could not be made or read.
  bool SaveConfiguration(const QString& path);
  bool CompareConfiguration(const QString& path);
  void ChooseConfigurationToSave();
  void ChooseConfigurationToCompare();
  // Stores the interface language for the next start and says so.
  void ChooseLanguage(language::Language chosen);

  // The queue readout: the count of queued requests in the high half of `w`, the current
  // request's id (signed) in the low half. Threads post it as a queued call.
  Q_INVOKABLE void OnQueueReadout(quint32 w);

  CDeviceView* Server() const { return m_dvRepresentationServer.get(); }
  CMonitorPages* Pages() const { return m_pPages.get(); }
  CConnection* Connection() const { return m_pConnection.get(); }
  const DeviceProfile& Profile() const { return m_profile; }
  bool ProfileMatched() const { return m_bProfileMatched; }
  // The wizard while the dialog opens (null before and after).
  CSetupDialog* Wizard() const { return m_sdialog.get(); }
  QAction* AboutAction() const { return m_pAbout; }

 signals:
  // The wizard is about to run modally (tests and the screenshot tour drive it from here).
  void WizardStarting(CSetupDialog* wizard);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Escape does not close the main window: it is pressed too easily while typing a value.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SetInfo(int id, const std::string& text);
  void RunFlashCommand(bool save);
  // Every idle object reads its value again, to show what the device holds now; with
  // `retriesToo`, objects waiting to retry query at once as well.
  void ReadAgain(bool retriesToo);
  void Close();
  // The status lines at the foot of the left column: the lost line before the recording.
  void UpdateStatusLines();
  // The recording stopped by itself (a full disk, a removed file).
  void OnRecordingFailed(const QString& why);

  QPointer<CSplashScreen> m_pSplash;
  bool m_bAutoConnect = false;
  std::unique_ptr<CSetupDialog> m_sdialog;
  // Outlives the server, which hands it every read, and the connection's master, which hands
  // the traffic log every exchange.
  CValueRecorder m_recorder;
  CTrafficLog m_traffic;
  QPointer<CTrafficDlg> m_pTrafficDlg;
  QTimer* m_pRecordTimer = nullptr;  // refreshes the recording's row count
  bool m_bLinkLost = false;
  // Destroyed in reverse order: the pages before the server, the server before the device
  // and the device before the connection under it.
  std::unique_ptr<CConnection> m_pConnection;
  ModbusDevice m_modbusDev;
  std::unique_ptr<CDeviceView> m_dvRepresentationServer;
  std::unique_ptr<CMonitorPages> m_pPages;
  DeviceProfile m_profile;
  DeviceIdentity m_identity;  // what the device said it is (the profile's when it did not say)
  bool m_bProfileMatched = false;
  bool m_bClosed = false;
  QueryHandle m_hFlashHandle;
  QAction* m_pAbout = nullptr;
};
