// The exact area of a glyph's native records, an independent check of both
// the outlines read from the font file and their flattening.
#pragma once

#include <cstddef>

#include "platform/qt/GlyphOutlines.h"

namespace kdl::test {

// Signed area (y up, counter-clockwise positive) of the records, exact for
// the quadratic pieces, in em-1000 units squared.
inline double ExactArea(const TNativeGlyph& g) {
  double area2 = 0;  // twice the area
  auto cross = [](double ax, double ay, double bx, double by) { return ax * by - bx * ay; };
  for (const auto& poly : g.Polygons) {
    double cx = poly.Start.X / 65536.0, cy = poly.Start.Y / 65536.0;
    for (const auto& curve : poly.Curves) {
      if (curve.Type == nctLine) {
        for (const auto& p : curve.Points) {
          const double x = p.X / 65536.0, y = p.Y / 65536.0;
          area2 += cross(cx, cy, x, y);
          cx = x, cy = y;
        }
      } else {
        const auto& pts = curve.Points;
        for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
          const double ax = pts[i].X / 65536.0, ay = pts[i].Y / 65536.0;
          double ex = pts[i + 1].X / 65536.0, ey = pts[i + 1].Y / 65536.0;
          if (i + 2 < pts.size()) ex = (ax + ex) / 2, ey = (ay + ey) / 2;  // implied on point
          area2 += (2 * cross(cx, cy, ax, ay) + 2 * cross(ax, ay, ex, ey) + cross(cx, cy, ex, ey)) / 3;
          cx = ex, cy = ey;
        }
      }
    }
    area2 += cross(cx, cy, poly.Start.X / 65536.0, poly.Start.Y / 65536.0);
  }
  return area2 / 2;
}

}  // namespace kdl::test
