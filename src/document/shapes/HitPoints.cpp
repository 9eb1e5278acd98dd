#include "document/shapes/HitPoints.h"

#include <algorithm>
#include <cmath>

namespace kdl {

std::vector<TPoint> MakeHitPoints(float sensitivity) {
  // A reach beyond any screen would only make a huge table.
  const double wanted = std::isfinite(sensitivity) ? std::nearbyint(double{sensitivity} * 4) : 0;
  const int n = static_cast<int>(std::clamp(wanted, 2.0, 1000.0));
  std::vector<TPoint> points;
  points.reserve(static_cast<std::size_t>(4 * n + 5));
  points.push_back({0, 0});
  for (int k = n; k >= 1; --k) {
    points.push_back({k, 0});
    points.push_back({-k, 0});
    points.push_back({0, k});
    points.push_back({0, -k});
  }
  const int b = static_cast<int>(std::nearbyint(n * 0.71));
  points.push_back({b, b});
  points.push_back({-b, b});
  points.push_back({b, -b});
  points.push_back({-b, -b});
  return points;
}

const std::vector<TPoint>& DefaultHitPoints() {
  static const std::vector<TPoint> points = MakeHitPoints(1);
  return points;
}

}  // namespace kdl
