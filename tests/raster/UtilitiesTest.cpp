// Box reduction, quarter turns, the integer-map blur, alpha helpers,
// distances and the segment clipper, each against plain mathematics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "raster/BoxScale.h"
#include "raster/Utilities.h"
#include "support/RasterTesting.h"

namespace kdl {
namespace {

using test::DistanceToLine;
using test::DistanceToSegment;
using test::FillRandom;
using test::Pixels;

std::uint32_t Channel(TColor32 c, int k) { return (c >> (8 * k)) & 0xFF; }

// ---- SpreadRuns and BoxDownsample ------------------------------------------------

TEST(SpreadRuns, EvenSpreadThatTilesTheTotal) {
  TArrayOfInteger starts, lengths;
  for (int total : {1, 7, 100, 4999, 5000}) {
    for (int count : {1, 3, 4, 97, 1250}) {
      if (count > total) continue;
      SpreadRuns(total, count, starts, lengths);
      ASSERT_EQ(static_cast<int>(lengths.size()), count);
      int sum = 0;
      for (int i = 0; i < count; ++i) {
        EXPECT_EQ(starts[i], sum);
        EXPECT_TRUE(lengths[i] == total / count || lengths[i] == total / count + 1);
        sum += lengths[i];
        // Evenly spread: the first i+1 runs hold their share within one.
        EXPECT_LE(std::abs(std::int64_t{sum} * count - std::int64_t{total} * (i + 1)), count);
      }
      EXPECT_EQ(sum, total);
    }
  }
  TArrayOfInteger untouched{42};
  SpreadRuns(10, 0, untouched, untouched);
  EXPECT_EQ(untouched, TArrayOfInteger{42});
}

TEST(BoxDownsample, ExactBlockMeans) {
  // Constant stays constant, whatever the ratio; one block of 4200 x 4100
  // white pixels sums to more than 32 bits hold (4097 x 4097 would not).
  TBitmap32 src, dst;
  for (auto [sw, sh, dw, dh, colour] :
       {std::tuple{37, 23, 9, 7, 0x80C0FF11u}, std::tuple{4200, 4100, 1, 1, 0xFFFFFFFFu}}) {
    src.SetSize(sw, sh);
    src.Clear(colour);
    dst.SetSize(dw, dh);
    BoxDownsample(dst, dst.BoundsRect(), src, src.BoundsRect());
    for (TColor32 c : Pixels(dst)) EXPECT_EQ(c, colour) << sw << "x" << sh;
  }

  // A checkerboard halved: each 2 x 2 block holds two of each colour.
  src.SetSize(8, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) src.SetPixel(x, y, (x + y) % 2 ? 0xFFFFFFFFu : 0x00000000u);
  dst.SetSize(4, 3);
  BoxDownsample(dst, dst.BoundsRect(), src, src.BoundsRect());
  for (TColor32 c : Pixels(dst)) EXPECT_EQ(c, 0x7F7F7F7Fu) << "510 / 4 truncates to 127";

  // Random pixels between sub-rectangles against sums taken here.
  FillRandom(src, 53, 41, 7);
  dst.SetSize(30, 30);
  dst.Clear(0x12345678u);
  const TRect sr{3, 2, 50, 39}, dr{4, 5, 21, 16};
  BoxDownsample(dst, dr, src, sr);
  TArrayOfInteger cs, cl, rs, rl;
  SpreadRuns(sr.Width(), dr.Width(), cs, cl);
  SpreadRuns(sr.Height(), dr.Height(), rs, rl);
  for (int y = 0; y < dst.Height(); ++y)
    for (int x = 0; x < dst.Width(); ++x) {
      if (!PtInRect(dr, {x, y})) {
        ASSERT_EQ(dst.GetPixel(x, y), 0x12345678u) << "outside the rectangle";
        continue;
      }
      const int i = y - dr.Top, k = x - dr.Left;
      for (int ch = 0; ch < 4; ++ch) {
        std::uint64_t sum = 0;
        for (int sy = 0; sy < rl[i]; ++sy)
          for (int sx = 0; sx < cl[k]; ++sx)
            sum += Channel(src.GetPixel(sr.Left + cs[k] + sx, sr.Top + rs[i] + sy), ch);
        ASSERT_EQ(Channel(dst.GetPixel(x, y), ch), sum / (rl[i] * cl[k])) << x << "," << y;
      }
    }
}

TEST(BoxDownsample, RefusesRectanglesOutsideTheBitmaps) {
  TBitmap32 src, dst;
  src.SetSize(8, 8);
  dst.SetSize(4, 4);
  EXPECT_THROW(BoxDownsample(dst, {0, 0, 5, 4}, src, src.BoundsRect()), EAssertionFailed);
  EXPECT_THROW(BoxDownsample(dst, dst.BoundsRect(), src, {-1, 0, 8, 8}), EAssertionFailed);
  EXPECT_THROW(BoxDownsample(dst, dst.BoundsRect(), src, {0, 0, 3, 8}), EAssertionFailed);
  EXPECT_NO_THROW(BoxDownsample(dst, {2, 2, 2, 4}, src, src.BoundsRect()));
}

TEST(StretchBitmap, BoxOnlyForOpaqueLinearReduction) {
  // A checkerboard tells the box mean (exactly 127) from the filters,
  // which weigh the pixels unevenly at a 3:2 reduction.
  TBitmap32 src, a, b;
  src.SetSize(6, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) src.SetPixel(x, y, (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u);
  a.SetSize(4, 4);
  b.SetSize(4, 4);
  StretchBitmap(&a, a.BoundsRect(), &src, src.BoundsRect(), dmOpaque, sfLinear, nullptr);
  BoxDownsample(b, b.BoundsRect(), src, src.BoundsRect());
  EXPECT_EQ(Pixels(a), Pixels(b));

  b.Clear(0);
  StretchBitmap(&b, b.BoundsRect(), &src, src.BoundsRect(), dmOpaque, sfNearest, nullptr);
  EXPECT_NE(Pixels(a), Pixels(b)) << "another filter resamples";

  // A destination rectangle hanging over the edge is clipped, not overrun.
  src.Clear(0xFF204060u);
  TBitmap32 big;
  big.SetSize(12, 9);
  StretchBitmap(&big, {8, 6, 11, 10}, &src, src.BoundsRect(), dmOpaque, sfLinear, nullptr);
  for (int y = 0; y < big.Height(); ++y)
    for (int x = 0; x < big.Width(); ++x)
      EXPECT_EQ(big.GetPixel(x, y), (x >= 8 && x < 11 && y >= 6) ? 0xFF204060u : 0u);
}

// ---- Quarter turns and mirrors ---------------------------------------------------------

TEST(Rotations, ExactPermutations) {
  // Each operation with where it sends the pixel (x, y) of a w x h bitmap.
  using TMap = TPoint (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t);
  const std::pair<void (*)(TBitmap32*), TMap> ops[] = {
      {RotateLeft90, [](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t) { return TPoint{y, w - 1 - x}; }},
      {RotateRight90, [](std::int32_t x, std::int32_t y, std::int32_t, std::int32_t h) { return TPoint{h - 1 - y, x}; }},
      {Rotate180, [](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) { return TPoint{w - 1 - x, h - 1 - y}; }},
      {MirrorHorizontal, [](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t) { return TPoint{w - 1 - x, y}; }},
      {MirrorVertical, [](std::int32_t x, std::int32_t y, std::int32_t, std::int32_t h) { return TPoint{x, h - 1 - y}; }}};
  for (auto [w, h] : {std::pair{3, 2}, std::pair{4, 4}, std::pair{5, 7}, std::pair{6, 1}, std::pair{1, 1}}) {
    TBitmap32 b;
    FillRandom(b, w, h, w * 31 + h);
    const std::vector<TColor32> original = Pixels(b);
    for (const auto& [op, map] : ops) {
      TBitmap32 t;
      t.Assign(&b);
      op(&t);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const TPoint p = map(x, y, w, h);
          ASSERT_TRUE(PtInRect(t.BoundsRect(), p)) << w << "x" << h;
          ASSERT_EQ(t.GetPixel(p.X, p.Y), b.GetPixel(x, y)) << w << "x" << h << " at " << x << "," << y;
        }
    }
    // Four left turns, left then right, and each mirror twice restore it.
    TBitmap32 t;
    t.Assign(&b);
    for (auto op : {RotateLeft90, RotateLeft90, RotateLeft90, RotateLeft90, RotateLeft90, RotateRight90,
                    MirrorHorizontal, MirrorHorizontal, MirrorVertical, MirrorVertical})
      op(&t);
    EXPECT_EQ(Pixels(t), original);
  }
  RotateLeft90(nullptr);
  MirrorVertical(nullptr);
}

// ---- Integer maps and the blur ----------------------------------------------------------

TEST(IntMaps, RoundTripAndRounding) {
  TBitmap32 b;
  b.SetSize(256, 1);
  for (int a = 0; a < 256; ++a) b.SetPixel(a, 0, static_cast<TColor32>(a) << 24 | 0x123456);
  AlphaToIntMap(&b, 1.0f);
  for (int a = 0; a < 256; ++a) EXPECT_EQ(static_cast<std::int32_t>(b.GetPixel(a, 0)), a * 256);
  IntMapToAlpha(&b, 0xAA112233u);
  EXPECT_EQ(b.GetPixel(0, 0), 0u) << "values up to 255 stay";
  for (int a = 1; a < 256; ++a) EXPECT_EQ(b.GetPixel(a, 0), static_cast<TColor32>(a) << 24 | 0x112233);

  // Halves go to even; values above 65280 saturate.
  b.SetSize(3, 1);
  b.SetPixel(0, 0, 0x01000000u);
  b.SetPixel(1, 0, 0x03000000u);
  b.SetPixel(2, 0, 0xFF000000u);
  AlphaToIntMap(&b, 1.0f / 512);  // 0.5 and 1.5
  EXPECT_EQ(b.GetPixel(0, 0), 0u);
  EXPECT_EQ(b.GetPixel(1, 0), 2u);
  b.SetPixel(2, 0, 100000);
  IntMapToAlpha(&b, 0);
  EXPECT_EQ(b.GetPixel(2, 0), 0xFF000000u);
  AlphaToIntMap(nullptr, 1);
  IntMapToAlpha(nullptr, 0);
}

// Output o of a pass: the values o+r-size+1 .. o+r that exist, div size.
std::vector<std::int32_t> WindowSums(const std::vector<std::int32_t>& v, int r, int size) {
  std::vector<std::int32_t> out(v.size());
  for (std::int64_t o = 0; o < static_cast<std::int64_t>(v.size()); ++o) {
    std::int64_t sum = 0;
    for (std::int64_t j = o + r - size + 1; j <= o + r; ++j)
      if (j >= 0 && j < static_cast<std::int64_t>(v.size())) sum += v[j];
    out[o] = static_cast<std::int32_t>(sum / size);
  }
  return out;
}

TEST(BlurPass, SlidingWindowOverTheRunOnRows) {
  std::mt19937 rng(3);
  for (auto [w, h, r, size] : {std::tuple{7, 3, 2, 5}, std::tuple{5, 1, 0, 1}, std::tuple{4, 4, 3, 7},
                               std::tuple{3, 1, 2, 5}, std::tuple{10, 2, 1, 4}}) {
    TBitmap32 src, dst;
    src.SetSize(w, h);
    dst.SetSize(h, w);  // same count, other shape
    std::vector<std::int32_t> v(static_cast<std::size_t>(w * h));
    for (auto& x : v) x = static_cast<std::int32_t>(rng() % 65281);
    std::copy(v.begin(), v.end(), reinterpret_cast<std::int32_t*>(src.Bits()));
    BlurPass(src, dst, r, size);
    const std::vector<std::int32_t> expected = WindowSums(v, r, size);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reinterpret_cast<std::int32_t*>(dst.Bits())))
        << w << "x" << h << " r" << r << " size" << size;
  }
  // Sums past 32 bits still average correctly.
  TBitmap32 src, dst;
  src.SetSize(5, 1);
  dst.SetSize(5, 1);
  for (int i = 0; i < 5; ++i) src.SetPixel(i, 0, 0x7FFFFFFFu);
  BlurPass(src, dst, 1, 3);
  EXPECT_EQ(dst.GetPixel(2, 0), 0x7FFFFFFFu);
  EXPECT_EQ(dst.GetPixel(0, 0), static_cast<TColor32>(std::int64_t{0x7FFFFFFF} * 2 / 3));
  // Mismatched counts or a radius outside the window: nothing.
  dst.Clear(0xAB);
  TBitmap32 other;
  other.SetSize(4, 1);
  BlurPass(other, dst, 1, 3);
  BlurPass(src, dst, 3, 3);
  BlurPass(src, dst, 0, 0);
  for (TColor32 c : Pixels(dst)) EXPECT_EQ(c, 0xABu);
}

TEST(BlurPass, WideWindowsOfLargeValuesDivideExactly) {
  // Sums beyond 2^50 and below -2^50, against prefix sums and the
  // truncating division of 64-bit integers.
  const int n = 1 << 20, r = 300000, size = 2 * r + 1;
  TBitmap32 src, dst;
  src.SetSize(1024, 1024);
  dst.SetSize(1024, 1024);
  std::mt19937 rng(19);
  auto* v = reinterpret_cast<std::int32_t*>(src.Bits());
  for (int i = 0; i < n; ++i) {
    // Large positive values first, large negative ones after: the sums
    // cross zero in the middle.
    const auto mag = static_cast<std::int32_t>(0x7F000000u + rng() % 0x00FFFFFFu);
    v[i] = i < n / 2 ? mag : -mag;
  }
  BlurPass(src, dst, r, size);
  std::vector<std::int64_t> prefix(n + 1, 0);
  for (int i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + v[i];
  const auto* out = reinterpret_cast<const std::int32_t*>(dst.Bits());
  for (int o = 0; o < n; ++o) {
    const int lo = std::max(0, o + r - size + 1), hi = std::min(n - 1, o + r);
    ASSERT_EQ(out[o], static_cast<std::int32_t>((prefix[hi + 1] - prefix[lo]) / size)) << o;
  }
}

TEST(BoxBlur, SeparableBoxAgainstDirectSums) {
  TBitmap32 b;
  b.SetSize(9, 6);
  std::mt19937 rng(11);
  std::vector<std::int32_t> v(54);
  for (auto& x : v) x = static_cast<std::int32_t>(rng() % 65281);
  std::copy(v.begin(), v.end(), reinterpret_cast<std::int32_t*>(b.Bits()));

  // Radius 1.4 rounds to 1: nothing happens.
  BoxBlur(&b, 1.4f);
  EXPECT_TRUE(std::equal(v.begin(), v.end(), reinterpret_cast<std::int32_t*>(b.Bits())));

  // Radius 2 uses a window of 3: the horizontal pass over the run-on rows,
  // then the vertical one over the run-on columns.
  BoxBlur(&b, 2.0f);
  const int w = 9, h = 6;
  std::vector<std::int32_t> horz = WindowSums(v, 1, 3), cols(54);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) cols[x * h + y] = horz[y * w + x];
  const std::vector<std::int32_t> vert = WindowSums(cols, 1, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(static_cast<std::int32_t>(b.GetPixel(x, y)), vert[x * h + y]) << x << "," << y;

  // A window wider than the whole map still averages instead of wiping it.
  TBitmap32 tiny;
  tiny.SetSize(1, 1);
  tiny.SetPixel(0, 0, 9000);
  BoxBlur(&tiny, 3.0f);
  EXPECT_EQ(tiny.GetPixel(0, 0), 1000u) << "9000 / 3 / 3";
}

// ---- Alpha tests -----------------------------------------------------------------------

TEST(AlphaHelpers, InvertAndUniform) {
  TBitmap32 b;
  b.SetSize(3, 3);
  b.Clear(0x40102030u);
  InvertAlpha(&b);
  for (TColor32 c : Pixels(b)) EXPECT_EQ(c, 0xBF102030u);
  EXPECT_TRUE(IsUniformColor(&b, 0xBF102030u));
  b.SetPixel(1, 1, 0);
  EXPECT_FALSE(IsUniformColor(&b, 0xBF102030u)) << "the middle row is checked last, but checked";
  EXPECT_TRUE(IsUniformColor(nullptr, 1));
  TBitmap32 flat;
  flat.SetSize(5, 0);
  EXPECT_TRUE(IsUniformColor(&flat, 1));
  InvertAlpha(nullptr);
}

// ---- Geometry -------------------------------------------------------------------------

TEST(Distances, SquaresInSixtyFourBits) {
  EXPECT_EQ(SqrDistance({1, 2}, {4, 6}), 25);
  EXPECT_EQ(SqrDistance({-60000, 0}, {60000, 0}), std::int64_t{120000} * 120000);
  EXPECT_DOUBLE_EQ(SqrDistanceToSegment({5, 5}, {2, 2}, {2, 2}), 18.0);

  std::mt19937 rng(17);
  std::uniform_int_distribution<int> d(-1000, 1000);
  for (int i = 0; i < 2000; ++i) {
    const TPoint p{d(rng), d(rng)}, a{d(rng), d(rng)}, b{d(rng), d(rng)};
    if (a == b) continue;
    const double exact = DistanceToSegment(p.X, p.Y, a.X, a.Y, b.X, b.Y);
    // The nearest point is rounded to whole pixels: at most half a
    // diagonal off.
    const double got = std::sqrt(SqrDistanceToSegment(p, a, b));
    EXPECT_NEAR(got, exact, 0.7072) << i;
  }
  // Far apart points do not overflow.
  EXPECT_NEAR(SqrDistanceToSegment({0, 100000}, {-100000, 0}, {100000, 0}), 1e10, 1);
}

// ---- ClipLine ----------------------------------------------------------------------------

TEST(ClipLine, EndsOnTheBoxAndOnTheLine) {
  // A corner miss that shares no outcode bit: False, untouched.
  std::int32_t x1 = -10, y1 = 5, x2 = 5, y2 = -10;
  EXPECT_FALSE(ClipLine(x1, y1, x2, y2, 0, 0, 10, 10));
  EXPECT_EQ(x2, 5);

  std::mt19937 rng(23);
  for (std::int64_t scale : {std::int64_t{1}, std::int64_t{65536}}) {
    // One end near the box, the other anywhere; in 16.16 the box sits far
    // to the right, so that differences exceed 32 bits.
    const std::int64_t lim = scale == 1 ? 400 : 32000, off = scale == 1 ? 0 : 20000 * scale;
    std::uniform_int_distribution<std::int64_t> near(off - 200 * scale, off + 200 * scale),
        far(-lim * scale, lim * scale);
    const auto minX = static_cast<std::int32_t>(off - 50 * scale), minY = static_cast<std::int32_t>(off - 20 * scale);
    const auto maxX = static_cast<std::int32_t>(off + 120 * scale), maxY = static_cast<std::int32_t>(off + 90 * scale);
    int hits = 0;
    for (int i = 0; i < 5000; ++i) {
      auto ox1 = static_cast<std::int32_t>(near(rng)), oy1 = static_cast<std::int32_t>(near(rng));
      auto ox2 = static_cast<std::int32_t>(far(rng)), oy2 = static_cast<std::int32_t>(far(rng));
      if (i % 2) {
        std::swap(ox1, ox2);
        std::swap(oy1, oy2);
      }
      if (ox1 == ox2 && oy1 == oy2) continue;
      std::int32_t a = ox1, b = oy1, c = ox2, e = oy2;
      const bool in = ClipLine(a, b, c, e, minX, minY, maxX, maxY);
      // Whether the segment meets the box, by sampling it densely in doubles.
      bool meets = false;
      for (int s = 0; s <= 20000 && !meets; ++s) {
        const double t = s / 20000.0;
        const double x = ox1 + t * (double(ox2) - ox1), y = oy1 + t * (double(oy2) - oy1);
        meets = x >= minX && x <= maxX && y >= minY && y <= maxY;
      }
      if (meets) {
        ASSERT_TRUE(in) << i;
      }
      if (!in) {
        ASSERT_EQ(a, ox1);
        ASSERT_EQ(e, oy2);
        continue;
      }
      ++hits;
      for (auto [x, y, sx, sy] : {std::tuple{a, b, ox1, oy1}, std::tuple{c, e, ox2, oy2}}) {
        // Inside the box (a grazing corner may round one unit out).
        ASSERT_GE(x, minX - 1);
        ASSERT_LE(x, maxX + 1);
        ASSERT_GE(y, minY - 1);
        ASSERT_LE(y, maxY + 1);
        if (x != sx || y != sy) {
          // Moved: onto an edge, on the original line within one unit.
          ASSERT_TRUE(x == minX || x == maxX || y == minY || y == maxY) << i;
          ASSERT_LE(DistanceToLine(x, y, ox1, oy1, ox2, oy2), 1.0) << i;
        }
      }
    }
    EXPECT_GT(hits, 500);
  }
}

}  // namespace
}  // namespace kdl
