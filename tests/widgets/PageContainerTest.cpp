// The page container: tab names, which page is visible, finding pages by index, the page
// rectangle and sizing the page area in dialog units.
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/DialogTemplate.h"
#include "widgets/PageContainer.h"
#include "widgets/TabCtrl.h"

#include <QFile>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct MainDialog {
  QWidget dialog;
  CPageContainer* pages = nullptr;
  MainDialog() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    dialog.setFont(font);
    BuildDialog({100, QStringLiteral("Kelmora"), 300, 200,
                 {{CPageContainer::kTabControlId, ControlKind::Tab, {}, 7, 7, 286, 170, 0, {}}}},
                &dialog);
    pages = new CPageContainer(&dialog, control<CTabCtrl>(&dialog, CPageContainer::kTabControlId));
    dialog.show();
  }
};

}  // namespace

TEST(PageContainer, PagesAreNamedByNameOrNumberAndOnlyTheFirstIsShown) {
  MainDialog m;
  ASSERT_NE(m.pages->TabCtrl(), nullptr);
  CSimpleView* first = m.pages->AddPage(QString());
  CSimpleView* second = m.pages->AddPage(QStringLiteral("Настройки"));
  CSimpleView* third = m.pages->AddPage(QString());
  ASSERT_TRUE(first && second && third);
  CTabCtrl* tabs = m.pages->TabCtrl();
  EXPECT_EQ(tabs->GetItemCount(), 3);
  EXPECT_EQ(tabs->ItemText(0), QStringLiteral("Page 1"));
  EXPECT_EQ(tabs->ItemText(1), QStringLiteral("Настройки"));
  EXPECT_EQ(tabs->ItemText(2), QStringLiteral("Page 3"));
  EXPECT_EQ(first->PageIndex(), 0);
  EXPECT_EQ(third->PageIndex(), 2);
  EXPECT_EQ(controlId(second), CSimpleView::kControlId);
  EXPECT_EQ(second->parentWidget(), tabs);
  EXPECT_TRUE(first->isVisible());
  EXPECT_FALSE(second->isVisible());
  EXPECT_FALSE(third->isVisible());

  // Clicking a tab shows its page.
  QTest::mouseClick(tabs->TabBar(), Qt::LeftButton, Qt::NoModifier,
                    tabs->TabBar()->tabRect(1).center());
  EXPECT_EQ(tabs->GetCurSel(), 1);
  EXPECT_TRUE(second->isVisible());
  EXPECT_FALSE(first->isVisible());
  tabs->SetCurSel(2);
  EXPECT_TRUE(third->isVisible());
  EXPECT_FALSE(second->isVisible());
  m.pages->ShowPage(7);
  EXPECT_FALSE(first->isVisible() || second->isVisible() || third->isVisible());
}

TEST(PageContainer, FindPageGivesTheLastPageBearingTheIndex) {
  MainDialog m;
  m.pages->AddPage(QString());
  CSimpleView* b = m.pages->AddPage(QString());
  CSimpleView* c = m.pages->AddPage(QString());
  EXPECT_EQ(m.pages->FindPage(1), b);
  EXPECT_EQ(m.pages->FindPage(3), nullptr);
  EXPECT_EQ(m.pages->FindPage(-1), nullptr);
  c->SetPageIndex(1);
  EXPECT_EQ(m.pages->FindPage(1), c);
  m.pages->ShowPage(1);
  EXPECT_TRUE(c->isVisible());
  EXPECT_FALSE(b->isVisible());
}

TEST(PageContainer, PagesSitBelowTheFirstTabInsetByFiveDialogUnits) {
  MainDialog m;
  CSimpleView* page = m.pages->AddPage(QStringLiteral("One"));
  CTabCtrl* tabs = m.pages->TabCtrl();
  const DialogBaseUnits units = m.pages->Units();
  ASSERT_NE(units, DialogBaseUnits{});  // the dialog's font, not the 4 and 8 fallback
  const QRect tab = tabs->GetItemRect(0);
  ASSERT_FALSE(tab.isEmpty());
  const QRect expected(units.ToPixelsX(5), tab.bottom() + 1 + units.ToPixelsY(5),
                       tabs->width() - 2 * units.ToPixelsX(5),
                       tabs->height() - (tab.bottom() + 1) - 2 * units.ToPixelsY(5));
  EXPECT_EQ(page->geometry(), expected);
}

TEST(PageContainer, SetClientSizeResizesTheTabsAndKeepsTheDialogMargins) {
  MainDialog m;
  CTabCtrl* tabs = m.pages->TabCtrl();
  const QPoint corner = tabs->pos();
  const QSize margins = m.dialog.size() - tabs->size();
  m.pages->SetClientSize(400, 250);
  const DialogBaseUnits units = m.pages->Units();
  EXPECT_EQ(tabs->size(), QSize(units.ToPixelsX(400), units.ToPixelsY(250)));
  EXPECT_EQ(tabs->pos(), corner);
  EXPECT_EQ(m.dialog.size() - tabs->size(), margins);
  m.pages->SetClientSize(100, 60);
  EXPECT_EQ(m.dialog.size() - tabs->size(), margins);
}

TEST(PageContainer, WithoutADialogFontTheUnitsArePixels) {
  CTabCtrl tabs;
  tabs.resize(200, 100);
  CPageContainer pages(nullptr, &tabs);
  EXPECT_EQ(pages.Units(), DialogBaseUnits{});
  pages.SetClientSize(150, 80);
  EXPECT_EQ(tabs.size(), QSize(150, 80));
}

TEST(PageContainer, APageThatCannotBeMadeIsLoggedAsANullAssertion) {
  testutil::ScratchFolder folder;
  QWidget dialog;
  CPageContainer pages(&dialog, nullptr);
  EXPECT_EQ(pages.AddPage(QStringLiteral("x")), nullptr);
  EXPECT_EQ(pages.PageCount(), 0);
  QFile log(QStringLiteral("faults.log"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(log.readAll()),
            QStringLiteral("F Assert: Expression is null pNewPage->Create(WS_VISIBLE | WS_CHILD, "
                           "rectTab, &m_tabCtrl, 0x401) in file KelmoraDlg.cpp\n"));
}
