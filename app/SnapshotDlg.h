// CSnapshotDlg: a configuration file compared with the device. It lists the settings whose
// value in the file differs from the device's, applies them on request (each written, read
// back and reported in its row), and then offers to save the configuration in the device's
// flash.
#pragma once

#include <QDialog>
#include <functional>

#include "tools/ConfigSnapshot.h"

class QLabel;
class QPushButton;
class QTableWidget;

class CSnapshotDlg final : public QDialog {
  Q_OBJECT

 public:
  enum Column { kSetting, kFile, kDevice, kResult, kColumns };

  // `saveToFlash` runs the flash save (with its wait dialog) once the operator agrees.
  CSnapshotDlg(CDeviceView* server, const QString& path, ConfigSnapshot snapshot,
               std::vector<SnapshotDifference> differences, std::function<void()> saveToFlash,
               QWidget* parent = nullptr);

  // Writes the differing settings and shows each result; then asks about the flash save when
  // every one was written.
  void ApplyAll();

  QTableWidget* Table() const { return m_table; }
  QPushButton* ApplyButton() const { return m_apply; }
  const std::vector<SnapshotApplyResult>& Results() const { return m_results; }

 private:
  CDeviceView* m_pServer;
  ConfigSnapshot m_snapshot;
  std::vector<SnapshotDifference> m_differences;
  std::vector<SnapshotApplyResult> m_results;
  std::function<void()> m_saveToFlash;
  QTableWidget* m_table;
  QLabel* m_summary;
  QPushButton* m_apply;
};
