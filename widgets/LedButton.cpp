#include "widgets/LedButton.h"

#include "widgets/Contrast.h"

#include <QEvent>
#include <algorithm>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {
int Scaled(int channel, double factor) { return static_cast<int>(channel * factor); }
}  // namespace

QColor LedLamp::Shade(const QColor& c, double factor) {
  return QColor(Scaled(c.red(), factor), Scaled(c.green(), factor), Scaled(c.blue(), factor),
                c.alpha());
}

LedLamp::LedLamp(int radius, const QColor& color)
    : m_nRadius(radius),
      m_color(color),
      m_rect(-radius, -radius, 2.0 * radius, 2.0 * radius),
      m_brush(QPointF(0, 0), radius) {
  // Radial position 0 is the centre and 1 the outline: full colour in the middle, 0.34 of it
  // a tenth inside the rim and 0.19 at the rim.
  m_brush.setColorAt(0.0, color);
  m_brush.setColorAt(0.9, Shade(color, 0.34));
  m_brush.setColorAt(1.0, Shade(color, 0.19));
}

CLedButton::CLedButton(QWidget* parent) : QAbstractButton(parent) {
  SetStateCount(2, false);
}

CLedButton::~CLedButton() = default;

void CLedButton::SetStateCount(int count, bool redraw) {
  m_states.clear();
  m_states.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  ResetColors();
  if (redraw) update();
}

void CLedButton::ResetColors() {
  const QColor text = palette().color(QPalette::ButtonText);
  // The face of a dialog button is the dialog's own background colour.
  const QColor face = palette().color(QPalette::Window);
  for (auto& item : m_states) {
    item.text = text;
    item.back = face;
    item.ownBack = false;
  }
}

bool CLedButton::SetStateColor(int index, int alpha, int red, int green, int blue) {
  if (index < 0 || index >= GetStateCount()) return true;
  StateItem& item = m_states[static_cast<std::size_t>(index)];
  item.lamp = std::make_unique<LedLamp>(kLampRadius, QColor(red, green, blue, alpha));
  item.lampWidth = 2 * kLampRadius;
  item.lampHeight = kLampRadius;
  if (index == m_nState) update();
  return true;
}

void CLedButton::SetState(int index) {
  if (index == m_nState) return;
  if (index >= 0 && index < GetStateCount()) m_nState = index;
  update();
}

void CLedButton::SetStateTextColor(int index, const QColor& color) {
  if (index < 0 || index >= GetStateCount()) return;
  m_states[static_cast<std::size_t>(index)].text = color;
  update();
}

void CLedButton::SetStateBackColor(int index, const QColor& color) {
  if (index < 0 || index >= GetStateCount()) return;
  m_states[static_cast<std::size_t>(index)].back = color;
  m_states[static_cast<std::size_t>(index)].ownBack = true;
  update();
}

QColor CLedButton::StateTextColor(int index) const {
  if (index < 0 || index >= GetStateCount()) return palette().color(QPalette::ButtonText);
  return m_states[static_cast<std::size_t>(index)].text;
}

QColor CLedButton::StateBackColor(int index) const {
  if (index < 0 || index >= GetStateCount()) return palette().color(QPalette::Window);
  return m_states[static_cast<std::size_t>(index)].back;
}

const LedLamp* CLedButton::StateLamp(int index) const {
  if (index < 0 || index >= GetStateCount()) return nullptr;
  return m_states[static_cast<std::size_t>(index)].lamp.get();
}

int CLedButton::StateLampWidth(int index) const {
  if (index < 0 || index >= GetStateCount()) return 0;
  return m_states[static_cast<std::size_t>(index)].lampWidth;
}

void CLedButton::SetButtonStyle(std::uint32_t style, bool redraw) {
  m_dwStyle = (style & ~ButtonStyle::kTypeMask) | ButtonStyle::kOwnerDraw;
  if (redraw) update();
}

const CLedButton::StateItem* CLedButton::Current() const {
  if (m_nState < 0 || m_nState >= GetStateCount()) return nullptr;
  return &m_states[static_cast<std::size_t>(m_nState)];
}

QRect CLedButton::LampArea(const QRect& rect) const {
  const StateItem* item = Current();
  const int width = item ? item->lampWidth : 0;
  if (m_dwStyle & ButtonStyle::kLeftText) {
    return QRect(rect.right() + 1 - width, rect.top(), width, rect.height());
  }
  return QRect(rect.left(), rect.top(), width, rect.height());
}

QRect CLedButton::CaptionRect(const QRect& rect) const {
  const QRect lamp = LampArea(rect);
  QRect caption = rect;
  if (m_dwStyle & ButtonStyle::kLeftText) {
    caption.setRight(lamp.left() - 1 - kCaptionGap);
  } else {
    caption.setLeft(lamp.right() + 1 + kCaptionGap);
  }
  return caption;
}

void CLedButton::paintEvent(QPaintEvent*) {
  const QRect rect = this->rect();
  if (rect.isEmpty()) return;
  QPainter painter(this);
  const StateItem* item = Current();
  // Without a back colour of its own the button is transparent: on a page that paints a
  // lighter background than the dialog face (a tab page) it must not show a grey box.
  if (item && item->ownBack) painter.fillRect(rect, item->back);

  if (item && item->lamp) {
    const QRect area = LampArea(rect);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(area.left() + area.width() / 2.0, rect.top() + rect.height() / 2.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(item->lamp->Brush());
    painter.drawEllipse(item->lamp->Rect());
    painter.restore();
  }

  if (text().isEmpty()) return;
  int align = Qt::AlignVCenter | Qt::TextSingleLine;
  switch (m_dwStyle & ButtonStyle::kAlignMask) {
    case ButtonStyle::kCenter: align |= Qt::AlignHCenter; break;
    case ButtonStyle::kRight: align |= Qt::AlignRight; break;
    default: align |= Qt::AlignLeft; break;
  }
  const QRect textRect = CaptionRect(rect);
  // A caption cut short ends in an ellipsis; where not even that fits (a lamp-sized button)
  // no sliver of a letter is drawn.
  const QString caption = fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width());
  if (caption.isEmpty() || caption == QStringLiteral("…")) return;
  painter.setFont(font());
  m_bDisabled = !isEnabled();
  if (m_bDisabled) {
    // Embossed: the highlight one pixel down and right, the shadow over it. That reads only
    // where the shadow is darker than the face; on a dark face the caption is drawn once, in
    // the palette's disabled text colour.
    const QColor face = item && item->ownBack ? item->back : palette().color(QPalette::Window);
    const QColor shadow = palette().color(QPalette::Dark);
    if (contrast::Luminance(shadow) < contrast::Luminance(face) && contrast::Ratio(shadow, face) >= 2.0) {
      painter.setPen(palette().color(QPalette::Light));
      painter.drawText(textRect.translated(1, 1), align, caption);
      painter.setPen(shadow);
    } else {
      painter.setPen(contrast::Readable(palette().color(QPalette::Disabled, QPalette::ButtonText), face, 3.0));
    }
    painter.drawText(textRect, align, caption);
  } else {
    painter.setPen(item ? item->text : palette().color(QPalette::ButtonText));
    painter.drawText(textRect, align, caption);
  }
  m_bDisabled = false;
}

QSize CLedButton::sizeHint() const {
  const QFontMetrics metrics(font());
  const StateItem* item = Current();
  const int lamp = item ? item->lampWidth : 2 * kLampRadius;
  const int textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text()) + kCaptionGap + 2;
  return QSize(lamp + textWidth, std::max(metrics.height() + 4, 2 * kLampRadius + 2));
}

QSize CLedButton::minimumSizeHint() const { return QSize(2 * kLampRadius, 2 * kLampRadius); }

void CLedButton::SetTooltipText(const QString& text, bool activate) {
  m_bTooltipMade = true;
  m_strTooltip = text;
  m_bTooltipActive = activate;
}

void CLedButton::ActivateTooltip(bool active) {
  if (!m_bTooltipMade) {
    // A tooltip made on first use starts inactive.
    m_bTooltipMade = true;
    m_bTooltipActive = false;
  }
  m_bTooltipActive = active;
  if (!active) QToolTip::hideText();
}

bool CLedButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    if (m_bTooltipActive && !m_strTooltip.isEmpty()) {
      QString tip = m_strTooltip.toHtmlEscaped();
      tip.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
      // Long tips wrap at 400 pixels.
      if (QFontMetrics(QToolTip::font()).horizontalAdvance(m_strTooltip) > kTooltipMaxWidth) {
        tip = QStringLiteral("<table width=\"%1\"><tr><td>%2</td></tr></table>")
                  .arg(kTooltipMaxWidth)
                  .arg(tip);
      } else {
        tip = QStringLiteral("<qt>%1</qt>").arg(tip);
      }
      QToolTip::showText(help->globalPos(), tip, this);
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QAbstractButton::event(event);
}

void CLedButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) {
    // The colour scheme changed: every state takes the new text and face colours.
    ResetColors();
    update();
  }
  QAbstractButton::changeEvent(event);
}
