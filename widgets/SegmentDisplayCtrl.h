// CSegmentDisplayCtrl: a short text drawn like a segment display: every character is a cell
// of segments, lit ones in the on colour and the others in the off colour, on a background.
#pragma once

#include "widgets/ColorRef.h"
#include "widgets/SegmentGlyphs.h"

#include <QFrame>
#include <cstdint>
#include <vector>

class CSegmentDisplayCtrl : public QFrame {
  Q_OBJECT

 public:
  static constexpr std::uint8_t kSoftEdge = 0x10;  // outlines blend into the background
  static constexpr COLORREF kDefaultOff = 0x003400;
  static constexpr COLORREF kDefaultOn = 0x00FF00;
  static constexpr COLORREF kDefaultBack = 0x000000;

  explicit CSegmentDisplayCtrl(QWidget* parent = nullptr);

  // Stores the text and lays it out again; the same text as now changes nothing. The text
  // "?" stands for the window text.
  void SetDisplayText(const QString& text);
  QString DisplayText() const { return m_strText; }
  // The characters shown after the layout: upper case, without characters that have no glyph.
  QString ShownText() const;

  void SetDisplayColors(COLORREF off, COLORREF on);
  COLORREF OffColor() const { return m_crOff; }
  COLORREF OnColor() const { return m_crOn; }
  void SetBackColor(COLORREF back);
  COLORREF BackColor() const { return m_crBack; }

  void SetFlags(std::uint8_t flags);
  std::uint8_t Flags() const { return m_byFlags; }
  // A colour change repaints at once (no erase) rather than at the next event-loop pass.
  void SetImmediateRedraw(bool on) { m_bImmediate = on; }
  // Gives the control a window shape; the next colour change removes it.
  void SetWindowRegion(const QRegion& region);
  bool HasWindowRegion() const { return m_bRegion; }

  // The outline colour of a segment filled with `segment`.
  QColor EdgeColor(const QColor& segment) const;
  // The glyph cells laid out, in text order.
  const std::vector<segments::Glyph>& Glyphs() const { return m_glyphs; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Layout();
  void EnsureLayout() const;

  QString m_strText = QStringLiteral("?");
  bool m_bDirty = true;
  COLORREF m_crOff = kDefaultOff;
  COLORREF m_crOn = kDefaultOn;
  COLORREF m_crBack = kDefaultBack;
  std::uint8_t m_byFlags = 0;
  bool m_bRegion = false;
  bool m_bImmediate = false;
  std::vector<segments::Glyph> m_glyphs;
  QString m_strShown;
};
