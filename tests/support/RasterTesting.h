// What the raster tests share: random bitmaps, pixel lists, and the plain
// geometry that lines and polygons are checked against.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "TestFiles.h"
#include "raster/Bitmap32.h"

namespace kdl::test {

// A w x h bitmap of random pixels, alphas included unless opaque.
inline void FillRandom(TBitmap32& b, std::int32_t w, std::int32_t h, std::uint32_t seed, bool opaque = false) {
  b.SetSize(w, h);
  std::mt19937 rng(seed);
  for (std::int64_t i = 0; i < std::int64_t{w} * h; ++i) b.Bits()[i] = rng() | (opaque ? 0xFF000000u : 0u);
}

inline std::vector<TColor32> Pixels(const TBitmap32& b) {
  return {b.Bits(), b.Bits() + std::int64_t{b.Width()} * b.Height()};
}

// Distance from (x, y) to the infinite line through (x1, y1) and (x2, y2).
inline double DistanceToLine(double x, double y, double x1, double y1, double x2, double y2) {
  return std::fabs((x2 - x1) * (y1 - y) - (x1 - x) * (y2 - y1)) / std::hypot(x2 - x1, y2 - y1);
}

// Distance from (x, y) to the segment from (ax, ay) to (bx, by).
inline double DistanceToSegment(double x, double y, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
  const double t = len2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0, 1.0) : 0;
  return std::hypot(x - ax - t * dx, y - ay - t * dy);
}

// Peak signal-to-noise ratio (dB) of a read-back image against the bitmap's
// pixels from (bx, by), over the three colour channels; 99 when equal.
inline double Psnr(const PpmImage& a, const TBitmap32& b, std::int32_t bx, std::int32_t by) {
  double sum = 0;
  for (std::int32_t y = 0; y < a.Height; ++y)
    for (std::int32_t x = 0; x < a.Width; ++x) {
      const std::uint32_t p = a.At(x, y), q = b.GetPixel(bx + x, by + y);
      for (int shift = 0; shift < 24; shift += 8) {
        const double d = double((p >> shift) & 255) - double((q >> shift) & 255);
        sum += d * d;
      }
    }
  const double mse = sum / (3.0 * a.Width * a.Height);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace kdl::test
