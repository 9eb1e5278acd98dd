// Point generation and polygon building shared by the vector shapes and the
// alpha masks: quarter arcs sized to the rendered resolution, and float
// contours in millimetres turned into a fill polygon and an outline ring in
// bitmap pixels.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "raster/AffineTransform.h"
#include "raster/PolygonRasterizer.h"
#include "raster/Types.h"

namespace kdl {

using TArrayOfArrayOfFloatPoint = std::vector<TArrayOfFloatPoint>;

// The most segments one quarter arc gets: ample at 600 dpi, and a bound on
// what a huge or broken radius from a file can ask for.
inline constexpr int kMaxQuarterArcSegments = 10000;

// N + 1 points of the unit quarter circle from (1, 0) to (0, 1), N chosen
// from the arc's length in pixels: about 5-pixel segments on small arcs,
// 10-pixel segments from 100 pixels on. A non-finite or non-positive radius
// gives one segment.
TArrayOfFloatPoint QuarterArcPoints(float radius);

struct TPolygon32Pair {
  // Anti-aliased, alternate fill rule.
  std::unique_ptr<TPolygon32> Fill;
  // The ring of the full outline width centred on the path (winding rule),
  // or null without an outline.
  std::unique_ptr<TPolygon32> Outline;
};

// The contours mapped through m into 16.16 bitmap pixels; the outline ring
// only when withOutline and outlineWidth (mm) is above 0.
TPolygon32Pair BuildPolygon32(const TArrayOfArrayOfFloatPoint& contours, const TAffineMatrix& m,
                              float outlineWidth, bool closed, bool withOutline);

// Contours as text for undo records: "x,y x,y;x,y", contours split by
// ';', each number the shortest text that reads back to the same float.
// Reading skips what does not parse; an empty text is one empty contour.
std::string PointsToText(const TArrayOfArrayOfFloatPoint& contours);
TArrayOfArrayOfFloatPoint TextToPoints(std::string_view text);

}  // namespace kdl
