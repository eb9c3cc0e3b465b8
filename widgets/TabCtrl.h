// CTabCtrl: a tab strip over a framed page area whose pages the owner places and shows
// itself, as the main dialog's page container does with its page views.
#pragma once

#include <QWidget>

class QTabBar;

class CTabCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CTabCtrl(QWidget* parent = nullptr);

  int InsertItem(int position, const QString& text);
  int GetItemCount() const;
  QString ItemText(int index) const;
  int GetCurSel() const;
  void SetCurSel(int index);
  // The rectangle of tab `index` in this control's coordinates (empty when none).
  QRect GetItemRect(int index) const;
  QTabBar* TabBar() const { return m_pBar; }

 signals:
  // The operator (or SetCurSel) selected another tab.
  void SelectionChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayoutBar();
  QTabBar* m_pBar;
};
