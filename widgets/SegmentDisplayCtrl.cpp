#include "widgets/SegmentDisplayCtrl.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

namespace {
constexpr double kSlant = 0.09;  // the cells lean right by this much of their height
}  // namespace

CSegmentDisplayCtrl::CSegmentDisplayCtrl(QWidget* parent) : QFrame(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void CSegmentDisplayCtrl::SetDisplayText(const QString& text) {
  if (text == m_strText) return;
  m_strText = text;
  m_bDirty = true;
  Layout();
  update();
}

void CSegmentDisplayCtrl::Layout() {
  m_glyphs.clear();
  m_strShown.clear();
  const QString source = m_strText == QLatin1String("?") ? windowTitle() : m_strText;
  const QString upper = source.toUpper();
  for (const QChar c : upper) {
    if (const auto glyph = segments::GlyphFor(c)) {
      m_glyphs.push_back(*glyph);
      m_strShown += c;
    }
  }
  m_bDirty = false;
}

void CSegmentDisplayCtrl::EnsureLayout() const {
  if (m_bDirty) const_cast<CSegmentDisplayCtrl*>(this)->Layout();
}

QString CSegmentDisplayCtrl::ShownText() const {
  EnsureLayout();
  return m_strShown;
}

void CSegmentDisplayCtrl::SetDisplayColors(COLORREF off, COLORREF on) {
  if (off == m_crOff && on == m_crOn) return;
  m_crOff = off;
  m_crOn = on;
  if (m_bRegion) {
    clearMask();
    m_bRegion = false;
  }
  if (m_bImmediate) {
    repaint();
  } else {
    update();
  }
}

void CSegmentDisplayCtrl::SetBackColor(COLORREF back) {
  if (back == m_crBack) return;
  m_crBack = back;
  update();
}

void CSegmentDisplayCtrl::SetFlags(std::uint8_t flags) {
  if (flags == m_byFlags) return;
  m_byFlags = flags;
  update();
}

void CSegmentDisplayCtrl::SetWindowRegion(const QRegion& region) {
  setMask(region);
  m_bRegion = !region.isEmpty();
}

QColor CSegmentDisplayCtrl::EdgeColor(const QColor& segment) const {
  if (!(m_byFlags & kSoftEdge)) return segment;
  const QColor back = FromColorRef(m_crBack);
  auto blend = [](int s, int b) { return static_cast<int>(0.75 * s + 0.25 * b); };
  return QColor(blend(segment.red(), back.red()), blend(segment.green(), back.green()),
                blend(segment.blue(), back.blue()));
}

void CSegmentDisplayCtrl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange && m_strText == QLatin1String("?")) {
    m_bDirty = true;
    update();
  }
  QFrame::changeEvent(event);
}

QSize CSegmentDisplayCtrl::sizeHint() const { return QSize(160, 48); }

void CSegmentDisplayCtrl::paintEvent(QPaintEvent*) {
  EnsureLayout();
  QPainter painter(this);
  const QRect area = rect();
  painter.fillRect(area, FromColorRef(m_crBack));
  if (area.width() <= 4 || area.height() <= 4 || m_glyphs.empty()) return;

  // Cells in glyph units, then scaled to the height (or to the width when the text is long),
  // right-aligned like a panel meter so the last digit stays in place.
  double units = 0.0;
  for (std::size_t i = 0; i < m_glyphs.size(); ++i) {
    units += segments::CellWidth(m_glyphs[i].kind);
    if (i + 1 < m_glyphs.size()) units += segments::kSpacing;
  }
  const double lean = kSlant * segments::kCellHeight;
  const double pad = std::max(3.0, area.height() * 0.14);
  const double scaleY = (area.height() - 2 * pad) / (segments::kCellHeight + 2.6);
  const double scaleX = (area.width() - 2 * pad) / (units + lean);
  const double scale = std::max(0.1, std::min(scaleX, scaleY));
  const double drawnWidth = (units + lean) * scale;
  const double drawnHeight = segments::kCellHeight * scale;
  const double originX = area.width() - pad - drawnWidth;
  const double originY = (area.height() - drawnHeight) / 2.0 - 0.6 * scale;

  const QColor offColor = FromColorRef(m_crOff);
  const QColor onColor = FromColorRef(m_crOn);
  const QBrush offBrush(offColor);
  const QBrush onBrush(onColor);
  const QPen offPen(EdgeColor(offColor), 1.0);
  const QPen onPen(EdgeColor(onColor), 1.0);

  painter.setRenderHint(QPainter::Antialiasing, true);
  QTransform base;
  base.translate(originX, originY);
  base.scale(scale, scale);
  double x = 0.0;
  for (const segments::Glyph& glyph : m_glyphs) {
    for (const segments::Segment& segment : segments::SegmentsOf(glyph)) {
      QPolygonF polygon;
      for (const QPointF& p : segment.polygon) {
        // Lean: the top of the cell moves right, the base line stays.
        const QPointF leaned(p.x() - kSlant * (p.y() - segments::kCellHeight), p.y());
        polygon << base.map(QPointF(leaned.x() + x, leaned.y()));
      }
      painter.setPen(segment.lit ? onPen : offPen);
      painter.setBrush(segment.lit ? onBrush : offBrush);
      painter.drawPolygon(polygon);
    }
    x += segments::CellWidth(glyph.kind) + segments::kSpacing;
  }
}
