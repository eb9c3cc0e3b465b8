#include "widgets/PageContainer.h"

#include "comm/FaultLog.h"
#include "widgets/DialogTemplate.h"
#include "widgets/TabCtrl.h"

CSimpleView::CSimpleView(int pageIndex, QWidget* parent) : QWidget(parent), m_nPageIndex(pageIndex) {}

CPageContainer::CPageContainer(QWidget* dialog, CTabCtrl* tabCtrl)
    : QObject(dialog), m_pDialog(dialog), m_tabCtrl(tabCtrl) {
  if (m_tabCtrl) {
    connect(m_tabCtrl, &CTabCtrl::SelectionChanged, this, [this](int index) { ShowPage(index); });
  }
}

DialogBaseUnits CPageContainer::Units() const { return DialogBaseUnits::FromWidget(m_pDialog); }

QRect CPageContainer::PageRect() const {
  if (!m_tabCtrl) return {};
  const DialogBaseUnits units = Units();
  QRect page = m_tabCtrl->rect();
  const QRect firstTab = m_tabCtrl->GetItemRect(0);
  if (!firstTab.isEmpty()) page.setTop(firstTab.bottom() + 1);
  const int dx = units.ToPixelsX(kPageInset);
  const int dy = units.ToPixelsY(kPageInset);
  return page.adjusted(dx, dy, -dx, -dy);
}

CSimpleView* CPageContainer::AddPage(const QString& name) {
  const int index = static_cast<int>(m_pages.size());
  const QString text = name.isEmpty() ? QStringLiteral("Page %1").arg(index + 1) : name;
  if (!m_tabCtrl) {
    // These lines belong to the main dialog's unit, whose pages this container keeps.
    faultlog::NullAssertion("pNewPage->Create(WS_VISIBLE | WS_CHILD, rectTab, &m_tabCtrl, 0x401)",
                            "KelmoraDlg.cpp");
    return nullptr;
  }
  m_tabCtrl->InsertItem(index, text);
  const QRect rect = PageRect();
  auto* page = new CSimpleView(index, m_tabCtrl);
  setControlId(page, CSimpleView::kControlId);
  page->setGeometry(rect);
  page->show();
  m_pages.push_back(page);
  ShowPage(0);
  return page;
}

std::vector<CSimpleView*> CPageContainer::Pages() const {
  std::vector<CSimpleView*> pages;
  for (const auto& page : m_pages) {
    if (page) pages.push_back(page.data());
  }
  return pages;
}

CSimpleView* CPageContainer::FindPage(int index) const {
  CSimpleView* found = nullptr;
  for (CSimpleView* page : Pages()) {
    if (page->PageIndex() == index) found = page;
  }
  return found;
}

void CPageContainer::ShowPage(int index) {
  for (CSimpleView* page : Pages()) page->hide();
  if (CSimpleView* page = FindPage(index)) page->show();
}

void CPageContainer::SetClientSize(int width, int height) {
  if (!m_tabCtrl) return;
  const DialogBaseUnits units = Units();
  const QSize wanted = units.ToPixels(QSize(width, height));
  const QSize delta = wanted - m_tabCtrl->size();
  m_tabCtrl->resize(wanted);
  if (m_pDialog) m_pDialog->resize(m_pDialog->size() + delta);
}
