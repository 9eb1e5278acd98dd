// Lines, rectangles and ellipses drawn pixel for pixel as the classic
// platform drew them on a window: a line leaves out its end point, so that
// the sides of a closed figure meet without touching a pixel twice; a
// styled pen fills its gaps with the white background; an XOR pen flips
// the bits beneath, so that drawing twice restores them. XOR works on
// images only (QPainter's raster operations), which is where the views
// draw their overlays.
#pragma once

#include <QRgb>

#include <optional>

class QPainter;
class QPoint;
class QRect;

namespace kdl {

enum class TPenMode { Copy, Xor };

struct TGdiPen {
  QRgb Color = 0xFF000000u;
  int Width = 1;
  // Three pixels on, three off; the gaps take white.
  bool Dotted = false;
  TPenMode Mode = TPenMode::Copy;
};

// From a towards b, b left out. A pen wider than one pixel draws a round
// capped stroke through both points and is never styled.
void GdiLine(QPainter& painter, const TGdiPen& pen, const QPoint& a, const QPoint& b);
// The outline of rect (its outermost pixels) with the pen, which is one
// pixel wide here, and the inside with brush when given.
void GdiRectangle(QPainter& painter, const TGdiPen& pen, std::optional<QRgb> brush,
                  const QRect& rect);
// The ellipse that touches every side of rect's outermost pixels.
void GdiEllipse(QPainter& painter, const TGdiPen& pen, std::optional<QRgb> brush,
                const QRect& rect);

}  // namespace kdl
