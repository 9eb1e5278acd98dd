// Colours, fixed point, rectangles and the low-level routines at their
// edges, and MulDiv against exact rational arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "raster/LowLevel.h"
#include "raster/Types.h"

namespace kdl {
namespace {

TEST(Color32, SystemColoursGreyAndAlpha) {
  for (TColor c : {0x000000, 0x0000FF, 0x123456}) EXPECT_EQ(WinColor(Color32(c)), c);
  // A negative value names a system colour by its low byte.
  EXPECT_EQ(Color32(clSystemColor | 15), 0xFFD4D0C8u);
  EXPECT_EQ(GetSysColor(200), 0);
  // The weights sum to 256, so grey keeps its level and white stays 255.
  for (int i = 0; i < 256; ++i) EXPECT_EQ(Intensity(Gray32(static_cast<std::uint8_t>(i))), i);
  EXPECT_EQ(SetAlpha(0x80123456u, -5), 0x00123456u);
  EXPECT_EQ(SetAlpha(0x00123456u, 300), 0xFF123456u);
}

TEST(FixedPoint, RoundingRules) {
  EXPECT_EQ(FixedRound(0x8000), 0);  // an exact half rounds down
  EXPECT_EQ(FixedRound(0x8001), 1);
  EXPECT_EQ(FixedRound(-0x8000), -1);
  // Near the top of the range the bias must not overflow.
  EXPECT_EQ(FixedRound(std::numeric_limits<TFixed>::max()), 0x8000);
  EXPECT_EQ(Fixed(0.5f / 65536.0f), 0);  // ties to even
  EXPECT_EQ(Fixed(1.5f / 65536.0f), 2);
  EXPECT_EQ(Fixed(-2.25f), -0x24000);
  EXPECT_EQ(Fixed(1e20f), std::numeric_limits<TFixed>::max());
  EXPECT_EQ(FixedFloor(-1), -1);
  EXPECT_EQ(RoundPoint(FloatPoint(2.5f, -3.5f)), (TPoint{2, -4}));
}

TEST(Rectangles, RoundingsIntersectionsAndHalfOpenEdges) {
  const TFloatRect f = FloatRect(0.5f, 1.5f, 2.4f, 2.6f);
  EXPECT_TRUE(EqualRect(MakeRect(f, rrOutside), Rect(0, 1, 3, 3)));
  // Ceiling never leaves a negative size.
  EXPECT_TRUE(EqualRect(MakeRect(FloatRect(3.2f, 5.1f, 1.0f, 2.0f), rrCeiling), Rect(4, 6, 4, 6)));
  TRect d = Rect(1, 2, 3, 4);
  EXPECT_TRUE(IntersectRect(d, Rect(0, 0, 10, 10), Rect(10, 0, 20, 10))) << "touching edges";
  // The destination may be an operand.
  TRect a = Rect(0, 0, 10, 10);
  EXPECT_TRUE(IntersectRect(a, a, Rect(5, -5, 15, 5)));
  EXPECT_TRUE(EqualRect(a, Rect(5, 0, 10, 5)));
  EXPECT_FALSE(PtInRect(Rect(0, 0, 2, 2), Point(2, 1)));
}

TEST(LowLevel, LongwordsAndClipping) {
  std::vector<std::uint32_t> v(6, 7);
  FillLongword(v.data() + 2, 3, 9);
  FillLongword(v.data(), -3, 1);
  EXPECT_EQ(v, (std::vector<std::uint32_t>{7, 7, 9, 9, 9, 7}));
  std::vector<std::uint32_t> w{0, 1, 2, 3, 4, 5, 6, 7};
  MoveLongword(w.data(), w.data() + 2, 5);  // overlapping, forwards
  EXPECT_EQ(w, (std::vector<std::uint32_t>{0, 1, 0, 1, 2, 3, 4, 7}));
  MoveLongword(w.data() + 3, w.data(), 4);  // overlapping, backwards
  EXPECT_EQ(w, (std::vector<std::uint32_t>{1, 2, 3, 4, 2, 3, 4, 7}));

  std::int32_t a = 15, b = 3;
  EXPECT_TRUE(TestClip(a, b, 5, 10));
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 9);
  a = 12;
  b = 20;
  EXPECT_FALSE(TestClip(a, b, 5, 10));
  a = b = 0;
  EXPECT_FALSE(TestClip(a, b, 0, std::numeric_limits<std::int32_t>::min()));
  EXPECT_EQ(SAR_8(-257), -2);
}

TEST(LowLevel, MulDivRoundsHalvesAwayFromZeroAndReportsOverflow) {
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(MulDiv(0x40000000, 4, 1), -1);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(kMin, 1, 1), kMin);
  EXPECT_EQ(MulDiv(kMin, -1, 1), -1);
  EXPECT_EQ(MulDiv(kMin, 1, 2), -0x40000000);
  EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::max(), 3, 3), std::numeric_limits<std::int32_t>::max());

  // Against exact rational arithmetic for random operands that fit.
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::int32_t> any(-100000, 100000);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t a = any(rng), b = any(rng), c = i < 100 ? 2 : any(rng);  // halves first
    if (c == 0) continue;
    const std::int64_t p = std::int64_t{a} * b;
    const std::int64_t q = std::llabs(p) / std::llabs(c);
    const std::int64_t r = std::llabs(p) % std::llabs(c);
    std::int64_t expect = (2 * r >= std::llabs(c)) ? q + 1 : q;
    if ((p < 0) != (c < 0) && p != 0) expect = -expect;
    if (expect > std::numeric_limits<std::int32_t>::max() || expect < -0x7FFFFFFF) continue;
    ASSERT_EQ(MulDiv(a, b, c), expect) << a << "*" << b << "/" << c;
  }
}

}  // namespace
}  // namespace kdl
