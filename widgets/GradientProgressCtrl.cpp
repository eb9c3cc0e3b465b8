#include "widgets/GradientProgressCtrl.h"

#include "widgets/Contrast.h"
#include "widgets/PrintfNumber.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

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
    const QRect bar = BarRect();
    // Over the empty trough the text takes the palette's text colour; over the gradient it is
    // black or white, whichever reads better on the colours beneath it, with a soft halo in the
    // other one, so the number stays readable wherever the filled edge crosses it.
    const QRegion over(filled);
    painter.setClipRegion(QRegion(bar).subtracted(over));
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(bar, Qt::AlignCenter | Qt::TextSingleLine, text);
    if (!filled.isEmpty() && !m_colors.empty()) {
      const QColor ink = TextColorOverFill(text);
      const bool light = ink == QColor(Qt::white);
      painter.setClipRegion(over);
      painter.setPen(light ? QColor(0, 0, 0, 120) : QColor(255, 255, 255, 150));
      painter.drawText(bar.translated(1, 1), Qt::AlignCenter | Qt::TextSingleLine, text);
      painter.setPen(ink);
      painter.drawText(bar, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
  }
}

QColor CGradientProgressCtrl::GradientColorAt(int along) const {
  if (m_colors.empty()) return {};
  const int length = BarLength();
  if (m_colors.size() < 2 || length <= 0) return m_colors.front();
  // Where `along` falls in the gradient, which starts at the animation offset and repeats.
  double t = std::fmod(static_cast<double>(along - m_nOffset) / length, 1.0);
  if (t < 0) t += 1.0;
  double start = 0.0;
  for (std::size_t i = 0; i < m_segments.size(); ++i) {
    const double width = m_segments[i] / 100.0;
    if (t <= start + width || i + 1 == m_segments.size()) {
      const double f = width > 0 ? std::clamp((t - start) / width, 0.0, 1.0) : 0.0;
      const QColor& a = m_colors[i];
      const QColor& b = m_colors[i + 1];
      auto mix = [f](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * f)); };
      return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
    }
    start += width;
  }
  return m_colors.back();
}

QColor CGradientProgressCtrl::TextColorOverFill(const QString& text) const {
  const QRect bar = BarRect();
  const QRect filled = FilledRect();
  if (filled.isEmpty() || m_colors.empty()) return palette().color(QPalette::Text);
  // The part of the bar, measured along it from its start, that both the text and the filling
  // cover; the colours there decide.
  const QFontMetrics metrics(font());
  const bool vertical = orientation() == Qt::Vertical;
  const int extent = vertical ? metrics.height() : metrics.horizontalAdvance(text);
  const int middle = vertical ? bar.bottom() + 1 - bar.center().y() : bar.center().x() - bar.left();
  const int filledEnd = vertical ? filled.height() : filled.width();
  const int from = std::max(0, middle - extent / 2);
  const int to = std::min(filledEnd, middle + extent / 2);
  std::vector<QColor> beneath;
  const bool solid = depth() <= 8;
  if (solid || to <= from) {
    beneath.push_back(solid ? m_colors.front() : GradientColorAt(std::min(from, filledEnd - 1)));
  } else {
    for (int i = 0; i <= 8; ++i) beneath.push_back(GradientColorAt(from + (to - from) * i / 8));
  }
  double black = 21.0;
  double white = 21.0;
  for (const QColor& c : beneath) {
    black = std::min(black, contrast::Ratio(Qt::black, c));
    white = std::min(white, contrast::Ratio(Qt::white, c));
  }
  return black >= white ? QColor(Qt::black) : QColor(Qt::white);
}
