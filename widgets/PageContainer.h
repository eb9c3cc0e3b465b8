// CPageContainer: the pages of the main dialog as the tabs of its tab control (id 1030).
//
// Each page is a CSimpleView, a plain child of the tab control placed below the tabs, that
// bears the page index it was made with (0, 1, 2, ... in creation order). The container adds,
// finds and shows pages and sizes the page area in dialog units of the dialog's font.
#pragma once

#include "widgets/DialogUnits.h"

#include <QPointer>
#include <QWidget>
#include <vector>

class CTabCtrl;

class CSimpleView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kControlId = 1025;

  explicit CSimpleView(int pageIndex, QWidget* parent = nullptr);
  int PageIndex() const { return m_nPageIndex; }
  void SetPageIndex(int index) { m_nPageIndex = index; }

 private:
  int m_nPageIndex;
};

class CPageContainer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTabControlId = 1030;
  static constexpr int kPageInset = 5;  // dialog units between the tab frame and a page

  // `dialog` gives the font of the dialog units and is resized by SetClientSize; `tabCtrl`
  // frames the pages (usually control 1030 of the dialog).
  CPageContainer(QWidget* dialog, CTabCtrl* tabCtrl);

  // Adds a tab named `name` ("Page %d" with its number when empty) and its page view; the
  // first page is shown. Returns the view, null when it could not be made.
  CSimpleView* AddPage(const QString& name);
  // The page bearing `index` (the last one when several do), null when none.
  CSimpleView* FindPage(int index) const;
  // Hides every page and shows the one bearing `index`, if any.
  void ShowPage(int index);
  // Sizes the tab control to (width, height) dialog units; the dialog grows or shrinks by the
  // same amount so the margins around the tab control stay.
  void SetClientSize(int width, int height);

  // The pages in creation order (pages deleted elsewhere drop out).
  std::vector<CSimpleView*> Pages() const;
  int PageCount() const { return static_cast<int>(Pages().size()); }
  CTabCtrl* TabCtrl() const { return m_tabCtrl; }
  DialogBaseUnits Units() const;
  // Where AddPage places a page: below the first tab, inset by 5 dialog units on every side.
  QRect PageRect() const;

 private:
  QPointer<QWidget> m_pDialog;
  QPointer<CTabCtrl> m_tabCtrl;
  std::vector<QPointer<CSimpleView>> m_pages;  // the tab control owns the views
};
