#include <QLineEdit>
#include <QSlider>

#include "profiles/ProfileNumbers.h"
#include "visualobject/Guarded.h"
#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"

using namespace objtemplates;

CSliderProperty::CSliderProperty() : CVisualObject(objtemplates::Slider(), "slider") {}

bool CSliderProperty::Create(IPageHost* parent, CDeviceView* server) {
  if (!CreateBase(QSize(139, 42), parent, server)) return false;
  SetCaptionControl(kSliderCaption, KELMORA_UNIT);
  QSlider* pCtrl = Item<QSlider>(kSlider);
  if (KELMORA_ASSERT_NOT_NULL(pCtrl)) {
    Guarded("if (pCtrl) pCtrl->SetRange(m_pProp.iSlMin, m_pProp.iSlMax)", KELMORA_UNIT, [&] {
      const QSignalBlocker quiet(pCtrl);
      pCtrl->setRange(m_pProp.iSlMin, m_pProp.iSlMax);
    });
  }
  SetDlgItemText(kSliderLeftCap, QString::fromStdString(_ConvertPropertyValueToString(m_pProp.iSlMin)));
  SetDlgItemText(kSliderRightCap, QString::fromStdString(_ConvertPropertyValueToString(m_pProp.iSlMax)));
  if (m_bGauge) {
    EnableObject(false);
    StartUpdate();
  }
  return true;
}

void CSliderProperty::DoDataExchange() {
  CVisualObject::DoDataExchange();
  if (auto* edit = Item<QLineEdit>(kSliderEdit))
    connect(edit, &QLineEdit::textChanged, this, &CSliderProperty::OnTextChanged);
  if (auto* slider = Item<QSlider>(kSlider)) {
    // The operator's moves only: SetValue positions the trackbar without these notifications.
    connect(slider, &QAbstractSlider::actionTriggered, this, &CSliderProperty::OnScroll);
    connect(slider, &QAbstractSlider::sliderReleased, this, &CSliderProperty::OnScroll);
  }
}

int32_t CSliderProperty::GetValue() {
  QString txt;
  Guarded("GetDlgItemText(IDC_VALUE, txt)", KELMORA_UNIT, [&] { txt = GetDlgItemText(kSliderValue); });
  if (m_pProp.IsFixed()) return _ConvertStringToPropertyValue(txt.toStdString());
  return profilenumbers::ReadInt(txt.toStdString());
}

void CSliderProperty::SetValue(int32_t nval) {
  std::string value;
  Guarded("value = _ConvertPropertyValueToString(nval)", KELMORA_UNIT,
          [&] { value = _ConvertPropertyValueToString(nval); });
  Guarded("SetDlgItemText(IDC_VALUE, value)", KELMORA_UNIT,
          [&] { SetDlgItemText(kSliderValue, QString::fromStdString(value)); });
  QSlider* pSchr = nullptr;
  Guarded("pSchr = (CSliderCtrl*)GetDlgItem(IDC_PI_SLIDER)", KELMORA_UNIT, [&] { pSchr = Item<QSlider>(kSlider); });
  if (pSchr) {
    const QSignalBlocker quiet(pSchr);
    pSchr->setValue(nval);
  }
}

void CSliderProperty::EnableObject(bool enable) {
  if (QWidget* pSchr = Item(kSlider)) pSchr->setEnabled(enable);
  if (QWidget* pSchr = Item(kSliderEdit)) pSchr->setEnabled(enable);
  setEnabled(enable);
}

void CSliderProperty::OnTextChanged() {
  if (m_nInputSource != NoInput) return;  // a trackbar value is being taken
  if (TimerRunning(QueryTimer)) KillTimerSlot(m_nQueryTimer, QueryTimer);
  m_nInputSource = Typing;
  StartTimerSlot(m_nEditDelayTimer, EditDelayTimer, kEditDelayMs);
}

void CSliderProperty::OnScroll() {
  if (m_nInputSource != NoInput) return;  // a typed value waits for its delay
  if (TimerRunning(QueryTimer)) KillTimerSlot(m_nQueryTimer, QueryTimer);
  m_nInputSource = Trackbar;
  EditDelayStep();
}

void CSliderProperty::OnTimer(int id) {
  if (id == EditDelayTimer)
    EditDelayStep();
  else
    CVisualObject::OnTimer(id);
}

void CSliderProperty::EditDelayStep() {
  KillTimerSlot(m_nEditDelayTimer, EditDelayTimer);
  QSlider* pSchr = nullptr;
  Guarded("pSchr = GetDlgItem(IDC_PI_SLIDER)", KELMORA_UNIT, [&] { pSchr = Item<QSlider>(kSlider); });
  if (!KELMORA_ASSERT_NOT_NULL(pSchr)) return;

  int32_t v = 0;
  if (m_nInputSource == Typing) {
    QString txt;
    Guarded("GetDlgItemText(IDC_PI_EDIT, txt)", KELMORA_UNIT, [&] { txt = GetDlgItemText(kSliderEdit); });
    v = _ConvertStringToPropertyValue(txt.toStdString());
    if (v > pSchr->maximum()) v = pSchr->maximum();
    if (v < pSchr->minimum()) v = pSchr->minimum();
    SetValue(v);
  } else if (m_nInputSource == Trackbar) {
    // During a drag the position leads the value until the move is processed.
    v = pSchr->sliderPosition();
    SetValue(v);
  } else {
    return;
  }
  m_nInputSource = NoInput;
  if (!m_bGauge && IsIdle()) {
    m_bWriteNext = true;
    StartTimerSlot(m_nQueryTimer, QueryTimer, kWriteDelayMs);
  }
}
