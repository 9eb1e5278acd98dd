// The reference kernels against exact mathematics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "raster/Blend.h"

namespace kdl {
namespace {

class BlendReference : public ::testing::Test {
 protected:
  void SetUp() override { SetupBlendFunctions(TSimdLevel::slReference); }
  void TearDown() override { SetupBlendFunctions(); }
};

int Channel(TColor32 c, int i) { return static_cast<int>((c >> (8 * i)) & 0xFF); }

// Four different channel values from one byte, so that channels are checked
// for independence as well.
TColor32 Spread(int v) {
  return static_cast<TColor32>(v) | static_cast<TColor32>(255 - v) << 8 |
         static_cast<TColor32>(v ^ 0x5A) << 16 | static_cast<TColor32>((v * 7) & 0xFF) << 24;
}

TEST_F(BlendReference, CombineWithinRoundingOfExactWeightedMean) {
  // Each term is rounded on its own with a divisor of 256 for 255: the
  // result lies in (-2, +1) of (X*W + Y*(255 - W)) / 255.
  for (int w = 0; w < 256; ++w) {
    for (int x = 0; x < 256; ++x) {
      for (int y = 0; y < 256; ++y) {
        const TColor32 cx = Spread(x), cy = Spread(y);
        const TColor32 z = CombineReg(cx, cy, static_cast<TColor32>(w));
        for (int ch = 0; ch < 4; ++ch) {
          const double exact =
              (Channel(cx, ch) * w + Channel(cy, ch) * (255.0 - w)) / 255.0;
          const double e = Channel(z, ch) - exact;
          if (w == 0 || w == 255) {
            ASSERT_EQ(e, 0.0) << "the end weights must be exact";
          } else {
            ASSERT_GT(e, -2.0) << x << " " << y << " " << w;
            ASSERT_LT(e, 1.0) << x << " " << y << " " << w;
          }
        }
      }
    }
  }
}

TEST_F(BlendReference, AlphaShortcuts) {
  TColor32 b = 0x12345678;
  CombineMem(0xFFFFFFFF, b, 0);
  EXPECT_EQ(b, 0x12345678u) << "weight 0 leaves memory untouched";
  EXPECT_EQ(BlendReg(0xFF123456, 0x80ABCDEF), 0xFF123456u);
  EXPECT_EQ(BlendReg(0x00123456, 0x80ABCDEF), 0x80ABCDEFu);
  BlendMem(0x00FFFFFF, b);
  EXPECT_EQ(b, 0x12345678u);
  BlendMem(0xFFFFFFFF, b);
  EXPECT_EQ(b, 0xFFFFFFFFu);
  // Between the shortcuts Blend is Combine by the foreground's alpha.
  for (int fa = 1; fa < 255; ++fa)
    for (int v = 0; v < 256; v += 3) {
      const TColor32 f = (Spread(v) & 0x00FFFFFF) | static_cast<TColor32>(fa) << 24;
      ASSERT_EQ(BlendReg(f, Spread(255 - v)), CombineReg(f, Spread(255 - v), static_cast<TColor32>(fa)));
    }
}

TEST_F(BlendReference, BlendWithMasterAlpha) {
  for (TColor32 f : {0x80FF0000u, 0xFFFFFFFFu, 0x01FFFFFFu})
    EXPECT_EQ(BlendRegEx(f, 0x7F123456, 0), 0x7F123456u) << "master alpha 0 keeps B";
  EXPECT_EQ(BlendRegEx(0x00FFFFFF, 0x7F123456, 255), 0x7F123456u);
  // No shortcut at full weight: white over black at M = 255 comes out 254.
  EXPECT_EQ(BlendRegEx(0xFFFFFFFF, 0xFF000000, 255), 0xFEFEFEFEu);
  // W = ((M + 1) * Fa) >> 8 and then the two-term formula.
  for (int m = 0; m < 256; m += 5)
    for (int fa = 0; fa < 256; fa += 3) {
      const TColor32 f = 0x00C08040u | static_cast<TColor32>(fa) << 24;
      const TColor32 b = 0x20406080u;
      const int w = ((m + 1) * fa) >> 8;
      TColor32 expect = b;
      if (fa != 0 && w != 0) {
        expect = 0;
        for (int ch = 0; ch < 4; ++ch)
          expect |= static_cast<TColor32>(((Channel(f, ch) * w + 128) >> 8) +
                                          ((Channel(b, ch) * (255 - w) + 128) >> 8))
                    << (8 * ch);
      }
      ASSERT_EQ(BlendRegEx(f, b, static_cast<TColor32>(m)), expect) << m << " " << fa;
      TColor32 mem = b;
      BlendMemEx(f, mem, static_cast<TColor32>(m));
      ASSERT_EQ(mem, expect);
    }
}

// Ideal compositing of straight colours: the alpha Fa + Ba*(1 - Fa), the
// colour the alpha-weighted mean. The colour error is measured scaled by
// the result's alpha (its premultiplied form): at tiny alphas the colour
// is nearly invisible and the integer formula is coarse there.
TEST_F(BlendReference, MergeWithinBoundOfIdealCompositing) {
  const std::vector<int> levels = [] {
    std::vector<int> v;
    for (int i = 0; i < 256; i += 15) v.push_back(i);
    return v;
  }();
  double worstOpaque = 0;
  for (int fa = 0; fa < 256; ++fa) {
    for (int ba = 0; ba < 256; ++ba) {
      const double raIdeal = fa + ba * (255.0 - fa) / 255.0;
      for (int fc : levels) {
        for (int bc : levels) {
          const TColor32 f = static_cast<TColor32>(fa) << 24 | static_cast<TColor32>(fc) * 0x010101u;
          const TColor32 b =
              static_cast<TColor32>(ba) << 24 | static_cast<TColor32>(bc) * 0x010101u;
          const TColor32 z = MergeReg(f, b);
          // The shortcuts, in their order.
          if (fa == 255) {
            ASSERT_EQ(z, f);
            continue;
          }
          if (fa == 0) {
            ASSERT_EQ(z, b);
            continue;
          }
          if (ba == 0) {
            ASSERT_EQ(z, f);
            continue;
          }
          ASSERT_LE(std::abs(AlphaComponent(z) - raIdeal), 1.0) << fa << " " << ba;
          const double ideal = (fa * fc + ba * bc * (255.0 - fa) / 255.0) / raIdeal;
          const double err = std::abs(BlueComponent(z) - ideal);
          ASSERT_LE(err * raIdeal / 255.0, 4.5) << fa << " " << ba << " " << fc << " " << bc;
          ASSERT_EQ(RedComponent(z), BlueComponent(z));
          ASSERT_EQ(GreenComponent(z), BlueComponent(z));
          if (ba == 255) worstOpaque = std::max(worstOpaque, err);
        }
      }
    }
  }
  // Over an opaque background the result is opaque and close to Blend.
  EXPECT_LE(worstOpaque, 3.0);
  EXPECT_EQ(AlphaComponent(MergeReg(0x40FF8000, 0xFF0000FF)), 255);
}

TEST_F(BlendReference, MergeMasterAlphaAndCombMerge) {
  const TColor32 f = 0xFF336699, b = 0x80102030;
  EXPECT_EQ(MergeRegEx(f, b, 255), f);
  EXPECT_EQ(MergeRegEx(f, b, 0), b);
  EXPECT_EQ(MergeRegEx(0x00336699, b, 200), b);
  // Over a clear background the result is F's colour at the scaled alpha.
  EXPECT_EQ(MergeRegEx(0x80336699, 0x00FFFFFF, 128), 0x40336699u);
  // Otherwise Merge with the scaled alpha.
  EXPECT_EQ(MergeRegEx(0xC0336699, b, 100), MergeReg(0x4B336699, b));
  EXPECT_EQ(MergeRegEx(0xFF336699, b, 100), MergeReg(0x64336699, b));
  EXPECT_EQ(CombMergeReg(0x12336699, b, 0x70), MergeReg(0x70336699, b));
  TColor32 mem = b;
  CombMergeMem(0x12336699, mem, 0x70);
  EXPECT_EQ(mem, MergeReg(0x70336699, b));
  mem = b;
  MergeMemEx(0xC0336699, mem, 100);
  EXPECT_EQ(mem, MergeReg(0x4B336699, b));
  mem = b;
  MergeMem(0x00FFFFFF, mem);
  EXPECT_EQ(mem, b);
}

TEST_F(BlendReference, LineKernelsApplyThePixelKernels) {
  std::vector<TColor32> src, dst;
  for (int i = 0; i < 50; ++i) {
    src.push_back(Spread(i * 5) ^ 0x0F0F0F0Fu);
    dst.push_back(Spread(255 - i * 3));
  }
  for (int mode = 0; mode < 2; ++mode) {
    std::vector<TColor32> line = dst, lineEx = dst;
    BLEND_LINE[mode](src.data(), line.data(), static_cast<std::int32_t>(src.size()));
    BLEND_LINE_EX[mode](src.data(), lineEx.data(), static_cast<std::int32_t>(src.size()), 77);
    for (std::size_t i = 0; i < src.size(); ++i) {
      ASSERT_EQ(line[i], BLEND_REG[mode](src[i], dst[i]));
      ASSERT_EQ(lineEx[i], BLEND_REG_EX[mode](src[i], dst[i], 77));
      TColor32 m = dst[i];
      BLEND_MEM[mode](src[i], m);
      ASSERT_EQ(m, line[i]);
      m = dst[i];
      BLEND_MEM_EX[mode](src[i], m, 77);
      ASSERT_EQ(m, lineEx[i]);
      m = dst[i];
      COMBINE_MEM[mode](src[i], m, 99);
      ASSERT_EQ(m, COMBINE_REG[mode](src[i], dst[i], 99));
    }
    // A count of 0 or below touches nothing.
    std::vector<TColor32> untouched = dst;
    BLEND_LINE[mode](src.data(), untouched.data(), 0);
    BLEND_LINE[mode](src.data(), untouched.data(), -4);
    BLEND_LINE_EX[mode](src.data(), untouched.data(), -1, 255);
    EXPECT_EQ(untouched, dst);
  }
  EXPECT_EQ(BLEND_REG[cmBlend], BlendReg);
  EXPECT_EQ(BLEND_REG[cmMerge], MergeReg);
  EXPECT_EQ(COMBINE_REG[cmMerge], CombMergeReg);
}

TEST(ColorOperators, PerChannelAgainstDefinitions) {
  for (int x = 0; x < 256; ++x) {
    for (int y = 0; y < 256; ++y) {
      const TColor32 cx = Spread(x), cy = Spread(y);
      const TColor32 add = ColorAdd(cx, cy), sub = ColorSub(cx, cy), div = ColorDiv(cx, cy),
                     mod = ColorModulate(cx, cy), mx = ColorMax(cx, cy), mn = ColorMin(cx, cy),
                     dif = ColorDifference(cx, cy), exc = ColorExclusion(cx, cy);
      for (int ch = 0; ch < 4; ++ch) {
        const int a = Channel(cx, ch), b = Channel(cy, ch);
        ASSERT_EQ(Channel(add, ch), std::min(a + b, 255));
        ASSERT_EQ(Channel(sub, ch), std::max(a - b, 0));
        ASSERT_EQ(Channel(div, ch), a == 0 ? 255 : std::min(b * 256 / a, 255));
        ASSERT_EQ(Channel(mod, ch), a * b / 256);
        ASSERT_EQ(Channel(mx, ch), std::max(a, b));
        ASSERT_EQ(Channel(mn, ch), std::min(a, b));
        ASSERT_EQ(Channel(dif, ch), std::abs(a - b));
        // Never leaves the byte range, so no clamping hides in it.
        ASSERT_EQ(Channel(exc, ch), a + b - a * b / 128);
      }
    }
  }
  EXPECT_EQ(ColorDiv(0, 0x12345678), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace kdl
