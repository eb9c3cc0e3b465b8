// The unique-item combo box: matching with and without case, replacing items, the keys and
// the two notifications.
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/AdvComboBox.h"
#include "widgets/DialogTemplate.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QStringList Items(const QComboBox& combo) {
  QStringList items;
  for (int i = 0; i < combo.count(); ++i) items << combo.itemText(i);
  return items;
}

void Fill(AdvComboBox& combo, const QStringList& items) {
  for (const QString& item : items) combo.AddItem(-1, item);
}

}  // namespace

TEST(AdvComboBox, FindItemMatchesWithoutCaseUnlessAskedAndWrapsAfterStart) {
  AdvComboBox loose;
  loose.addItem(QStringLiteral("a"));
  loose.addItem(QStringLiteral("b"));
  loose.addItem(QStringLiteral("A"));
  EXPECT_EQ(loose.FindItem(-1, QStringLiteral("A")), 0);
  EXPECT_EQ(loose.FindItem(0, QStringLiteral("a")), 2);  // the search starts after `start`
  EXPECT_EQ(loose.FindItem(2, QStringLiteral("a")), 0);  // and wraps round
  EXPECT_EQ(loose.FindItem(-1, QStringLiteral("c")), -1);

  AdvComboBox strict(AdvComboBox::kCaseSensitive);
  strict.addItem(QStringLiteral("a"));
  strict.addItem(QStringLiteral("b"));
  strict.addItem(QStringLiteral("A"));
  EXPECT_EQ(strict.FindItem(-1, QStringLiteral("A")), 2);
  EXPECT_EQ(strict.FindItem(2, QStringLiteral("A")), 2);
  EXPECT_EQ(strict.FindItem(-1, QStringLiteral("B")), -1);

  // An empty text finds the last empty item.
  strict.addItem(QString());
  strict.addItem(QStringLiteral("c"));
  strict.addItem(QString());
  EXPECT_EQ(strict.FindItem(-1, QString()), 5);
  EXPECT_EQ(loose.FindItem(-1, QString()), -1);
}

TEST(AdvComboBox, AddingCOM3ReplacesCom3InPlaceKeepingItsDataWhenCaseIsIgnored) {
  AdvComboBox combo;
  Fill(combo, {QStringLiteral("COM1"), QStringLiteral("com3"), QStringLiteral("COM4")});
  combo.setItemData(1, 42);
  EXPECT_EQ(combo.AddItem(-1, QStringLiteral("COM3")), 1);
  EXPECT_EQ(Items(combo), (QStringList{"COM1", "COM3", "COM4"}));
  EXPECT_EQ(combo.itemData(1).toInt(), 42);
}

TEST(AdvComboBox, AddingCOM3AddsASecondItemWhenCaseMatters) {
  AdvComboBox combo(AdvComboBox::kCaseSensitive);
  Fill(combo, {QStringLiteral("COM1"), QStringLiteral("com3")});
  EXPECT_EQ(combo.AddItem(-1, QStringLiteral("COM3")), 2);
  EXPECT_EQ(Items(combo), (QStringList{"COM1", "com3", "COM3"}));
  EXPECT_EQ(combo.AddItem(-1, QStringLiteral("com3")), -1);
}

TEST(AdvComboBox, AnIdenticalOrEmptyTextLeavesTheListUnchanged) {
  AdvComboBox combo;
  Fill(combo, {QStringLiteral("COM1"), QStringLiteral("COM3")});
  QSignalSpy added(&combo, &AdvComboBox::ItemAdded);
  EXPECT_EQ(combo.AddItem(-1, QStringLiteral("COM3")), -1);
  EXPECT_EQ(combo.AddItem(1, QStringLiteral("COM3")), -1);  // at its own place
  EXPECT_EQ(combo.AddItem(-1, QString()), -1);
  EXPECT_EQ(Items(combo), (QStringList{"COM1", "COM3"}));
  EXPECT_EQ(added.count(), 0);
}

TEST(AdvComboBox, PositionsPlaceNewItemsAndMoveExistingOnesKeepingTheSelection) {
  AdvComboBox combo;
  Fill(combo, {QStringLiteral("b"), QStringLiteral("c")});
  EXPECT_EQ(combo.AddItem(0, QStringLiteral("a")), 0);
  EXPECT_EQ(combo.AddItem(99, QStringLiteral("d")), 3);  // out of range: at the end
  EXPECT_EQ(Items(combo), (QStringList{"a", "b", "c", "d"}));
  EXPECT_EQ(combo.currentIndex(), -1);  // adding selects nothing

  combo.setCurrentIndex(3);  // "d"
  EXPECT_EQ(combo.AddItem(0, QStringLiteral("c")), 0);  // moved to the front
  EXPECT_EQ(Items(combo), (QStringList{"c", "a", "b", "d"}));
  EXPECT_EQ(combo.currentText(), QStringLiteral("d"));
  EXPECT_EQ(combo.currentIndex(), 3);

  AdvComboBox sorted;
  sorted.SetSorted(true);
  Fill(sorted, {QStringLiteral("delta"), QStringLiteral("Alpha"), QStringLiteral("charlie"),
                QStringLiteral("Bravo")});
  EXPECT_EQ(Items(sorted), (QStringList{"Alpha", "Bravo", "charlie", "delta"}));
}

TEST(AdvComboBox, EnterCommitsTheTypedTextAndDoesNotReachTheDefaultButton) {
  QDialog dialog;
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  auto* combo = new AdvComboBox(0, &dialog);
  setControlId(combo, 1041);
  Fill(*combo, {QStringLiteral("COM1")});
  dialog.show();
  combo->setFocus();
  QSignalSpy added(combo, &AdvComboBox::ItemAdded);
  QSignalSpy accepted(&dialog, &QDialog::accepted);

  combo->lineEdit()->setText(QStringLiteral("COM7"));
  QTest::keyClick(combo, Qt::Key_Return);
  EXPECT_EQ(Items(*combo), (QStringList{"COM1", "COM7"}));
  ASSERT_EQ(added.count(), 1);
  EXPECT_EQ(added[0][0].toInt(), 1);
  EXPECT_EQ(added[0][1].toInt(), 1041);
  EXPECT_EQ(added[0][2].toString(), QStringLiteral("COM7"));
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_EQ(AdvComboBox::PackNotification(1, 1041), (1u << 16) | 1041u);

  // Committing a text the list holds selects it and announces nothing.
  combo->lineEdit()->setText(QStringLiteral("COM1"));
  QTest::keyClick(combo, Qt::Key_Enter);
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(added.count(), 1);
  EXPECT_EQ(combo->count(), 2);

  // The same text in another case replaces the item, announced once.
  combo->lineEdit()->setText(QStringLiteral("com7"));
  combo->CommitText();
  EXPECT_EQ(Items(*combo), (QStringList{"COM1", "com7"}));
  ASSERT_EQ(added.count(), 2);
  EXPECT_EQ(added[1][0].toInt(), 1);
  EXPECT_EQ(added[1][2].toString(), QStringLiteral("com7"));
}

TEST(AdvComboBox, CtrlDeleteDeletesTheHighlightedItemOnlyWhileTheListIsOpen) {
  QWidget parent;
  auto* combo = new AdvComboBox(0, &parent);
  setControlId(combo, 1041);
  Fill(*combo, {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3")});
  combo->setCurrentIndex(2);
  parent.show();
  QSignalSpy deleted(combo, &AdvComboBox::ItemDeleted);

  QTest::keyClick(combo, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(combo->count(), 3);
  EXPECT_EQ(deleted.count(), 0);

  QTest::keyClick(combo, Qt::Key_Down);  // opens the list
  ASSERT_TRUE(combo->view()->isVisible());
  combo->view()->setCurrentIndex(combo->model()->index(1, 0));
  QTest::keyClick(combo->view(), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(Items(*combo), (QStringList{"COM1", "COM3"}));
  ASSERT_EQ(deleted.count(), 1);
  EXPECT_EQ(deleted[0][0].toInt(), 1);
  EXPECT_EQ(deleted[0][1].toInt(), 1041);
  EXPECT_EQ(deleted[0][2].toString(), QStringLiteral("COM2"));
  // The text shown before stays selected.
  EXPECT_EQ(combo->currentText(), QStringLiteral("COM3"));
  EXPECT_EQ(combo->currentIndex(), 1);
  combo->hidePopup();
}

TEST(AdvComboBox, DownOpensTheListOnlyWhenThereAreItems) {
  QWidget parent;
  auto* combo = new AdvComboBox(0, &parent);
  parent.show();
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_FALSE(combo->view()->isVisible());
  combo->AddItem(-1, QStringLiteral("9600"));
  combo->AddItem(-1, QStringLiteral("19200"));
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_TRUE(combo->view()->isVisible());
  // Enter in the open list takes the highlighted entry, closes the list and commits.
  QSignalSpy added(combo, &AdvComboBox::ItemAdded);
  combo->view()->setCurrentIndex(combo->model()->index(1, 0));
  QTest::keyClick(combo->view(), Qt::Key_Return);
  EXPECT_FALSE(combo->view()->isVisible());
  EXPECT_EQ(combo->currentIndex(), 1);
  EXPECT_EQ(combo->currentText(), QStringLiteral("19200"));
  EXPECT_EQ(added.count(), 0);
  EXPECT_EQ(combo->count(), 2);
}

TEST(AdvComboBox, LosingTheFocusCommitsOnlyWithAutoCommit) {
  AdvComboBox combo;
  combo.lineEdit()->setText(QStringLiteral("115200"));
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(&combo, &out);
  EXPECT_EQ(combo.count(), 0);

  combo.SetAutoCommit(true);
  QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
  QCoreApplication::sendEvent(&combo, &popup);
  EXPECT_EQ(combo.count(), 0);
  QCoreApplication::sendEvent(&combo, &out);
  EXPECT_EQ(Items(combo), (QStringList{"115200"}));
  EXPECT_EQ(combo.currentText(), QStringLiteral("115200"));
}
