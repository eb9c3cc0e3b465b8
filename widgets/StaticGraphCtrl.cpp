#include "widgets/StaticGraphCtrl.h"

#include "widgets/Contrast.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

QString AxisLabel(double value) { return QString::asprintf("%.2lf", value); }

// The value axis has labels at five levels, from the maximum at the top (level 0) down to
// the minimum.
constexpr int kLabelLevels = 4;
double LevelValue(const CGraphValueAxis& axis, int level) {
  return axis.maximum - (axis.maximum - axis.minimum) * level / kLabelLevels;
}

// Series colours after the first, which uses the accent colour.
const QColor kSeriesColors[] = {QColor(0x31, 0x6A, 0xC5), QColor(0xD0, 0x50, 0x2C),
                                QColor(0x2E, 0x9A, 0x4A), QColor(0x8E, 0x44, 0xAD),
                                QColor(0xC0, 0x8A, 0x00)};

// The plot's background: the panel and its dotted grid.
class BackgroundLayer : public CGraphLayer {
 public:
  explicit BackgroundLayer(const CStaticGraphCtrl* owner) : m_pOwner(owner) {}
  void Draw(QPainter& painter) const override {
    const QRect plot = m_pOwner->PlotRect();
    if (plot.isEmpty()) return;
    painter.fillRect(plot, m_pOwner->palette().color(QPalette::Base));
    const QColor grid = m_pOwner->palette().color(QPalette::Midlight);
    QPen pen(grid, 1, Qt::DotLine);
    painter.setPen(pen);
    const int lines = 4;
    for (int i = 1; i < lines; ++i) {
      const int y = plot.top() + plot.height() * i / lines;
      painter.drawLine(plot.left(), y, plot.right(), y);
    }
    for (int i = 1; i < 6; ++i) {
      const int x = plot.left() + plot.width() * i / 6;
      painter.drawLine(x, plot.top(), x, plot.bottom());
    }
  }

 private:
  const CStaticGraphCtrl* m_pOwner;
};

// The axes: a frame around the plot and the value labels at five levels.
class AxesLayer : public CGraphLayer {
 public:
  AxesLayer(const CStaticGraphCtrl* owner, const CGraphValueAxis* values)
      : m_pOwner(owner), m_pValues(values) {}
  void Draw(QPainter& painter) const override {
    const QRect plot = m_pOwner->PlotRect();
    if (plot.isEmpty()) return;
    painter.setPen(QPen(m_pOwner->palette().color(QPalette::Dark), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    // The labels stand on the control's face, outside the plot.
    painter.setPen(m_pOwner->palette().color(QPalette::ButtonText));
    const QFontMetrics metrics(painter.font());
    for (int i = 0; i <= kLabelLevels; ++i) {
      const int y = plot.top() + (plot.height() - 1) * i / kLabelLevels;
      const QRect label(0, y - metrics.height() / 2, plot.left() - 4, metrics.height());
      if (label.width() > 0) {
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, AxisLabel(LevelValue(*m_pValues, i)));
      }
      painter.drawLine(plot.left() - 3, y, plot.left(), y);
    }
  }

 private:
  const CStaticGraphCtrl* m_pOwner;
  const CGraphValueAxis* m_pValues;
};

}  // namespace

double CGraphValueAxis::PixelOf(double value) const {
  const double span = maximum - minimum;
  // A range without span puts every value in the middle instead of dividing by zero.
  if (!(std::abs(span) > 0.0) || !std::isfinite(span)) return origin + extent / 2.0;
  return origin + extent * (value - minimum) / span;
}

CGraphSeries::CGraphSeries(const CGraphTimeAxis* time, const CGraphValueAxis* values,
                           const QPen& pen)
    : m_pen(pen), m_pTime(time), m_pValues(values) {}

std::vector<QPointF> CGraphSeries::Points() const {
  std::vector<QPointF> points;
  const int step = std::max(1, m_pTime->pixelsPerSample);
  const int right = m_pTime->plotLeft + m_pTime->plotWidth;
  int x = m_pTime->plotLeft;
  for (std::size_t i = static_cast<std::size_t>(m_nWindowStart);
       i < m_samples.size() && x <= right; ++i, x += step) {
    points.emplace_back(x, m_pValues->PixelOf(m_samples[i]));
  }
  return points;
}

void CGraphSeries::Draw(QPainter& painter) const {
  const std::vector<QPointF> points = Points();
  if (points.empty()) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setClipRect(QRectF(m_pTime->plotLeft, m_pValues->plotTop, m_pTime->plotWidth + 1,
                             m_pValues->plotHeight));
  painter.setPen(m_pen);
  if (points.size() == 1) {
    painter.drawPoint(points.front());
  } else {
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
  }
  painter.restore();
}

CStaticGraphCtrl::CStaticGraphCtrl(QWidget* parent)
    : QFrame(parent), m_accentPen(QColor::fromRgba(0xFF316AC5)) {
  TakePaletteColors();
  m_layers.push_back(std::make_unique<BackgroundLayer>(this));
  m_layers.push_back(std::make_unique<AxesLayer>(this, &m_valueAxis));
  UpdateGeometry();
}

CStaticGraphCtrl::~CStaticGraphCtrl() = default;

int CStaticGraphCtrl::AddSeries() {
  QPen pen = m_accentPen;
  const std::size_t n = m_series.size();
  if (n > 0) pen.setColor(kSeriesColors[n % std::size(kSeriesColors)]);
  pen.setWidthF(1.5);
  pen.setJoinStyle(Qt::RoundJoin);
  auto series = std::make_unique<CGraphSeries>(&m_timeAxis, &m_valueAxis, pen);
  m_series.push_back(series.get());
  m_layers.push_back(std::move(series));
  return static_cast<int>(m_series.size()) - 1;
}

CGraphSeries* CStaticGraphCtrl::Series(int index) {
  if (index < 0 || index >= SeriesCount()) return nullptr;
  UpdateGeometry();
  return m_series[static_cast<std::size_t>(index)];
}

const CGraphSeries* CStaticGraphCtrl::Series(int index) const {
  if (index < 0 || index >= SeriesCount()) return nullptr;
  UpdateGeometry();
  return m_series[static_cast<std::size_t>(index)];
}

void CStaticGraphCtrl::AppendValue(int series, double value) {
  if (CGraphSeries* s = Series(series)) s->Samples().push_back(value);
}

void CStaticGraphCtrl::ScrollTo(int series, int last) {
  CGraphSeries* s = Series(series);
  if (s == nullptr) return;
  s->SetWindowStart(last + 1 - m_timeAxis.VisibleCount());
}

void CStaticGraphCtrl::FitToWindow(int series) {
  const CGraphSeries* s = Series(series);
  if (s == nullptr) return;
  const auto& samples = s->Samples();
  const std::size_t start = static_cast<std::size_t>(s->WindowStart());
  if (start >= samples.size()) return;
  const std::size_t end =
      std::min(samples.size(), start + static_cast<std::size_t>(std::max(0, m_timeAxis.VisibleCount())));
  if (end <= start) return;
  const auto [lo, hi] = std::minmax_element(samples.begin() + static_cast<std::ptrdiff_t>(start),
                                            samples.begin() + static_cast<std::ptrdiff_t>(end));
  if (*lo == *hi) {
    SetValueRange(*lo - 1.0, *lo + 1.0);
  } else {
    SetValueRange(*lo, *hi);
  }
}

void CStaticGraphCtrl::FollowValue(int series) {
  const CGraphSeries* s = Series(series);
  if (s == nullptr) return;
  const auto& samples = s->Samples();
  const int start = s->WindowStart();
  if (static_cast<std::size_t>(start) >= samples.size()) return;
  // A plot narrower than one step still shows the sample at the window start.
  const std::size_t visible = static_cast<std::size_t>(std::max(1, m_timeAxis.VisibleCount()));
  const std::size_t newest = std::min(samples.size(), static_cast<std::size_t>(start) + visible) - 1;
  const double value = samples[newest];
  const double span = m_valueAxis.maximum - m_valueAxis.minimum;
  if (value > m_valueAxis.maximum) {
    SetValueRange(value - span, value);
  } else if (value < m_valueAxis.minimum) {
    SetValueRange(value, value + span);
  }
}

void CStaticGraphCtrl::SetValueRange(double minimum, double maximum) {
  m_valueAxis.minimum = minimum;
  m_valueAxis.maximum = maximum;
  update();
}

void CStaticGraphCtrl::SetPixelsPerSample(int pixels) {
  m_timeAxis.pixelsPerSample = std::max(1, pixels);
  update();
}

void CStaticGraphCtrl::SetPlotMargins(const QMargins& margins) {
  m_margins = margins;
  m_bCustomMargins = true;
  m_bGeometryValid = false;
  UpdateGeometry();
  update();
}

const CGraphTimeAxis& CStaticGraphCtrl::TimeAxis() const {
  UpdateGeometry();
  return m_timeAxis;
}

const CGraphValueAxis& CStaticGraphCtrl::ValueAxis() const {
  UpdateGeometry();
  return m_valueAxis;
}

QRect CStaticGraphCtrl::PlotRect() const {
  UpdateGeometry();
  return QRect(m_timeAxis.plotLeft, m_valueAxis.plotTop, m_timeAxis.plotWidth,
               m_valueAxis.plotHeight);
}

void CStaticGraphCtrl::UpdateGeometry() const {
  // The geometry depends on the size, the margins and (through the labels) the value range
  // and the font; it is measured again only when one of them changed.
  const GeometryKey key{size(), m_valueAxis.minimum, m_valueAxis.maximum};
  if (m_bGeometryValid && key == m_geometryKey) return;
  m_geometryKey = key;
  m_bGeometryValid = true;
  QMargins margins = m_margins;
  if (!m_bCustomMargins) {
    // Room for the widest label drawn, and never less than a typical one, so the plot does
    // not jump sideways with every small change of the range.
    const QFontMetrics metrics(font());
    int widest = metrics.horizontalAdvance(AxisLabel(-8888.88));
    for (int i = 0; i <= kLabelLevels; ++i)
      widest = std::max(widest, metrics.horizontalAdvance(AxisLabel(LevelValue(m_valueAxis, i))));
    const int label = widest + 10;
    const int half = metrics.height() / 2 + 6;
    margins = QMargins(label, half, 8, half);
  }
  const QRect plot = contentsRect().marginsRemoved(margins);
  m_timeAxis.plotLeft = plot.left();
  m_timeAxis.plotWidth = std::max(0, plot.width());
  m_valueAxis.plotTop = plot.top();
  m_valueAxis.plotHeight = std::max(0, plot.height());
  // Values grow upwards: the minimum sits on the bottom line, the maximum on the top one.
  m_valueAxis.origin = plot.top() + std::max(0, plot.height()) - 1;
  m_valueAxis.extent = -(std::max(1, plot.height()) - 1.0);
}

void CStaticGraphCtrl::TakePaletteColors() {
  m_framePen = QPen(palette().color(QPalette::Button), 8.0);
  m_faceBrush = QBrush(palette().color(QPalette::Button));
  m_highlightBrush = QBrush(palette().color(QPalette::Highlight));
}

void CStaticGraphCtrl::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) m_bGeometryValid = false;
  // A new colour scheme (a dark desktop, or the page handing on its own) renews the face pens.
  if (event->type() == QEvent::PaletteChange) TakePaletteColors();
}

void CStaticGraphCtrl::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  UpdateGeometry();
}

void CStaticGraphCtrl::Redraw() { repaint(); }

QSize CStaticGraphCtrl::sizeHint() const { return QSize(320, 180); }

void CStaticGraphCtrl::SetCaption(const QString& text) {
  if (text == m_strCaption) return;
  m_strCaption = text;
  update();
}

void CStaticGraphCtrl::ShowCaption(bool on) {
  if (on == m_bCaption) return;
  m_bCaption = on;
  update();
}

void CStaticGraphCtrl::DrawCaption(QPainter& painter) const {
  const QRect plot = PlotRect();
  const QFontMetrics metrics(painter.font());
  const int pad = 3;
  const int maxWidth = std::max(0, plot.width() - 2 * pad);
  const QString text = metrics.elidedText(m_strCaption, Qt::ElideRight, maxWidth - 2 * pad);
  const QRect box(plot.left() + pad, plot.top() + pad, metrics.horizontalAdvance(text) + 2 * pad,
                  metrics.height() + 2);
  QColor back = palette().color(QPalette::Base);
  back.setAlpha(210);
  painter.fillRect(box, back);
  // The legend is written in the first series' colour where that reads on the plot, and in a
  // lighter or darker shade of it where it does not (a dark plot under a dark palette).
  const QColor ink = m_series.empty() ? palette().color(QPalette::Text) : m_series.front()->Pen().color();
  painter.setPen(contrast::Readable(ink, palette().color(QPalette::Base)));
  painter.drawText(box, Qt::AlignCenter, text);
}

void CStaticGraphCtrl::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (width() <= 0 || height() <= 0) return;
  UpdateGeometry();
  QPainter painter(this);
  painter.fillRect(contentsRect(), m_faceBrush);
  painter.setFont(font());
  for (const auto& layer : m_layers) layer->Draw(painter);
  if (m_bCaption && !m_strCaption.isEmpty()) DrawCaption(painter);
  // The newest point of every series gets a marker, so the live value is easy to find.
  painter.setRenderHint(QPainter::Antialiasing, true);
  for (const CGraphSeries* series : m_series) {
    const std::vector<QPointF> points = series->Points();
    if (points.empty() || !PlotRect().contains(points.back().toPoint())) continue;
    painter.setPen(QPen(series->Pen().color(), 1.5));
    painter.setBrush(m_highlightBrush);
    painter.drawEllipse(points.back(), 3.0, 3.0);
  }
  // A broad border in the face colour softens the plot's edge against the control's.
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(m_framePen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(contentsRect().adjusted(-4, -4, 3, 3));
}
