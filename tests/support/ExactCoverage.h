// The exact area that convex polygons cover in each pixel, computed in
// double by clipping each polygon to the pixel: what an anti-aliased
// rendering of them should come to.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace kdl::testing {

struct P {
  double X, Y;
};
using Quad = std::array<P, 4>;

// Shoelace area of a simple polygon.
template <class Polygon>
double PolygonArea(const Polygon& q) {
  double a2 = 0;
  const std::size_t n = q.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double x0 = q[i].X, y0 = q[i].Y, x1 = q[(i + 1) % n].X, y1 = q[(i + 1) % n].Y;
    a2 += x0 * y1 - x1 * y0;
  }
  return std::fabs(a2) / 2;
}

// Area of the convex polygon inside the unit pixel at (px, py).
template <class Polygon>
double ClippedArea(const Polygon& q, int px, int py) {
  std::vector<P> poly(q.begin(), q.end());
  auto clip = [&](auto inside, auto cross) {
    std::vector<P> out;
    for (std::size_t i = 0; i < poly.size(); ++i) {
      const P a = poly[i], b = poly[(i + 1) % poly.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) out.push_back(a);
      if (ia != ib) out.push_back(cross(a, b));
    }
    poly.swap(out);
  };
  auto atX = [](double x) {
    return [x](P a, P b) { return P{x, a.Y + (b.Y - a.Y) * (x - a.X) / (b.X - a.X)}; };
  };
  auto atY = [](double y) {
    return [y](P a, P b) { return P{a.X + (b.X - a.X) * (y - a.Y) / (b.Y - a.Y), y}; };
  };
  clip([&](P p) { return p.X >= px; }, atX(px));
  clip([&](P p) { return p.X <= px + 1; }, atX(px + 1));
  clip([&](P p) { return p.Y >= py; }, atY(py));
  clip([&](P p) { return p.Y <= py + 1; }, atY(py + 1));
  return PolygonArea(poly);
}

// Covered fraction per pixel of disjoint convex polygons.
template <class Polygon>
std::vector<double> CoverageOf(const std::vector<Polygon>& polygons, int w, int h) {
  std::vector<double> c(static_cast<std::size_t>(w) * h, 0);
  for (const Polygon& q : polygons) {
    double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
    for (const P& p : q) x0 = std::min(x0, p.X), x1 = std::max(x1, p.X), y0 = std::min(y0, p.Y), y1 = std::max(y1, p.Y);
    for (int y = std::max(0, static_cast<int>(std::floor(y0))); y < std::min(h, static_cast<int>(std::ceil(y1))); ++y)
      for (int x = std::max(0, static_cast<int>(std::floor(x0))); x < std::min(w, static_cast<int>(std::ceil(x1))); ++x)
        c[static_cast<std::size_t>(y) * w + x] += ClippedArea(q, x, y);
  }
  return c;
}

inline std::vector<double> Coverage(const std::vector<Quad>& quads, int w, int h) {
  return CoverageOf(quads, w, h);
}

// Even-odd test of a point against every contour of a polygon.
template <class Contours>
bool InsideEvenOdd(const Contours& contours, double x, double y) {
  bool in = false;
  for (const auto& c : contours)
    for (std::size_t i = 0, j = c.size() - 1; i < c.size(); j = i++) {
      const double xi = c[i].X, yi = c[i].Y, xj = c[j].X, yj = c[j].Y;
      if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
  return in;
}

template <class Polygon>
double Perimeter(const Polygon& q) {
  double sum = 0;
  for (std::size_t i = 0; i < q.size(); ++i)
    sum += std::hypot(static_cast<double>(q[(i + 1) % q.size()].X) - q[i].X,
                      static_cast<double>(q[(i + 1) % q.size()].Y) - q[i].Y);
  return sum;
}

inline double SegmentDistance(P p, P a, P b) {
  const double dx = b.X - a.X, dy = b.Y - a.Y, len2 = dx * dx + dy * dy;
  const double t = std::clamp(((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2, 0.0, 1.0);
  return std::hypot(p.X - a.X - t * dx, p.Y - a.Y - t * dy);
}

}  // namespace kdl::testing
