// CTrafficDlg: the traffic monitor. A window beside the main one that lists the frames on the
// line from the traffic log's ring (time, direction, bytes, function, CRC, answer, round trip)
// and shows the link's figures above them. It reads the log on a timer, taking only the frames
// that came since its last look, so the worker never waits for the window.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <deque>

#include "tools/TrafficLog.h"

class QLabel;
class QPushButton;
class QTableView;
class QTimer;

// The frames as table rows, oldest first, at most the ring's capacity.
class CTrafficModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime, kDirection, kBytes, kFunction, kCrc, kResult, kRoundTrip, kColumns };

  using QAbstractTableModel::QAbstractTableModel;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Appends `frames` and drops the oldest beyond the capacity.
  void Append(std::vector<TrafficFrame> frames);
  void Clear();
  uint64_t LastSeq() const { return m_frames.empty() ? m_lastSeq : m_frames.back().seq; }
  const TrafficFrame& Frame(int row) const { return m_frames[static_cast<size_t>(row)]; }

 private:
  std::deque<TrafficFrame> m_frames;
  uint64_t m_lastSeq = 0;
};

class CTrafficDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 250;

  explicit CTrafficDlg(CTrafficLog* log, QWidget* parent = nullptr);

  // Takes what came since the last look and shows the figures; the timer's step.
  void Refresh();
  void SetPaused(bool paused);
  bool Paused() const { return m_bPaused; }
  // The selected frames (every frame without a selection) as text lines, one per frame.
  QString SelectedText() const;
  void CopySelection();
  // Writes every frame shown to `path` as text lines; false with the reason in `why`.
  bool SaveTo(const QString& path, QString& why) const;
  void ChooseSaveFile();
  void ClearAll();

  CTrafficModel* Model() const { return m_model; }
  QTableView* Table() const { return m_table; }
  // The figure labels, by name ("rate", "timeouts", "crc", "exceptions", "trip", "use").
  QLabel* Figure(const char* name) const;

 private:
  void ShowFigures(const TrafficFigures& figures);

  CTrafficLog* m_log;
  CTrafficModel* m_model;
  QTableView* m_table;
  QPushButton* m_pause;
  QTimer* m_timer;
  bool m_bPaused = false;
};
