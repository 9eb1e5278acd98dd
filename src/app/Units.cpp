#include "app/Units.h"

#include <QRect>

#include <cmath>
#include <limits>

namespace kdl {

std::int32_t MMToPixels(std::int32_t dpi, float millimetres) {
  const double pixels = std::trunc(static_cast<double>(millimetres) / 25.4 * dpi);
  if (std::isnan(pixels)) return 0;
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  if (pixels <= kMin) return std::numeric_limits<std::int32_t>::min();
  if (pixels >= kMax) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(pixels);
}

float PixelsToMM(std::int32_t pixels, std::int32_t dpi) {
  if (dpi <= 0) return 0;
  return static_cast<float>(static_cast<double>(pixels) / dpi * 25.4);
}

bool RectEquals(const QRect& a, const QRect& b) {
  return a.top() == b.top() && a.bottom() == b.bottom() && a.left() == b.left() &&
         a.right() == b.right();
}

}  // namespace kdl
