#include <QComboBox>

#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"

CPropertyCombo::CPropertyCombo() : CVisualObject(objtemplates::Combo(), "combo") {}

bool CPropertyCombo::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(178, 34), parent, server);
  SetDlgItemText(objtemplates::kComboCaption, QString::fromStdString(m_pProp.caption));
  if (m_combo) {
    // The items are the data texts up to the first empty one; an item's index is the value.
    for (const std::string& text : m_pProp.data) {
      if (text.empty()) break;
      m_combo->addItem(QString::fromStdString(text));
    }
    m_combo->setCurrentIndex(-1);
  }
  return created;
}

void CPropertyCombo::DoDataExchange() {
  CVisualObject::DoDataExchange();
  m_combo = Item<QComboBox>(objtemplates::kCombo);
  if (!m_combo) return;
  m_combo->setEditable(false);  // a drop-down list: the operator picks, never types
  // activated: the operator's choice only, not the selection that SetValue makes.
  connect(m_combo, &QComboBox::activated, this, [this] { InstantQuery(true); });
}

int32_t CPropertyCombo::GetValue() { return m_combo ? m_combo->currentIndex() : -1; }

void CPropertyCombo::SetValue(int32_t raw) {
  if (m_combo) m_combo->setCurrentIndex(raw >= 0 && raw < m_combo->count() ? raw : -1);
}
