// Stretching against exact mathematics: constant images stay constant, each
// kernel filter stays close to a double-precision separable convolution,
// and clipping never changes a pixel's value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Transforms.h"

namespace kdl {
namespace {

constexpr TStretchFilter kAllFilters[] = {sfNearest, sfDraft,   sfLinear,  sfCosine,
                                          sfSpline,  sfLanczos, sfMitchell};

// The kernels written again in double precision from their definitions.
double Kernel(TStretchFilter f, double x) {
  const double t = std::fabs(x);
  const double pi = std::numbers::pi;
  auto sinc = [pi](double v) { return v == 0 ? 1.0 : std::sin(pi * v) / (pi * v); };
  switch (f) {
    case sfNearest: return (x > -0.5 && x <= 0.5) ? 1 : 0;
    case sfDraft:
    case sfLinear: return t < 1 ? 1 - t : 0;
    case sfCosine: return t < 1 ? (std::cos(pi * x) + 1) / 2 : 0;
    case sfSpline:
      return t < 1 ? t * t * t / 2 - t * t + 2.0 / 3 : t < 2 ? (2 - t) * (2 - t) * (2 - t) / 6 : 0;
    case sfLanczos: return t < 3 ? sinc(t) * sinc(t / 3) : 0;
    case sfMitchell:
      return t < 1   ? (7 * t * t * t - 12 * t * t + 16.0 / 3) / 6
             : t < 2 ? (-7.0 / 3 * t * t * t + 12 * t * t - 20 * t + 32.0 / 3) / 6
                     : 0;
  }
  return 0;
}

double Radius(TStretchFilter f) { return f == sfLanczos ? 3 : (f == sfSpline || f == sfMitchell) ? 2 : 1; }

// Normalised weights of one output position: the kernel centred on the
// output's centre mapped back into the source, stretched by 1/scale when
// reducing, with positions outside the source taking the edge pixel.
std::vector<std::pair<int, double>> Weights(TStretchFilter f, int srcN, int dstN, int i) {
  const double scale = static_cast<double>(dstN) / srcN;
  const double center = (i + 0.5) / scale - 0.5;
  const double s = std::min(scale, 1.0);
  const double reach = Radius(f) / s;
  std::vector<std::pair<int, double>> w;
  double sum = 0;
  for (int j = static_cast<int>(std::floor(center - reach)); j <= std::ceil(center + reach); ++j) {
    const double v = s * Kernel(f, (center - j) * s);
    if (v == 0) continue;
    w.emplace_back(std::clamp(j, 0, srcN - 1), v);
    sum += v;
  }
  for (auto& p : w) p.second /= sum;
  return w;
}

std::vector<double> Convolve(TStretchFilter f, const std::vector<double>& src, int sw, int sh,
                             int dw, int dh) {
  std::vector<double> mid(static_cast<std::size_t>(sw) * dh), out(static_cast<std::size_t>(dw) * dh);
  for (int y = 0; y < dh; ++y)
    for (const auto& [j, w] : Weights(f, sh, dh, y))
      for (int x = 0; x < sw; ++x) mid[y * sw + x] += w * src[j * sw + x];
  for (int x = 0; x < dw; ++x)
    for (const auto& [j, w] : Weights(f, sw, dw, x))
      for (int y = 0; y < dh; ++y) out[y * dw + x] += w * mid[y * sw + j];
  return out;
}

// A smooth picture with some structure in every channel.
void Paint(TBitmap32& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const auto ch = [&](double phase, double period) {
        return static_cast<std::uint32_t>(
            std::lround(127.5 + 120 * std::sin(x / period + phase) * std::cos(y / (period * 0.8) - phase)));
      };
      b.SetPixel(x, y, ch(0, 5) | ch(1, 7) << 8 | ch(2, 9) << 16 | ch(3, 11) << 24);
    }
}

TEST(StretchTransfer, ConstantImageStaysConstant) {
  const TColor32 colours[] = {0xFFFFFFFFu, 0x00000000u, 0x80FF4010u, 0xFF123456u};
  const std::pair<int, int> sizes[] = {{23, 17}, {60, 45}, {9, 31}, {1, 5}, {7, 1}};
  for (const TColor32 colour : colours)
    for (const auto& [sw, sh] : sizes)
      for (const TStretchFilter f : kAllFilters)
        for (const double scale : {0.37, 0.5, 1.7, 3.0}) {
          TBitmap32 src, dst;
          src.SetSize(sw, sh);
          src.Clear(colour);
          src.SetStretchFilter(f);
          const int dw = std::max(1, static_cast<int>(sw * scale));
          const int dh = std::max(1, static_cast<int>(sh * scale));
          dst.SetSize(dw + 4, dh + 4);
          dst.Clear(0x01020304);
          const TRect r{2, 2, dw + 2, dh + 2};
          src.DrawTo(dst, r);
          // Draft averages blocks with a truncated reciprocal: a channel of
          // 255 may come out as 254.
          const int slack = f == sfDraft ? 1 : 0;
          for (int y = 0; y < dst.Height(); ++y)
            for (int x = 0; x < dst.Width(); ++x) {
              const TColor32 got = dst.GetPixel(x, y);
              const bool inside = x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
              const TColor32 want = inside ? colour : 0x01020304u;
              for (int k = 0; k < 32; k += 8) {
                const int g = (got >> k) & 0xFF, w = (want >> k) & 0xFF;
                ASSERT_LE(std::abs(g - w), inside ? slack : 0)
                    << "filter " << int(f) << " size " << sw << "x" << sh << " scale " << scale
                    << " at " << x << "," << y;
              }
            }
        }
}

TEST(StretchTransfer, KernelFiltersFollowExactConvolution) {
  const int sw = 41, sh = 29;
  TBitmap32 src;
  src.SetSize(sw, sh);
  Paint(src);
  for (const TStretchFilter f : {sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell})
    for (const double scale : {0.37, 0.6, 1.0 / 3, 2.0, 2.6}) {
      const int dw = static_cast<int>(std::lround(sw * scale));
      const int dh = static_cast<int>(std::lround(sh * scale));
      TBitmap32 dst;
      dst.SetSize(dw, dh);
      src.SetStretchFilter(f);
      src.DrawTo(dst, dst.BoundsRect());
      const int tolerance = (f == sfLanczos || f == sfMitchell) ? 3 : 2;
      int worst = 0;
      for (int k = 0; k < 4; ++k) {
        std::vector<double> plane(static_cast<std::size_t>(sw) * sh);
        for (int i = 0; i < sw * sh; ++i) plane[i] = (src.Bits()[i] >> (8 * k)) & 0xFF;
        const auto want = Convolve(f, plane, sw, sh, dw, dh);
        for (int i = 0; i < dw * dh; ++i) {
          const double w = std::clamp(want[i], 0.0, 255.0);
          const int got = (dst.Bits()[i] >> (8 * k)) & 0xFF;
          worst = std::max(worst, static_cast<int>(std::ceil(std::fabs(got - w) - 1e-9)));
        }
      }
      EXPECT_LE(worst, tolerance) << "filter " << int(f) << " scale " << scale;
    }
}

// Clipping selects pixels; it never changes their values. Wide kernels
// enlarging into a clip in the middle of the target also exercise the row
// buffer's extent (run under the sanitizers).
TEST(StretchTransfer, ClippedStretchEqualsPartOfTheFullStretch) {
  TBitmap32 src;
  src.SetSize(7, 9);
  Paint(src);
  for (const TStretchFilter f : kAllFilters)
    for (const auto& [dw, dh] : {std::pair{50, 61}, {5, 4}, {90, 3}}) {
      src.SetStretchFilter(f);
      TBitmap32 full, part;
      full.SetSize(dw, dh);
      part.SetSize(dw, dh);
      src.DrawTo(full, full.BoundsRect());
      const TRect clip{dw / 4, dh / 3, dw - dw / 5, dh - dh / 4};
      StretchTransfer(&part, part.BoundsRect(), clip, &src, src.BoundsRect(), f, dmOpaque, nullptr);
      for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
          const bool inside = x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom;
          ASSERT_EQ(part.GetPixel(x, y), inside ? full.GetPixel(x, y) : 0u)
              << "filter " << int(f) << " " << dw << "x" << dh << " at " << x << "," << y;
        }
    }
}

// Only the source rectangle contributes: a crop never shows a fringe of
// what lies around it, whatever the filter or scale.
TEST(StretchTransfer, NothingOutsideTheSourceRectangleBleedsIn) {
  TBitmap32 src;
  src.SetSize(12, 10);
  src.Clear(0xFFFF0000u);
  const TRect sr{3, 2, 9, 7};
  for (int y = sr.Top; y < sr.Bottom; ++y)
    for (int x = sr.Left; x < sr.Right; ++x) src.SetPixel(x, y, 0xFF0000FFu);
  for (const TStretchFilter f : kAllFilters)
    for (const auto& [dw, dh] : {std::pair{25, 17}, {4, 3}, {13, 4}}) {
      TBitmap32 dst;
      dst.SetSize(dw, dh);
      StretchTransfer(&dst, dst.BoundsRect(), dst.BoundsRect(), &src, sr, f, dmOpaque, nullptr);
      for (int i = 0; i < dw * dh; ++i)
        ASSERT_EQ(dst.Bits()[i] & 0x00FF0000u, 0u) << "filter " << int(f) << " " << dw << "x" << dh;
    }
}

TEST(StretchTransfer, LanczosNeverRingsOutOfRange) {
  // A hard black/white edge rings most; nothing may wrap around.
  TBitmap32 src, dst;
  src.SetSize(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) src.SetPixel(x, y, x < 4 ? 0xFF000000u : 0xFFFFFFFFu);
  src.SetStretchFilter(sfLanczos);
  dst.SetSize(37, 37);
  src.DrawTo(dst, dst.BoundsRect());
  bool sawBlack = false, sawWhite = false;
  for (int x = 0; x < 37; ++x) {
    const TColor32 c = dst.GetPixel(x, 18);
    EXPECT_EQ(c >> 24, 0xFFu);
    const int blue = c & 0xFF;
    if (x < 10) {
      EXPECT_LT(blue, 40) << x;  // never wrapped to bright
    }
    if (x > 27) {
      EXPECT_GT(blue, 215) << x;  // never wrapped to dark
    }
    sawBlack |= blue == 0;
    sawWhite |= blue == 255;
  }
  EXPECT_TRUE(sawBlack && sawWhite) << "overshoot is limited, not scaled away";
}

TEST(StretchTransfer, NearestMapping) {
  TBitmap32 src, dst;
  src.SetSize(3, 3);
  for (int i = 0; i < 9; ++i) src.Bits()[i] = 0xFF000000u | i;
  dst.SetSize(1, 1);
  src.DrawTo(dst, dst.BoundsRect());
  EXPECT_EQ(dst.GetPixel(0, 0), 0xFF000004u) << "the centre pixel (1, 1)";

  // Exact mapping at sizes where single-precision scale products round
  // past the last source column.
  TBitmap32 wide, out;
  wide.SetSize(16777217 / 4096, 2);
  for (int x = 0; x < wide.Width(); ++x) wide.SetPixel(x, 0, static_cast<TColor32>(x));
  for (const int dw : {wide.Width() * 3 - 1, wide.Width() + 1, 999983 % 8000 + 4100}) {
    out.SetSize(dw, 1);
    ASSERT_NO_THROW(StretchTransfer(&out, out.BoundsRect(), out.BoundsRect(), &wide,
                                    {0, 0, wide.Width(), 1}, sfNearest, dmOpaque, nullptr));
    for (int x = 0; x < dw; ++x)
      ASSERT_EQ(out.GetPixel(x, 0),
                static_cast<TColor32>(static_cast<std::int64_t>(x) * wide.Width() / dw));
  }
}

TEST(StretchTransfer, ModesAndRefusals) {
  TBitmap32 src, dst, empty;
  src.SetSize(4, 4);
  src.Clear(0x80FF0000u);
  dst.SetSize(8, 8);
  dst.Clear(0xFF0000FFu);

  // Blend with master alpha 0 leaves the target alone, whatever the filter.
  src.SetDrawMode(dmBlend);
  src.SetMasterAlpha(0);
  for (const TStretchFilter f : kAllFilters) {
    src.SetStretchFilter(f);
    src.DrawTo(dst, dst.BoundsRect());
    EXPECT_EQ(dst.GetPixel(3, 3), 0xFF0000FFu);
  }
  // Custom without a handler copies; with one, the handler gets the source
  // colour and the master alpha.
  src.SetMasterAlpha(200);
  src.SetDrawMode(dmCustom);
  src.SetStretchFilter(sfLinear);
  src.DrawTo(dst, dst.BoundsRect());
  EXPECT_EQ(dst.GetPixel(3, 3), 0x80FF0000u);
  int calls = 0;
  src.OnPixelCombine = [&](TColor32 f, TColor32& b, TColor32 m) {
    ++calls;
    EXPECT_EQ(m, 200u);
    b = f ^ 0xFFu;
  };
  src.DrawTo(dst, {0, 0, 4, 4});  // same size: block transfer
  EXPECT_EQ(calls, 16);
  EXPECT_EQ(dst.GetPixel(1, 1), 0x80FF00FFu);

  EXPECT_THROW(StretchTransfer(&empty, {0, 0, 1, 1}, {0, 0, 1, 1}, &src, {0, 0, 1, 1}, sfNearest,
                               dmOpaque, nullptr),
               ETransformError);
  EXPECT_THROW(StretchTransfer(&dst, {0, 0, 1, 1}, {0, 0, 1, 1}, &src, {0, 0, 5, 1}, sfNearest,
                               dmOpaque, nullptr),
               ETransformError);
  try {
    StretchTransfer(nullptr, {0, 0, 1, 1}, {0, 0, 1, 1}, &src, {0, 0, 1, 1}, sfNearest, dmOpaque, nullptr);
    FAIL();
  } catch (const ETransformError& e) {
    EXPECT_STREQ(e.what(), "Destination bitmap is nil or empty");
  }
  // An empty source, source rectangle or clip is quietly nothing.
  EXPECT_NO_THROW(StretchTransfer(&dst, {0, 0, 1, 1}, {0, 0, 1, 1}, &empty, {0, 0, 1, 1},
                                  sfNearest, dmOpaque, nullptr));
  EXPECT_NO_THROW(StretchTransfer(&dst, {0, 0, 1, 1}, {0, 0, 1, 1}, &src, {2, 2, 2, 3},
                                  sfNearest, dmOpaque, nullptr));
}

TEST(StretchTransfer, OnePixelWideSourceFillsRows) {
  TBitmap32 src, dst;
  src.SetSize(1, 3);
  src.SetPixel(0, 0, 0xFF112233u);
  src.SetPixel(0, 1, 0xFF445566u);
  src.SetPixel(0, 2, 0xFF778899u);
  src.SetStretchFilter(sfLinear);
  dst.SetSize(5, 3);
  src.DrawTo(dst, dst.BoundsRect());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.GetPixel(x, y), src.GetPixel(0, y));
}

}  // namespace
}  // namespace kdl
