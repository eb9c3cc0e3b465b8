#include "app/SpecialDialog.h"

#include <QPushButton>

#include "app/AppTemplates.h"
#include "widgets/GradientProgressCtrl.h"

using namespace templates::longquery;

CSpecialDialog::CSpecialDialog(CDeviceView* server, const QueryHandle& handle, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint),
      m_pServer(server),
      m_handle(handle),
      m_timers(this, [this](int id) { OnTimer(id); }) {
  BuildDialog(templates::LongQueryDialog(), this);
  setFixedSize(size());
  setWindowTitle(QString());
  if (auto* cancel = control<QPushButton>(this, kCancel))
    connect(cancel, &QPushButton::clicked, this, [this] { m_bCancel = true; });
  if (CGradientProgressCtrl* bar = Progress()) {
    bar->SetGradientColors({0x008000, 0xCAF0A6, 0x008000});
    bar->SetPos(600);  // beyond the range: the bar is full while the gradient runs along it
    bar->SetAnimation(true);
  }
}

CGradientProgressCtrl* CSpecialDialog::Progress() const { return control<CGradientProgressCtrl>(this, kProgress); }

void CSpecialDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_bCancel = false;
  m_timers.start(kPollTimer, kPollPeriodMs);
}

void CSpecialDialog::reject() { m_bCancel = true; }

void CSpecialDialog::OnTimer(int id) {
  if (id != kPollTimer) return;
  if (m_pServer == nullptr) {
    m_timers.kill(kPollTimer);
    done(1);
    return;
  }
  // Asked again on every tick: the request may only now have reached the worker.
  if (m_bCancel) m_pServer->CancelQuery(m_handle, true);
  m_pServer->TryQuery(m_handle);
  if (m_handle.IsFinal()) {
    m_timers.kill(kPollTimer);
    done(1);
  }
}
