#include "widgets/TabCtrl.h"

#include <algorithm>
#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

CTabCtrl::CTabCtrl(QWidget* parent) : QWidget(parent), m_pBar(new QTabBar(this)) {
  m_pBar->setDrawBase(false);
  m_pBar->setExpanding(false);
  m_pBar->setUsesScrollButtons(true);
  connect(m_pBar, &QTabBar::currentChanged, this, &CTabCtrl::SelectionChanged);
  LayoutBar();
}

int CTabCtrl::InsertItem(int position, const QString& text) {
  const int index = m_pBar->insertTab(position, text);
  LayoutBar();
  update();
  return index;
}

int CTabCtrl::GetItemCount() const { return m_pBar->count(); }

QString CTabCtrl::ItemText(int index) const { return m_pBar->tabText(index); }

int CTabCtrl::GetCurSel() const { return m_pBar->currentIndex(); }

void CTabCtrl::SetCurSel(int index) { m_pBar->setCurrentIndex(index); }

QRect CTabCtrl::GetItemRect(int index) const {
  if (index < 0 || index >= m_pBar->count()) return {};
  return m_pBar->tabRect(index).translated(m_pBar->pos());
}

void CTabCtrl::LayoutBar() {
  const QSize hint = m_pBar->sizeHint();
  m_pBar->setGeometry(2, 0, std::max(0, std::min(hint.width(), width() - 4)), hint.height());
}

void CTabCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutBar();
}

void CTabCtrl::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionTabWidgetFrame option;
  option.initFrom(this);
  const int top = m_pBar->count() > 0 ? m_pBar->geometry().bottom() + 1 : 0;
  option.rect = rect().adjusted(0, top - 1, 0, 0);
  option.tabBarSize = m_pBar->size();
  option.tabBarRect = m_pBar->geometry();
  option.shape = QTabBar::RoundedNorth;
  option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}
