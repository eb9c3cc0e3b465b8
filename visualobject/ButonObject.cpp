#include <QAbstractButton>

#include "profiles/ProfileNumbers.h"
#include "visualobject/InputObjects.h"
#include "visualobject/ObjectTemplates.h"
#include "visualobject/PageHost.h"

CButonObject::CButonObject() : CVisualObject(objtemplates::Button(), "button") {}

bool CButonObject::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(92, 22), parent, server);
  if (!m_button) return created;
  m_button->setText(QString::fromStdString(m_pProp.caption));

  // "sizex" and "sizey" resize the button; the window keeps its corner and grows to keep
  // twice its old right and bottom margins around the button.
  const std::string sizeX = m_pProperties.Keyword("sizex");
  const std::string sizeY = m_pProperties.Keyword("sizey");
  if (sizeX.empty() || sizeY.empty() || parent == nullptr) return created;
  const DialogBaseUnits units = parent->Units();
  const int cx = units.ToPixelsX(profilenumbers::ReadInt(sizeX));
  const int cy = units.ToPixelsY(profilenumbers::ReadInt(sizeY));
  const QRect button = m_button->geometry();  // in this window's coordinates
  const int rightMargin = width() - (button.x() + button.width());
  const int bottomMargin = height() - (button.y() + button.height());
  m_button->setGeometry(button.x(), button.y(), cx, cy);
  resize(button.x() + cx + 2 * rightMargin, button.y() + cy + 2 * bottomMargin);
  return created;
}

void CButonObject::DoDataExchange() {
  CVisualObject::DoDataExchange();
  m_button = Item<QAbstractButton>(objtemplates::kButton);
  if (m_button) connect(m_button, &QAbstractButton::clicked, this, [this] { InstantQuery(true); });
}
