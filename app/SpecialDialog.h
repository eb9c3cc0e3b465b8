// CSpecialDialog: the small modal dialog shown while one long device request runs (saving or
// loading the configuration in the device's flash). It shows a running bar and a Cancel
// button, and closes by itself once the request has reached a final state.
#pragma once

#include <QDialog>

#include "comm/DeviceView.h"
#include "widgets/WindowTimers.h"

class CGradientProgressCtrl;

class CSpecialDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kPollTimer = 1;
  static constexpr int kPollPeriodMs = 10;

  // `server` may be null: the dialog then closes at its first tick.
  CSpecialDialog(CDeviceView* server, const QueryHandle& handle, QWidget* parent = nullptr);

  // The request as last polled.
  const QueryHandle& Handle() const { return m_handle; }
  bool CancelRequested() const { return m_bCancel; }
  CGradientProgressCtrl* Progress() const;

 protected:
  void showEvent(QShowEvent* event) override;
  // Escape and the window's close button ask for a cancel, like the Cancel button: the
  // dialog stays until the request has ended.
  void reject() override;

 private:
  void OnTimer(int id);

  CDeviceView* m_pServer;
  QueryHandle m_handle;
  bool m_bCancel = false;
  CWindowTimers m_timers;
};
