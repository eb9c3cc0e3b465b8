#include "widgets/LogoArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

namespace logoart {
namespace {

// The badge in units of 1/100 of its width; the painter and the SVG writer share these.
constexpr QColor kBadgeLight{0x16, 0x6A, 0x8F};
constexpr QColor kBadgeDark{0x0B, 0x3C, 0x5D};
constexpr double kCorner = 22.0;
constexpr double kRimWidth = 1.8;
constexpr int kRimAlpha = 40;
constexpr double kStrokeWidth = 11.0;
struct Segment {
  QPointF from, to;
};
constexpr Segment kStrokes[] = {
    {{31, 24}, {31, 76}},  // the stem
    {{33, 52}, {62, 28}},  // the upper arm
    {{44, 44}, {68, 76}},  // the lower arm
};
constexpr QPointF kLamp{71, 24};
constexpr double kLampRadius = 9.5;
constexpr double kLampRim = 2.6;
struct Stop {
  double at;
  QColor colour;
};
constexpr Stop kGlow[] = {{0.0, {0xB8, 0xFF, 0xC8}}, {0.55, {0x3D, 0xDC, 0x6E}}, {1.0, {0x12, 0x7A, 0x36}}};
constexpr QPointF kHighlightOffset{-3.2, -3.4};
constexpr QSizeF kHighlightRadii{2.6, 2.0};
constexpr int kHighlightAlpha = 150;
constexpr QColor kWordMark{0x14, 0x25, 0x36};
constexpr QColor kTagLine{0x4E, 0x5E, 0x6E};
// Icons leave this share of their size free on each side.
constexpr double kIconMargin = 0.04;

QString Hex(const QColor& c) { return c.name(QColor::HexRgb).toUpper(); }

}  // namespace

void PaintBadge(QPainter& p, const QRectF& box) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.translate(box.topLeft());
  p.scale(box.width() / 100.0, box.height() / 100.0);

  QPainterPath badge;
  badge.addRoundedRect(QRectF(0, 0, 100, 100), kCorner, kCorner);
  QLinearGradient fill(QPointF(0, 0), QPointF(100, 100));
  fill.setColorAt(0.0, kBadgeLight);
  fill.setColorAt(1.0, kBadgeDark);
  p.fillPath(badge, fill);
  // A faint inner rim lifts the badge off light backgrounds.
  p.setPen(QPen(QColor(255, 255, 255, kRimAlpha), kRimWidth));
  p.drawPath(badge);

  p.setPen(QPen(Qt::white, kStrokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  for (const Segment& s : kStrokes) p.drawLine(s.from, s.to);

  // The lamp at the end of the upper arm: a green indicator with a dark rim and a highlight.
  p.setPen(Qt::NoPen);
  p.setBrush(kBadgeDark);
  p.drawEllipse(kLamp, kLampRadius + kLampRim, kLampRadius + kLampRim);
  QRadialGradient glow(kLamp, kLampRadius);
  for (const Stop& s : kGlow) glow.setColorAt(s.at, s.colour);
  p.setBrush(glow);
  p.drawEllipse(kLamp, kLampRadius, kLampRadius);
  p.setBrush(QColor(255, 255, 255, kHighlightAlpha));
  p.drawEllipse(kLamp + kHighlightOffset, kHighlightRadii.width(), kHighlightRadii.height());
  p.restore();
}

void PaintLogo(QPainter& p, const QRectF& target, const QColor& text, const QColor& background) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.translate(target.topLeft());
  p.scale(target.width() / kLogoSize.width(), target.height() / kLogoSize.height());

  PaintBadge(p, QRectF(12, 12, 216, 216));

  QFont mark(QStringLiteral("DejaVu Sans"));
  mark.setPixelSize(112);
  mark.setBold(true);
  mark.setLetterSpacing(QFont::AbsoluteSpacing, 6);
  // Glyph outlines follow the painter's scale instead of being hinted at the design size.
  mark.setHintingPreference(QFont::PreferNoHinting);
  // On light windows the logo keeps its own inks; on dark ones the palette's text colour.
  const bool light = background.lightnessF() >= 0.5;
  const auto mix = [](int a, int b) { return (a * 7 + b * 3) / 10; };
  const QColor markInk = light ? kWordMark : text;
  const QColor tagInk = light ? kTagLine
                              : QColor(mix(text.red(), background.red()), mix(text.green(), background.green()),
                                       mix(text.blue(), background.blue()));
  p.setFont(mark);
  p.setPen(markInk);
  p.drawText(QPointF(262, 140), QStringLiteral("KELMORA"));

  // An accent line under the word mark in the badge's colour.
  p.setPen(Qt::NoPen);
  p.setBrush(kBadgeLight);
  p.drawRoundedRect(QRectF(266, 160, 120, 7), 3.5, 3.5);

  QFont tag(mark);
  tag.setBold(false);
  tag.setPixelSize(30);
  tag.setLetterSpacing(QFont::AbsoluteSpacing, 3);
  p.setFont(tag);
  p.setPen(tagInk);
  p.drawText(QPointF(266, 208), QStringLiteral("DEVICE MONITOR  \u00B7  MODBUS RTU"));
  p.restore();
}

QImage BadgeIcon(int pixels) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  const double margin = pixels * kIconMargin;
  PaintBadge(p, QRectF(margin, margin, pixels - 2 * margin, pixels - 2 * margin));
  p.end();
  return image;
}

QIcon BadgeWindowIcon() {
  QIcon icon;
  for (const int pixels : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(BadgeIcon(pixels)));
  return icon;
}

QString BadgeSvg() {
  const double m = 100.0 * kIconMargin / (1.0 - 2.0 * kIconMargin);
  const auto n = [](double v) { return QString::number(v, 'g', 6); };
  QString svg;
  svg += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  svg += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"%1 %1 %2 %2\">\n")
             .arg(n(-m), n(100 + 2 * m));
  svg += QStringLiteral(
             "  <defs>\n"
             "    <linearGradient id=\"fill\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" y1=\"0\" x2=\"100\" y2=\"100\">\n"
             "      <stop offset=\"0\" stop-color=\"%1\"/>\n"
             "      <stop offset=\"1\" stop-color=\"%2\"/>\n"
             "    </linearGradient>\n"
             "    <radialGradient id=\"glow\" gradientUnits=\"userSpaceOnUse\" cx=\"%3\" cy=\"%4\" r=\"%5\">\n")
             .arg(Hex(kBadgeLight), Hex(kBadgeDark), n(kLamp.x()), n(kLamp.y()), n(kLampRadius));
  for (const Stop& s : kGlow)
    svg += QStringLiteral("      <stop offset=\"%1\" stop-color=\"%2\"/>\n").arg(n(s.at), Hex(s.colour));
  svg += QStringLiteral("    </radialGradient>\n  </defs>\n");
  svg += QStringLiteral(
             "  <rect width=\"100\" height=\"100\" rx=\"%1\" fill=\"url(#fill)\" stroke=\"#FFFFFF\" "
             "stroke-opacity=\"%2\" stroke-width=\"%3\"/>\n")
             .arg(n(kCorner), n(kRimAlpha / 255.0), n(kRimWidth));
  svg += QStringLiteral("  <g stroke=\"#FFFFFF\" stroke-width=\"%1\" stroke-linecap=\"round\">\n").arg(n(kStrokeWidth));
  for (const Segment& s : kStrokes)
    svg += QStringLiteral("    <line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\"/>\n")
               .arg(n(s.from.x()), n(s.from.y()), n(s.to.x()), n(s.to.y()));
  svg += QStringLiteral("  </g>\n");
  svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"/>\n")
             .arg(n(kLamp.x()), n(kLamp.y()), n(kLampRadius + kLampRim), Hex(kBadgeDark));
  svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"url(#glow)\"/>\n")
             .arg(n(kLamp.x()), n(kLamp.y()), n(kLampRadius));
  const QPointF h = kLamp + kHighlightOffset;
  svg += QStringLiteral("  <ellipse cx=\"%1\" cy=\"%2\" rx=\"%3\" ry=\"%4\" fill=\"#FFFFFF\" fill-opacity=\"%5\"/>\n")
             .arg(n(h.x()), n(h.y()), n(kHighlightRadii.width()), n(kHighlightRadii.height()),
                  n(kHighlightAlpha / 255.0));
  svg += QStringLiteral("</svg>\n");
  return svg;
}

}  // namespace logoart
