// Anti-aliased coverage against FreeType's exact-area rasteriser, pixel by
// pixel, on random polygons whose vertices lie on every sub-sample grid.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/PolygonRasterizer.h"
#include "support/RasterTesting.h"

namespace kdl {
namespace {

constexpr std::int32_t kSize = 128;

struct TGrid {
  std::vector<int> V = std::vector<int>(static_cast<std::size_t>(kSize) * kSize, 0);
  int& At(std::int32_t x, std::int32_t y) { return V[static_cast<std::size_t>(y) * kSize + x]; }
};

// Points in quarter pixels.
using TQuarterContour = std::vector<std::pair<int, int>>;

TGrid FreeTypeCoverage(FT_Library lib, const std::vector<TQuarterContour>& contours, bool evenOdd) {
  int points = 0;
  for (const auto& c : contours) points += static_cast<int>(c.size());
  FT_Outline outline;
  EXPECT_EQ(FT_Outline_New(lib, static_cast<FT_UInt>(points), static_cast<FT_Int>(contours.size()), &outline), 0);
  int k = 0;
  for (std::size_t c = 0; c < contours.size(); ++c) {
    for (const auto& [x, y] : contours[c]) {
      // 26.6, with y pointing up.
      outline.points[k] = {x * 16, -y * 16};
      outline.tags[k] = FT_CURVE_TAG_ON;
      ++k;
    }
    outline.contours[c] = static_cast<short>(k - 1);
  }
  if (evenOdd) outline.flags |= FT_OUTLINE_EVEN_ODD_FILL;

  TGrid grid;
  FT_Raster_Params params{};
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.clip_box = {0, -kSize, kSize, 0};
  params.user = &grid;
  params.gray_spans = [](int y, int count, const FT_Span* spans, void* user) {
    auto* g = static_cast<TGrid*>(user);
    const int row = -y - 1;
    for (int i = 0; i < count; ++i)
      for (int x = spans[i].x; x < spans[i].x + spans[i].len; ++x)
        if (x >= 0 && x < kSize && row >= 0 && row < kSize) g->At(x, row) = spans[i].coverage;
  };
  EXPECT_EQ(FT_Outline_Render(lib, &outline, &params), 0);
  FT_Outline_Done(lib, &outline);
  return grid;
}

TGrid OurCoverage(const std::vector<TQuarterContour>& contours, TSubsampleMode mode, TPolygonFillRule rule) {
  TArrayOfArrayOfFixedPoint pts;
  for (const auto& c : contours) {
    pts.emplace_back();
    for (const auto& [x, y] : c) pts.back().push_back({x * 16384, y * 16384});
  }
  TBitmap32 b;
  b.SetSize(kSize, kSize);
  TGrid grid;
  FillPolyPolygonAACallback(b, pts, rule, mode,
                            [&](TColor32*, std::int32_t x, std::int32_t y, std::int32_t len, const std::int32_t* v) {
                              for (std::int32_t i = 0; i < len; ++i) grid.At(x + i, y) = v[i];
                            });
  return grid;
}

// Edges that come within the pixel's half diagonal of its centre.
int EdgesThrough(const std::vector<TQuarterContour>& contours, std::int32_t x, std::int32_t y) {
  const double px = x + 0.5, py = y + 0.5;
  int count = 0;
  for (const auto& c : contours)
    for (std::size_t i = 0; i < c.size(); ++i) {
      const auto& [ax, ay] = c[i];
      const auto& [bx, by] = c[(i + 1) % c.size()];
      if (test::DistanceToSegment(px, py, ax / 4.0, ay / 4.0, bx / 4.0, by / 4.0) <= 0.75) ++count;
    }
  return count;
}

struct TFreeTypeLibrary {
  FT_Library Lib = nullptr;
  TFreeTypeLibrary() { FT_Init_FreeType(&Lib); }
  ~TFreeTypeLibrary() { FT_Done_FreeType(Lib); }
};

TEST(PolygonFreeType, CoverageAgreesPixelByPixel) {
  TFreeTypeLibrary library;
  FT_Library lib = library.Lib;
  ASSERT_NE(lib, nullptr);
  std::mt19937 rng(31);
  std::uniform_int_distribution<int> coord(8, (kSize - 8) * 4);
  for (TSubsampleMode mode : {sm16, sm8, sm4}) {
    const int l = mode == sm16 ? 16 : (mode == sm8 ? 8 : 4);
    // A strip of L sub-scanlines each off by up to a sub-sample, each weighed
    // as 1/(L−1) of a pixel width.
    const int tolerance = 2 * 255 / (l - 1) + 2;
    int worst = 0;
    for (int trial = 0; trial < 30; ++trial) {
      // Random, possibly self-intersecting, polygons and pairs of them.
      std::vector<TQuarterContour> contours(1 + trial % 2);
      for (auto& c : contours) {
        const int n = 3 + static_cast<int>(rng() % 8);
        for (int i = 0; i < n; ++i) c.emplace_back(coord(rng), coord(rng));
      }
      for (TPolygonFillRule rule : {frAlternate, frNonZero}) {
        TGrid theirs = FreeTypeCoverage(lib, contours, rule == frAlternate);
        TGrid ours = OurCoverage(contours, mode, rule);
        for (std::int32_t y = 0; y < kSize; ++y)
          for (std::int32_t x = 0; x < kSize; ++x) {
            // Pixels that two edges pass through (vertices, crossings)
            // aside: their errors add up.
            if (EdgesThrough(contours, x, y) >= 2) continue;
            const int diff = std::abs(ours.At(x, y) - theirs.At(x, y));
            worst = std::max(worst, diff);
            ASSERT_LE(diff, tolerance) << "mode " << mode << " trial " << trial << " rule " << rule << " at " << x
                                       << "," << y << ": " << ours.At(x, y) << " vs " << theirs.At(x, y);
          }
      }
    }
    RecordProperty("worst_mode_" + std::to_string(mode), worst);
    std::printf("mode %d: worst pixel difference %d (tolerance %d)\n", mode, worst, tolerance);
  }
}

}  // namespace
}  // namespace kdl
