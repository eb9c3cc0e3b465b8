// Kelmora's logo as drawing code: a rounded badge with a geometric "K" whose upper arm ends in
// a lit indicator lamp, beside the word mark and the tag line. Everything that shows the logo
// (the splash, the main window, About, the window and desktop icons) draws it from here, at
// the resolution of the device it lands on.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

namespace logoart {

// The logo's own proportions: the size it was designed at, in design units.
inline constexpr QSizeF kLogoSize{940.0, 240.0};

// The badge alone (the program's icon) filling `box`, a square.
void PaintBadge(QPainter& painter, const QRectF& box);

// The whole logo scaled into `target` (which should have the logo's proportions). On a light
// `background` the word mark keeps its own dark inks; on a dark one it takes `text` and the tag
// line a colour between the two, so the logo reads on light and dark windows alike.
void PaintLogo(QPainter& painter, const QRectF& target, const QColor& text, const QColor& background);

// The badge as a square image of `pixels` × `pixels`, with a small transparent margin, as
// desktop icon themes expect.
QImage BadgeIcon(int pixels);

// The badge as a window icon, drawn at the usual icon sizes.
QIcon BadgeWindowIcon();

// The same badge as a scalable SVG document, from the same geometry.
QString BadgeSvg();

}  // namespace logoart
