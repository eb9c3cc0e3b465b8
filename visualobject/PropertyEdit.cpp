#include <QLineEdit>
#include <algorithm>

#include "visualobject/Guarded.h"
#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"

CPropertyEdit::CPropertyEdit() : CVisualObject(objtemplates::Edit(), "edit") {}

bool CPropertyEdit::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(137, 40), parent, server);
  SetCaptionControl(objtemplates::kCaption, KELMORA_UNIT);
  if (!SetDlgItemText(objtemplates::kTextMin, QString::fromStdString(_ConvertPropertyValueToString(m_pProp.iSlMin))))
    faultlog::NullAssertion("pWnd", KELMORA_UNIT);
  if (!SetDlgItemText(objtemplates::kTextMax, QString::fromStdString(_ConvertPropertyValueToString(m_pProp.iSlMax))))
    faultlog::NullAssertion("pWnd", KELMORA_UNIT);
  if (created && m_bGauge) {
    EnableObject(false);
    StartUpdate();
  }
  return created;
}

void CPropertyEdit::DoDataExchange() {
  CVisualObject::DoDataExchange();
  if (auto* input = Item<QLineEdit>(objtemplates::kEditInput)) {
    // Every keystroke restarts the wait for the operator to finish typing.
    connect(input, &QLineEdit::textChanged, this,
            [this] { StartTimerSlot(m_nEditDelayTimer, EditDelayTimer, kEditDelayMs); });
  }
}

int32_t CPropertyEdit::GetValue() {
  const int32_t typed = _ConvertStringToPropertyValue(GetDlgItemText(objtemplates::kEditInput).toStdString());
  return std::min(std::max(typed, m_pProp.iSlMin), m_pProp.iSlMax);
}

void CPropertyEdit::SetValue(int32_t nval) {
  std::string value;
  Guarded("value = _ConvertPropertyValueToString(nval)", KELMORA_UNIT,
          [&] { value = _ConvertPropertyValueToString(nval); });
  SetDlgItemText(objtemplates::kTextData, QString::fromStdString(value));
}

void CPropertyEdit::EnableObject(bool enable) {
  if (QWidget* input = Item(objtemplates::kEditInput)) input->setEnabled(enable);
}

void CPropertyEdit::OnTimer(int id) {
  if (id == EditDelayTimer) {
    KillTimerSlot(m_nEditDelayTimer, EditDelayTimer);
    SetValue(GetValue());  // the current-value field shows the clamped value to be written
    if (!m_bGauge && IsIdle()) {
      m_bWriteNext = true;
      StartTimerSlot(m_nQueryTimer, QueryTimer, kWriteDelayMs);
    }
  }
  CVisualObject::OnTimer(id);
}
