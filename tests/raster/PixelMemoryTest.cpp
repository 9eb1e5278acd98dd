// Large pixel blocks: the block given back last serves the next request of
// about its size, and a bitmap made on a served block shows none of what
// the block held before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "raster/Bitmap32.h"
#include "raster/PixelMemory.h"
#include "raster/UninitializedSize.h"

namespace kdl {
namespace {

constexpr std::size_t kLargeCount = kLargePixelBlockBytes / sizeof(std::uint32_t);

class PixelMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { DropKeptPixels(); }
  void TearDown() override { DropKeptPixels(); }
};

TEST_F(PixelMemoryTest, KeptBlockServesRequestsOfAboutItsSizeOnly) {
  // A small block is never kept.
  FreePixels(AllocatePixels(1000), 1000);
  EXPECT_EQ(KeptPixelBytes(), 0u);

  std::uint32_t* first = AllocatePixels(kLargeCount * 2);
  ASSERT_NE(first, nullptr);
  first[kLargeCount * 2 - 1] = 7;  // the whole block is ours
  FreePixels(first, kLargeCount * 2);
  EXPECT_GE(KeptPixelBytes(), kLargePixelBlockBytes * 2);

  // A small request leaves the kept block alone.
  std::uint32_t* small = AllocatePixels(64);
  EXPECT_GT(KeptPixelBytes(), 0u);
  FreePixels(small, 64);

  // Slightly smaller: served by the kept block.
  std::uint32_t* again = AllocatePixels(kLargeCount * 2 - 5000);
  EXPECT_EQ(again, first);
  EXPECT_EQ(KeptPixelBytes(), 0u);
  FreePixels(again, kLargeCount * 2 - 5000);

  // Half the size: the kept block goes before a new block is made, so
  // the two are never held at once.
  std::uint32_t* half = AllocatePixels(kLargeCount);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(KeptPixelBytes(), 0u);
  // Larger than the kept block: likewise.
  FreePixels(half, kLargeCount);
  std::uint32_t* larger = AllocatePixels(kLargeCount * 3);
  ASSERT_NE(larger, nullptr);
  EXPECT_EQ(KeptPixelBytes(), 0u);
  larger[kLargeCount * 3 - 1] = 1;
  FreePixels(larger, kLargeCount * 3);

  // Absurd counts are refused, not wrapped.
  EXPECT_EQ(AllocatePixels(SIZE_MAX / 2), nullptr);
  EXPECT_EQ(AllocatePixels(0), nullptr);
}

TEST_F(PixelMemoryTest, BitmapOnAKeptBlockStartsClear) {
  const int side = 2048;  // 16 MB: a large block
  {
    TBitmap32 old;
    old.SetSize(side, side);
    old.Clear(0xFF123456u);
  }
  ASSERT_GT(KeptPixelBytes(), 0u) << "the freed pixels are kept";
  TBitmap32 fresh;
  fresh.SetSize(side, side - 1);
  EXPECT_EQ(KeptPixelBytes(), 0u) << "and serve the next bitmap";
  const TColor32* p = fresh.Bits();
  const std::int64_t n = std::int64_t{side} * (side - 1);
  EXPECT_TRUE(std::all_of(p, p + n, [](TColor32 c) { return c == 0; })) << "SetSize clears what it reuses";

  // The uninitialised size is for decoders that write every pixel; it
  // works on a kept block all the same.
  fresh.Clear(0xFF00FF00u);
  fresh.SetSize(0, 0);
  TBitmap32 decoded;
  SetSizeUninitialized(decoded, side, side);
  ASSERT_FALSE(decoded.Empty());
  decoded.Clear(0xFFFFFFFFu);
  EXPECT_EQ(decoded.GetPixel(side - 1, side - 1), 0xFFFFFFFFu);
}

bool AllZero(const TBitmap32& b) {
  const TColor32* p = b.Bits();
  return std::all_of(p, p + std::int64_t{b.Width()} * b.Height(), [](TColor32 c) { return c == 0; });
}

// Zeroed storage reads as zero without being cleared; a bitmap given back
// with what it wrote cleared serves the next one, and one given back any
// other way never shows its pixels again.
TEST_F(PixelMemoryTest, ZeroedBitmapsReadZeroWhateverCameBefore) {
  // Small and mapped sizes, and the same size again (which must not keep
  // the old pixels as SetSize would).
  const std::int32_t sizes[][2] = {{40, 30}, {700, 500}, {700, 500}, {1500, 900}, {900, 700}, {2364, 711}};
  TBitmap32 keep;
  for (int round = 0; round < 3; ++round)
    for (const auto& size : sizes) {
      TBitmap32 b;
      ASSERT_TRUE(SetSizeZeroed(b, size[0], size[1]));
      ASSERT_TRUE(AllZero(b)) << size[0] << " x " << size[1] << ", round " << round;
      // Written in a corner and given back cleared there.
      const TRect written{size[0] / 3, size[1] / 4, size[0] / 2, size[1] / 2};
      b.FillRectS(written.Left, written.Top, written.Right, written.Bottom, 0xFF102030u);
      if (round == 0) {
        ReleaseZeroed(b, written);
      } else if (round == 1) {
        // Written all over: the storage cannot come back zero cheaply.
        b.Clear(0x80FFFFFFu);
        ReleaseZeroed(b, b.BoundsRect());
      } else {
        // Emptied without a word: the pixels go with the storage.
        b.SetSize(0, 0);
      }
      EXPECT_TRUE(b.Empty());
    }
  // Resized in place, a zeroed bitmap is zero again even at its own size.
  ASSERT_TRUE(SetSizeZeroed(keep, 1000, 400));
  keep.Clear(0xFFFFFFFFu);
  SetSizeZeroed(keep, 1000, 400);
  EXPECT_TRUE(AllZero(keep));
  SetSizeZeroed(keep, 0, 0);
  EXPECT_TRUE(keep.Empty());
}

TEST_F(PixelMemoryTest, ZeroedBlocksGivenBackZeroServeAgain) {
  const std::size_t count = 300000;  // mapped: over 1 MB
  std::uint32_t* a = AllocateZeroedPixels(count);
  ASSERT_NE(a, nullptr);
  a[count - 1] = 5;
  a[count - 1] = 0;
  FreeZeroedPixels(a, count, true);
  // A request of a nearby size has the same block, zero throughout.
  std::uint32_t* b = AllocateZeroedPixels(count - 1000);
  EXPECT_EQ(b, a);
  EXPECT_TRUE(std::all_of(b, b + count - 1000, [](std::uint32_t v) { return v == 0; }));
  // Given back dirty, it is not kept.
  b[10] = 9;
  FreeZeroedPixels(b, count - 1000, false);
  std::uint32_t* c = AllocateZeroedPixels(count);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(std::all_of(c, c + count, [](std::uint32_t v) { return v == 0; }));
  FreeZeroedPixels(c, count, true);
  // A block given back that was never given out is left alone.
  std::uint32_t stranger[1] = {3};
  FreeZeroedPixels(stranger, count, true);
  EXPECT_EQ(stranger[0], 3u);
  EXPECT_EQ(AllocateZeroedPixels(0), nullptr);
  EXPECT_EQ(AllocateZeroedPixels(SIZE_MAX / 2), nullptr);
}

}  // namespace
}  // namespace kdl
