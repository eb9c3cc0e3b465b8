#include "widgets/GradientProgressCtrl.h"

#include "widgets/PrintfNumber.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

CGradientProgressCtrl::CGradientProgressCtrl(QWidget* parent)
    : QWidget(parent), m_timers(this, [this](int id) { OnTimer(id); }) {
  // Laid out like a progress bar: as long as there is room, as thick as its text.
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  SetGradientColors({MakeColorRef(0x1E, 0x5A, 0x9C), MakeColorRef(0x5F, 0xA8, 0xE8),
                     MakeColorRef(0x1E, 0x5A, 0x9C)});
}

void CGradientProgressCtrl::SetRange(int lower, int upper) {
  m_nLower = lower;
  m_nUpper = upper;
  // An inverted range is stored as given; every position then clamps to lower.
  SetPos(m_nPos);
  update();
}

int CGradientProgressCtrl::SetPos(int position) {
  const int previous = m_nPos;
  int clamped = position;
  if (clamped > m_nUpper) clamped = m_nUpper;
  if (clamped < m_nLower) clamped = m_nLower;
  if (clamped != m_nPos) {
    m_nPos = clamped;
    update();
  }
  return previous;
}

void CGradientProgressCtrl::setOrientation(Qt::Orientation orientation) {
  if (orientation == m_orientation) return;
  m_orientation = orientation;
  QSizePolicy policy = sizePolicy();
  policy.transpose();
  setSizePolicy(policy);
  updateGeometry();
  update();
}

void CGradientProgressCtrl::SetTextMode(std::uint32_t mode) {
  m_dwTextMode = mode & (kShowPercent | kShowValue);
  update();
}

void CGradientProgressCtrl::SetTextFormat(const QString& format, std::uint32_t mode) {
  if (!format.isEmpty() && mode != 0) {
    m_strFormat = format;
    m_dwFormatMode = mode;
  } else {
    m_strFormat.clear();
    m_dwFormatMode = 0;
    m_dwTextMode = 0;
  }
  update();
}

int CGradientProgressCtrl::DisplayNumber() const {
  const std::uint32_t mode = m_strFormat.isEmpty() ? m_dwTextMode : m_dwFormatMode;
  if (mode & kShowValue) return m_nPos;
  const long long span = static_cast<long long>(m_nUpper) - m_nLower;
  if (span <= 0) return 0;
  const long long done = static_cast<long long>(m_nPos) - m_nLower;
  return static_cast<int>((done * 100 + span / 2) / span);
}

QString CGradientProgressCtrl::DisplayText() const {
  if (!m_strFormat.isEmpty()) return FormatNumber(m_strFormat, DisplayNumber());
  if (m_dwTextMode & kShowPercent) return QStringLiteral("%1%").arg(DisplayNumber());
  if (m_dwTextMode & kShowValue) return QString::number(DisplayNumber());
  return {};
}

void CGradientProgressCtrl::SetGradientColors(const std::vector<QColor>& colors) {
  m_colors = colors;
  m_segments.clear();
  if (m_colors.size() >= 2) {
    m_segments.assign(m_colors.size() - 1, 100.0 / static_cast<double>(m_colors.size() - 1));
  }
  update();
}

void CGradientProgressCtrl::SetGradientColors(std::initializer_list<COLORREF> colors) {
  std::vector<QColor> list;
  for (const COLORREF c : colors) list.push_back(FromColorRef(c));
  SetGradientColors(list);
}

void CGradientProgressCtrl::SetAnimation(bool on) {
  m_timers.kill(kAnimationTimer);
  if (on) {
    m_bAnimate = true;
    m_timers.start(kAnimationTimer, kAnimationPeriodMs);
  } else {
    m_bAnimate = false;
    m_nOffset = 0;
  }
  update();
}

void CGradientProgressCtrl::OnTimer(int id) {
  if (id == kAnimationTimer) AdvanceAnimation();
}

void CGradientProgressCtrl::AdvanceAnimation() {
  const int length = BarLength();
  // A bar with no length has nowhere to move the gradient to.
  m_nOffset = length > 0 ? (m_nOffset + m_nStep) % length : 0;
  if (m_nOffset < 0) m_nOffset += length;
  update();
}

QRect CGradientProgressCtrl::BarRect() const { return rect().adjusted(2, 2, -2, -2); }

int CGradientProgressCtrl::BarLength() const {
  const QRect bar = BarRect();
  const int length = orientation() == Qt::Vertical ? bar.height() : bar.width();
  return std::max(0, length);
}

QRect CGradientProgressCtrl::FilledRect() const {
  const QRect bar = BarRect();
  const long long span = static_cast<long long>(m_nUpper) - m_nLower;
  if (span <= 0 || bar.isEmpty()) return {};
  const long long done = static_cast<long long>(m_nPos) - m_nLower;
  if (orientation() == Qt::Vertical) {
    const int h = static_cast<int>(bar.height() * done / span);
    return QRect(bar.left(), bar.bottom() + 1 - h, bar.width(), h);
  }
  const int w = static_cast<int>(bar.width() * done / span);
  return QRect(bar.left(), bar.top(), w, bar.height());
}

QSize CGradientProgressCtrl::sizeHint() const {
  const QFontMetrics metrics(font());
  return orientation() == Qt::Vertical ? QSize(metrics.height() + 6, 160)
                                       : QSize(160, metrics.height() + 6);
}

void CGradientProgressCtrl::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QPainter painter(this);

  // A sunken, light trough like the common progress control.
  const QRect outer = rect();
  painter.fillRect(outer, palette().color(QPalette::Base));
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(outer.adjusted(0, 0, -1, -1));
  painter.setPen(palette().color(QPalette::Midlight));
  painter.drawLine(outer.left() + 1, outer.top() + 1, outer.right() - 1, outer.top() + 1);

  const QRect filled = FilledRect();
  if (!filled.isEmpty() && !m_colors.empty()) {
    if (painter.device()->depth() <= 8 || m_colors.size() < 2) {
      painter.fillRect(filled, m_colors.front());
    } else {
      const QRect bar = BarRect();
      const int length = BarLength();
      const bool vertical = orientation() == Qt::Vertical;
      // The gradient spans the whole bar, repeats past its ends, and is shifted by the
      // animation offset, so the filled part shows the same colours as the bar would.
      QPointF start, stop;
      if (vertical) {
        start = QPointF(0, bar.bottom() + 1 - m_nOffset);
        stop = QPointF(0, bar.bottom() + 1 - m_nOffset - length);
      } else {
        start = QPointF(bar.left() + m_nOffset, 0);
        stop = QPointF(bar.left() + m_nOffset + length, 0);
      }
      QLinearGradient gradient(start, stop);
      gradient.setSpread(QGradient::RepeatSpread);
      double at = 0.0;
      gradient.setColorAt(0.0, m_colors.front());
      for (std::size_t i = 0; i < m_segments.size(); ++i) {
        at += m_segments[i] / 100.0;
        gradient.setColorAt(std::min(1.0, at), m_colors[i + 1]);
      }
      painter.fillRect(filled, gradient);
      // A soft highlight over the top half gives the bar some depth.
      QLinearGradient gloss(filled.topLeft(), vertical ? filled.topRight() : filled.bottomLeft());
      gloss.setColorAt(0.0, QColor(255, 255, 255, 70));
      gloss.setColorAt(0.5, QColor(255, 255, 255, 15));
      gloss.setColorAt(0.51, QColor(0, 0, 0, 0));
      gloss.setColorAt(1.0, QColor(0, 0, 0, 30));
      painter.fillRect(filled, gloss);
    }
  }

  const QString text = DisplayText();
  if (!text.isEmpty()) {
    painter.setFont(font());
    // Over the empty trough the text is dark; over a dark gradient it turns light, so the
    // number stays readable wherever the filled edge crosses it.
    const QRegion all(BarRect());
    const QRegion over(filled);
    painter.setClipRegion(all.subtracted(over));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(BarRect(), Qt::AlignCenter | Qt::TextSingleLine, text);
    if (!filled.isEmpty() && !m_colors.empty()) {
      double luminance = 0.0;
      for (const QColor& c : m_colors) luminance += 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue();
      luminance /= static_cast<double>(m_colors.size());
      painter.setClipRegion(over);
      const bool dark = luminance < 170.0;
      // A soft shadow keeps the light text readable over the bright bands of the gradient.
      painter.setPen(dark ? QColor(0, 0, 0, 120) : QColor(255, 255, 255, 150));
      painter.drawText(BarRect().translated(1, 1), Qt::AlignCenter | Qt::TextSingleLine, text);
      painter.setPen(dark ? QColor(Qt::white) : palette().color(QPalette::WindowText));
      painter.drawText(BarRect(), Qt::AlignCenter | Qt::TextSingleLine, text);
    }
  }
}
