// CStaticGraphCtrl: line charts of one or more series of numbers over a plot area with a
// value axis. The newest samples are kept in view by scrolling the window of visible samples;
// the value axis is scaled to the values in that window.
#pragma once

#include <QColor>
#include <QFrame>
#include <QMargins>
#include <QPen>
#include <memory>
#include <vector>

class QPainter;

// The horizontal axis: where the plot starts, its width, and the distance between samples.
struct CGraphTimeAxis {
  int plotLeft = 0;
  int plotWidth = 0;
  int pixelsPerSample = 4;
  // How many samples fit in the plot.
  int VisibleCount() const { return pixelsPerSample > 0 ? plotWidth / pixelsPerSample : 0; }
};

// The value axis: a value v sits at origin + extent * (v - minimum) / (maximum - minimum).
// With the origin at the plot's bottom the extent is negative (upwards).
struct CGraphValueAxis {
  double origin = 0.0;
  double extent = 0.0;
  double minimum = 0.0;
  double maximum = 1.0;
  int plotTop = 0;
  int plotHeight = 0;
  double PixelOf(double value) const;
};

// One drawable part of the chart; the control draws its layers in order.
class CGraphLayer {
 public:
  virtual ~CGraphLayer() = default;
  virtual void Draw(QPainter& painter) const = 0;
};

class CGraphSeries : public CGraphLayer {
 public:
  CGraphSeries(const CGraphTimeAxis* time, const CGraphValueAxis* values, const QPen& pen);

  std::vector<double>& Samples() { return m_samples; }
  const std::vector<double>& Samples() const { return m_samples; }
  int WindowStart() const { return m_nWindowStart; }
  void SetWindowStart(int start) { m_nWindowStart = start < 0 ? 0 : start; }
  QPen Pen() const { return m_pen; }
  void SetPen(const QPen& pen) { m_pen = pen; }
  // The points the series draws: from the window start, one sample step apart, up to the
  // plot's right edge or the last sample.
  std::vector<QPointF> Points() const;
  void Draw(QPainter& painter) const override;

 private:
  std::vector<double> m_samples;
  int m_nWindowStart = 0;
  QPen m_pen;
  const CGraphTimeAxis* m_pTime;
  const CGraphValueAxis* m_pValues;
};

class CStaticGraphCtrl : public QFrame {
  Q_OBJECT

 public:
  explicit CStaticGraphCtrl(QWidget* parent = nullptr);
  ~CStaticGraphCtrl() override;

  // Adds a curve bound to the control's axes; returns its index.
  int AddSeries();
  int SeriesCount() const { return static_cast<int>(m_series.size()); }
  CGraphSeries* Series(int index);
  const CGraphSeries* Series(int index) const;
  void AppendValue(int series, double value);

  // Makes sample `last` the newest one in view.
  void ScrollTo(int series, int last);
  // Scales the value axis to the smallest and largest value in view ([v-1, v+1] when they are
  // equal); nothing when the window starts past the last sample.
  void FitToWindow(int series);
  // Moves the value range, keeping its span, so that the newest visible sample of `series`
  // lies inside it: a sample above the range becomes its top, one below it its bottom.
  void FollowValue(int series);
  void SetValueRange(double minimum, double maximum);
  double ValueMinimum() const { return m_valueAxis.minimum; }
  double ValueMaximum() const { return m_valueAxis.maximum; }

  // Distance between neighbouring samples in pixels (at least 1).
  void SetPixelsPerSample(int pixels);
  // Space around the plot for the labels; by default room for the value labels on the left.
  void SetPlotMargins(const QMargins& margins);
  QRect PlotRect() const;
  const CGraphTimeAxis& TimeAxis() const;
  const CGraphValueAxis& ValueAxis() const;

  // Paints the control now rather than at the next event-loop pass.
  void Redraw();

  // The caption label: a legend in the plot's top-left corner, in the first series' colour.
  void SetCaption(const QString& text);
  QString Caption() const { return m_strCaption; }
  void ShowCaption(bool on);
  bool CaptionShown() const { return m_bCaption; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Derives the axes' pixel geometry from the current size; a hidden control gets no resize
  // events, so every user of the geometry refreshes it first.
  void UpdateGeometry() const;
  void DrawCaption(QPainter& painter) const;
  // The face and highlight colours of the pens and brushes, from the current palette.
  void TakePaletteColors();

  QPen m_framePen;     // button face, 8 px: the soft border around the chart
  QPen m_accentPen;    // 0xFF316AC5
  QBrush m_faceBrush;  // button face
  QBrush m_highlightBrush;
  mutable CGraphTimeAxis m_timeAxis;
  mutable CGraphValueAxis m_valueAxis;
  QMargins m_margins;
  bool m_bCustomMargins = false;
  struct GeometryKey {
    QSize size;
    double minimum = 0.0;
    double maximum = 0.0;
    bool operator==(const GeometryKey&) const = default;
  };
  mutable GeometryKey m_geometryKey;
  mutable bool m_bGeometryValid = false;
  std::vector<std::unique_ptr<CGraphLayer>> m_layers;  // drawn in order
  std::vector<CGraphSeries*> m_series;                 // owned by m_layers
  QString m_strCaption;
  bool m_bCaption = false;
};
