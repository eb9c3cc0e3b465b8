// CStaticLogo: Kelmora's logo in a static control.
//
// The logo is drawn into the client rectangle less 5 % of its size on each side, keeping its
// proportions. It is painted from its drawing code at the device's resolution, so it stays
// sharp on high-density screens, and its word mark takes the palette's text colour, so it
// reads on dark windows too. The image of the resource (the logo rendered once at its design
// size and shared by every control) gives the proportions and the window icon.
#pragma once

#include <QFrame>
#include <QImage>

class CStaticLogo : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kLogoResource = 148;

  explicit CStaticLogo(int resourceId = kLogoResource, QWidget* parent = nullptr);

  // The image of resource `id`; a null image when the program carries no such resource.
  static QImage ResourceImage(int id);
  bool HasImage() const { return !m_image.isNull(); }
  const QImage& Image() const { return m_image; }
  // The rectangle the image is fitted into: the client area less 5 % on each side.
  QRectF ImageFrame() const;
  // Where the image lands inside that frame (its aspect ratio kept, centred).
  QRectF ImageRect() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage m_image;
};
