#include "plugin/LedsView.h"

#include <QFont>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QTextOption>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int kPollMs = 10;

// The empty dialog template the panel stands on is laid out in units of this font.
QFont DialogFont() { return QFont(QStringLiteral("Tahoma"), 8); }

// number * numerator / denominator in 64 bits, rounded half away from zero.
int MulDiv(int number, int numerator, int denominator) {
  const int64_t product = int64_t{number} * numerator;
  const int64_t half = denominator / 2;
  const int64_t result = product >= 0 ? (product + half) / denominator : (product - half) / denominator;
  return static_cast<int>(std::clamp<int64_t>(result, 0, std::numeric_limits<int>::max()));
}

// Pixels per 4 horizontal and per 8 vertical dialog units; 4 and 8 for a font that measures
// nothing.
QSize DialogBaseUnits() {
  const QFontMetrics metrics(DialogFont());
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const QSize units((letters / 26 + 1) / 2, metrics.height());
  if (units.width() <= 0 || units.height() <= 0) return QSize(4, 8);
  return units;
}

// The first value of a read as an int32: a fixed-point double drops its fraction.
int32_t FirstValue(const boost::any& value) {
  if (const int32_t* i = boost::any_cast<int32_t>(&value)) return *i;
  if (const double* d = boost::any_cast<double>(&value)) {
    if (std::isnan(*d)) return 0;
    const double limited = std::clamp(*d, double{std::numeric_limits<int32_t>::min()},
                                      double{std::numeric_limits<int32_t>::max()});
    return static_cast<int32_t>(limited);
  }
  return 0;
}

// A fault caught in a timer goes to lumora.log in the working folder, one line each.
void LogCaught(const char* what) {
  if (std::FILE* file = std::fopen("lumora.log", "a")) {
    std::fprintf(file, "catched %s\n", what);
    std::fclose(file);
  }
}

void DrawLed(QPainter& painter, const LedCell& cell) {
  painter.translate(cell.centre);
  painter.setPen(Qt::NoPen);
  painter.setBrush(cell.led.on ? cell.led.lit : cell.led.unlit);
  painter.drawEllipse(cell.led.rect);
  painter.translate(-cell.centre);
}

// The relative luminance of a colour (0 black, 1 white) and the contrast of two colours, from
// 1 (the same) to 21 (black on white).
double Luminance(const QColor& c) {
  auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The labels are black on the page; a page too dark for black (a dark desktop) gets them in
// its own text colour instead.
QBrush LabelBrush(const LedCell& cell, const QPalette& page) {
  constexpr double kReadable = 4.5;
  if (Contrast(cell.caption.brush.color(), page.color(QPalette::Window)) >= kReadable) return cell.caption.brush;
  return page.brush(QPalette::WindowText);
}

void DrawLabel(QPainter& painter, const LedCell& cell, const QBrush& brush) {
  QTextOption option(cell.caption.alignment);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  painter.save();
  painter.setClipRect(cell.labelRect, Qt::IntersectClip);
  painter.setFont(cell.caption.font);
  painter.setPen(QPen(brush, 1));
  painter.drawText(cell.labelRect, cell.caption.text, option);
  painter.restore();
}

}  // namespace

void CLedsView::Initialise(IComponentHost* host, QWidget* parent, int x, int y) {
  m_host = host;
  if (m_host == nullptr) throw "Need interface";
  if (m_host->GetPropertyCount() == 0) throw "Nothing to manage";
  const std::string spec = m_host->GetParameter("bitmask");
  m_layout = BuildLedLayout(spec);
  m_rate = 1;

  const QSize units = DialogBaseUnits();
  const int width = MulDiv(m_layout.width, units.width(), 4);
  const int height = MulDiv(m_layout.height, units.height(), 8);
  if (parent == nullptr) throw "Not a window";
  setParent(parent);
  setProperty("kelmoraControlId", kControlId);  // the id the program finds its controls by
  setObjectName(QString::number(kControlId));
  setGeometry(x, y, width, height);
  show();

  m_readTimer.start(ReadInterval(), this);
}

void CLedsView::paintEvent(QPaintEvent*) {
  if (rect().isEmpty()) return;
  QPainter painter(this);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
  for (const LedCell& cell : m_layout.cells) {
    if (cell.mask == 0) continue;
    DrawLed(painter, cell);
    DrawLabel(painter, cell, LabelBrush(cell, palette()));
  }
}

void CLedsView::timerEvent(QTimerEvent* event) {
  try {
    if (event->timerId() == m_readTimer.timerId())
      StartRead();
    else if (event->timerId() == m_waitTimer.timerId())
      PollRead();
    else
      QWidget::timerEvent(event);
  } catch (const std::exception& e) {
    LogCaught(e.what());
  } catch (...) {
    LogCaught("unknown");
  }
}

void CLedsView::StartRead() {
  m_host->GetProperty(0);
  m_readTimer.stop();
  m_waitTimer.start(kPollMs, this);
}

void CLedsView::PollRead() {
  std::vector<boost::any> values;
  const int32_t state = m_host->GetValues(0, values);
  if (state == kComponentQueued || state == kComponentInProcess) return;
  if (state == kComponentUpdated && !values.empty()) ShowValue(FirstValue(values.front()));
  m_waitTimer.stop();
  m_readTimer.start(ReadInterval(), this);
}

void CLedsView::ShowValue(int32_t value) {
  for (LedCell& cell : m_layout.cells) {
    const int32_t masked = value & cell.mask;
    cell.led.on = masked != 0;
    if (masked != cell.previous)
      update(cell.led.rect.translated(cell.centre).toAlignedRect());
    cell.previous = masked;
  }
}
