#include "widgets/StaticLogo.h"

#include <QMutex>
#include <QPainter>
#include <map>

// The resources live in this static library; a program linking it registers them on first use.
static void InitWidgetResources() { Q_INIT_RESOURCE(widgets); }

namespace {
// Resource ids of the images the program carries, and their paths in the Qt resources.
QString ResourcePath(int id) {
  switch (id) {
    case CStaticLogo::kLogoResource: return QStringLiteral(":/kelmora/kelmora_logo.png");
    default: return {};
  }
}
}  // namespace

QImage CStaticLogo::ResourceImage(int id) {
  static QMutex mutex;
  static std::map<int, QImage> cache;
  const QMutexLocker lock(&mutex);
  static const bool initialised = (InitWidgetResources(), true);
  (void)initialised;
  const auto it = cache.find(id);
  if (it != cache.end()) return it->second;
  const QString path = ResourcePath(id);
  QImage image;
  if (!path.isEmpty()) image.load(path);
  cache.emplace(id, image);
  return image;
}

CStaticLogo::CStaticLogo(int resourceId, QWidget* parent)
    : QFrame(parent), m_image(ResourceImage(resourceId)) {}

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
  const qreal dpr = devicePixelRatioF();
  const QSize pixels = (target.size() * dpr).toSize();
  if (m_scaled.size() != pixels) {
    m_scaled = QPixmap::fromImage(
        m_image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_scaled.setDevicePixelRatio(dpr);
  }
  painter.drawPixmap(target.topLeft(), m_scaled);
}
