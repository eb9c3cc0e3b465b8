#include "widgets/AdvComboBox.h"

#include "widgets/DialogTemplate.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

AdvComboBox::AdvComboBox(std::uint32_t options, QWidget* parent)
    : QComboBox(parent), m_dwOptions(options) {
  setEditable(true);
  // The list changes only through AddItem: no insertion of its own on Enter and no inline
  // completion that would rewrite what the operator types.
  setInsertPolicy(QComboBox::NoInsert);
  setDuplicatesEnabled(true);
  setCompleter(nullptr);
  view()->installEventFilter(this);
}

int AdvComboBox::ControlId() const { return ::controlId(this); }

std::uint32_t AdvComboBox::PackNotification(int index, int controlId) {
  return (static_cast<std::uint32_t>(index) << 16) | (static_cast<std::uint32_t>(controlId) & 0xFFFF);
}

int AdvComboBox::FindItem(int start, const QString& text) const {
  const int n = count();
  if (text.isEmpty()) {
    for (int i = n - 1; i >= 0; --i) {
      if (itemText(i).isEmpty()) return i;
    }
    return -1;
  }
  if (n == 0) return -1;
  // The search begins after `start` and wraps round once; a case-sensitive search passes over
  // items that differ in case only.
  const int first = (start < 0 || start >= n) ? 0 : start + 1;
  for (int k = 0; k < n; ++k) {
    const int i = (first + k) % n;
    const QString item = itemText(i);
    if (item.compare(text, Qt::CaseInsensitive) != 0) continue;
    if (CaseSensitive() && item != text) continue;
    return i;
  }
  return -1;
}

template <typename Change>
void AdvComboBox::KeepingEditState(Change change) {
  const QString typed = currentText();
  const QSignalBlocker blocker(this);
  change();
  if (lineEdit() && lineEdit()->text() != typed) lineEdit()->setText(typed);
}

int AdvComboBox::SortedPosition(const QString& text) const {
  int i = 0;
  while (i < count() && itemText(i).compare(text, Qt::CaseInsensitive) <= 0) ++i;
  return i;
}

int AdvComboBox::InsertAt(int position, const QString& text) {
  int index = m_bSorted ? SortedPosition(text) : (position < 0 ? count() : position);
  if (index > count()) index = count();
  const int selected = currentIndex();
  KeepingEditState([&] {
    insertItem(index, text);
    // Inserting into an empty list selects the new item; a plain insertion selects nothing.
    if (selected < 0) setCurrentIndex(-1);
  });
  return index;
}

void AdvComboBox::SelectText(const QString& text) {
  const int found = FindItem(-1, text);
  if (found >= 0) {
    setCurrentIndex(found);
  } else if (lineEdit()) {
    KeepingEditState([&] { setCurrentIndex(-1); });
    lineEdit()->setText(text);
  }
}

int AdvComboBox::AddItem(int position, const QString& text) {
  if (position < 0 || position > count()) position = -1;
  if (text.isEmpty()) return -1;

  const int found = FindItem(-1, text);
  if (found < 0) {
    const int index = InsertAt(position, text);
    if (index >= 0) {
      m_bAddNotified = true;
      emit ItemAdded(index, ControlId(), text);
    }
    return index;
  }

  if ((position == -1 || position == found) && itemText(found) == text) return -1;

  // Replace the item that matched: same data, the new text, at the asked place (its own place
  // when none was asked), and the previous selection kept.
  const QString typed = currentText();
  const QString selectedText = currentIndex() >= 0 ? itemText(currentIndex()) : QString();
  const QVariant data = itemData(found);
  int index = -1;
  KeepingEditState([&] {
    removeItem(found);
    index = InsertAt(position == -1 ? found : position, text);
    setItemData(index, data);
    setCurrentIndex(-1);
    if (!selectedText.isEmpty()) {
      // The selected item may have been the one replaced: select it under its new text.
      const int again = selectedText.compare(text, Qt::CaseInsensitive) == 0 ? index
                                                                            : FindItem(-1, selectedText);
      if (again >= 0) setCurrentIndex(again);
    }
  });
  if (lineEdit() && lineEdit()->text() != typed) lineEdit()->setText(typed);
  return index;
}

void AdvComboBox::CommitText() {
  const QString text = currentText();
  m_bAddNotified = false;
  const int added = AddItem(-1, text);
  // A new item has been announced by AddItem; an item replaced by the committed text (the
  // same text in another case) is announced here, so every commit that changes the list is
  // announced exactly once.
  if (added >= 0 && !m_bAddNotified) emit ItemAdded(added, ControlId(), text);
  if (added < 0 && !text.isEmpty()) SelectText(text);
}

bool AdvComboBox::DeleteSelectedListItem() {
  const int index = view()->currentIndex().isValid() ? view()->currentIndex().row() : -1;
  if (index < 0 || index >= count()) return false;
  const QString remembered = currentText();
  const QString deleted = itemText(index);
  KeepingEditState([&] { removeItem(index); });
  if (!remembered.isEmpty()) {
    const int again = FindItem(-1, remembered);
    const QSignalBlocker blocker(this);
    setCurrentIndex(again);
    if (lineEdit()) lineEdit()->setText(remembered);
  }
  emit ItemDeleted(index, ControlId(), deleted);
  return true;
}

void AdvComboBox::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter belongs to the combo, not to the dialog's default button.
      if (view()->isVisible()) hidePopup();
      CommitText();
      event->accept();
      return;
    case Qt::Key_Down:
      if (!view()->isVisible() && count() > 0 && !(event->modifiers() & Qt::AltModifier)) {
        showPopup();
        event->accept();
        return;
      }
      break;
    default:
      break;
  }
  QComboBox::keyPressEvent(event);
}

bool AdvComboBox::eventFilter(QObject* watched, QEvent* event) {
  // While the list is open it has the keyboard: Ctrl+Delete and Enter arrive here.
  if (watched == view() && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier)) {
      if (DeleteSelectedListItem()) return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      // The highlighted entry becomes the text, the list closes, and the text is committed.
      const QModelIndex highlighted = view()->currentIndex();
      if (highlighted.isValid()) setCurrentIndex(highlighted.row());
      hidePopup();
      CommitText();
      return true;
    }
  }
  return QComboBox::eventFilter(watched, event);
}

void AdvComboBox::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  // Opening the list takes the focus for a moment; that is no reason to commit.
  if (m_bAutoCommit && event->reason() != Qt::PopupFocusReason) CommitText();
}
