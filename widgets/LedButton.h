// CLedButton: a button that shows a small round lamp beside its caption. It has numbered
// states, each with its own lamp colour, text colour and background colour; visual objects
// switch it to show how their last device query ended.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QRadialGradient>
#include <QRectF>
#include <cstdint>
#include <memory>
#include <vector>

// Button style bits kept from the dialog template (the classic button style word).
namespace ButtonStyle {
constexpr std::uint32_t kTypeMask = 0x000F;
constexpr std::uint32_t kOwnerDraw = 0x000B;
constexpr std::uint32_t kLeftText = 0x0020;  // caption on the left, lamp at the right edge
constexpr std::uint32_t kLeft = 0x0100;
constexpr std::uint32_t kRight = 0x0200;
constexpr std::uint32_t kCenter = 0x0300;
constexpr std::uint32_t kAlignMask = 0x0300;
}  // namespace ButtonStyle

// One lamp: a circle of radius r around its centre, filled from a dark rim to the full colour
// in the middle.
class LedLamp {
 public:
  LedLamp(int radius, const QColor& color);

  int Radius() const { return m_nRadius; }
  QColor Color() const { return m_color; }
  // (-r, -r, 2r, 2r) around the centre.
  QRectF Rect() const { return m_rect; }
  const QRadialGradient& Brush() const { return m_brush; }

  // The rim colours: the channels scaled by 0.19 at the outline and 0.34 a tenth inwards.
  static QColor Shade(const QColor& c, double factor);

 private:
  int m_nRadius;
  QColor m_color;
  QRectF m_rect;
  QRadialGradient m_brush;
};

class QEvent;

class CLedButton : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr int kLampRadius = 8;
  static constexpr int kCaptionGap = 3;
  static constexpr int kTooltipMaxWidth = 400;

  explicit CLedButton(QWidget* parent = nullptr);
  ~CLedButton() override;

  // Drops every lamp, makes `count` states with the button's text and face colours.
  void SetStateCount(int count, bool redraw = true);
  int GetStateCount() const { return static_cast<int>(m_states.size()); }
  // Gives state `index` a lamp of radius 8 in the colour (alpha, red, green, blue). An index
  // outside the states is ignored; the result is true either way.
  bool SetStateColor(int index, int alpha, int red, int green, int blue);
  // Switches to state `index`; an index outside the states keeps the current one (the button
  // is repainted all the same). Setting the current state again does nothing.
  void SetState(int index);
  int GetState() const { return m_nState; }

  void SetStateTextColor(int index, const QColor& color);
  // Fills the button in state `index`. Until it is set (and again after a colour-scheme
  // change) the state reports the face colour but paints no background: the parent's shows.
  void SetStateBackColor(int index, const QColor& color);
  QColor StateTextColor(int index) const;
  QColor StateBackColor(int index) const;
  const LedLamp* StateLamp(int index) const;
  int StateLampWidth(int index) const;

  // The button style word; the type bits always become owner-draw.
  void SetButtonStyle(std::uint32_t style, bool redraw = true);
  std::uint32_t ButtonStyleBits() const { return m_dwStyle; }

  // The tooltip, made on first use; an inactive tooltip keeps its text but is not shown.
  void SetTooltipText(const QString& text, bool activate = true);
  void ActivateTooltip(bool active);
  bool TooltipActive() const { return m_bTooltipActive; }
  QString TooltipText() const { return m_strTooltip; }

  // Geometry of the current state inside `rect`: the lamp area and the caption rectangle.
  QRect LampArea(const QRect& rect) const;
  QRect CaptionRect(const QRect& rect) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct StateItem {
    QColor text;
    QColor back;
    bool ownBack = false;  // set by SetStateBackColor; otherwise the parent's background shows
    int lampWidth = 0;
    int lampHeight = 0;
    std::unique_ptr<LedLamp> lamp;
  };
  void ResetColors();
  const StateItem* Current() const;

  std::vector<StateItem> m_states;
  int m_nState = 0;
  std::uint32_t m_dwStyle = ButtonStyle::kOwnerDraw;
  bool m_bDisabled = false;  // set while a disabled button paints
  bool m_bTooltipMade = false;
  bool m_bTooltipActive = false;
  QString m_strTooltip;
};
