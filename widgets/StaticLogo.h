// CStaticLogo: Kelmora's logo, drawn from the image in the program's resources.
//
// The image is decoded once from the in-memory resource and shared by every logo control; it
// is drawn scaled into the client rectangle less 5 % of its size on each side.
#pragma once

#include <QFrame>
#include <QImage>
#include <QPixmap>

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
  QPixmap m_scaled;  // the image at the size last painted
};
