// AdvComboBox: an editable combo box whose list holds every text once. Enter commits the
// typed text to the list, Down opens the list, Ctrl+Delete in the open list deletes the
// highlighted entry, and the parent learns of added and deleted entries through
// ItemAdded / ItemDeleted.
#pragma once

#include <QComboBox>
#include <cstdint>

class AdvComboBox : public QComboBox {
  Q_OBJECT

 public:
  static constexpr std::uint32_t kCaseSensitive = 0x0004;  // option: texts match with case

  explicit AdvComboBox(std::uint32_t options = 0, QWidget* parent = nullptr);

  std::uint32_t Options() const { return m_dwOptions; }
  bool CaseSensitive() const { return (m_dwOptions & kCaseSensitive) != 0; }
  // Losing the keyboard focus commits the typed text.
  void SetAutoCommit(bool on) { m_bAutoCommit = on; }
  bool AutoCommit() const { return m_bAutoCommit; }
  // Sorted lists insert every new text at its place in case-insensitive order.
  void SetSorted(bool on) { m_bSorted = on; }
  bool Sorted() const { return m_bSorted; }
  // The control id given by the dialog template (0 when built by hand).
  int ControlId() const;

  // The index of an item equal to `text` after `start` (wrapping round), or -1. An empty text
  // finds the last empty item.
  int FindItem(int start, const QString& text) const;
  // Adds `text` at `position` (-1 or out of range: at the end) unless the list holds it; an
  // item that differs only in case is replaced in place with its data kept. Returns the new
  // index, or -1 when the list did not change. A new item is announced with ItemAdded.
  int AddItem(int position, const QString& text);
  // Adds the typed text, or selects the item that already holds it. Announces the item with
  // ItemAdded once when the list changed.
  void CommitText();
  // Deletes the item highlighted in the open list; false when none is.
  bool DeleteSelectedListItem();

  // The two notifications' first word: (index << 16) | control id.
  static std::uint32_t PackNotification(int index, int controlId);

 signals:
  void ItemAdded(int index, int controlId, const QString& text);
  void ItemDeleted(int index, int controlId, const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs a change of the list without letting the combo change the typed text or selection.
  template <typename Change>
  void KeepingEditState(Change change);
  int InsertAt(int position, const QString& text);
  int SortedPosition(const QString& text) const;
  void SelectText(const QString& text);

  std::uint32_t m_dwOptions;
  bool m_bAutoCommit = false;
  bool m_bSorted = false;
  bool m_bAddNotified = false;  // AddItem announced the item it added
};
