// Draws Kelmora's logo and saves it as a PNG: a rounded badge with a geometric "K" whose arms
// end in a lit indicator lamp, beside the word mark and the tag line.
//
//   kelmora-logo-render <output.png>   (run with QT_QPA_PLATFORM=offscreen without a display)
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

void DrawBadge(QPainter& p, const QRectF& box) {
  QPainterPath badge;
  badge.addRoundedRect(box, box.width() * 0.22, box.height() * 0.22);
  QLinearGradient fill(box.topLeft(), box.bottomRight());
  fill.setColorAt(0.0, QColor(0x16, 0x6A, 0x8F));
  fill.setColorAt(1.0, QColor(0x0B, 0x3C, 0x5D));
  p.fillPath(badge, fill);
  // A faint inner rim lifts the badge off light backgrounds.
  p.setPen(QPen(QColor(255, 255, 255, 40), box.width() * 0.018));
  p.drawPath(badge);

  const double u = box.width() / 100.0;
  const QPointF o = box.topLeft();
  auto at = [&](double x, double y) { return o + QPointF(x * u, y * u); };

  QPen stroke(Qt::white, 11.0 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(stroke);
  p.drawLine(at(31, 24), at(31, 76));  // the stem
  p.drawLine(at(33, 52), at(62, 28));  // upper arm
  p.drawLine(at(44, 44), at(68, 76));  // lower arm

  // The lamp at the end of the upper arm: a green indicator with a dark rim and a highlight.
  const QPointF lamp = at(71, 24);
  const double r = 9.5 * u;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x0B, 0x3C, 0x5D));
  p.drawEllipse(lamp, r + 2.6 * u, r + 2.6 * u);
  QRadialGradient glow(lamp, r);
  glow.setColorAt(0.0, QColor(0xB8, 0xFF, 0xC8));
  glow.setColorAt(0.55, QColor(0x3D, 0xDC, 0x6E));
  glow.setColorAt(1.0, QColor(0x12, 0x7A, 0x36));
  p.setBrush(glow);
  p.drawEllipse(lamp, r, r);
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawEllipse(lamp + QPointF(-3.2 * u, -3.4 * u), 2.6 * u, 2.0 * u);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: kelmora-logo-render <output.png>\n");
    return 2;
  }
  const int width = 940;
  const int height = 240;
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);

  DrawBadge(p, QRectF(12, 12, 216, 216));

  QFont mark(QStringLiteral("DejaVu Sans"));
  mark.setPixelSize(112);
  mark.setBold(true);
  mark.setLetterSpacing(QFont::AbsoluteSpacing, 6);
  p.setFont(mark);
  p.setPen(QColor(0x14, 0x25, 0x36));
  p.drawText(QPointF(262, 140), QStringLiteral("KELMORA"));

  // An accent line under the word mark in the badge's colour.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x16, 0x6A, 0x8F));
  p.drawRoundedRect(QRectF(266, 160, 120, 7), 3.5, 3.5);

  QFont tag(QStringLiteral("DejaVu Sans"));
  tag.setPixelSize(30);
  tag.setLetterSpacing(QFont::AbsoluteSpacing, 3);
  p.setFont(tag);
  p.setPen(QColor(0x4E, 0x5E, 0x6E));
  p.drawText(QPointF(266, 208), QStringLiteral("DEVICE MONITOR  \u00B7  MODBUS RTU"));
  p.end();

  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
