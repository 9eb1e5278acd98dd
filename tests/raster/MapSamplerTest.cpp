// Affine matrices against exact arithmetic, and the map sampler against
// pixel permutations, exact areas and a per-pixel extended-precision
// inverse mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "raster/Blend.h"

#include "raster/AffineTransform.h"
#include "raster/Bitmap32.h"
#include "raster/MapSampler.h"
#include "support/RasterTesting.h"

namespace kdl {
namespace {

TFloatPoint Map(const TdtpAffineTransform& t, float x, float y) { return t.Transform({x, y}); }

TEST(AffineTransform, ComposesInApplicationOrderAndTurnsAboutItsCentre) {
  TdtpAffineTransform t;
  t.Scale(2, 3);
  t.Translate(10, 0);
  EXPECT_EQ(Map(t, 1, 1), FloatPoint(12, 3));
  TdtpAffineTransform c;
  c.Rotate(37.5, 12, -7);
  const TFloatPoint q = Map(c, 12, -7);
  EXPECT_NEAR(q.X, 12, 1e-5);
  EXPECT_NEAR(q.Y, -7, 1e-5);
}

TEST(AffineTransform, MultiplyMatchesComposition) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> d(-5, 5);
  for (int n = 0; n < 50; ++n) {
    const TAffineMatrix m1 = AffineMatrix(d(rng), d(rng), d(rng), d(rng), d(rng), d(rng));
    const TAffineMatrix m2 = AffineMatrix(d(rng), d(rng), d(rng), d(rng), d(rng), d(rng));
    const TFloatPoint p{static_cast<float>(d(rng)), static_cast<float>(d(rng))};
    const TFloatPoint viaProduct = AffineTransformPoint(AffineMultiply(m1, m2), p);
    // m2 first, then m1, in long double.
    const long double x2 = m2.A * static_cast<long double>(p.X) + m2.C * static_cast<long double>(p.Y) + m2.E;
    const long double y2 = m2.B * static_cast<long double>(p.X) + m2.D * static_cast<long double>(p.Y) + m2.F;
    EXPECT_NEAR(viaProduct.X, static_cast<double>(m1.A * x2 + m1.C * y2 + m1.E), 1e-4);
    EXPECT_NEAR(viaProduct.Y, static_cast<double>(m1.B * x2 + m1.D * y2 + m1.F), 1e-4);
  }
}

TEST(AffineTransform, InvertRoundTripsAndRefusesSingular) {
  TdtpAffineTransform t;
  t.Rotate(23, 4, 5);
  t.Scale(1.5, 0.75);
  t.Translate(-3, 8);
  TdtpAffineTransform inv;
  inv.Assign(t);
  inv.Invert();
  for (float x : {-10.f, 0.f, 3.25f, 100.f}) {
    const TFloatPoint back = inv.Transform(t.Transform({x, 2 * x + 1}));
    EXPECT_NEAR(back.X, x, 1e-4 * (1 + std::fabs(x)));
    EXPECT_NEAR(back.Y, 2 * x + 1, 1e-4 * (1 + std::fabs(x)));
  }

  TdtpAffineTransform flat;
  flat.Scale(0, 1);
  const TAffineMatrix before = flat.Matrix();
  EXPECT_THROW(flat.Invert(), EZeroDivide);
  EXPECT_EQ(flat.Matrix(), before);
  TAffineMatrix tiny = AffineMatrix(1e-200, 0, 0, 1e-200, 0, 0);
  EXPECT_THROW(AffineInvert(tiny), EOverflow);
  EXPECT_EQ(AffineInverseDeterminant(AffineMatrix(2, 0, 0, 4, 9, 9)), 0.125);
}

TEST(DistributeSteps, SpreadsTheRemainderEvenlyInBothDirections) {
  std::int32_t s[5];
  // Every step is the exact line truncated towards zero, whatever the sign
  // and size.
  std::mt19937 rng(3);
  for (int n = 0; n < 400; ++n) {
    const std::int32_t count = 1 + static_cast<std::int32_t>(rng() % 300);
    const std::int32_t delta = n % 2 ? static_cast<std::int32_t>(rng() % 200001) - 100000
                                     : static_cast<std::int32_t>(rng());
    std::vector<std::int32_t> steps(static_cast<std::size_t>(count) + 1);
    DistributeSteps(delta, count, steps.data());
    for (std::int32_t k = 0; k <= count; ++k)
      ASSERT_EQ(steps[static_cast<std::size_t>(k)], std::int64_t{delta} * k / count)
          << delta << "/" << count << " at " << k;
  }
  DistributeSteps(INT32_MIN, 3, s);
  EXPECT_EQ(s[3], INT32_MIN);
  EXPECT_LT(s[1], 0);
}

TEST(MapSampler, OversamplingOutsideOneToSixIsRefused) {
  TdtpMapSampler s;
  EXPECT_THROW(s.SetOversampling(7), Exception);
  EXPECT_THROW(s.SetOversampling(0), Exception);
}

// The reference both sparse-source tests compare with: every row of the box
// of the source's mapped corners, clipped to the target (whose first row is
// picture row targetTop), sampled whole and blended pixel by pixel.
void BlendWholeRows(const TBitmap32& src, const TdtpAffineTransform& t, TBitmap32& want, std::int32_t targetTop,
                    int oversampling, std::uint32_t masterAlpha) {
  TdtpMapSampler whole;
  whole.SetOversampling(oversampling);
  whole.SetSource(const_cast<TBitmap32*>(&src));
  whole.SetTarget(&want);
  whole.SetTransform(const_cast<TdtpAffineTransform*>(&t));
  const auto w = static_cast<float>(src.Width()), h = static_cast<float>(src.Height());
  TFloatPoint corners[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  t.TransformPoints(corners, 4);
  double minX = corners[0].X, maxX = minX, minY = corners[0].Y, maxY = minY;
  for (const TFloatPoint& p : corners) {
    minX = std::min<double>(minX, p.X), maxX = std::max<double>(maxX, p.X);
    minY = std::min<double>(minY, p.Y), maxY = std::max<double>(maxY, p.Y);
  }
  const auto x0 = static_cast<std::int32_t>(std::max(std::floor(minX), 0.0));
  const auto x1 = static_cast<std::int32_t>(std::min(std::ceil(maxX), want.Width() - 1.0));
  const auto y0 = static_cast<std::int32_t>(std::max(std::floor(minY), static_cast<double>(targetTop)));
  const auto y1 = static_cast<std::int32_t>(std::min(std::ceil(maxY), targetTop + want.Height() - 1.0));
  for (std::int32_t y = y0; y <= y1 && x1 >= x0; ++y) {
    const TColor32* span = whole.GetSpan(x0, y, x1 - x0 + 1);
    TColor32* row = want.ScanLine(y - targetTop);
    for (std::int32_t x = x0; x <= x1; ++x)
      row[x] = masterAlpha == 255 ? MergeReg(span[x - x0], row[x]) : MergeRegEx(span[x - x0], row[x], masterAlpha);
  }
}

struct SamplerRig {
  TBitmap32 src, dst;
  TdtpAffineTransform t;
  TdtpMapSampler sampler;
  TdtpMapSampler& Bound() {
    sampler.SetTarget(&dst);
    sampler.SetSource(&src);
    sampler.SetTransform(&t);
    return sampler;
  }
  void Render() { Bound().Render(FloatRect(0, 0, static_cast<float>(src.Width()), static_cast<float>(src.Height()))); }
};

// Source pixel k is read exactly at position k; a target pixel is sampled at
// its centre, so a further half-pixel shift makes turns and integer moves
// land on whole source pixels.
TEST(MapSampler, QuarterTurnsAndMovesArePermutations) {
  const std::int32_t n = 23;
  for (int turn = 0; turn < 4; ++turn) {
    SamplerRig s;
    test::FillRandom(s.src, n, n, 11, true);
    s.src.SetOuterColor(0);
    s.dst.SetSize(n + 9, n + 9);
    s.dst.Clear(0xFF123456u);
    s.t.Rotate(90.0 * turn, 0, 0);
    // Moves the turned square back into view and by (3, 4).
    const double ex = (turn == 1 || turn == 2) ? n - 1 : 0;
    const double ey = (turn == 2 || turn == 3) ? n - 1 : 0;
    s.t.Translate(ex + 3 + 0.5, ey + 4 + 0.5);
    s.sampler.SetOversampling(1);
    s.Render();
    for (std::int32_t y = 0; y < s.dst.Height(); ++y)
      for (std::int32_t x = 0; x < s.dst.Width(); ++x) {
        // Undo the move and the turn in integers.
        const std::int32_t rx = x - 3 - static_cast<std::int32_t>(ex);
        const std::int32_t ry = y - 4 - static_cast<std::int32_t>(ey);
        std::int32_t u = rx, v = ry;
        switch (turn) {
          case 1: u = ry; v = -rx; break;
          case 2: u = -rx; v = -ry; break;
          case 3: u = -ry; v = rx; break;
          default: break;
        }
        if (u >= 1 && u <= n - 2 && v >= 1 && v <= n - 2) {
          ASSERT_EQ(s.dst.GetPixel(x, y), s.src.GetPixel(u, v)) << turn << " at " << x << "," << y;
        } else if (u < -2 || v < -2 || u > n + 1 || v > n + 1) {
          ASSERT_EQ(s.dst.GetPixel(x, y), 0xFF123456u) << turn << " at " << x << "," << y;
        }
      }
  }
}

// With a half scale each of the 2 x 2 sub-samples reads one whole source
// pixel, so the result is the truncated mean of each 2 x 2 block.
TEST(MapSampler, OversamplingAveragesWholePixels) {
  SamplerRig s;
  test::FillRandom(s.src, 20, 20, 5);
  s.src.SetOuterColor(0);
  s.dst.SetSize(10, 10);
  s.t.Scale(0.5, 0.5);
  s.t.Translate(0.25, 0.25);
  const TColor32* span = s.Bound().GetSpan(1, 3, 8);
  for (std::int32_t i = 0; i < 8; ++i) {
    const std::int32_t x = 1 + i, y = 3;
    TColor32 expect = 0;
    for (int c = 0; c < 32; c += 8) {
      std::uint32_t sum = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) sum += (s.src.GetPixel(2 * x + dx, 2 * y + dy) >> c) & 0xFF;
      expect |= (sum / 4) << c;
    }
    EXPECT_EQ(span[i], expect) << i;
  }

  // A constant stays that constant under every oversampling factor.
  s.src.SetSize(64, 64);
  s.src.Clear(0xFF8040C0u);
  for (int n = 1; n <= 6; ++n) {
    s.sampler.SetOversampling(n);
    s.t.SetMatrix(kIdentityMatrix);
    s.t.Scale(1.0 / n, 1.0 / n);
    s.t.Translate(0.5 / n, 0.5 / n);
    s.sampler.SetTransform(&s.t);
    const TColor32* c = s.sampler.GetSpan(1, 2, 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(c[i], 0xFF8040C0u) << n;
  }
}

TEST(MapSampler, RotatedSquareKeepsItsArea) {
  const std::int32_t n = 60;
  for (double angle : {0.0, 17.0, 30.0, 45.0, 123.4, 210.0, 333.0})
    for (int oversampling : {1, 2, 4}) {
      SamplerRig s;
      s.src.SetSize(n, n);
      s.src.Clear(0xFFFFFFFFu);
      s.src.SetOuterColor(0);
      s.dst.SetSize(2 * n, 2 * n);
      s.dst.Clear(0);
      s.t.Rotate(angle, n / 2.0, n / 2.0);
      s.t.Translate(n / 2.0, n / 2.0);
      s.sampler.SetOversampling(oversampling);
      s.Render();
      double area = 0;
      for (std::int32_t y = 0; y < s.dst.Height(); ++y)
        for (std::int32_t x = 0; x < s.dst.Width(); ++x) area += (s.dst.GetPixel(x, y) >> 24) / 255.0;
      EXPECT_NEAR(area, static_cast<double>(n) * n, 4.0 * n) << angle << " x" << oversampling;
      // Nothing lands outside the turned square's reach.
      EXPECT_EQ(s.dst.GetPixel(0, 0), 0u);
    }
}

// Each pixel of a walked span reads the source within 2/256 of a pixel of
// where a per-pixel long double inverse puts its centre (the rounded start
// and the integer steps each add less than one unit).
TEST(MapSampler, StepsFollowTheExactInverse) {
  TBitmap32 src;
  src.SetSize(300, 300);
  // Random channels, so that a read names its position almost uniquely.
  std::mt19937 rng(9);
  for (std::int32_t y = 0; y < 300; ++y)
    for (std::int32_t x = 0; x < 300; ++x) src.SetPixel(x, y, rng());
  TBitmap32 dst;
  dst.SetSize(400, 400);
  std::uniform_real_distribution<double> angle(0, 360), scale(0.3, 3.0), shift(-50, 250);
  for (int trial = 0; trial < 40; ++trial) {
    TdtpAffineTransform t;
    t.Rotate(angle(rng), 150, 150);
    t.Scale(scale(rng), scale(rng));
    t.Translate(shift(rng), shift(rng));
    TdtpMapSampler sampler;
    sampler.SetOversampling(1);
    sampler.SetTarget(&dst);
    sampler.SetSource(&src);
    sampler.SetTransform(&t);
    // The forward matrix inverted independently in long double.
    const TAffineMatrix& m = t.Matrix();
    const long double det = static_cast<long double>(m.A) * m.D - static_cast<long double>(m.B) * m.C;
    const std::int32_t y = static_cast<std::int32_t>(rng() % 400), x0 = static_cast<std::int32_t>(rng() % 100);
    const std::int32_t count = 300;
    const TColor32* span = sampler.GetSpan(x0, y, count);
    for (std::int32_t i = 0; i < count; ++i) {
      const long double tx = x0 + i + 0.5L - m.E, ty = y + 0.5L - m.F;
      const long double sx = (m.D * tx - m.C * ty) / det * 256, sy = (-m.B * tx + m.A * ty) / det * 256;
      if (sx < 512 || sy < 512 || sx > 298 * 256 - 512 || sy > 298 * 256 - 512) continue;
      bool found = false;
      for (long px = std::lround(std::floor(sx - 2)) + 1; px < sx + 2 && !found; ++px)
        for (long py = std::lround(std::floor(sy - 2)) + 1; py < sy + 2 && !found; ++py)
          found = SampleBilinear256(src, static_cast<std::int32_t>(px), static_cast<std::int32_t>(py)) == span[i];
      ASSERT_TRUE(found) << "trial " << trial << " pixel " << i;
    }
  }
}

TEST(MapSampler, RenderBoundsAndMasterAlpha) {
  SamplerRig s;
  s.src.SetSize(10, 10);
  s.src.Clear(0xFFFF0000u);
  s.dst.SetSize(20, 20);
  s.dst.Clear(0xFF0000FFu);
  // Entirely left of and above the target: nothing happens.
  s.t.Translate(-40, -40);
  s.Render();
  for (std::int32_t i = 0; i < 400; ++i) ASSERT_EQ(s.dst.Bits()[i], 0xFF0000FFu);

  // Non-finite bounds draw nothing and do not fault.
  s.t.SetMatrix(AffineMatrix(1e30, 0, 0, 1e30, 0, 0));
  s.Bound().Render(FloatRect(0, 0, 1e30f, 1e30f));
  s.sampler.Render(FloatRect(-1e38f, -1e38f, 1e38f, 1e38f));

  // Half master alpha merges at half strength.
  s.t.SetMatrix(kIdentityMatrix);
  s.t.Translate(0.5, 0.5);
  s.src.SetMasterAlpha(128);
  s.sampler.SetOversampling(1);
  s.Render();
  const TColor32 mid = s.dst.GetPixel(5, 5);
  EXPECT_NEAR(static_cast<int>((mid >> 16) & 0xFF), 128, 2);
  EXPECT_NEAR(static_cast<int>(mid & 0xFF), 127, 2);
  // The source's outermost row and column read as its outer colour.
  s.dst.Clear(0xFF0000FFu);
  s.src.SetOuterColor(0xFF00FF00u);
  s.src.SetMasterAlpha(255);
  s.Render();
  EXPECT_EQ(s.dst.GetPixel(0, 4), 0xFF00FF00u);
  EXPECT_EQ(s.dst.GetPixel(9, 4), 0xFF00FF00u);
  EXPECT_EQ(s.dst.GetPixel(4, 4), 0xFFFF0000u);
}

// An even area reads back exactly at any position, and the read between
// two pixels moves linearly from one to the other.
TEST(MapSampler, SourceReadIsExactAndLinear) {
  TBitmap32 src;
  src.SetSize(4, 4);
  src.Clear(0xFFFF8020u);
  for (std::int32_t x = 1; x < 3 * 256; x += 37)
    for (std::int32_t y = 1; y < 3 * 256; y += 41) ASSERT_EQ(SampleBilinear256(src, x, y), 0xFFFF8020u);
  src.SetPixel(2, 1, 0x00000000u);
  src.SetPixel(2, 2, 0x00000000u);
  for (std::int32_t f = 0; f < 256; f += 16) {
    const TColor32 c = SampleBilinear256(src, 256 + f, 256 + 64);
    const double want = 255.0 * (256 - f) / 256;
    EXPECT_NEAR(static_cast<double>(c >> 24), want, 0.5) << f;
  }
  src.SetOuterColor(0x12345678u);
  EXPECT_EQ(SampleBilinear256(src, 0, 300), 0x12345678u);
  EXPECT_EQ(SampleBilinear256(src, 3 * 256, 300), 0x12345678u);
}

// Render skips the parts of a mostly transparent source that can only give
// alpha 0; the pixels must be those of every row of the box sampled whole
// and merged, as the test does here through GetSpan.
TEST(MapSampler, SparseInkRendersAsWholeRows) {
  struct Case {
    double angle, sx, sy, dx, dy;
    int oversampling;
    TColor32 outer;
    std::uint32_t masterAlpha;
  };
  const Case cases[] = {
      {0, 2.5, 2.5, 13.25, 7.75, 2, 0x00FFFFFFu, 255},   {0, 0.4, 0.45, 3.5, 2.2, 2, 0x00FFFFFFu, 255},
      {90, 1, 1, 80, 4, 2, 0x00FFFFFFu, 255},            {270, 1.7, 1.7, 3, 120, 1, 0x00000000u, 255},
      {33, 1.3, 0.9, 40.4, -10.6, 3, 0x00FFFFFFu, 140},  {-15, 3.1, 3.1, -20, -30, 2, 0x00102030u, 255},
      {180, 1.1, 1.1, 130, 110, 2, 0x00FFFFFFu, 255},    {12, 2, 2, 10, 5, 2, 0x80FFFFFFu, 255},
      {0, 1, 1, 0.5, 0.5, 1, 0x00FFFFFFu, 255},         {0, 4.3, 4.3, -97.6, -61.2, 2, 0x00FFFFFFu, 255},
      {27, 5.2, 5.2, -40.5, -90.25, 2, 0x00FFFFFFu, 255},
  };
  std::mt19937 rng(3);
  // Sources: a few blobs, more blobs, no ink at all, and ink everywhere
  // (where only the part of the source under a clipped box may be read).
  for (int sparse = 0; sparse < 4; ++sparse)
    for (const Case& c : cases) {
      SamplerRig s;
      s.src.SetSize(61, 47);
      s.src.Clear(c.outer & 0x00FFFFFFu);
      // A few blobs of ink (none at all in the last source), one of them
      // touching the edge, translucent and opaque.
      if (sparse < 2) {
        std::uniform_int_distribution<int> px(0, 60), py(0, 46), colour(0, 0xFFFFFF);
        for (int k = 0; k < 3 + 6 * sparse; ++k) {
          const std::int32_t x = px(rng), y = py(rng);
          const TColor32 alpha = k % 2 ? 0xFF000000u : 0x5A000000u;
          s.src.FillRectS(x, y, std::min(61, x + 1 + k), std::min(47, y + 2), alpha | static_cast<TColor32>(colour(rng)));
        }
        s.src.SetPixel(60, 20, 0xFF00FF00u);
      } else if (sparse == 3) {
        for (std::int32_t y = 0; y < 47; ++y)
          for (std::int32_t x = 0; x < 61; ++x) s.src.SetPixel(x, y, static_cast<TColor32>(rng()) | 0x01000000u);
      }
      s.src.SetOuterColor(c.outer);
      s.src.SetMasterAlpha(c.masterAlpha);
      test::FillRandom(s.dst, 160, 130, 5, false);
      TBitmap32 want;
      want.Assign(&s.dst);
      s.t.Scale(c.sx, c.sy);
      s.t.Rotate(c.angle, 0, 0);
      s.t.Translate(c.dx, c.dy);
      s.sampler.SetOversampling(c.oversampling);
      s.Render();

      BlendWholeRows(s.src, s.t, want, 0, c.oversampling, c.masterAlpha);
      for (std::int32_t y = 0; y < 130; ++y)
        for (std::int32_t x = 0; x < 160; ++x)
          ASSERT_EQ(s.dst.ScanLine(y)[x], want.ScanLine(y)[x])
              << "sparse " << sparse << " angle " << c.angle << " at " << x << "," << y;
    }
}

// A source's maker may say where its ink lies: the pixels drawn must be
// those of every row sampled whole, whether the bounds are tight, loose,
// reach past the source or lie clear of a band's part of it.
TEST(MapSampler, InkBoundsGiveTheSamePixels) {
  struct Case {
    double angle, scale, dx, dy;
    std::int32_t targetTop;
  };
  const Case cases[] = {{0, 1, 3.5, 2.5, 0},      {30, 1.4, 40, -12, 0},  {90, 0.7, 60, 4, 0},
                        {-20, 2.2, -15, 10, 37},  {180, 1, 110, 90, 51},  {45, 3.3, 20, -60, 80}};
  const TRect bounds[] = {{12, 9, 30, 21}, {10, 7, 33, 25}, {-5, -9, 70, 60}, {12, 9, 30, 21}};
  std::mt19937 rng(17);
  for (int b = 0; b < 4; ++b)
    for (const Case& c : cases) {
      SamplerRig s;
      s.src.SetSize(44, 33);
      // Alpha 0 outside the ink's rectangle, with a colour of its own.
      s.src.Clear(0x00A0B0C0u);
      std::uniform_int_distribution<TColor32> any;
      const TRect ink = b == 3 ? TRect{} : TRect{12, 9, 30, 21};
      for (std::int32_t y = ink.Top; y < ink.Bottom; ++y)
        for (std::int32_t x = ink.Left; x < ink.Right; ++x)
          if ((x + y) % 3 != 0) s.src.SetPixel(x, y, any(rng) | 0x01000000u);
      s.src.SetOuterColor(0);
      test::FillRandom(s.dst, 120, 60, 9, false);
      TBitmap32 want;
      want.Assign(&s.dst);
      s.t.Scale(c.scale, c.scale);
      s.t.Rotate(c.angle, 0, 0);
      s.t.Translate(c.dx, c.dy);
      s.sampler.SetTargetTop(c.targetTop);
      s.sampler.SetInkBounds(bounds[b]);
      s.Render();

      BlendWholeRows(s.src, s.t, want, c.targetTop, 2, 255);
      for (std::int32_t y = 0; y < 60; ++y)
        for (std::int32_t x = 0; x < 120; ++x)
          ASSERT_EQ(s.dst.ScanLine(y)[x], want.ScanLine(y)[x])
              << "bounds " << b << " angle " << c.angle << " at " << x << "," << y;
    }
}

}  // namespace
}  // namespace kdl
