#include "widgets/StaticLogo.h"

#include <QMutex>
#include <QPainter>

#include "widgets/LogoArt.h"

QImage CStaticLogo::ResourceImage(int id) {
  if (id != kLogoResource) return {};
  static QMutex mutex;
  static QImage logo;
  const QMutexLocker lock(&mutex);
  if (logo.isNull()) {
    logo = QImage(logoart::kLogoSize.toSize(), QImage::Format_ARGB32_Premultiplied);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    logoart::PaintLogo(painter, QRectF(QPointF(0, 0), logoart::kLogoSize), Qt::black, Qt::white);
  }
  return logo;
}

CStaticLogo::CStaticLogo(int resourceId, QWidget* parent) : QFrame(parent), m_image(ResourceImage(resourceId)) {}

QRectF CStaticLogo::ImageFrame() const {
  const QRectF r = contentsRect();
  return QRectF(r.left() + 0.05 * r.width(), r.top() + 0.05 * r.height(), 0.9 * r.width(),
                0.9 * r.height());
}

QRectF CStaticLogo::ImageRect() const {
  const QRectF frame = ImageFrame();
  if (m_image.isNull() || frame.isEmpty()) return {};
  QSizeF size = m_image.size();
  size.scale(frame.size(), Qt::KeepAspectRatio);
  return QRectF(frame.left() + (frame.width() - size.width()) / 2.0,
                frame.top() + (frame.height() - size.height()) / 2.0, size.width(), size.height());
}

QSize CStaticLogo::sizeHint() const {
  if (m_image.isNull()) return QSize(200, 60);
  return m_image.size() / 3;
}

void CStaticLogo::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  const QRectF target = ImageRect();
  if (target.isEmpty()) return;
  QPainter painter(this);
  logoart::PaintLogo(painter, target, palette().color(QPalette::WindowText), palette().color(QPalette::Window));
}
