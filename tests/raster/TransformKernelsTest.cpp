// The block average and bilinear interpolator of every SIMD level against
// the reference, bit for bit, and the reference against plain arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Transforms.h"

namespace kdl {
namespace {

constexpr std::uint32_t kAlphaClasses[] = {0, 1, 127, 128, 254, 255};

class TransformLevels : public ::testing::TestWithParam<TSimdLevel> {
 protected:
  void TearDown() override { SetupTransformFunctions(); }
};

std::vector<TColor32> Pixels(std::mt19937& rng, std::size_t n) {
  std::vector<TColor32> v(n);
  std::uniform_int_distribution<std::uint32_t> rgb(0, 0xFFFFFF), cls(0, 5), any(0, 255);
  for (auto& c : v) {
    const std::uint32_t r = rng() % 3;
    // Channels at the extremes as well as anywhere.
    c = r == 0 ? (kAlphaClasses[cls(rng)] * 0x01010101u) : (rgb(rng) | kAlphaClasses[cls(rng)] << 24);
    if (r == 2) c = rgb(rng) | any(rng) << 24;
  }
  return v;
}

TEST_P(TransformLevels, BlockAverageMatchesReference) {
  SetupTransformFunctions(GetParam());
  std::mt19937 rng(11);
  const int stridePixels = 70;
  auto src = Pixels(rng, static_cast<std::size_t>(stridePixels) * 70 + 1);
  for (std::uint32_t h = 0; h <= 9; ++h)
    for (std::uint32_t w = 0; w <= 67; ++w)
      for (int offset : {0, 1, 3}) {  // unaligned starts
        const TColor32* p = src.data() + offset;
        ASSERT_EQ(BlockAverage(w, h, p, stridePixels * 4),
                  BlockAverageReference(w, h, p, stridePixels * 4))
            << w << "x" << h << " offset " << offset;
      }
  // Saturated blocks: the reciprocal truncates, 255 may come out as 254.
  std::vector<TColor32> white(64 * 64, 0xFFFFFFFFu);
  EXPECT_EQ(BlockAverage(3, 3, white.data(), 64 * 4), 0xFEFEFEFEu);
  EXPECT_EQ(BlockAverage(4, 4, white.data(), 64 * 4), 0xFFFFFFFFu);
}

TEST_P(TransformLevels, LinearInterpolatorMatchesReference) {
  SetupTransformFunctions(GetParam());
  std::mt19937 rng(12);
  const auto px = Pixels(rng, 4096);
  for (std::uint32_t a = 0; a <= 256; ++a) {
    for (int i = 0; i < 40; ++i) {
      const std::size_t k = rng() % 4000;
      const std::uint32_t b = rng() % 257;
      const TColor32 p1[2] = {px[k], px[k + 1]}, p2[2] = {px[k + 2], px[k + 3]};
      const std::uint32_t wx = a << 16 | a, wy = b << 16 | b;
      ASSERT_EQ(LinearInterpolator(wx, wy, p1, p2), LinearInterpolatorReference(wx, wy, p1, p2))
          << a << " " << b;
    }
  }
}

// Runs of reads across a small source and past every edge, with steps of
// every sign and size, and run lengths that leave SIMD tails.
TEST_P(TransformLevels, BilinearRunMatchesReference) {
  SetupTransformFunctions(GetParam());
  std::mt19937 rng(14);
  for (const auto& [w, h] : {std::pair{9, 7}, {2, 2}, {1, 5}, {40, 3}}) {
    const auto px = Pixels(rng, static_cast<std::size_t>(w) * h);
    for (int run = 0; run < 200; ++run) {
      const std::int32_t count = static_cast<std::int32_t>(rng() % 37);
      std::vector<std::int32_t> xs(static_cast<std::size_t>(count)), ys(xs.size());
      const std::int32_t span = 256 * (w + 4), spanY = 256 * (h + 4);
      for (std::size_t i = 0; i < xs.size(); ++i) {
        xs[i] = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(span)) - 512;
        ys[i] = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(spanY)) - 512;
      }
      const std::int32_t bx = static_cast<std::int32_t>(rng() % 512) - 256;
      const std::int32_t by = static_cast<std::int32_t>(rng() % 512) - 256;
      std::vector<TColor32> got(xs.size()), want(xs.size());
      BilinearRun(px.data(), w, h, 0xA5C3E1F0u, bx, by, xs.data(), ys.data(), count, got.data());
      BilinearRunReference(px.data(), w, h, 0xA5C3E1F0u, bx, by, xs.data(), ys.data(), count,
                           want.data());
      ASSERT_EQ(got, want) << w << "x" << h << " run " << run;
    }
  }
}

// The row kernels of the resampler at every level: whole stretches, every
// filter, widths that leave SIMD tails, all four draw paths' row forms.
TEST_P(TransformLevels, StretchesMatchReference) {
  std::mt19937 rng(13);
  TBitmap32 src;
  src.SetSize(37, 23);
  for (int i = 0; i < 37 * 23; ++i) src.Bits()[i] = static_cast<TColor32>(rng());
  for (int f = 0; f <= sfMitchell; ++f)
    for (const auto& [dw, dh] : {std::pair{81, 50}, {13, 9}, {38, 7}, {5, 61}}) {
      const auto filter = static_cast<TStretchFilter>(f);
      const TRect clip{1, 2, dw - 2, dh - 1};
      TBitmap32 want, got;
      want.SetSize(dw, dh);
      got.SetSize(dw, dh);
      SetupTransformFunctions(TSimdLevel::slReference);
      StretchTransfer(&want, want.BoundsRect(), clip, &src, src.BoundsRect(), filter, dmOpaque, nullptr);
      SetupTransformFunctions(GetParam());
      StretchTransfer(&got, got.BoundsRect(), clip, &src, src.BoundsRect(), filter, dmOpaque, nullptr);
      ASSERT_TRUE(got.Equal(want)) << "filter " << f << " " << dw << "x" << dh;
    }
}

INSTANTIATE_TEST_SUITE_P(AllLevels, TransformLevels, ::testing::ValuesIn(SupportedSimdLevels()),
                         [](const auto& info) { return std::string(SimdLevelName(info.param)); });

TEST(TransformKernels, ReferenceArithmetic) {
  // Bilinear: the exact weighted mean, rounded once.
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) {
    const TColor32 p1[2] = {static_cast<TColor32>(rng()), static_cast<TColor32>(rng())};
    const TColor32 p2[2] = {static_cast<TColor32>(rng()), static_cast<TColor32>(rng())};
    const std::uint32_t ax = rng() % 257, ay = rng() % 257;
    const TColor32 got = LinearInterpolatorReference(ax << 16, ay << 16, p1, p2);
    for (int k = 0; k < 32; k += 8) {
      auto c = [k](TColor32 v) { return static_cast<double>((v >> k) & 0xFF); };
      const double want = (c(p1[0]) * ax * ay + c(p1[1]) * (256 - ax) * ay +
                           c(p2[0]) * ax * (256 - ay) + c(p2[1]) * (256 - ax) * (256 - ay)) / 65536;
      EXPECT_NEAR(static_cast<double>((got >> k) & 0xFF), want, 0.5 + 1e-9);
    }
  }
  const TColor32 same[2] = {0x80FF017Fu, 0x80FF017Fu};
  for (std::uint32_t w = 0; w <= 256; ++w)
    EXPECT_EQ(LinearInterpolatorReference(w << 16, (256 - w) << 16, same, same), 0x80FF017Fu);

  // Block average: per channel sum x (2^24 div area) shr 24.
  std::vector<TColor32> block(5 * 3);
  for (auto& c : block) c = static_cast<TColor32>(rng());
  std::uint64_t sums[4] = {};
  for (const TColor32 c : block)
    for (int k = 0; k < 4; ++k) sums[k] += (c >> (8 * k)) & 0xFF;
  const TColor32 avg = BlockAverageReference(5, 3, block.data(), 5 * 4);
  for (int k = 0; k < 4; ++k)
    EXPECT_EQ((avg >> (8 * k)) & 0xFF, (sums[k] * (0x1000000 / 15)) >> 24);
}

// The bilinear enlargement computes a row at a time; each pixel must be
// what LinearInterpolator gives for the positions and weights the
// definition names.
TEST(TransformKernels, LinearEnlargementIsTheInterpolator) {
  std::mt19937 rng(17);
  TBitmap32 src, dst;
  src.SetSize(9, 6);
  for (int i = 0; i < 54; ++i) src.Bits()[i] = static_cast<TColor32>(rng());
  dst.SetSize(31, 20);
  const TRect sr{1, 1, 8, 6};
  StretchTransfer(&dst, dst.BoundsRect(), dst.BoundsRect(), &src, sr, sfLinear, dmOpaque, nullptr);
  auto axis = [](int i, int dstN, int lo, int hi, int& index, std::uint32_t& w) {
    double pos = static_cast<double>(hi - lo) / dstN * (i + 0.5) + lo - 0.5;
    // Only pixels of the source rectangle contribute.
    pos = std::min(std::max(pos, static_cast<double>(lo)), hi - 1.0);
    index = static_cast<int>(std::floor(pos));
    w = 256 - static_cast<std::uint32_t>(std::nearbyint((pos - index) * 256));
  };
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 31; ++x) {
      int ix, iy;
      std::uint32_t wx, wy;
      axis(x, 31, sr.Left, sr.Right, ix, wx);
      axis(y, 20, sr.Top, sr.Bottom, iy, wy);
      // Trailing positions that would read past the rectangle take its
      // last pixel whole.
      if (ix + 1 >= sr.Right) { ix = sr.Right - 2; wx = 0; }
      if (iy + 1 >= sr.Bottom) { iy = sr.Bottom - 2; wy = 0; }
      const TColor32* p = src.PixelPtr(ix, iy);
      ASSERT_EQ(dst.GetPixel(x, y), LinearInterpolatorReference(wx << 16 | wx, wy << 16 | wy, p, p + 9))
          << x << "," << y;
    }
}

}  // namespace
}  // namespace kdl
