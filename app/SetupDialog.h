// CSetupDialog: the setup wizard that runs before the main window opens. It loads the device
// profiles, opens the connection with the stored settings (or lets the operator choose them),
// identifies the device over Modbus and lets the operator confirm the profile. It ends with OK,
// handing over the connection and the chosen profile, or with Cancel.
#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>

#include "XMLParser/DeviceProfile.h"
#include "comm/ConnectionSettings.h"

class CConnection;
class CSplashScreen;
class CViewProfiles;
class CViewSerial;
class CXDeviceProfileManager;
class QPushButton;

class CSetupDialog : public QDialog {
  Q_OBJECT

 public:
  // `splash` (may be null) shows the progress and is hidden while the operator is asked.
  explicit CSetupDialog(CSplashScreen* splash = nullptr, QWidget* parent = nullptr);
  ~CSetupDialog() override;

  // The opening steps: profiles, stored settings, the connection, and either the serial page
  // or the detection result. `exec` runs it first; tests call it before `show`.
  void Open();
  int exec() override;
  // As `exec`, but finishes at once, without asking, when the device was identified and a
  // profile was found for it.
  int ExecAutoFinish();

  // Why a port did not open: which port, the port layer's code and the system's words.
  struct PortFailure {
    std::string device;  // "COM9 (/dev/ttyUSB0)", "FTDI FT1A2B3C", "TCP 192.168.1.20:4001"
    int32_t code = 0;
    std::string reason;  // "Connection refused"; may be empty
  };
  // The connection factory: opens the port of `settings` and builds the channel and the
  // Modbus master on it. Null when the port does not open, with the reason in `failure`.
  static std::unique_ptr<CConnection> __CreateConnection(const ConnectionSettings& settings,
                                                         PortFailure* failure = nullptr);
  // The operator's message for a port that did not open: "Неудалось открыть порт", and for a
  // serial port the user may not open, which one it is and how to get access; for a TCP
  // connection, the host and port and why the connection failed.
  static QString OpenFailureText(const PortFailure& failure);

  // After OK: the connection (the caller takes it), the chosen profile, and whether a profile
  // was found for the device.
  std::unique_ptr<CConnection> TakeConnection();
  CConnection* Connection() const { return m_pConnection.get(); }
  const DeviceProfile& ReturnProfile() const { return m_profile; }
  bool ProfileMatched() const { return m_bProfileMatched; }
  const DeviceIdentity& Identity() const { return m_identity; }
  const ConnectionSettings& Settings() const { return m_settings; }

  CViewSerial* SerialPage() const { return m_pSerial; }
  CViewProfiles* ProfilesPage() const { return m_pProfiles; }
  QPushButton* Button(int id) const;

  // The defaults that the stored settings start from: COM 9, 38400 baud, slave 10.
  static ConnectionSettings DefaultSettings();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void ShowSerialPage();
  void Detect();
  void OnNext();
  void OnBack();
  void OnFinish();
  void SetHeader(const QString& header);
  void SetInformation(const QString& information);
  void PlacePage(QWidget* page);

  QPointer<CSplashScreen> m_pSplash;
  std::unique_ptr<CXDeviceProfileManager> m_Manager;
  ConnectionSettings m_settings;
  std::unique_ptr<CConnection> m_pConnection;
  DeviceIdentity m_identity;
  DeviceProfile m_profile;
  bool m_bProfileMatched = false;
  bool m_bOpened = false;
  CViewSerial* m_pSerial = nullptr;
  CViewProfiles* m_pProfiles = nullptr;
};
