// The two pages of the setup wizard: the serial settings (which port, adapter or TCP address,
// the line parameters and the Modbus slave number) and the device profile (the identity the
// device reported and the list of loaded profiles to choose from).
#pragma once

#include <QWidget>

#include "XMLParser/DeviceProfile.h"
#include "comm/ConnectionSettings.h"

class AdvComboBox;
class CXDeviceProfileManager;
class QLineEdit;
class QListWidget;
class QRadioButton;

class CViewSerial : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kBaudRates[] = {9600, 14400, 19200, 38400, 56000, 115200, 892857};

  explicit CViewSerial(QWidget* parent = nullptr);

  // The ways to the device, as the page's radio buttons offer them.
  enum PortKind { kComPort = 0, kFtdiAdapter = 1, kTcpConnection = 2 };

  // Lists the COM ports and FTDI adapters present now and shows `settings` in the controls.
  void ShowSettings(const ConnectionSettings& settings);
  // What the controls say, as kept in the page's fields since their last change.
  const ConnectionSettings& Settings() const { return m_settings; }

  AdvComboBox* ComList() const;
  AdvComboBox* FtdiList() const;
  QLineEdit* TcpHost() const;
  QLineEdit* TcpPort() const;

 private:
  void FillPortLists();
  void SelectSerialType(PortKind kind);
  // Copies every control into the fields.
  void ReadControls();

  ConnectionSettings m_settings;
  ConnectionSettings m_shown;  // as ShowSettings showed them
  bool m_bFilling = false;  // controls are being set from the fields
};

class CViewProfiles : public QWidget {
  Q_OBJECT

 public:
  explicit CViewProfiles(QWidget* parent = nullptr);

  void SetDevice(const DeviceIdentity& identity, const CXDeviceProfileManager* manager);
  // Fills the list, one item per profile, and selects the profiles made for the device.
  void Refresh();
  // The selected profile's index in the manager's list, -1 with none.
  int Selection() const;
  QListWidget* List() const;

 private:
  DeviceIdentity m_identity;
  const CXDeviceProfileManager* m_pManager = nullptr;
};
