// Every SIMD level against the reference kernels, byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "raster/Blend.h"

namespace kdl {
namespace {

struct TKernels {
  TCombineReg combineReg, combMergeReg;
  TCombineMem combineMem, combMergeMem;
  TBlendReg blendReg, mergeReg;
  TBlendMem blendMem, mergeMem;
  TBlendRegEx blendRegEx, mergeRegEx;
  TBlendMemEx blendMemEx, mergeMemEx;
  TBlendLine line[2];
  TBlendLineEx lineEx[2];
};

TKernels KernelsOf(TSimdLevel level) {
  SetupBlendFunctions(level);
  // The tables must follow the pointers at every level.
  EXPECT_EQ(BLEND_LINE[cmBlend], BlendLine);
  EXPECT_EQ(BLEND_LINE[cmMerge], MergeLine);
  EXPECT_EQ(BLEND_LINE_EX[cmBlend], BlendLineEx);
  EXPECT_EQ(BLEND_LINE_EX[cmMerge], MergeLineEx);
  EXPECT_EQ(BLEND_MEM_EX[cmMerge], MergeMemEx);
  EXPECT_EQ(COMBINE_MEM[cmBlend], CombineMem);
  return TKernels{CombineReg, CombMergeReg, CombineMem, CombMergeMem, BlendReg,
                  MergeReg,   BlendMem,     MergeMem,   BlendRegEx, MergeRegEx,
                  BlendMemEx, MergeMemEx,   {BlendLine, MergeLine}, {BlendLineEx, MergeLineEx}};
}

constexpr std::uint32_t kAlphaClasses[] = {0, 1, 127, 128, 254, 255};
constexpr TColor32 kMasters[] = {0, 1, 127, 128, 254, 255, 300};
const char* const kModeNames[] = {"blend", "merge"};

class BlendLevels : public ::testing::Test {
 protected:
  void SetUp() override { ref_ = KernelsOf(TSimdLevel::slReference); }
  void TearDown() override { SetupBlendFunctions(); }

  // Random colours whose alphas come from the classes; in runs of four and
  // eight pixels of one class as well, so that whole SIMD steps take the
  // opaque and clear fast paths.
  static std::vector<TColor32> Pixels(std::mt19937& rng, std::size_t n, bool runs) {
    std::vector<TColor32> v(n);
    std::uniform_int_distribution<std::uint32_t> rgb(0, 0xFFFFFF), cls(0, 5);
    std::uint32_t alpha = kAlphaClasses[cls(rng)];
    for (std::size_t i = 0; i < n; ++i) {
      if (!runs || i % 8 == 0) alpha = kAlphaClasses[cls(rng)];
      v[i] = rgb(rng) | alpha << 24;
    }
    return v;
  }

  TKernels ref_{};
};

TEST_F(BlendLevels, LineKernelsAtEveryLengthAndAlignment) {
  std::mt19937 rng(2102);
  constexpr std::size_t kSlack = 12;
  for (TSimdLevel level : SupportedSimdLevels()) {
    const TKernels k = KernelsOf(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int runs = 0; runs < 2; ++runs) {
      for (std::int32_t count = 0; count <= 67; ++count) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
          const auto src = Pixels(rng, count + kSlack, runs != 0);
          const auto dst = Pixels(rng, count + kSlack, runs != 0);
          for (int mode = 0; mode < 2; ++mode) {
            SCOPED_TRACE(std::string(kModeNames[mode]) + " count " + std::to_string(count) +
                         " offset " + std::to_string(offset));
            auto want = dst, got = dst;
            ref_.line[mode](src.data() + offset, want.data() + (7 - offset) / 2, count);
            k.line[mode](src.data() + offset, got.data() + (7 - offset) / 2, count);
            ASSERT_EQ(got, want);
            for (TColor32 m : kMasters) {
              want = dst;
              got = dst;
              ref_.lineEx[mode](src.data() + offset, want.data() + offset, count, m);
              k.lineEx[mode](src.data() + offset, got.data() + offset, count, m);
              ASSERT_EQ(got, want) << "master alpha " << m;
            }
          }
        }
      }
    }
  }
}

TEST_F(BlendLevels, LineKernelsOverEveryAlphaPair) {
  // One line holding every (Fa, Ba) pair with random colours.
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::uint32_t> rgb(0, 0xFFFFFF);
  std::vector<TColor32> src(65536 + 3), dst(65536 + 3);
  for (std::uint32_t fa = 0; fa < 256; ++fa)
    for (std::uint32_t ba = 0; ba < 256; ++ba) {
      src[fa * 256 + ba + 1] = rgb(rng) | fa << 24;
      dst[fa * 256 + ba + 3] = rgb(rng) | ba << 24;
    }
  for (TSimdLevel level : SupportedSimdLevels()) {
    const TKernels k = KernelsOf(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int mode = 0; mode < 2; ++mode) {
      auto want = dst, got = dst;
      ref_.line[mode](src.data() + 1, want.data() + 3, 65536);
      k.line[mode](src.data() + 1, got.data() + 3, 65536);
      ASSERT_EQ(got, want) << kModeNames[mode];
      for (TColor32 m = 0; m < 256; m += 17) {
        want = dst;
        got = dst;
        ref_.lineEx[mode](src.data() + 1, want.data() + 3, 65536, m);
        k.lineEx[mode](src.data() + 1, got.data() + 3, 65536, m);
        ASSERT_EQ(got, want) << kModeNames[mode] << " master alpha " << m;
      }
    }
  }
}

TEST_F(BlendLevels, PixelKernels) {
  std::mt19937 rng(99);
  const auto fs = Pixels(rng, 4000, false);
  const auto bs = Pixels(rng, 4000, false);
  for (TSimdLevel level : SupportedSimdLevels()) {
    const TKernels k = KernelsOf(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (std::size_t i = 0; i < fs.size(); ++i) {
      const TColor32 f = fs[i], b = bs[i];
      const TColor32 w = kMasters[i % 7];
      ASSERT_EQ(k.blendReg(f, b), ref_.blendReg(f, b));
      ASSERT_EQ(k.mergeReg(f, b), ref_.mergeReg(f, b));
      ASSERT_EQ(k.combineReg(f, b, w), ref_.combineReg(f, b, w));
      ASSERT_EQ(k.combMergeReg(f, b, w), ref_.combMergeReg(f, b, w));
      ASSERT_EQ(k.blendRegEx(f, b, w), ref_.blendRegEx(f, b, w));
      ASSERT_EQ(k.mergeRegEx(f, b, w), ref_.mergeRegEx(f, b, w));
      // The memory forms, from the same background.
      const auto same = [&](auto mine, auto theirs, auto... weight) {
        TColor32 x = b, y = b;
        mine(f, x, weight...);
        theirs(f, y, weight...);
        return x == y;
      };
      ASSERT_TRUE(same(k.blendMem, ref_.blendMem)) << i;
      ASSERT_TRUE(same(k.mergeMem, ref_.mergeMem)) << i;
      ASSERT_TRUE(same(k.combineMem, ref_.combineMem, w)) << i;
      ASSERT_TRUE(same(k.combMergeMem, ref_.combMergeMem, w)) << i;
      ASSERT_TRUE(same(k.blendMemEx, ref_.blendMemEx, w)) << i;
      ASSERT_TRUE(same(k.mergeMemEx, ref_.mergeMemEx, w)) << i;
    }
  }
}

TEST(BlendSetup, ForcedLevelIsClampedAndChosenAgain) {
  const TSimdLevel before = ActiveSimdLevel();
  EXPECT_EQ(ForceSimdLevel(TSimdLevel::slReference), TSimdLevel::slReference);
  SetupBlendFunctions();
  const TBlendLine referenceLine = BlendLine;
  EXPECT_LE(ForceSimdLevel(TSimdLevel::slAVX2), DetectedSimdLevel());
  SetupBlendFunctions();
  if (DetectedSimdLevel() >= TSimdLevel::slSSE2) {
    EXPECT_NE(BlendLine, referenceLine);
  }
  ForceSimdLevel(before);
  SetupBlendFunctions();
}

}  // namespace
}  // namespace kdl
