#include "document/shapes/ScreenRegion.h"

#include <algorithm>
#include <cstdint>

namespace kdl {

namespace {

std::int64_t FloorDiv(std::int64_t n, std::int64_t d) {  // d > 0
  const std::int64_t q = n / d;
  return (n % d != 0 && n < 0) ? q - 1 : q;
}

}  // namespace

void TScreenRegion::RowBoundaries(std::int32_t y, std::vector<std::int64_t>& columns) const {
  columns.clear();
  // Doubled coordinates keep the centre line 2y + 1 whole.
  const std::int64_t yc = 2 * std::int64_t{y} + 1;
  for (const std::vector<TPoint>& corners : contours_)
    AddRowBoundaries(corners, yc, columns);
  std::sort(columns.begin(), columns.end());
}

void TScreenRegion::AddRowBoundaries(const std::vector<TPoint>& corners, std::int64_t yc,
                                     std::vector<std::int64_t>& columns) {
  const std::size_t n = corners.size();
  for (std::size_t i = 0; i < n; ++i) {
    const TPoint& p = corners[i];
    const TPoint& q = corners[(i + 1) % n];
    const std::int64_t y1 = 2 * std::int64_t{p.Y}, y2 = 2 * std::int64_t{q.Y};
    if ((y1 < yc) == (y2 < yc)) continue;
    // The edge meets the centre line at doubled x = num / den; the edge
    // counts for pixel column c while that x lies right of the centre
    // 2c + 1, that is for every c below ceil((x - 1) / 2).
    std::int64_t num = 2 * std::int64_t{p.X} * (y2 - y1) + (yc - y1) * 2 * (std::int64_t{q.X} - p.X);
    std::int64_t den = y2 - y1;
    if (den < 0) {
      num = -num;
      den = -den;
    }
    columns.push_back(-FloorDiv(-(num - den), 2 * den));
  }
}

bool TScreenRegion::Contains(TPoint pixel) const {
  std::vector<std::int64_t> columns;
  RowBoundaries(pixel.Y, columns);
  // The number of boundaries right of the pixel is odd inside.
  const auto right = columns.end() - std::upper_bound(columns.begin(), columns.end(), pixel.X);
  return right % 2 == 1;
}

bool TScreenRegion::Intersects(const TRect& rect) const {
  const TRect b = Bounds();
  const std::int32_t top = std::max(rect.Top, b.Top), bottom = std::min(rect.Bottom, b.Bottom);
  if (rect.Left >= rect.Right) return false;
  std::vector<std::int64_t> columns;
  for (std::int32_t y = top; y < bottom; ++y) {
    RowBoundaries(y, columns);
    for (std::size_t k = 0; k + 1 < columns.size(); k += 2)
      if (columns[k] < rect.Right && columns[k + 1] > rect.Left && columns[k] < columns[k + 1])
        return true;
  }
  return false;
}

TRect TScreenRegion::Bounds() const {
  return ContoursBounds<TRect>(contours_);
}

}  // namespace kdl
