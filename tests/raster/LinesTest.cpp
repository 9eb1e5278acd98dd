// Runs, rectangles, Bresenham and anti-aliased lines and the stipple:
// pixel sets against a plain walk of the whole line, blended values
// against the kernels applied once per pixel, and coverage against length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "raster/Bitmap32.h"
#include "support/RasterTesting.h"

namespace kdl {
namespace {

using test::DistanceToLine;
using Pixel = std::pair<std::int32_t, std::int32_t>;

std::set<Pixel> Touched(const TBitmap32& b, TColor32 background = 0) {
  std::set<Pixel> s;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.GetPixel(x, y) != background) s.insert({x, y});
  return s;
}

// The whole line walked from its definition, with no clipping at all.
std::vector<Pixel> ReferenceLine(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2,
                                 bool l) {
  std::vector<Pixel> out;
  auto add = [&](std::int64_t x, std::int64_t y) {
    out.push_back({static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)});
  };
  if (x1 == x2 || y1 == y2) {
    const std::int64_t n = std::max(std::abs(x2 - x1), std::abs(y2 - y1));
    const int sx = (x2 > x1) - (x2 < x1), sy = (y2 > y1) - (y2 < y1);
    for (std::int64_t i = 0; i < n; ++i) add(x1 + sx * i, y1 + sy * i);
    if (l) add(x2, y2);
    return out;
  }
  if (!l) {
    if (std::abs(x2 - x1) > std::abs(y2 - y1))
      x2 -= x2 > x1 ? 1 : -1;
    else
      y2 -= y2 > y1 ? 1 : -1;
    if (x2 == x1 || y2 == y1) return out;
  }
  const std::int64_t adx = std::abs(x2 - x1), ady = std::abs(y2 - y1);
  const int sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
  std::int64_t x = x1, y = y1;
  if (adx >= ady) {
    std::int64_t e = 2 * ady - adx;
    for (std::int64_t i = 0; i <= adx; ++i, x += sx) {
      add(x, y);
      if (e >= 0) y += sy, e -= 2 * adx;
      e += 2 * ady;
    }
  } else {
    std::int64_t e = 2 * adx - ady;
    for (std::int64_t i = 0; i <= ady; ++i, y += sy) {
      add(x, y);
      if (e >= 0) x += sx, e -= 2 * ady;
      e += 2 * adx;
    }
  }
  return out;
}

// ---- Runs and rectangles ---------------------------------------------------------------

TEST(Runs, InclusiveEndsClippingAndBlending) {
  TBitmap32 b;
  b.SetSize(10, 6);
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  b.HorzLine(2, 1, 5, 0xFF0000FFu);
  EXPECT_EQ(Touched(b), (std::set<Pixel>{{2, 1}, {3, 1}, {4, 1}, {5, 1}}));
  b.Clear(0);
  b.HorzLineS(12, 2, -3, 7);  // swapped and clipped to the whole row
  b.HorzLineS(0, 6, 9, 7);    // below: nothing
  b.VertLineS(4, 9, -9, 8);   // the whole column
  b.VertLine(8, 4, 2, 9);     // reversed unclipped run: nothing
  b.VertLine(8, 1, 5, 9);
  std::set<Pixel> expect;
  for (int x = 0; x < 10; ++x) expect.insert({x, 2});
  for (int y = 0; y < 6; ++y) expect.insert({4, y});
  for (int y = 1; y <= 5; ++y) expect.insert({8, y});
  EXPECT_EQ(Touched(b), expect);
  EXPECT_EQ(b.GetPixel(4, 2), 8u);
  EXPECT_EQ(changes, 1) << "only the Clear: runs fire no event";

  // Blended runs blend every pixel once through the combine mode's kernel.
  for (TCombineMode mode : {cmBlend, cmMerge}) {
    b.SetCombineMode(mode);
    b.Clear(0x80336699u);
    const TColor32 c = 0x60FF8000u;
    b.HorzLineT(6, 3, 2, c);  // reversed: nothing
    b.HorzLineTS(-5, 3, 3, c);
    b.VertLineTS(7, 100, 4, c);
    const TColor32 mixed = BLEND_REG[mode](c, 0x80336699u);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool on = (y == 3 && x <= 3) || (x == 7 && y >= 4);
        ASSERT_EQ(b.GetPixel(x, y), on ? mixed : 0x80336699u) << x << "," << y;
      }
  }
}

TEST(Rectangles, FillsAndFrames) {
  TBitmap32 b;
  b.SetSize(8, 7);
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  b.FillRect(2, 2, 2, 9, 5);
  EXPECT_TRUE(Touched(b).empty());
  EXPECT_EQ(changes, 1);
  b.FillRectS(-4, 5, 3, 20, 5);
  std::set<Pixel> expect;
  for (int y = 5; y < 7; ++y)
    for (int x = 0; x < 3; ++x) expect.insert({x, y});
  EXPECT_EQ(Touched(b), expect);
  changes = 0;
  b.FillRectS(3, 3, 2, 5, 5);   // inverted
  b.FillRectS(8, 0, 12, 4, 5);  // beside the bitmap
  EXPECT_EQ(changes, 0);

  // An opaque colour fills; a translucent one combines each pixel once.
  b.Clear(0xFF102030u);
  b.FillRectT(1, 1, 3, 3, 0xFFABCDEFu);
  EXPECT_EQ(b.GetPixel(1, 1), 0xFFABCDEFu);
  b.FillRectTS(-2, 4, 30, 5, 0x40FFFFFFu);
  const TColor32 mixed = CombineReg(0x40FFFFFFu, 0xFF102030u, 0x40);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(b.GetPixel(x, 4), mixed);
  EXPECT_EQ(b.GetPixel(0, 3), 0xFF102030u);

  // Frames: exactly the perimeter, each pixel once.
  for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 4}, std::pair{5, 1}, std::pair{2, 2}, std::pair{4, 3},
                      std::pair{6, 5}}) {
    b.Clear(0xFF000000u);
    b.FrameRectTS(1, 1, 1 + w, 1 + h, 0x80FFFFFFu);
    const TColor32 once = BlendReg(0x80FFFFFFu, 0xFF000000u);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        const bool inside = x >= 1 && x <= w && y >= 1 && y <= h;
        const bool edge = inside && (x == 1 || x == w || y == 1 || y == h);
        ASSERT_EQ(b.GetPixel(x, y), edge ? once : 0xFF000000u) << w << "x" << h << " at " << x << "," << y;
      }
    b.Clear(0);
    b.FrameRectS(1, 1, 1 + w, 1 + h, 9);
    EXPECT_EQ(static_cast<int>(Touched(b).size()), (w == 1 || h == 1) ? w * h : 2 * (w + h) - 4);
  }
  // A frame larger than the bitmap draws its visible sides only.
  b.Clear(0);
  b.FrameRectS(-1, 2, 20, 5, 9);
  expect.clear();
  for (int x = 0; x < 8; ++x) expect.insert({x, 2}), expect.insert({x, 4});
  EXPECT_EQ(Touched(b), expect);
}

// ---- Bresenham -----------------------------------------------------------------------

TEST(LineS, ClippedEqualsTheWholeLineMasked) {
  // Lines reaching far outside a small bitmap draw exactly the pixels of
  // the unclipped line that fall inside; the blended form the same set.
  // Points, unit diagonals and short runs first, with and without the end.
  std::vector<std::tuple<int, int, int, int>> lines = {
      {4, 4, 4, 4}, {0, 0, 1, 1}, {0, 0, 2, 2}, {0, 0, 3, 1}, {3, 5, 3, 2}, {0, 0, 5, 0}};
  std::mt19937 rng(41);
  std::uniform_int_distribution<int> d(-70, 110);
  for (int i = 0; i < 1500; ++i) lines.emplace_back(d(rng), d(rng), d(rng), d(rng));
  TBitmap32 b;
  b.SetSize(40, 30);
  for (const auto& [x1, y1, x2, y2] : lines)
    for (bool l : {false, true}) {
      std::set<Pixel> expect;
      for (const Pixel& p : ReferenceLine(x1, y1, x2, y2, l))
        if (p.first >= 0 && p.first < 40 && p.second >= 0 && p.second < 30) expect.insert(p);
      b.Clear(0);
      b.LineS(x1, y1, x2, y2, 0xFFFFFFFFu, l);
      ASSERT_EQ(Touched(b), expect) << x1 << "," << y1 << " -> " << x2 << "," << y2 << " l=" << l;
      b.Clear(0xFF000000u);
      b.LineTS(x1, y1, x2, y2, 0x80FFFFFFu, l);
      ASSERT_EQ(Touched(b, 0xFF000000u), expect);
      for (const Pixel& p : expect) ASSERT_EQ(b.GetPixel(p.first, p.second), BlendReg(0x80FFFFFFu, 0xFF000000u));
    }
}

TEST(LineS, PixelsHugTheIdealLine) {
  std::mt19937 rng(43);
  std::uniform_int_distribution<int> d(0, 99);
  TBitmap32 b;
  b.SetSize(100, 100);
  for (int i = 0; i < 500; ++i) {
    const int x1 = d(rng), y1 = d(rng), x2 = d(rng), y2 = d(rng);
    if (x1 == x2 && y1 == y2) continue;
    b.Clear(0);
    b.LineS(x1, y1, x2, y2, 1, true);
    const std::set<Pixel> s = Touched(b);
    EXPECT_EQ(static_cast<int>(s.size()), std::max(std::abs(x2 - x1), std::abs(y2 - y1)) + 1);
    for (const Pixel& p : s)
      ASSERT_LE(DistanceToLine(p.first, p.second, x1, y1, x2, y2), 0.5 * std::sqrt(2.0));
  }
  // Ends near the limits of the integer range: only the visible pixels are
  // visited, and they still lie on the line.
  const std::int32_t big = 2000000000;
  for (auto [x1, y1, x2, y2] : {std::tuple{-big, -big + 7, big, big - 3}, std::tuple{big, -big, -big, big},
                                std::tuple{-big, 17, big, 23}, std::tuple{13, -big, 61, big}}) {
    b.Clear(0);
    b.LineS(x1, y1, x2, y2, 1, true);
    const std::set<Pixel> s = Touched(b);
    EXPECT_FALSE(s.empty());
    for (const Pixel& p : s)
      ASSERT_LE(DistanceToLine(p.first, p.second, x1, y1, x2, y2), 0.5 * std::sqrt(2.0));
  }
}

TEST(Pen, PolylineWithoutRepeatedCorners) {
  TBitmap32 b;
  b.SetSize(10, 10);
  b.SetPenColor(0x80FFFFFFu);
  b.Clear(0xFF000000u);
  b.MoveTo(1, 1);
  b.LineToTS(6, 1);
  b.LineToTS(6, 6);
  b.LineToTS(1, 1);
  EXPECT_EQ(b.RasterX(), 1);
  // Every pixel blended once: the corners are not drawn twice.
  const TColor32 once = BlendReg(0x80FFFFFFu, 0xFF000000u);
  for (const Pixel& p : Touched(b, 0xFF000000u)) EXPECT_EQ(b.GetPixel(p.first, p.second), once);
  EXPECT_EQ(Touched(b, 0xFF000000u).size(), 5u + 5u + 6u);
}

// ---- Anti-aliased lines ------------------------------------------------------------------

// Records every weighted combine the sub-pixel plotter makes.
struct Splat {
  TColor32 F;
  TColor32 W;
  TColor32* At;
};
std::vector<Splat>* gSplats = nullptr;
void RecordCombine(TColor32 f, TColor32& b, TColor32 w) { gSplats->push_back({f, w, &b}); }

class LineXCoverage : public ::testing::Test {
 protected:
  void SetUp() override {
    // A linear gamma, so that the four weights of a plot share its alpha.
    SetGamma(1.0f);
    saved_ = COMBINE_MEM[cmBlend];
    COMBINE_MEM[cmBlend] = RecordCombine;
    gSplats = &splats_;
  }
  void TearDown() override {
    COMBINE_MEM[cmBlend] = saved_;
    gSplats = nullptr;
    SetGamma(0.7f);
  }
  TCombineMem saved_ = nullptr;
  std::vector<Splat> splats_;
};

TEST_F(LineXCoverage, SumsToTheLengthAlongTheLine) {
  TBitmap32 b;
  b.SetSize(700, 500);
  const double fx1 = 3.25, fy1 = 2.5, fx2 = 690.7, fy2 = 480.1;
  const TFixed x1 = Fixed(fx1), y1 = Fixed(fy1), x2 = Fixed(fx2), y2 = Fixed(fy2);
  const double length = std::hypot(fx2 - fx1, fy2 - fy1);
  for (bool l : {false, true}) {
    for (int form = 0; form < 2; ++form) {
      splats_.clear();
      form == 0 ? b.LineX(x1, y1, x2, y2, 0xFFFFFFFFu, l) : b.LineXS(x1, y1, x2, y2, 0xFFFFFFFFu, l);
      ASSERT_EQ(splats_.size() % 4, 0u);
      // The plotted alphas: one per pixel of length.
      double plotted = 0, weights = 0;
      for (std::size_t i = 0; i < splats_.size(); i += 4) plotted += (splats_[i].F >> 24) / 255.0;
      for (const Splat& s : splats_) weights += s.W / 255.0;
      const double expected = length + (l ? 1 : 0);
      EXPECT_NEAR(plotted, expected, 1.0) << "l=" << l << " form=" << form;
      // The deposited weight: the plotted alpha less the truncation of four
      // products per plot.
      EXPECT_LE(weights, expected + 1);
      EXPECT_GE(weights, 0.97 * expected - 1);
      // Every touched pixel lies next to the ideal line, between its ends.
      for (const Splat& s : splats_) {
        if (s.W == 0) continue;
        const std::int64_t index = s.At - b.Bits();
        const double px = static_cast<double>(index % b.Width()), py = static_cast<double>(index / b.Width());
        ASSERT_LE(DistanceToLine(px, py, fx1, fy1, fx2, fy2), 1.5);
        ASSERT_GE(px, fx1 - 1.5);
        ASSERT_LE(px, fx2 + 2.5);
      }
    }
  }
  // Shorter than 1/256 of a pixel: nothing.
  splats_.clear();
  b.LineX(x1, y1, x1 + 100, y1 + 100, 0xFFFFFFFFu, false);
  EXPECT_TRUE(splats_.empty());
}

TEST_F(LineXCoverage, ClippingKeepsInsideAndCountsThePieceShown) {
  TBitmap32 b;
  b.SetSize(64, 48);
  // From far outside on the left to far outside on the right: the visible
  // part is about the bitmap's width plus the clip's extra pixel.
  splats_.clear();
  b.LineXS(Fixed(-500.5f), Fixed(20.25f), Fixed(900.0f), Fixed(30.5f), 0xFFFFFFFFu);
  double plotted = 0;
  for (std::size_t i = 0; i < splats_.size(); i += 4) plotted += (splats_[i].F >> 24) / 255.0;
  const double slope = (30.5 - 20.25) / 1400.5;
  EXPECT_NEAR(plotted, 65.0 * std::sqrt(1 + slope * slope) + 1, 2.0);
  for (const Splat& s : splats_) {
    const std::int64_t index = s.At - b.Bits();
    ASSERT_GE(index, 0);
    ASSERT_LT(index, std::int64_t{64} * 48);
  }
  // Wholly outside: nothing.
  splats_.clear();
  b.LineXS(Fixed(-10.0f), Fixed(-10.0f), Fixed(100.0f), Fixed(-3.0f), 0xFFFFFFFFu);
  EXPECT_TRUE(splats_.empty());
}

TEST(LineXS, ClipsEverywhereOnTheBitmap) {
  // Real kernels, lines through every edge and corner: nothing is written
  // outside the pixels (the sanitizer watches) and something inside.
  TBitmap32 b;
  b.SetSize(17, 13);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> d(-40, 60);
  int drawn = 0;
  for (int i = 0; i < 2000; ++i) {
    b.Clear(0);
    b.LineXS(Fixed(d(rng)), Fixed(d(rng)), Fixed(d(rng)), Fixed(d(rng)), 0xFFFFFFFFu, i % 2);
    drawn += !Touched(b).empty();
  }
  EXPECT_GT(drawn, 100);
  // Segments shorter than a pixel close to the top-left edges: their last
  // pixel lands before their start.
  std::uniform_real_distribution<float> nearEdge(0.0f, 1.5f), tiny(-0.9f, 0.9f);
  for (int i = 0; i < 2000; ++i) {
    const float x = nearEdge(rng), y = nearEdge(rng);
    b.LineXS(Fixed(x), Fixed(y), Fixed(x + tiny(rng)), Fixed(y + tiny(rng)), 0xFFFFFFFFu, i % 2);
  }
  b.LineXS(10240, 10240, 30720, 10240, 0xFFFFFFFFu, false);
}

TEST(LineXP, OneColourPatternDrawsTheSolidLine) {
  TBitmap32 solid, stippled, clipped;
  for (TBitmap32* b : {&solid, &stippled, &clipped}) {
    b->SetSize(40, 30);
    b->Clear(0xFF203040u);
  }
  stippled.SetStippleArray({0xC0E0A010u});
  clipped.SetStippleArray({0xC0E0A010u});
  const TFixed x1 = Fixed(2.3f), y1 = Fixed(3.7f), x2 = Fixed(33.1f), y2 = Fixed(24.9f);
  solid.LineX(x1, y1, x2, y2, 0xC0E0A010u, true);
  stippled.LineXP(x1, y1, x2, y2, true);
  clipped.LineXSP(x1, y1, x2, y2, true);
  EXPECT_TRUE(std::equal(solid.Bits(), solid.Bits() + 1200, stippled.Bits()));
  EXPECT_TRUE(std::equal(solid.Bits(), solid.Bits() + 1200, clipped.Bits()));
  EXPECT_NE(Touched(solid, 0xFF203040u).size(), 0u);
}

// ---- Stipple -------------------------------------------------------------------------

TEST(Stipple, SequenceAndCounter) {
  TBitmap32 b;
  const TColor32 c1 = 0xFF0000FFu, c2 = 0xFFFF0000u;
  EXPECT_EQ(b.GetStippleColor(), 0xFF000000u) << "no pattern";
  b.SetStippleStep(0.5f);
  b.SetStippleArray({c1, c2});
  EXPECT_EQ(b.GetStippleColor(), c1);
  EXPECT_EQ(b.GetStippleColor(), CombineReg(c1, c2, 127));
  EXPECT_EQ(b.GetStippleColor(), c2);
  EXPECT_EQ(b.GetStippleColor(), CombineReg(c2, c1, 127));
  EXPECT_EQ(b.GetStippleColor(), c1);
  EXPECT_FLOAT_EQ(b.StippleCounter(), 0.5f);

  // The counter wraps into [0, n) both ways.
  b.AdvanceStippleCounter(5);  // + 2.5
  EXPECT_FLOAT_EQ(b.StippleCounter(), 1.0f);
  b.AdvanceStippleCounter(-7);  // - 3.5
  EXPECT_FLOAT_EQ(b.StippleCounter(), 1.5f);
  b.SetStipple({c1, c2, c1});
  EXPECT_EQ(b.StippleCounter(), 0.0f);
  b.SetStippleCounter(1e30f);
  (void)b.GetStippleColor();  // absurd counters do not hang
}

TEST(Stipple, RunsKeepThePhaseAcrossTheClip) {
  // A pattern as long as the bitmap is wide tells each pixel's phase.
  TArrayOfColor32 pattern;
  for (int i = 0; i < 40; ++i) pattern.push_back(0xFF000000u | static_cast<TColor32>(i + 1));
  TBitmap32 b;
  b.SetSize(12, 5);
  b.SetStipple(pattern);
  b.Clear(0);
  b.HorzLineTSP(-5, 1, 20);  // 26 pixels, 5 cut before, 9 after
  for (int x = 0; x < 12; ++x) EXPECT_EQ(b.GetPixel(x, 1) & 0xFF, static_cast<TColor32>(x + 5 + 1));
  EXPECT_FLOAT_EQ(b.StippleCounter(), 26.0f);
  b.HorzLineTSP(20, 2, -5);  // backwards: 9 cut before, 5 after
  for (int x = 0; x < 12; ++x)
    EXPECT_EQ(b.GetPixel(x, 2) & 0xFF, static_cast<TColor32>((26 + 20 - x) % 40 + 1));
  EXPECT_FLOAT_EQ(b.StippleCounter(), 12.0f);
  b.HorzLineTSP(0, 7, 4);  // below: five pixels of counter
  EXPECT_FLOAT_EQ(b.StippleCounter(), 17.0f);

  // The frame runs clockwise from the top-left corner, each pixel once.
  b.SetStipple(pattern);
  b.Clear(0);
  b.FrameRectTSP(2, 1, 6, 4);
  const Pixel order[] = {{2, 1}, {3, 1}, {4, 1}, {5, 1}, {5, 2}, {5, 3}, {4, 3}, {3, 3}, {2, 3}, {2, 2}};
  for (int k = 0; k < 10; ++k)
    EXPECT_EQ(b.GetPixel(order[k].first, order[k].second) & 0xFF, static_cast<TColor32>(k + 1)) << k;
  EXPECT_EQ(Touched(b).size(), 10u);
}

TEST(Stipple, AntiAliasedLineAdvancesOverWhatTheClipRemoves) {
  TBitmap32 b;
  b.SetSize(20, 20);
  b.SetStippleArray({0xFFFFFFFFu, 0xFF000000u, 0xFF808080u, 0xFF404040u, 0xFF202020u, 0xFF101010u,
                     0xFF080808u, 0xFF040404u, 0xFF020202u, 0xFF010101u, 0xFF030303u});
  // A segment that misses advances by its length, one less when L is set.
  b.SetStippleCounter(0);
  b.LineXSP(Fixed(-10.0f), Fixed(-5.0f), Fixed(-10.0f), Fixed(-2.0f), false);
  EXPECT_NEAR(b.StippleCounter(), 3.0f, 1e-4);
  b.SetStippleCounter(0);
  b.LineXSP(Fixed(-10.0f), Fixed(-5.0f), Fixed(-10.0f), Fixed(-2.0f), true);
  EXPECT_NEAR(b.StippleCounter(), 2.0f, 1e-4);
  // Inside: one colour per whole pixel plus the last.
  b.SetStippleCounter(0);
  b.LineXSP(Fixed(2.0f), Fixed(5.0f), Fixed(9.0f), Fixed(5.0f), false);
  EXPECT_NEAR(b.StippleCounter(), 8.0f, 1e-4);
  // Cut at the start by 5 pixels: those are counted before the rest.
  b.SetStippleCounter(0);
  b.LineXSP(Fixed(-6.0f), Fixed(5.0f), Fixed(3.0f), Fixed(5.0f), false);
  EXPECT_NEAR(b.StippleCounter(), 5.0f + 4.0f + 1.0f, 1e-3);
}

}  // namespace
}  // namespace kdl
