// The block average and bilinear interpolator of every SIMD level against
// the reference, bit for bit, and the reference against plain arithmetic.
#include <gtest/gtest.h>

#include <random>
#include <vector>

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

}  // namespace
}  // namespace kdl
