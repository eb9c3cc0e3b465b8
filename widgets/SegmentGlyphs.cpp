#include "widgets/SegmentGlyphs.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace segments {
namespace {

constexpr double kThick = 1.9;
constexpr double kGap = 0.35;
constexpr double kLeft = kThick / 2;
constexpr double kRight = kWideWidth - kThick / 2;
constexpr double kTop = kThick / 2;
constexpr double kBottom = kCellHeight - kThick / 2;
constexpr double kMiddle = kCellHeight / 2;
constexpr double kCentre = kWideWidth / 2;

QPolygonF Horizontal(double x0, double x1, double y) {
  const double h = kThick / 2;
  return QPolygonF({QPointF(x0, y), QPointF(x0 + h, y - h), QPointF(x1 - h, y - h), QPointF(x1, y),
                    QPointF(x1 - h, y + h), QPointF(x0 + h, y + h)});
}

QPolygonF Vertical(double x, double y0, double y1) {
  const double h = kThick / 2;
  return QPolygonF({QPointF(x, y0), QPointF(x + h, y0 + h), QPointF(x + h, y1 - h), QPointF(x, y1),
                    QPointF(x - h, y1 - h), QPointF(x - h, y0 + h)});
}

// The diagonal from the top-left inner corner towards the centre; the other three mirror it.
// The bar is cut by the box between the outer segments and the centre column, and its cut
// edges run parallel to the box's diagonal so the bar keeps one thickness.
QPolygonF Diagonal(bool mirrorX, bool mirrorY) {
  const double x0 = kLeft + kThick / 2 + kGap;
  const double y0 = kTop + kThick / 2 + kGap;
  const double x1 = kCentre - kThick / 2 - kGap;
  const double y1 = kMiddle - kThick / 2 - kGap;
  const double w = x1 - x0;
  const double h = y1 - y0;
  const double thickness = kThick * 0.85;
  const double d = std::min(w * 0.8, thickness * std::hypot(w, h) / h);
  const double e = d * h / w;
  QPolygonF p({QPointF(x0, y0), QPointF(x0 + d, y0), QPointF(x1, y1 - e), QPointF(x1, y1),
               QPointF(x1 - d, y1), QPointF(x0, y0 + e)});
  for (QPointF& point : p) {
    if (mirrorX) point.setX(kWideWidth - point.x());
    if (mirrorY) point.setY(kCellHeight - point.y());
  }
  return p;
}

const std::array<QPolygonF, 14>& WideSegments() {
  static const std::array<QPolygonF, 14> polygons = {
      Horizontal(kLeft + kGap, kRight - kGap, kTop),           // A
      Vertical(kRight, kTop + kGap, kMiddle - kGap),           // B
      Vertical(kRight, kMiddle + kGap, kBottom - kGap),        // C
      Horizontal(kLeft + kGap, kRight - kGap, kBottom),        // D
      Vertical(kLeft, kMiddle + kGap, kBottom - kGap),         // E
      Vertical(kLeft, kTop + kGap, kMiddle - kGap),            // F
      Horizontal(kLeft + kGap, kCentre - kGap, kMiddle),       // G1
      Horizontal(kCentre + kGap, kRight - kGap, kMiddle),      // G2
      Diagonal(false, false),                                  // H
      Vertical(kCentre, kTop + kGap, kMiddle - kGap),          // I
      Diagonal(true, false),                                   // J
      Diagonal(false, true),                                   // K
      Vertical(kCentre, kMiddle + kGap, kBottom - kGap),       // L
      Diagonal(true, true),                                    // M
  };
  return polygons;
}

QPolygonF Square(double cx, double cy, double size) {
  const double h = size / 2;
  return QPolygonF({QPointF(cx - h, cy - h), QPointF(cx + h, cy - h), QPointF(cx + h, cy + h),
                    QPointF(cx - h, cy + h)});
}

const std::array<QPolygonF, 3>& NarrowSegments() {
  const double c = kNarrowWidth / 2;
  static const std::array<QPolygonF, 3> polygons = {
      Square(c, kBottom, kThick * 1.1),                                         // point
      QPolygonF({QPointF(c + 0.6, kBottom + kThick * 0.55), QPointF(c - 0.2, kCellHeight + 2.6),
                 QPointF(c - 1.1, kCellHeight + 2.6), QPointF(c - 0.5, kBottom + kThick * 0.55)}),
      Square(c, kCellHeight * 0.3, kThick * 1.1),                               // colon's top
  };
  return polygons;
}

struct Entry {
  char16_t c;
  CellKind kind;
  std::uint16_t lit;
};

constexpr Entry kTable[] = {
    {u' ', CellKind::Wide, 0},
    {u'0', CellKind::Wide, kA | kB | kC | kD | kE | kF},
    {u'1', CellKind::Wide, kB | kC},
    {u'2', CellKind::Wide, kA | kB | kG | kE | kD},
    {u'3', CellKind::Wide, kA | kB | kG | kC | kD},
    {u'4', CellKind::Wide, kF | kG | kB | kC},
    {u'5', CellKind::Wide, kA | kF | kG | kC | kD},
    {u'6', CellKind::Wide, kA | kF | kG | kE | kC | kD},
    {u'7', CellKind::Wide, kA | kB | kC},
    {u'8', CellKind::Wide, kA | kB | kC | kD | kE | kF | kG},
    {u'9', CellKind::Wide, kA | kB | kC | kD | kF | kG},
    {u'A', CellKind::Wide, kA | kB | kC | kE | kF | kG},
    {u'B', CellKind::Wide, kA | kB | kC | kD | kI | kL | kG2},
    {u'C', CellKind::Wide, kA | kD | kE | kF},
    {u'D', CellKind::Wide, kA | kB | kC | kD | kI | kL},
    {u'E', CellKind::Wide, kA | kD | kE | kF | kG1},
    {u'F', CellKind::Wide, kA | kE | kF | kG1},
    {u'G', CellKind::Wide, kA | kC | kD | kE | kF | kG2},
    {u'H', CellKind::Wide, kB | kC | kE | kF | kG},
    {u'I', CellKind::Wide, kA | kD | kI | kL},
    {u'J', CellKind::Wide, kB | kC | kD | kE},
    {u'K', CellKind::Wide, kE | kF | kG1 | kJ | kM},
    {u'L', CellKind::Wide, kD | kE | kF},
    {u'M', CellKind::Wide, kB | kC | kE | kF | kH | kJ},
    {u'N', CellKind::Wide, kB | kC | kE | kF | kH | kM},
    {u'O', CellKind::Wide, kA | kB | kC | kD | kE | kF},
    {u'P', CellKind::Wide, kA | kB | kE | kF | kG},
    {u'Q', CellKind::Wide, kA | kB | kC | kD | kE | kF | kM},
    {u'R', CellKind::Wide, kA | kB | kE | kF | kG | kM},
    {u'S', CellKind::Wide, kA | kH | kG2 | kC | kD},
    {u'T', CellKind::Wide, kA | kI | kL},
    {u'U', CellKind::Wide, kB | kC | kD | kE | kF},
    {u'V', CellKind::Wide, kE | kF | kK | kJ},
    {u'W', CellKind::Wide, kB | kC | kE | kF | kK | kM},
    {u'X', CellKind::Wide, kH | kJ | kK | kM},
    {u'Y', CellKind::Wide, kH | kJ | kL},
    {u'Z', CellKind::Wide, kA | kJ | kK | kD},
    {u'-', CellKind::Wide, kG},
    {u'+', CellKind::Wide, kG | kI | kL},
    {u'_', CellKind::Wide, kD},
    {u'=', CellKind::Wide, kG | kD},
    {u'/', CellKind::Wide, kJ | kK},
    {u'\\', CellKind::Wide, kH | kM},
    {u'*', CellKind::Wide, kG | kH | kI | kJ | kK | kL | kM},
    {u'(', CellKind::Wide, kJ | kM},
    {u')', CellKind::Wide, kH | kK},
    {u'[', CellKind::Wide, kA | kD | kE | kF},
    {u']', CellKind::Wide, kA | kB | kC | kD},
    {u'\'', CellKind::Wide, kI},
    {u'\u00B0', CellKind::Wide, kA | kB | kF | kG},  // degree sign
    {u'.', CellKind::Narrow, kDot},
    {u',', CellKind::Narrow, kDot | kTail},
    {u':', CellKind::Narrow, kDot | kUpper},
};

// Cyrillic capitals drawn like the Latin letters they look like: А В Е К М Н О Р С Т Х.
constexpr char16_t kCyrillicLookalikes[] = u"\u0410\u0412\u0415\u041A\u041C\u041D\u041E\u0420\u0421\u0422\u0425";
constexpr char16_t kLatinLookalikes[] = u"ABEKMHOPCTX";

}  // namespace

std::optional<Glyph> GlyphFor(QChar c) {
  char16_t code = c.unicode();
  for (std::size_t i = 0; i + 1 < std::size(kCyrillicLookalikes); ++i) {
    if (kCyrillicLookalikes[i] == code) code = kLatinLookalikes[i];
  }
  if (code == u'\u0413') return Glyph{CellKind::Wide, kA | kE | kF};            // Г
  if (code == u'\u041F') return Glyph{CellKind::Wide, kA | kB | kC | kE | kF};  // П
  for (const Entry& entry : kTable) {
    if (entry.c == code) return Glyph{entry.kind, entry.lit};
  }
  return std::nullopt;
}

double CellWidth(CellKind kind) { return kind == CellKind::Wide ? kWideWidth : kNarrowWidth; }

std::vector<Segment> SegmentsOf(const Glyph& glyph) {
  std::vector<Segment> out;
  if (glyph.kind == CellKind::Wide) {
    const auto& polygons = WideSegments();
    for (std::size_t i = 0; i < polygons.size(); ++i) {
      out.push_back({polygons[i], (glyph.lit & (1u << i)) != 0});
    }
  } else {
    const auto& polygons = NarrowSegments();
    // The dark cell shows the point only; the tail and the upper dot appear when lit.
    out.push_back({polygons[0], (glyph.lit & kDot) != 0});
    if (glyph.lit & kTail) out.push_back({polygons[1], true});
    if (glyph.lit & kUpper) out.push_back({polygons[2], true});
  }
  return out;
}

}  // namespace segments
