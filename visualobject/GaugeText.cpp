#include "visualobject/DisplayObjects.h"
#include "visualobject/Guarded.h"
#include "visualobject/ObjectTemplates.h"

CGaugeText::CGaugeText() : CVisualObject(objtemplates::Text(), "text") {}

bool CGaugeText::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(177, 17), parent, server);
  SetCaptionControl(objtemplates::kCaption, KELMORA_UNIT);
  if (created) StartUpdate();
  return created;
}

void CGaugeText::SetValue(int32_t nval) {
  const std::vector<std::string>& data = m_pProp.data;
  const auto n = static_cast<int32_t>(data.size());
  const bool fixed = m_pProp.IsFixed();
  std::string value;
  if (m_pProp.iSlMin == 0 && m_pProp.iSlMax == n && !fixed) {
    // A state index: its data text, nothing for an index outside the list.
    if (nval >= 0 && nval < n) value = data[static_cast<size_t>(nval)];
  } else if (m_pProp.iSlMin == 0 && m_pProp.iSlMax == 1 && !fixed) {
    // A flag: its two data texts when there are exactly two, else Off and On.
    if (n == 2)
      value = data[nval != 0 ? 1 : 0];
    else
      value = nval != 0 ? "On" : "Off";
  } else {
    Guarded("value = _ConvertPropertyValueToString(nval)", KELMORA_UNIT,
            [&] { value = _ConvertPropertyValueToString(nval); });
  }
  Guarded("SetDlgItemText(IDC_TEXT_DATA, value)", KELMORA_UNIT,
          [&] { SetDlgItemText(objtemplates::kTextData, QString::fromStdString(value)); });
}
