#include "document/shapes/PolygonPoints.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>

namespace kdl {
namespace {

// Pixels to 16.16, rounded half to even and held inside the fixed range so
// that a point far off the bitmap (or NaN from a broken frame) stays a point.
TFixed ToFixed(double pixels) {
  const double v = std::nearbyint(pixels * 65536.0);
  if (!(v > static_cast<double>(std::numeric_limits<TFixed>::min())))
    return std::numeric_limits<TFixed>::min();
  if (v >= static_cast<double>(std::numeric_limits<TFixed>::max()))
    return std::numeric_limits<TFixed>::max();
  return static_cast<TFixed>(v);
}

int QuarterArcSegments(float radius) {
  double length = static_cast<double>(radius) * std::numbers::pi / 2;
  if (!std::isfinite(length)) length = 0;
  double n;
  if (length <= 0.5)
    n = 1;
  else if (length < 3)
    n = 2;
  else if (length < 7)
    n = 3;
  else if (length < 100)
    n = std::ceil(length / 5);
  else
    n = std::ceil(length / 10);
  return n > kMaxQuarterArcSegments ? kMaxQuarterArcSegments : static_cast<int>(n);
}

}  // namespace

TArrayOfFloatPoint QuarterArcPoints(float radius) {
  const int n = QuarterArcSegments(radius);
  TArrayOfFloatPoint points(static_cast<std::size_t>(n) + 1);
  points[0] = TFloatPoint{1, 0};
  for (int i = 1; i < n; ++i) {
    const double a = static_cast<double>(i) / n * std::numbers::pi / 2;
    points[static_cast<std::size_t>(i)] =
        TFloatPoint{static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
  }
  points[static_cast<std::size_t>(n)] = TFloatPoint{0, 1};
  return points;
}

TPolygon32Pair BuildPolygon32(const TArrayOfArrayOfFloatPoint& contours, const TAffineMatrix& m,
                              float outlineWidth, bool closed, bool withOutline) {
  TPolygon32Pair result;
  result.Fill = std::make_unique<TPolygon32>();
  TPolygon32& fill = *result.Fill;
  fill.SetUseAntialiasing(true);
  fill.SetFillRule(frAlternate);
  fill.SetCloseContours(closed);

  // Each contour becomes one line of the polygon; the polygon starts with an
  // empty line of its own.
  for (const TArrayOfFloatPoint& contour : contours) {
    for (const TFloatPoint& p : contour) {
      const double x = p.X;
      const double y = p.Y;
      fill.AddPoint(TFixedPoint{ToFixed(m.A * x + m.C * y + m.E), ToFixed(m.B * x + m.D * y + m.F)});
    }
    fill.StartLine();
  }

  // The ring: every line out and back, pushed out by half the outline width
  // in pixels, so that it covers the full width centred on the path.
  if (withOutline && outlineWidth > 0) {
    std::unique_ptr<TPolygon32> contour = fill.ContourPolygon();
    contour->SetUseAntialiasing(true);
    contour->SetFillRule(frNonZero);
    contour->SetCloseContours(closed);
    const TFixed delta = ToFixed(static_cast<double>(outlineWidth) * m.A * 0.5);
    result.Outline = contour->Offset(delta, 0.5f);
  }
  return result;
}

std::string PointsToText(const TArrayOfArrayOfFloatPoint& contours) {
  std::string text;
  char buffer[32];
  for (std::size_t c = 0; c < contours.size(); ++c) {
    if (c > 0) text += ';';
    for (std::size_t i = 0; i < contours[c].size(); ++i) {
      if (i > 0) text += ' ';
      const TFloatPoint& p = contours[c][i];
      auto r = std::to_chars(buffer, buffer + sizeof buffer, p.X);
      text.append(buffer, r.ptr);
      text += ',';
      r = std::to_chars(buffer, buffer + sizeof buffer, p.Y);
      text.append(buffer, r.ptr);
    }
  }
  return text;
}

TArrayOfArrayOfFloatPoint TextToPoints(std::string_view text) {
  TArrayOfArrayOfFloatPoint contours(1);
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    if (*p == ';') {
      contours.emplace_back();
      ++p;
      continue;
    }
    if (*p == ' ') {
      ++p;
      continue;
    }
    float x = 0, y = 0;
    auto r = std::from_chars(p, end, x);
    if (r.ec != std::errc() || r.ptr >= end || *r.ptr != ',') {
      // Skip the broken item up to the next separator.
      while (p < end && *p != ' ' && *p != ';') ++p;
      continue;
    }
    auto r2 = std::from_chars(r.ptr + 1, end, y);
    if (r2.ec != std::errc()) {
      p = r.ptr + 1;
      while (p < end && *p != ' ' && *p != ';') ++p;
      continue;
    }
    contours.back().push_back({x, y});
    p = r2.ptr;
  }
  return contours;
}

}  // namespace kdl
