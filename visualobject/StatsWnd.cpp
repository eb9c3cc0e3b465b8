#include "visualobject/DisplayObjects.h"
#include "visualobject/Guarded.h"
#include "visualobject/ObjectTemplates.h"

CStatsWnd::CStatsWnd() : CVisualObject(objtemplates::Stats(), "stats") {}

bool CStatsWnd::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(137, 40), parent, server);
  SetCaptionControl(objtemplates::kCaption, KELMORA_UNIT);
  if (created && m_bGauge) {
    EnableObject(false);
    StartUpdate();
  }
  return created;
}

void CStatsWnd::SetValue(int32_t nval) {
  if (!m_bSeen) {
    m_nMin = m_nMax = nval;
    m_bSeen = true;
  }
  if (nval < m_nMin) m_nMin = nval;
  if (nval > m_nMax) m_nMax = nval;
  m_values.push_back(nval);

  // Each field is its own step: a failure in one leaves the others updated.
  const auto show = [this](int id, int32_t raw, const char* convertText, const char* setText) {
    std::string value;
    Guarded(convertText, KELMORA_UNIT, [&] { value = _ConvertPropertyValueToString(raw); });
    Guarded(setText, KELMORA_UNIT, [&] { SetDlgItemText(id, QString::fromStdString(value)); });
  };
  show(objtemplates::kTextData, nval, "value = _ConvertPropertyValueToString(nval)",
       "SetDlgItemText(IDC_TEXT_DATA, value)");
  show(objtemplates::kTextMin, m_nMin, "value = _ConvertPropertyValueToString(nmin)",
       "SetDlgItemText(IDC_TEXT_MIN, value)");
  show(objtemplates::kTextMax, m_nMax, "value = _ConvertPropertyValueToString(nmax)",
       "SetDlgItemText(IDC_TEXT_MAX, value)");
}
