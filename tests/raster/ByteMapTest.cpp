// Byte maps: channels in and out of a bitmap, the events of each step.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "raster/ByteMap.h"

namespace kdl {
namespace {

void Randomise(TBitmap32& b, std::int32_t w, std::int32_t h, std::uint32_t seed) {
  b.SetSize(w, h);
  std::mt19937 rng(seed);
  for (std::int64_t i = 0; i < std::int64_t{w} * h; ++i) b.Bits()[i] = rng();
}

TEST(ByteMap, ChannelRoundTripsLeaveTheOthersAlone) {
  TBitmap32 b;
  Randomise(b, 13, 7, 1);
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
  b.SetPixel(0, 0, 0xFFFFFFFFu);
  b.SetPixel(1, 0, 0xFFFF0000u);
  b.SetPixel(2, 0, 0x00102030u);
  b.SetPixel(3, 0, 0x8000FF00u);
  TByteMap m;
  m.ReadFrom(b, bcIntensity);
  EXPECT_EQ(m.Value(0, 0), 255);
  EXPECT_EQ(m.Value(1, 0), 60);
  EXPECT_EQ(m.Value(2, 0), (0x10 * 61 + 0x20 * 174 + 0x30 * 21) >> 8);
  EXPECT_EQ(m.Value(3, 0), 174 * 255 >> 8);
  m.ReadFrom(b, bcMeanRGB);
  EXPECT_EQ(m.Value(1, 0), 85);
  EXPECT_EQ(m.Value(2, 0), (0x10 + 0x20 + 0x30) / 3);

  // Assign from a bitmap reads intensity; AssignTo writes opaque grey.
  TByteMap a;
  a.Assign(&b);
  TByteMap i;
  i.ReadFrom(b, bcIntensity);
  EXPECT_TRUE(std::equal(a.Bits(), a.Bits() + 4, i.Bits()));
  TBitmap32 grey;
  a.AssignTo(grey);
  ASSERT_EQ(grey.Width(), 4);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(grey.GetPixel(x, 0), 0xFF000000u + a.Value(x, 0) * 0x010101u);

  TByteMap copy;
  copy.Assign(&a);
  EXPECT_EQ(copy.Width(), 4);
  EXPECT_TRUE(std::equal(a.Bits(), a.Bits() + 4, copy.Bits()));
  EXPECT_THROW(copy.Assign(nullptr), EConvertError);
}

TEST(ByteMap, SizesAndEvents) {
  TByteMap m;
  EXPECT_TRUE(m.Empty());
  int changes = 0, resizes = 0;
  m.OnChange = [&](TThreadPersistent*) { ++changes; };
  m.OnResize = [&](TThreadPersistent*) { ++resizes; };
  m.SetSize(3, 2);
  m.Clear(7);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(resizes, 1);
  m.SetValue(2, 1, 9);
  EXPECT_EQ(*m.ValPtr(2, 1), 9);
  // Bytes keep their linear positions across a resize; new ones are 0.
  m.SetSize(4, 2);
  EXPECT_EQ(m.Bits()[5], 9);
  EXPECT_EQ(m.Bits()[6], 0);
  EXPECT_FALSE(m.SetSize(4, 2));
  m.SetSize(-1, 5);
  EXPECT_TRUE(m.Empty());

  // ReadFrom: one change at the end.
  TBitmap32 b;
  b.SetSize(5, 5);
  changes = 0;
  m.ReadFrom(b, bcRed);
  EXPECT_EQ(changes, 1);

  // WriteTo into a bitmap of another size: one change, the resize twice;
  // the new pixels are 0 apart from the channel written.
  int bChanges = 0, bResizes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++bChanges; };
  b.OnResize = [&](TThreadPersistent*) { ++bResizes; };
  TByteMap small;
  small.SetSize(2, 3);
  small.Clear(0x55);
  small.WriteTo(b, bcAlpha);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(bChanges, 1);
  EXPECT_EQ(bResizes, 2);
  EXPECT_EQ(b.GetPixel(1, 2), 0x55000000u);
  bChanges = bResizes = 0;
  small.WriteTo(b, bcAlpha);
  EXPECT_EQ(bChanges, 1);
  EXPECT_EQ(bResizes, 0);

  // An empty map empties the bitmap and writes nothing.
  TByteMap none;
  none.WriteTo(b, bcRed);
  EXPECT_TRUE(b.Empty());
  EXPECT_THROW(none.SetSize(1 << 30, 1 << 30), Exception);
}

}  // namespace
}  // namespace kdl
