// The 16-bit resampling paths of the SIMD levels (both pass orders) against
// the reference level's 32-bit sums, bit for bit: source rectangles at the
// bitmap's edges (windows shifted over zero weights), clips, draw modes, extreme
// weights and reductions wide enough to fall back to the general path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/Blend.h"
#include "raster/Transforms.h"

namespace kdl {
namespace {

class StretchWindow : public ::testing::TestWithParam<TSimdLevel> {
 protected:
  void TearDown() override { SetupTransformFunctions(); }
};

void Fill(TBitmap32& b, std::mt19937& rng) {
  const std::int64_t n = static_cast<std::int64_t>(b.Width()) * b.Height();
  for (std::int64_t i = 0; i < n; ++i) {
    // Saturated channels often, so that the largest sums are reached.
    const std::uint32_t r = rng() % 4;
    b.Bits()[i] = r == 0 ? 0xFFFFFFFFu : r == 1 ? 0u : static_cast<TColor32>(rng());
  }
}

// Same pixels from the reference level and the level under test.
void ExpectSame(TBitmap32& src, const TRect& srcRect, int dw, int dh, const TRect& dstRect,
                const TRect& clip, TStretchFilter filter, TDrawMode mode, TSimdLevel level,
                const std::string& what) {
  TBitmap32 want, got;
  want.SetSize(dw, dh);
  got.SetSize(dw, dh);
  std::mt19937 rng(5);
  Fill(want, rng);
  got.Assign(&want);
  SetupTransformFunctions(TSimdLevel::slReference);
  StretchTransfer(&want, dstRect, clip, &src, srcRect, filter, mode, nullptr);
  SetupTransformFunctions(level);
  StretchTransfer(&got, dstRect, clip, &src, srcRect, filter, mode, nullptr);
  ASSERT_TRUE(got.Equal(want)) << what;
}

TEST_P(StretchWindow, RandomTransfersMatchReference) {
  std::mt19937 rng(21);
  TBitmap32 src;
  src.SetSize(53, 41);
  Fill(src, rng);
  constexpr TStretchFilter kFilters[] = {sfDraft, sfLinear, sfCosine, sfSpline, sfLanczos};
  for (int i = 0; i < 300; ++i) {
    const TStretchFilter f = kFilters[rng() % 5];
    // Rectangles often reaching the bitmap's edges.
    const int l = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % 20);
    const int t = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % 15);
    const int r = rng() % 3 == 0 ? 53 : l + 1 + static_cast<int>(rng() % static_cast<unsigned>(53 - l));
    const int b = rng() % 3 == 0 ? 41 : t + 1 + static_cast<int>(rng() % static_cast<unsigned>(41 - t));
    const int dw = 1 + static_cast<int>(rng() % 120), dh = 1 + static_cast<int>(rng() % 90);
    const TRect dstRect{-static_cast<int>(rng() % 4), -static_cast<int>(rng() % 4), dw, dh};
    const TRect clip{static_cast<int>(rng() % 5), static_cast<int>(rng() % 5), dw - static_cast<int>(rng() % 5),
                     dh - static_cast<int>(rng() % 5)};
    const TDrawMode mode = rng() % 4 == 0 ? dmBlend : dmOpaque;
    ExpectSame(src, TRect{l, t, r, b}, dw, dh, dstRect, clip, f, mode, GetParam(),
               "case " + std::to_string(i) + " filter " + std::to_string(f));
  }
}

TEST_P(StretchWindow, WideReductionsAndNarrowSources) {
  std::mt19937 rng(22);
  TBitmap32 wide;
  wide.SetSize(700, 9);
  Fill(wide, rng);
  // A window of about 280 columns: the general path, still the same pixels.
  ExpectSame(wide, wide.BoundsRect(), 5, 4, TRect{0, 0, 5, 4}, TRect{0, 0, 5, 4}, sfLinear, dmOpaque,
             GetParam(), "700 to 5");
  ExpectSame(wide, wide.BoundsRect(), 37, 3, TRect{0, 0, 37, 3}, TRect{0, 0, 37, 3}, sfCosine,
             dmOpaque, GetParam(), "700 to 37");
  // Sources narrower than a window.
  TBitmap32 narrow;
  narrow.SetSize(2, 30);
  Fill(narrow, rng);
  ExpectSame(narrow, narrow.BoundsRect(), 9, 7, TRect{0, 0, 9, 7}, TRect{0, 0, 9, 7}, sfSpline,
             dmOpaque, GetParam(), "2 to 9");
  ExpectSame(narrow, TRect{1, 0, 2, 30}, 9, 70, TRect{0, 0, 9, 70}, TRect{0, 0, 9, 70}, sfLinear,
             dmOpaque, GetParam(), "1 to 9");
  // Tall reductions: many rows to a cluster.
  TBitmap32 tall;
  tall.SetSize(11, 900);
  Fill(tall, rng);
  ExpectSame(tall, tall.BoundsRect(), 23, 3, TRect{0, 0, 23, 3}, TRect{0, 0, 23, 3}, sfCosine,
             dmOpaque, GetParam(), "900 rows to 3");
}

// The pixels the kernel filters give, summed directly from the public
// mapping tables: weight x weight x channel over both clusters, limited to
// the channel range and shifted down by 16.
TColor32 Convolved(const TBitmap32& src, const TCluster& col, const TCluster& row) {
  TColor32 out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    std::int64_t sum = 0;
    for (const TMappingPair& r : row)
      for (const TMappingPair& c : col)
        sum += std::int64_t{r.Weight} * c.Weight * ((src.GetPixel(c.Pos, r.Pos) >> shift) & 0xFF);
    out |= static_cast<TColor32>(std::clamp<std::int64_t>(sum, 0, std::int64_t{255} << 16) >> 16) << shift;
  }
  return out;
}

// Band after band with the same columns, as pages and pictures are drawn:
// whatever is kept between calls must follow every change of source
// bitmap, source rectangle, filter, clip and frame, in any order.
TEST_P(StretchWindow, RepeatedColumnGeometriesGiveDirectSums) {
  SetupTransformFunctions(GetParam());
  std::mt19937 rng(23);
  // Same rectangle, different widths: windows near the right edge differ.
  TBitmap32 sources[3];
  const int widths[3] = {64, 60, 61};
  for (int i = 0; i < 3; ++i) {
    sources[i].SetSize(widths[i], 47);
    Fill(sources[i], rng);
  }
  struct TColumns {
    int srcLeft, srcRight, dstLeft, dstRight, clipLeft, clipRight;
  };
  constexpr TColumns kColumns[] = {
      {0, 60, 0, 37, 0, 37}, {0, 60, -5, 37, 3, 30}, {2, 59, 0, 37, 0, 37}, {0, 60, 0, 90, 10, 80}};
  constexpr TStretchFilter kFilters[] = {sfLinear, sfCosine, sfSpline, sfLanczos};
  for (int i = 0; i < 120; ++i) {
    TBitmap32& src = sources[rng() % 3];
    const TColumns c = kColumns[rng() % 4];
    const TStretchFilter f = kFilters[rng() % 4];
    // Rows reduced, so that the linear filter too takes the kernel path.
    const int top = static_cast<int>(rng() % 5), bottom = 47 - static_cast<int>(rng() % 5);
    const int frameTop = -static_cast<int>(rng() % 22), frameBottom = frameTop + 30;
    const TRect srcRect{c.srcLeft, top, c.srcRight, bottom};
    const TRect frame{c.dstLeft, frameTop, c.dstRight, frameBottom};
    TBitmap32 band;
    band.SetSize(std::max(c.clipRight, 1), 8);
    const TRect clip{c.clipLeft, 0, c.clipRight, 8};
    StretchTransfer(&band, frame, clip, &src, srcRect, f, dmOpaque, nullptr);
    const TMappingTable cols = BuildMappingTable(frame.Left, frame.Right, clip.Left, clip.Right, srcRect.Left,
                                                 srcRect.Right, f);
    const TMappingTable rows =
        BuildMappingTable(frame.Top, frame.Bottom, 0, 8, srcRect.Top, srcRect.Bottom, f);
    for (int y = 0; y < 8; ++y)
      for (int x = clip.Left; x < clip.Right; ++x)
        ASSERT_EQ(band.GetPixel(x, y), Convolved(src, cols[static_cast<std::size_t>(x - clip.Left)],
                                                 rows[static_cast<std::size_t>(y)]))
            << "call " << i << " filter " << f << " width " << src.Width() << " at " << x << "," << y;
  }
}

// Rows taken one to one while the columns resample (a picture's band drawn
// into a page band): each row cluster is one row, so the window sums go to
// pixels in one pass. Every window width the kernels handle on their own (two taps,
// four, eight, more), outputs not a multiple of eight, the bitmap's right
// edge, clips, saturated channels and blending over a background,
// against the direct sums.
TEST_P(StretchWindow, RowsOneToOneGiveDirectSums) {
  SetupTransformFunctions(GetParam());
  std::mt19937 rng(24);
  TBitmap32 src;
  src.SetSize(301, 12);
  Fill(src, rng);
  struct TCase {
    TRect srcRect;
    int frameWidth;
    TStretchFilter filter;
  };
  const TCase kCases[] = {
      {{0, 0, 300, 12}, 301, sfLinear},   // near one to one, as a picture's second pass: two taps
      {{0, 0, 301, 12}, 287, sfLinear},   // a slight reduction: three taps in a window of four
      {{1, 0, 301, 12}, 150, sfLinear},   // to half: windows of four reaching the right edge
      {{0, 0, 301, 12}, 77, sfLinear},    // to a quarter: eight taps
      {{0, 0, 301, 12}, 97, sfCosine},    // wider windows, still within the 16-bit bound
      {{5, 0, 299, 12}, 1003, sfCosine},  // enlargement, clipped below
      {{0, 0, 301, 12}, 13, sfLinear},    // windows wider than the kernels' unrolled ones
  };
  for (const TCase& c : kCases) {
    for (const TDrawMode mode : {dmOpaque, dmBlend}) {
      for (const int clipLeft : {0, 3}) {
        const int w = c.frameWidth;
        TBitmap32 band;
        band.SetSize(w, 12);
        Fill(band, rng);
        TBitmap32 background;
        background.Assign(&band);
        // Rows of the frame and the source are the same: one to one.
        const TRect frame{0, 0, w, 12};
        const TRect clip{clipLeft, 0, w - (clipLeft != 0 ? 1 : 0), 12};
        StretchTransfer(&band, frame, clip, &src, c.srcRect, c.filter, mode, nullptr);
        const TMappingTable cols =
            BuildMappingTable(0, w, clip.Left, clip.Right, c.srcRect.Left, c.srcRect.Right, c.filter);
        const TMappingTable rows = BuildMappingTable(0, 12, 0, 12, 0, 12, c.filter);
        for (int y = 0; y < 12; ++y) {
          const TCluster& r = rows[static_cast<std::size_t>(y)];
          ASSERT_TRUE(r.size() == 1 && r[0].Pos == y) << "filter " << c.filter << " row " << y;
        }
        for (int y = 0; y < 12; ++y)
          for (int x = clip.Left; x < clip.Right; ++x) {
            TColor32 want = Convolved(src, cols[static_cast<std::size_t>(x - clip.Left)], rows[static_cast<std::size_t>(y)]);
            if (mode == dmBlend) {
              TColor32 under = background.GetPixel(x, y);
              BlendMemEx(want, under, src.MasterAlpha());
              want = under;
            }
            ASSERT_EQ(band.GetPixel(x, y), want) << "width " << w << " filter " << c.filter << " mode " << mode
                                                 << " at " << x << "," << y;
          }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllLevels, StretchWindow, ::testing::ValuesIn(SupportedSimdLevels()),
                         [](const auto& info) { return std::string(SimdLevelName(info.param)); });

}  // namespace
}  // namespace kdl
