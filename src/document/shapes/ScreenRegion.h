// The pixels a shape covers on screen: one or more polygons through
// whole-pixel corners, filled together by the even-odd rule; pixel (x, y) belongs when its
// centre (x + 0.5, y + 0.5) lies inside. Every test is exact in integers,
// so that a pixel belongs or not whichever question is asked.
#pragma once

#include <vector>

#include "raster/Types.h"

namespace kdl {

class TScreenRegion {
 public:
  // Corners beyond kMaxCoordinate are refused by the makers of regions.
  static constexpr std::int32_t kMaxCoordinate = 1 << 24;

  explicit TScreenRegion(std::vector<TPoint> corners) { contours_.push_back(std::move(corners)); }
  // Several closed contours; a pixel inside an odd number of them belongs.
  explicit TScreenRegion(std::vector<std::vector<TPoint>> contours) : contours_(std::move(contours)) {}

  // The first contour's corners.
  const std::vector<TPoint>& Corners() const {
    static const std::vector<TPoint> kNone;
    return contours_.empty() ? kNone : contours_.front();
  }
  const std::vector<std::vector<TPoint>>& Contours() const { return contours_; }
  bool Contains(TPoint pixel) const;
  // Whether any pixel of the half-open rectangle belongs.
  bool Intersects(const TRect& rect) const;
  // The corners' box: every pixel that belongs lies inside.
  TRect Bounds() const;

 private:
  // The columns where the row's centre line enters or leaves the polygon,
  // sorted: the pixels from the 2k-th up to before the (2k+1)-th belong.
  void RowBoundaries(std::int32_t y, std::vector<std::int64_t>& columns) const;
  static void AddRowBoundaries(const std::vector<TPoint>& corners, std::int64_t yc,
                               std::vector<std::int64_t>& columns);

  std::vector<std::vector<TPoint>> contours_;
};

}  // namespace kdl
