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

}  // namespace
}  // namespace kdl
