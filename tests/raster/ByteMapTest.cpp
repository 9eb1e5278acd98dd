// Byte maps: channels in and out of a bitmap, the events of each step.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "raster/ByteMap.h"
#include "support/RasterTesting.h"

namespace kdl {
namespace {

TEST(ByteMap, ChannelRoundTripsLeaveTheOthersAlone) {
  TBitmap32 b;
  test::FillRandom(b, 13, 7, 1);
  const std::vector<TColor32> before(b.Bits(), b.Bits() + 13 * 7);
  const TByteMapChannel channels[] = {bcBlue, bcGreen, bcRed, bcAlpha};
  for (int k = 0; k < 4; ++k) {
    TByteMap m;
    m.ReadFrom(b, channels[k]);
    ASSERT_EQ(m.Width(), 13);
    ASSERT_EQ(m.Height(), 7);
    for (int i = 0; i < 13 * 7; ++i) ASSERT_EQ(m.Bits()[i], (before[i] >> (8 * k)) & 0xFF);
    // Edit the map, write it back: only that byte of each pixel changes.
    for (int i = 0; i < 13 * 7; ++i) m.Bits()[i] = static_cast<std::uint8_t>(255 - m.Bits()[i]);
    m.WriteTo(b, channels[k]);
    const TColor32 mask = TColor32{0xFF} << (8 * k);
    for (int i = 0; i < 13 * 7; ++i) {
      ASSERT_EQ(b.Bits()[i] & ~mask, before[i] & ~mask);
      ASSERT_EQ(b.Bits()[i] & mask, ~before[i] & mask);
    }
    // And back.
    for (int i = 0; i < 13 * 7; ++i) m.Bits()[i] = static_cast<std::uint8_t>(255 - m.Bits()[i]);
    m.WriteTo(b, channels[k]);
  }
  EXPECT_TRUE(std::equal(before.begin(), before.end(), b.Bits()));
}

TEST(ByteMap, GreyConversions) {
  TBitmap32 b;
  b.SetSize(4, 1);
  const TColor32 px[] = {0xFFFFFFFFu, 0xFFFF0000u, 0x00102030u, 0x8000FF00u};
  for (int x = 0; x < 4; ++x) b.SetPixel(x, 0, px[x]);
  TByteMap m;
  m.ReadFrom(b, bcIntensity);
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(m.Value(x, 0), (RedComponent(px[x]) * 61 + GreenComponent(px[x]) * 174 + BlueComponent(px[x]) * 21) >> 8);
  m.ReadFrom(b, bcMeanRGB);
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(m.Value(x, 0), (RedComponent(px[x]) + GreenComponent(px[x]) + BlueComponent(px[x])) / 3);

  // Assign from a bitmap reads intensity; AssignTo writes opaque grey.
  TByteMap a;
  a.Assign(&b);
  m.ReadFrom(b, bcIntensity);
  EXPECT_TRUE(std::equal(a.Bits(), a.Bits() + 4, m.Bits()));
  TBitmap32 grey;
  a.AssignTo(grey);
  ASSERT_EQ(grey.Width(), 4);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(grey.GetPixel(x, 0), 0xFF000000u + a.Value(x, 0) * 0x010101u);
  EXPECT_THROW(a.Assign(nullptr), EConvertError);
}

TEST(ByteMap, SizesAndWritesIntoOtherSizes) {
  TByteMap m;
  m.SetSize(3, 2);
  m.SetValue(2, 1, 9);
  // Bytes keep their linear positions across a resize; new ones are 0.
  m.SetSize(4, 2);
  EXPECT_EQ(m.Bits()[5], 9);
  EXPECT_EQ(m.Bits()[6], 0);

  // WriteTo a bitmap of another size: the new pixels are 0 apart from the
  // channel written.
  TBitmap32 b;
  b.SetSize(5, 5);
  TByteMap small;
  small.SetSize(2, 3);
  small.Clear(0x55);
  small.WriteTo(b, bcAlpha);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.GetPixel(1, 2), 0x55000000u);
  // An empty map empties the bitmap.
  TByteMap none;
  none.WriteTo(b, bcRed);
  EXPECT_TRUE(b.Empty());
  EXPECT_THROW(none.SetSize(1 << 30, 1 << 30), Exception);
}

}  // namespace
}  // namespace kdl
