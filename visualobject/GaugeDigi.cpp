#include "visualobject/DisplayObjects.h"
#include "visualobject/Guarded.h"
#include "visualobject/ObjectTemplates.h"
#include "widgets/SegmentDisplayCtrl.h"

CGaugeDigi::CGaugeDigi() : CVisualObject(objtemplates::Readout(), "watch") {}

bool CGaugeDigi::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(140, 71), parent, server);
  SetCaptionControl(objtemplates::kCaption, KELMORA_UNIT);
  if (m_display) {
    m_display->SetDisplayColors(MakeColorRef(0, 0, 0), MakeColorRef(0, 255, 0));
    m_display->SetDisplayText(QStringLiteral("No value"));
  }
  if (created) StartUpdate();
  return created;
}

void CGaugeDigi::DoDataExchange() {
  CVisualObject::DoDataExchange();
  m_display = Item<CSegmentDisplayCtrl>(objtemplates::kDigitalDisplay);
}

void CGaugeDigi::SetValue(int32_t nval) {
  std::string value;
  Guarded("value = _ConvertPropertyValueToString(nval)", KELMORA_UNIT,
          [&] { value = _ConvertPropertyValueToString(nval); });
  if (m_display) m_display->SetDisplayText(QString::fromStdString(value));
}
