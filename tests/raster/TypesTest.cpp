#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "raster/LowLevel.h"
#include "raster/Types.h"

namespace kdl {
namespace {

TEST(Color32, SwapsGuiColourAndResolvesSystemColours) {
  EXPECT_EQ(Color32(TColor{0x000000FF}), 0xFFFF0000u);
  EXPECT_EQ(Color32(TColor{0x00123456}), 0xFF563412u);
  // A negative value names a system colour by its low byte: the window
  // colour (5) is white, the button face (15) the classic grey.
  EXPECT_EQ(Color32(clSystemColor | 5), 0xFFFFFFFFu);
  EXPECT_EQ(Color32(clSystemColor | 15), 0xFFD4D0C8u);
  EXPECT_EQ(GetSysColor(15), 0xC8D0D4);
  EXPECT_EQ(GetSysColor(-1), 0);
  EXPECT_EQ(GetSysColor(200), 0);
  for (TColor c : {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x123456})
    EXPECT_EQ(WinColor(Color32(c)), c);
}

TEST(Color32, ComponentsGreyIntensityAndAlpha) {
  const TColor32 c = Color32(0x12, 0x34, 0x56, 0x78);
  EXPECT_EQ(c, 0x78123456u);
  EXPECT_EQ(AlphaComponent(c), 0x78);
  EXPECT_EQ(RedComponent(c), 0x12);
  EXPECT_EQ(GreenComponent(c), 0x34);
  EXPECT_EQ(BlueComponent(c), 0x56);
  EXPECT_EQ(Gray32(0x80, 0x40), 0x40808080u);
  // The weights sum to 256, so grey keeps its level and white stays 255.
  for (int i = 0; i < 256; ++i) EXPECT_EQ(Intensity(Gray32(static_cast<std::uint8_t>(i))), i);
  EXPECT_EQ(Intensity(0xFFFF0000u), (255 * 61) >> 8);
  EXPECT_EQ(SetAlpha(0x80123456u, -5), 0x00123456u);
  EXPECT_EQ(SetAlpha(0x00123456u, 300), 0xFF123456u);
  EXPECT_EQ(SetAlpha(0xFF123456u, 0x42), 0x42123456u);
}

TEST(FixedPoint, RoundingRules) {
  EXPECT_EQ(FixedRound(0x8000), 0);  // an exact half rounds down
  EXPECT_EQ(FixedRound(0x8001), 1);
  EXPECT_EQ(FixedRound(-0x8000), -1);
  EXPECT_EQ(FixedRound(-0x8001), -1);
  // Near the top of the range the bias must not overflow.
  EXPECT_EQ(FixedRound(std::numeric_limits<TFixed>::max()), 0x8000);
  EXPECT_EQ(Fixed(0.5f / 65536.0f), 0);  // ties to even
  EXPECT_EQ(Fixed(1.5f / 65536.0f), 2);
  EXPECT_EQ(Fixed(1.0f), FixedOne);
  EXPECT_EQ(Fixed(-2.25f), -0x24000);
  EXPECT_EQ(Fixed(1e20f), std::numeric_limits<TFixed>::max());
  EXPECT_EQ(FixedFloor(-1), -1);
  EXPECT_FLOAT_EQ(FixedToFloat(0x18000), 1.5f);
  EXPECT_EQ(FixedPoint(0.5f, -1.0f), (TFixedPoint{0x8000, -0x10000}));
  EXPECT_EQ(RoundPoint(FloatPoint(2.5f, -3.5f)), (TPoint{2, -4}));
  EXPECT_TRUE(EqualRect(FixedRect(Rect(1, -2, 3, 4)), Rect(0x10000, -0x20000, 0x30000, 0x40000)));
}

TEST(Rectangles, MakeRectRoundings) {
  const TFloatRect f = FloatRect(0.5f, 1.5f, 2.4f, 2.6f);
  EXPECT_TRUE(EqualRect(MakeRect(f, rrClosest), Rect(0, 2, 2, 3)));
  EXPECT_TRUE(EqualRect(MakeRect(f, rrOutside), Rect(0, 1, 3, 3)));
  EXPECT_TRUE(EqualRect(MakeRect(f, rrCeiling), Rect(1, 2, 3, 3)));
  // Ceiling never leaves a negative size.
  EXPECT_TRUE(EqualRect(MakeRect(FloatRect(3.2f, 5.1f, 1.0f, 2.0f), rrCeiling), Rect(4, 6, 4, 6)));
}

TEST(Rectangles, IntersectionAndTests) {
  TRect d;
  EXPECT_TRUE(IntersectRect(d, Rect(0, 0, 10, 10), Rect(10, 0, 20, 10)));
  EXPECT_EQ(d.Left, 10);
  EXPECT_EQ(d.Right, 10);
  d = Rect(1, 2, 3, 4);
  EXPECT_FALSE(IntersectRect(d, Rect(0, 0, 10, 10), Rect(11, 0, 20, 10)));
  EXPECT_TRUE(EqualRect(d, TRect{}));
  // The destination may be an operand.
  TRect a = Rect(0, 0, 10, 10);
  EXPECT_TRUE(IntersectRect(a, a, Rect(5, -5, 15, 5)));
  EXPECT_TRUE(EqualRect(a, Rect(5, 0, 10, 5)));

  TFloatRect fd;
  EXPECT_FALSE(IntersectRectF(fd, FloatRect(0, 0, 1, 1), FloatRect(2, 2, 3, 3)));
  EXPECT_EQ(fd.Right, 0.0f);
  EXPECT_TRUE(IntersectRectF(fd, FloatRect(0, 0, 2, 2), FloatRect(1, 1, 3, 3)));
  EXPECT_EQ(fd.Left, 1.0f);
  EXPECT_EQ(fd.Bottom, 2.0f);

  TRect r = Rect(0, 0, 4, 4);
  InflateRect(r, 1, 2);
  EXPECT_TRUE(EqualRect(r, Rect(-1, -2, 5, 6)));
  OffsetRect(r, 10, 20);
  EXPECT_TRUE(EqualRect(r, Rect(9, 18, 15, 26)));
  TFloatRect fr = FloatRect(0, 0, 1, 1);
  InflateRectF(fr, 0.5f, 0.25f);
  OffsetRectF(fr, 1, 1);
  EXPECT_EQ(fr.Left, 0.5f);
  EXPECT_EQ(fr.Bottom, 2.25f);

  EXPECT_TRUE(IsRectEmpty(Rect(0, 0, 0, 5)));
  EXPECT_FALSE(IsRectEmpty(Rect(0, 0, 1, 1)));
  EXPECT_TRUE(IsRectEmptyF(FloatRect(0, 0, 1, -1)));
  // Half-open: the right and bottom edges lie outside.
  EXPECT_TRUE(PtInRect(Rect(0, 0, 2, 2), Point(1, 1)));
  EXPECT_FALSE(PtInRect(Rect(0, 0, 2, 2), Point(2, 1)));
  EXPECT_FALSE(PtInRect(Rect(0, 0, 2, 2), Point(1, 2)));
}

TEST(LowLevel, FillAndMoveLongwords) {
  std::vector<std::uint32_t> v(10, 7);
  FillLongword(v.data() + 2, 5, 0xDEADBEEF);
  EXPECT_EQ(v, (std::vector<std::uint32_t>{7, 7, 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF,
                                           0xDEADBEEF, 7, 7, 7}));
  FillLongword(v.data(), 0, 1);
  FillLongword(v.data(), -3, 1);
  EXPECT_EQ(v[0], 7u);

  std::vector<std::uint32_t> w{0, 1, 2, 3, 4, 5, 6, 7};
  MoveLongword(w.data(), w.data() + 2, 5);  // overlapping, forwards
  EXPECT_EQ(w, (std::vector<std::uint32_t>{0, 1, 0, 1, 2, 3, 4, 7}));
  MoveLongword(w.data() + 3, w.data(), 4);  // overlapping, backwards
  EXPECT_EQ(w, (std::vector<std::uint32_t>{1, 2, 3, 4, 2, 3, 4, 7}));
  MoveLongword(w.data(), w.data(), 8);
  MoveLongword(w.data(), w.data() + 1, 0);
  EXPECT_EQ(w[1], 2u);
}

TEST(LowLevel, ClipSwapConstrainShift) {
  std::int32_t a = 15, b = 3;
  EXPECT_TRUE(TestClip(a, b, 5, 10));
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 9);
  a = 12;
  b = 20;
  EXPECT_FALSE(TestClip(a, b, 5, 10));
  a = 0;
  b = 0;
  EXPECT_FALSE(TestClip(a, b, 0, std::numeric_limits<std::int32_t>::min()));

  int x = 4, y = 2;
  TestSwap(x, y);
  EXPECT_EQ(x, 2);
  Swap(x, y);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(Constrain(-4, 0, 10), 0);
  EXPECT_EQ(Constrain(14, 0, 10), 10);
  EXPECT_EQ(Constrain(4, 0, 10), 4);
  EXPECT_EQ(SAR_8(-256), -1);
  EXPECT_EQ(SAR_8(-257), -2);
  EXPECT_EQ(SAR_16(-1), -1);
  EXPECT_EQ(SAR_12(0x7000), 7);
}

TEST(LowLevel, MulDivRoundsHalvesAwayFromZeroAndReportsOverflow) {
  EXPECT_EQ(MulDiv(7, 3, 2), 11);
  EXPECT_EQ(MulDiv(-7, 3, 2), -11);
  EXPECT_EQ(MulDiv(7, -3, -2), 11);
  EXPECT_EQ(MulDiv(5, 1, 2), 3);
  EXPECT_EQ(MulDiv(4, 1, 3), 1);
  EXPECT_EQ(MulDiv(0x40000000, 4, 1), -1);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), 1, 1),
            std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), -1, 1), -1);
  EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), 1, 2), -0x40000000);
  EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::max(), 3, 3),
            std::numeric_limits<std::int32_t>::max());

  // Against exact rational arithmetic for random operands that fit.
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::int32_t> any(-100000, 100000);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t a = any(rng), b = any(rng), c = any(rng);
    if (c == 0) continue;
    const std::int64_t p = std::int64_t{a} * b;
    const std::int64_t q = std::llabs(p) / std::llabs(c);
    const std::int64_t r = std::llabs(p) % std::llabs(c);
    std::int64_t expect = (2 * r >= std::llabs(c)) ? q + 1 : q;
    if ((p < 0) != (c < 0) && p != 0) expect = -expect;
    if (expect > std::numeric_limits<std::int32_t>::max() || expect < -0x7FFFFFFF) continue;
    if (p == 0 && (a ^ b ^ c) < 0) expect = 0;
    ASSERT_EQ(MulDiv(a, b, c), expect) << a << "*" << b << "/" << c;
  }
}

}  // namespace
}  // namespace kdl
