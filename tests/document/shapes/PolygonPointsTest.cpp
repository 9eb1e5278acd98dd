// Quarter arcs against their segment rule and the unit circle; polygons
// built from millimetre contours against exact areas.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "document/shapes/PolygonPoints.h"

namespace kdl {
namespace {

// The radius whose quarter arc is length pixels long.
float RadiusFor(double length) { return static_cast<float>(length * 2 / std::numbers::pi); }

int Segments(float radius) { return static_cast<int>(QuarterArcPoints(radius).size()) - 1; }

TEST(QuarterArcPoints, SegmentCountFollowsTheArcLength) {
  struct Case {
    double Length;
    int N;
  };
  // Each threshold approached from both sides; from 7 on the count is
  // Ceil(L / 5), from 100 on Ceil(L / 10).
  const Case cases[] = {{0.49, 1}, {0.51, 2}, {2.99, 2}, {3.01, 3}, {6.99, 3}, {7.01, 2},
                        {24.9, 5}, {25.1, 6}, {99.9, 20}, {100.1, 11}, {185.5, 19}};
  for (const Case& c : cases) EXPECT_EQ(Segments(RadiusFor(c.Length)), c.N) << "L = " << c.Length;
}

TEST(QuarterArcPoints, PointsLieOnTheUnitQuarterCircleAtEqualAngles) {
  for (float radius : {0.1f, 2.0f, 40.0f, 1000.0f}) {
    const TArrayOfFloatPoint p = QuarterArcPoints(radius);
    const std::size_t n = p.size() - 1;
    EXPECT_EQ(p.front(), (TFloatPoint{1, 0}));
    EXPECT_EQ(p.back(), (TFloatPoint{0, 1}));
    for (std::size_t i = 0; i <= n; ++i) {
      EXPECT_NEAR(std::hypot(p[i].X, p[i].Y), 1.0, 1e-6);
      EXPECT_NEAR(std::atan2(p[i].Y, p[i].X), static_cast<double>(i) / n * std::numbers::pi / 2, 1e-6);
    }
  }
}

TEST(QuarterArcPoints, BrokenOrHugeRadiiStayBounded) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(Segments(std::numeric_limits<float>::quiet_NaN()), 1);
  EXPECT_EQ(Segments(inf), 1);
  EXPECT_EQ(Segments(-inf), 1);
  EXPECT_EQ(Segments(-50), 1);
  EXPECT_EQ(Segments(0), 1);
  EXPECT_EQ(Segments(std::numeric_limits<float>::max()), kMaxQuarterArcSegments);
  EXPECT_EQ(Segments(1e7f), kMaxQuarterArcSegments);
}

// Covered pixels (in pixel units) of a polygon, summed from its spans.
double CoveredArea(const TPolygon32& polygon, std::int32_t width, std::int32_t height) {
  TBitmap32 b;
  b.SetSize(width, height);
  double sum = 0;
  polygon.FillWithCallback(b, [&](TColor32*, std::int32_t, std::int32_t, std::int32_t len, const std::int32_t* v) {
    for (std::int32_t i = 0; i < len; ++i) sum += v[i];
  });
  return sum / 255.0;
}

TArrayOfArrayOfFloatPoint Rectangle(float w, float h) {
  return {{{0, 0}, {0, h}, {w, h}, {w, 0}}};
}

TEST(BuildPolygon32, MapsEveryPointThroughTheMatrixInto16Dot16) {
  const TAffineMatrix m{2, 0.5, -1, 3, 10.25, 20.5};
  const TPolygon32Pair p = BuildPolygon32({{{1, 2}, {3, 4}}, {{0.5f, 0}}}, m, 0, true, true);
  ASSERT_TRUE(p.Fill);
  EXPECT_FALSE(p.Outline);
  const TArrayOfArrayOfFixedPoint& c = p.Fill->Contours();
  ASSERT_GE(c.size(), 2u);
  // (2·1 − 1·2 + 10.25, 0.5·1 + 3·2 + 20.5) and so on.
  ASSERT_EQ(c[0].size(), 2u);
  EXPECT_EQ(c[0][0], (TFixedPoint{10 * 65536 + 16384, 27 * 65536}));
  EXPECT_EQ(c[0][1], (TFixedPoint{12 * 65536 + 16384, 34 * 65536}));
  ASSERT_EQ(c[1].size(), 1u);
  EXPECT_EQ(c[1][0], (TFixedPoint{11 * 65536 + 16384, 20 * 65536 + 49152}));
  for (std::size_t i = 2; i < c.size(); ++i) EXPECT_TRUE(c[i].empty());
  EXPECT_TRUE(p.Fill->UseAntialiasing());
  EXPECT_EQ(p.Fill->FillRule(), frAlternate);
  EXPECT_TRUE(p.Fill->CloseContours());
  EXPECT_FALSE(BuildPolygon32({}, m, 1, false, true).Fill->CloseContours());
}

TEST(BuildPolygon32, OutlineRingIsThePathLengthTimesTheWidth) {
  const float w = 30, h = 20, width = 1.5f;
  for (double s : {5.9, 23.6}) {
    const TAffineMatrix m{s, 0, 0, s, 40.3, 40.7};
    const auto size = static_cast<std::int32_t>((w + 2 * width) * s) + 90;
    const TPolygon32Pair closed = BuildPolygon32(Rectangle(w, h), m, width, true, true);
    ASSERT_TRUE(closed.Outline);
    EXPECT_EQ(closed.Outline->FillRule(), frNonZero);
    EXPECT_NEAR(CoveredArea(*closed.Outline, size, size), 2 * (w + h) * width * s * s,
                0.02 * 2 * (w + h) * width * s * s)
        << "scale " << s;
    // An open path: one stroke along its length.
    const TPolygon32Pair open = BuildPolygon32({{{0, 0}, {w, 0}}}, m, width, false, true);
    ASSERT_TRUE(open.Outline);
    EXPECT_NEAR(CoveredArea(*open.Outline, size, size), w * width * s * s, 0.02 * w * width * s * s);
  }
  EXPECT_FALSE(BuildPolygon32(Rectangle(w, h), kIdentityMatrix, 0, true, true).Outline);
  EXPECT_FALSE(BuildPolygon32(Rectangle(w, h), kIdentityMatrix, -1, true, true).Outline);
  EXPECT_FALSE(BuildPolygon32(Rectangle(w, h), kIdentityMatrix, 1, true, false).Outline);
}

TEST(BuildPolygon32, BrokenCoordinatesStayInsideTheFixedRange) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const TPolygon32Pair p =
      BuildPolygon32({{{nan, 0}, {inf, -inf}, {1e30f, 5}}}, TAffineMatrix{4, 0, 0, 4, 0, 0}, 1, true, true);
  const TArrayOfFixedPoint& c = p.Fill->Contours()[0];
  ASSERT_EQ(c.size(), 3u);
  // NaN goes to the low end, a huge coordinate to the high end.
  EXPECT_EQ(c[0].X, std::numeric_limits<TFixed>::min());
  EXPECT_EQ(c[2].X, std::numeric_limits<TFixed>::max());
  EXPECT_EQ(c[2].Y, 20 * 65536);
  // Filling it draws nothing wrong inside a small bitmap.
  TBitmap32 b;
  b.SetSize(16, 16);
  p.Fill->Fill(b, 0xFFFFFFFF);
  ASSERT_TRUE(p.Outline);
  p.Outline->Fill(b, 0xFF000000);
}

}  // namespace
}  // namespace kdl
