// CGradientProgressCtrl: a progress bar filled with a multi-colour gradient, with the position
// printed inside the bar, and an indeterminate mode in which the gradient runs along the bar.
// It is a plain widget rather than a QProgressBar: its position and range (which clamp
// differently and keep an inverted range) are set through SetPos and SetRange only.
#pragma once

#include "widgets/ColorRef.h"
#include "widgets/WindowTimers.h"

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <initializer_list>
#include <vector>

class CGradientProgressCtrl : public QWidget {
  Q_OBJECT

 public:
  // Text modes (style bits of the bar).
  static constexpr std::uint32_t kShowPercent = 0x0100;  // "%d%%" of the filled fraction
  static constexpr std::uint32_t kShowValue = 0x0200;    // "%d" of the position
  static constexpr int kAnimationTimer = 12;
  static constexpr int kAnimationPeriodMs = 55;

  explicit CGradientProgressCtrl(QWidget* parent = nullptr);

  void SetRange(int lower, int upper);
  int Lower() const { return m_nLower; }
  int Upper() const { return m_nUpper; }
  // Clamps `position` into the range and returns the previous position; repaints on a change.
  int SetPos(int position);
  int GetPos() const { return m_nPos; }

  // Horizontal bars fill from the left, vertical ones from the bottom.
  void setOrientation(Qt::Orientation orientation);
  Qt::Orientation orientation() const { return m_orientation; }

  // Text mode without a custom format: kShowPercent, kShowValue or 0 for no text.
  void SetTextMode(std::uint32_t mode);
  std::uint32_t TextMode() const { return m_dwTextMode; }
  // A non-empty format with a non-zero mode replaces the mode's text (it receives the same
  // number); anything else clears the custom text and turns the text off.
  void SetTextFormat(const QString& format, std::uint32_t mode);
  // The text drawn in the bar now, empty for none.
  QString DisplayText() const;
  // The number the text shows: the filled percentage in percent mode, else the position.
  int DisplayNumber() const;

  // Colours of the gradient, evenly spaced.
  void SetGradientColors(const std::vector<QColor>& colors);
  void SetGradientColors(std::initializer_list<COLORREF> colors);
  const std::vector<QColor>& GradientColors() const { return m_colors; }

  // Indeterminate mode: timer 12 every 55 ms moves the gradient `step` pixels along the bar.
  void SetAnimation(bool on);
  bool Animating() const { return m_bAnimate; }
  void SetAnimationStep(int pixels) { m_nStep = pixels; }
  int AnimationStep() const { return m_nStep; }
  int AnimationOffset() const { return m_nOffset; }
  // One animation tick (what timer 12 does each period).
  void AdvanceAnimation();
  const CWindowTimers& Timers() const { return m_timers; }

  // The bar's length in pixels along its orientation (the inside of the frame).
  int BarLength() const;
  // The inside of the frame and the part of it that is filled.
  QRect BarRect() const;
  QRect FilledRect() const;
  // The gradient's colour `along` pixels from the bar's start (its left end, or the bottom of a
  // vertical bar), with the animation offset applied.
  QColor GradientColorAt(int along) const;
  // Black or white: what `text` is drawn in where it lies over the filled part.
  QColor TextColorOverFill(const QString& text) const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnTimer(int id);

  int m_nLower = 0;
  int m_nUpper = 100;
  int m_nPos = 0;
  Qt::Orientation m_orientation = Qt::Horizontal;
  std::vector<QColor> m_colors;
  std::vector<double> m_segments;  // width of each segment in percent
  std::uint32_t m_dwTextMode = 0;
  QString m_strFormat;
  std::uint32_t m_dwFormatMode = 0;
  int m_nOffset = 0;
  int m_nStep = 4;
  bool m_bAnimate = false;
  CWindowTimers m_timers;
};
