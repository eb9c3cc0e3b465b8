// The glyphs of the segment display: each character is a cell of fourteen segments (the seven
// of a numeric display, the middle bar split in two, a centre column and four diagonals) or a
// narrow cell for the point, comma and colon.
#pragma once

#include <QChar>
#include <QPolygonF>
#include <cstdint>
#include <optional>
#include <vector>

namespace segments {

// Segment bits of a wide cell.
enum : std::uint16_t {
  kA = 1 << 0,    // top
  kB = 1 << 1,    // upper right
  kC = 1 << 2,    // lower right
  kD = 1 << 3,    // bottom
  kE = 1 << 4,    // lower left
  kF = 1 << 5,    // upper left
  kG1 = 1 << 6,   // middle, left half
  kG2 = 1 << 7,   // middle, right half
  kH = 1 << 8,    // diagonal, top left to centre
  kI = 1 << 9,    // centre column, upper
  kJ = 1 << 10,   // diagonal, top right to centre
  kK = 1 << 11,   // diagonal, centre to bottom left
  kL = 1 << 12,   // centre column, lower
  kM = 1 << 13,   // diagonal, centre to bottom right
  kG = kG1 | kG2,
  kAll = 0x3FFF,
};
// Segment bits of a narrow cell.
enum : std::uint16_t {
  kDot = 1 << 0,    // the point on the base line
  kTail = 1 << 1,   // the comma's tail below it
  kUpper = 1 << 2,  // the colon's upper dot
};

// Cell geometry in glyph units; a display scales these to its height.
inline constexpr double kCellHeight = 22.0;
inline constexpr double kWideWidth = 14.0;
inline constexpr double kNarrowWidth = 4.0;
inline constexpr double kSpacing = 2.2;

enum class CellKind { Wide, Narrow };

struct Glyph {
  CellKind kind = CellKind::Wide;
  std::uint16_t lit = 0;
};

// The glyph of an upper-case character, none for a character the display cannot show.
std::optional<Glyph> GlyphFor(QChar c);

struct Segment {
  QPolygonF polygon;  // in glyph units, origin at the cell's top left
  bool lit = false;
};

// The segments of one cell with the lit ones marked.
std::vector<Segment> SegmentsOf(const Glyph& glyph);
double CellWidth(CellKind kind);

}  // namespace segments
