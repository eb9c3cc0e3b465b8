#include <QCheckBox>

#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"

CPropertyBinary::CPropertyBinary() : CVisualObject(objtemplates::Check(), "check") {}

bool CPropertyBinary::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(177, 31), parent, server);
  if (m_check) m_check->setText(QString::fromStdString(m_pProp.caption));
  return created;
}

void CPropertyBinary::DoDataExchange() {
  CVisualObject::DoDataExchange();
  m_check = Item<QCheckBox>(objtemplates::kCheck);
  if (m_check) connect(m_check, &QCheckBox::clicked, this, [this] { InstantQuery(true); });
}

int32_t CPropertyBinary::GetValue() {
  if (!m_check) return 0;
  switch (m_check->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
  }
}

void CPropertyBinary::SetValue(int32_t raw) {
  if (m_check) m_check->setChecked(raw != 0);
}
