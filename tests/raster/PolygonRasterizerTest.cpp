// The polygon rasteriser against exact areas and point-in-polygon geometry,
// and metamorphic checks: reversal, fill rules, translation, shared edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Blend.h"
#include "raster/PolygonRasterizer.h"
#include "support/RasterTesting.h"

namespace kdl {
namespace {

constexpr double kPi = 3.14159265358979323846;

TFixedPoint FP(double x, double y) {
  return {static_cast<TFixed>(std::lround(x * 65536)), static_cast<TFixed>(std::lround(y * 65536))};
}

// Coverage per pixel as handed to the callback; -1 where nothing came.
struct TCoverage {
  std::int32_t W = 0, H = 0;
  std::vector<int> V;
  int At(std::int32_t x, std::int32_t y) const { return V[static_cast<std::size_t>(y) * W + x]; }
  int Value(std::int32_t x, std::int32_t y) const { return std::max(At(x, y), 0); }
  std::vector<int> Values() const {
    std::vector<int> v(V.size());
    for (std::size_t i = 0; i < V.size(); ++i) v[i] = std::max(V[i], 0);
    return v;
  }
  double Sum() const {
    double s = 0;
    for (int v : V) s += std::max(v, 0);
    return s / 255.0;
  }
};

TCoverage CoverAA(const TArrayOfArrayOfFixedPoint& pts, TSubsampleMode mode, TPolygonFillRule rule,
                  std::int32_t w = 200, std::int32_t h = 200) {
  TBitmap32 b;
  b.SetSize(w, h);
  TCoverage c;
  c.W = w;
  c.H = h;
  c.V.assign(static_cast<std::size_t>(w) * h, -1);
  FillPolyPolygonAACallback(b, pts, rule, mode,
                            [&](TColor32* dst, std::int32_t x, std::int32_t y, std::int32_t len,
                                const std::int32_t* values) {
                              EXPECT_EQ(dst, b.PixelPtr(x, y));
                              ASSERT_GE(x, 0);
                              ASSERT_LE(x + len, w);
                              ASSERT_GE(y, 0);
                              ASSERT_LT(y, h);
                              for (std::int32_t i = 0; i < len; ++i) {
                                ASSERT_GE(values[i], 0);
                                ASSERT_LE(values[i], 255);
                                auto& v = c.V[static_cast<std::size_t>(y) * w + x + i];
                                ASSERT_EQ(v, -1) << "pixel handed twice";
                                v = values[i];
                              }
                            });
  return c;
}

TArrayOfFixedPoint RandomPolygon(std::mt19937& rng, bool convex, double cx, double cy, double radius) {
  std::uniform_real_distribution<double> u(0, 1);
  const int n = 3 + static_cast<int>(rng() % 30);
  std::vector<double> angles(static_cast<std::size_t>(n));
  for (double& a : angles) a = u(rng) * 2 * kPi;
  std::sort(angles.begin(), angles.end());
  TArrayOfFixedPoint pts;
  for (double a : angles) {
    const double r = convex ? radius : radius * (0.3 + 0.7 * u(rng));
    pts.push_back(FP(cx + r * std::cos(a), cy + r * std::sin(a)));
  }
  return pts;
}

double Area(const TArrayOfFixedPoint& p) {
  double s = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const TFixedPoint& a = p[i];
    const TFixedPoint& b = p[(i + 1) % p.size()];
    s += (static_cast<double>(a.X) * b.Y - static_cast<double>(b.X) * a.Y) / 65536.0 / 65536.0;
  }
  return std::fabs(s) / 2;
}

double Perimeter(const TArrayOfFixedPoint& p) {
  double s = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const TFixedPoint& a = p[i];
    const TFixedPoint& b = p[(i + 1) % p.size()];
    s += std::hypot((b.X - a.X) / 65536.0, (b.Y - a.Y) / 65536.0);
  }
  return s;
}

bool Inside(const TArrayOfFixedPoint& p, double x, double y) {
  bool in = false;
  for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    const double xi = p[i].X / 65536.0, yi = p[i].Y / 65536.0;
    const double xj = p[j].X / 65536.0, yj = p[j].Y / 65536.0;
    if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
  }
  return in;
}

double DistanceToEdges(const TArrayOfFixedPoint& p, double x, double y) {
  double best = 1e300;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const TFixedPoint& a = p[i];
    const TFixedPoint& b = p[(i + 1) % p.size()];
    best = std::min(best, test::DistanceToSegment(x, y, a.X / 65536.0, a.Y / 65536.0, b.X / 65536.0, b.Y / 65536.0));
  }
  return best;
}

constexpr TSubsampleMode kModes[] = {sm16, sm8, sm4};
int SubSamples(TSubsampleMode m) { return m == sm16 ? 16 : (m == sm8 ? 8 : 4); }

TEST(PolygonFill, WholePixelRulesAndTranslucency) {
  // A square: the rows between its edges, both ends, and with the non-zero
  // rule the two corners where the edges turn.
  const TArrayOfArrayOfFixedPoint square{{FP(10, 10), FP(20, 10), FP(20, 20), FP(10, 20)}};
  for (TPolygonFillRule rule : {frAlternate, frNonZero}) {
    TBitmap32 sq;
    sq.SetSize(30, 30);
    FillPolyPolygon(sq, square, 0xFFFFFFFFu, rule);
    for (std::int32_t y = 0; y < 30; ++y)
      for (std::int32_t x = 0; x < 30; ++x) {
        const bool body = x >= 10 && x <= 20 && y >= 11 && y <= 19;
        const bool corner = rule == frNonZero && ((x == 20 && y == 10) || (x == 10 && y == 20));
        EXPECT_EQ(sq.GetPixel(x, y) != 0, body || corner) << x << "," << y;
      }
  }
  // Two overlapping squares of the same orientation.
  const TArrayOfArrayOfFixedPoint two{{FP(2, 2), FP(12, 2), FP(12, 12), FP(2, 12)},
                                      {FP(6, 6), FP(16, 6), FP(16, 16), FP(6, 16)}};
  TBitmap32 b;
  b.SetSize(20, 20);
  b.Clear(0);
  FillPolyPolygon(b, two, 0xFFFFFFFFu, frNonZero);
  EXPECT_NE(b.GetPixel(8, 8), 0u);
  b.Clear(0);
  FillPolyPolygon(b, two, 0xFFFFFFFFu, frAlternate);
  EXPECT_EQ(b.GetPixel(8, 8), 0u);
  EXPECT_NE(b.GetPixel(4, 4), 0u);
  EXPECT_NE(b.GetPixel(14, 14), 0u);

  // A translucent colour blends once per span.
  b.Clear(0xFF000000u);
  FillPolyPolygon(b, {two[0]}, 0x80FFFFFFu, frAlternate);
  const TColor32 once = b.GetPixel(5, 5);
  EXPECT_GT(once & 0xFF, 0x70u);
  EXPECT_LT(once & 0xFF, 0x90u);

  // Callback spans: length is last pixel minus first.
  b.SetSize(30, 30);
  std::vector<std::int32_t> lengths;
  FillPolyPolygonCallback(b, {{FP(10, 10), FP(20, 10), FP(20, 20), FP(10, 20)}}, frAlternate,
                          [&](TColor32*, std::int32_t x, std::int32_t, std::int32_t len, const std::int32_t* v) {
                            EXPECT_EQ(v, nullptr);
                            EXPECT_EQ(x, 10);
                            lengths.push_back(len);
                          });
  EXPECT_EQ(lengths, std::vector<std::int32_t>(9, 10));
}

TEST(PolygonFill, FullAndPartialPixels) {
  for (TSubsampleMode mode : kModes) {
    const TCoverage c = CoverAA({{FP(10, 10), FP(30, 10), FP(30, 30), FP(10, 30)}}, mode, frAlternate, 40, 40);
    for (std::int32_t y = 0; y < 40; ++y)
      for (std::int32_t x = 0; x < 40; ++x) {
        const bool in = x >= 10 && x < 30 && y >= 10 && y < 30;
        ASSERT_EQ(c.Value(x, y), in ? 255 : 0) << mode << " " << x << "," << y;
      }
  }
  // A span starting half a pixel in on every sub-scanline of mode 1.
  const TCoverage c = CoverAA({{FP(10.5, 10), FP(30, 10), FP(30, 30), FP(10.5, 30)}}, sm8, frAlternate, 40, 40);
  EXPECT_EQ(c.Value(10, 15), (8 * 3 * 1167) >> 8);
  EXPECT_EQ(c.Value(11, 15), 255);
}

// The summed coverage is the exact area within what the sub-sampling
// resolves, and pixels clear of every edge are exactly 255 inside and 0
// outside. Each sub-scanline crossing is placed to within a sub-sample,
// which a partial pixel weighs as 1/(L−1); truncation costs below a level
// per edge pixel.
void ExpectExactArea(const TCoverage& c, const TArrayOfFixedPoint& poly, TSubsampleMode mode,
                     std::int32_t rowStep = 1) {
  const int l = SubSamples(mode);
  EXPECT_NEAR(c.Sum(), Area(poly), Perimeter(poly) * (1.0 / (l - 1) + 2.0 / 255) + 1) << "mode " << mode;
  double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
  for (const TFixedPoint& q : poly) {
    minX = std::min(minX, q.X / 65536.0);
    maxX = std::max(maxX, q.X / 65536.0);
    minY = std::min(minY, q.Y / 65536.0);
    maxY = std::max(maxY, q.Y / 65536.0);
  }
  for (std::int32_t y = 0; y < c.H; y += rowStep)
    for (std::int32_t x = 0; x < c.W; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      const bool far = px < minX - 2 || px > maxX + 2 || py < minY - 2 || py > maxY + 2;
      if (!far && DistanceToEdges(poly, px, py) < 0.75 + 1.0 / l) continue;
      ASSERT_EQ(c.Value(x, y), !far && Inside(poly, px, py) ? 255 : 0) << "mode " << mode << " at " << x << "," << y;
    }
}

TEST(PolygonFill, CoverageMatchesExactArea) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> pos(60, 140), rad(5, 55);
  for (TSubsampleMode mode : kModes)
    for (int trial = 0; trial < 40; ++trial) {
      const TArrayOfFixedPoint poly = RandomPolygon(rng, trial % 2 == 0, pos(rng), pos(rng), rad(rng));
      for (TPolygonFillRule rule : {frAlternate, frNonZero}) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        ExpectExactArea(CoverAA({poly}, mode, rule), poly, mode);
      }
    }
}

// Wide rows with few crossings are summed from their touched entries only;
// they must agree with the exact area and the interior as well.
TEST(PolygonFill, WideSparseRows) {
  std::mt19937 rng(12);
  for (TSubsampleMode mode : kModes) {
    const TArrayOfFixedPoint poly = RandomPolygon(rng, mode == sm8, 410, 410, 400);
    for (TPolygonFillRule rule : {frAlternate, frNonZero}) {
      const TCoverage c = CoverAA({poly}, mode, rule, 820, 820);
      ExpectExactArea(c, poly, mode, 7);
      // The colour fill blends exactly what the coverage says.
      TBitmap32 b;
      b.SetSize(820, 820);
      b.Clear(0xFF000000u);
      FillPolyPolygonAA(b, {poly}, 0xFFFFFFFFu, mode, rule);
      for (std::int32_t y = 0; y < c.H; y += 5)
        for (std::int32_t x = 0; x < c.W; ++x) {
          const TColor32 expect = BlendRegEx(0x00FFFFFFu | (static_cast<TColor32>(c.Value(x, y)) << 24), 0xFF000000u, 255);
          ASSERT_EQ(b.GetPixel(x, y), expect) << mode << " at " << x << "," << y;
        }
    }
  }
}

TEST(PolygonFill, Metamorphic) {
  std::mt19937 rng(77);
  for (TSubsampleMode mode : kModes)
    for (int trial = 0; trial < 20; ++trial) {
      const TArrayOfFixedPoint poly = RandomPolygon(rng, trial % 2 == 0, 70, 70, 40);
      const TCoverage base = CoverAA({poly}, mode, frAlternate);

      // Both rules agree on a simple polygon.
      const TCoverage nonZero = CoverAA({poly}, mode, frNonZero);
      EXPECT_EQ(base.Values(), nonZero.Values()) << mode << " " << trial;

      // Reversal: the edges are walked from their other ends.
      const TArrayOfFixedPoint rev(poly.rbegin(), poly.rend());
      EXPECT_EQ(CoverAA({rev}, mode, frAlternate).Values(), base.Values()) << mode << " " << trial;

      // An integer translation moves the output exactly.
      TArrayOfFixedPoint moved = poly;
      for (TFixedPoint& p : moved) {
        p.X += 13 * 65536;
        p.Y += 7 * 65536;
      }
      const TCoverage shifted = CoverAA({moved}, mode, frAlternate);
      for (std::int32_t y = 0; y + 7 < base.H; ++y)
        for (std::int32_t x = 0; x + 13 < base.W; ++x)
          ASSERT_EQ(base.Value(x, y), shifted.Value(x + 13, y + 7)) << mode << " " << trial;
    }
}

TEST(PolygonFill, SharedEdgesAddUp) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(20, 180);
  for (TSubsampleMode mode : kModes)
    for (int trial = 0; trial < 20; ++trial) {
      // A quadrilateral split along its diagonal.
      const TFixedPoint a = FP(u(rng), 10 + u(rng) / 10), b = FP(190 - u(rng) / 10, u(rng));
      const TFixedPoint c = FP(u(rng), 190 - u(rng) / 10), d = FP(10 + u(rng) / 10, u(rng));
      const TCoverage whole = CoverAA({{a, b, c, d}}, mode, frAlternate);
      const TCoverage left = CoverAA({{a, b, c}}, mode, frAlternate);
      const TCoverage right = CoverAA({{a, c, d}}, mode, frAlternate);
      for (std::size_t i = 0; i < whole.V.size(); ++i) {
        const int sum = std::max(left.V[i], 0) + std::max(right.V[i], 0);
        ASSERT_LE(std::abs(sum - std::max(whole.V[i], 0)), 1) << mode << " " << trial << " pixel " << i;
      }
    }
}

TEST(PolygonFill, ClipAndDegenerateInput) {
  TBitmap32 b;
  b.SetSize(16, 8);
  b.Clear(0);
  // Reaching past every edge: the callback never sees a span past the clip
  // (CoverAA checks) and the colour fill writes inside only (the sanitiser
  // checks).
  const TArrayOfArrayOfFixedPoint big{{FP(-5, -5), FP(40, -3), FP(30, 20), FP(-9, 30)}};
  for (TSubsampleMode mode : kModes) {
    const TCoverage c = CoverAA(big, mode, frNonZero, 16, 8);
    EXPECT_EQ(c.Value(15, 7), 255);
    FillPolyPolygonAA(b, big, 0xFFFF0000u, mode, frNonZero);
  }
  FillPolyPolygon(b, big, 0xFFFF0000u, frNonZero);

  // Nothing for empty, flat or two-point input; nor a change notice.
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  FillPolyPolygonAA(b, {}, 0xFFFFFFFFu);
  FillPolyPolygonAA(b, {{FP(1, 1), FP(9, 1), FP(5, 1)}}, 0xFFFFFFFFu);
  FillPolyPolygonAA(b, {{FP(1, 1), FP(9, 7)}}, 0xFFFFFFFFu);
  FillPolyPolygon(b, {{FP(1, 100), FP(9, 100), FP(5, 120)}}, 0xFFFFFFFFu);
  EXPECT_EQ(changes, 0);
  // A two-point contour does not widen an anti-aliased fill's extent.
  const TCoverage c = CoverAA({{FP(2, 2), FP(6, 2), FP(6, 4)}, {FP(0, 0), FP(15, 7)}}, sm8, frAlternate, 16, 8);
  EXPECT_EQ(c.At(0, 0), -1);

  // Extreme coordinates neither overflow nor fault.
  const TArrayOfArrayOfFixedPoint wild{{{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MIN + 5}, {INT32_MAX, INT32_MAX}, {0, 3}}};
  FillPolyPolygon(b, wild, 0xFFFFFFFFu, frAlternate);
  FillPolyPolygonAA(b, wild, 0xFFFFFFFFu, sm4, frNonZero);
}

TEST(PolygonFill, OddCrossingCountAsserts) {
  std::uint32_t three[3] = {5, 1, 3};
  EXPECT_THROW(SortCrossings(three, 3), EAssertionFailed);
  std::uint32_t four[4] = {0x80000009u, 3, 0x80000001u, 7};
  SortCrossings(four, 4);
  EXPECT_EQ(four[0], 0x80000001u);
  EXPECT_EQ(four[1], 3u);
  EXPECT_EQ(four[2], 7u);
  EXPECT_EQ(four[3], 0x80000009u);
}

TEST(Polygon32, OffsetSquare) {
  TPolygon32 p;
  for (const TFixedPoint& pt : {FP(10, 10), FP(20, 10), FP(20, 20), FP(10, 20)}) p.AddPoint(pt);
  const auto same = p.Offset(0, 0.5f);
  EXPECT_EQ(same->Contours(), p.Contours());

  const TFixed delta = 2 * 65536;
  const auto bevel = p.Offset(delta, 0);
  ASSERT_EQ(bevel->Contours().size(), 1u);
  EXPECT_EQ(bevel->Contours()[0].size(), 8u);
  const auto mitre = p.Offset(delta, 0.5f);
  ASSERT_EQ(mitre->Contours().size(), 1u);
  EXPECT_EQ(mitre->Contours()[0],
            (TArrayOfFixedPoint{FP(8, 8), FP(22, 8), FP(22, 22), FP(8, 22)}));
  // Shrinking mitres the same corners inward.
  const auto shrunk = p.Offset(-delta, 0.5f);
  EXPECT_EQ(shrunk->Contours()[0],
            (TArrayOfFixedPoint{FP(12, 12), FP(18, 12), FP(18, 18), FP(12, 18)}));

  // Shrinking a needle bevels its sharp tip instead of mitring it into a
  // spike far outside.
  TPolygon32 needle;
  for (const TFixedPoint& pt : {FP(10, 10), FP(60, 11), FP(10, 12)}) needle.AddPoint(pt);
  for (float sharpness : {0.0f, 0.5f, 0.99f}) {
    const auto thin = needle.Offset(-65536 / 4, sharpness);
    for (const TFixedPoint& q : thin->Contours()[0]) {
      EXPECT_GT(q.X, 8 * 65536) << sharpness;
      EXPECT_LT(q.X, 62 * 65536) << sharpness;
      EXPECT_GT(q.Y, 8 * 65536) << sharpness;
      EXPECT_LT(q.Y, 14 * 65536) << sharpness;
    }
  }

  // A grown polygon covers the exact grown area (with bevelled corners).
  TBitmap32 b;
  b.SetSize(40, 40);
  bevel->SetUseAntialiasing(true);
  double sum = 0;
  bevel->FillWithCallback(b, [&](TColor32*, std::int32_t, std::int32_t, std::int32_t len, const std::int32_t* v) {
    for (std::int32_t i = 0; i < len; ++i) sum += v[i] / 255.0;
  });
  EXPECT_NEAR(sum, 14.0 * 14.0 - 4 * 2.0, 14 * 4 / 7.0);

  // A polygon whose first contour is empty still offsets and outlines the
  // later ones.
  TPolygon32 later;
  later.StartLine();
  for (const TFixedPoint& pt : {FP(10, 10), FP(20, 10), FP(20, 20)}) later.AddPoint(pt);
  EXPECT_EQ(later.Offset(delta, 0.5f)->Contours().size(), 1u);
  const auto outline = later.ContourPolygon();
  ASSERT_EQ(outline->Contours().size(), 2u);
  EXPECT_EQ(outline->Contours()[1], (TArrayOfFixedPoint{FP(20, 20), FP(20, 10), FP(10, 10)}));
  later.SetCloseContours(false);
  const auto open = later.ContourPolygon();
  ASSERT_EQ(open->Contours().size(), 1u);
  EXPECT_EQ(open->Contours()[0].size(), 6u);
}

TEST(Polygon32, DrawEdges) {
  TBitmap32 b;
  b.SetSize(30, 30);
  auto count = [&] {
    int n = 0;
    for (std::int32_t i = 0; i < 900; ++i) n += b.Bits()[i] != 0;
    return n;
  };
  for (bool aa : {false, true}) {
    TPolygon32 p;
    p.SetUseAntialiasing(aa);
    p.AddPoint(FP(5, 5));
    b.Clear(0);
    p.DrawEdges(b, 0xFFFFFFFFu);
    EXPECT_EQ(count(), 1) << aa;
    p.SetCloseContours(false);
    b.Clear(0);
    p.DrawEdges(b, 0xFFFFFFFFu);
    EXPECT_EQ(count(), 0) << aa;
  }

  // A closed square outline touches all four corners and nothing inside.
  TPolygon32 sq;
  for (const TFixedPoint& pt : {FP(5, 5), FP(20, 5), FP(20, 20), FP(5, 20)}) sq.AddPoint(pt);
  b.Clear(0);
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  sq.DrawEdges(b, 0xFFFF0000u);
  EXPECT_EQ(changes, 1);
  for (auto [x, y] : {std::pair{5, 5}, {20, 5}, {20, 20}, {5, 20}, {12, 5}, {20, 12}}) EXPECT_EQ(b.GetPixel(x, y), 0xFFFF0000u);
  EXPECT_EQ(b.GetPixel(12, 12), 0u);
  EXPECT_EQ(count(), 60);
}

}  // namespace
}  // namespace kdl
